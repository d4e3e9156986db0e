#include "catalogue/CatalogueClasses.h"

#include "catalogue/CatalogueWalk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(CatalogueClassesTest, TheSelectorsItemsAndTheFoldersTheyStandFor) {
    EXPECT_EQ(CatalogueClassItems(),
              (QStringList{u"所有频道"_qs, u"央视频道"_qs, u"地方频道"_qs, u"数字频道"_qs, u"境外频道"_qs}));
    const QString data = u"/opt/pelnavi/ZORQListTemp/"_qs;
    const struct {
        QString className;
        QString folder;
    } cases[] = {
        {u"所有频道"_qs, data},
        {u"央视频道"_qs, data + u"央视频道"_qs}, // no "/" at the end: the walk adds it
        {u"境外频道"_qs, data + u"境外频道"_qs},
        {u"所有频道 "_qs, data + u"所有频道 "_qs}, // the comparison is exact
        {QString(), data},                         // an empty selector walks the data folder itself
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassFolder(data, c.className), c.folder) << c.className.toStdString();
}

class CollectCatalogueTest : public ::testing::Test {
protected:
    QString Data() const { return root_.path() + u'/'; }
    void MakeFile(const QString& relativePath) const {
        const QString path = Data() + relativePath;
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    }
    QTemporaryDir root_;
};

TEST_F(CollectCatalogueTest, ReturnsFoldersPathsAndNamesInWalkOrder) {
    // One listing per folder, so the walk order does not depend on the order within a folder.
    MakeFile(u"top.txt"_qs);
    MakeFile(u"央视频道/01.txt"_qs);
    MakeFile(u"央视频道/sub/hunan卫视.txt"_qs);

    const CatalogueEntries all = CollectCatalogue(ClassFolder(Data(), u"所有频道"_qs));
    EXPECT_EQ(all.folders, (QStringList{Data() + u"央视频道/"_qs, Data() + u"央视频道/sub/"_qs}));
    EXPECT_EQ(all.listingPaths, (QStringList{Data() + u"top.txt"_qs, Data() + u"央视频道/01.txt"_qs,
                                             Data() + u"央视频道/sub/hunan卫视.txt"_qs}));
    EXPECT_EQ(all.displayNames, (QStringList{u"top"_qs, u"ZORQ-1 中央"_qs, u"卫视"_qs}));

    const CatalogueEntries national = CollectCatalogue(ClassFolder(Data(), u"央视频道"_qs));
    EXPECT_EQ(national.listingPaths, all.listingPaths.mid(1));
    EXPECT_EQ(national.displayNames, all.displayNames.mid(1));
    EXPECT_EQ(national.folders, QStringList{Data() + u"央视频道/sub/"_qs});

    const CatalogueEntries missing = CollectCatalogue(ClassFolder(Data(), u"境外频道"_qs));
    EXPECT_TRUE(missing.folders.isEmpty() && missing.listingPaths.isEmpty() &&
                missing.displayNames.isEmpty());
}

} // namespace
