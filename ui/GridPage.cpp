#include "ui/GridPage.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/ListingFile.h"
#include "catalogue/ListingTime.h"
#include "guide/SeriesTitle.h"
#include "platform/Exception.h"
#include "platform/Logging.h"
#include "reminders/FollowedShows.h"
#include "ui/WidgetRules.h"
#include "update/PackageDownload.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHideEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const char16_t* const kWeekdays[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};

// What a geometry file may hold at most; saveGeometry writes some 70 bytes.
constexpr qint64 kGeometryFileBytes = 4096;

QString DateItemText(const QDate& date, const QDate& today) {
    QString text = date.toString(QStringLiteral("MM-dd")) + QStringLiteral(" 周") +
                   QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]);
    if (date == today)
        text += QStringLiteral(" 今天");
    return text;
}

QString TimeOf(qint64 instant) {
    return ListingTimeOf(QDateTime::fromMSecsSinceEpoch(instant)).toString(QStringLiteral("HH:mm"));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(caption);
    // Enter clicks it, as it does every button of the window.
    button->installEventFilter(new EnterClicksButton(button));
    return button;
}

} // namespace

TGridDetails::TGridDetails(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GridDetails"));
    setWindowTitle(QStringLiteral("节目详情"));
    auto* form = new QFormLayout;
    const auto row = [&](const char* name, const QString& caption) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        form->addRow(caption, label);
        return label;
    };
    Channel = row("DetailsChannel", QStringLiteral("频道："));
    Date = row("DetailsDate", QStringLiteral("日期："));
    Times = row("DetailsTimes", QStringLiteral("时间："));
    Title = row("DetailsTitle", QStringLiteral("节目："));
    Title->setWordWrap(true);
    Series = row("DetailsSeries", QStringLiteral("剧集："));
    Remind = MakeButton(this, "DetailsRemind", QStringLiteral("提醒我"));
    OpenListing = MakeButton(this, "OpenListing", QStringLiteral("打开节目表"));
    Close = MakeButton(this, "CloseDetails", QStringLiteral("关闭"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Remind);
    buttons->addWidget(OpenListing);
    buttons->addWidget(Close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(Close, &QPushButton::clicked, this, &QDialog::accept);
    connect(OpenListing, &QPushButton::clicked, this, [this] {
        accept();
        emit ListingAsked(shown_);
    });
    connect(Remind, &QPushButton::clicked, this, [this] {
        accept();
        emit ReminderAsked(programme_);
    });
}

void TGridDetails::Show(const GridDay& day, const GridPlace& place) {
    const GuideChannel& channel = day.Channel(place.row);
    const GridBox& box = day.Box(place);
    const Programme& programme = *box.programme;
    shown_ = {channel.listingPath, channel.className, programme.line, programme.title};
    programme_ = ReminderOf(channel, {}, programme, kDefaultReminderLead);
    Channel->setText(channel.displayName);
    const QDate date = programme.StartTime().date();
    Date->setText(date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 星期") +
                  QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]));
    Times->setText(TimeOf(box.start) + u'\u2013' + TimeOf(box.end));
    Title->setText(programme.title);
    const std::optional<SeriesEpisode> series = SeriesOfTitle(programme.title);
    Series->setText(series ? QStringLiteral("%1 第%2集").arg(series->series).arg(series->episode)
                           : QString());
    Series->setVisible(series.has_value());
    if (auto* form = qobject_cast<QFormLayout*>(static_cast<QVBoxLayout*>(layout())->itemAt(0)->layout()))
        form->labelForField(Series)->setVisible(series.has_value());
    open();
    OpenListing->setFocus();
}

TGridView::TGridView(TGuideGridModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("GridView"));
    auto* dateLabel = new QLabel(QStringLiteral("日期"), this);
    DateBox = new QComboBox(this);
    DateBox->setObjectName(QStringLiteral("GridDate"));
    DateBox->setAccessibleName(QStringLiteral("日期"));
    dateLabel->setBuddy(DateBox);
    auto* classLabel = new QLabel(QStringLiteral("频道分类"), this);
    ClassBox = new QComboBox(this);
    ClassBox->setObjectName(QStringLiteral("GridClass"));
    ClassBox->setAccessibleName(QStringLiteral("频道分类"));
    ClassBox->addItems(CatalogueClassItems());
    ClassBox->addItem(QString::fromUtf16(kFavouritesClass));
    classLabel->setBuddy(ClassBox);
    NowButton = MakeButton(this, "GridNow", QStringLiteral("现在"));
    Grid = new TProgrammeGrid(this);
    Grid->Now = [model] { return model->Now(); };
    Grid->IsFavourite = [this](const GuideChannel& channel) { return Favourite(channel.displayName); };

    Bar = new QHBoxLayout;
    Bar->setSpacing(4);
    Bar->addWidget(dateLabel);
    Bar->addWidget(DateBox);
    Bar->addWidget(classLabel);
    Bar->addWidget(ClassBox);
    Bar->addWidget(NowButton);
    Bar->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(Bar);
    layout->addWidget(Grid, 1);
    setFocusProxy(Grid);

    connect(model, &TGuideGridModel::GridRead, this, &TGridView::ShowModel);
    connect(model, &TGuideGridModel::Minute, this, [this] {
        // After midnight "今天" marks the new date.
        if (ListingTimeOf(model_->Now()).date() != today_) {
            FillDates();
            if (ShownDate() != Grid->Day().Date())
                ShowDay();
        }
        Grid->MinutePassed();
    });
    connect(DateBox, &QComboBox::currentIndexChanged, this, [this] { ShowDay(); });
    connect(ClassBox, &QComboBox::currentIndexChanged, this, [this] { ShowDay(); });
    connect(NowButton, &QPushButton::clicked, this, [this] { GoToNow(); });
    connect(Grid, &TProgrammeGrid::Activated, this, &TGridView::ShowDetails);
    connect(Grid, &TProgrammeGrid::FavouriteKey, this, [this](const GridPlace& place) {
        emit FavouriteToggled(Grid->Day().Channel(place.row).displayName);
    });
    connect(Grid, &TProgrammeGrid::ReminderKey, this, [this](const GridPlace& place) {
        emit ReminderAsked(ReminderOf(Grid->Day().Channel(place.row), {}, *Grid->Day().Box(place).programme,
                                      kDefaultReminderLead));
    });
    connect(Grid, &TProgrammeGrid::ContextMenuAsked, this,
            [this](const GridPlace& place, const QPoint& at) { ProgrammeMenu(place)->popup(at); });
    ShowModel();
}

bool TGridView::Favourite(const QString& channelName) const {
    return model_->IsFavourite && model_->IsFavourite(channelName);
}

QMenu* TGridView::ProgrammeMenu(const GridPlace& place) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const GuideChannel& channel = Grid->Day().Channel(place.row);
    const Programme& programme = *Grid->Day().Box(place).programme;
    const QString name = channel.displayName;
    menu->addAction(Favourite(name) ? QStringLiteral("取消收藏") : QStringLiteral("收藏频道"), this,
                    [this, name] { emit FavouriteToggled(name); });
    const Reminder reminder = ReminderOf(channel, {}, programme, kDefaultReminderLead);
    menu->addAction(QStringLiteral("提醒我"), this, [this, reminder] { emit ReminderAsked(reminder); });
    const ChosenProgramme chosen{channel.listingPath, channel.className, programme.line, programme.title};
    menu->addAction(QStringLiteral("打开节目表"), this, [this, chosen] { emit ListingAsked(chosen); });
    return menu;
}

void TGridView::FavouritesChanged() {
    if (ClassBox->currentText() == QStringView(kFavouritesClass))
        ShowDay();
}

void TGridView::ShowDetails(const GridPlace& place) {
    if (Details == nullptr) {
        Details = new TGridDetails(this);
        connect(Details, &TGridDetails::ListingAsked, this, &TGridView::ListingAsked);
        connect(Details, &TGridDetails::ReminderAsked, this, &TGridView::ReminderAsked);
    }
    Details->Show(Grid->Day(), place);
}

QDate TGridView::ShownDate() const {
    return DateBox->currentData().toDate();
}

void TGridView::FillDates() {
    const QDate today = ListingTimeOf(model_->Now()).date();
    today_ = today;
    const QList<QDate>& dates = model_->Grid()->Dates();
    // The date the user chose stays; the stand-in of an empty reading does not.
    QDate keep = datesRead_ ? ShownDate() : QDate();
    datesRead_ = !dates.isEmpty();
    if (!dates.contains(keep)) {
        // Today, else the next day listed, else the last one.
        const auto next = std::lower_bound(dates.begin(), dates.end(), today);
        keep = next != dates.end() ? *next : dates.isEmpty() ? today : dates.last();
    }
    const QSignalBlocker quiet(DateBox);
    DateBox->clear();
    for (const QDate& date : dates)
        DateBox->addItem(DateItemText(date, today), date);
    if (dates.isEmpty())
        DateBox->addItem(DateItemText(today, today), today);
    DateBox->setCurrentIndex(std::max(DateBox->findData(keep), 0));
}

void TGridView::ShowModel() {
    FillDates();
    ShowDay();
    PlaceAtNow();
}

void TGridView::PlaceAtNow() {
    // Once, when the view shows a reading for the first time; later it keeps where the user was.
    if (!shown_ || placedAtNow_ || !model_->HasRead())
        return;
    placedAtNow_ = true;
    Grid->ScrollToTime(Grid->NowInstant());
}

void TGridView::ShowDay() {
    Grid->ShowDay(model_->Grid(), ShownDate(), ClassBox->currentText());
}

void TGridView::GoToNow() {
    const QDate today = ListingTimeOf(model_->Now()).date();
    const int item = DateBox->findData(today);
    if (item >= 0)
        DateBox->setCurrentIndex(item);
    Grid->GoToNow();
    Grid->setFocus(Qt::OtherFocusReason);
}

void TGridView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shown_ = true;
    model_->ViewShown();
    PlaceAtNow();
    model_->Refresh();
}

void TGridView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (shown_)
        model_->ViewHidden();
    shown_ = false;
}

TGridWindow::TGridWindow(TGuideGridModel* model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("GridWindow"));
    setWindowTitle(QStringLiteral("节目单"));
    // The program ends with its main window, whether or not this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    View = new TGridView(model, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(View);
    LoadGeometry = [] { return QByteArray(); };
    SaveGeometry = [](const QByteArray&) {};
}

TGridWindow::~TGridWindow() {
    // The program's end closes no window; what the user left is kept all the same.
    if (isVisible())
        KeepGeometry();
}

void TGridWindow::Open() {
    if (!placed_) {
        placed_ = true;
        const QByteArray geometry = LoadGeometry();
        if (geometry.isEmpty() || !restoreGeometry(geometry)) {
            resize(960, 600);
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                move(screen->availableGeometry().center() - rect().center());
        }
    }
    show();
    raise();
    activateWindow();
    View->Grid->setFocus(Qt::ActiveWindowFocusReason);
}

void TGridWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        KeepGeometry();
}

void TGridWindow::KeepGeometry() {
    try {
        SaveGeometry(saveGeometry());
    } catch (...) {
        // A size and place that cannot be kept are not worth a message.
        qCWarning(lcCatalogue).noquote() << "grid window: geometry not kept:" << CurrentExceptionMessage();
    }
}

TGridPage::TGridPage(QWidget* parent) : QWidget(parent), Window(nullptr) {
    setObjectName(QStringLiteral("GridPage"));
    Model = new TGuideGridModel(this);
    View = new TGridView(Model, this);
    WindowButton = MakeButton(this, "GridWindowButton", QStringLiteral("新窗口"));
    View->Bar->addWidget(WindowButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(View);
    LoadWindowGeometry = [] { return QByteArray(); };
    SaveWindowGeometry = [](const QByteArray&) {};
    connect(WindowButton, &QPushButton::clicked, this, &TGridPage::OpenWindow);
    Forward(View);
}

void TGridPage::Forward(TGridView* view) {
    connect(view, &TGridView::ListingAsked, this, &TGridPage::ListingAsked);
    connect(view, &TGridView::ReminderAsked, this, &TGridPage::ReminderAsked);
    connect(view, &TGridView::FavouriteToggled, this, &TGridPage::FavouriteToggled);
}

void TGridPage::FavouritesChanged() {
    View->FavouritesChanged();
    if (Window != nullptr)
        Window->View->FavouritesChanged();
}

TGridPage::~TGridPage() {
    // The views tell the model when they hide, their last time as they go: the model goes after them.
    delete Window;
    delete View;
}

void TGridPage::OpenWindow() {
    if (Window == nullptr) {
        Window = new TGridWindow(Model, this);
        Window->LoadGeometry = [this] { return LoadWindowGeometry(); };
        Window->SaveGeometry = [this](const QByteArray& geometry) { SaveWindowGeometry(geometry); };
        Window->View->ClassBox->setCurrentIndex(View->ClassBox->currentIndex());
        Forward(Window->View);
    }
    Window->Open();
}

bool TGridPage::IsShown() const {
    return isVisible() || (Window != nullptr && Window->isVisible());
}

QByteArray ReadGeometryFile(const QString& path) {
    try {
        return ReadListingFile(path, kGeometryFileBytes);
    } catch (const Exception&) {
        // None yet, or not one of ours: the window opens where it opens the first time.
        return {};
    }
}

void WriteGeometryFile(const QString& path, const QByteArray& geometry) {
    const QFileInfo file(path);
    SavePackage(geometry, file.path() + u'/', file.fileName());
}
