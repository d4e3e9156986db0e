// An update from an XMLTV feed on the real window: the demo server's feed, the real timers, the
// conversion into listing files, the rescan.
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/ui/WindowFixture.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

namespace {

const QString kDone = QStringLiteral("数据更新完成.");
const QString kCannotUnpack = QStringLiteral("更新失败：数据包无法解压");

// The demo schedule server of tools/demo-server, on a free loopback port, for the test's life.
class DemoServer final {
public:
    DemoServer() {
        process_.setProgram(QStringLiteral("python3"));
        process_.setArguments({QStringLiteral(PELNAVI_SOURCE_DIR "/tools/demo-server/demo_server.py"),
                               QStringLiteral("--quiet"), QStringLiteral("--date"),
                               QStringLiteral("2026-12-10"), QStringLiteral("--ready-file"),
                               folder_.filePath(QStringLiteral("port")), QStringLiteral("--parent-pid"),
                               QString::number(::getpid())});
        process_.start();
    }
    ~DemoServer() {
        process_.terminate();
        process_.waitForFinished(10000);
    }
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // The server's address for a path, once it listens; empty when it did not come up.
    QString Url(const QString& path) {
        QFile ready(folder_.filePath(QStringLiteral("port")));
        for (int i = 0; i < 600 && !ready.exists(); ++i)
            QThread::msleep(50);
        if (!ready.open(QIODevice::ReadOnly))
            return {};
        return QStringLiteral("http://127.0.0.1:%1%2")
            .arg(QString::fromLatin1(ready.readAll().trimmed()), path);
    }

private:
    QTemporaryDir folder_;
    QProcess process_;
};

class XmltvUpdateTest : public WindowFixture {};

TEST_F(XmltvUpdateTest, TheDemoServersFeedBringsChannelsAndListings) {
    DemoServer server;
    const QString feed = server.Url(QStringLiteral("/epg.xml.gz"));
    ASSERT_FALSE(feed.isEmpty()) << "the demo server did not start";
    ScopedVariable address("PELNAVI_PACKAGE_URL", feed.toUtf8());
    TForm1& window = Start({QStringLiteral("x")});
    EXPECT_EQ(window.Edit_Url->text(), feed);
    window.ProbeAddress = server.Url(QStringLiteral("/"));
    window.OnlineTest = [] { return true; };
    ASSERT_EQ(window.TVList->count(), 0);

    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return window.SBPanel0->text() == kDone; }, 60000))
        << MemoLines(window.TVListBox).join(u'|').toStdString();
    ASSERT_GE(window.TVList->count(), 19) << "the national channels are listed";
    ASSERT_EQ(window.TVList->itemTexts().count(QStringLiteral("ZORQ-1 中央")), 1);
    const int first = static_cast<int>(window.TVList->itemTexts().indexOf(QStringLiteral("ZORQ-1 中央")));
    EXPECT_TRUE(QFile::exists(DataFolder() + QStringLiteral("地方频道/安徽卫视.txt")));
    EXPECT_TRUE(QFile::exists(DataFolder() + QStringLiteral("channel-classes.map")));

    window.TVList->setCurrentRow(first);
    window.TVListClick();
    const QStringList shown = MemoLines(window.TVListBox);
    ASSERT_GE(shown.size(), 5);
    EXPECT_EQ(
        shown.mid(0, 5),
        (QStringList{QStringLiteral("【ZORQ-1 中央】"), QStringLiteral("ZORQ-1 中央 一周节目预告"), QString(),
                     QStringLiteral("2026-12-10 星期四"), QStringLiteral("06:00 朝闻天下")}));
}

TEST_F(XmltvUpdateTest, AFeedCutShortLeavesTheListingsAsTheyWere) {
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv><channel id=\"a\"><display-name>"
                      "ZORQ-1 \xE4\xB8\xAD\xE5\xA4\xAE</display-name></channel>"
                      "<programme start=\"20261210060000 +0800\" channel=\"a\"><title>x</title></programme>";
    LoopbackServer server(
        {LoopbackServer::Script{LoopbackServer::ReadRequest(),
                                LoopbackServer::Send("HTTP/1.1 200 OK\r\nContent-Length: " +
                                                     QByteArray::number(feed.size()) + "\r\n\r\n" + feed)}});
    auto probe = LoopbackServer::AnsweringEveryGet("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 old\r\n");
    TForm1& window = Start({QStringLiteral("x")});
    window.Edit_Url->setText(server.Url(QStringLiteral("/epg.xml")));
    window.ProbeAddress = probe->Url(QStringLiteral("/"));
    window.OnlineTest = [] { return true; };

    window.Button_R->click();
    ASSERT_TRUE(WaitUntil([&] { return window.SBPanel0->text() == kCannotUnpack; }, 30000))
        << MemoLines(window.TVListBox).join(u'|').toStdString();
    QFile listing(DataFolder() + QStringLiteral("央视频道/01.txt"));
    ASSERT_TRUE(listing.open(QIODevice::ReadOnly));
    EXPECT_EQ(listing.readAll(), "06:00 old\r\n");
    EXPECT_FALSE(QFile::exists(DataFolder() + QStringLiteral("央视频道/01.txt.xmltv-part")));
}

TEST_F(XmltvUpdateTest, ABodyThatOnlyStartsLikeAFeedLeavesTheSavedPackage) {
    const struct {
        const char* what;
        QByteArray body;
    } cases[] = {
        {"captive portal's XHTML page",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 "
         "Strict//EN\" "
         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n<html "
         "xmlns=\"http://www.w3.org/1999/xhtml\">"
         "<head><title>Sign in</title></head><body><form action=\"/login\"/></body></html>\n"},
        {"RSS document",
         "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>News</title></channel></rss>\n"},
        {"feed cut short", "<?xml version=\"1.0\"?>\n<tv><channel id=\"a\"><display-name>A</display-name>"
                           "</channel><programme start=\"20261210060000 +0800\" channel=\"a\"><title>x"},
        {"invalid character reference",
         "<?xml version=\"1.0\"?>\n<tv><channel id=\"a\"><display-name>&#1;</display-name></channel></tv>\n"},
    };
    auto probe = LoopbackServer::AnsweringEveryGet("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    WriteDataFile(QStringLiteral("zorq.zip"), "the saved package");
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "06:00 old\r\n");
    timings = {50, 50};
    TForm1& window = Start({QStringLiteral("x")});
    window.ProbeAddress = probe->Url(QStringLiteral("/"));
    window.OnlineTest = [] { return true; };
    StatusLog log(window);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server({LoopbackServer::Script{
            LoopbackServer::ReadRequest(),
            LoopbackServer::Send("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(c.body.size()) +
                                 "\r\n\r\n" + c.body)}});
        window.Edit_Url->setText(server.Url(QStringLiteral("/epg.xml")));
        log.lines.clear();
        window.Button_R->click();
        ASSERT_TRUE(WaitUntil([&] { return log.lines.contains(kCannotUnpack); }, 30000))
            << log.lines.join(u'|').toStdString();
        EXPECT_FALSE(log.lines.contains(QStringLiteral("正在释放文件."))) << "nothing is unpacked";
        QFile package(DataFolder() + QStringLiteral("zorq.zip"));
        ASSERT_TRUE(package.open(QIODevice::ReadOnly));
        EXPECT_EQ(package.readAll(), "the saved package");
        QFile listing(DataFolder() + QStringLiteral("央视频道/01.txt"));
        ASSERT_TRUE(listing.open(QIODevice::ReadOnly));
        EXPECT_EQ(listing.readAll(), "06:00 old\r\n");
    }
}

} // namespace
