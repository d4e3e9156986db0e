// Reminders and favourites through the real window: set from the grid and from 正在播出, listed on
// the page "提醒", fired at their time, and favourites first, starred and as a class of the grid.
#include "tests/ui/WindowFixture.h"

#include "reminders/CalendarExport.h"
#include "tests/support/Files.h"
#include "ui/GuideReading.h"
#include "ui/RemindersPage.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QTest>

namespace {

QDateTime At(int d, int h, int mi) {
    return ListingInstant(QDate(2026, 12, d), QTime(h, mi));
}

const QString kCentral = QStringLiteral("ZORQ-1 中央 一周节目预告\n\n"
                                        "2026-12-10 星期四\n06:00 朝闻天下\n19:00 新闻联播\n19:30 焦点访谈\n"
                                        "20:05 电视剧：山海情长(21)\n23:30 午夜新闻\n");
const QString kHunan =
    QStringLiteral("2026-12-10 星期四\n18:00 湖南新闻\n19:05 新闻联播\n20:00 快乐大本营\n");

const QString kCentralName = QStringLiteral("ZORQ-1 中央");
const QString kHunanName = QStringLiteral("卫视"); // as the display-name table names the file

class RemindersPageTest : public WindowFixture {
protected:
    TForm1& StartWithListings() {
        WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
        WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
        return StartAt(At(10, 19, 10));
    }
    static TProgrammeGrid& ShowGrid(TForm1& window) {
        window.PageControl1->setCurrentWidget(window.TabSheet_Grid);
        window.GridPage()->Model->WaitForRefresh();
        return *window.GridPage()->View->Grid;
    }
    // Selects the programme of the channel that starts at `hour`:`minute`.
    static void SelectProgramme(TProgrammeGrid& grid, const QString& channel, int hour, int minute) {
        for (qsizetype row = 0; row < grid.Day().RowCount(); ++row) {
            if (grid.Day().Channel(row).displayName != channel)
                continue;
            const std::span<const GridBox> boxes = grid.Day().RowBoxes(row);
            for (size_t box = 0; box < boxes.size(); ++box)
                if (boxes[box].programme->time == QTime(hour, minute))
                    return grid.Select({row, static_cast<qsizetype>(box)});
        }
        FAIL() << channel.toStdString() << " has no programme at " << hour << ":" << minute;
    }
    static QStringList Row(const QTreeView* list, int row) {
        QStringList cells;
        for (int column = 0; column < list->model()->columnCount(); ++column)
            cells << list->model()->index(row, column).data().toString();
        return cells;
    }
    static void ShowOnAir(TForm1& window) {
        window.PageControl1->setCurrentWidget(window.TabSheet_OnAir);
        window.OnAirPage->WaitForRefresh();
    }
};

TEST_F(RemindersPageTest, AReminderSetInTheGridFiresAtItsTimeAndOpensTheProgramme) {
    TForm1& window = StartWithListings();
    // The page is made when first shown.
    EXPECT_EQ(window.TabSheet_Reminders->findChild<TRemindersPage*>(), nullptr);
    TProgrammeGrid& grid = ShowGrid(window);
    SelectProgramme(grid, kCentralName, 20, 5);
    QTest::keyClick(&grid, Qt::Key_R);
    ASSERT_EQ(window.Reminders->Reminders().size(), 1);
    const Reminder& reminder = window.Reminders->Reminders()[0];
    EXPECT_EQ(reminder.title, QStringLiteral("电视剧：山海情长(21)"));
    EXPECT_EQ(reminder.lead, 5);
    EXPECT_EQ(reminder.end, At(10, 23, 30));

    // The details offer it too; the same programme is one reminder.
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Return);
    ASSERT_NE(grid.parentWidget()->findChild<TGridDetails*>(), nullptr);
    window.GridPage()->View->Details->Remind->click();
    EXPECT_EQ(window.Reminders->Reminders().size(), 1);

    window.PageControl1->setCurrentWidget(window.TabSheet_Reminders);
    TRemindersPage& page = *window.RemindersPage();
    ASSERT_EQ(page.ReminderList->model()->rowCount(), 1);
    EXPECT_EQ(
        Row(page.ReminderList, 0),
        (QStringList{QStringLiteral("ZORQ-1 中央"), QStringLiteral("12-10 周四"), QStringLiteral("20:05"),
                     QStringLiteral("电视剧：山海情长(21)"), QStringLiteral("5 分钟")}));
    // Every control is named for a screen reader by its caption.
    for (const auto& [widget, name] :
         std::initializer_list<std::pair<QWidget*, const char*>>{{page.ReminderList, "提醒"},
                                                                 {page.DeleteButton, "删除"},
                                                                 {page.ExportButton, "导出日历"},
                                                                 {page.LeadBox, "提前"},
                                                                 {page.DefaultLeadBox, "默认提前"},
                                                                 {page.FollowedList, "关注"},
                                                                 {page.FollowEdit, "关注节目"},
                                                                 {page.FollowButton, "关注"},
                                                                 {page.UnfollowButton, "取消关注"},
                                                                 {page.AutoRemindBox, "自动提醒"}}) {
        EXPECT_EQ(widget->accessibleName(), QString::fromUtf8(name));
    }

    // At 20:00 it fires; without a notification service it shows in the program's own window, whose
    // "打开" shows the listing with the programme marked.
    window.ReminderAlerts->Notifications = new DesktopNotifications(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none")),
        window.ReminderAlerts);
    now_ = At(10, 20, 0);
    window.ReminderAlerts->Check();
    ASSERT_TRUE(WaitUntil([&] { return window.ReminderAlerts->Window != nullptr; }));
    EXPECT_FALSE(window.ReminderAlerts->Window->isModal());
    window.ReminderAlerts->Window->OpenButton->click();
    EXPECT_EQ(window.PageControl1->currentIndex(), 0);
    EXPECT_EQ(window.TVListBox->textCursor().selectedText(), QStringLiteral("20:05 电视剧：山海情长(21)"));
    EXPECT_EQ(window.Reminders->Reminders()[0].state, ReminderState::Fired);
}

TEST_F(RemindersPageTest, TheLeadsDeletionAndTheCalendarExport) {
    TForm1& window = StartWithListings();
    window.PageControl1->setCurrentWidget(window.TabSheet_Reminders);
    TRemindersPage& page = *window.RemindersPage();
    page.DefaultLeadBox->setCurrentIndex(page.DefaultLeadBox->findData(30));
    emit page.DefaultLeadBox->activated(page.DefaultLeadBox->currentIndex());
    TProgrammeGrid& grid = ShowGrid(window);
    SelectProgramme(grid, kCentralName, 23, 30);
    QTest::keyClick(&grid, Qt::Key_R);
    SelectProgramme(grid, kHunanName, 20, 0);
    QTest::keyClick(&grid, Qt::Key_R);
    ASSERT_EQ(window.Reminders->Reminders().size(), 2);
    EXPECT_EQ(window.Reminders->Reminders()[1].lead, 30);

    window.PageControl1->setCurrentWidget(window.TabSheet_Reminders);
    page.ReminderList->setCurrentIndex(page.ReminderList->model()->index(0, 0));
    page.LeadBox->setCurrentIndex(page.LeadBox->findData(60));
    emit page.LeadBox->activated(page.LeadBox->currentIndex());
    EXPECT_EQ(window.Reminders->Reminders()[0].lead, 60);
    EXPECT_EQ(Row(page.ReminderList, 0).last(), QStringLiteral("60 分钟"));

    QString calendar = WorkingFolder() + QStringLiteral("提醒.ics");
    page.AskCalendarPath = [&] { return calendar; };
    page.ExportButton->click();
    EXPECT_EQ(ReadAll(calendar), CalendarText(window.Reminders->Reminders(), now_));
    EXPECT_FALSE(page.Note->isHidden());
    EXPECT_TRUE(page.Note->text().startsWith(QStringLiteral("已导出 2 个提醒到 ")))
        << page.Note->text().toStdString();

    page.DeleteButton->click();
    ASSERT_EQ(window.Reminders->Reminders().size(), 1);
    EXPECT_EQ(window.Reminders->Reminders()[0].title, QStringLiteral("午夜新闻"));
    // Kept for the next start.
    EXPECT_EQ(ReminderStore(RemindersFile()).Reminders().size(), 1);
}

TEST_F(RemindersPageTest, FavouritesComeFirstWithAStarAndAreAClassOfTheGrid) {
    TForm1& window = StartWithListings();
    ShowOnAir(window);
    TOnAirPage& onAir = *window.OnAirPage;
    ASSERT_EQ(onAir.OnAirList->model()->rowCount(), 2);
    EXPECT_EQ(Row(onAir.OnAirList, 1)[0], kCentralName);
    // "收藏频道" from the context menu of the second row.
    QMenu* menu = onAir.RowMenu(onAir.OnAirList, onAir.OnAirList->model()->index(1, 0));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions()[0]->text(), QStringLiteral("收藏频道"));
    menu->actions()[0]->trigger();
    EXPECT_EQ(Row(onAir.OnAirList, 0)[0], QStringLiteral("★ ZORQ-1 中央"));
    EXPECT_EQ(Row(onAir.OnAirList, 1)[0], kHunanName);
    // "提醒我" reminds of what comes next on the row's channel.
    menu = onAir.RowMenu(onAir.OnAirList, onAir.OnAirList->model()->index(0, 0));
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("取消收藏"));
    menu->actions()[1]->trigger();
    ASSERT_EQ(window.Reminders->Reminders().size(), 1);
    EXPECT_EQ(window.Reminders->Reminders()[0].title, QStringLiteral("焦点访谈"));

    // The search with "只看收藏" finds the favourites' programmes only.
    onAir.SearchEdit->setText(QStringLiteral("新闻联播"));
    ASSERT_TRUE(WaitUntil([&] { return onAir.MatchList->isVisible() && !onAir.IsSearching(); }));
    EXPECT_EQ(onAir.MatchList->model()->rowCount(), 2);
    onAir.FavouritesOnly->setChecked(true);
    ASSERT_TRUE(WaitUntil([&] { return !onAir.IsSearching() && onAir.MatchList->model()->rowCount() == 1; }));
    EXPECT_EQ(Row(onAir.MatchList, 0)[2], kCentralName);

    // The grid's class "收藏"; F on the grid takes the mark away again.
    TProgrammeGrid& grid = ShowGrid(window);
    TGridView& view = *window.GridPage()->View;
    view.ClassBox->setCurrentText(QStringLiteral("收藏"));
    ASSERT_EQ(grid.Day().RowCount(), 1);
    EXPECT_EQ(grid.Day().Channel(0).displayName, kCentralName);
    SelectProgramme(grid, kCentralName, 20, 5);
    QTest::keyClick(&grid, Qt::Key_F);
    EXPECT_EQ(grid.Day().RowCount(), 0);
    EXPECT_EQ(window.Favourites->Count(), 0);
    // The first page's channel list has no menu of its own.
    EXPECT_EQ(window.TVList->contextMenuPolicy(), Qt::DefaultContextMenu);
}

} // namespace

namespace {

TEST_F(RemindersPageTest, AfterAnUpdateRemindersFollowTheirProgrammesAndFollowedShowsRemind) {
    TForm1& window = StartWithListings();
    TProgrammeGrid& grid = ShowGrid(window);
    SelectProgramme(grid, kCentralName, 19, 30);
    QTest::keyClick(&grid, Qt::Key_R);
    SelectProgramme(grid, kCentralName, 23, 30);
    QTest::keyClick(&grid, Qt::Key_R);
    window.PageControl1->setCurrentWidget(window.TabSheet_Reminders);
    TRemindersPage& page = *window.RemindersPage();
    page.FollowEdit->setText(QStringLiteral("山海情长"));
    page.FollowButton->click();
    ASSERT_EQ(window.Reminders->Followed().size(), 1);
    page.AutoRemindBox->setChecked(true);
    EXPECT_TRUE(window.Reminders->Followed()[0].autoRemind);
    // The page reads the listings once it shows.
    ASSERT_TRUE(WaitUntil([&] { return page.AiringList->model()->rowCount() == 1; }));
    EXPECT_EQ(Row(page.AiringList, 0).last(), QStringLiteral("山海情长 第21集"));

    // The update moves 焦点访谈 to 19:45, drops 午夜新闻 and brings two airings of episode 22.
    WriteDataFile(QStringLiteral("央视频道/01.txt"),
                  EncodeGbk(QStringLiteral("ZORQ-1 中央 一周节目预告\n\n2026-12-10 星期四\n19:00 新闻联播\n"
                                           "19:45 焦点访谈\n20:05 电视剧：山海情长(21)\n21:00 山海情长(22)\n"
                                           "23:00 山海情长(22)\n")));
    window.FollowReminders();
    window.GuideReader()->WaitForRefresh();
    QStringList reminders;
    for (const Reminder& reminder : window.Reminders->Reminders())
        reminders << ListingTimeOf(reminder.start).toString(u"HH:mm") + u' ' + reminder.title + u' ' +
                         StateText(reminder.state);
    EXPECT_EQ(
        reminders,
        (QStringList{QStringLiteral("19:45 焦点访谈 "), QStringLiteral("20:05 电视剧：山海情长(21) "),
                     QStringLiteral("21:00 山海情长(22) "), QStringLiteral("23:30 午夜新闻 节目已变更")}));
    EXPECT_EQ(Row(page.ReminderList, 3).last(), QStringLiteral("节目已变更"));
}

} // namespace
