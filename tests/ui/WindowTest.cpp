#include "tests/ui/WindowFixture.h"
#include "ui/JpegImage.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>

namespace {

struct ControlRow {
    const char* name;
    const char* kind; // Qt class name
    QRect geometry;
    const char* caption; // nullptr: not checked
};

// Every control of the window with its place, size and caption.
const ControlRow kControls[] = {
    {"Image1", "TImage", {0, 0, 624, 84}, nullptr},
    {"Label5", "QLabel", {263, 68, 18, 12}, "Ver"},
    {"Edit_Ver", "QLineEdit", {287, 67, 121, 17}, "1.32.2011916"},
    {"PageControl1", "QTabWidget", {0, 84, 624, 392}, nullptr},
    {"ComboBox_Class", "QComboBox", {0, 0, 129, 24}, "央视频道"},
    {"TVList", "TListBox", {0, 26, 129, 335}, nullptr},
    {"TVListBox", "QPlainTextEdit", {132, 0, 485, 361}, nullptr},
    {"ProgressBar1", "TProgressBar", {0, 476, 624, 22}, nullptr},
    {"Button2", "QPushButton", {249, 504, 87, 29}, "官方网站"},
    {"Button_R", "QPushButton", {342, 504, 87, 29}, "更新电视节目"},
    {"Button1", "QPushButton", {435, 504, 87, 29}, "在线版"},
    {"Button3", "QPushButton", {529, 504, 87, 29}, "退出"},
    {"SB", "QStatusBar", {0, 537, 624, 27}, nullptr},
    {"filepathList", "TListBox", {664, 8, 177, 57}, nullptr},
    {"TVFilepathList", "TListBox", {664, 72, 409, 73}, nullptr},
    {"LoadData", "QPushButton", {664, 160, 75, 25}, "初始化"},
    {"Button_UpDate", "QPushButton", {342, 504, 87, 29}, "更新电视节目"},
    {"PageControl2", "QTabWidget", {637, 242, 400, 160}, nullptr},
    {"Edit_Url", "QLineEdit", {77, 31, 273, 20}, "http://download.zorq.example/download/showtime.zip"},
    {"Edit_SaveFile", "QLineEdit", {77, 63, 273, 20}, "zorq.zip"},
    {"Button_Download", "QPushButton", {80, 104, 75, 25}, "下载数据包"},
    {"Button_URAR", "QPushButton", {161, 105, 75, 25}, "Button_URAR"},
};

QString CaptionOf(const QWidget* widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    return {};
}

QString FocusName(const QWidget* widget) {
    // A page control takes the focus through its tab bar.
    if (qobject_cast<const QTabBar*>(widget) != nullptr)
        return widget->parentWidget()->objectName();
    return widget->objectName();
}

class WindowTest : public WindowFixture {
protected:
    const ScopedVariable packageUrl_{"PELNAVI_PACKAGE_URL", std::nullopt};
};

TEST_F(WindowTest, EveryControlHasItsKindPlaceAndCaption) {
    TForm1& window = Start({QStringLiteral("x")});
    EXPECT_EQ(window.size(), QSize(624, 564));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window is not resizable";
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        auto* widget = window.findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), row.kind);
        EXPECT_EQ(widget->geometry(), row.geometry);
        EXPECT_TRUE(widget->isEnabled());
        if (row.caption != nullptr) {
            EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(row.caption));
        }
    }
    // The pages' client area, with the change log filling the second page.
    window.show();
    EXPECT_EQ(QRect(window.TabSheet1->mapTo(window.PageControl1, QPoint(0, 0)), window.TabSheet1->size()),
              QRect(4, 27, 616, 361));
    window.PageControl1->setCurrentIndex(1);
    EXPECT_EQ(window.TabSheet2->size(), QSize(616, 361));
    EXPECT_EQ(window.Memo1->geometry(), QRect(0, 0, 616, 361));
    window.PageControl1->setCurrentIndex(0);
    EXPECT_EQ(window.Edit_Ver->hasFrame(), false);
    EXPECT_EQ(window.Edit_SaveFile->parentWidget(), window.TabSheet4);
    EXPECT_EQ(window.PageControl2->tabText(0), QStringLiteral("数据更新"));
}

TEST_F(WindowTest, InitialStateOfPagesListsAndBars) {
    TForm1& window = Start({QStringLiteral("x")});
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelnavi系统1.32.2011916"));
    EXPECT_EQ(window.PageControl1->currentIndex(), 0);
    EXPECT_EQ(window.PageControl1->tabText(0), QStringLiteral("中国电视节目列表"));
    EXPECT_EQ(window.PageControl1->tabText(1), QStringLiteral("更新说明"));
    const QStringList classes = {QStringLiteral("所有频道"), QStringLiteral("央视频道"),
                                 QStringLiteral("地方频道"), QStringLiteral("数字频道"),
                                 QStringLiteral("境外频道")};
    QStringList items;
    for (int i = 0; i < window.ComboBox_Class->count(); ++i)
        items << window.ComboBox_Class->itemText(i);
    EXPECT_EQ(items, classes);
    EXPECT_EQ(window.ComboBox_Class->currentIndex(), 1);
    EXPECT_FALSE(window.ComboBox_Class->isEditable());
    EXPECT_EQ(window.ComboBox_Class->font().pixelSize(), 16);
    EXPECT_EQ(window.ComboBox_Class->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(window.font().pixelSize(), 12);
    EXPECT_EQ(window.font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(window.TVList->count(), 0);
    EXPECT_TRUE(window.TVListBox->toPlainText().isEmpty());
    EXPECT_EQ(window.TVListBox->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_FALSE(window.TVListBox->isReadOnly());
    EXPECT_EQ(MemoLines(window.Memo1),
              (QStringList{"1.32.2011916", "1.修正了个别杀毒软件主动防御导致无法更新的问题", "1.31.2011913",
                           "1.修正了频道名称错误", "1.30.2011912", "1.重新设计了网络更新模块",
                           "2.修正了所有已知问题"}));
    EXPECT_EQ(window.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(window.SBPanel0->text(), WelcomeLine() + QStringLiteral("   win7系统下请在非系统盘运行"));
    EXPECT_EQ(window.ProgressBar1->Min(), 0);
    EXPECT_EQ(window.ProgressBar1->Max(), 100);
    EXPECT_EQ(window.ProgressBar1->value(), 0);
    EXPECT_FALSE(window.Timer1->Enabled());
    EXPECT_FALSE(window.Timer_Load->Enabled());
    EXPECT_EQ(window.Timer1->Interval(), 2000);
    EXPECT_EQ(window.Timer_Load->Interval(), 3000);
}

TEST_F(WindowTest, BannerIsTheJpegAtNaturalSizeFromTheTopLeft) {
    TForm1& window = Start({QStringLiteral("x")});
    const QPixmap banner = window.Image1->pixmap();
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.size(), QSize(625, 84)) << "drawn unscaled, its last column cut off";
    EXPECT_FALSE(window.Image1->hasScaledContents());
    EXPECT_EQ(window.Image1->alignment(), Qt::AlignLeft | Qt::AlignTop);
    // The title is red on white.
    const QImage image = banner.toImage();
    EXPECT_EQ(image.pixelColor(624, 0), QColor(Qt::white));
}

TEST(JpegTest, DamagedPicturesGiveANullImage) {
    QFile file(QStringLiteral(":/banner.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray banner = file.readAll();
    EXPECT_EQ(DecodeJpeg(banner).size(), QSize(625, 84));
    QByteArray twelveBits = banner;
    const qsizetype frame = banner.indexOf("\xFF\xC0"); // the baseline frame header
    ASSERT_GT(frame, 0);
    twelveBits[frame + 4] = 12; // a sample precision this decoder does not take
    const QByteArray damaged[] = {{}, "not a picture", banner.left(2), banner.left(200), twelveBits};
    for (const QByteArray& data : damaged)
        EXPECT_TRUE(DecodeJpeg(data).isNull()) << data.size() << " bytes";
}

TEST_F(WindowTest, UpdateButtonCoversTheWorkerButtonBeneathIt) {
    TForm1& window = Start({QStringLiteral("x")});
    window.show();
    const QPoint centre = window.Button_R->geometry().center();
    EXPECT_EQ(window.childAt(centre), window.Button_R);
    // Stacking follows creation order: the banner's label and version field lie above the banner.
    EXPECT_EQ(window.childAt(window.Label5->geometry().center()), window.Label5);
    EXPECT_EQ(window.childAt(window.Edit_Ver->geometry().center()), window.Edit_Ver);
}

TEST_F(WindowTest, FocusStartsOnExitAndTabVisitsTheWorkerControls) {
    TForm1& window = Start({QStringLiteral("x")});
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(WaitUntil([] { return QApplication::focusWidget() != nullptr; }));
    EXPECT_EQ(QApplication::focusWidget(), window.Button3);

    const QStringList expected = {
        "PageControl1",    "TVList",      "TVListBox",     "ComboBox_Class", "LoadData", "filepathList",
        "TVFilepathList",  "Button1",     "Button_UpDate", "PageControl2",   "Edit_Url", "Edit_SaveFile",
        "Button_Download", "Button_URAR", "Button_R",      "Edit_Ver",       "Button2",  "Button3"};
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << FocusName(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, expected);
}

TEST_F(WindowTest, EnterReturnAndKeypadEnterClickEveryButtonAsSpaceDoes) {
    TForm1& window = Start({QStringLiteral("x")});
    window.OnlineTest = [] { return false; };
    window.ShowNotice = [](const QString&, const QString&) {};
    window.NetworkProbe = [](const QString&) { return false; };
    window.show();
    window.GridPage(); // made when first shown
    const QList<QPushButton*> buttons = window.findChildren<QPushButton*>();
    EXPECT_EQ(buttons.size(), 10)
        << "the four the user sees, the four worker buttons, and 现在 and 新窗口 on the grid's page";
    for (QPushButton* button : buttons) {
        SCOPED_TRACE(button->objectName().toStdString());
        int clicks = 0;
        const auto counter = QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(button, Qt::Key_Space);
        EXPECT_EQ(clicks, 3);
        QObject::disconnect(counter);
    }
    window.Timer1->SetEnabled(false);
    EXPECT_FALSE(window.isVisible()) << "Enter on 退出 closed the window";
}

TEST_F(WindowTest, AScreenReaderFindsEveryVisibleControlByName) {
    TForm1& window = Start({QStringLiteral("x")});
    window.show();
    const struct {
        QWidget* widget;
        QAccessible::Role role;
        const char* name;
    } controls[] = {
        {window.Button2, QAccessible::Button, "官方网站"},
        {window.Button_R, QAccessible::Button, "更新电视节目"},
        {window.Button1, QAccessible::Button, "在线版"},
        {window.Button3, QAccessible::Button, "退出"},
        {window.TVList, QAccessible::List, "频道列表"},
        {window.TVListBox, QAccessible::EditableText, "节目单"},
        {window.ComboBox_Class, QAccessible::ComboBox, "央视频道"},
        {window.ProgressBar1, QAccessible::ProgressBar, "下载进度"},
        {window.Image1, QAccessible::Graphic, "Pelnavi系统"},
        {window.Label5, QAccessible::StaticText, "Ver"},
    };
    for (const auto& control : controls) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control.widget);
        ASSERT_NE(accessible, nullptr) << control.name;
        EXPECT_EQ(accessible->role(), control.role) << control.name;
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(control.name));
    }
    // The status line and the listing are read out as text.
    ReportStatus(QStringLiteral("数据更新完成."));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.SBPanel0)->text(QAccessible::Name),
              QStringLiteral("数据更新完成."));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.TVListBox)->textInterface()->text(0, 6),
              QStringLiteral("数据更新完成"));
}

TEST_F(WindowTest, ExitButtonClosesTheWindow) {
    TForm1& window = Start({QStringLiteral("x")});
    window.show();
    window.Button3->click();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, WebLinksCarryTheCurrentVersionText) {
    TForm1& window = Start({QStringLiteral("x")});
    window.show();
    window.Button2->click();
    window.Button1->click();
    QTest::mouseClick(window.Image1, Qt::LeftButton, {}, QPoint(40, 40));
    // The "Ver" label lies above the banner and does nothing.
    QTest::mouseClick(window.Label5, Qt::LeftButton, {}, QPoint(2, 2));
    window.Edit_Ver->setText(QStringLiteral("9.9 beta"));
    window.Button2->click();
    window.Edit_Ver->clear();
    window.Button1->click();
    EXPECT_EQ(opened, (QStringList{"http://www.pelnavi.example/?qq=zorq1.32.2011916",
                                   "http://www.pelnavi.example/Data/Pelnavi/?qq=zorq1.32.2011916",
                                   "http://www.pelnavi.example/?qq=zorq1.32.2011916",
                                   "http://www.pelnavi.example/?qq=zorq9.9 beta",
                                   "http://www.pelnavi.example/Data/Pelnavi/?qq=zorq"}));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pelnavi系统1.32.2011916"))
        << "the caption keeps its version";
}

TEST_F(WindowTest, ReportStatusSetsThePanelAndAppendsToTheMemo) {
    TForm1& window = Start({QStringLiteral("x")});
    window.TVListBox->setPlainText(QStringLiteral("【ZORQ-1 中央】\n06:00 朝闻天下"));
    ReportStatus(QStringLiteral("正在下载数据包..."));
    ReportStatus(QStringLiteral("数据包下载完成."));
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("数据包下载完成."));
    EXPECT_EQ(MemoLines(window.TVListBox),
              (QStringList{"【ZORQ-1 中央】", "06:00 朝闻天下", "正在下载数据包...", "数据包下载完成."}));
}

TEST(ProgressBarTest, PositionIsClippedAndAnEmptyRangeShowsNothing) {
    struct Step {
        int max;      // INT_MIN: leave the maximum
        int position; // INT_MIN: leave the position
        int shownMax, shownPosition;
    };
    const Step steps[] = {
        {INT_MIN, 50, 100, 50},
        {INT_MIN, 150, 100, 100},
        {INT_MIN, -5, 100, 0},
        {40, INT_MIN, 40, 0},
        {0, INT_MIN, 0, 0},
        {INT_MIN, 7, 0, 0},
        {1000, 999, 1000, 999},
        {10, INT_MIN, 10, 10},
        // The low bits of a huge length read as negative: the minimum stays 0.
        {-5, INT_MIN, 0, 0},
        {100, 50, 100, 50},
    };
    TProgressBar bar;
    for (const Step& step : steps) {
        if (step.max != INT_MIN)
            bar.SetMax(step.max);
        if (step.position != INT_MIN)
            bar.SetPosition(step.position);
        EXPECT_EQ(bar.Max(), step.shownMax);
        EXPECT_EQ(bar.Position(), step.shownPosition);
        if (bar.Max() == 0) {
            EXPECT_NE(bar.maximum(), 0) << "Qt would show a busy bar for 0..0";
            EXPECT_EQ(bar.value(), bar.minimum());
        } else {
            EXPECT_EQ(bar.value(), step.shownPosition);
        }
    }
}

TEST(TimerTest, ArmingAnArmedTimerDoesNotRestartItsPeriod) {
    // A restarted period would put the first tick at 3000 ms or later, as a precise timer never fires
    // early; an unchanged one puts it at 2000 ms, which leaves a second for a busy machine.
    TTimer timer(2000);
    int ticks = 0;
    timer.OnTimer = [&ticks](TTimer&) { ++ticks; };
    QElapsedTimer clock;
    clock.start();
    timer.SetEnabled(true);
    QTest::qWait(1000);
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return ticks > 0; }, 10000));
    EXPECT_GE(clock.elapsed(), 2000 - 1);
    EXPECT_LT(clock.elapsed(), 3000);
    ASSERT_TRUE(WaitUntil([&] { return ticks > 1; }, 10000)) << "it ticks on every period until disarmed";
    timer.SetEnabled(false);
    const int ticksWhenDisarmed = ticks;
    QTest::qWait(2500);
    EXPECT_EQ(ticks, ticksWhenDisarmed);
}

TEST(TimerTest, TicksWhileTheHandlerPumpsAreDropped) {
    TTimer timer(20);
    int entered = 0;
    bool reentered = false;
    bool inside = false;
    timer.OnTimer = [&](TTimer& sender) {
        ++entered;
        reentered = reentered || inside;
        inside = true;
        QTest::qWait(200); // ten periods of pumping, as an update step does
        inside = false;
        sender.SetEnabled(false);
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return !timer.Enabled(); }, 10000));
    QTest::qWait(100);
    EXPECT_FALSE(reentered);
    EXPECT_EQ(entered, 1);
}

} // namespace
