#include "xmltv/ListingPlacement.h"

#include "platform/Exception.h"
#include "tests/support/QtPrinters.h"
#include "tests/xmltv/ImportFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>

#include <gtest/gtest.h>

namespace {

// A rename that fails the `failing`-th time it is called (never for 0), counting in `renames`.
ListingPlacement::RenameFunction RenameFailingAt(int& renames, int failing) {
    return [&renames, failing](const char* from, const char* to) {
        if (++renames == failing) {
            errno = EIO;
            return -1;
        }
        return std::rename(from, to);
    };
}

TEST(ListingPlacement, ARenameThatFailsPutsBackTheListingsAlreadyReplaced) {
    // Three listings: the first and the third replace old ones, the second is new. The n-th rename
    // that puts one in place fails.
    const struct {
        int failingRename; // 0: none fails
        QByteArray first, second, third;
    } cases[] = {
        {0, "new 1", "new 2", "new 3"},
        {1, "old 1", "(missing)", "old 3"},
        {2, "old 1", "(missing)", "old 3"},
        {3, "old 1", "(missing)", "old 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingRename);
        QTemporaryDir data;
        const QString folder = data.filePath(U(u"央视频道"));
        ASSERT_TRUE(QDir().mkpath(folder));
        WriteFile(folder + u"/01.txt"_qs, "old 1");
        WriteFile(folder + u"/03.txt"_qs, "old 3");
        int renames = 0;
        {
            ListingPlacement placement(data.path(), RenameFailingAt(renames, c.failingRename));
            placement.Stage({U(u"央视频道"), u"01.txt"_qs}, "new 1");
            placement.Stage({U(u"央视频道"), u"02.txt"_qs}, "new 2");
            placement.Stage({U(u"央视频道"), u"03.txt"_qs}, "new 3");
            if (c.failingRename == 0)
                EXPECT_NO_THROW(placement.Commit());
            else
                EXPECT_THROW(placement.Commit(), Exception);
        }
        EXPECT_EQ(ReadFile(folder + u"/01.txt"_qs), c.first);
        EXPECT_EQ(ReadFile(folder + u"/02.txt"_qs), c.second);
        EXPECT_EQ(ReadFile(folder + u"/03.txt"_qs), c.third);
        EXPECT_EQ(FilesBelow(data.path()).filter(u".xmltv-"_qs), QStringList()) << "nothing left behind";
    }
}

// An import that removes a listing of the one before (Retire) and writes its index last: a failure
// anywhere puts everything back.
TEST(ListingPlacement, ARemovedListingComesBackWhenTheCommitFails) {
    const struct {
        int failingRename; // 0: none fails; 1: the listing's; 2: the index's, after the removal
        QByteArray listing, retired, index;
    } cases[] = {
        {0, "new 1", "(missing)", "new index"},
        {1, "old 1", "old 2", "old index"},
        {2, "old 1", "old 2", "old index"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingRename);
        QTemporaryDir data;
        const QString folder = data.filePath(U(u"央视频道"));
        ASSERT_TRUE(QDir().mkpath(folder));
        WriteFile(folder + u"/01.txt"_qs, "old 1");
        WriteFile(folder + u"/02.txt"_qs, "old 2");
        WriteFile(data.filePath(u"index"_qs), "old index");
        // A link where a retired listing was is a person's, and stays.
        ASSERT_TRUE(QFile::link(folder + u"/01.txt"_qs, folder + u"/03.txt"_qs));
        int renames = 0;
        {
            ListingPlacement placement(data.path(), RenameFailingAt(renames, c.failingRename));
            placement.Stage({U(u"央视频道"), u"01.txt"_qs}, "new 1");
            placement.Retire(U(u"央视频道/02.txt"));
            placement.Retire(U(u"央视频道/03.txt"));
            placement.Retire(U(u"央视频道/gone.txt"));
            placement.StageLast(u"index"_qs, "new index");
            if (c.failingRename == 0)
                EXPECT_NO_THROW(placement.Commit());
            else
                EXPECT_THROW(placement.Commit(), Exception);
        }
        EXPECT_EQ(ReadFile(folder + u"/01.txt"_qs), c.listing);
        EXPECT_EQ(ReadFile(folder + u"/02.txt"_qs), c.retired);
        EXPECT_EQ(ReadFile(data.filePath(u"index"_qs)), c.index);
        EXPECT_TRUE(QFileInfo(folder + u"/03.txt"_qs).isSymLink());
        EXPECT_EQ(FilesBelow(data.path()).filter(u".xmltv-"_qs), QStringList()) << "nothing left behind";
    }
}

} // namespace

namespace {

TEST(ListingNames, ListingsOfOneNameAreNumberedInLinearTime) {
    ListingNames names;
    const QString folder = u"/data/数字频道"_qs;
    // A name the map gives outright is not given again by the numbering.
    EXPECT_EQ(names.Claim(folder, U(u"同名(3).txt")), U(u"同名(3).txt"));
    EXPECT_EQ(names.Claim(folder, U(u"同名.txt")), U(u"同名.txt"));
    EXPECT_EQ(names.Claim(folder, U(u"同名.txt")), U(u"同名(2).txt"));
    EXPECT_EQ(names.Claim(folder, U(u"同名.txt")), U(u"同名(4).txt"));
    EXPECT_EQ(names.Claim(u"/data/地方频道"_qs, U(u"同名.txt")), U(u"同名.txt"));
    EXPECT_EQ(names.Claim(folder, u"noending"_qs), u"noending"_qs);
    EXPECT_EQ(names.Claim(folder, u"noending"_qs), u"noending(2)"_qs);
    // 20,000 channels of one name; numbered from 2 up each time, they took minutes.
    for (int number = 5; number <= 20'000; ++number)
        ASSERT_EQ(names.Claim(folder, U(u"同名.txt")), U(u"同名(%1).txt").arg(number));
}

} // namespace
