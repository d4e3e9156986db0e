// The window's schedule sources: the page "节目源", the update of several sources and the automatic
// update. With only the program's own package enabled, an update is the one it always was.
#include "ui/Unit1.h"
#include "ui/Unit1Package.h"

#include "guide/Guide.h"
#include "platform/AsciiCase.h"
#include "platform/Exception.h"
#include "platform/Logging.h"
#include "sources/RefreshPlan.h"
#include "ui/SourcesPage.h"
#include "update/PackageFetch.h"
#include "xmltv/FeedBytes.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

const QString kWaitingLine = QStringLiteral("请稍后正在更新数据.");
const QString kOfflineLine = QStringLiteral("暂无网络请稍候更新.");
const QString kSucceeded = QStringLiteral("成功");
// The automatic update looks at the clock at least this often, so a changed clock or a machine that
// slept is noticed.
constexpr qint64 kLongestAutomaticWaitMs = qint64(10) * 60 * 1000;

void ProcessPendingMessages() {
    QCoreApplication::processEvents();
}

QString SourcesFolder() {
    return DataFolder() + QString::fromUtf16(kSourcesFolderName) + u'/';
}

QString SourceLine(const SourceRunEntry& entry) {
    return entry.source.name + u'：' + entry.result;
}

// Listing files in an archive: its items that are no folders and whose names end in "txt".
qsizetype ListingItems(I7zInArchive& archive) {
    qsizetype count = 0;
    for (uint32_t item = 0; item < archive.ItemCount(); ++item)
        if (!archive.ItemIsFolder(item) && AsciiLowered(archive.ItemPath(item)).endsWith(u"txt"))
            ++count;
    return count;
}

bool LastsBeyond(const Guide& guide, const QDate& today) {
    return std::any_of(guide.channels.begin(), guide.channels.end(), [&](const GuideChannel& channel) {
        return std::any_of(channel.schedule.days.begin(), channel.schedule.days.end(),
                           [&](const ScheduleDay& day) { return day.date > today; });
    });
}

} // namespace

void TForm1::LoadSources() {
    settingsFile_ = std::make_unique<SettingsFile>(Places.SettingsFile);
    sourceSettings_ = std::make_unique<SourceSettings>(*settingsFile_);
    Sources = sourceSettings_.get();
    connect(Sources, &SourceSettings::Changed, this, &TForm1::PlanAutomaticUpdate);
    PlanAutomaticUpdate();
}

TSourcesPage* TForm1::SourcesPage() {
    if (sourcesPage_ != nullptr || Sources == nullptr)
        return sourcesPage_;
    sourcesPage_ = new TSourcesPage(
        *Sources, [this] { return Edit_Url->text(); }, TabSheet_Sources);
    auto* fill = new QVBoxLayout(TabSheet_Sources);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(sourcesPage_);
    sourcesPage_->UpdateNow = [this] { Button_R->click(); };
    PlanAutomaticUpdate();
    return sourcesPage_;
}

bool TForm1::SeveralSources() const {
    return Sources != nullptr && !Sources->OnlyBuiltInEnabled();
}

bool TForm1::UpdateRunning() const {
    // Each timer stays armed while the step it started runs.
    return Timer1->Enabled() || Timer_Load->Enabled();
}

void TForm1::BeginUpdate() {
    severalSources_ = SeveralSources();
    outcome_ = {};
    packageDone_ = false;
    if (Sources != nullptr)
        Sources->RecordStart(Now());
}

QString TForm1::PackageFailureText() const {
    // The offline notice leaves the panel as the update's first line was.
    const QString text = SBPanel0->text();
    return text == kWaitingLine ? kOfflineLine : text;
}

void TForm1::EndUpdate() {
    if (Sources == nullptr)
        return;
    const QDateTime now = Now();
    if (!severalSources_) {
        Sources->RecordResult(QString::fromUtf16(kBuiltInSourceId), now,
                              packageDone_ ? kSucceeded : PackageFailureText());
        outcome_ = {true, packageDone_, !packageDone_};
    } else if (!outcome_.known) {
        // It stopped before any source was fetched: offline, or the probe failed.
        for (const ScheduleSource& source : Sources->EnabledSources())
            Sources->RecordResult(source.id, now, PackageFailureText());
        outcome_ = {true, false, true};
    }
    Sources->RecordEnd(now, outcome_.anySucceeded, outcome_.anyFailed);
    PlanAutomaticUpdate();
    // The listings changed: reminders follow their programmes, followed shows remind of new airings.
    if (outcome_.anySucceeded)
        FollowReminders();
}

void TForm1::DownloadSources() {
    auto run = std::make_unique<SourceRun>();
    for (const ScheduleSource& source : Sources->EnabledSources()) {
        SourceRunEntry entry;
        entry.source = source;
        entry.file = source.BuiltIn() ? DataFolder() + Edit_SaveFile->text() : SourcesFolder() + source.id;
        run->entries.append(entry);
    }
    if (run->entries.isEmpty()) {
        ReportStatus(QStringLiteral("没有启用的节目源，请在“节目源”页中勾选“启用”"));
        outcome_ = {true, false, false};
        return;
    }
    // Another copy of the program writing into the same data folder would mix the downloads; the
    // program's own package shares this hold.
    const DataFolderLock dataFolderLock(DataFolder());
    if (!ProceedUnder(dataFolderLock)) {
        outcome_ = {true, false, true};
        return;
    }
    for (SourceRunEntry& entry : run->entries) {
        if (entry.source.BuiltIn()) {
            // The program's own package keeps its own lines.
            entry.fetched = DownloadPackage();
            entry.failed = !entry.fetched;
            entry.result = entry.fetched ? kSucceeded : SBPanel0->text();
            if (entry.fetched && IsXmltvFile(entry.file)) {
                entry.kind = SourceRunEntry::Kind::Feed;
                try {
                    entry.reading = ReadFeedSource(entry.file, entry.source.id, entry.source.offsetMinutes,
                                                   LoadFeedPlacing(DataFolder()));
                    entry.result = FeedSuccessText(*entry.reading);
                } catch (...) {
                    qCWarning(lcUpdate).noquote()
                        << "the package cannot be read:" << CurrentExceptionMessage();
                    entry.fetched = false;
                    entry.failed = true;
                    entry.result = UpdateFailureLine(UpdateFailure::CannotUnpack);
                    ReportStatus(entry.result);
                }
            } else if (entry.fetched) {
                entry.kind = SourceRunEntry::Kind::Archive;
            }
        } else {
            ReportStatus(QStringLiteral("正在更新节目源：") + entry.source.name);
            FetchSource(entry);
            ReportStatus(SourceLine(entry));
        }
        Sources->RecordResult(entry.source.id, Now(), entry.result);
    }
    if (run->AnyFetched()) {
        sourceRun_ = std::move(run);
        Timer_Load->SetEnabled(true);
        return;
    }
    outcome_ = {true, false, true};
    ReportStatus(SourceRunSummary(*run));
}

void TForm1::FetchSource(SourceRunEntry& entry) {
    MakePrivatePath(SourcesFolder());
    PackageFile file(SourcesFolder(), entry.source.id);
    std::optional<FetchFailure> failure;
    {
        const QScopedValueRollback<bool> quiet(sourceTransfer_, true);
        failure = FetchPackage(IdHTTP1, entry.source.address, file);
    }
    entry.failed = true;
    if (failure) {
        entry.result = UpdateFailureLine(failure->failure, failure->statusCode);
        return;
    }
    // Read whole before it takes the place of what the source gave before.
    try {
        if (IsXmltvFile(file.TemporaryPath())) {
            entry.reading = ReadFeedSource(file.TemporaryPath(), entry.source.id, entry.source.offsetMinutes,
                                           LoadFeedPlacing(DataFolder()));
            entry.kind = SourceRunEntry::Kind::Feed;
        } else if (const PackageCheck check = CheckPackage(file.TemporaryPath());
                   check == PackageCheck::Usable) {
            entry.kind = SourceRunEntry::Kind::Archive;
        } else {
            entry.result =
                UpdateFailureLine(check == PackageCheck::CutShort ? UpdateFailure::IncompletePackage
                                                                  : UpdateFailure::CannotUnpack);
            return;
        }
    } catch (...) {
        qCWarning(lcUpdate).noquote()
            << entry.source.address << "cannot be read:" << CurrentExceptionMessage();
        entry.reading.reset();
        entry.result = UpdateFailureLine(UpdateFailure::CannotUnpack);
        return;
    }
    try {
        file.Replace();
    } catch (...) {
        qCWarning(lcUpdate).noquote() << entry.source.address << "not saved:" << CurrentExceptionMessage();
        entry.reading.reset();
        entry.result = UpdateFailureLine(UpdateFailure::CannotSave);
        return;
    }
    entry.failed = false;
    entry.fetched = true;
    entry.result = entry.reading ? FeedSuccessText(*entry.reading) : kSucceeded;
}

void TForm1::ExtractSources() {
    // Owned here: a nested update that starts at a pump point cannot take it away.
    const std::unique_ptr<SourceRun> run = std::move(sourceRun_);
    try {
        ReportStatus(QStringLiteral("正在释放文件."));
        ProcessPendingMessages();
        const DataFolderLock dataFolderLock(DataFolder());
        if (!ProceedUnder(dataFolderLock)) {
            outcome_ = {true, false, true};
            return;
        }
        // Archives from the lowest to the highest, so the higher one's listing is the one that stays.
        for (auto entry = run->entries.rbegin(); entry != run->entries.rend(); ++entry) {
            if (!entry->fetched || entry->kind != SourceRunEntry::Kind::Archive)
                continue;
            try {
                const I7zInArchivePtr archive = UnpackArchive(entry->file);
                if (!archive->LastExtraction().Whole())
                    throw Exception(QStringLiteral("some items did not unpack whole"));
                entry->result = QStringLiteral("成功：%1个频道").arg(ListingItems(*archive.Get()));
            } catch (...) {
                qCWarning(lcUpdate).noquote()
                    << entry->file << "cannot be unpacked:" << CurrentExceptionMessage();
                entry->failed = true;
                entry->result = UpdateFailureLine(UpdateFailure::CannotUnpack);
                ReportStatus(entry->source.BuiltIn() ? entry->result : SourceLine(*entry));
            }
            Sources->RecordResult(entry->source.id, Now(), entry->result);
        }
        ConvertFeedSources(*run);
        // A moment for the written files to settle before the rescan reads the folder.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ProcessPendingMessages();
        LoadData->click();
        ReportStatus(QStringLiteral("数据更新完成."));
    } catch (...) {
        qCWarning(lcUpdate).noquote() << "extraction stopped:" << CurrentExceptionMessage();
        ReportUpdateFailure(UpdateFailure::CannotUnpack);
    }
    outcome_ = {true, run->AnySucceeded(), run->AnyFailed()};
    ReportStatus(SourceRunSummary(*run));
    ProcessPendingMessages();
}

void TForm1::ConvertFeedSources(SourceRun& run) {
    const bool anyNewFeed =
        std::any_of(run.entries.begin(), run.entries.end(), [](const SourceRunEntry& entry) {
            return entry.fetched && entry.kind == SourceRunEntry::Kind::Feed;
        });
    if (!anyNewFeed)
        return;
    QList<FeedSourceReading> readings;
    for (const SourceRunEntry& entry : run.entries) {
        if (entry.reading) {
            readings.append(*entry.reading);
        } else if (!entry.fetched && IsXmltvFile(entry.file)) {
            // A source that failed now still gives what it gave before, so merged days keep it.
            try {
                readings.append(ReadFeedSource(entry.file, entry.source.id, entry.source.offsetMinutes,
                                               LoadFeedPlacing(DataFolder())));
            } catch (...) {
                qCWarning(lcUpdate).noquote()
                    << entry.file << "cannot be read again:" << CurrentExceptionMessage();
            }
        }
    }
    try {
        WriteMergedFeeds(DataFolder(), readings);
    } catch (...) {
        qCWarning(lcUpdate).noquote()
            << "the listings of the feeds cannot be written:" << CurrentExceptionMessage();
        for (SourceRunEntry& entry : run.entries) {
            if (!entry.reading)
                continue;
            entry.failed = true;
            entry.result = UpdateFailureLine(UpdateFailure::CannotUnpack);
            ReportStatus(entry.source.BuiltIn() ? entry.result : SourceLine(entry));
            Sources->RecordResult(entry.source.id, Now(), entry.result);
        }
    }
}

void TForm1::PlanAutomaticUpdate() {
    if (Sources == nullptr)
        return;
    const AutomaticUpdate& options = Sources->Automatic();
    if (!options.enabled) {
        automaticSince_ = QDateTime();
    } else if (!automaticSince_.isValid()) {
        automaticSince_ = Now();
        ReadWhetherListingsLastBeyondToday();
    }
    const RefreshFacts facts{options, Sources->History(), automaticSince_, listingsLastBeyondToday_,
                             UpdateRunning()};
    const QDateTime next = NextAutomaticUpdate(facts);
    if (sourcesPage_ != nullptr)
        sourcesPage_->ShowNextUpdate(next, options.enabled);
    if (!next.isValid()) {
        AutomaticUpdateTimer->stop();
        return;
    }
    AutomaticUpdateTimer->start(
        std::chrono::milliseconds(std::clamp(Now().msecsTo(next), qint64(0), kLongestAutomaticWaitMs)));
}

void TForm1::AutomaticUpdateTick() {
    const RefreshFacts facts{Sources->Automatic(), Sources->History(), automaticSince_,
                             listingsLastBeyondToday_, UpdateRunning()};
    if (AutomaticUpdateDue(facts, Now()))
        Button_R->click();
    PlanAutomaticUpdate();
}

void TForm1::ReadWhetherListingsLastBeyondToday() {
    // The listings are read on a worker, as the on-air page reads them; until then the plan assumes
    // they do, and it is made again when they are read.
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        listingsLastBeyondToday_ = watcher->result();
        watcher->deleteLater();
        PlanAutomaticUpdate();
    });
    const QDate today = Now().date();
    watcher->setFuture(QtConcurrent::run(
        [folder = DataFolder(), today] { return LastsBeyond(LoadGuide(folder, today), today); }));
}
