// The page "节目源" through its widgets as a person uses them, and updates of several sources
// against loopback servers.
#include "ui/SourcesPage.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ZipWriter.h"
#include "tests/ui/WindowFixture.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QSpinBox>
#include <QTest>

namespace {

const QString kWaiting = QStringLiteral("请稍后正在更新数据.");
const QString kDownloading = QStringLiteral("正在下载数据包...");
const QString kDownloaded = QStringLiteral("数据包下载完成.");
const QString kExtracting = QStringLiteral("正在释放文件.");
const QString kDone = QStringLiteral("数据更新完成.");

QByteArray Ok(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A feed of one channel "测试一台" with a programme at 20:00 on each given day of December 2026.
QByteArray Feed(const char* source, std::initializer_list<int> days, const char* otherChannel = nullptr) {
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>"
                      "<channel id=\"t1\"><display-name lang=\"zh\">测试一台</display-name></channel>";
    if (otherChannel != nullptr)
        feed += QByteArray("<channel id=\"t2\"><display-name lang=\"zh\">") + otherChannel +
                "</display-name></channel>"
                "<programme start=\"20261210080000 +0800\" channel=\"t2\"><title>早间</title></programme>";
    for (const int day : days)
        feed += "<programme start=\"202612" + QByteArray::number(day) +
                "200000 +0800\" channel=\"t1\"><title>" + source + QByteArray::number(day) +
                "日</title></programme>";
    return feed + "</tv>\n";
}

QByteArray SamplePackage() {
    ZipWriter zip;
    zip.AddFile(EncodeGbk(QStringLiteral("央视频道/01.txt")),
                EncodeGbk(QStringLiteral("06:00 朝闻天下\r\n")));
    return zip.Bytes();
}

QStringList Column(const QTableWidget* table, int column) {
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, column)->text();
    return texts;
}

template <typename Widget> Widget* Named(QWidget* root, const QString& accessibleName) {
    for (Widget* widget : root->findChildren<Widget*>())
        if (widget->accessibleName() == accessibleName)
            return widget;
    return nullptr;
}

class SourcesPageTest : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        timings = TUpdateTimings{200, 300};
        probe_ = LoopbackServer::AnsweringEveryGet(Ok({}));
    }
    void TearDown() override {
        log_.reset();
        WindowFixture::TearDown();
    }

    TSourcesPage& ShowPage(TForm1& window) {
        window.show();
        QApplication::setActiveWindow(&window);
        window.PageControl1->setCurrentWidget(window.TabSheet_Sources);
        return *window.SourcesPage();
    }
    TForm1& StartOnline(const QString& packageAddress) {
        TForm1& window = Start({QStringLiteral("x")});
        window.Edit_Url->setText(packageAddress);
        window.ProbeAddress = probe_->Url(QStringLiteral("/"));
        window.OnlineTest = [] { return true; };
        log_ = std::make_unique<StatusLog>(window);
        return window;
    }
    void Add(TSourcesPage& page, const QString& address) {
        page.AddressEdit->clear();
        QTest::keyClicks(page.AddressEdit, address);
        page.AddButton->click();
    }
    // Renames a row in place as a person does: the name's cell, F2, the new name, Enter.
    void Rename(TSourcesPage& page, int row, const QString& name) {
        page.SourceTable->setFocus();
        page.SourceTable->setCurrentCell(row, TSourcesPage::NameColumn);
        QTest::keyClick(page.SourceTable, Qt::Key_F2);
        auto* editor = OpenEditor<QLineEdit>(page);
        ASSERT_NE(editor, nullptr);
        editor->setText(name); // Chinese comes through an input method, not as key presses
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
    void SetOffset(TSourcesPage& page, int row, const QString& minutes) {
        page.SourceTable->setFocus();
        page.SourceTable->setCurrentCell(row, TSourcesPage::OffsetColumn);
        QTest::keyClick(page.SourceTable, Qt::Key_F2);
        auto* editor = OpenEditor<QSpinBox>(page);
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, minutes);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
    }
    // The editor the table has opened on its current cell.
    template <typename T> static T* OpenEditor(TSourcesPage& page) {
        return qobject_cast<T*>(page.SourceTable->indexWidget(page.SourceTable->currentIndex()));
    }
    // What the event loop does between two things a person does: the closed editor goes, the table
    // is filled afresh.
    static void Settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    bool WaitForTheEnd(TForm1& window) {
        return WaitUntil([&] { return !window.Timer1->Enabled() && !window.Timer_Load->Enabled(); }, 30000);
    }
    QString Listing(const QString& relativePath) {
        return QString::fromUtf8(ReadAll(DataFolder() + relativePath)).remove(u'\r');
    }

    std::unique_ptr<LoopbackServer> probe_;
    std::unique_ptr<StatusLog> log_;
};

TEST_F(SourcesPageTest, TheLastPageIsMadeWhenFirstShownWithEveryControlNamed) {
    ScopedVariable address("PELNAVI_PACKAGE_URL", QByteArray("http://mirror.example/showtime.zip"));
    TForm1& window = Start();
    ASSERT_EQ(window.PageControl1->tabText(window.PageControl1->count() - 1), QStringLiteral("节目源"));
    EXPECT_TRUE(window.TabSheet_Sources->findChildren<QWidget*>().isEmpty())
        << "nothing is made at the start";

    TSourcesPage& page = ShowPage(window);
    for (const char* name :
         {"节目源列表", "节目单地址", "添加", "删除", "上移", "下移", "立即更新", "自动更新", "每天更新时间"})
        EXPECT_NE(Named<QWidget>(window.TabSheet_Sources, QString::fromUtf8(name)), nullptr) << name;
    EXPECT_EQ(page.AddressEdit->placeholderText(),
              QStringLiteral("http(s)://… XMLTV（.xml 或 .xml.gz）或 Zip 节目包"));
    QStringList headers;
    for (int column = 0; column < page.SourceTable->columnCount(); ++column)
        headers << page.SourceTable->horizontalHeaderItem(column)->text();
    EXPECT_EQ(headers, (QStringList{"启用", "名称", "地址", "时间偏移", "上次更新", "结果"}));
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::NameColumn), QStringList{"默认节目包"});
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::AddressColumn),
              QStringList{"http://mirror.example/showtime.zip"});
    EXPECT_EQ(page.SourceTable->item(0, TSourcesPage::EnabledColumn)->checkState(), Qt::Checked);
    EXPECT_FALSE(page.AutomaticBox->isChecked());
    EXPECT_EQ(page.DailyTimeEdit->time(), QTime(3, 0));
    EXPECT_EQ(page.NextUpdateLabel->text(), QStringLiteral("自动更新未开启"));
    EXPECT_TRUE(page.MessageLabel->text().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(ProgramFolder() + QStringLiteral("Pelnavi.ini")))
        << "looking changes nothing";
}

TEST_F(SourcesPageTest, AddRejectReorderRenameAndDeleteAreKeptInTheSettingsFile) {
    TForm1& window = Start();
    TSourcesPage& page = ShowPage(window);

    Add(page, QStringLiteral("ftp://epg.example.net/guide.xml"));
    EXPECT_EQ(page.SourceTable->rowCount(), 1);
    EXPECT_TRUE(page.MessageLabel->text().contains(QStringLiteral("http://")))
        << page.MessageLabel->text().toStdString();
    EXPECT_EQ(page.AddressEdit->text(), QStringLiteral("ftp://epg.example.net/guide.xml"))
        << "kept for mending";

    Add(page, QStringLiteral("https://epg.example.net/guide.xml.gz"));
    Add(page, QStringLiteral("http://other.example/epg.xml"));
    EXPECT_TRUE(page.MessageLabel->text().isEmpty());
    EXPECT_TRUE(page.AddressEdit->text().isEmpty());
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::NameColumn),
              (QStringList{"默认节目包", "epg.example.net", "other.example"}));
    ASSERT_NO_FATAL_FAILURE(Rename(page, 1, QStringLiteral("港澳台")));
    ASSERT_NO_FATAL_FAILURE(SetOffset(page, 1, QStringLiteral("-90")));
    page.SourceTable->selectRow(1);
    page.UpButton->click();
    page.SourceTable->selectRow(1);
    page.RemoveButton->click();
    EXPECT_FALSE(page.MessageLabel->text().isEmpty()) << "the program's package stays";
    page.SourceTable->selectRow(2);
    page.RemoveButton->click();
    page.SourceTable->item(1, TSourcesPage::EnabledColumn)->setCheckState(Qt::Unchecked);
    page.AutomaticBox->click();
    page.DailyTimeEdit->setTime(QTime(5, 30));
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::NameColumn), (QStringList{"港澳台", "默认节目包"}));
    EXPECT_TRUE(page.NextUpdateLabel->text().startsWith(QStringLiteral("下次自动更新：")))
        << page.NextUpdateLabel->text().toStdString();

    // The next start reads it all back from the file beside the program.
    ASSERT_TRUE(QFileInfo::exists(ProgramFolder() + QStringLiteral("Pelnavi.ini")));
    TSourcesPage& again = ShowPage(Start());
    EXPECT_EQ(Column(again.SourceTable, TSourcesPage::NameColumn), (QStringList{"港澳台", "默认节目包"}));
    EXPECT_EQ(Column(again.SourceTable, TSourcesPage::AddressColumn).first(),
              QStringLiteral("https://epg.example.net/guide.xml.gz"));
    EXPECT_EQ(again.SourceTable->item(1, TSourcesPage::EnabledColumn)->checkState(), Qt::Unchecked);
    EXPECT_EQ(again.SourceTable->item(0, TSourcesPage::OffsetColumn)->data(Qt::EditRole).toInt(), -90);
    EXPECT_TRUE(again.AutomaticBox->isChecked());
    EXPECT_EQ(again.DailyTimeEdit->time(), QTime(5, 30));
}

TEST_F(SourcesPageTest, ADamagedSettingsFileIsKeptAsideAndThePageSaysSo) {
    mode = ProgramMode::Installed;
    const QString file = ProgramFolder().chopped(5) + QStringLiteral("/home/.config/Pelnavi/Pelnavi.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("[sources\n1\\address=http://a.example/\n");
    damaged.close();

    TSourcesPage& page = ShowPage(Start());
    EXPECT_TRUE(page.MessageLabel->text().contains(QStringLiteral("Pelnavi.conf.bak")))
        << page.MessageLabel->text().toStdString();
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::NameColumn), QStringList{"默认节目包"});
    EXPECT_EQ(ReadAll(file + QStringLiteral(".bak")), QByteArray("[sources\n1\\address=http://a.example/\n"));
    Add(page, QStringLiteral("http://epg.example.net/"));
    EXPECT_TRUE(QFileInfo::exists(file))
        << "an installed program keeps its settings in the configuration folder";
    EXPECT_FALSE(QFileInfo::exists(ProgramFolder() + QStringLiteral("Pelnavi.ini")));
}

// Three feeds beside the program's package: two give the same channel, one fails. Then the first feed
// fails too, and what it gave before stays.
TEST_F(SourcesPageTest, UpdateNowFetchesEverySourceMergesTheirDaysAndSurvivesOneFailing) {
    auto package = LoopbackServer::AnsweringEveryGet(Ok(SamplePackage()));
    auto first = LoopbackServer::AnsweringEveryGet(Ok(Feed("甲", {10, 11})));
    using Script = LoopbackServer::Script;
    LoopbackServer second(
        {Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(Feed("乙", {11, 12}, "测试二台")))},
         Script{LoopbackServer::ReadRequest(), LoopbackServer::Send(Ok(Feed("乙新", {11, 12, 13})))}});
    auto missing = LoopbackServer::AnsweringEveryGet("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    TForm1& window = StartOnline(package->Url(QStringLiteral("/showtime.zip")));
    TSourcesPage& page = ShowPage(window);
    Add(page, first->Url(QStringLiteral("/guide.xml?key=1")));
    Add(page, second.Url(QStringLiteral("/guide.xml")));
    Add(page, missing->Url(QStringLiteral("/gone.xml")));
    for (const auto& [row, name] : {std::pair{1, "甲"}, std::pair{2, "乙"}, std::pair{3, "丙"}})
        ASSERT_NO_FATAL_FAILURE(Rename(page, row, QString::fromUtf8(name)));
    ASSERT_NO_FATAL_FAILURE(SetOffset(page, 2, QStringLiteral("60")));

    page.UpdateNowButton->click();
    ASSERT_TRUE(
        WaitUntil([&] { return window.SBPanel0->text().startsWith(QStringLiteral("更新完成")); }, 30000))
        << log_->lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log_->lines,
              (QStringList{kWaiting, kDownloading, kDownloaded, "正在更新节目源：甲",
                           "甲：成功：1个频道，2个节目", "正在更新节目源：乙", "乙：成功：2个频道，3个节目",
                           "正在更新节目源：丙", "丙：更新失败：服务器返回错误 404", kExtracting, kDone,
                           "更新完成：3个节目源成功，1个失败"}));
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("更新完成：3个节目源成功，1个失败"));
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::ResultColumn),
              (QStringList{"成功：1个频道", "成功：1个频道，2个节目", "成功：2个频道，3个节目",
                           "更新失败：服务器返回错误 404"}));
    EXPECT_FALSE(Column(page.SourceTable, TSourcesPage::LastUpdateColumn).contains(QStringLiteral("—")));
    ASSERT_EQ(first->Requests().size(), 1u);
    EXPECT_TRUE(first->Requests().front().startsWith("GET /guide.xml?key=1 HTTP/1.1\r\n"))
        << "the address as given";

    // Each day whole from the highest source that has it; the second feed's times moved by an hour.
    EXPECT_EQ(Listing(QStringLiteral("数字频道/测试一台.txt")),
              QStringLiteral("测试一台 一周节目预告\n\n2026-12-10 星期四\n20:00 甲10日\n\n2026-12-11 星期五\n"
                             "20:00 甲11日\n\n2026-12-12 星期六\n21:00 乙12日\n"));
    EXPECT_TRUE(QFileInfo::exists(DataFolder() + QStringLiteral("数字频道/测试二台.txt")));
    EXPECT_TRUE(QFileInfo::exists(DataFolder() + QStringLiteral("央视频道/01.txt")))
        << "the package was unpacked";
    EXPECT_EQ(QDir(DataFolder() + QStringLiteral("sources")).entryList(QDir::Files),
              (QStringList{"127.0.0.1-2.source", "127.0.0.1.source"}))
        << "the failed source saved nothing";
    EXPECT_TRUE(window.TVList->count() > 0) << "the list was rescanned";

    // The first feed's server is gone: its days stay as it gave them, the second feed's are new.
    first.reset();
    log_->lines.clear();
    page.UpdateNowButton->click();
    ASSERT_TRUE(WaitUntil(
        [&] { return log_->lines.contains(QStringLiteral("更新完成：2个节目源成功，2个失败")); }, 30000))
        << log_->lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_TRUE(log_->lines.contains(QStringLiteral("甲：更新失败：无法连接服务器")))
        << log_->lines.join(u'|').toStdString();
    EXPECT_EQ(
        Listing(QStringLiteral("数字频道/测试一台.txt")),
        QStringLiteral(
            "测试一台 一周节目预告\n\n2026-12-10 星期四\n20:00 甲10日\n\n2026-12-11 星期五\n"
            "20:00 甲11日\n\n2026-12-12 星期六\n21:00 乙新12日\n\n2026-12-13 星期日\n21:00 乙新13日\n"));
}

TEST_F(SourcesPageTest, WithOnlyTheProgramsPackageEnabledAnUpdateIsTheOneItAlwaysWas) {
    auto package = LoopbackServer::AnsweringEveryGet(Ok(SamplePackage()));
    auto feed = LoopbackServer::AnsweringEveryGet(Ok(Feed("甲", {10})));
    TForm1& window = StartOnline(package->Url(QStringLiteral("/showtime.zip")));
    TSourcesPage& page = ShowPage(window);
    Add(page, feed->Url(QStringLiteral("/guide.xml")));
    page.SourceTable->item(1, TSourcesPage::EnabledColumn)->setCheckState(Qt::Unchecked);

    page.UpdateNowButton->click();
    ASSERT_TRUE(WaitUntil([&] { return log_->lines.contains(kDone); }, 30000))
        << log_->lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log_->lines, (QStringList{kWaiting, kDownloading, kDownloaded, kExtracting, kDone}));
    EXPECT_EQ(window.SBPanel0->text(), kDone);
    EXPECT_EQ(feed->AcceptedConnections(), 0);
    EXPECT_FALSE(QFileInfo::exists(DataFolder() + QStringLiteral("sources")));
    EXPECT_EQ(Column(page.SourceTable, TSourcesPage::ResultColumn), (QStringList{"成功", ""}));
}

TEST_F(SourcesPageTest, AutomaticUpdatesBeginAtTheStartWhenTheListingsAreStale) {
    auto package = LoopbackServer::AnsweringEveryGet(Ok(SamplePackage()));
    QFile settings(ProgramFolder() + QStringLiteral("Pelnavi.ini"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[update]\nautomatic=true\ndailyTime=04:15\n");
    settings.close();
    TForm1& window = StartOnline(package->Url(QStringLiteral("/showtime.zip")));
    ASSERT_TRUE(WaitUntil([&] { return log_->lines.contains(kDone); }, 30000))
        << log_->lines.join(u'|').toStdString();
    ASSERT_TRUE(WaitForTheEnd(window));
    EXPECT_EQ(log_->lines, (QStringList{kWaiting, kDownloading, kDownloaded, kExtracting, kDone}));

    TSourcesPage& page = ShowPage(window);
    // The daily time next, unless the update just made was less than 30 minutes before it.
    const QString label = page.NextUpdateLabel->text();
    ASSERT_TRUE(label.startsWith(QStringLiteral("下次自动更新："))) << label.toStdString();
    const QDateTime next = QDateTime::fromString(label.mid(7), QStringLiteral("yyyy-MM-dd HH:mm"));
    const QDateTime started = window.Sources->History().lastStart;
    EXPECT_GT(next, started);
    EXPECT_LE(started.secsTo(next), 24 * 3600 + 1800);
    EXPECT_TRUE(next.time() == QTime(4, 15) || started.secsTo(next) <= 1800) << label.toStdString();
    EXPECT_TRUE(window.AutomaticUpdateTimer->isActive());
    EXPECT_TRUE(QString::fromUtf8(ReadAll(ProgramFolder() + QStringLiteral("Pelnavi.ini")))
                    .contains(QStringLiteral("lastSuccess=")))
        << "the history is kept in a file that exists";
}

} // namespace
