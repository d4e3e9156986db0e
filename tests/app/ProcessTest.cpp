// The program as a user starts it: real processes of the built executable.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

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

    // Starts the program in the working folder with a private login (lock folder) and home.
    void Launch(QProcess& process, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("run"));
        environment.insert(QStringLiteral("HOME"), Path("home"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("home/.config"));
        environment.remove(QStringLiteral("PELNAVI_PACKAGE_URL"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(Path("work"));
        process.start(Path("app/pelnavi"), arguments);
        ASSERT_TRUE(process.waitForStarted());
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

} // namespace
