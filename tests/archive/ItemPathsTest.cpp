#include "archive/ItemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// How the library reports a name without the UTF-8 flag: UTF-8 where the bytes happen to be valid
// UTF-8, every other byte as U+EF00 + byte.
QString Escaped(std::initializer_list<char32_t> codePoints) {
    QString result;
    for (char32_t c : codePoints)
        result += QString::fromUcs4(&c, 1);
    return result;
}

} // namespace

TEST(ItemPaths, RebuildsTheMakersBytesAndDecodesThemAsCodePage936) {
    const struct {
        QString reported;
        bool utf8Flag;
        QString expected;
    } cases[] = {
        // 中文.txt: D6 D0 CE C4, none of them valid UTF-8
        {Escaped({0xEFD6, 0xEFD0, 0xEFCE, 0xEFC4}) + ".txt", false, QStringLiteral("中文.txt")},
        // 目录/节目表.xml: C4 BF happens to be valid UTF-8 (U+013F) and comes back as that character
        {Escaped({0x013F, 0xEFC2, 0xEFBC, '/', 0xEFBD, 0xEFDA, 0x013F, 0xEFB1, 0xEFED}) + ".xml", false,
         QStringLiteral("目录/节目表.xml")},
        {"plain/ascii.txt", false, "plain/ascii.txt"},
        // Flagged names are already right, also beyond U+FFFF (handed out as a surrogate pair).
        {QStringLiteral("数字频道/😀.txt"), true, QStringLiteral("数字频道/😀.txt")},
        {Escaped({0xEFD6, 0xEFD0}), true, Escaped({0xEFD6, 0xEFD0})},
        // A stray byte that is not GBK either still decodes, to the replacement character.
        {Escaped({0xEFFF}) + "x", false, QString(QChar::ReplacementCharacter) + "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeItemPath(c.reported, c.utf8Flag), c.expected) << c.expected.toStdString();
}

TEST(ItemPaths, RecognisesTheUtf8WordAmongTheCharacteristics) {
    EXPECT_TRUE(CharactsHaveUtf8Flag("UTF8"));
    EXPECT_TRUE(CharactsHaveUtf8Flag("NTFS UTF8 Local"));
    EXPECT_FALSE(CharactsHaveUtf8Flag("NTFS Local"));
    EXPECT_FALSE(CharactsHaveUtf8Flag("UTF8X"));
    EXPECT_FALSE(CharactsHaveUtf8Flag(""));
}

TEST(ItemPaths, WideStringsKeepSurrogatePairsAndAstralCharacters) {
    const wchar_t pair[] = {0xD83D, 0xDE00, L'a'};
    const wchar_t astral[] = {0x1F600, L'a'};
    EXPECT_EQ(WideToQString(pair, 3), QStringLiteral("😀a"));
    EXPECT_EQ(WideToQString(astral, 2), QStringLiteral("😀a"));
}

TEST(ItemPaths, KeepsOnlyPathsThatStayBelowTheTarget) {
    const struct {
        QString path;
        QStringList components; // empty: skipped
    } cases[] = {
        {"a/b/c.txt", {"a", "b", "c.txt"}},
        {"a\\b\\c.txt", {"a", "b", "c.txt"}},
        {"./a//b/./c.txt", {"a", "b", "c.txt"}},
        {"C:/a.txt", {"C:", "a.txt"}}, // a plain folder name here
        {"..a/b..", {"..a", "b.."}},
        {"/etc/passwd", {}},
        {"\\etc\\passwd", {}},
        {"../a.txt", {}},
        {"a/../../b.txt", {}},
        {"a/../b.txt", {}},
        {"a\\..\\..\\b.txt", {}},
        {"", {}},
        {"./", {}},
        {QString("a") + QChar(0) + "b", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContainedPathComponents(c.path), c.components) << c.path.toStdString();
}

TEST(ItemPaths, CreatesFilesBelowTheFolderWithoutFollowingLinks) {
    QTemporaryDir root;
    QTemporaryDir outside;
    ASSERT_TRUE(root.isValid() && outside.isValid());
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath("linkdir")));
    ASSERT_TRUE(QFile::link(outside.filePath("target.txt"), root.filePath("dangling.txt")));
    ASSERT_TRUE(QDir().mkpath(root.filePath("folder.txt")));
    {
        QFile plain(root.filePath("plain"));
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    const int rootFd = ::open(QFile::encodeName(root.path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);

    const struct {
        QStringList components;
        ItemFileResult::Kind kind;
        int error;
    } cases[] = {
        {{"new", "deeper", "file.txt"}, ItemFileResult::Created, 0},
        {{"new", "deeper", "file.txt"}, ItemFileResult::Created, 0},
        {{"linkdir", "file.txt"}, ItemFileResult::Skipped, 0},
        {{"dangling.txt"}, ItemFileResult::Skipped, 0},
        {{"folder.txt"}, ItemFileResult::Skipped, 0},
        {{"plain", "file.txt"}, ItemFileResult::Skipped, 0},
        {{QString(256, u'n')}, ItemFileResult::Skipped, 0},
        {{"missing-folder-made", QString(256, u'n'), "file.txt"}, ItemFileResult::Skipped, 0},
    };
    for (const auto& c : cases) {
        const QString target = root.filePath(c.components.join('/'));
        const bool existed = QFile::exists(target);
        ItemFileResult result = CreateItemFileBelow(rootFd, c.components);
        EXPECT_EQ(result.kind, c.kind) << c.components.join('/').toStdString();
        EXPECT_EQ(result.error, c.error) << c.components.join('/').toStdString();
        // The data goes into a temporary file, which only the commit puts in place.
        if (result.kind == ItemFileResult::Created) {
            EXPECT_EQ(QFile::exists(target), existed);
            EXPECT_EQ(result.target.Commit(), 0);
            EXPECT_TRUE(QFile::exists(target));
        }
    }
    ::close(rootFd);
    EXPECT_TRUE(QFile::exists(root.filePath("new/deeper/file.txt")));
    EXPECT_EQ(QDir(root.filePath("new/deeper")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"file.txt"});
    EXPECT_TRUE(QDir(outside.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}
