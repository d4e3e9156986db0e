// The page "正在播出" and the mark of the programme on air, on the real window with a fixed clock.
#include "catalogue/ListingTime.h"
#include "tests/ui/WindowFixture.h"
#include "ui/ListingMemo.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QToolButton>

#include <atomic>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi) {
    return ListingInstant(QDate(y, mo, d), QTime(h, mi));
}

const QString kCentral =
    QStringLiteral("ZORQ-1 中央 一周节目预告\n\n"
                   "2026-12-10 星期四\n06:00 朝闻天下\n19:00 新闻联播\n19:30 焦点访谈\n\n"
                   "2026-12-11 星期五\n06:00 朝闻天下\n19:00 新闻联播\n");
const QString kHunan =
    QStringLiteral("2026-12-10 星期四\n18:00 湖南新闻\n19:05 新闻联播\n20:00 快乐大本营\n");

// The rows of a list, their cells joined by "|" up to the last that is not empty.
QStringList Rows(const QAbstractItemView* list) {
    const QAbstractItemModel& model = *list->model();
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.index(row, column).data().toString();
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
        rows << cells.join(u'|');
    }
    return rows;
}

int Count(const QAbstractItemView* list) {
    return list->model()->rowCount();
}

// Rows in catalogue order follow the file system's listing order; compared sorted where two classes
// are involved.
QStringList SortedRows(const QAbstractItemView* list) {
    QStringList rows = Rows(list);
    rows.sort();
    return rows;
}

QStringList Headers(const QAbstractItemView* list) {
    QStringList headers;
    for (int column = 0; column < list->model()->columnCount(); ++column)
        headers << list->model()->headerData(column, Qt::Horizontal).toString();
    return headers;
}

QColor Foreground(const QAbstractItemView* list, int row, int column) {
    return list->model()->index(row, column).data(Qt::ForegroundRole).value<QColor>();
}

class OnAirPageTest : public WindowFixture {
protected:
    // The page reads the data folder on a worker; the checks wait for what it shows.
    void ShowPage(TForm1& window) {
        window.PageControl1->setCurrentWidget(window.TabSheet_OnAir);
        window.OnAirPage->WaitForRefresh();
    }
    void Rescan(TForm1& window) {
        window.LoadData->click();
        window.OnAirPage->WaitForRefresh();
    }
};

TEST_F(OnAirPageTest, RowsPerChannelOnAirRefreshedByScansAndTheMinute) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("央视频道/02.txt"),
                  EncodeGbk(QStringLiteral("2026-12-03 星期四\n19:00 上周节目\n")));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 0));
    ASSERT_GE(window.PageControl1->count(), 3);
    EXPECT_EQ(window.PageControl1->tabText(2), QStringLiteral("正在播出"));
    EXPECT_EQ(window.OnAirPage->SearchEdit->placeholderText(),
              QStringLiteral("搜索节目或频道，可用拼音首字母，如 xwlb"));
    ShowPage(window);
    EXPECT_EQ(Headers(window.OnAirPage->OnAirList),
              (QStringList{"频道", "正在播出", "开始", "接下来", "开始"}));
    EXPECT_EQ(Rows(window.OnAirPage->OnAirList), (QStringList{"ZORQ-1 中央|新闻联播|19:00|焦点访谈|19:30"}));
    EXPECT_TRUE(window.OnAirPage->MinuteTimer->isActive());
    // Beside the search field, the time the page goes by.
    EXPECT_EQ(window.OnAirPage->Clock->text(), QStringLiteral("北京时间 19:00"));
    EXPECT_EQ(window.OnAirPage->Clock->accessibleName(), QStringLiteral("当前北京时间"));
    EXPECT_EQ(window.OnAirPage->Clock->accessibleDescription(), QStringLiteral("北京时间 19:00"));

    // A scan (as after an update) brings in channels of every class.
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
    Rescan(window);
    EXPECT_EQ(
        SortedRows(window.OnAirPage->OnAirList),
        (QStringList{"ZORQ-1 中央|新闻联播|19:00|焦点访谈|19:30", "卫视|湖南新闻|18:00|新闻联播|19:05"}));

    // A refresh asked for while one reads is not lost: the first reading is held after it has read
    // the folder, the file comes and the refresh is asked for meanwhile; the newer reading shows.
    QSemaphore held, release;
    std::atomic<int> readings = 0;
    window.OnAirPage->DuringReading = [&](const std::stop_token&) {
        if (readings++ == 0) {
            held.release();
            release.acquire();
        }
    };
    window.OnAirPage->Refresh();
    held.acquire();
    WriteDataFile(QStringLiteral("数字频道/news.txt"), EncodeGbk(kHunan));
    window.OnAirPage->Refresh();
    release.release();
    window.OnAirPage->WaitForRefresh();
    EXPECT_EQ(readings, 2);
    EXPECT_EQ(Count(window.OnAirPage->OnAirList), 3);
    window.OnAirPage->DuringReading = nullptr;
    ASSERT_TRUE(QFile::remove(DataFolder() + QStringLiteral("数字频道/news.txt")));
    Rescan(window);

    now_ = At(2026, 12, 10, 19, 30);
    window.OnAirPage->MinutePassed();
    EXPECT_EQ(
        SortedRows(window.OnAirPage->OnAirList),
        (QStringList{"ZORQ-1 中央|焦点访谈|19:30|朝闻天下|06:00", "卫视|新闻联播|19:05|快乐大本营|20:00"}));
    EXPECT_EQ(window.OnAirPage->Clock->text(), QStringLiteral("北京时间 19:30"));

    window.PageControl1->setCurrentIndex(0);
    EXPECT_FALSE(window.OnAirPage->MinuteTimer->isActive());
}

// The list used to be rebuilt every minute and after every scan, which dropped the selection, the
// scroll position and the row a screen reader was on.
TEST_F(OnAirPageTest, TheMinuteAndARescanUpdateTheRowsInPlace) {
    for (int c = 10; c < 70; ++c)
        WriteDataFile(QStringLiteral("数字频道/chan%1.txt").arg(c),
                      EncodeGbk(QStringLiteral("2026-12-10\n19:00 节目A\n19:30 节目B\n20:00 节目C\n")));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    QTreeView* const list = window.OnAirPage->OnAirList;
    const QAbstractItemModel* const model = list->model();
    ASSERT_EQ(model->rowCount(), 60);
    list->setFocus();
    list->setCurrentIndex(model->index(40, 1));
    list->verticalScrollBar()->setValue(25);
    ASSERT_EQ(list->verticalScrollBar()->value(), 25);
    const QString chosen = model->index(40, 0).data().toString();
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    const auto stillOn = [&](int row) {
        EXPECT_EQ(list->currentIndex().row(), row);
        EXPECT_EQ(list->currentIndex().siblingAtColumn(0).data().toString(), chosen) << "the same channel";
        EXPECT_TRUE(list->selectionModel()->isRowSelected(row, {}));
        EXPECT_EQ(list->verticalScrollBar()->value(), 25);
        QAccessibleInterface* const focus = QAccessible::queryAccessibleInterface(list)->focusChild();
        ASSERT_NE(focus, nullptr);
        EXPECT_EQ(focus->text(QAccessible::Name), list->currentIndex().data().toString());
    };

    now_ = At(2026, 12, 10, 19, 30);
    window.OnAirPage->MinutePassed();
    EXPECT_EQ(Rows(list).value(40), chosen + QStringLiteral("|节目B|19:30|节目C|20:00"));
    stillOn(40);

    // A channel that comes before it in the catalogue, and one that goes: one row in, one row out.
    WriteDataFile(QStringLiteral("数字频道/chan05.txt"),
                  EncodeGbk(QStringLiteral("2026-12-10\n19:00 新节目\n")));
    ASSERT_TRUE(QFile::remove(DataFolder() + QStringLiteral("数字频道/chan69.txt")));
    Rescan(window);
    EXPECT_EQ(model->rowCount(), 60);
    EXPECT_EQ(Rows(list).value(0).section(u'|', 1, 1), QStringLiteral("新节目"));
    stillOn(41);
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(removed.size(), 1);
}

// Long names used to widen their columns and push both start times out of the page, behind a
// scroll bar. The titles are cut short now (a channel's name beyond a third of the list too), and a
// cell's whole text is its tooltip and its accessible description. The clock above keeps its room.
TEST_F(OnAirPageTest, LongTitlesAreCutShortSoTheStartTimesStayInView) {
    const QString title =
        QStringLiteral("电视剧：一部名字很长很长的连续剧，讲的是一个家族三代人在城市里的故事(12)");
    const QString channel = QStringLiteral("一个名字很长很长很长很长很长很长很长的数字电视频道");
    WriteDataFile(QStringLiteral("央视频道/01.txt"),
                  EncodeGbk(QStringLiteral("2026-12-10\n19:00 %1\n20:00 %1之二\n").arg(title)));
    WriteDataFile(QStringLiteral("数字频道/%1.txt").arg(channel),
                  EncodeGbk(QStringLiteral("2026-12-10\n19:00 新闻\n20:00 天气\n")));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TOnAirPage& page = *window.OnAirPage;
    EXPECT_EQ(page.size(), QSize(616, 361));
    EXPECT_TRUE(page.Clock->isVisible());
    QCoreApplication::processEvents(); // the page lays the clock's text out
    EXPECT_LT(page.Clock->geometry().right(), page.width());
    EXPECT_GE(page.Clock->width(), page.Clock->fontMetrics().horizontalAdvance(page.Clock->text()));
    QTreeView* const list = page.OnAirList;
    const QAbstractItemModel& model = *list->model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    QAccessibleTableInterface* const table = QAccessible::queryAccessibleInterface(list)->tableInterface();
    ASSERT_NE(table, nullptr);
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        for (const int column : {2, 3, 4}) {
            const QRect cell = list->visualRect(model.index(row, column));
            EXPECT_LE(cell.right(), list->viewport()->width()) << column;
            if (column != 3) {
                EXPECT_GE(cell.width(),
                          list->fontMetrics().horizontalAdvance(model.index(row, column).data().toString()));
            }
        }
        for (const int column : {0, 1, 3}) {
            const QString whole = model.index(row, column).data().toString();
            EXPECT_EQ(model.index(row, column).data(Qt::ToolTipRole).toString(), whole);
            EXPECT_EQ(table->cellAt(row, column)->text(QAccessible::Description), whole);
        }
    }
    const int titled = model.index(0, 1).data().toString() == title ? 0 : 1;
    EXPECT_EQ(model.index(titled, 1).data().toString(), title);
    EXPECT_LT(list->visualRect(model.index(titled, 1)).width(), list->fontMetrics().horizontalAdvance(title));
    EXPECT_LE(list->header()->sectionSize(0), list->viewport()->width() / 3);
}

TEST_F(OnAirPageTest, NothingOnAirShowsOneLine) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    TForm1& window = StartAt(At(2026, 12, 20, 12, 0));
    ShowPage(window);
    EXPECT_EQ(Rows(window.OnAirPage->OnAirList),
              (QStringList{"暂无正在播出的节目，请在“节目源”页添加节目单地址并更新"}));
    // It used to be cut short to the width of the column headers: "暂无正在播出的节目，请先更…".
    QTreeView* const list = window.OnAirPage->OnAirList;
    EXPECT_GE(list->visualRect(list->model()->index(0, 0)).width(),
              list->fontMetrics().horizontalAdvance(Rows(list).value(0)) + 8);
    // The line leads nowhere.
    window.OnAirPage->OnAirList->setCurrentIndex(window.OnAirPage->OnAirList->model()->index(0, 0));
    QTest::keyClick(window.OnAirPage->OnAirList, Qt::Key_Return);
    EXPECT_EQ(window.PageControl1->currentWidget(), window.TabSheet_OnAir);
}

// A failure on the reading's worker (the transliterator, memory, anything) used to come back in the
// slot that takes the result and end the program.
TEST_F(OnAirPageTest, AnExceptionOnTheReadingWorkerShowsAnEmptyReadingWithALine) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 0));
    TOnAirPage& page = *window.OnAirPage;
    const struct {
        const char* what;
        std::function<void(const std::stop_token&)> fail;
        const char* line;
    } cases[] = {
        {"a standard exception",
         [](const std::stop_token&) { throw std::runtime_error("transliterator gone"); },
         "读取节目单时出错：transliterator gone"},
        {"out of memory", [](const std::stop_token&) { throw std::bad_alloc(); },
         "读取节目单时出错：std::bad_alloc"},
        {"anything else", [](const std::stop_token&) { throw 42; }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        page.DuringReading = c.fail;
        window.PageControl1->setCurrentIndex(0);
        ShowPage(window);
        EXPECT_EQ(Rows(page.OnAirList),
                  (QStringList{"暂无正在播出的节目，请在“节目源”页添加节目单地址并更新"}));
        EXPECT_FALSE(page.Note->isHidden());
        if (c.line != nullptr)
            EXPECT_EQ(page.Note->text(), QString::fromUtf8(c.line));
        else
            EXPECT_TRUE(page.Note->text().startsWith(u"读取节目单时出错："));
        // The search has nothing to find, and says nothing worse.
        page.SearchEdit->setText(QStringLiteral("xwlb"));
        ASSERT_TRUE(WaitUntil([&] { return page.MatchList->isVisible(); }));
        EXPECT_EQ(Count(page.MatchList), 0);
        page.SearchEdit->clear();
    }
    // The next reading that succeeds shows again, without the line.
    page.DuringReading = nullptr;
    page.Refresh();
    page.WaitForRefresh();
    EXPECT_EQ(Rows(page.OnAirList), (QStringList{"ZORQ-1 中央|新闻联播|19:00|焦点访谈|19:30"}));
    EXPECT_TRUE(page.Note->isHidden());
}

// The search runs on a worker too; a failure there says so in the results instead of ending the
// program.
TEST_F(OnAirPageTest, AnExceptionOnTheSearchWorkerShowsALine) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TOnAirPage& page = *window.OnAirPage;
    page.DuringSearch = [] { throw std::runtime_error("index gone"); };
    page.SearchEdit->setText(QStringLiteral("xwlb"));
    ASSERT_TRUE(WaitUntil([&] { return page.MatchList->isVisible() && !page.IsSearching(); }));
    EXPECT_EQ(Rows(page.MatchList), (QStringList{"搜索时出错：index gone"}));
    page.DuringSearch = nullptr;
    page.SearchEdit->setText(QStringLiteral("朝闻"));
    ASSERT_TRUE(WaitUntil([&] { return Rows(page.MatchList).value(0).endsWith(u"朝闻天下"); }));
}

// The page's end (the program's end) used to wait for the whole reading: 168 s for a 50 MB listing.
TEST_F(OnAirPageTest, ThePagesEndStopsTheReadingUnderWay) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    auto page = std::make_unique<TOnAirPage>();
    page->DataFolder = [this] { return DataFolder(); };
    QSemaphore entered;
    std::atomic<bool> stopped = false;
    page->DuringReading = [&](const std::stop_token& stop) {
        entered.release();
        // A reading that would take long goes on until it is asked to stop (30 s at most).
        for (int i = 0; i < 3000 && !stop.stop_requested(); ++i)
            QThread::msleep(10);
        stopped = stop.stop_requested();
    };
    page->Refresh();
    entered.acquire();
    page.reset();
    EXPECT_TRUE(stopped);
}

// What the reading left out for its size is said on the page.
TEST_F(OnAirPageTest, ListingsLeftOutForTheirSizeAreNoted) {
    const auto padded = [](const QString& listing, qsizetype bytes) {
        const QByteArray text = EncodeGbk(listing);
        return text + QByteArray(bytes - text.size(), '#');
    };
    WriteDataFile(QStringLiteral("央视频道/01.txt"), padded(kCentral, 1500));
    WriteDataFile(QStringLiteral("央视频道/02.txt"), padded(kCentral, 4000));
    WriteDataFile(QStringLiteral("央视频道/03.txt"), padded(kHunan, 1000));
    WriteDataFile(QStringLiteral("央视频道/04.txt"), padded(kHunan, 1000));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 0));
    TOnAirPage& page = *window.OnAirPage;
    page.Limits = {2048, 3072};
    ShowPage(window);
    EXPECT_EQ(Count(page.OnAirList), 2);
    EXPECT_FALSE(page.Note->isHidden());
    EXPECT_EQ(page.Note->text(),
              QStringLiteral("1 个节目单超过 2 KB，未读入\n节目单共超过 3 KB，其后 1 个未读入"));
    page.Limits = {};
    page.Refresh();
    page.WaitForRefresh();
    EXPECT_EQ(Count(page.OnAirList), 4);
    EXPECT_TRUE(page.Note->isHidden());
}

TEST_F(OnAirPageTest, DoubleClickOpensTheChannelOnTheFirstPage) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("地方频道/anhui卫视.txt"),
                  EncodeGbk(QStringLiteral("2026-12-10\n00:00 x\n")));
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    QTreeView* list = window.OnAirPage->OnAirList;
    ASSERT_EQ(Count(list), 3);
    const int hunan = static_cast<int>(Rows(list).indexOf(u"卫视|新闻联播|19:05|快乐大本营|20:00"_qs));
    ASSERT_GE(hunan, 0);
    const QPoint place = list->visualRect(list->model()->index(hunan, 1)).center();
    // What a double-click delivers: a click, then the double-click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, place);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, place);

    EXPECT_EQ(window.PageControl1->currentIndex(), 0);
    EXPECT_EQ(window.ComboBox_Class->currentText(), QStringLiteral("地方频道"));
    ASSERT_GE(window.TVList->currentRow(), 0);
    EXPECT_EQ(window.TVList->selectedRow(), window.TVList->currentRow());
    EXPECT_TRUE(window.TVFilepathList->itemText(window.TVList->currentRow()).endsWith(u"hunan卫视.txt"));
    EXPECT_EQ(MemoLines(window.TVListBox), (QStringList{"【卫视】", "2026-12-10 星期四", "18:00 湖南新闻",
                                                        "19:05 新闻联播", "20:00 快乐大本营"}));
    EXPECT_EQ(window.ListingMark->MarkedLine(), 3);
}

TEST_F(OnAirPageTest, SearchAfterAPauseUpcomingFirstPastGreyedEnterOpens) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
    TForm1& window = StartAt(At(2026, 12, 10, 20, 15));
    ShowPage(window);
    TOnAirPage& page = *window.OnAirPage;
    EXPECT_EQ(page.SearchDelay->interval(), 150);
    EXPECT_EQ(Headers(page.MatchList), (QStringList{"日期", "时间", "频道", "节目"}));
    page.SearchEdit->setFocus();
    QTest::keyClicks(page.SearchEdit, QStringLiteral("XWLB"));
    EXPECT_TRUE(page.OnAirList->isVisible()); // nothing yet: the pause has not passed
    ASSERT_TRUE(WaitUntil([&] { return page.MatchList->isVisible(); }));
    EXPECT_EQ(Rows(page.MatchList),
              (QStringList{"12-11 周五|19:00|ZORQ-1 中央|新闻联播", "12-10 周四|19:05|卫视|新闻联播",
                           "12-10 周四|19:00|ZORQ-1 中央|新闻联播"}));
    const QColor grey = page.palette().color(QPalette::Disabled, QPalette::Text);
    EXPECT_NE(Foreground(page.MatchList, 0, 3), grey);
    EXPECT_EQ(Foreground(page.MatchList, 1, 3), grey);
    EXPECT_EQ(Foreground(page.MatchList, 2, 0), grey);

    page.MatchList->setFocus();
    page.MatchList->setCurrentIndex(page.MatchList->model()->index(1, 0));
    QTest::keyClick(page.MatchList, Qt::Key_Return);
    EXPECT_EQ(window.PageControl1->currentIndex(), 0);
    EXPECT_EQ(MemoLines(window.TVListBox).value(0), QStringLiteral("【卫视】"));

    ShowPage(window);
    // The field's own clear button empties it.
    auto* clearButton = page.SearchEdit->findChild<QToolButton*>();
    ASSERT_NE(clearButton, nullptr);
    QTest::mouseClick(clearButton, Qt::LeftButton);
    EXPECT_EQ(page.SearchEdit->text(), QString());
    EXPECT_TRUE(page.OnAirList->isVisible());
    EXPECT_FALSE(page.MatchList->isVisible());
}

// A one-letter search used to make a row of every match on the window's thread: 40 s frozen and
// 9.7 GB for 50,000 listings.
TEST_F(OnAirPageTest, AOneLetterSearchShowsTheFirstMatchesOffTheWindowsThreadAndALineForTheRest) {
    QString day = QStringLiteral("2026-12-10 星期四\n");
    for (int minute = 0; minute < 24 * 60; minute += 2)
        day += QStringLiteral("%1:%2 新闻%3\n")
                   .arg(minute / 60, 2, 10, QChar(u'0'))
                   .arg(minute % 60, 2, 10, QChar(u'0'))
                   .arg(minute / 2);
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(day));
    TForm1& window = StartAt(At(2026, 12, 10, 12, 0));
    ShowPage(window);
    TOnAirPage& page = *window.OnAirPage;
    std::atomic<QThread*> searchedOn = nullptr;
    QSemaphore held, release;
    std::atomic<int> searches = 0;
    page.DuringSearch = [&] {
        searchedOn = QThread::currentThread();
        if (searches++ == 0) {
            held.release();
            release.acquire();
        }
    };
    page.SearchEdit->setText(QStringLiteral("x"));
    // Typed on while the first search runs: the newer text is what shows.
    ASSERT_TRUE(WaitUntil([&] { return held.tryAcquire(); }));
    page.SearchEdit->setText(QStringLiteral("新闻7"));
    ASSERT_TRUE(WaitUntil([&] { return !page.SearchDelay->isActive(); }));
    release.release();
    ASSERT_TRUE(WaitUntil([&] { return page.MatchList->isVisible() && !page.IsSearching(); }));
    EXPECT_EQ(searches, 2);
    EXPECT_NE(searchedOn.load(), QCoreApplication::instance()->thread());
    EXPECT_EQ(Count(page.MatchList), 1 + 10 + 20); // 新闻7, 新闻70 to 79, 新闻700 to 719

    page.SearchEdit->setText(QStringLiteral("x"));
    ASSERT_TRUE(WaitUntil([&] { return Count(page.MatchList) > 31 && !page.IsSearching(); }));
    const QStringList rows = Rows(page.MatchList);
    ASSERT_EQ(rows.size(), TOnAirPage::kShownMatches + 1);
    EXPECT_EQ(rows.first(), QStringLiteral("12-10 周四|12:00|ZORQ-1 中央|新闻360"));
    EXPECT_EQ(rows[499], QStringLiteral("12-10 周四|07:20|ZORQ-1 中央|新闻220")); // the 140th past one
    EXPECT_EQ(rows.last(), QStringLiteral("还有 220 条结果，请输入更多字"));
    EXPECT_EQ(page.MatchList->model()->flags(page.MatchList->model()->index(500, 0)), Qt::ItemIsEnabled);
    EXPECT_TRUE(page.MatchList->isFirstColumnSpanned(500, {}));
}

// The sample week that ./run lays out for a first start: every channel has a programme on air, and
// "xwlb" finds the evening news on each channel that carries it, whatever its file's encoding.
TEST_F(OnAirPageTest, TheDemoWeek) {
    QProcess make;
    make.start(QStringLiteral("python3"),
               {QStringLiteral(PELNAVI_SOURCE_DIR "/tools/demo-server/make_package.py"),
                QStringLiteral("--date"), QStringLiteral("2026-12-10"), QStringLiteral("--unpacked"),
                DataFolder()});
    ASSERT_TRUE(make.waitForFinished(60000) && make.exitCode() == 0)
        << make.readAllStandardError().toStdString();
    TForm1& window = StartAt(At(2026, 12, 12, 19, 10));
    ShowPage(window);
    TOnAirPage& page = *window.OnAirPage;
    EXPECT_EQ(Count(page.OnAirList), 53);
    page.SearchEdit->setText(QStringLiteral("xwlb"));
    ASSERT_TRUE(WaitUntil([&] { return page.MatchList->isVisible(); }));
    // ZORQ-1, ZORQ-13, the HD channel and the twenty provincial channels, a week each; 东方卫视 is
    // stored in UTF-16, 湖南卫视 in UTF-8, the others in code page 936.
    QSet<QString> channels;
    for (const QString& row : Rows(page.MatchList)) {
        EXPECT_TRUE(row.endsWith(u"|新闻联播")) << row.toStdString();
        channels.insert(row.section(u'|', 2, 2));
    }
    EXPECT_EQ(Count(page.MatchList), 23 * 7);
    EXPECT_EQ(channels.size(), 23);
    for (const char* name : {"ZORQ-1 中央", "ZORQ-13 ZORQ-13 新闻", "ZORQ-高清台", "东方卫视", "湖南卫视"})
        EXPECT_TRUE(channels.contains(QString::fromUtf8(name))) << name;
}

TEST_F(OnAirPageTest, TheListingMarkLeavesTheTextFollowsTheMinuteAndGoesWithTheListing) {
    // A programme every five minutes: the memo takes its lines in blocks of several, and the
    // programme at 20:10 lies in a later one.
    QString longDay = QStringLiteral("2026-12-10 星期四\n");
    for (int hour = 0; hour < 24; ++hour)
        for (int minute = 0; minute < 60; minute += 5)
            longDay += QStringLiteral("%1:%2 节目%1%2\n")
                           .arg(hour, 2, 10, QChar(u'0'))
                           .arg(minute, 2, 10, QChar(u'0'));
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(longDay));
    TForm1& window = StartAt(At(2026, 12, 10, 20, 10));
    ASSERT_EQ(window.TVList->count(), 1);
    const QRect place = window.TVList->visualItemRect(0);
    QTest::mouseClick(window.TVList->viewport(), Qt::LeftButton, {}, place.center());

    const QStringList expected = QStringList{"【ZORQ-1 中央】"} + longDay.trimmed().split(u'\n');
    EXPECT_EQ(MemoLines(window.TVListBox), expected);
    // 20:10 is the 243rd programme, after the title and the heading.
    EXPECT_EQ(window.ListingMark->MarkedLine(), 244);
    const QList<QTextEdit::ExtraSelection> marks = window.TVListBox->extraSelections();
    ASSERT_EQ(marks.size(), 1);
    EXPECT_EQ(LineAt(marks[0].cursor), QStringLiteral("20:10 节目2010"));
    EXPECT_LT(marks[0].format.background().color().alpha(), 128);
    QScrollBar* const lines = window.TVListBox->verticalScrollBar();
    EXPECT_EQ(lines->value(), 242); // near the top
    EXPECT_EQ(lines->maximum() + lines->pageStep(), expected.size());
    // Painted across the memo's width on that line alone.
    QPlainTextEdit* const memo = window.TVListBox;
    const QImage painted = memo->viewport()->grab().toImage();
    const QRect line = memo->cursorRect(marks[0].cursor);
    const int right = memo->viewport()->width() - 4;
    const QColor base = memo->palette().color(QPalette::Base);
    EXPECT_NE(painted.pixelColor(right, line.center().y()), base);
    EXPECT_EQ(painted.pixelColor(right, line.top() - line.height() / 2), base);
    EXPECT_EQ(painted.pixelColor(right, line.bottom() + line.height() / 2), base);
    EXPECT_TRUE(window.ListingMark->MinuteTimer->isActive());

    now_ = At(2026, 12, 10, 21, 40);
    window.ListingMark->MinutePassed();
    EXPECT_EQ(window.ListingMark->MarkedLine(), 262);
    EXPECT_EQ(LineAt(window.TVListBox->extraSelections().value(0).cursor), QStringLiteral("21:40 节目2140"));
    EXPECT_EQ(MemoLines(window.TVListBox), expected);

    // A status line below the listing keeps it, and is a line of its own at the end; a rescan
    // empties the memo and ends the mark.
    ReportStatus(QStringLiteral("数据更新完成."));
    EXPECT_EQ(window.ListingMark->MarkedLine(), 262);
    EXPECT_EQ(MemoLines(window.TVListBox), expected + QStringList{"数据更新完成."});
    EXPECT_EQ(lines->maximum() + lines->pageStep(), expected.size() + 1);
    window.LoadData->click();
    EXPECT_EQ(window.ListingMark->MarkedLine(), -1);
    EXPECT_TRUE(window.TVListBox->extraSelections().isEmpty());
    EXPECT_FALSE(window.ListingMark->MinuteTimer->isActive());
}

// The mark used to drift after an edit: a line break or a paste above it moved it onto another
// programme, and the midnight re-read read the edited text. An edit within the listing ends it;
// text typed below the listing keeps it.
TEST_F(OnAirPageTest, TheListingMarkDoesNotDriftAfterAnEditAboveIt) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    QPlainTextEdit* const memo = window.TVListBox;
    const auto showAndPlaceCursor = [&](int line) {
        now_ = At(2026, 12, 10, 19, 10);
        const QRect place = window.TVList->visualItemRect(0);
        QTest::mouseClick(window.TVList->viewport(), Qt::LeftButton, {}, place.center());
        ASSERT_EQ(window.ListingMark->MarkedLine(), 5); // 19:00 新闻联播
        memo->setFocus();
        memo->setTextCursor(LineStart(memo->document(), line));
    };
    const struct {
        const char* what;
        int line; // where the cursor is put
        std::function<void()> edit;
    } edits[] = {
        {"a line break above the mark", 2, [&] { QTest::keyClick(memo, Qt::Key_Return); }},
        {"a paste above the mark", 3,
         [&] {
             QApplication::clipboard()->setText(QStringLiteral("18:00 新闻\n18:30 天气\n"));
             memo->paste();
         }},
        {"a letter typed on the marked line", 5, [&] { QTest::keyClick(memo, Qt::Key_X); }},
        {"a line removed below the mark", 9, [&] { QTest::keyClick(memo, Qt::Key_Backspace); }},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.what);
        showAndPlaceCursor(e.line);
        e.edit();
        EXPECT_EQ(window.ListingMark->MarkedLine(), -1);
        EXPECT_TRUE(memo->extraSelections().isEmpty());
        EXPECT_FALSE(window.ListingMark->MinuteTimer->isActive());
        // Neither the next minute nor the next day brings back a mark on the edited text.
        window.ListingMark->MinutePassed();
        now_ = At(2026, 12, 11, 19, 10);
        window.ListingMark->MinutePassed();
        EXPECT_EQ(window.ListingMark->MarkedLine(), -1);
        EXPECT_TRUE(memo->extraSelections().isEmpty());
    }

    // Below the listing, after a status line: the mark stays, and the next day reads the listing.
    showAndPlaceCursor(0);
    ReportStatus(QStringLiteral("数据更新完成."));
    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, QStringLiteral("note"));
    EXPECT_EQ(window.ListingMark->MarkedLine(), 5);
    now_ = At(2026, 12, 11, 19, 10);
    window.ListingMark->MinutePassed();
    EXPECT_EQ(window.ListingMark->MarkedLine(), 10);
    EXPECT_EQ(LineAt(memo->extraSelections().value(0).cursor), QStringLiteral("19:00 新闻联播"));
}

TEST_F(OnAirPageTest, TheListingMarkFollowsTheDaysOfAWeekShownThroughout) {
    QString week;
    for (int day = 10; day <= 16; ++day)
        week += QStringLiteral("2026-12-%1\n06:00 朝闻天下\n19:00 新闻联播\n").arg(day);
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(week));
    TForm1& window = StartAt(At(2026, 12, 10, 20, 0));
    const QRect place = window.TVList->visualItemRect(0);
    QTest::mouseClick(window.TVList->viewport(), Qt::LeftButton, {}, place.center());
    EXPECT_EQ(window.ListingMark->MarkedLine(), 3);
    // Days on, with a status line below the listing that reads like a programme.
    ReportStatus(QStringLiteral("07:00 数据更新完成"));
    now_ = At(2026, 12, 14, 7, 30);
    window.ListingMark->MinutePassed();
    EXPECT_EQ(window.ListingMark->MarkedLine(), 14);
    EXPECT_EQ(LineAt(window.TVListBox->extraSelections().value(0).cursor), QStringLiteral("06:00 朝闻天下"));
    now_ = At(2026, 12, 17, 7, 30);
    window.ListingMark->MinutePassed();
    EXPECT_EQ(window.ListingMark->MarkedLine(), -1);
}

} // namespace
