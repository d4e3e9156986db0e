// The page "节目单" and its window, on the real window with a fixed clock.
#include "tests/ui/WindowFixture.h"
#include "ui/ProgrammeGridAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi) {
    return ListingInstant(QDate(y, mo, d), QTime(h, mi));
}

const QString kCentral = QStringLiteral("ZORQ-1 中央 一周节目预告\n\n"
                                        "2026-12-10 星期四\n06:00 朝闻天下\n19:00 新闻联播\n19:30 焦点访谈\n"
                                        "20:05 电视剧：山海情长(21)\n23:30 午夜新闻\n\n"
                                        "2026-12-11 星期五\n06:00 朝闻天下\n19:00 新闻联播\n");
const QString kHunan =
    QStringLiteral("2026-12-10 星期四\n18:00 湖南新闻\n19:05 新闻联播\n20:00 快乐大本营\n00:30 重播\n");

class GridPageTest : public WindowFixture {
protected:
    void ShowPage(TForm1& window) {
        window.PageControl1->setCurrentWidget(window.TabSheet_Grid);
        window.GridPage()->Model->WaitForRefresh();
    }
    // The rows' channel names as the grid shows them.
    static QStringList Channels(const TProgrammeGrid& grid) {
        QStringList names;
        for (qsizetype row = 0; row < grid.Day().RowCount(); ++row)
            names << grid.Day().Channel(row).displayName;
        return names;
    }
    static QString SelectedName(const TProgrammeGrid& grid) {
        return grid.Selected() ? grid.Day().Channel(grid.Selected()->row).displayName + u' ' +
                                     BoxName(grid.Day().Box(*grid.Selected()))
                               : QString();
    }
    // Channels shaped like a real feed's: Latin and Chinese names over the four classes, the same
    // shows over and over, odd minutes and programmes past midnight.
    void WriteFeedLikeFolder(int channels);
};

TEST_F(GridPageTest, APageAfterOnAirWithItsControlsOpeningOnNow) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    QStringList tabs;
    for (int tab = 0; tab < window.PageControl1->count(); ++tab)
        tabs.append(window.PageControl1->tabText(tab));
    EXPECT_EQ(tabs, (QStringList{QStringLiteral("中国电视节目列表"), QStringLiteral("更新说明"),
                                 QStringLiteral("正在播出"), QStringLiteral("节目单"), QStringLiteral("提醒"),
                                 QStringLiteral("节目源")}));
    EXPECT_TRUE(window.TabSheet_Grid->findChildren<QWidget*>().isEmpty()) << "nothing is made at the start";
    ShowPage(window);
    TGridPage& page = *window.GridPage();
    EXPECT_EQ(window.TabSheet_Grid->findChild<TGridPage*>(), &page);
    EXPECT_EQ(page.size(), QSize(616, 361));
    TProgrammeGrid& grid = *page.View->Grid;
    const struct {
        QWidget* widget;
        QAccessible::Role role;
        const char* name;
    } controls[] = {
        {page.View->DateBox, QAccessible::ComboBox, "日期"},
        {page.View->ClassBox, QAccessible::ComboBox, "频道分类"},
        {page.View->NowButton, QAccessible::Button, "现在"},
        {page.WindowButton, QAccessible::Button, "新窗口"},
        {&grid, QAccessible::Table, "节目单"},
    };
    for (const auto& control : controls) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control.widget);
        EXPECT_EQ(accessible->role(), control.role) << control.name;
        EXPECT_EQ(control.widget->accessibleName(), QString::fromUtf8(control.name));
        // A selector's name is its current item, as for the first page's class selector; its label
        // says what it is.
        if (control.role == QAccessible::ComboBox) {
            const auto labels = accessible->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1) << control.name;
            EXPECT_EQ(labels[0].first->text(QAccessible::Name), QString::fromUtf8(control.name));
        } else {
            EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(control.name));
        }
        EXPECT_TRUE(control.widget->isVisible()) << control.name;
    }
    QStringList dates;
    for (int item = 0; item < page.View->DateBox->count(); ++item)
        dates << page.View->DateBox->itemText(item);
    EXPECT_EQ(dates, (QStringList{"12-10 周四 今天", "12-11 周五"}));
    EXPECT_EQ(page.View->DateBox->currentIndex(), 0);
    QStringList classes;
    for (int item = 0; item < page.View->ClassBox->count(); ++item)
        classes << page.View->ClassBox->itemText(item);
    EXPECT_EQ(classes, (QStringList{"所有频道", "央视频道", "地方频道", "数字频道", "境外频道", "收藏"}));

    QStringList rows = Channels(grid);
    rows.sort();
    EXPECT_EQ(rows, (QStringList{"ZORQ-1 中央", "卫视"}));
    // Now about a third from the left of the programmes' area.
    const int area = grid.viewport()->width() - grid.ChannelColumnWidth();
    EXPECT_EQ(grid.horizontalScrollBar()->value(), grid.Day().XOf(grid.NowInstant()) - area / 3);
    EXPECT_FALSE(grid.Selected());

    page.View->ClassBox->setCurrentText(QStringLiteral("地方频道"));
    EXPECT_EQ(Channels(grid), (QStringList{"卫视"}));
    // "现在" selects the programme on air on the first channel in view.
    page.View->DateBox->setCurrentIndex(1);
    page.View->NowButton->click();
    EXPECT_EQ(page.View->DateBox->currentIndex(), 0) << "back to today";
    EXPECT_EQ(SelectedName(grid), QStringLiteral("卫视 19:05–20:00 新闻联播"));
    EXPECT_TRUE(grid.hasFocus());

    // Another day keeps the time of day in view; past midnight the day before's last programme
    // still shows.
    page.View->ClassBox->setCurrentIndex(0);
    const int scrolled = grid.horizontalScrollBar()->value();
    page.View->DateBox->setCurrentIndex(1);
    EXPECT_EQ(grid.horizontalScrollBar()->value(), scrolled);
    const int hunanRow = static_cast<int>(Channels(grid).indexOf(u"卫视"_qs));
    ASSERT_GE(hunanRow, 0);
    EXPECT_EQ(BoxName(grid.Day().Box({hunanRow, 0})), QStringLiteral("20:00–00:30 快乐大本营"));
    EXPECT_EQ(grid.ViewRect({hunanRow, 0}).left(), grid.ChannelColumnWidth() - scrolled) << "cut at midnight";
    EXPECT_EQ(BoxName(grid.Day().Box({hunanRow, 1})), QStringLiteral("00:30–00:00 重播"));
}

TEST_F(GridPageTest, KeysMoveTheSelectionEnterShowsDetailsAndOpensTheListing) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), EncodeGbk(kHunan));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TGridView& view = *window.GridPage()->View;
    TProgrammeGrid& grid = *view.Grid;
    view.ClassBox->setCurrentText(QStringLiteral("央视频道"));
    grid.setFocus();
    // The first key picks the programme on air; then the keys move.
    const struct {
        Qt::Key key;
        const char* selected;
    } moves[] = {
        {Qt::Key_Right, "ZORQ-1 中央 19:00–19:30 新闻联播"},
        {Qt::Key_Right, "ZORQ-1 中央 19:30–20:05 焦点访谈"},
        {Qt::Key_Right, "ZORQ-1 中央 20:05–23:30 电视剧：山海情长(21)"},
        {Qt::Key_End, "ZORQ-1 中央 23:30–06:00 午夜新闻"},
        {Qt::Key_Home, "ZORQ-1 中央 06:00–19:00 朝闻天下"},
        {Qt::Key_Down, "ZORQ-1 中央 06:00–19:00 朝闻天下"},
        {Qt::Key_PageDown, "ZORQ-1 中央 06:00–19:00 朝闻天下"},
        {Qt::Key_Right, "ZORQ-1 中央 19:00–19:30 新闻联播"},
        {Qt::Key_Right, "ZORQ-1 中央 19:30–20:05 焦点访谈"},
        {Qt::Key_Right, "ZORQ-1 中央 20:05–23:30 电视剧：山海情长(21)"},
    };
    for (const auto& move : moves) {
        QTest::keyClick(&grid, move.key);
        EXPECT_EQ(SelectedName(grid), QString::fromUtf8(move.selected)) << move.key;
    }
    // The selection is in view.
    EXPECT_TRUE(grid.viewport()->rect().intersects(grid.ViewRect(*grid.Selected())));

    QTest::keyClick(&grid, Qt::Key_Return);
    ASSERT_NE(view.Details, nullptr);
    TGridDetails& details = *view.Details;
    ASSERT_TRUE(details.isVisible());
    EXPECT_EQ(details.Channel->text(), QStringLiteral("ZORQ-1 中央"));
    EXPECT_EQ(details.Date->text(), QStringLiteral("2026-12-10 星期四"));
    EXPECT_EQ(details.Times->text(), QStringLiteral("20:05–23:30"));
    EXPECT_EQ(details.Title->text(), QStringLiteral("电视剧：山海情长(21)"));
    EXPECT_EQ(details.Series->text(), QStringLiteral("山海情长 第21集"));
    EXPECT_TRUE(details.Series->isVisible());
    details.OpenListing->click();
    EXPECT_FALSE(details.isVisible());
    EXPECT_EQ(window.PageControl1->currentIndex(), 0);
    EXPECT_EQ(window.ComboBox_Class->currentText(), QStringLiteral("央视频道"));
    EXPECT_EQ(MemoLines(window.TVListBox).value(0), QStringLiteral("【ZORQ-1 中央】"));
    EXPECT_EQ(window.ListingMark->MarkedLine(), 5) << "the programme on air, as from 正在播出";
    EXPECT_EQ(window.TVListBox->textCursor().selectedText(), QStringLiteral("20:05 电视剧：山海情长(21)"));

    // A double-click shows a programme without a series.
    ShowPage(window);
    grid.Select({0, 1});
    const QPoint news = grid.ViewRect({0, 1}).center();
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, news);
    EXPECT_EQ(details.Title->text(), QStringLiteral("新闻联播"));
    EXPECT_FALSE(details.Series->isVisible());
    details.Close->click();

    // The tooltip names the same title and times.
    QHelpEvent tip(QEvent::ToolTip, news, grid.viewport()->mapToGlobal(news));
    QCoreApplication::sendEvent(grid.viewport(), &tip);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("19:00–19:30 新闻联播"));
}

TEST_F(GridPageTest, AScreenReaderReadsCellsWithTheirChannelAndFollowsTheSelection) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    WriteDataFile(QStringLiteral("央视频道/02.txt"),
                  EncodeGbk(QStringLiteral("2026-12-10\n19:00 体育新闻\n")));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TProgrammeGrid& grid = *window.GridPage()->View->Grid;
    ASSERT_EQ(Channels(grid), (QStringList{"ZORQ-1 中央", "ZORQ-2 财经"}));
    QAccessibleInterface* const table = QAccessible::queryAccessibleInterface(&grid);
    QAccessibleTableInterface* const cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells->rowCount(), 2);
    EXPECT_EQ(cells->columnCount(), 5);
    EXPECT_EQ(cells->cellAt(0, 1)->text(QAccessible::Name), QStringLiteral("19:00–19:30 新闻联播"));
    EXPECT_EQ(cells->cellAt(1, 0)->text(QAccessible::Name), QStringLiteral("19:00–00:00 体育新闻"));
    EXPECT_EQ(cells->cellAt(1, 1), nullptr) << "the second channel has one programme";
    QAccessibleTableCellInterface* const cell = cells->cellAt(1, 0)->tableCellInterface();
    ASSERT_NE(cell, nullptr);
    ASSERT_EQ(cell->rowHeaderCells().size(), 1);
    EXPECT_EQ(cell->rowHeaderCells()[0]->text(QAccessible::Name), QStringLiteral("ZORQ-2 财经"));
    EXPECT_EQ(cell->rowHeaderCells()[0]->role(), QAccessible::RowHeader);
    EXPECT_EQ(cell->rowIndex(), 1);
    EXPECT_EQ(cell->columnIndex(), 0);
    // Children: each row's header, then its programmes.
    EXPECT_EQ(table->childCount(), 1 + 5 + 1 + 1);
    EXPECT_EQ(table->child(6), cell->rowHeaderCells()[0]);
    EXPECT_EQ(table->indexOfChild(cells->cellAt(1, 0)), 7);
    EXPECT_EQ(
        table->childAt(cells->cellAt(0, 1)->rect().center().x(), cells->cellAt(0, 1)->rect().center().y()),
        cells->cellAt(0, 1));

    // The focus follows the selection: what a reader asks for when the grid says its focus moved.
    grid.setFocus();
    for (const auto& [key, name] :
         {std::pair{Qt::Key_Right, "19:00–19:30 新闻联播"}, std::pair{Qt::Key_Right, "19:30–20:05 焦点访谈"},
          std::pair{Qt::Key_Down, "19:00–00:00 体育新闻"}}) {
        QTest::keyClick(&grid, key);
        ASSERT_NE(table->focusChild(), nullptr);
        EXPECT_EQ(table->focusChild()->text(QAccessible::Name), QString::fromUtf8(name));
        EXPECT_EQ(table->indexOfChild(table->focusChild()),
                  TProgrammeGridAccessible::ChildOf(grid.Day(), *grid.Selected()));
    }
    ASSERT_NE(table->focusChild(), nullptr);
    EXPECT_EQ(table->focusChild()->text(QAccessible::Name), QStringLiteral("19:00–00:00 体育新闻"));
    EXPECT_TRUE(table->focusChild()->state().focused);
    EXPECT_TRUE(table->focusChild()->state().selected);
    EXPECT_FALSE(cells->cellAt(0, 2)->state().selected);
    EXPECT_EQ(cells->selectedCellCount(), 1);

    // Another class drops the cells of the old one.
    QAccessibleInterface* const old = cells->cellAt(0, 0);
    window.GridPage()->View->ClassBox->setCurrentText(QStringLiteral("地方频道"));
    EXPECT_EQ(cells->rowCount(), 0);
    EXPECT_EQ(table->childCount(), 0);
    EXPECT_EQ(cells->cellAt(0, 0), nullptr);
    Q_UNUSED(old);
}

// The colours along a row of pixels.
QSet<QRgb> ColoursAlong(const QImage& image, int y) {
    QSet<QRgb> colours;
    for (int x = 0; x < image.width(); ++x)
        colours.insert(image.pixel(x, y));
    return colours;
}

TEST_F(GridPageTest, TheHighlightAndTheNowLineMoveOnTheMinuteCrispAtAnyScale) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kCentral));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 29));
    ShowPage(window);
    TGridPage& page = *window.GridPage();
    TProgrammeGrid& grid = *page.View->Grid;
    EXPECT_TRUE(page.Model->MinuteTimer->isActive());
    const QPalette& colours = grid.palette();
    const auto render = [&](qreal scale) {
        QImage image(grid.viewport()->size() * scale, QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        grid.viewport()->render(&image);
        return image;
    };
    // A pixel of a box in view, just inside its top edge, away from the title.
    const auto fill = [&](const QImage& image, const GridPlace& place) {
        const QRect box = grid.ViewRect(place);
        return QColor(image.pixel(std::max(box.left(), grid.ChannelColumnWidth()) + 3, box.top() + 1));
    };
    const auto nowLineAt = [&](const QImage& image) {
        const int y = grid.RulerHeight() + grid.Day().Scale().rowHeight / 2;
        return QColor(image.pixel(grid.ChannelColumnWidth() + grid.Day().XOf(grid.NowInstant()) -
                                      grid.horizontalScrollBar()->value(),
                                  y));
    };
    QImage image = render(1);
    EXPECT_EQ(fill(image, {0, 0}), colours.color(QPalette::AlternateBase)) << "past";
    EXPECT_EQ(fill(image, {0, 1}), colours.color(QPalette::Highlight)) << "on air";
    EXPECT_EQ(fill(image, {0, 2}), colours.color(QPalette::Base)) << "later";
    EXPECT_EQ(nowLineAt(image), QColor(208, 32, 32));

    now_ = At(2026, 12, 10, 19, 30);
    page.Model->MinutePassed();
    image = render(1);
    EXPECT_EQ(fill(image, {0, 1}), colours.color(QPalette::AlternateBase));
    EXPECT_EQ(fill(image, {0, 2}), colours.color(QPalette::Highlight));
    EXPECT_EQ(nowLineAt(image), QColor(208, 32, 32));

    // Past midnight the next date is today.
    now_ = At(2026, 12, 11, 0, 1);
    page.Model->MinutePassed();
    EXPECT_EQ(page.View->DateBox->itemText(0), QStringLiteral("12-10 周四"));
    EXPECT_EQ(page.View->DateBox->itemText(1), QStringLiteral("12-11 周五 今天"));
    EXPECT_EQ(page.View->DateBox->currentIndex(), 0) << "the date shown stays";
    now_ = At(2026, 12, 10, 19, 30);
    page.Model->MinutePassed();

    // Box edges, the line and the selection's frame fall on whole pixels at any scale: a row of
    // pixels through the boxes' tops holds only the colours drawn, none blended between them.
    grid.Select({0, 1});
    const QSet<QRgb> drawn = {
        colours.color(QPalette::Window).rgb(),        colours.color(QPalette::Base).rgb(),
        colours.color(QPalette::AlternateBase).rgb(), colours.color(QPalette::Highlight).rgb(),
        colours.color(QPalette::WindowText).rgb(),    colours.color(QPalette::Button).rgb(),
        colours.color(QPalette::Dark).rgb(),          QColor(208, 32, 32).rgb()};
    for (const qreal scale : {1.0, 1.25, 1.5, 2.0}) {
        const QImage scaled = render(scale);
        const int y = qRound((grid.RulerHeight() + 1) * scale);
        EXPECT_TRUE(drawn.contains(ColoursAlong(scaled, y))) << scale;
    }
}

TEST_F(GridPageTest, TheWheelScrollsChannelsShiftOrASidewaysWheelTheTimeDragPans) {
    for (int c = 0; c < 40; ++c)
        WriteDataFile(QStringLiteral("数字频道/channel%1.txt").arg(c, 2, 10, QChar(u'0')), EncodeGbk(kHunan));
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TProgrammeGrid& grid = *window.GridPage()->View->Grid;
    QScrollBar& across = *grid.horizontalScrollBar();
    QScrollBar& down = *grid.verticalScrollBar();
    ASSERT_GT(down.maximum(), 0);
    const QPoint at = grid.viewport()->rect().center();
    const auto wheel = [&](QPoint angle, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(at, grid.viewport()->mapToGlobal(at), {}, angle, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(grid.viewport(), &event);
    };
    const int time = across.value();
    wheel({0, -120}, Qt::NoModifier);
    EXPECT_EQ(down.value(), 3 * grid.Day().Scale().rowHeight);
    EXPECT_EQ(across.value(), time);
    wheel({0, -120}, Qt::ShiftModifier);
    EXPECT_EQ(down.value(), 3 * grid.Day().Scale().rowHeight);
    EXPECT_EQ(across.value(), time + 3 * across.singleStep());
    wheel({120, 0}, Qt::NoModifier);
    EXPECT_EQ(across.value(), time);

    // A drag with the left button pans both ways and selects nothing.
    const auto mouse = [&](QEvent::Type type, QPoint point, Qt::MouseButtons buttons) {
        QMouseEvent event(type, point, grid.viewport()->mapToGlobal(point), Qt::LeftButton, buttons, {});
        QCoreApplication::sendEvent(grid.viewport(), &event);
    };
    mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
    mouse(QEvent::MouseMove, at + QPoint(-50, -30), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, at + QPoint(-50, -30), Qt::NoButton);
    EXPECT_EQ(across.value(), time + 50);
    EXPECT_EQ(down.value(), 3 * grid.Day().Scale().rowHeight + 30);
    EXPECT_FALSE(grid.Selected());
    // A click without moving selects.
    mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, at, Qt::NoButton);
    EXPECT_TRUE(grid.Selected());
    // Ctrl and the wheel zoom about the view's third.
    const int slot = grid.Day().Scale().slotWidth;
    wheel({0, 120}, Qt::ControlModifier);
    EXPECT_GT(grid.Day().Scale().slotWidth, slot);
}

TEST_F(GridPageTest, TheWindowSharesTheModelAndKeepsItsGeometryAcrossStarts) {
    WriteFeedLikeFolder(120);
    TForm1& window = StartAt(At(2026, 12, 10, 19, 10));
    ShowPage(window);
    TGridPage& page = *window.GridPage();
    ASSERT_EQ(page.Window, nullptr);
    page.WindowButton->click();
    ASSERT_NE(page.Window, nullptr);
    TGridWindow& gridWindow = *page.Window;
    EXPECT_TRUE(gridWindow.isVisible());
    EXPECT_TRUE(gridWindow.isWindow());
    EXPECT_EQ(gridWindow.windowTitle(), QStringLiteral("节目单"));
    EXPECT_TRUE(gridWindow.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_NE(gridWindow.minimumSize(), gridWindow.maximumSize()) << "resizable";
    page.Model->WaitForRefresh();
    TProgrammeGrid& big = *gridWindow.View->Grid;
    EXPECT_EQ(big.Day().RowCount(), 120);
    EXPECT_EQ(Channels(big), Channels(*page.View->Grid));

    // One model: a rescan that brings a channel shows in both.
    WriteDataFile(QStringLiteral("境外频道/zzz.txt"), EncodeGbk(kHunan));
    window.LoadData->click();
    page.Model->WaitForRefresh();
    EXPECT_EQ(big.Day().RowCount(), 121);
    EXPECT_EQ(page.View->Grid->Day().RowCount(), 121);

    gridWindow.setGeometry(120, 90, 800, 500);
    const QRect kept = gridWindow.geometry();
    gridWindow.close();
    const QString file = ProgramFolder() + QStringLiteral("grid-window.geometry");
    ASSERT_TRUE(QFile::exists(file));

    TForm1& again = StartAt(At(2026, 12, 10, 19, 10));
    again.GridPage()->WindowButton->click();
    EXPECT_EQ(again.GridPage()->Window->geometry(), kept);
    // The program ends with its main window, the grid's window open or not.
    EXPECT_FALSE(again.GridPage()->Window->testAttribute(Qt::WA_QuitOnClose));

    // A file that is not a geometry opens the window as on a first start.
    again.GridPage()->Window->close();
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a geometry");
    damaged.close();
    TForm1& third = StartAt(At(2026, 12, 10, 19, 10));
    third.GridPage()->WindowButton->click();
    EXPECT_EQ(third.GridPage()->Window->size(), QSize(960, 600));
}

void GridPageTest::WriteFeedLikeFolder(int channels) {
    const QStringList classes = {u"央视频道"_qs, u"地方频道"_qs, u"数字频道"_qs, u"境外频道"_qs};
    const QStringList names = {u"CCTV-%1 综合"_qs, u"Hunan TV %1"_qs, u"湖南卫视%1"_qs, u"BBC World %1"_qs};
    const QStringList shows = {u"新闻联播"_qs, u"Evening News"_qs, u"电视剧：山海情长(12)"_qs,
                               u"天气预报"_qs};
    for (int c = 0; c < channels; ++c) {
        QString text = names[c % 4].arg(c) + QStringLiteral(" 一周节目预告\n");
        for (int d = 0; d < 3; ++d) {
            text += QDate(2026, 12, 10).addDays(d).toString(u"yyyy-MM-dd\n"_qs);
            for (int p = 0; p < 30; ++p) {
                const int minute = 5 * 60 + p * (41 + c % 3) + c % 7;
                text += QStringLiteral("%1:%2 %3\n")
                            .arg(minute / 60 % 24, 2, 10, QChar(u'0'))
                            .arg(minute % 60, 2, 10, QChar(u'0'))
                            .arg(shows[(p + c) % 4]);
            }
        }
        WriteDataFile(classes[c % 4] + QStringLiteral("/%1.txt").arg(names[c % 4].arg(c)), EncodeGbk(text));
    }
}

} // namespace
