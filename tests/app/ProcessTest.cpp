// The program as a user starts it: real processes of the built executable.
#include "platform/Network.h"
#include "platform/ProgramPlaces.h"
#include "tests/support/DesktopEntryValidator.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ZipWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        for (const char* folder : {"app", "work", "run", "home/Desktop"})
            ASSERT_TRUE(QDir(root_.path()).mkpath(QString::fromLatin1(folder)));
        QFile::setPermissions(Path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(QFile::copy(QStringLiteral(PELNAVI_EXECUTABLE), Path("app/pelnavi")));
    }

    QString Path(const char* relative) const { return root_.path() + u'/' + QString::fromUtf8(relative); }

    // Starts the program in the working folder with a private login (lock folder) and home, with
    // the user's data and cache folders in the temporary folder too.
    void Launch(QProcess& process, const QStringList& arguments, const QString& program = {},
                const QProcessEnvironment& extra = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("run"));
        environment.insert(QStringLiteral("HOME"), Path("home"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("home/.config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), Path("data"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
        environment.remove(QStringLiteral("PELNAVI_PACKAGE_URL"));
        environment.insert(extra);
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(Path("work"));
        process.start(program.isEmpty() ? Path("app/pelnavi") : program, arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    // Runs a tool to its end; its exit code, -1 when it could not run. Its output goes to `output`.
    static int Run(const QString& program, const QStringList& arguments, QString& output) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        output = QString::fromUtf8(process.readAll());
        return process.exitCode();
    }

    static QStringList Entries(const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (condition())
                return true;
            QThread::msleep(50);
        }
        return condition();
    }

    QTemporaryDir root_;
};

// A private X server for key presses from outside, as a user makes them. Xvfb picks a free display
// itself and names it on its standard output.
class VirtualDisplay final {
public:
    VirtualDisplay() {
        server_.start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                       QStringLiteral("1024x768x24")});
        if (server_.waitForStarted() && server_.waitForReadyRead(20000))
            name_ = u':' + QString::fromLatin1(server_.readLine().trimmed());
    }
    ~VirtualDisplay() {
        server_.terminate();
        server_.waitForFinished(10000);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":<number>", empty when the server did not start.
    const QString& Name() const { return name_; }

    // What a program needs to show its window here. There is no session bus in this test world;
    // without an address the bus library (loaded by Qt's X platform) would try to start one.
    QProcessEnvironment ProgramEnvironment() const {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), name_);
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent"));
        return environment;
    }

    // Runs xdotool on this display; its standard output, or nothing when it failed.
    std::optional<QByteArray> XdoTool(const QStringList& arguments) const {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), name_);
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral("xdotool"), arguments);
        if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit ||
            tool.exitCode() != 0) {
            tool.kill();
            tool.waitForFinished();
            return std::nullopt;
        }
        return tool.readAllStandardOutput();
    }

private:
    QProcess server_;
    QString name_;
};

TEST_F(ProcessTest, EnterReturnAndKeypadEnterOnExitRightAfterTheStartEndTheProgram) {
    VirtualDisplay display;
    ASSERT_FALSE(display.Name().isEmpty()) << "Xvfb did not start";
    for (const char* key : {"Return", "KP_Enter", "space"}) {
        SCOPED_TRACE(key);
        QProcess program;
        Launch(program, {QStringLiteral("x")}, {}, display.ProgramEnvironment());
        const auto window = display.XdoTool({QStringLiteral("search"), QStringLiteral("--sync"),
                                             QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                             QStringLiteral("^Pelnavi")});
        ASSERT_TRUE(window.has_value());
        // The focus goes to the new window, as a window manager gives it; the window puts it on 退出.
        ASSERT_TRUE(display.XdoTool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                                     QString::fromLatin1(window->split('\n').front())}));
        ASSERT_TRUE(display.XdoTool({QStringLiteral("key"), QString::fromLatin1(key)}));
        ASSERT_TRUE(program.waitForFinished(20000)) << "the window stayed open";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    }
}

TEST_F(ProcessTest, ASecondStartEndsAtOnceAndSilentlyAlsoWithUp) {
    QProcess first;
    Launch(first, {QStringLiteral("x")});
    // The first copy has created its window once the library lies in its working directory.
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(Path("work/7z.dll")).size() > 1'000'000; }, 60000));
    EXPECT_TRUE(QFileInfo(Path("app/ZORQListTemp")).isDir()) << "the data folder lies beside the executable";
    ASSERT_TRUE(QFile::remove(Path("work/7z.dll")));

    for (const QString& argument : {QStringLiteral("-up"), QString()}) {
        QProcess second;
        Launch(second, argument.isEmpty() ? QStringList() : QStringList{argument});
        ASSERT_TRUE(second.waitForFinished(20000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_FALSE(QFileInfo::exists(Path("work/7z.dll"))) << "the second copy wrote nothing";
        EXPECT_FALSE(QFileInfo::exists(Path("home/Desktop/Pelnavi.desktop")));
    }
    EXPECT_EQ(first.state(), QProcess::Running) << "the running copy noticed nothing";

    // Ending the session closes the window like its close box: exit code 0.
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);

    // With the first copy gone, the next start runs.
    QProcess third;
    Launch(third, {QStringLiteral("x")});
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(Path("work/7z.dll")).size() > 1'000'000; }, 60000));
    third.terminate();
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 0);
}

// The login lock lies where the environment says; two copies of one portable folder started with
// different runtime folders would otherwise both run and write into one data folder.
TEST_F(ProcessTest, TwoCopiesOfOnePortableFolderNeverRunTogetherWhateverTheirEnvironment) {
    ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("run2")));
    QFile::setPermissions(Path("run2"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess first;
    Launch(first, {QStringLiteral("x")});
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(Path("work/7z.dll")).size() > 1'000'000; }, 60000));
    ASSERT_TRUE(QFile::remove(Path("work/7z.dll")));

    QProcessEnvironment otherLogin;
    otherLogin.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("run2"));
    QProcess second;
    Launch(second, {QStringLiteral("x")}, {}, otherLogin);
    ASSERT_TRUE(second.waitForFinished(20000)) << "the second copy runs beside the first";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardError(), QByteArray()) << "silently";
    EXPECT_FALSE(QFileInfo::exists(Path("work/7z.dll"))) << "the second copy wrote nothing";
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_FALSE(QFileInfo::exists(Path("app/.Pelnavi系统.lock"))) << "nothing is left beside the program";
}

// Every folder of a tree read-only, as the system's folders are to a user; undone on the way out,
// so that the temporary folder can go.
class ReadOnlyTree final {
public:
    explicit ReadOnlyTree(QString root) : root_(std::move(root)) { Set(0555); }
    ~ReadOnlyTree() { Set(0755); }
    ReadOnlyTree(const ReadOnlyTree&) = delete;
    ReadOnlyTree& operator=(const ReadOnlyTree&) = delete;

private:
    void Set(mode_t mode) const {
        QStringList folders{root_};
        for (QDirIterator it(root_, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();)
            folders << it.next();
        for (const QString& folder : folders)
            ::chmod(QFile::encodeName(folder).constData(), mode);
    }
    QString root_;
};

QByteArray OkResponse(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray PackageHolding(const QByteArray& name) {
    ZipWriter zip;
    zip.AddFile("a/" + name, "06:00 news\r\n");
    return zip.Bytes();
}

// The tree that `cmake --install` lays out, started as a user starts an installed program: from a
// folder the user cannot write, with a private home.
TEST_F(ProcessTest, AnInstalledTreeKeepsItsDataInTheUsersFolders) {
    const QString prefix = Path("prefix");
    QString output;
    const QStringList install{"--install", PELNAVI_BINARY_DIR, "--prefix", prefix};
    ASSERT_EQ(Run(QStringLiteral(PELNAVI_CMAKE), install, output), 0) << output.toStdString();
    const QString id = QString::fromUtf8(kApplicationId);
    const QString desktopEntry = prefix + "/share/applications/" + id + ".desktop";
    const QString metainfo = prefix + "/share/metainfo/" + id + ".metainfo.xml";
    QStringList installed{prefix + "/bin/pelnavi", desktopEntry, metainfo,
                          prefix + "/share/icons/hicolor/scalable/apps/" + id + ".svg"};
    // The schedule exporter belongs to the installation wherever the build makes it.
    if (QFileInfo::exists(PELNAVI_BINARY_DIR "/bin/pelnavi-xmltv"))
        installed << prefix + "/bin/pelnavi-xmltv";
    for (int size : {16, 24, 32, 48, 64, 128})
        installed << prefix + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size) + id + ".png";
    for (const QString& file : installed)
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    EXPECT_EQ(DesktopEntryProblems(desktopEntry), QString());
    const QStringList validate{"validate", "--no-net", metainfo};
    EXPECT_EQ(Run("appstreamcli", validate, output), 0) << output.toStdString();
    const ReadOnlyTree readOnly(prefix);

    // An update started with "-up" shows that no error box stopped the start. It needs the system
    // to report a network connection (the probe and the package server are on the loopback).
    if (!SystemReportsConnection())
        GTEST_SKIP() << "no network interface is up: the online test stops every update";
    const QByteArray first = PackageHolding("first.txt"), second = PackageHolding("second.txt");
    LoopbackServer server({{LoopbackServer::ReadRequest(), LoopbackServer::Send(OkResponse(first))},
                           {LoopbackServer::ReadRequest(), LoopbackServer::Send(OkResponse(second))}});
    const auto probe = LoopbackServer::AnsweringEveryGet("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    QProcessEnvironment servers;
    servers.insert("PELNAVI_PACKAGE_URL", server.Url("/download/showtime.zip"));
    servers.insert("PELNAVI_PROBE_URL", probe->Url("/"));
    const QString dataFolder = Path("data/Pelnavi/ZORQListTemp/");

    // The second start finds the data and the library the first left, and still starts silently.
    for (const char* listing : {"first.txt", "second.txt"}) {
        SCOPED_TRACE(listing);
        QProcess program;
        Launch(program, {QStringLiteral("-up")}, prefix + "/bin/pelnavi", servers);
        EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(dataFolder + "a/" + listing); }, 60000))
            << program.readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }
    EXPECT_EQ(ReadAll(dataFolder + "zorq.zip"), second);
    EXPECT_EQ(Entries(Path("work")), QStringList()) << "nothing in the working directory";
    EXPECT_FALSE(Entries(prefix + "/bin").contains("ZORQListTemp"));
    EXPECT_EQ(Entries(Path("home/Desktop")), QStringList());
    if (QFileInfo(QString::fromUtf8(kSystemArchiveLibrary)).isFile())
        EXPECT_FALSE(QFileInfo::exists(Path("cache/Pelnavi/7z.dll"))) << "the system's library serves";
    else
        EXPECT_TRUE(QFileInfo(Path("cache/Pelnavi/7z.dll")).isFile());
}

TEST_F(ProcessTest, ALockThatCannotBeOpenedEndsTheProgramWithOneLineSayingWhy) {
    // A folder stands where the lock file goes.
    ASSERT_TRUE(QDir(Path("run")).mkdir(QStringLiteral("Pelnavi系统.lock")));
    QProcess process;
    Launch(process, {});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(error.count(u'\n'), 1) << error.toStdString();
    EXPECT_TRUE(error.contains(Path("run") + QStringLiteral("/Pelnavi系统.lock"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("work/7z.dll"))) << "no window was made";
}

// A desktop logout in the middle of a download: the program ends at once and saves nothing.
TEST_F(ProcessTest, TerminationDuringAFetchEndsTheProgramPromptlyWithoutSavingThePackage) {
    if (!SystemReportsConnection())
        GTEST_SKIP() << "the system reports no network connection, so no update would start";
    const auto probe = LoopbackServer::AnsweringEveryGet("HTTP/1.1 204 No Content\r\n\r\n");
    LoopbackServer packages(
        {{LoopbackServer::ReadRequest(),
          LoopbackServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + QByteArray(1000, 'z')),
          LoopbackServer::Stall()}});
    QProcess process;
    QProcessEnvironment servers;
    servers.insert(QStringLiteral("PELNAVI_PACKAGE_URL"),
                   packages.Url(QStringLiteral("/download/showtime.zip")));
    servers.insert(QStringLiteral("PELNAVI_PROBE_URL"), probe->Url());
    Launch(process, {QStringLiteral("-up")}, {}, servers);
    ASSERT_TRUE(WaitFor([&] { return !packages.Requests().empty(); }, 60000));
    QThread::msleep(300); // the head and the first bytes of the body are read

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ASSERT_TRUE(process.waitForFinished(20000)) << "the download kept the program alive";
    const qint64 elapsed = sinceSignal.elapsed();
    std::printf("ended %lld ms after SIGTERM\n", static_cast<long long>(elapsed));
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(
        QDir(Path("app/ZORQListTemp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
}

} // namespace
