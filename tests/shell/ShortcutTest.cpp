#include "shell/Unit_Shortcuts.h"

#include "platform/SpecialFolders.h"
#include "tests/support/DesktopEntryValidator.h"
#include "tests/support/Files.h"
#include "tests/support/ScopedEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {}) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    return permissions == QFile::Permissions{} || file.setPermissions(permissions);
}

// Every entry of a folder, hidden ones (a left-over temporary file) included.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

mode_t PermissionBits(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

QString ValueOf(const QByteArray& entry, const QString& key) {
    for (const QString& line : QString::fromUtf8(entry).split(u'\n'))
        if (line.startsWith(key + u'='))
            return line.mid(key.size() + 1);
    return QStringLiteral("<no %1>").arg(key);
}

// A home folder of its own with the desktop named by user-dirs.dirs, so no test ever touches the
// desktop of the machine that runs it.
class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        for (const QString* folder : {&home_, &desktop_, &programs_, &links_})
            ASSERT_TRUE(QDir().mkpath(*folder));
        ASSERT_TRUE(QDir().mkpath(home_ + QStringLiteral("/.config")));
        ASSERT_TRUE(WriteUserDirs("$HOME/Schreibtisch"));
        target_ = MakeProgram(programs_, QStringLiteral("pelnavi"));
        ASSERT_FALSE(target_.isEmpty());
    }

    bool WriteUserDirs(const QByteArray& desktop) {
        return WriteFile(home_ + QStringLiteral("/.config/user-dirs.dirs"),
                         "# written by the test\nXDG_DESKTOP_DIR=\"" + desktop + "\"\n");
    }

    static QString MakeProgram(const QString& folder, const QString& fileName,
                               const QByteArray& script = "#!/bin/sh\n") {
        const QString path = folder + u'/' + fileName;
        const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        return WriteFile(path, script, executable) ? path : QString();
    }

    static QByteArray ExpectedEntry(const QString& name, const QString& exec, const QString& path) {
        return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nPath=%3\n")
            .arg(name, exec, path)
            .toUtf8();
    }

    QTemporaryDir root_;
    QString home_ = root_.path() + QStringLiteral("/home");
    QString desktop_ = home_ + QStringLiteral("/Schreibtisch");
    QString programs_ = root_.path() + QStringLiteral("/programs");
    QString links_ = root_.path() + QStringLiteral("/links");
    QString target_;
    ScopedVariable homeVariable_{"HOME", QFile::encodeName(home_)};
    ScopedVariable configVariable_{"XDG_CONFIG_HOME", QFile::encodeName(home_ + QStringLiteral("/.config"))};
};

TEST_F(ShortcutTest, DesktopFolderFollowsTheEnvironmentOfTheMoment) {
    EXPECT_EQ(DesktopFolder(), desktop_);
    ASSERT_TRUE(WriteUserDirs("$HOME/桌面"));
    EXPECT_EQ(DesktopFolder(), home_ + QStringLiteral("/桌面"));
    const QString otherConfig = root_.path() + QStringLiteral("/empty-config");
    ASSERT_TRUE(QDir().mkpath(otherConfig));
    ScopedVariable noUserDirs("XDG_CONFIG_HOME", QFile::encodeName(otherConfig));
    EXPECT_EQ(DesktopFolder(), home_ + QStringLiteral("/Desktop"));
}

TEST_F(ShortcutTest, SavesOnTheDesktopForCodeZeroUpOrAnEmptyFolderWithMinusOne) {
    const struct {
        QString folder;
        int32_t code;
    } cases[] = {{QString(), -1}, {QString(), 0}, {links_, 0}, {links_, 5}};
    const QString entryPath = desktop_ + QStringLiteral("/Pelnavi.desktop");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.folder.toStdString() << " code " << c.code);
        QFile::remove(entryPath);
        EXPECT_TRUE(CreateShortcut(target_, QStringLiteral("Pelnavi"), c.folder, c.code));
        EXPECT_EQ(Entries(desktop_), QStringList{QStringLiteral("Pelnavi.desktop")});
        EXPECT_EQ(ReadAll(entryPath), ExpectedEntry(QStringLiteral("Pelnavi"), target_, programs_ + u'/'));
        EXPECT_EQ(PermissionBits(entryPath), 0755u);
        EXPECT_TRUE(Entries(links_).isEmpty());
    }
}

TEST_F(ShortcutTest, ReplacesAnExistingEntryAndNeverWritesThroughALink) {
    const QString entryPath = desktop_ + QStringLiteral("/Pelnavi.desktop");
    const QByteArray expected = ExpectedEntry(QStringLiteral("Pelnavi"), target_, programs_ + u'/');

    ASSERT_TRUE(WriteFile(entryPath, QByteArray(4096, 'x'), QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_TRUE(CreateShortcut(target_, QStringLiteral("Pelnavi"), QString(), -1));
    EXPECT_EQ(ReadAll(entryPath), expected);
    EXPECT_EQ(PermissionBits(entryPath), 0755u);
    EXPECT_EQ(Entries(desktop_), QStringList{QStringLiteral("Pelnavi.desktop")});

    // A link planted under the entry's name is replaced, the file it points at stays as it was.
    const QString outside = root_.path() + QStringLiteral("/outside.txt");
    ASSERT_TRUE(WriteFile(outside, "keep me"));
    ASSERT_TRUE(QFile::remove(entryPath));
    ASSERT_TRUE(QFile::link(outside, entryPath));
    EXPECT_TRUE(CreateShortcut(target_, QStringLiteral("Pelnavi"), QString(), -1));
    EXPECT_FALSE(QFileInfo(entryPath).isSymLink());
    EXPECT_EQ(ReadAll(entryPath), expected);
    EXPECT_EQ(ReadAll(outside), QByteArray("keep me"));
}

TEST_F(ShortcutTest, SavesIntoAGivenFolderForANegativeCode) {
    const struct {
        QString folder;
        int32_t code;
        QString targetName;
        QString name;
        QString expectedFile;
        QString expectedName;
    } cases[] = {
        {links_ + u'/', -1, QStringLiteral("pelnavi"), QStringLiteral("Pelnavi"),
         QStringLiteral("Pelnavi.desktop"), QStringLiteral("Pelnavi")},
        {links_, -3, QStringLiteral("pelnavi"), QStringLiteral("Pelnavi"), QStringLiteral("Pelnavi.desktop"),
         QStringLiteral("Pelnavi")},
        {links_, -1, QStringLiteral("viewer.app.exe"), QString(), QStringLiteral("viewer.app.desktop"),
         QStringLiteral("viewer.app")},
        {links_, -1, QStringLiteral("viewer"), QString(), QStringLiteral("viewer.desktop"),
         QStringLiteral("viewer")},
        {links_, -1, QStringLiteral("tv"), QStringLiteral(" 电视 指南 "),
         QStringLiteral(" 电视 指南 .desktop"), QStringLiteral("\\s电视 指南\\s")},
        {links_, -1, QStringLiteral("tv"), QStringLiteral("a\\b\nc"), QStringLiteral("a\\b\nc.desktop"),
         QStringLiteral("a\\\\b\\nc")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.targetName.toStdString() << " as " << c.name.toStdString());
        for (const QString& entry : Entries(links_))
            ASSERT_TRUE(QFile::remove(links_ + u'/' + entry));
        const QString target = MakeProgram(programs_, c.targetName);
        EXPECT_TRUE(CreateShortcut(target, c.name, c.folder, c.code));
        EXPECT_EQ(Entries(links_), QStringList{c.expectedFile});
        EXPECT_EQ(ValueOf(ReadAll(links_ + u'/' + c.expectedFile), QStringLiteral("Name")), c.expectedName);
        EXPECT_TRUE(Entries(desktop_).isEmpty());
    }
}

TEST_F(ShortcutTest, RefusesWithoutWritingAnything) {
    const QString dangling = programs_ + QStringLiteral("/dangling");
    ASSERT_TRUE(QFile::link(programs_ + QStringLiteral("/gone"), dangling));
    const QString plainFile = programs_ + QStringLiteral("/notes.txt");
    ASSERT_TRUE(WriteFile(plainFile, "not a folder"));
    const struct {
        const char* why;
        QString target;
        QString name;
        QString folder;
        int32_t code;
    } cases[] = {
        {"missing target", programs_ + QStringLiteral("/missing"), QStringLiteral("Pelnavi"), QString(), -1},
        {"empty target", QString(), QStringLiteral("Pelnavi"), QString(), -1},
        {"folder as target", programs_, QStringLiteral("Pelnavi"), QString(), -1},
        {"dangling link as target", dangling, QStringLiteral("Pelnavi"), QString(), -1},
        {"missing given folder", target_, QStringLiteral("Pelnavi"), links_ + QStringLiteral("/missing"), -1},
        {"missing given folder with slash", target_, QStringLiteral("Pelnavi"),
         links_ + QStringLiteral("/missing/"), -1},
        {"file as given folder", target_, QStringLiteral("Pelnavi"), plainFile, -1},
        {"empty folder, code -2", target_, QStringLiteral("Pelnavi"), QString(), -2},
        {"name leaving the folder", target_, QStringLiteral("../escaped"), links_, -1},
        {"name with a NUL", target_, QStringLiteral("Pel") + QChar(u'\0') + QStringLiteral("navi"), links_,
         -1},
        {"target with a NUL", target_ + QChar(u'\0') + QStringLiteral("x"), QStringLiteral("Pelnavi"), links_,
         -1},
        {"folder with a NUL", target_, QStringLiteral("Pelnavi"), links_ + QChar(u'\0') + QStringLiteral("x"),
         -1},
        {"folder no one can write", target_, QStringLiteral("Pelnavi"), QStringLiteral("/proc"), -1},
    };
    const QStringList rootBefore = Entries(root_.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_FALSE(CreateShortcut(c.target, c.name, c.folder, c.code));
        EXPECT_TRUE(Entries(desktop_).isEmpty());
        EXPECT_TRUE(Entries(links_).isEmpty());
        EXPECT_EQ(Entries(root_.path()), rootBefore);
    }
}

TEST_F(ShortcutTest, MissingDesktopFolderIsNotCreated) {
    ASSERT_TRUE(QDir(desktop_).removeRecursively());
    EXPECT_FALSE(CreateShortcut(target_, QStringLiteral("Pelnavi"), QString(), -1));
    EXPECT_FALSE(CreateShortcut(target_, QStringLiteral("Pelnavi"), links_, 0));
    EXPECT_FALSE(QFileInfo::exists(desktop_));
    EXPECT_TRUE(Entries(links_).isEmpty());
}

TEST_F(ShortcutTest, FailedWriteLeavesNoTemporaryFile) {
    // A folder under the entry's name cannot be replaced by a file.
    ASSERT_TRUE(QDir().mkpath(links_ + QStringLiteral("/Pelnavi.desktop")));
    EXPECT_FALSE(CreateShortcut(target_, QStringLiteral("Pelnavi"), links_, -1));
    EXPECT_EQ(Entries(links_), QStringList{QStringLiteral("Pelnavi.desktop")});
    EXPECT_TRUE(QFileInfo(links_ + QStringLiteral("/Pelnavi.desktop")).isDir());
}

TEST_F(ShortcutTest, ReadOnlyFolderGivesFalse) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop the superuser";
    const QString readOnly = root_.path() + QStringLiteral("/read-only");
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_FALSE(CreateShortcut(target_, QStringLiteral("Pelnavi"), readOnly, -1));
    EXPECT_TRUE(Entries(readOnly).isEmpty());
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(ShortcutTest, ExecQuotesTheTargetByTheDesktopEntryRules) {
    const QString dir = programs_ + u'/';
    const struct {
        QString fileName;
        QString exec; // "@" stands for the program folder with its trailing "/"
    } cases[] = {
        {QStringLiteral("pelnavi"), QStringLiteral("@pelnavi")},
        {QStringLiteral("电视.bin"), QStringLiteral("@电视.bin")},
        {QStringLiteral("100%"), QStringLiteral("@100%%")},
        {QStringLiteral("tv guide"), QStringLiteral("\"@tv guide\"")},
        {QStringLiteral("50% off"), QStringLiteral("\"@50%% off\"")},
        {QStringLiteral("it's"), QStringLiteral("\"@it's\"")},
        {QStringLiteral("a(b)"), QStringLiteral("\"@a(b)\"")},
        // Inside quotes ", `, $ and \ take a backslash, and every backslash is then doubled once
        // more by the escapes of a string value.
        {QStringLiteral("say\"hi\""), QStringLiteral("\"@say\\\\\"hi\\\\\"\"")},
        {QStringLiteral("$HOME"), QStringLiteral("\"@\\\\$HOME\"")},
        {QStringLiteral("back`tick"), QStringLiteral("\"@back\\\\`tick\"")},
        {QStringLiteral("back\\slash"), QStringLiteral("\"@back\\\\\\\\slash\"")},
        {QStringLiteral("line\nbreak"), QStringLiteral("\"@line\\nbreak\"")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName.toStdString());
        const QString target = MakeProgram(programs_, c.fileName);
        ASSERT_FALSE(target.isEmpty());
        ASSERT_TRUE(CreateShortcut(target, QStringLiteral("entry"), links_, -1));
        const QByteArray entry = ReadAll(links_ + QStringLiteral("/entry.desktop"));
        EXPECT_EQ(ValueOf(entry, QStringLiteral("Exec")), QString(c.exec).replace(u'@', dir));
        EXPECT_EQ(ValueOf(entry, QStringLiteral("Path")), dir);
        EXPECT_EQ(DesktopEntryProblems(links_ + QStringLiteral("/entry.desktop")), QString());
    }
}

TEST_F(ShortcutTest, RelativeTargetIsSavedAsAnAbsolutePath) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(root_.path()));
    const bool saved =
        CreateShortcut(QStringLiteral("programs/pelnavi"), QStringLiteral("Pelnavi"), links_, -1);
    QDir::setCurrent(previous);
    ASSERT_TRUE(saved);
    const QByteArray entry = ReadAll(links_ + QStringLiteral("/Pelnavi.desktop"));
    EXPECT_EQ(ValueOf(entry, QStringLiteral("Exec")), target_);
    EXPECT_EQ(ValueOf(entry, QStringLiteral("Path")), programs_ + u'/');
}

// GLib's own launcher reads the entry and starts the program: the quoting and the working folder
// are judged by a reader other than ours.
TEST_F(ShortcutTest, DesktopLauncherStartsTheTargetInItsOwnFolder) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        GTEST_SKIP() << "GLib's gio tool is not installed";
    const QString folder = root_.path() + QStringLiteral("/tv $guide");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString report = root_.path() + QStringLiteral("/launched.txt");
    const QByteArray script = "#!/bin/sh\nprintf '%s|%s\\n' \"$0\" \"$(pwd)\" > '" +
                              QFile::encodeName(report) + ".part' && mv '" + QFile::encodeName(report) +
                              ".part' '" + QFile::encodeName(report) + "'\n";
    const QString target = MakeProgram(folder, QStringLiteral("run `it` \\\"now\".sh"), script);
    ASSERT_FALSE(target.isEmpty());
    ASSERT_TRUE(CreateShortcut(target, QString(), links_, -1));
    const QString entry = links_ + QStringLiteral("/run `it` \\\"now\".desktop");
    ASSERT_TRUE(QFileInfo::exists(entry));

    QProcess launcher;
    launcher.start(gio, {QStringLiteral("launch"), entry});
    ASSERT_TRUE(launcher.waitForFinished(30000));
    ASSERT_EQ(launcher.exitCode(), 0) << launcher.readAllStandardError().toStdString();
    const QDeadlineTimer deadline(30000);
    while (!QFileInfo::exists(report) && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(QString::fromUtf8(ReadAll(report)), target + u'|' + folder + u'\n');
}

} // namespace
