#include "ui/OnAirPage.h"

#include "catalogue/ListingTime.h"
#include "platform/Exception.h"
#include "platform/Logging.h"
#include "reminders/FollowedShows.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QShortcut>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int kSearchPauseMs = 150;

// The on-air list's columns: 频道 | 正在播出 | 开始 | 接下来 | 开始.
constexpr int kChannelColumn = 0;
constexpr int kCurrentColumn = 1;
constexpr int kNextColumn = 3;

const char16_t* const kWeekdays[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};

QString TimeText(const Programme& programme) {
    return programme.StartTime().time().toString(QStringLiteral("HH:mm"));
}

// A size limit as the page names it: whole megabytes, else kilobytes.
QString SizeText(qint64 bytes) {
    if (bytes >= qint64(1) << 20)
        return QStringLiteral("%1 MB").arg(bytes >> 20);
    return QStringLiteral("%1 KB").arg((bytes + 1023) >> 10);
}

QString DateText(const QDate& date) {
    return date.toString(QStringLiteral("MM-dd")) + QStringLiteral(" 周") +
           QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]);
}

QTreeView* MakeList(QWidget* parent, const char* name, TPageRowsModel* model) {
    auto* list = new QTreeView(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return list;
}

PageRow NoteRow(const QString& text) {
    return {text, {text}, {}, {}, false, {}, std::nullopt};
}

// The star before a favourite channel's name.
const QString kFavouriteMark = QStringLiteral("★ ");

// What "提醒我" on a row reminds of; its channel's key and the lead are the program's to give.
Reminder ProgrammeOfRow(const GuideChannel& channel, const Programme& programme) {
    return ReminderOf(channel, {}, programme, kDefaultReminderLead);
}

// A note's text runs across the columns. A span is as wide as the columns together, which fit
// their headers alone when the list holds nothing but notes: the last one then fills the list.
void SpanNotes(QTreeView* list, const TPageRowsModel& model) {
    bool notesOnly = true;
    for (int row = 0; row < model.rowCount(); ++row) {
        const bool note = model.Row(row).listingPath.isEmpty();
        list->setFirstColumnSpanned(row, {}, note);
        notesOnly = notesOnly && note;
    }
    list->header()->setStretchLastSection(notesOnly);
}

} // namespace

TOnAirPage::TOnAirPage(QWidget* parent) : QWidget(parent), shown_(std::make_shared<Reading>()) {
    setObjectName(QStringLiteral("OnAirPage"));
    SearchEdit = new QLineEdit(this);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    SearchEdit->setPlaceholderText(QStringLiteral("搜索节目或频道，可用拼音首字母，如 xwlb"));
    SearchEdit->setAccessibleName(QStringLiteral("搜索节目"));
    FavouritesOnly = new QCheckBox(QStringLiteral("只看收藏"), this);
    FavouritesOnly->setObjectName(QStringLiteral("FavouritesOnly"));
    FavouritesOnly->setAccessibleName(FavouritesOnly->text());
    Clock = new QLabel(this);
    Clock->setObjectName(QStringLiteral("OnAirClock"));
    // A screen reader names it, and reads the time as its description.
    Clock->setAccessibleName(QStringLiteral("当前北京时间"));
    Note = new QLabel(this);
    Note->setObjectName(QStringLiteral("OnAirNote"));
    Note->setWordWrap(true);
    Note->hide();
    onAirRows_ =
        new TPageRowsModel({QStringLiteral("频道"), QStringLiteral("正在播出"), QStringLiteral("开始"),
                            QStringLiteral("接下来"), QStringLiteral("开始")},
                           this);
    OnAirList = MakeList(this, "OnAirList", onAirRows_);
    OnAirList->setAccessibleName(QStringLiteral("正在播出"));
    // The list fits the page: the titles share what the channel and the two start times leave and
    // are cut short with "…", so both start times stay in view; a channel takes at most a third.
    QHeaderView* const columns = OnAirList->header();
    columns->setSectionResizeMode(kChannelColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(kCurrentColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(kNextColumn, QHeaderView::Stretch);
    OnAirList->setTextElideMode(Qt::ElideRight);
    onAirRows_->SetWholeTextColumns({kChannelColumn, kCurrentColumn, kNextColumn});
    matchRows_ = new TPageRowsModel(
        {QStringLiteral("日期"), QStringLiteral("时间"), QStringLiteral("频道"), QStringLiteral("节目")},
        this);
    matchRows_->SetPastColour(palette().color(QPalette::Disabled, QPalette::Text));
    MatchList = MakeList(this, "MatchList", matchRows_);
    MatchList->setAccessibleName(QStringLiteral("搜索结果"));
    MatchList->hide();

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(SearchEdit, 1);
    top->addWidget(FavouritesOnly);
    top->addWidget(Clock);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(Note);
    layout->addWidget(OnAirList, 1);
    layout->addWidget(MatchList, 1);

    SearchDelay = new QTimer(this);
    SearchDelay->setObjectName(QStringLiteral("SearchDelay"));
    SearchDelay->setSingleShot(true);
    SearchDelay->setInterval(kSearchPauseMs);
    MinuteTimer = new QTimer(this);
    MinuteTimer->setObjectName(QStringLiteral("MinuteTimer"));
    MinuteTimer->setSingleShot(true);
    MinuteTimer->setTimerType(Qt::PreciseTimer);

    DataFolder = [] { return QString(); };
    Now = [] { return ListingNow(); };
    IsFavourite = [](const QString&) { return false; };
    AddRowKeys(OnAirList);
    AddRowKeys(MatchList);
    connect(FavouritesOnly, &QCheckBox::toggled, this, [this] {
        if (!SearchEdit->text().trimmed().isEmpty())
            ShowCurrentList();
    });

    connect(SearchEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        // Clearing the field goes back to the on-air list at once; typing waits for a pause.
        if (text.trimmed().isEmpty()) {
            SearchDelay->stop();
            ShowCurrentList();
        } else {
            SearchDelay->start();
        }
    });
    connect(SearchDelay, &QTimer::timeout, this, [this] { ShowCurrentList(); });
    connect(MinuteTimer, &QTimer::timeout, this, [this] { MinutePassed(); });
    connect(OnAirList, &QTreeView::activated, this, [this](const QModelIndex& index) { Choose(index); });
    connect(MatchList, &QTreeView::activated, this, [this](const QModelIndex& index) { Choose(index); });
    readingWatcher_ = new QFutureWatcher<SharedReading>(this);
    connect(readingWatcher_, &QFutureWatcherBase::finished, this, [this] { ReadingDone(); });
    searchWatcher_ = new QFutureWatcher<QList<PageRow>>(this);
    connect(searchWatcher_, &QFutureWatcherBase::finished, this, [this] { SearchDone(); });
}

TOnAirPage::~TOnAirPage() {
    // The reading uses the pinyin cache; it ends before the page does, and soon when asked to (the
    // program's end waits for this).
    stopReading_.request_stop();
    readingWatcher_->waitForFinished();
    searchWatcher_->waitForFinished();
}

TOnAirPage::SharedReading TOnAirPage::Read(const QString& dataFolder, const QDate& today,
                                           const GuideLimits& limits, PinyinCache& pinyin,
                                           const std::function<void(const std::stop_token&)>& duringReading,
                                           const std::stop_token& stop) {
    // Made first: after a failure for want of memory, the failed reading needs no more.
    auto failed = std::make_shared<Reading>();
    try {
        auto reading = std::make_shared<Reading>();
        reading->limits = limits;
        reading->guide = std::make_shared<const Guide>(LoadGuide(dataFolder, today, limits, stop));
        if (duringReading)
            duringReading(stop);
        reading->search.emplace(reading->guide, pinyin, stop);
        return reading;
    } catch (...) {
        // An exception left on the worker would come back where the result is taken, in a slot or
        // the destructor, and end the program; the page shows an empty reading instead.
        try {
            failed->failure = CurrentExceptionMessage();
            qCWarning(lcCatalogue).noquote() << "on-air page: reading failed:" << failed->failure;
        } catch (...) {
            failed->failure = QStringLiteral("?");
        }
        return failed;
    }
}

void TOnAirPage::Refresh() {
    if (reading_)
        readAgain_ = true;
    else
        StartReading();
}

void TOnAirPage::StartReading() {
    reading_ = true;
    readAgain_ = false;
    stopReading_ = {};
    readingWatcher_->setFuture(QtConcurrent::run(&TOnAirPage::Read, DataFolder(), ListingTimeOf(Now()).date(),
                                                 Limits, std::ref(pinyin_), DuringReading,
                                                 stopReading_.get_token()));
}

void TOnAirPage::ReadingDone() {
    // The signal of a reading already taken by WaitForRefresh comes late, or not at all.
    if (!reading_ || !readingWatcher_->isFinished())
        return;
    reading_ = false;
    if (readAgain_) {
        // The data folder may have changed since this reading began.
        StartReading();
        return;
    }
    shown_ = readingWatcher_->result();
    ShowNote();
    ShowCurrentList();
}

void TOnAirPage::ShowNote() {
    QStringList lines;
    if (!shown_->failure.isEmpty())
        lines << QStringLiteral("读取节目单时出错：") + shown_->failure;
    const Guide& guide = *shown_->guide;
    if (guide.tooLarge > 0)
        lines << QStringLiteral("%1 个节目单超过 %2，未读入")
                     .arg(guide.tooLarge)
                     .arg(SizeText(shown_->limits.listingBytes));
    if (guide.beyondTotal > 0)
        lines << QStringLiteral("节目单共超过 %1，其后 %2 个未读入")
                     .arg(SizeText(shown_->limits.totalBytes))
                     .arg(guide.beyondTotal);
    Note->setText(lines.join(u'\n'));
    Note->setVisible(!Note->text().isEmpty());
}

void TOnAirPage::WaitForRefresh() {
    while (reading_) {
        readingWatcher_->waitForFinished();
        ReadingDone();
    }
}

void TOnAirPage::MinutePassed() {
    ShowCurrentList();
}

void TOnAirPage::ShowCurrentList() {
    const QDateTime now = Now();
    ShowClock(now);
    if (SearchEdit->text().trimmed().isEmpty())
        ShowOnAir(now);
    else
        ShowMatches();
    if (isVisible())
        ArmMinuteTimer();
}

void TOnAirPage::ShowClock(const QDateTime& now) {
    Clock->setText(QStringLiteral("北京时间 ") + ListingTimeOf(now).toString(u"HH:mm"));
    Clock->setAccessibleDescription(Clock->text());
}

void TOnAirPage::FitChannelColumn() {
    // As wide as the names shown and the column's header, up to a third of the list.
    OnAirList->resizeColumnToContents(kChannelColumn);
    const int widest = OnAirList->viewport()->width() / 3;
    if (OnAirList->header()->sectionSize(kChannelColumn) > widest)
        OnAirList->header()->resizeSection(kChannelColumn, widest);
}

void TOnAirPage::ArmMinuteTimer() {
    // A little past the boundary, so the next minute has surely begun.
    MinuteTimer->start(MillisecondsToNextMinute(Now()) + 50);
}

void TOnAirPage::ShowOnAir(const QDateTime& now) {
    QList<PageRow> rows;
    QList<PageRow> favourites;
    const Guide& guide = *shown_->guide;
    for (const OnAirRow& row : OnAirRows(guide, now)) {
        const GuideChannel& channel = guide.channels[row.channel];
        const bool favourite = Favourite(channel.displayName);
        QStringList cells = {favourite ? kFavouriteMark + channel.displayName : channel.displayName,
                             row.current->title, TimeText(*row.current)};
        std::optional<Reminder> next;
        if (row.next != nullptr) {
            cells << row.next->title << TimeText(*row.next);
            next = ProgrammeOfRow(channel, *row.next);
        }
        (favourite ? favourites : rows)
            .append({channel.listingPath, cells, channel.listingPath, channel.className, false,
                     channel.displayName, std::move(next)});
    }
    // Favourites first, each group in the catalogue's order.
    rows = favourites + rows;
    if (rows.isEmpty())
        rows.append(NoteRow(QStringLiteral("暂无正在播出的节目，请在“节目源”页添加节目单地址并更新")));
    onAirRows_->SetRows(std::move(rows));
    SpanNotes(OnAirList, *onAirRows_);
    FitChannelColumn();
    MatchList->hide();
    OnAirList->show();
}

void TOnAirPage::ShowMatches() {
    // The search and its rows are made on a worker: a short text matches most of a large guide.
    if (searching_)
        searchAgain_ = true;
    else
        StartSearch();
}

QList<PageRow> TOnAirPage::Search(const SharedReading& reading, const QString& text, const QDateTime& now,
                                  const std::optional<QSet<qsizetype>>& only,
                                  const std::function<void()>& duringSearch) {
    try {
        if (duringSearch)
            duringSearch();
        QList<PageRow> rows;
        if (!reading->search)
            return rows;
        SearchResult result;
        if (!only) {
            result = reading->search->Find(text, now, kShownMatches);
        } else {
            for (const SearchMatch& match : reading->search->Find(text, now)) {
                if (!only->contains(match.channel))
                    continue;
                if (result.matches.size() < kShownMatches)
                    result.matches.append(match);
                ++result.total;
            }
        }
        const Guide& guide = reading->search->SearchedGuide();
        rows.reserve(result.matches.size() + 1);
        for (const SearchMatch& match : result.matches) {
            const GuideChannel& channel = guide.channels[match.channel];
            rows.append({channel.listingPath + u'\n' + QString::number(match.programme->line),
                         {DateText(match.programme->StartTime().date()), TimeText(*match.programme),
                          channel.displayName, match.programme->title},
                         channel.listingPath,
                         channel.className,
                         match.past,
                         channel.displayName,
                         match.programme->start > now.toMSecsSinceEpoch()
                             ? std::optional(ProgrammeOfRow(channel, *match.programme))
                             : std::nullopt});
        }
        if (result.total > result.matches.size())
            rows.append(NoteRow(
                QStringLiteral("还有 %1 条结果，请输入更多字").arg(result.total - result.matches.size())));
        return rows;
    } catch (...) {
        // As for the reading: an exception left here would end the program where the result is taken.
        try {
            const QString failure = CurrentExceptionMessage();
            qCWarning(lcCatalogue).noquote() << "on-air page: search failed:" << failure;
            return {NoteRow(QStringLiteral("搜索时出错：") + failure)};
        } catch (...) {
            return {};
        }
    }
}

void TOnAirPage::StartSearch() {
    searching_ = true;
    searchAgain_ = false;
    searchWatcher_->setFuture(QtConcurrent::run(
        &TOnAirPage::Search, shown_, SearchEdit->text(), Now(),
        FavouritesOnly->isChecked() ? std::optional(FavouriteChannels()) : std::nullopt, DuringSearch));
}

void TOnAirPage::SearchDone() {
    // The signal of a search already taken comes late, or not at all.
    if (!searching_ || !searchWatcher_->isFinished())
        return;
    searching_ = false;
    // Emptied meanwhile: the on-air list shows.
    if (SearchEdit->text().trimmed().isEmpty())
        return;
    if (searchAgain_) {
        StartSearch();
        return;
    }
    matchRows_->SetRows(searchWatcher_->result());
    SpanNotes(MatchList, *matchRows_);
    OnAirList->hide();
    MatchList->show();
}

void TOnAirPage::Choose(const QModelIndex& index) {
    const QString path = index.siblingAtColumn(0).data(TPageRowsModel::kPathRole).toString();
    if (!path.isEmpty())
        emit ChannelChosen(path, index.siblingAtColumn(0).data(TPageRowsModel::kClassRole).toString());
}

bool TOnAirPage::Favourite(const QString& channelName) const {
    return IsFavourite && IsFavourite(channelName);
}

QSet<qsizetype> TOnAirPage::FavouriteChannels() const {
    QSet<qsizetype> favourites;
    const Guide& guide = *shown_->guide;
    for (qsizetype channel = 0; channel < guide.channels.size(); ++channel)
        if (Favourite(guide.channels[channel].displayName))
            favourites.insert(channel);
    return favourites;
}

void TOnAirPage::FavouritesChanged() {
    ShowCurrentList();
}

const PageRow* TOnAirPage::RowAt(const QModelIndex& index) const {
    if (!index.isValid())
        return nullptr;
    const auto* rows = qobject_cast<const TPageRowsModel*>(index.model());
    const PageRow& row = rows->Row(index.row());
    return row.channelName.isEmpty() ? nullptr : &row;
}

QMenu* TOnAirPage::RowMenu(QTreeView* list, const QModelIndex& index) {
    const PageRow* row = RowAt(index);
    if (row == nullptr)
        return nullptr;
    auto* menu = new QMenu(list);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString channel = row->channelName;
    menu->addAction(Favourite(channel) ? QStringLiteral("取消收藏") : QStringLiteral("收藏频道"), this,
                    [this, channel] { emit FavouriteToggled(channel); });
    QAction* remind = menu->addAction(QStringLiteral("提醒我"));
    remind->setEnabled(row->programme.has_value());
    if (row->programme) {
        const Reminder programme = *row->programme;
        connect(remind, &QAction::triggered, this, [this, programme] { emit ReminderAsked(programme); });
    }
    return menu;
}

void TOnAirPage::AddRowKeys(QTreeView* list) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
        if (QMenu* menu = RowMenu(list, list->indexAt(at)))
            menu->popup(list->viewport()->mapToGlobal(at));
    });
    // F and R act on the selected row, as the menu's entries do.
    auto* favourite = new QShortcut(QKeySequence(Qt::Key_F), list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(favourite, &QShortcut::activated, this, [this, list] {
        if (const PageRow* row = RowAt(list->currentIndex()))
            emit FavouriteToggled(row->channelName);
    });
    auto* remind = new QShortcut(QKeySequence(Qt::Key_R), list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remind, &QShortcut::activated, this, [this, list] {
        const PageRow* row = RowAt(list->currentIndex());
        if (row != nullptr && row->programme)
            emit ReminderAsked(*row->programme);
    });
}

void TOnAirPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Its icon is looked up in the icon themes, which cost the start of the program more than the
    // rest of this page; the button shows with the page.
    if (!SearchEdit->isClearButtonEnabled())
        SearchEdit->setClearButtonEnabled(true);
    ShowClock(Now());
    Refresh();
}

void TOnAirPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    MinuteTimer->stop();
}
