// The window's update chain: the update button, the two timers, the online test, the package
// download with its transfer events, and the extraction.
#include "ui/Unit1.h"
#include "ui/Unit1Package.h"

#include "archive/Unit_sevenzip.h"
#include "platform/AppPaths.h"
#include "platform/LockFile.h"
#include "platform/Logging.h"
#include "sources/ScheduleSources.h"
#include "update/PackageDownload.h"
#include "update/PackageFetch.h"
#include "update/UpdateFailure.h"
#include "xmltv/FeedBytes.h"
#include "xmltv/XmltvImport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QScopedValueRollback>

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

namespace {

void ProcessPendingMessages() {
    QCoreApplication::processEvents();
}

// The library the extraction uses; only the copy that start-up wrote is checked against the
// embedded library.
I7zInArchivePtr MakeZipArchive() {
    return MakeInArchive(CLSID_CFormatZip, Places.LibraryToLoad, Places.LibraryToLoad == Places.LibraryCopy);
}

int32_t Low32Signed(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// What a step of the update does with a package: the download checks it before it keeps it, the
// extraction unpacks it.
enum class PackageStep { Check, Unpack };

// The one place that tells an XMLTV feed from an archive, so that the check before the save and the
// extraction after it always take a package the same way. A feed is converted into listing files,
// its starts moved by `offsetMinutes`; an archive is opened by the library the extraction uses, and
// unpacked. The archive reference comes back to the caller, which decides how long the package stays
// open and the library loaded.
void TakePackage(PackageStep step, const QString& path, I7zInArchivePtr& archive, int offsetMinutes = 0) {
    if (IsXmltvFile(path)) {
        // A feed is read whole before it may replace a package: a start that looks like XML says
        // little (a portal's XHTML page, an RSS document, a feed cut short).
        // Reading a large feed takes a while: the window keeps answering, and a session's end stops it.
        XmltvImportOptions options;
        options.pump = ProcessPendingMessages;
        options.offsetMinutes = offsetMinutes;
        options.source = QString::fromUtf16(kBuiltInSourceId);
        if (step == PackageStep::Check)
            CheckXmltvFile(path, options);
        else
            ImportXmltvFile(path, DataFolder(), options);
        return;
    }
    if (step == PackageStep::Unpack) {
        archive = UnpackArchive(path);
        return;
    }
    archive = MakeZipArchive();
    archive->OpenArchiveFile(path);
}

} // namespace

PackageCheck CheckPackage(const QString& path) {
    try {
        I7zInArchivePtr archive;
        TakePackage(PackageStep::Check, path, archive);
        if (const uint32_t errors = archive ? archive->ArchiveErrors() : 0; errors != 0) {
            qCWarning(lcUpdate).noquote()
                << QStringLiteral("package damaged or cut short (archive flags 0x%1)").arg(errors, 0, 16);
            return PackageCheck::CutShort;
        }
        return PackageCheck::Usable;
    } catch (...) {
        qCWarning(lcUpdate).noquote() << "package refused:" << CurrentExceptionMessage();
        return PackageCheck::Unusable;
    }
}

I7zInArchivePtr UnpackArchive(const QString& package) {
    I7zInArchivePtr archive = MakeZipArchive();
    // The window keeps answering while the package is unpacked.
    archive->InstallPump(nullptr, [](void*) { ProcessPendingMessages(); });
    archive->OpenArchiveFile(package);
    archive->ExtractIntoFolder(DataFolder());
    return archive;
}

bool ProceedUnder(const DataFolderLock& lock) {
    if (lock.Busy()) {
        ReportUpdateFailure(UpdateFailure::DataFolderBusy);
        return false;
    }
    if (!lock.Held())
        qCWarning(lcUpdate).noquote() << "data folder not locked:" << lock.Problem();
    return true;
}

void ReportUpdateFailure(UpdateFailure failure, int statusCode) {
    ReportStatus(UpdateFailureLine(failure, statusCode));
}

// The update chain starts here and runs as a series of simulated clicks, each step on a timer tick of
// its own so that the window paints the step's status line before the step blocks:
//   Button_RClick        prepares the data folder, shows "请稍后正在更新数据." and arms Timer1.
//   Timer1 (2 s)         waits for that line to be seen; BeginUpdate, then clicks Button_UpDate.
//   Button_UpDate        tests that the machine is online (else a notice), then clicks Button_Download.
//   Button_Download      probes the network, then fetches the program's own package (DownloadPackage)
//                        or every enabled source (DownloadSources); a package is checked and saved,
//                        and only a saved one arms Timer_Load.
//   Timer_Load (3 s)     waits for the download's call to unwind and its files to settle, then clicks
//                        Button_URAR.
//   Button_URAR          unpacks or converts what was saved, clicks LoadData (the rescan), shows the
//                        last line; the tick ends the update (EndUpdate records the result and plans
//                        the next automatic update).
// The flags, each owned by the step that sets it:
//   downloadRunning_     a download asked for from a pump point of the running one is ignored;
//   transferEnded_       the transfer reached its end event: without it a saved body arms nothing;
//   extractionRunning_   one extraction at a time, and a Timer_Load tick inside one waits for it;
//   extractAgain_        a package saved during an extraction gets an extraction of its own after it;
//   sourceRun_           the sources fetched by this update, waiting for the extraction step;
//   packageDone_         the own package's extraction ran whole, for the sources' 结果 column.
void TForm1::Button_RClick() {
    PrepareDataFolder(Places);
    ReportStatus(QStringLiteral("请稍后正在更新数据."));
    Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer() {
    BeginUpdate();
    Button_UpDate->click();
    Timer1->SetEnabled(false);
    if (!Timer_Load->Enabled())
        EndUpdate(); // nothing to extract: the update ends here
}

bool TForm1::IsOnline() {
    return OnlineTest();
}

void TForm1::Button_UpDateClick() {
    if (!IsOnline()) {
        ShowNotice(QString::fromUtf8(kApplicationTitle), QStringLiteral("暂无网络请稍候更新."));
        return;
    }
    Button_Download->click();
}

void TForm1::Button_DownloadClick() {
    // The client serves one fetch at a time; a download asked for from a pump point of the running
    // one (a key on a worker button) would only disturb its bookkeeping.
    if (downloadRunning_)
        return;
    const QScopedValueRollback<bool> running(downloadRunning_, true);
    ProcessPendingMessages();
    if (!NetworkProbe(ProbeAddress)) {
        ReportStatus(QStringLiteral("网络未连接!"));
        return;
    }
    if (SeveralSources()) {
        DownloadSources();
        return;
    }
    if (!DownloadPackage() || !transferEnded_)
        return;
    // Saved at a pump point of the running extraction, whose tick holds the armed timer: the package
    // gets an extraction of its own once that one is over.
    if (extractionRunning_ && Timer_Load->Enabled())
        extractAgain_ = true;
    Timer_Load->SetEnabled(true);
}

bool TForm1::DownloadPackage() {
    // A portable program looks for the bare name in the working directory, not in the data folder the
    // save goes to: the package an earlier update left there must not stop the next update. Started
    // from its shortcut, the program's working directory is its own folder.
    if (PackageFileExists(Places.PackageCheckFolder + Edit_SaveFile->text())) {
        ReportStatus(QStringLiteral("您要下载的文件已经存在!"));
        return false;
    }
    // Another copy of the program writing into the same data folder would mix two packages.
    const DataFolderLock dataFolderLock(DataFolder());
    if (!ProceedUnder(dataFolderLock))
        return false;
    // The body goes straight into a temporary file beside the package, so memory stays flat however
    // large the package is; the package itself is replaced only at the end, when all is well.
    PackageFile package(DataFolder(), Edit_SaveFile->text());
    ProcessPendingMessages();
    // The transfer's end arms the extraction only once the package is safely saved: a failed fetch
    // or save must not re-extract an older package and report it as a finished update.
    transferEnded_ = false;
    const QString address = PackageRequestAddress(Edit_Url->text(), QDateTime::currentDateTime());
    if (const std::optional<FetchFailure> failure = FetchPackage(IdHTTP1, address, package)) {
        ReportUpdateFailure(failure->failure, failure->statusCode);
        return false;
    }
    // A body read until the close cannot be checked by its length; one that does not read whole, or
    // that the library finds cut short, would destroy a good package and leave an extraction that can
    // only fail.
    switch (CheckPackage(package.TemporaryPath())) {
    case PackageCheck::Usable:
        break;
    case PackageCheck::CutShort:
        ReportUpdateFailure(UpdateFailure::IncompletePackage);
        return false;
    case PackageCheck::Unusable:
        ReportUpdateFailure(UpdateFailure::CannotUnpack);
        return false;
    }
    try {
        package.Replace();
    } catch (...) {
        qCWarning(lcUpdate).noquote() << "package not saved:" << CurrentExceptionMessage();
        ReportUpdateFailure(UpdateFailure::CannotSave);
        return false;
    }
    return true;
}

void TForm1::IdHTTP1WorkBegin(TIdHTTP&, TWorkMode, int64_t AWorkCountMax) {
    ProgressBar1->SetMax(Low32Signed(AWorkCountMax));
    if (!sourceTransfer_)
        ReportStatus(QStringLiteral("正在下载数据包..."));
}

void TForm1::IdHTTP1Work(TIdHTTP&, TWorkMode, int64_t AWorkCount) {
    ProgressBar1->SetPosition(Low32Signed(AWorkCount));
}

void TForm1::IdHTTP1WorkEnd(TIdHTTP&, TWorkMode) {
    if (sourceTransfer_)
        return;
    ReportStatus(QStringLiteral("数据包下载完成."));
    transferEnded_ = true; // the download arms the extraction once the package is saved
}

void TForm1::Timer_LoadTimer() {
    // A tick that falls into a pump point of the running extraction waits until it is over.
    if (extractionRunning_)
        return;
    Button_URAR->click();
    Timer_Load->SetEnabled(false);
    if (std::exchange(extractAgain_, false))
        Timer_Load->SetEnabled(true);
    else
        EndUpdate();
}

void TForm1::Button_URARClick() {
    // One extraction at a time: a nested one would unpack into the folder the running one writes.
    if (extractionRunning_)
        return;
    const QScopedValueRollback<bool> running(extractionRunning_, true);
    if (sourceRun_) {
        ExtractSources();
        return;
    }
    I7zInArchivePtr archive;
    try {
        bool whole = true;
        ReportStatus(QStringLiteral("正在释放文件."));
        ProcessPendingMessages();
        const DataFolderLock dataFolderLock(DataFolder());
        if (!ProceedUnder(dataFolderLock))
            return;
        TakePackage(PackageStep::Unpack, DataFolder() + Edit_SaveFile->text(), archive,
                    Sources != nullptr ? Sources->BuiltIn().offsetMinutes : 0);
        if (archive) {
            // Whole items are in place all the same; the user learns that others are not.
            const TExtractionOutcome outcome = archive->LastExtraction();
            whole = outcome.Whole();
            if (!whole)
                qCWarning(lcUpdate).noquote()
                    << QStringLiteral("package incomplete: %1 of %2 items unpacked, "
                                      "archive flags 0x%3")
                           .arg(outcome.ItemsWritten)
                           .arg(outcome.FileItems)
                           .arg(outcome.ArchiveErrors, 0, 16);
        }
        // A moment for the extracted files to settle before the rescan reads the folder (a virus
        // scanner or a file indexer may still have them open); the program has always paused here.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ProcessPendingMessages();
        LoadData->click();
        packageDone_ = whole;
        if (whole)
            ReportStatus(QStringLiteral("数据更新完成."));
        else
            ReportUpdateFailure(UpdateFailure::IncompletePackage);
        ProcessPendingMessages();
    } catch (...) {
        qCWarning(lcUpdate).noquote() << "extraction stopped:" << CurrentExceptionMessage();
        ReportUpdateFailure(UpdateFailure::CannotUnpack);
    }
    // The archive reference goes only here, on the way out: the package stays open and the library
    // loaded through the pause, the rescan and the last status line.
}
