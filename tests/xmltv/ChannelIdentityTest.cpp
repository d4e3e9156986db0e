#include "xmltv/ChannelIdentity.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/WarningRecorder.h"
#include "tests/xmltv/ImportFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(ChannelNameKey, SpellingsOfOneChannelShareAKeyAndItsLimitsHold) {
    const struct {
        const char16_t* name;
        const char16_t* key;
    } cases[] = {
        {u"CCTV-1 综合", u"cctv1"},
        {u"cctv1 HD", u"cctv1"},
        {u"ＣＣＴＶ－１", u"cctv1"}, // full-width
        {u"CCTV_1 高清", u"cctv1"},
        {u"CCTV1 综合 高清", u"cctv1"}, // decorations one after the other
        {u"中央電視台綜合頻道", u"中央电视台"},
        {u"鳳凰衛視中文台", u"凤凰卫视中文台"},
        {u"凤凰卫视·中文台", u"凤凰卫视中文台"},
        {u"BBC World News", u"bbcworldnews"},
        {u"BBCWORLDNEWS", u"bbcworldnews"},
        {u"南京电视台", u"南京电视台"},
        {u"北京新闻", u"北京新闻"},
        {u"湖南卫视 标清", u"湖南卫视"},
        {u"CCTV-5+ 超清", u"cctv5+"},
        // 4K and 8K are channels of their own; so are the regional variants.
        {u"CCTV-4K", u"cctv4k"},
        {u"CCTV 4K 超高清", u"cctv4k"},
        {u"CCTV-8K UHD", u"cctv8k"},
        {u"CCTV-4", u"cctv4"},
        {u"CCTV-4 欧洲", u"cctv4欧洲"},
        {u"CCTV-4 美洲 HD", u"cctv4美洲"},
        {u"CCTV-4 亚洲频道", u"cctv4亚洲"},
        // A decoration that is the whole name stays.
        {u"HD", u"hd"},
        {u"频道", u"频道"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChannelNameKey(U(c.name)), U(c.key)) << U(c.name).toStdString();
}

TEST(ChannelAliases, ALineJoinsItsNamesUnderTheFirst) {
    const ChannelAliases aliases = ChannelAliases::Parse(U(u"\xFEFF# comment\r\n"
                                                           u"CCTV-1 综合\t中央一台\tcctv1.cn\r\n"
                                                           u"\n"
                                                           u"中央二台\tCCTV-2\n"
                                                           u"中央一套\tcctv-1\n"));
    EXPECT_EQ(aliases.LineCount(), 3);
    const struct {
        QStringList ids;
        QStringList names;
        const char16_t* shown;
        const char16_t* key;
    } cases[] = {
        {{u"x"_qs}, {U(u"中央一台")}, u"CCTV-1 综合", u"cctv1"},               // by a display name
        {{U(u"CCTV1.CN")}, {u"First"_qs}, u"CCTV-1 综合", u"cctv1"},           // by its id, by key
        {{u"y"_qs}, {U(u"CCTV1 HD")}, u"CCTV-1 综合", u"cctv1"},               // the first line has it first
        {{u"z"_qs}, {u"CCTV2"_qs, U(u"第二套")}, u"中央二台", u"中央二台"},    // by key
        {{u"w"_qs}, {u"CCTV-3"_qs, U(u"中央三台")}, u"中央三台", u"中央三台"}, // none: its own name
        {{u"only.id"_qs}, {}, u"only.id", u"only.id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ids.first().toStdString());
        const ChannelIdentity identity = aliases.Identify(c.ids, c.names);
        EXPECT_EQ(identity.name, U(c.shown));
        EXPECT_EQ(identity.key, U(c.key));
    }
}

TEST(ChannelAliases, TheFileIsWrittenOnceAndReadBounded) {
    QTemporaryDir data;
    const QString path = data.filePath(U(kChannelAliasFileName));
    EXPECT_EQ(LoadChannelAliases(data.path()).LineCount(), 0);
    EXPECT_FALSE(QFile::exists(path)) << "reading writes nothing";
    WriteMissingChannelAliasFile(data.path());
    EXPECT_EQ(QString::fromUtf8(ReadFile(path)), DefaultChannelAliasText());
    EXPECT_EQ(LoadChannelAliases(data.path()).LineCount(), 0) << "the default file holds comments only";

    WriteFile(path, U(u"中央一台\tCCTV-1\n").toUtf8());
    WriteMissingChannelAliasFile(data.path());
    EXPECT_EQ(LoadChannelAliases(data.path()).Identify({u"a"_qs}, {u"cctv1"_qs}).name, U(u"中央一台"));

    QFile::remove(path);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    WarningRecorder log;
    EXPECT_EQ(LoadChannelAliases(data.path()).LineCount(), 0) << "a FIFO is not read";
    EXPECT_EQ(log.warnings.size(), 1);
}

} // namespace
