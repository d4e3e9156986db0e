// The whole update chain on the real window: real timers, the real library, a scripted server on
// the loopback address. One test per way an update can end. The timers run with short periods; one
// test keeps the program's own.
#include "tests/support/Files.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestAuthority.h"
#include "tests/support/UnresolvableHost.h"
#include "tests/support/WarningRecorder.h"
#include "tests/support/ZipWriter.h"
#include "tests/ui/WindowFixture.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString kWaiting = QStringLiteral("请稍后正在更新数据.");
const QString kDownloading = QStringLiteral("正在下载数据包...");
const QString kDownloaded = QStringLiteral("数据包下载完成.");
const QString kExtracting = QStringLiteral("正在释放文件.");
const QString kDone = QStringLiteral("数据更新完成.");
const QString kNoConnection = QStringLiteral("更新失败：无法连接服务器");
const QString kIncomplete = QStringLiteral("更新失败：数据包不完整");
const QString kCannotSave = QStringLiteral("更新失败：无法保存数据包");
const QString kCannotUnpack = QStringLiteral("更新失败：数据包无法解压");
const QString kDataFolderBusy = QStringLiteral("更新失败：另一个程序正在写入数据文件夹");

QString ErrorStatusLine(int code) {
    return QStringLiteral("更新失败：服务器返回错误 %1").arg(code);
}

QByteArray SamplePackage() {
    ZipWriter zip;
    zip.AddDirectory(EncodeGbk(QStringLiteral("央视频道")));
    zip.AddFile(EncodeGbk(QStringLiteral("央视频道/01.txt")),
                EncodeGbk(QStringLiteral("06:00 朝闻天下\r\n")));
    zip.AddFile(EncodeGbk(QStringLiteral("央视频道/05.txt")),
                EncodeGbk(QStringLiteral("07:00 体育晨报\r\n")));
    zip.AddFile(EncodeGbk(QStringLiteral("地方频道/hunan卫视.txt")),
                EncodeGbk(QStringLiteral("20:00 快乐大本营\r\n")));
    return zip.Bytes();
}

QByteArray OkHead(qsizetype length) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
           QByteArray::number(length) + "\r\n\r\n";
}

QByteArray Ok(const QByteArray& body) {
    return OkHead(body.size()) + body;
}

bool LibraryIsLoaded(const QString& library = QStringLiteral("/7z.dll")) {
    return ReadAll(QStringLiteral("/proc/self/maps")).contains(QFile::encodeName(library));
}

using Script = LoopbackServer::Script;

// Short periods for the chain's two timers: each test waits for whole chains, not for the clock.
constexpr TUpdateTimings kShortTimings{200, 300};

class UpdateTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        timings = kShortTimings;
        probe_ = LoopbackServer::AnsweringEveryGet("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    }
    void TearDown() override {
        log_.reset();
        WindowFixture::TearDown();
    }

    // Starts the window pointed at the package server, online, with its status lines recorded.
    TForm1& StartAgainst(const LoopbackServer& server, const QStringList& arguments = {QStringLiteral("x")}) {
        TForm1& window = Start(arguments);
        window.Edit_Url->setText(server.Url(QStringLiteral("/download/showtime.zip")));
        window.ProbeAddress = probe_->Url(QStringLiteral("/"));
        window.OnlineTest = [] { return true; };
        log_ = std::make_unique<StatusLog>(window);
        return window;
    }

    // Waits until the chain has run out: no step running and neither timer armed.
    bool WaitForTheEnd(TForm1& window, int timeoutMs = 30000) {
        return WaitUntil([&] { return !window.Timer1->Enabled() && !window.Timer_Load->Enabled(); },
                         timeoutMs);
    }

    StatusLog& log() { return *log_; }
    std::unique_ptr<LoopbackServer> probe_;

private:
    std::unique_ptr<StatusLog> log_;
};

TEST_F(UpdateTest, ASuccessfulUpdateRebuildsTheListFromTheNewPackage) {
    timings = TUpdateTimings{}; // the program's own periods, 2000 and 3000 ms
    const QByteArray package = SamplePackage();
    LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(package))}});
    TForm1& window = StartAgainst(server);
    QByteArray savedWhenExtractionBegan;
    log().onLine = [&](const QString& line) {
        if (line == kExtracting)
            savedWhenExtractionBegan = ReadAll(DataFolder() + QStringLiteral("zorq.zip"));
    };

    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDone); }, 30000))
        << log().lines.join(u'|').toStdString();
    EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, kExtracting, kDone}));
    EXPECT_EQ(MemoLines(window.TVListBox), QStringList{kDone}) << "the rescan wiped the earlier lines";
    EXPECT_EQ(window.SBPanel0->text(), kDone);
    EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"ZORQ-1 中央", "ZORQ-5 体育"}))
        << "the class folder's GBK name arrived as Chinese";
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), package)
        << "the package stays in the data folder";
    EXPECT_EQ(savedWhenExtractionBegan, package) << "the extraction never starts before the package is saved";
    EXPECT_EQ(window.ProgressBar1->Max(), package.size());
    EXPECT_EQ(window.ProgressBar1->Position(), package.size());

    // The extraction follows the transfer's end after the second timer's period. A precise timer never
    // fires early; the bounds allow 1 ms for the two millisecond clock readings, and the upper one
    // catches a period that starts again.
    const qint64 pause = log().TimeOf(kExtracting) - log().TimeOf(kDownloaded);
    EXPECT_GE(pause, 3000 - 1);
    EXPECT_LT(pause, 6000);
    EXPECT_GE(log().TimeOf(kDownloading), 2000 - 1) << "the download starts two seconds after the click";

    ASSERT_EQ(server.Requests().size(), 1u);
    const QString request = QString::fromLatin1(server.Requests().front());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^GET /download/showtime\\.zip\\?\\d{14} HTTP/1\\.1\\r\\n"))
                    .match(request)
                    .hasMatch())
        << request.toStdString();
    EXPECT_TRUE(WaitForTheEnd(window));
}

TEST_F(UpdateTest, OfflineShowsTheNoticeAndKeepsTheStatus) {
    LoopbackServer server({});
    TForm1& window = StartAgainst(server);
    window.OnlineTest = [] { return false; };
    ModalBoxRecord notice;
    AnswerNextModalBox(notice);
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return notice.seen; }, 10000));
    EXPECT_EQ(notice.title, QStringLiteral("Pelnavi系统"));
    EXPECT_EQ(notice.text, QStringLiteral("暂无网络请稍候更新."));
    EXPECT_EQ(notice.icon, QMessageBox::NoIcon);
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines, QStringList{kWaiting});
    EXPECT_EQ(window.SBPanel0->text(), kWaiting);
    EXPECT_EQ(server.AcceptedConnections(), 0);
}

TEST_F(UpdateTest, TicksWhileTheNoticeIsOpenOpenNoSecondNotice) {
    LoopbackServer server({});
    TForm1& window = StartAgainst(server);
    window.OnlineTest = [] { return false; };
    int notices = 0;
    window.ShowNotice = [&notices](const QString&, const QString&) {
        ++notices;
        // The user reads the notice for several of the timer's periods; its ticks arrive meanwhile.
        QEventLoop modalLoop;
        QTimer::singleShot(5 * kShortTimings.DownloadDelayMs, &modalLoop, &QEventLoop::quit);
        modalLoop.exec();
    };
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return notices > 0; }, 10000));
    ASSERT_TRUE(WaitForTheEnd(window, 20000));
    EXPECT_EQ(notices, 1);
}

// These lines say what happened already: no failure line follows them.
TEST_F(UpdateTest, EarlyWaysOutReportTheirLineAndFetchNothing) {
    struct Case {
        const char* name;
        std::function<void(const QString& workingFolder, TForm1&)> arrange;
        QStringList lines;
    };
    const Case cases[] = {
        {"the probe cannot connect",
         [](const QString&, TForm1& window) { window.ProbeAddress = QStringLiteral("http://127.0.0.1:1/"); },
         {kWaiting, QStringLiteral("网络未连接!")}},
        {"the package name lies in the working directory",
         [](const QString& workingFolder, TForm1&) {
             QFile file(workingFolder + QStringLiteral("zorq.zip"));
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         },
         {kWaiting, QStringLiteral("您要下载的文件已经存在!")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server({});
        TForm1& window = StartAgainst(server);
        c.arrange(WorkingFolder(), window);
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
        ASSERT_TRUE(WaitForTheEnd(window));
        EXPECT_EQ(log().lines, c.lines);
        EXPECT_EQ(window.SBPanel0->text(), c.lines.last());
        EXPECT_EQ(server.AcceptedConnections(), 0);
        EXPECT_FALSE(QFileInfo::exists(DataFolder() + QStringLiteral("zorq.zip")));
        QFile::remove(WorkingFolder() + QStringLiteral("zorq.zip"));
    }
}

TEST_F(UpdateTest, AnErrorPageIsReportedButNeitherSavedNorExtracted) {
    WriteDataFile(QStringLiteral("zorq.zip"), SamplePackage()); // an earlier update's package
    const QByteArray page = "<html><body>404 没有找到</body></html>";
    LoopbackServer server(
        {Script{LoopbackServer::ReadRequest(),
                LoopbackServer::Send("HTTP/1.1 404 Not Found\r\nContent-Length: " +
                                     QByteArray::number(page.size()) + "\r\n\r\n" + page)}});
    TForm1& window = StartAgainst(server);
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDownloaded); }, 30000));
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, ErrorStatusLine(404)}));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), SamplePackage())
        << "the earlier package is kept";
    EXPECT_EQ(window.TVList->count(), 0) << "nothing was extracted or rescanned";
}

TEST_F(UpdateTest, AShortOrEmptyBodyKeepsTheEarlierPackage) {
    const QByteArray package = SamplePackage();
    const Script scripts[] = {
        // The server closes after half the announced package.
        {LoopbackServer::ReadRequest(),
         LoopbackServer::Send(OkHead(package.size()) + package.left(package.size() / 2)),
         LoopbackServer::Close()},
        {LoopbackServer::ReadRequest(), LoopbackServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")},
    };
    for (const Script& script : scripts) {
        WriteDataFile(QStringLiteral("zorq.zip"), "earlier package");
        LoopbackServer server({script});
        TForm1& window = StartAgainst(server);
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
        ASSERT_TRUE(WaitForTheEnd(window));
        EXPECT_FALSE(log().lines.contains(kExtracting));
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), QByteArray("earlier package"));
    }
}

TEST_F(UpdateTest, EveryFailedWayOutEndsWithItsFailureLine) {
    const QByteArray package = SamplePackage();
    const QByteArray page = "<html><body>没有找到</body></html>";
    Script fifteenRedirects;
    for (int i = 0; i < 15; ++i) {
        fifteenRedirects.push_back(LoopbackServer::ReadRequest());
        fifteenRedirects.push_back(LoopbackServer::Send(
            "HTTP/1.1 302 Found\r\nLocation: /download/showtime.zip\r\nContent-Length: 0\r\n\r\n"));
    }
    const auto pointAt = [](const QString& address) {
        return [address](TForm1& window, const QString&) { window.Edit_Url->setText(address); };
    };
    struct Case {
        const char* name;
        Script script; // of the package server's one connection
        std::function<void(TForm1&, const QString& dataFolder)> arrange;
        QStringList lines; // after the waiting line
    };
    const Case cases[] = {
        {"the host name cannot be resolved",
         {},
         pointAt(QStringLiteral("http://%1/download/showtime.zip").arg(UnresolvableHost())),
         {kNoConnection}},
        {"the connection is refused",
         {},
         pointAt(QStringLiteral("http://127.0.0.1:1/showtime.zip")),
         {kNoConnection}},
        {"an https address",
         {},
         pointAt(QStringLiteral("https://127.0.0.1:1/showtime.zip")),
         {kNoConnection}},
        {"the server closes before the status line",
         {LoopbackServer::ReadRequest(), LoopbackServer::Close()},
         nullptr,
         {kNoConnection}},
        {"an error page",
         {LoopbackServer::ReadRequest(),
          LoopbackServer::Send("HTTP/1.1 404 Not Found\r\nContent-Length: " +
                               QByteArray::number(page.size()) + "\r\n\r\n" + page)},
         nullptr,
         {kDownloading, kDownloaded, ErrorStatusLine(404)}},
        {"an error status without a body",
         {LoopbackServer::ReadRequest(),
          LoopbackServer::Send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")},
         nullptr,
         {ErrorStatusLine(503)}},
        {"redirects until the client gives up", fifteenRedirects, nullptr, {ErrorStatusLine(302)}},
        {"an empty body",
         {LoopbackServer::ReadRequest(), LoopbackServer::Send(OkHead(0))},
         nullptr,
         {kIncomplete}},
        {"a body cut short",
         {LoopbackServer::ReadRequest(), LoopbackServer::Send(OkHead(package.size()) + package.left(100)),
          LoopbackServer::Close()},
         nullptr,
         {kDownloading, kDownloaded, kIncomplete}},
        {"a link stands at the package's name",
         {LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(package))},
         [](TForm1&, const QString& dataFolder) {
             ASSERT_TRUE(QFile::link(dataFolder + QStringLiteral("elsewhere.zip"),
                                     dataFolder + QStringLiteral("zorq.zip")));
         },
         {kDownloading, kDownloaded, kCannotSave}},
        {"the package is no archive",
         {LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok("an HTML page, not a package"))},
         nullptr,
         {kDownloading, kDownloaded, kCannotUnpack}},
        {"a chunk size that is no number",
         {LoopbackServer::ReadRequest(),
          LoopbackServer::Send(
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nAB\r\nzz\r\nCD\r\n0\r\n\r\n")},
         nullptr,
         {kDownloading, kDownloaded, kIncomplete}},
        {"a redirect to another scheme",
         {LoopbackServer::ReadRequest(),
          LoopbackServer::Send(
              "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/showtime.zip\r\nContent-Length: 0\r\n\r\n")},
         nullptr,
         {kNoConnection}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server({c.script});
        TForm1& window = StartAgainst(server);
        if (c.arrange)
            c.arrange(window, DataFolder());
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
        ASSERT_TRUE(WaitForTheEnd(window));
        const QStringList expected = QStringList{kWaiting} + c.lines;
        EXPECT_EQ(log().lines, expected);
        EXPECT_EQ(MemoLines(window.TVListBox), expected);
        EXPECT_EQ(window.SBPanel0->text(), expected.last());
        QFile::remove(DataFolder() + QStringLiteral("zorq.zip"));
    }
}

// A body the library cannot open never replaces the earlier package: a body read until the close
// cannot even be checked for completeness.
TEST_F(UpdateTest, APackageTheLibraryCannotOpenIsNeitherSavedNorExtracted) {
    const QByteArray page = "this is an HTML page, not a package";
    const Script scripts[] = {
        {LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(page))},
        {LoopbackServer::ReadRequest(),
         LoopbackServer::Send("HTTP/1.0 200 OK\r\n\r\n" + QByteArray(300000, '\0')), LoopbackServer::Close()},
    };
    for (const Script& script : scripts) {
        WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 朝闻天下\r\n");
        WriteDataFile(QStringLiteral("zorq.zip"), SamplePackage()); // an earlier update's package
        LoopbackServer server({script});
        TForm1& window = StartAgainst(server, {});
        ASSERT_EQ(window.TVList->count(), 1);
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDownloaded); }, 30000));
        ASSERT_TRUE(WaitForTheEnd(window));
        EXPECT_EQ(MemoLines(window.TVListBox),
                  (QStringList{kWaiting, kDownloading, kDownloaded, kCannotUnpack}));
        EXPECT_EQ(window.TVList->count(), 1) << "no extraction, no rescan";
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), SamplePackage())
            << "the earlier package is kept";
        EXPECT_EQ(QDir(DataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"zorq.zip"})
            << "no temporary file is left";
        EXPECT_FALSE(LibraryIsLoaded()) << "the library was let go after the check";
    }
}

// A server that sends no length and stops early: the library would open the rest in its tolerant
// way and unpack only the listings before the cut.
TEST_F(UpdateTest, AZipCutShortWithoutALengthKeepsTheEarlierPackage) {
    const QByteArray package = SamplePackage();
    for (const qsizetype cut : {package.size() / 2, package.size() - 30, package.size() - 1}) {
        SCOPED_TRACE(cut);
        WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 earlier\r\n");
        WriteDataFile(QStringLiteral("zorq.zip"), "earlier package");
        LoopbackServer server({Script{LoopbackServer::ReadRequest(),
                                      LoopbackServer::Send("HTTP/1.0 200 OK\r\n\r\n" + package.left(cut)),
                                      LoopbackServer::Close()}});
        TForm1& window = StartAgainst(server);
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDownloaded); }, 30000));
        ASSERT_TRUE(WaitForTheEnd(window));
        EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, kIncomplete}));
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), QByteArray("earlier package"));
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/01.txt")), QByteArray("06:00 earlier\r\n"));
    }
}

// Another running copy (another login's, say) holds the data folder while it writes there: this
// update neither saves nor unpacks anything meanwhile.
TEST_F(UpdateTest, ADataFolderAnotherCopyIsWritingIsLeftAlone) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 earlier\r\n");
    WriteDataFile(QStringLiteral("zorq.zip"), SamplePackage());
    // The other copy's hold: a lock on the data folder's lock file through a descriptor of its own.
    const QByteArray lockFile = QFile::encodeName(DataFolder() + QStringLiteral(".pelnavi.lock"));
    const int other = ::open(lockFile.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

    LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok("new package"))}});
    TForm1& window = StartAgainst(server);
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines, (QStringList{kWaiting, kDataFolderBusy}));
    EXPECT_EQ(server.AcceptedConnections(), 0) << "nothing is fetched";
    window.Button_URAR->click();
    EXPECT_EQ(log().lines.mid(2), (QStringList{kExtracting, kDataFolderBusy}));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/01.txt")), QByteArray("06:00 earlier\r\n"));

    // Once the other copy is done, the package is unpacked as usual.
    ::close(other);
    window.Button_URAR->click();
    EXPECT_EQ(log().lines.last(), kDone);
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(lockFile))) << "the lock file goes with the hold";
}

// The extraction pumps while it writes, so a download can run and save a package meanwhile (a key
// on the worker button, or the next update's tick). That package is unpacked after it, not dropped.
TEST_F(UpdateTest, APackageSavedDuringTheExtractionIsUnpackedAfterIt) {
    ZipWriter first;
    for (int i = 1; i <= 9; ++i)
        first.AddFile(EncodeGbk(QStringLiteral("央视频道/0%1.txt").arg(i)), "06:00 first\r\n");
    WriteDataFile(QStringLiteral("zorq.zip"), first.Bytes());
    ZipWriter second;
    second.AddFile(EncodeGbk(QStringLiteral("央视频道/01.txt")), "06:00 second\r\n");
    LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(second.Bytes()))}});
    TForm1& window = StartAgainst(server);
    int extractions = 0, pumpsSinceStart = 0;
    log().onLine = [&](const QString& line) {
        if (line == kExtracting) {
            ++extractions;
            pumpsSinceStart = 0;
        }
    };
    // Counts the pumps of the first extraction; at one inside its item loop, the download runs.
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, &pump, [&] {
        if (extractions == 1 && ++pumpsSinceStart == 3)
            window.Button_Download->click();
    });
    pump.start(0);
    window.Timer_Load->SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return log().lines.count(kDone) == 2; }, 30000))
        << log().lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines.count(kExtracting), 2);
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), second.Bytes());
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/01.txt")), QByteArray("06:00 second\r\n"));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/09.txt")), QByteArray("06:00 first\r\n"));
}

TEST_F(UpdateTest, ASecondPressDuringTheDownloadOnlyAddsItsStatusLine) {
    const QByteArray package = SamplePackage();
    const QByteArray response = Ok(package);
    const qsizetype half = response.size() / 2;
    // The body stalls for several of the first timer's periods, so that its ticks fall into the download.
    LoopbackServer server(
        {Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(response.left(half)),
                LoopbackServer::Sleep(5 * std::chrono::milliseconds(kShortTimings.DownloadDelayMs)),
                LoopbackServer::Send(response.mid(half))}});
    TForm1& window = StartAgainst(server);
    bool pressedAgain = false;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, &presser, [&] {
        if (!pressedAgain && log().lines.contains(kDownloading)) {
            pressedAgain = true;
            window.Button_R->click();
        }
    });
    presser.start(50);
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDone); }, 40000))
        << log().lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_TRUE(pressedAgain);
    EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kWaiting, kDownloaded, kExtracting, kDone}));
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(UpdateTest, ADownloadAskedForDuringTheDownloadChangesNothing) {
    WriteDataFile(QStringLiteral("zorq.zip"), SamplePackage()); // an earlier update's package
    const QByteArray page = "<html><body>404</body></html>";
    const QByteArray response =
        "HTTP/1.1 404 Not Found\r\nContent-Length: " + QByteArray::number(page.size()) + "\r\n\r\n" + page;
    LoopbackServer server(
        {Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(response.left(response.size() - 5)),
                LoopbackServer::Sleep(1000ms), LoopbackServer::Send(response.right(5))}});
    TForm1& window = StartAgainst(server);
    bool pressed = false;
    log().onLine = [&](const QString& line) {
        if (line == kDownloading && !pressed) {
            pressed = true;
            // Space on the worker button beneath the update button, while the error page comes in.
            QTimer::singleShot(0, window.Button_UpDate, [&window] { window.Button_UpDate->click(); });
        }
    };
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDownloaded); }, 30000));
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_TRUE(pressed);
    EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, ErrorStatusLine(404)}));
    EXPECT_EQ(server.Requests().size(), 1u);
    QTest::qWait(3 * kShortTimings.ExtractionDelayMs); // no extraction of the earlier package follows
    EXPECT_FALSE(log().lines.contains(kExtracting));
}

TEST_F(UpdateTest, AStartWithUpRunsTheWholeChain) {
    LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(SamplePackage()))}});
    TForm1& window = StartAgainst(server, {QStringLiteral("-up")});
    EXPECT_EQ(MemoLines(window.TVListBox), QStringList{kWaiting});
    EXPECT_EQ(window.TVList->count(), 0) << "the list stays empty until the update's rescan";
    ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDone); }, 30000))
        << log().lines.join(u'|').toStdString();
    EXPECT_EQ(MemoLines(window.TVListBox), QStringList{kDone});
    EXPECT_EQ(window.TVList->count(), 2);
}

TEST_F(UpdateTest, AnInstalledProgramUpdatesTheUsersDataFolder) {
    mode = ProgramMode::Installed;
    const QByteArray package = SamplePackage();
    // The system's library is the package manager's to update: one that is no longer the copy the
    // program embeds (here with a few bytes more at its end) is still used as it is.
    const QString updatedLibrary = ProgramFolder() + QStringLiteral("system/7z.so");
    ASSERT_TRUE(QDir().mkpath(ProgramFolder() + QStringLiteral("system")));
    QFile updated(updatedLibrary);
    ASSERT_TRUE(updated.open(QIODevice::WriteOnly));
    updated.write(ReadAll(QString::fromUtf8(kSystemArchiveLibrary)) + QByteArray(4096, '\0'));
    updated.close();
    const struct {
        const char* name;
        QString systemLibrary;
        QString loaded; // the library the extraction uses
    } cases[] = {
        {"with the system's library", QString::fromUtf8(kSystemArchiveLibrary),
         QString::fromUtf8(kSystemArchiveLibrary)},
        {"with a system library other than the embedded one", updatedLibrary, updatedLibrary},
        {"without it", QStringLiteral("/nonexistent/7z.so"), UserCacheFolder() + QStringLiteral("7z.dll")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        systemLibrary = c.systemLibrary;
        // The working directory is none of an installed program's business.
        QFile stray(WorkingFolder() + QStringLiteral("zorq.zip"));
        ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
        stray.close();
        LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(package))}});
        TForm1& window = StartAgainst(server);
        bool loadedWhenDone = false;
        log().onLine = [&](const QString& line) {
            if (line == kDone)
                loadedWhenDone = LibraryIsLoaded(c.loaded);
        };
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDone); }, 30000))
            << log().lines.join(u'|').toStdString();
        EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, kExtracting, kDone}));
        EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"ZORQ-1 中央", "ZORQ-5 体育"}));
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), package);
        EXPECT_TRUE(loadedWhenDone);
        EXPECT_FALSE(QFileInfo::exists(ProgramFolder() + QStringLiteral("ZORQListTemp")));
        ASSERT_TRUE(WaitForTheEnd(window));
        QDir(UserDataFolder()).removeRecursively();
    }

    // A file of the package's name beside the data folder stops the download, as one in the
    // working directory stops a portable program's.
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "x");
    QFile existing(UserDataFolder() + QStringLiteral("zorq.zip"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    LoopbackServer server({});
    TForm1& window = StartAgainst(server);
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines, (QStringList{kWaiting, QStringLiteral("您要下载的文件已经存在!")}));
    EXPECT_EQ(server.AcceptedConnections(), 0);
}

} // namespace

namespace {

using ExtractionStepTest = WindowFixture;

TEST_F(ExtractionStepTest, APackageInTheDataFolderIsUnpackedAndTheListRebuilt) {
    WriteDataFile(QStringLiteral("zorq.zip"), SamplePackage());
    TForm1& window = Start({QStringLiteral("x")});
    StatusLog log(window);
    window.Button_URAR->click();
    EXPECT_EQ(log.lines, (QStringList{kExtracting, kDone}));
    EXPECT_EQ(MemoLines(window.TVListBox), QStringList{kDone});
    EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"ZORQ-1 中央", "ZORQ-5 体育"}));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("地方频道/hunan卫视.txt")),
              EncodeGbk(QStringLiteral("20:00 快乐大本营\r\n")));
    EXPECT_FALSE(LibraryIsLoaded()) << "the library is loaded only while the step runs";
}

// A package already saved whose item does not unpack (an older update's, or one damaged on the
// disk): the whole items are in place and the list rebuilt, but the update does not claim success.
TEST_F(ExtractionStepTest, AnItemThatDoesNotUnpackEndsWithTheIncompleteLine) {
    ZipWriter zip;
    zip.AddFile(EncodeGbk(QStringLiteral("央视频道/01.txt")),
                EncodeGbk(QStringLiteral("06:00 朝闻天下\r\n")));
    zip.CorruptCrc(zip.AddFile(EncodeGbk(QStringLiteral("央视频道/05.txt")), "07:00 damaged\r\n"));
    WriteDataFile(QStringLiteral("zorq.zip"), zip.Bytes());
    WriteDataFile(QStringLiteral("央视频道/05.txt"), "07:00 earlier\r\n");
    TForm1& window = Start({QStringLiteral("x")});
    StatusLog log(window);
    window.Button_URAR->click();
    EXPECT_EQ(log.lines, (QStringList{kExtracting, kIncomplete}));
    EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"ZORQ-1 中央", "ZORQ-5 体育"}));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/01.txt")),
              EncodeGbk(QStringLiteral("06:00 朝闻天下\r\n")));
    EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("央视频道/05.txt")), QByteArray("07:00 earlier\r\n"));
}

TEST_F(ExtractionStepTest, AMissingPackageStopsWithTheUnpackFailure) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "x");
    TForm1& window = Start();
    ASSERT_EQ(window.TVList->count(), 1);
    WarningRecorder recorder;
    window.Button_URAR->click();
    ASSERT_EQ(recorder.warnings.size(), 1) << recorder.warnings.join(u'|').toStdString();
    EXPECT_TRUE(recorder.warnings[0].startsWith(
        QStringLiteral("pelnavi.update: extraction stopped: Cannot open file \"") + DataFolder() +
        QStringLiteral("zorq.zip\".")))
        << recorder.warnings[0].toStdString() << " — the user at a terminal learns why";
    EXPECT_EQ(MemoLines(window.TVListBox), (QStringList{kExtracting, kCannotUnpack}));
    EXPECT_EQ(window.TVList->count(), 1) << "no rescan";
    EXPECT_FALSE(LibraryIsLoaded());
}

// The window says only that the package cannot be unpacked; a user at a terminal learns why.
TEST_F(UpdateTest, APackageTheCheckRefusesSaysWhyOnTheUpdateCategory) {
    LoopbackServer server({Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok("an HTML page"))}});
    TForm1& window = StartAgainst(server);
    WarningRecorder recorder;
    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log().lines.last(), kCannotUnpack);
    ASSERT_EQ(recorder.warnings.size(), 1) << recorder.warnings.join(u'|').toStdString();
    EXPECT_TRUE(recorder.warnings[0].startsWith(QStringLiteral("pelnavi.update: package refused: ")))
        << recorder.warnings[0].toStdString();
}

} // namespace

namespace {

// An https package address: the whole chain over TLS with an authority trusted through SSL_CERT_FILE,
// and the two lines of a secure connection that fails, each with its reason in the log.
TEST_F(UpdateTest, AnHttpsPackageAddress) {
    QTemporaryDir folder;
    const TestAuthority authority;
    const QString authorityFile = folder.filePath(QStringLiteral("authority.pem"));
    authority.WriteCertificate(authorityFile);
    const ScopedVariable certificateFile("SSL_CERT_FILE", QFile::encodeName(authorityFile));
    const ScopedVariable certificateFolder("SSL_CERT_DIR", std::nullopt);
    const QByteArray names = "DNS:localhost,IP:127.0.0.1";
    {
        LoopbackServer server(
            {Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(SamplePackage()))}},
            authority.Issue(names));
        TForm1& window = StartAgainst(server);
        ASSERT_TRUE(window.Edit_Url->text().startsWith(QStringLiteral("https://")));
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return log().lines.contains(kDone); }, 30000))
            << log().lines.join(u'|').toStdString();
        EXPECT_EQ(log().lines, (QStringList{kWaiting, kDownloading, kDownloaded, kExtracting, kDone}));
        EXPECT_EQ(window.TVList->count(), 2);
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), SamplePackage());
        ASSERT_TRUE(WaitForTheEnd(window));
    }

    const TestAuthority stranger("Someone Else's Authority");
    LoopbackServer untrusted(
        {Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(SamplePackage()))}},
        stranger.Issue(names));
    LoopbackServer plain({Script{LoopbackServer::Send("HTTP/1.1 400 Bad Request\r\n\r\n")}});
    const struct {
        const char* name;
        QString address;
        QString line;
        QString reason;
    } cases[] = {
        {"a certificate no trusted authority signed", untrusted.Url(QStringLiteral("/showtime.zip")),
         QStringLiteral("更新失败：服务器证书无效"), QStringLiteral("Server certificate not accepted: ")},
        {"a server that speaks no TLS", QStringLiteral("https://127.0.0.1:%1/showtime.zip").arg(plain.Port()),
         QStringLiteral("更新失败：无法建立安全连接"), QStringLiteral("Secure connection failed: ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteDataFile(QStringLiteral("zorq.zip"), "earlier package");
        TForm1& window = StartAgainst(untrusted);
        window.Edit_Url->setText(c.address);
        WarningRecorder recorder;
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return window.Timer1->Enabled(); }, 1000));
        ASSERT_TRUE(WaitForTheEnd(window));
        EXPECT_EQ(log().lines, (QStringList{kWaiting, c.line}));
        ASSERT_EQ(recorder.warnings.size(), 1) << recorder.warnings.join(u'|').toStdString();
        EXPECT_TRUE(
            recorder.warnings[0].startsWith(QStringLiteral("pelnavi.update: download stopped: ") + c.reason))
            << recorder.warnings[0].toStdString();
        EXPECT_EQ(ReadAll(DataFolder() + QStringLiteral("zorq.zip")), QByteArray("earlier package"));
    }
    EXPECT_TRUE(untrusted.Requests().empty());
}

} // namespace
