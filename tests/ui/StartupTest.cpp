#include "tests/support/DesktopEntryValidator.h"
#include "tests/support/Files.h"
#include "tests/ui/WindowFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

namespace {

const QString kInitialStatus = WelcomeLine() + QStringLiteral("   win7系统下请在非系统盘运行");

using StartupTest = WindowFixture;

TEST_F(StartupTest, PlainStartScansWritesTheLibraryAndPutsTheShortcutOnTheDesktop) {
    TForm1& window = Start();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelnavi系统1.32.2011916"));
    EXPECT_EQ(AppPath, ProgramFolder());
    EXPECT_TRUE(QFileInfo(DataFolder()).isDir());
    // The library lands in the working directory, not beside the executable.
    EXPECT_EQ(ReadAll(WorkingFolder() + QStringLiteral("7z.dll")), ReadAll(QStringLiteral(":/rsrc/DLL/7Z")));
    EXPECT_FALSE(QFileInfo::exists(ProgramFolder() + QStringLiteral("7z.dll")));
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("共0个频道 ") + WelcomeLine());
    EXPECT_TRUE(MemoLines(window.TVListBox).isEmpty());
    const QByteArray shortcut = ReadAll(DesktopFolder() + QStringLiteral("Pelnavi.desktop"));
    EXPECT_TRUE(shortcut.contains("Exec=" + QFile::encodeName(ExecutablePath())));
    EXPECT_TRUE(shortcut.contains("Path=" + QFile::encodeName(ProgramFolder())));
    EXPECT_EQ(DesktopEntryProblems(DesktopFolder() + QStringLiteral("Pelnavi.desktop")), QString());
}

TEST_F(StartupTest, AnOldLibraryFileIsReplaced) {
    QFile old(WorkingFolder() + QStringLiteral("7z.dll"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5'000'000, 'x'));
    old.close();
    Start({QStringLiteral("x")});
    EXPECT_EQ(ReadAll(WorkingFolder() + QStringLiteral("7z.dll")), ReadAll(QStringLiteral(":/rsrc/DLL/7Z")));
}

TEST_F(StartupTest, OnlyTheUpSwitchInAnyCaseStartsAnUpdate) {
    struct Case {
        QStringList arguments;
        int statusLines;
    };
    const Case cases[] = {
        {{"-up"}, 1}, {{"-UP"}, 1},  {{"-Up"}, 1},        {{"/up"}, 0},
        {{"up"}, 0},  {{"--up"}, 0}, {{"-up", "-up"}, 2}, {{"x", "-uP"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        TForm1& window = Start(c.arguments);
        EXPECT_EQ(MemoLines(window.TVListBox),
                  QStringList(c.statusLines, QStringLiteral("请稍后正在更新数据.")));
        EXPECT_EQ(window.Timer1->Enabled(), c.statusLines > 0);
        // With any argument there is no scan and no shortcut.
        EXPECT_EQ(window.SBPanel0->text(),
                  c.statusLines > 0 ? QStringLiteral("请稍后正在更新数据.") : kInitialStatus);
        EXPECT_FALSE(QFileInfo::exists(DesktopFolder() + QStringLiteral("Pelnavi.desktop")));
    }
}

TEST_F(StartupTest, ALibraryFileThatCannotBeWrittenIsShownAndSkipsTheRestOfTheStart) {
    ASSERT_TRUE(QDir().mkpath(WorkingFolder() + QStringLiteral("7z.dll"))); // a folder takes the name
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 朝闻天下\r\n");
    ModalBoxRecord box;
    AnswerNextModalBox(box);
    TForm1& window = Start({QStringLiteral("-up")});
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, QStringLiteral("Pelnavi系统"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.text,
              QStringLiteral("Cannot create file \"%1\". Is a directory.").arg(WorkingFolder() + "7z.dll"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelnavi系统1.32.2011916"));
    EXPECT_TRUE(QFileInfo(DataFolder()).isDir());
    EXPECT_FALSE(window.Timer1->Enabled());
    EXPECT_TRUE(MemoLines(window.TVListBox).isEmpty());

    ModalBoxRecord plainBox;
    AnswerNextModalBox(plainBox);
    TForm1& plain = Start();
    ASSERT_TRUE(plainBox.seen);
    EXPECT_EQ(plain.TVList->count(), 0) << "no scan after the failed write";
    EXPECT_EQ(plain.SBPanel0->text(), kInitialStatus);
    EXPECT_FALSE(QFileInfo::exists(DesktopFolder() + QStringLiteral("Pelnavi.desktop")));
}

TEST_F(StartupTest, PackageAddressComesFromTheEnvironmentWhenSet) {
    {
        const ScopedVariable address("PELNAVI_PACKAGE_URL", "http://127.0.0.1:8080/download/showtime.zip");
        EXPECT_EQ(Start({QStringLiteral("x")}).Edit_Url->text(),
                  QStringLiteral("http://127.0.0.1:8080/download/showtime.zip"));
    }
    const ScopedVariable empty("PELNAVI_PACKAGE_URL", "");
    EXPECT_EQ(Start({QStringLiteral("x")}).Edit_Url->text(),
              QStringLiteral("http://download.zorq.example/download/showtime.zip"));
}

} // namespace

namespace {

// Every entry of a folder, hidden ones included; empty when the folder is missing.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

using InstalledStartTest = WindowFixture;

TEST_F(InstalledStartTest, KeepsItsDataInTheUsersFoldersAndWritesNothingElsewhere) {
    mode = ProgramMode::Installed;
    const struct {
        const char* name;
        QString systemLibrary;
        QString libraryCopy; // empty: nothing written
    } cases[] = {
        {"with the system's library", QString::fromUtf8(kSystemArchiveLibrary), {}},
        {"without it", QStringLiteral("/nonexistent/7z.so"), UserCacheFolder() + QStringLiteral("7z.dll")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        systemLibrary = c.systemLibrary;
        WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 朝闻天下\r\n");
        TForm1& window = Start();
        EXPECT_EQ(AppPath, ProgramFolder());
        EXPECT_EQ(window.TVList->count(), 1) << "the scan reads the user's data folder";
        EXPECT_EQ(window.TVFilepathList->itemText(0), DataFolder() + QStringLiteral("央视频道/01.txt"));
        EXPECT_EQ(Entries(WorkingFolder()), QStringList()) << "nothing in the working directory";
        EXPECT_EQ(Entries(ProgramFolder()), QStringList{QStringLiteral("pelnavi")})
            << "nothing beside the program";
        EXPECT_EQ(Entries(DesktopFolder()), QStringList()) << "the menu entry takes the shortcut's place";
        if (c.libraryCopy.isEmpty())
            EXPECT_EQ(Entries(UserCacheFolder()), QStringList());
        else
            EXPECT_EQ(ReadAll(c.libraryCopy), ReadAll(QStringLiteral(":/rsrc/DLL/7Z")));
        QDir(UserDataFolder()).removeRecursively();
    }
}

TEST_F(InstalledStartTest, TakesItsIconFromTheIconThemeTheEmbeddedOneOtherwise) {
    // An icon theme that holds the installed icon, as the package puts it in hicolor.
    const QString themes = ProgramFolder() + QStringLiteral("icons/");
    const QString theme = themes + QStringLiteral("hicolor/");
    ASSERT_TRUE(QDir().mkpath(theme + QStringLiteral("48x48/apps")));
    QFile index(theme + QStringLiteral("index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    index.close();
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(":/icon/tv-48.png"),
                    theme + QStringLiteral("48x48/apps/%1.png").arg(QString::fromUtf8(kApplicationId))));
    const QStringList previousPaths = QIcon::themeSearchPaths();
    const QString previousTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes});
    QIcon::setThemeName(QStringLiteral("hicolor"));

    for (const ProgramMode way : {ProgramMode::Installed, ProgramMode::Portable}) {
        mode = way;
        const QIcon icon = Start({QStringLiteral("x")}).windowIcon();
        EXPECT_EQ(icon.name(), way == ProgramMode::Installed ? QString::fromUtf8(kApplicationId) : QString());
        EXPECT_FALSE(icon.isNull());
    }
    QIcon::setThemeName(previousTheme);
    QIcon::setThemeSearchPaths(previousPaths);
}

} // namespace
