// The list of sources and the automatic update's options in the settings file: what a change
// writes, what the next start reads back, and a damaged file that is kept aside, never lost.
#include "sources/ScheduleSources.h"

#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kBuiltIn = QString::fromUtf16(kBuiltInSourceName);

QStringList Names(const SourceSettings& settings) {
    QStringList names;
    for (const ScheduleSource& source : settings.Sources())
        names << source.name;
    return names;
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class SourceSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root_.isValid()); }
    QString Path() const { return root_.filePath(QStringLiteral("config/Pelnavi/Pelnavi.conf")); }
    QTemporaryDir root_;
};

TEST_F(SourceSettingsTest, AFreshListIsTheProgramsPackageAloneAndWritesNoFile) {
    SettingsFile file(Path());
    SourceSettings settings(file);
    ASSERT_EQ(settings.Sources().size(), 1);
    const ScheduleSource& builtIn = settings.Sources()[0];
    EXPECT_TRUE(builtIn.BuiltIn());
    EXPECT_EQ(builtIn.name, kBuiltIn);
    EXPECT_TRUE(builtIn.enabled);
    EXPECT_EQ(builtIn.offsetMinutes, 0);
    EXPECT_TRUE(settings.OnlyBuiltInEnabled());
    EXPECT_FALSE(settings.Automatic().enabled);
    EXPECT_EQ(settings.Automatic().dailyTime, QTime(3, 0));
    EXPECT_TRUE(file.LoadProblem().isEmpty());

    // What updates record stays in memory while the person has changed nothing.
    settings.RecordResult(builtIn.id, QDateTime(QDate(2026, 12, 10), QTime(3, 0)), QStringLiteral("成功"));
    settings.RecordStart(QDateTime(QDate(2026, 12, 10), QTime(3, 0)));
    settings.RecordEnd(QDateTime(QDate(2026, 12, 10), QTime(3, 1)), true, false);
    EXPECT_EQ(settings.Sources()[0].result, QStringLiteral("成功"));
    EXPECT_FALSE(QFileInfo::exists(Path())) << "the fixed configuration needs no file";

    EXPECT_FALSE(settings.Remove(0)) << "the program's package cannot be deleted";
    settings.SetEnabled(0, false);
    EXPECT_TRUE(QFileInfo::exists(Path())) << "a change is written at once";
    EXPECT_FALSE(settings.OnlyBuiltInEnabled());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(Path()).absolutePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u) << "the configuration folder is the user's own";
}

TEST_F(SourceSettingsTest, EveryChangeIsReadBackByTheNextStart) {
    const QDateTime updated(QDate(2026, 12, 10), QTime(3, 0, 5));
    {
        SettingsFile file(Path());
        SourceSettings settings(file);
        EXPECT_EQ(settings.Add(QStringLiteral("  https://epg.example.net/guide.xml.gz  ")), QString());
        EXPECT_EQ(settings.Add(QStringLiteral("http://127.0.0.1:8080/epg.xml")), QString());
        EXPECT_EQ(settings.Add(QStringLiteral("HTTPS://EPG.example.net/other.xml")), QString());
        EXPECT_EQ(Names(settings),
                  (QStringList{kBuiltIn, "epg.example.net", "127.0.0.1", "epg.example.net (2)"}));
        settings.SetName(1, QStringLiteral("央视 “高清” = [源]; #1"));
        settings.SetName(2, QStringLiteral("   ")); // a blank name keeps the old one
        settings.SetOffset(1, -480);
        settings.SetOffset(2, 5000);
        EXPECT_TRUE(settings.Move(0, 1));
        EXPECT_FALSE(settings.Move(0, -1));
        EXPECT_FALSE(settings.Move(3, 1));
        settings.SetEnabled(1, false);
        EXPECT_TRUE(settings.Remove(3));
        settings.SetAutomatic({true, QTime(5, 30)});
        settings.RecordResult(settings.Sources()[0].id, updated,
                              QStringLiteral("成功：513个频道，17803个节目"));
        settings.RecordStart(updated);
        settings.RecordEnd(updated.addSecs(60), true, true);
    }
    SettingsFile file(Path());
    SourceSettings settings(file);
    EXPECT_TRUE(file.LoadProblem().isEmpty()) << file.LoadProblem().toStdString();
    ASSERT_EQ(settings.Sources().size(), 3);
    const ScheduleSource& first = settings.Sources()[0];
    EXPECT_EQ(first.name, QStringLiteral("央视 “高清” = [源]; #1"));
    EXPECT_EQ(first.address, QStringLiteral("https://epg.example.net/guide.xml.gz"));
    EXPECT_EQ(first.id, QStringLiteral("epg.example.net.source"));
    EXPECT_EQ(first.offsetMinutes, -480);
    EXPECT_TRUE(first.enabled);
    EXPECT_EQ(first.lastUpdate, updated);
    EXPECT_EQ(first.result, QStringLiteral("成功：513个频道，17803个节目"));
    EXPECT_TRUE(settings.Sources()[1].BuiltIn());
    EXPECT_FALSE(settings.Sources()[1].enabled);
    EXPECT_EQ(settings.Sources()[1].address, QString()) << "the program's own address is never stored";
    EXPECT_EQ(settings.Sources()[2].name, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(settings.Sources()[2].offsetMinutes, 720) << "clamped";
    EXPECT_TRUE(settings.Automatic().enabled);
    EXPECT_EQ(settings.Automatic().dailyTime, QTime(5, 30));
    EXPECT_EQ(settings.History().lastStart, updated);
    EXPECT_EQ(settings.History().lastSuccess, updated.addSecs(60));
    EXPECT_EQ(settings.History().failuresInRow, 1);
    // INI text a person can read and edit.
    const QString text = QString::fromUtf8(ReadAll(Path()));
    EXPECT_TRUE(text.contains(QStringLiteral("address=https://epg.example.net/guide.xml.gz")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("automatic=true"))) << text.toStdString();
}

TEST_F(SourceSettingsTest, AddTakesOnlyHttpAndHttpsWithAHost) {
    SettingsFile file(Path());
    SourceSettings settings(file);
    const struct {
        const char* address;
        bool taken;
    } cases[] = {
        {"http://epg.example.net/guide.xml", true},
        {"https://[::1]:8443/guide.xml.gz", true},
        {"https://epg.example.net", true},
        {"", false},
        {"epg.example.net/guide.xml", false},
        {"ftp://epg.example.net/guide.xml", false},
        {"file:///home/me/guide.xml", false},
        {"http://", false},
        {"https:///guide.xml", false},
        {"http://epg.example.net:0/", false},
        {"http://epg.example.net:99999/", false},
        {"http://epg.example.net/my guide.xml", false},
        {"http://epg.example.net/guide.xml", false}, // already in the list
        {"javascript:alert(1)", false},
    };
    qsizetype count = settings.Sources().size();
    for (const auto& c : cases) {
        const QString problem = settings.Add(QString::fromUtf8(c.address));
        EXPECT_EQ(problem.isEmpty(), c.taken) << c.address << ": " << problem.toStdString();
        if (c.taken)
            ++count;
        EXPECT_EQ(settings.Sources().size(), count) << c.address;
    }
    EXPECT_EQ(settings.Sources()[2].id, QStringLiteral("__1.source")) << "a plain file name for an IPv6 host";
}

// Each a file that the list cannot come from. It is kept aside whole, the defaults are used, and
// the next change writes a new file beside the kept one.
TEST_F(SourceSettingsTest, ADamagedFileIsKeptAsideAndTheDefaultsAreUsed) {
    const struct {
        const char* name;
        QByteArray bytes; // empty: a folder or a pipe stands at the path
        int kind;         // 0 file, 1 folder, 2 named pipe
    } cases[] = {
        {"a section never closed", "[sources\nsize=1\n", 0},
        {"binary", QByteArray("\x00\x01\xff\xfe[x]\x00", 8), 0},
        {"a source without an address", "[sources]\nsize=1\n1\\id=epg.source\n1\\name=x\n", 0},
        {"a source with an ftp address", "[sources]\nsize=1\n1\\id=a.source\n1\\address=ftp://x/y\n", 0},
        {"the same source twice",
         "[sources]\nsize=2\n1\\id=a.source\n1\\address=http://a/\n2\\id=a.source\n2\\address=http://b/\n",
         0},
        {"an offset beyond half a day", "[sources]\nsize=1\n1\\id=default\n1\\offset=9999\n", 0},
        {"an id that leaves the folder", "[sources]\nsize=1\n1\\id=../../x.source\n1\\address=http://a/\n",
         0},
        {"a daily time that is none", "[update]\ndailyTime=25:99\n", 0},
        {"a folder", {}, 1},
        {"a named pipe", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root_.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()));
        if (c.kind == 0)
            Write(Path(), c.bytes);
        else if (c.kind == 1)
            ASSERT_TRUE(QDir().mkpath(Path()));
        else
            ASSERT_EQ(::mkfifo(QFile::encodeName(Path()).constData(), 0600), 0);

        SettingsFile file(Path());
        SourceSettings settings(file);
        EXPECT_EQ(Names(settings), QStringList{kBuiltIn});
        EXPECT_FALSE(settings.Automatic().enabled);
        EXPECT_TRUE(file.LoadProblem().contains(QStringLiteral("Pelnavi.conf.bak")))
            << file.LoadProblem().toStdString();
        const QString kept = Path() + QStringLiteral(".bak");
        if (c.kind == 0) {
            EXPECT_EQ(ReadAll(kept), c.bytes);
        } else {
            EXPECT_TRUE(QFileInfo::exists(kept));
        }

        EXPECT_EQ(settings.Add(QStringLiteral("http://epg.example.net/")), QString());
        SettingsFile again(Path());
        EXPECT_TRUE(again.LoadProblem().isEmpty());
        EXPECT_EQ(Names(SourceSettings(again)), (QStringList{kBuiltIn, "epg.example.net"}));
        if (c.kind == 0) {
            EXPECT_EQ(ReadAll(kept), c.bytes) << "the kept file is left alone";
        }
    }
}

TEST_F(SourceSettingsTest, AListWithoutTheProgramsPackageGetsItFirst) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()));
    Write(Path(),
          "[sources]\nsize=1\n1\\id=a.source\n1\\name=A\n1\\address=http://a.example/\n1\\enabled=false\n");
    SettingsFile file(Path());
    SourceSettings settings(file);
    EXPECT_TRUE(file.LoadProblem().isEmpty());
    EXPECT_EQ(Names(settings), (QStringList{kBuiltIn, "A"}));
    EXPECT_TRUE(settings.OnlyBuiltInEnabled());
}

TEST_F(SourceSettingsTest, AFileThatCannotBeWrittenIsReported) {
    // The configuration folder's place is taken by a plain file, so nothing can be made there.
    ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("config"))));
    Write(root_.filePath(QStringLiteral("config/Pelnavi")), "not a folder");
    SettingsFile file(Path());
    SourceSettings settings(file);
    EXPECT_EQ(settings.Add(QStringLiteral("http://epg.example.net/")), QString());
    EXPECT_EQ(settings.Sources().size(), 2) << "the change holds for this run";
    EXPECT_FALSE(file.WriteProblem().isEmpty());
}

} // namespace
