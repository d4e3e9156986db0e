#include "catalogue/CatalogueWalk.h"

#include "catalogue/ChannelNames.h"
#include "catalogue/FileNames.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "tests/catalogue/RawFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RecordingSink final : CatalogueSink {
    void FolderFound(const QString& folderPathWithSlash) override { folders.append(folderPathWithSlash); }
    void ListingFound(const QString& filePath, const QString& displayName) override {
        paths.append(filePath);
        names.append(displayName);
    }
    QStringList folders, paths, names;
};

class CatalogueWalkTest : public ::testing::Test {
protected:
    ~CatalogueWalkTest() override { RemoveRawTreeBelow(QFile::encodeName(root_.path())); }

    // Root of the tree, ending in "/".
    QString Root() const { return root_.path() + u'/'; }

    void MakeFile(const QString& relativePath, const QByteArray& content = "08:00 x\r\n") const {
        const QString path = Root() + relativePath;
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(content);
    }
    void MakeFolder(const QString& relativePath) const { ASSERT_TRUE(QDir().mkpath(Root() + relativePath)); }

    RecordingSink Walk(const QString& folder) const {
        RecordingSink sink;
        WalkCatalogue(folder, sink);
        return sink;
    }

    QTemporaryDir root_;
};

QStringList Prefixed(const QString& prefix, const QStringList& entries) {
    QStringList result;
    for (const QString& entry : entries)
        result.append(prefix + entry);
    return result;
}

TEST_F(CatalogueWalkTest, WalksBreadthFirstAndListsOnlyListingFiles) {
    MakeFile(u"top.txt"_qs);
    MakeFile(u"zorq.zip"_qs);
    MakeFile(u"schedule.txt.bak"_qs);
    MakeFile(u"央视频道/A.TXT"_qs);
    MakeFile(u"old.txt/.hidden.txt"_qs);
    MakeFile(u"x/y/notes_txt"_qs);
    MakeFile(u"x/y/txt"_qs);

    const RecordingSink sink = Walk(Root());

    // Each folder in folder order: upper-cased names, Chinese after ASCII.
    const QStringList expectedPaths = {u"top.txt"_qs, u"old.txt/.hidden.txt"_qs, u"央视频道/A.TXT"_qs,
                                       u"x/y/notes_txt"_qs, u"x/y/txt"_qs};
    EXPECT_EQ(sink.paths, Prefixed(Root(), expectedPaths));

    QStringList expectedNames;
    for (const QString& path : expectedPaths)
        expectedNames.append(ChannelDisplayName(path.section(u'/', -1)));
    EXPECT_EQ(sink.names, expectedNames);
    EXPECT_TRUE(sink.names.contains(u"a"_qs)); // A.TXT keeps its capitals in the path only

    EXPECT_EQ(sink.folders, Prefixed(Root(), {u"old.txt/"_qs, u"x/"_qs, u"央视频道/"_qs, u"x/y/"_qs}));
}

TEST_F(CatalogueWalkTest, TakesAFoldersEntriesInFolderOrderNotInCreationOrHashOrder) {
    const QStringList created = {u"10.txt"_qs,    u"北京.txt"_qs, u"b.txt"_qs,  u"02.txt"_qs,
                                 u"Anhui.txt"_qs, u"01.txt"_qs,   u"_x.txt"_qs, u"anhuI.txt"_qs};
    for (const QString& name : created)
        MakeFile(u"c/"_qs + name);
    for (int i = 0; i < 40; ++i)
        MakeFile(QStringLiteral("d/%1.txt").arg(100 + i * 7919 % 900));

    EXPECT_EQ(Walk(Root() + u"c"_qs).paths,
              Prefixed(Root() + u"c/"_qs, {u"01.txt"_qs, u"02.txt"_qs, u"10.txt"_qs, u"Anhui.txt"_qs,
                                           u"anhuI.txt"_qs, u"b.txt"_qs, u"_x.txt"_qs, u"北京.txt"_qs}));
    QStringList numbered = Walk(Root() + u"d"_qs).paths;
    const QStringList walked = numbered;
    numbered.sort();
    EXPECT_EQ(walked, numbered) << "three-digit names in counting order";
}

TEST_F(CatalogueWalkTest, AddsTheSlashOnlyWhenMissing) {
    MakeFile(u"央视频道/01.txt"_qs);
    const QStringList expected = {Root() + u"央视频道/01.txt"_qs};
    EXPECT_EQ(Walk(Root() + u"央视频道"_qs).paths, expected);
    EXPECT_EQ(Walk(Root() + u"央视频道/"_qs).paths, expected);
    EXPECT_EQ(Walk(Root() + u"央视频道"_qs).names, QStringList{u"ZORQ-1 中央"_qs});
}

TEST_F(CatalogueWalkTest, AFolderThatCannotBeListedAddsNothing) {
    MakeFile(u"a.txt"_qs);
    // A class folder that does not exist, and a file where a folder is expected.
    for (const QString& folder : {Root() + u"地方频道"_qs, Root() + u"a.txt"_qs}) {
        const RecordingSink sink = Walk(folder);
        EXPECT_TRUE(sink.paths.isEmpty() && sink.folders.isEmpty()) << folder.toStdString();
    }

    // A folder that disappears between being found and being listed.
    MakeFile(u"gone/lost.txt"_qs);
    MakeFile(u"kept/found.txt"_qs);
    struct Sink final : CatalogueSink {
        RecordingSink record;
        void FolderFound(const QString& path) override {
            record.FolderFound(path);
            if (path.endsWith(u"/gone/"))
                QDir(path).removeRecursively();
        }
        void ListingFound(const QString& path, const QString& name) override {
            record.ListingFound(path, name);
        }
    } sink;
    WalkCatalogue(Root(), sink);
    EXPECT_EQ(sink.record.paths, (QStringList{Root() + u"a.txt"_qs, Root() + u"kept/found.txt"_qs}));
}

TEST_F(CatalogueWalkTest, AnUnreadableFolderAddsNothing) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser";
    MakeFile(u"locked/hidden.txt"_qs);
    MakeFile(u"open/seen.txt"_qs);
    ASSERT_EQ(::chmod(QFile::encodeName(Root() + u"locked"_qs).constData(), 0), 0);
    const RecordingSink sink = Walk(Root());
    ::chmod(QFile::encodeName(Root() + u"locked"_qs).constData(), 0755);
    EXPECT_EQ(sink.paths, QStringList{Root() + u"open/seen.txt"_qs});
}

TEST_F(CatalogueWalkTest, SymbolicLinkLoopsEndAndEachFolderIsWalkedOnce) {
    QTemporaryDir outside;
    QFile(outside.path() + u"/ext.txt"_qs).open(QIODevice::WriteOnly);
    MakeFile(u"a/x.txt"_qs);
    const auto link = [&](const QString& target, const QString& name) {
        ASSERT_EQ(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(Root() + name).constData()),
            0);
    };
    link(u".."_qs, u"a/up"_qs);
    link(u"."_qs, u"a/self"_qs);
    link(Root(), u"a/root"_qs);
    link(outside.path(), u"out1"_qs);
    link(outside.path(), u"a/out2"_qs);
    link(u"x.txt"_qs, u"a/file-link.txt"_qs);

    const RecordingSink sink = Walk(Root());

    QStringList paths = sink.paths;
    paths.sort();
    EXPECT_EQ(paths, (QStringList{Root() + u"a/file-link.txt"_qs, Root() + u"a/x.txt"_qs,
                                  Root() + u"out1/ext.txt"_qs}));
    EXPECT_EQ(LoadListingLines(Root() + u"a/file-link.txt"_qs), QStringList{u"08:00 x"_qs});
    QStringList folders = sink.folders;
    folders.sort();
    EXPECT_EQ(folders, (QStringList{Root() + u"a/"_qs, Root() + u"out1/"_qs}));
}

TEST_F(CatalogueWalkTest, OddNamesAreListedAndOpenAgain) {
    const QByteArray root = QFile::encodeName(Root());
    ASSERT_EQ(::mkdir((root + "\xB5\xD8\xB7\xBD").constData(), 0755), 0); // 地方 in code page 936
    const QByteArray names[] = {
        "\xB5\xD8\xB7\xBD/\xD1\xEB\xCA\xD3.txt", // 央视, code page 936, in a folder named likewise
        "two\nlines.txt",
        QByteArray(251, 'n') + ".txt", // the longest name most file systems take
        "bad\xFF\xFEutf8.TXT",
    };
    for (const QByteArray& name : names)
        WriteRawFile(root + name, "line\n");

    const RecordingSink sink = Walk(Root());

    ASSERT_EQ(sink.paths.size(), 4);
    for (const QString& path : sink.paths) {
        EXPECT_EQ(LoadListingLines(path), QStringList{u"line"_qs}) << path.toStdString();
        const QByteArray bytes = EncodeFileName(path);
        EXPECT_TRUE(std::find(std::begin(names), std::end(names), bytes.mid(root.size())) != std::end(names));
    }
    EXPECT_TRUE(sink.names.contains(u"央视"_qs));
    EXPECT_TRUE(sink.names.contains(u"two\nlines"_qs));
    EXPECT_TRUE(sink.names.contains(QString(251, u'n')));
}

TEST_F(CatalogueWalkTest, AnErrorInTheSinkEndsTheWalk) {
    MakeFile(u"a/1.txt"_qs);
    MakeFile(u"b/2.txt"_qs);
    struct ThrowingSink final : CatalogueSink {
        int listings = 0;
        void FolderFound(const QString&) override {}
        void ListingFound(const QString&, const QString&) override {
            ++listings;
            throw Exception(u"full"_qs);
        }
    } sink;
    EXPECT_THROW(WalkCatalogue(Root(), sink), Exception);
    EXPECT_EQ(sink.listings, 1);
}

} // namespace
