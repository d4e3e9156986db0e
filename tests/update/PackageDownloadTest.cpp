#include "update/PackageDownload.h"

#include "platform/Exception.h"
#include "tests/support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(PackageRequestAddressTest, AppendsAFourteenDigitLocalTimeStamp) {
    const QDateTime evening(QDate(2011, 9, 16), QTime(21, 5, 9));
    const QDateTime morning(QDate(2026, 1, 2), QTime(3, 4, 5));
    EXPECT_EQ(PackageTimeStamp(evening), QStringLiteral("20110916210509"));
    EXPECT_EQ(PackageTimeStamp(morning), QStringLiteral("20260102030405"));
    EXPECT_EQ(PackageRequestAddress(QStringLiteral("http://h/download/showtime.zip"), evening),
              QStringLiteral("http://h/download/showtime.zip?20110916210509"));
    // An address that carries a query already gets a second "?", unchanged otherwise.
    EXPECT_EQ(PackageRequestAddress(QStringLiteral("http://h/a-b/showtime.zip?a=1"), evening),
              QStringLiteral("http://h/a-b/showtime.zip?a=1?20110916210509"));
}

TEST(PackageFileExistsTest, FilesAndReachableLinksCountFoldersDoNot) {
    QTemporaryDir dir;
    const QString base = dir.path() + u'/';
    QFile(base + "file").open(QIODevice::WriteOnly);
    QDir(base).mkdir(QStringLiteral("folder"));
    QFile::link(base + "file", base + "link");
    QFile::link(base + "nowhere", base + "dangling");
    EXPECT_TRUE(PackageFileExists(base + "file"));
    EXPECT_TRUE(PackageFileExists(base + "link"));
    EXPECT_FALSE(PackageFileExists(base + "folder"));
    EXPECT_FALSE(PackageFileExists(base + "dangling"));
    EXPECT_FALSE(PackageFileExists(base + "missing"));
}

TEST(SavePackageTest, ReplacesThePackageOnlyWhenTheNewOneIsWhole) {
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    SavePackage("first package", folder, QStringLiteral("zorq.zip"));
    EXPECT_EQ(ReadAll(folder + "zorq.zip"), QByteArray("first package"));
    SavePackage("new", folder, QStringLiteral("zorq.zip"));
    EXPECT_EQ(ReadAll(folder + "zorq.zip"), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"zorq.zip"})
        << "no temporary file left";

    // A folder that takes the name: the save fails and nothing is lost or left behind.
    QDir(folder).mkdir(QStringLiteral("taken.zip"));
    EXPECT_THROW(SavePackage("x", folder, QStringLiteral("taken.zip")), Exception);
    // A name that would leave the data folder is refused.
    EXPECT_THROW(SavePackage("x", folder, QStringLiteral("../outside.zip")), Exception);
    EXPECT_FALSE(QFile::exists(dir.path() + "/../outside.zip"));
    EXPECT_THROW(SavePackage("x", folder + "missing/", QStringLiteral("zorq.zip")), Exception);
    EXPECT_EQ(ReadAll(folder + "zorq.zip"), QByteArray("new"));

    // A link at the package's name would carry the bytes out of the folder.
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.path() + QStringLiteral("/victim");
    QFile victim(outside);
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("keep me");
    victim.close();
    ASSERT_TRUE(QFile::link(outside, folder + "linked.zip"));
    EXPECT_THROW(SavePackage("x", folder, QStringLiteral("linked.zip")), Exception);
    EXPECT_EQ(ReadAll(outside), QByteArray("keep me"));
}

TEST(IsWholePackageTest, EmptyAndCutShortBodiesAreNoPackage) {
    const struct {
        const char* headers;
        QByteArray body;
        bool whole;
    } cases[] = {
        {"Content-Length: 5", "12345", true},  {"Content-Length: 5", "1234", false},
        {"Content-Length: 0", "", false},      {"Transfer-Encoding: chunked", "12345", true},
        {"", "until the server closed", true}, {"", "", false},
    };
    for (const auto& c : cases) {
        ResponseHead head;
        head.StatusLine = "HTTP/1.1 200 OK";
        head.StatusCode = 200;
        if (c.headers[0] != '\0')
            head.Headers.AddLine(c.headers);
        EXPECT_EQ(IsWholePackage(c.body.size(), head), c.whole) << c.headers << " / " << c.body.toStdString();
    }
}

} // namespace
