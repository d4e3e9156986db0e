#include "ui/Unit1.h"

#include "archive/Unit_sevenzip.h"
#include "catalogue/CatalogueClasses.h"
#include "catalogue/ListingTime.h"
#include "platform/AppPaths.h"
#include "platform/AsciiCase.h"
#include "platform/Exception.h"
#include "platform/Logging.h"
#include "platform/Network.h"
#include "platform/Version.h"
#include "shell/Unit_Shortcuts.h"
#include "ui/JpegImage.h"
#include "ui/WidgetRules.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>
#include <string_view>

TForm1* Form1 = nullptr;
QString AppPath;
ProgramPlaces Places;

namespace {

const QString kSite = QStringLiteral("http://www.pelnavi.example");
const QString kDefaultPackageAddress = QStringLiteral("http://download.zorq.example/download/showtime.zip");
const QString kDefaultProbeAddress = QStringLiteral("http://www.example.com/");

// Geometry and captions of every control, relative to its parent, in pixels.
struct Placement {
    const char* name;
    int left, top, width, height;
    const char* caption; // nullptr: the control has no caption of its own
};

constexpr Placement kLayout[] = {
    {"Image1", 0, 0, 624, 84, nullptr},
    {"Label5", 263, 68, 18, 12, "Ver"},
    {"Edit_Ver", 287, 67, 121, 17, kVersionText},
    {"PageControl1", 0, 84, 624, 392, nullptr},
    {"ComboBox_Class", 0, 0, 129, 24, nullptr},
    {"TVList", 0, 26, 129, 335, nullptr},
    {"TVListBox", 132, 0, 485, 361, nullptr},
    {"ProgressBar1", 0, 476, 624, 22, nullptr},
    {"Button2", 249, 504, 87, 29, "官方网站"},
    {"Button_R", 342, 504, 87, 29, "更新电视节目"},
    {"Button1", 435, 504, 87, 29, "在线版"},
    {"Button3", 529, 504, 87, 29, "退出"},
    {"SB", 0, 537, 624, 27, nullptr},
    {"filepathList", 664, 8, 177, 57, nullptr},
    {"TVFilepathList", 664, 72, 409, 73, nullptr},
    {"LoadData", 664, 160, 75, 25, "初始化"},
    {"Button_UpDate", 342, 504, 87, 29, "更新电视节目"},
    {"PageControl2", 637, 242, 400, 160, nullptr},
    {"Edit_Url", 77, 31, 273, 20, nullptr},
    {"Edit_SaveFile", 77, 63, 273, 20, "zorq.zip"},
    {"Button_Download", 80, 104, 75, 25, "下载数据包"},
    {"Button_URAR", 161, 105, 75, 25, "Button_URAR"},
};

// clang-format off
constexpr const char* kChangeLog[] = {
    "1.32.2011916",
    "1.修正了个别杀毒软件主动防御导致无法更新的问题",
    "1.31.2011913",
    "1.修正了频道名称错误",
    "1.30.2011912",
    "1.重新设计了网络更新模块",
    "2.修正了所有已知问题",
};
// clang-format on
// The change log is history, so its headings are typed out; the one on top is this version's.
static_assert(std::string_view(kChangeLog[0]) == kVersionText,
              "the change log has no entry for this version");

QString EnvironmentOr(const char* name, const QString& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? QString::fromUtf8(value) : fallback;
}

QFont WindowFont(int pixelSize) {
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelSize);
    return font;
}

template <typename Widget> Widget* Make(QWidget* parent, const char* name) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

void UseTileBevel(QFrame* frame) {
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Plain);
    frame->setLineWidth(1);
}

QIcon WindowIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icon/tv-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

QString DataFolder() {
    return Places.DataFolder;
}

QString GridWindowGeometryFile() {
    return Places.DataParentFolder.isEmpty()
               ? QString()
               : Places.DataParentFolder + QStringLiteral("grid-window.geometry");
}

QString WelcomeLine() {
    return QStringLiteral("欢迎使用Pelnavi系统，欢迎加入官方QQ交流群：20110916");
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
}

TForm1::TForm1(const TStartup& startup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      startup_(startup) {
    // The catalogue scan started by the creation handler reaches the controls through Form1.
    Form1 = this;
    OpenAddress = [](const QString& address) {
        QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
    };
    OnlineTest = [] { return SystemReportsConnection(); };
    NetworkProbe = [](const QString& address) { return ProbeConnection(address); };
    ShowNotice = [](const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
        box.exec();
    };
    ProbeAddress = EnvironmentOr("PELNAVI_PROBE_URL", kDefaultProbeAddress);
    Now = [] { return ListingNow(); };

    CreateControls();
    BindEvents();
    SetTabOrder();
    try {
        FormCreate();
    } catch (const Exception& error) {
        ShowCreationError(error.Message());
    } catch (const std::exception& error) {
        ShowCreationError(QString::fromLocal8Bit(error.what()));
    }
}

TForm1::~TForm1() {
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setWindowIcon(WindowIcon());
    setFixedSize(624, 564);
    setFont(WindowFont(12));
    setAutoFillBackground(true);

    // Creation order is stacking order: a control created later lies above one created earlier.
    Image1 = Make<TImage>(this, "Image1");
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFile banner(QStringLiteral(":/banner.jpg"));
    if (banner.open(QIODevice::ReadOnly))
        Image1->setPixmap(QPixmap::fromImage(DecodeJpeg(banner.readAll())));
    Image1->setAccessibleName(QStringLiteral("Pelnavi系统"));

    Label5 = Make<QLabel>(this, "Label5");
    Button3 = Make<QPushButton>(this, "Button3");

    SB = Make<QStatusBar>(this, "SB");
    SB->setSizeGripEnabled(false);
    SB->setFont(QApplication::font("QStatusBar"));
    SBPanel0 = Make<QLabel>(SB, "SBPanel0");
    SBPanel0->setMinimumWidth(200);
    SB->addWidget(SBPanel0, 1); // the last panel runs to the bar's right end
    SBPanel0->setText(WelcomeLine() + QStringLiteral("   win7系统下请在非系统盘运行"));
    SB->setAccessibleName(QStringLiteral("状态"));

    PageControl1 = Make<QTabWidget>(this, "PageControl1");
    PageControl1->setDocumentMode(true); // tabs drawn flat
    auto* pageStyle = new PageControlStyle;
    pageStyle->setParent(PageControl1);
    PageControl1->setStyle(pageStyle);
    TabSheet1 = Make<QWidget>(nullptr, "TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("中国电视节目列表"));
    TVList = Make<TListBox>(TabSheet1, "TVList");
    UseTileBevel(TVList);
    TVList->setAccessibleName(QStringLiteral("频道列表"));
    TVListBox = Make<QPlainTextEdit>(TabSheet1, "TVListBox");
    TVListBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    TVListBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TVListBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    UseTileBevel(TVListBox);
    TVListBox->setTabChangesFocus(true);
    // Before anything asks for the memo's accessible interface.
    ListingMemo = new TListingMemo(TVListBox);
    TVListBox->setAccessibleName(QStringLiteral("节目单"));
    ComboBox_Class = Make<QComboBox>(TabSheet1, "ComboBox_Class");
    ComboBox_Class->setEditable(false);
    ComboBox_Class->addItems(CatalogueClassItems());
    ComboBox_Class->setCurrentIndex(1);
    ComboBox_Class->setFont(WindowFont(16));
    QPalette classColours = ComboBox_Class->palette();
    classColours.setColor(QPalette::Text, Qt::red);
    classColours.setColor(QPalette::ButtonText, Qt::red);
    classColours.setColor(QPalette::WindowText, Qt::red);
    classColours.setColor(QPalette::Base, Qt::white);
    classColours.setColor(QPalette::Button, Qt::white);
    ComboBox_Class->setPalette(classColours);
    ComboBox_Class->setAccessibleName(QStringLiteral("频道分类"));

    TabSheet2 = Make<QWidget>(nullptr, "TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("更新说明"));
    Memo1 = Make<QPlainTextEdit>(TabSheet2, "Memo1");
    auto* fillPage = new QVBoxLayout(TabSheet2);
    fillPage->setContentsMargins(0, 0, 0, 0);
    fillPage->addWidget(Memo1);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    UseTileBevel(Memo1);
    for (const char* line : kChangeLog)
        Memo1->appendPlainText(QString::fromUtf8(line));
    Memo1->setTabChangesFocus(true);
    Memo1->setAccessibleName(QStringLiteral("更新说明"));
    TabSheet_OnAir = Make<QWidget>(nullptr, "TabSheet_OnAir");
    PageControl1->addTab(TabSheet_OnAir, QStringLiteral("正在播出"));
    OnAirPage = new TOnAirPage(TabSheet_OnAir);
    OnAirPage->setGeometry(0, 0, 616, 361);
    OnAirPage->DataFolder = [] { return DataFolder(); };
    OnAirPage->Now = [this] { return Now(); };
    // These three pages are built when first shown: the start pays nothing for them.
    TabSheet_Grid = Make<QWidget>(nullptr, "TabSheet_Grid");
    PageControl1->addTab(TabSheet_Grid, QStringLiteral("节目单"));
    TabSheet_Reminders = Make<QWidget>(nullptr, "TabSheet_Reminders");
    PageControl1->addTab(TabSheet_Reminders, QStringLiteral("提醒"));
    TabSheet_Sources = Make<QWidget>(nullptr, "TabSheet_Sources");
    PageControl1->addTab(TabSheet_Sources, QStringLiteral("节目源"));
    PageControl1->setCurrentIndex(0);
    ListingMark = new TListingMark(TVListBox);
    ListingMark->Now = [this] { return Now(); };

    LoadData = Make<QPushButton>(this, "LoadData");
    filepathList = Make<TListBox>(this, "filepathList");
    TVFilepathList = Make<TListBox>(this, "TVFilepathList");
    Button1 = Make<QPushButton>(this, "Button1");
    Button_UpDate = Make<QPushButton>(this, "Button_UpDate");
    ProgressBar1 = Make<TProgressBar>(this, "ProgressBar1");
    ProgressBar1->setAccessibleName(QStringLiteral("下载进度"));

    PageControl2 = Make<QTabWidget>(this, "PageControl2");
    TabSheet4 = Make<QWidget>(nullptr, "TabSheet4");
    PageControl2->addTab(TabSheet4, QStringLiteral("数据更新"));
    Edit_Url = Make<QLineEdit>(TabSheet4, "Edit_Url");
    Edit_SaveFile = Make<QLineEdit>(TabSheet4, "Edit_SaveFile");
    Button_Download = Make<QPushButton>(TabSheet4, "Button_Download");
    Button_URAR = Make<QPushButton>(TabSheet4, "Button_URAR");

    Button_R = Make<QPushButton>(this, "Button_R");
    Edit_Ver = Make<QLineEdit>(this, "Edit_Ver");
    Edit_Ver->setFrame(false);
    Edit_Ver->setAccessibleName(QStringLiteral("Ver"));
    Button2 = Make<QPushButton>(this, "Button2");

    Timer_Load = new TTimer(startup_.Timings.ExtractionDelayMs, this);
    Timer_Load->setObjectName(QStringLiteral("Timer_Load"));
    Timer1 = new TTimer(startup_.Timings.DownloadDelayMs, this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    AutomaticUpdateTimer = new QTimer(this);
    AutomaticUpdateTimer->setObjectName(QStringLiteral("AutomaticUpdateTimer"));
    AutomaticUpdateTimer->setSingleShot(true);

    for (const Placement& place : kLayout) {
        auto* widget = findChild<QWidget*>(QString::fromLatin1(place.name));
        widget->setGeometry(place.left, place.top, place.width, place.height);
        if (place.caption == nullptr)
            continue;
        const QString caption = QString::fromUtf8(place.caption);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(caption);
        else if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(caption);
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            edit->setText(caption);
    }
    Edit_Url->setText(EnvironmentOr("PELNAVI_PACKAGE_URL", kDefaultPackageAddress));
}

void TForm1::BindEvents() {
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(LoadData, &QPushButton::clicked, this, &TForm1::LoadDataClick);
    // A left click or a keyboard move of the selection shows the listing. A rescan that clears the
    // list while it has the focus, or a focus-in that makes a row current without selecting it,
    // calls the handler with no entry selected, which changes nothing.
    TVList->viewport()->installEventFilter(new LeftButtonOnly(TVList));
    connect(TVList, &TListBox::itemPressed, this, [this] { TVListClick(); });
    connect(TVList, &TListBox::currentRowChanged, this, [this] {
        if (TVList->hasFocus() && QApplication::mouseButtons() == Qt::NoButton)
            TVListClick();
    });
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Image1, &TImage::Clicked, this, &TForm1::Image1Click);
    connect(ComboBox_Class, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox_ClassChange);
    connect(Button_UpDate, &QPushButton::clicked, this, &TForm1::Button_UpDateClick);
    connect(Button_Download, &QPushButton::clicked, this, &TForm1::Button_DownloadClick);
    connect(Button_URAR, &QPushButton::clicked, this, &TForm1::Button_URARClick);
    IdHTTP1.OnWorkBegin = [this](TIdHTTP& sender, TWorkMode mode, int64_t max) {
        IdHTTP1WorkBegin(sender, mode, max);
    };
    IdHTTP1.OnWork = [this](TIdHTTP& sender, TWorkMode mode, int64_t count) {
        IdHTTP1Work(sender, mode, count);
    };
    IdHTTP1.OnWorkEnd = [this](TIdHTTP& sender, TWorkMode mode) { IdHTTP1WorkEnd(sender, mode); };
    Timer_Load->OnTimer = [this](TTimer&) { Timer_LoadTimer(); };
    connect(Button_R, &QPushButton::clicked, this, &TForm1::Button_RClick);
    Timer1->OnTimer = [this](TTimer&) { Timer1Timer(); };
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    auto* enterClicks = new EnterClicksButton(this);
    for (QPushButton* button : findChildren<QPushButton*>())
        button->installEventFilter(enterClicks);
    connect(OnAirPage, &TOnAirPage::ChannelChosen, this, &TForm1::OpenChannel);
    connect(OnAirPage, &TOnAirPage::ReminderAsked, this, &TForm1::RemindOf);
    connect(OnAirPage, &TOnAirPage::FavouriteToggled, this, &TForm1::ToggleFavourite);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == TabSheet_Sources)
            SourcesPage();
        else if (PageControl1->currentWidget() == TabSheet_Grid)
            GridPage();
        else if (PageControl1->currentWidget() == TabSheet_Reminders)
            RemindersPage();
    });
    connect(AutomaticUpdateTimer, &QTimer::timeout, this, &TForm1::AutomaticUpdateTick);
}

TGridPage* TForm1::GridPage() {
    if (gridPage_ != nullptr)
        return gridPage_;
    gridPage_ = new TGridPage(TabSheet_Grid);
    gridPage_->setGeometry(0, 0, 616, 361);
    gridPage_->Model->DataFolder = [] { return DataFolder(); };
    gridPage_->Model->Now = [this] { return Now(); };
    gridPage_->LoadWindowGeometry = [] { return ReadGeometryFile(GridWindowGeometryFile()); };
    gridPage_->SaveWindowGeometry = [](const QByteArray& geometry) {
        if (!GridWindowGeometryFile().isEmpty())
            WriteGeometryFile(GridWindowGeometryFile(), geometry);
    };
    connect(gridPage_, &TGridPage::ListingAsked, this, &TForm1::OpenProgramme);
    connect(gridPage_, &TGridPage::ReminderAsked, this, &TForm1::RemindOf);
    connect(gridPage_, &TGridPage::FavouriteToggled, this, &TForm1::ToggleFavourite);
    if (Favourites != nullptr)
        gridPage_->Model->IsFavourite = [this](const QString& name) { return Favourites->Contains(name); };
    // Made into a page already on screen, it shows at once.
    gridPage_->show();
    return gridPage_;
}

void TForm1::SetTabOrder() {
    // The focus cycle, worker controls included, in the order the keyboard user expects.
    // A page control takes the focus through its tab bar; both stand together in the chain.
    const QList<QWidget*> order = {Button3,
                                   PageControl1,
                                   PageControl1->tabBar(),
                                   TVList,
                                   TVListBox,
                                   ComboBox_Class,
                                   Memo1,
                                   LoadData,
                                   filepathList,
                                   TVFilepathList,
                                   Button1,
                                   Button_UpDate,
                                   PageControl2,
                                   PageControl2->tabBar(),
                                   Edit_Url,
                                   Edit_SaveFile,
                                   Button_Download,
                                   Button_URAR,
                                   Button_R,
                                   Edit_Ver,
                                   Button2};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (focusPlaced_)
        return;
    focusPlaced_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    Button3->setFocus(Qt::ActiveWindowFocusReason);
}

void TForm1::ShowCreationError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kApplicationTitle), message + u'.',
                    QMessageBox::Ok);
    box.exec();
}

void TForm1::FormCreate() {
    AppPath = DirectoryWithDelimiter(startup_.ExecutablePath);
    Places = PlacesFor(startup_.Mode, AppPath, startup_.SystemArchiveLibrary);
    LoadSources();
    LoadReminders();
    setWindowTitle(windowTitle() + Edit_Ver->text());
    // An installed program's icon is the theme's, which the user's icon theme may restyle.
    if (Places.Mode == ProgramMode::Installed)
        setWindowIcon(QIcon::fromTheme(QString::fromUtf8(kApplicationId), windowIcon()));
    PrepareDataFolder(Places);
    // An installed program uses the system's library when there is one, and never writes into the
    // working directory.
    if (!Places.LibraryCopy.isEmpty()) {
        PrepareLibraryCopyFolder(Places);
        ExtractResourceToFile(QStringLiteral("7z"), QStringLiteral("dll"), Places.LibraryCopy);
    }
    if (!startup_.Arguments.isEmpty()) {
        for (const QString& argument : startup_.Arguments) {
            if (AsciiLowered(argument) == u"-up") {
                ReportStatus(QStringLiteral("请稍后正在更新数据."));
                Timer1->SetEnabled(true);
            }
        }
        return;
    }
    try {
        LoadData->click();
        // An installed program has its menu entry instead.
        if (Places.DesktopShortcut)
            CreateShortcut(startup_.ExecutablePath, QStringLiteral("Pelnavi"), QString(), -1);
    } catch (...) {
        // A failed scan or shortcut must not keep the window from opening.
        qCWarning(lcStartup).noquote() << "start-up scan stopped:" << CurrentExceptionMessage();
    }
}

void TForm1::Button3Click() {
    close();
}

void TForm1::OpenHomePage() {
    OpenAddress(kSite + QStringLiteral("/?qq=zorq") + Edit_Ver->text());
}

void TForm1::Button2Click() {
    OpenHomePage();
}

void TForm1::Image1Click() {
    OpenHomePage();
}

void TForm1::Button1Click() {
    OpenAddress(kSite + QStringLiteral("/Data/Pelnavi/?qq=zorq") + Edit_Ver->text());
}

void ReportStatus(const QString& text) {
    Form1->SBPanel0->setText(text);
    Form1->TVListBox->appendPlainText(Form1->SBPanel0->text());
}
