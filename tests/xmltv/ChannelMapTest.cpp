#include "xmltv/ChannelMap.h"

#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/WarningRecorder.h"
#include "xmltv/ChannelIdentity.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

bool WriteMap(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

TEST(ChannelMap, RulesInOrder) {
    const ChannelMap map = ChannelMap::Parse(U(u"\xFEFF# comment\r\n"
                                               u"\n"
                                               u"cctv5\t央视频道\t05.txt\r\n"
                                               u"/^CCTV-?1$/\t央视频道\t01\n"
                                               u"卫视\t地方频道\n"
                                               u"  # indented comment\n"
                                               u"坏\t../境外频道\n"
                                               u"坏\t境外频道\tsub/x.txt\n"
                                               u"坏\t\n"
                                               u"/[/\t数字频道\n"
                                               u"\t数字频道\n"
                                               u"体育\t数字频道\tsports.txt\textra\n"
                                               u"体育\t数字频道\n"));
    EXPECT_EQ(map.RuleCount(), 4);
    const struct {
        const char16_t* id;
        QStringList names;
        const char16_t* folder;
        const char16_t* file;
    } cases[] = {
        {u"cctv5.cn", {U(u"体育频道")}, u"央视频道", u"05.txt"},             // by id
        {u"x1", {U(u"Sports"), U(u"CCTV-1")}, u"央视频道", u"01.txt"},       // any display name; ".txt" added
        {u"x2", {U(u"CCTV-12")}, u"数字频道", u"CCTV-12.txt"},               // the expression is anchored
        {u"x3", {U(u"安徽卫视"), U(u"体育")}, u"地方频道", u"安徽卫视.txt"}, // first rule wins
        {u"x4", {U(u"坏")}, u"数字频道", u"坏.txt"},                         // unsafe rules were left out
        {u"x5", {U(u"体育新闻")}, u"数字频道", u"体育新闻.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U(c.id).toStdString());
        const ChannelPlace place = map.Place(U(c.id), c.names);
        EXPECT_EQ(place.classFolder, U(c.folder));
        EXPECT_EQ(place.fileName, U(c.file));
    }
}

TEST(ChannelMap, PatternsIgnoreCaseAndMatchTheKey) {
    const ChannelMap map = ChannelMap::Parse(U(u"cctv5\t央视频道\t05.txt\n"
                                               u"/^bbc/\t境外频道\tbbc.txt\n"
                                               u"ＮＥＷＳ\t境外频道\n"
                                               u"/^cctv4k$/\t数字频道\t4k.txt\n"
                                               u"凤凰卫视\t境外频道\n"));
    const struct {
        const char16_t* id;
        QStringList names;
        const char16_t* place;
    } cases[] = {
        {u"CCTV5.cn", {}, u"央视频道/05.txt"},                          // upper-case id
        {u"x", {U(u"ＣＣＴＶ５ 体育")}, u"央视频道/05.txt"},            // full-width name
        {u"x", {U(u"CCTV-5 HD")}, u"央视频道/05.txt"},                  // by the key "cctv5"
        {u"x", {u"BBC World News"_qs}, u"境外频道/bbc.txt"},            // a regular expression
        {u"x", {u"Sky news"_qs}, u"境外频道/Sky news.txt"},             // a full-width pattern
        {u"x", {U(u"CCTV 4K 超高清")}, u"数字频道/4k.txt"},             // by the key "cctv4k"
        {u"x", {U(u"鳳凰衛視資訊台")}, u"境外频道/鳳凰衛視資訊台.txt"}, // Traditional, by the key
        {u"x", {U(u"CCTV-4")}, u"数字频道/CCTV-4.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names.value(0, U(c.id)).toStdString());
        const ChannelPlace place = map.Place(U(c.id), c.names);
        EXPECT_EQ(place.classFolder + u'/' + place.fileName, U(c.place));
    }
}

TEST(ChannelMap, ARuleThatDoesNotCompileIsNamedOnceAndSkipped) {
    WarningRecorder log;
    const ChannelMap map = ChannelMap::Parse(U(u"/(unclosed/\t境外频道\n卫视\t地方频道\n"));
    EXPECT_EQ(map.RuleCount(), 1);
    ASSERT_EQ(log.warnings.size(), 1);
    EXPECT_TRUE(log.warnings[0].contains(u"(unclosed"_qs)) << log.warnings[0].toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(map.Place(u"id"_qs, {U(u"安徽卫视")}).classFolder, U(u"地方频道"));
    EXPECT_EQ(log.warnings.size(), 1) << "placing channels names it no more";
}

// The fenced blocks of the README's part about feeds that hold tab-separated lines, in order.
QStringList ReadmeTabbedBlocks() {
    const QString readme = QString::fromUtf8(ReadAll(QStringLiteral(PELNAVI_SOURCE_DIR "/README.md")));
    const qsizetype from = readme.indexOf(u"**One channel, many spellings.**"_qs);
    const qsizetype to = readme.indexOf(u"**XMLTV out.**"_qs);
    EXPECT_TRUE(from > 0 && to > from) << "the README's part on feeds moved";
    QStringList blocks;
    const QStringList pieces = readme.mid(from, to - from).split(u"```"_qs);
    for (qsizetype i = 1; i < pieces.size(); i += 2) {
        if (pieces[i].contains(u'\t'))
            blocks.append(pieces[i]);
    }
    return blocks;
}

TEST(ChannelMap, TheReadmesExamplesWorkAsWritten) {
    const QStringList blocks = ReadmeTabbedBlocks();
    ASSERT_EQ(blocks.size(), 2) << "the alias example, then the map example";

    const ChannelAliases aliases = ChannelAliases::Parse(blocks[0]);
    for (const auto& [id, name] : {std::pair{u"a"_qs, U(u"中央一台")}, std::pair{u"CCTV1.CN"_qs, QString()},
                                   std::pair{u"c"_qs, u"CCTV1 HD"_qs}}) {
        SCOPED_TRACE(id.toStdString());
        EXPECT_EQ(aliases.Identify({id}, name.isEmpty() ? QStringList() : QStringList{name}).name,
                  U(u"CCTV-1 综合"));
    }

    const ChannelMap map = ChannelMap::Parse(blocks[1]);
    EXPECT_EQ(map.RuleCount(), 3);
    const struct {
        const char16_t* id;
        const char16_t* name;
        const char16_t* place;
    } cases[] = {
        {u"CCTV5", u"", u"央视频道/05.txt"},           {u"a", u"CCTV-1", u"央视频道/01.txt"},
        {u"b", u"cctv1 HD", u"央视频道/01.txt"},       {u"c", u"CCTV-12", u"数字频道/CCTV-12.txt"},
        {u"d", u"广东卫视", u"地方频道/广东卫视.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U(c.id).toStdString());
        const QStringList names = U(c.name).isEmpty() ? QStringList() : QStringList{U(c.name)};
        const ChannelPlace place = map.Place(U(c.id), names);
        EXPECT_EQ(place.classFolder + u'/' + place.fileName, U(c.place));
    }
}

TEST(ChannelMap, DefaultRules) {
    const ChannelMap map = ChannelMap::Parse(DefaultChannelMapText());
    const struct {
        const char16_t* name;
        const char16_t* folder;
        const char16_t* file;
    } cases[] = {
        {u"ZORQ-1 中央", u"央视频道", u"01.txt"},
        {u"ZORQ-10 科教", u"央视频道", u"10.txt"},
        {u"ZORQ-9 纪录(英)", u"央视频道", u"09(英).txt"},
        {u"ZORQ-9 纪录", u"央视频道", u"09.txt"},
        {u"ZORQ-4 中文国际(欧)", u"央视频道", u"04(欧洲).txt"},
        {u"ZORQ-13 ZORQ-13 新闻", u"央视频道", u"13.txt"},
        {u"ZORQ-14 ZORQ-少儿台", u"央视频道", u"14.txt"},
        {u"ZORQ-NEWS", u"境外频道", u"news.txt"},
        {u"ZORQ-高清台", u"数字频道", u"高清.txt"},
        {u"安徽卫视", u"地方频道", u"安徽卫视.txt"},
        {u"凤凰卫视中文台", u"境外频道", u"凤凰卫视中文台.txt"},
        {u"TVB 香港台", u"境外频道", u"TVB 香港台.txt"},
        {u"风云足球", u"数字频道", u"风云足球.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U(c.name).toStdString());
        const ChannelPlace place = map.Place(u"id"_qs, {U(c.name)});
        EXPECT_EQ(place.classFolder, U(c.folder));
        EXPECT_EQ(place.fileName, U(c.file));
    }
}

TEST(ChannelMap, LoadWritesTheDefaultFileOnceAndKeepsTheUsersFile) {
    QTemporaryDir folder;
    const QString path = folder.filePath("channel-classes.map");
    EXPECT_EQ(LoadChannelMap(folder.path()).Place(u"id"_qs, {U(u"安徽卫视")}).classFolder, U(u"地方频道"));
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(written.readAll()), DefaultChannelMapText());
    written.close();

    QFile edited(path);
    ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
    edited.write(U(u"卫视\t境外频道\n").toUtf8());
    edited.close();
    EXPECT_EQ(LoadChannelMap(folder.path()).Place(u"id"_qs, {U(u"安徽卫视")}).classFolder, U(u"境外频道"));
}

TEST(ChannelMap, AMapOfTheOldNameIsRenamedOnce) {
    const auto write = [](const QString& path, const QString& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    };
    QTemporaryDir folder;
    const QString old = folder.filePath("channel-classes.txt");
    const QString map = folder.filePath("channel-classes.map");
    write(old, U(u"卫视\t境外频道\n"));
    EXPECT_EQ(LoadChannelMap(folder.path()).Place(u"id"_qs, {U(u"安徽卫视")}).classFolder, U(u"境外频道"));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_TRUE(QFile::exists(map));

    // Once the map has the new name, a file of the old name is left alone.
    write(old, U(u"卫视\t数字频道\n"));
    EXPECT_EQ(LoadChannelMap(folder.path()).Place(u"id"_qs, {U(u"安徽卫视")}).classFolder, U(u"境外频道"));
    EXPECT_TRUE(QFile::exists(old));
}

TEST(ChannelMap, AMapThatIsNoRegularFileOrGoesBeyondItsBoundsGivesWayToTheDefaultRules) {
    const QByteArray rule = U(u"卫视\t境外频道\n").toUtf8();
    const auto rules = [&rule](int count) {
        QByteArray text = rule;
        for (int i = 1; i < count; ++i)
            text += "rule" + QByteArray::number(i) + "\t数字频道\n";
        return text;
    };
    const auto padded = [&rule](qsizetype size) {
        return rule + '#' + QByteArray(size - rule.size() - 2, ' ') + '\n';
    };
    const struct {
        const char* what;
        std::function<bool(const QString& path)> make;
        bool used;
    } cases[] = {
        {"a FIFO",
         [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }, false},
        {"a link to /dev/zero", [](const QString& path) { return QFile::link(u"/dev/zero"_qs, path); },
         false},
        {"1 MiB and a byte", [&](const QString& path) { return WriteMap(path, padded((1 << 20) + 1)); },
         false},
        {"10,001 rules", [&](const QString& path) { return WriteMap(path, rules(10'001)); }, false},
        {"1 MiB", [&](const QString& path) { return WriteMap(path, padded(1 << 20)); }, true},
        {"10,000 rules", [&](const QString& path) { return WriteMap(path, rules(10'000)); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir folder;
        ASSERT_TRUE(c.make(folder.filePath("channel-classes.map")));
        WarningRecorder log;
        const ChannelMap map = LoadChannelMap(folder.path());
        EXPECT_EQ(map.Place(u"id"_qs, {U(u"安徽卫视")}).classFolder,
                  c.used ? U(u"境外频道") : U(u"地方频道"));
        EXPECT_EQ(log.warnings.size(), c.used ? 0 : 1) << log.warnings.join(u'\n').toStdString();
    }
}

TEST(ListingFileNameFor, NamesFromTheChannel) {
    const QString long80 = QString(80, QChar(u'长'));
    const struct {
        const char16_t* id;
        QStringList names;
        QString file;
    } cases[] = {
        {u"a", {U(u"CCTV1"), U(u"中央一台")}, U(u"中央一台.txt")},
        {u"a", {U(u"CCTV1"), U(u"CCTV-1")}, U(u"CCTV1.txt")},
        {u"cctv1.cn", {}, U(u"cctv1.cn.txt")},
        {u"a", {U(u"../../etc/passwd")}, U(u"_._.._etc_passwd.txt")},
        {u"a", {U(u"新闻\t频道\x01")}, U(u"新闻_频道_.txt")},
        {u"a", {long80}, QString(38, QChar(u'长')) + u".txt"_qs}, // 38 × 3 bytes + 4 ≤ 120
        // A character of four bytes that does not fit goes whole, not half.
        {u"a",
         {U(u"电") + QString(112, QChar(u'x')) + U(u"\U0001F4FA")},
         U(u"电") + QString(112, QChar(u'x')) + u".txt"_qs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QString name = ListingFileNameFor(U(c.id), c.names);
        EXPECT_EQ(name, c.file);
        EXPECT_LE(name.toUtf8().size(), 120);
        EXPECT_TRUE(IsPlainName(name));
    }
}

} // namespace
