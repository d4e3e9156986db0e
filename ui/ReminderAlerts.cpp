#include "ui/ReminderAlerts.h"

#include "catalogue/ListingTime.h"
#include "reminders/ReminderPlan.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr qint64 kLongestWaitMs = qint64(10) * 60 * 1000;
constexpr int kTagRole = Qt::UserRole;

} // namespace

TReminderWindow::TReminderWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ReminderWindow"));
    setWindowTitle(QStringLiteral("提醒"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowModality(Qt::NonModal);
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("ReminderWindowList"));
    List->setAccessibleName(QStringLiteral("提醒"));
    OpenButton = new QPushButton(QStringLiteral("打开"), this);
    OpenButton->setObjectName(QStringLiteral("ReminderWindowOpen"));
    OpenButton->setAccessibleName(OpenButton->text());
    CloseButton = new QPushButton(QStringLiteral("关闭"), this);
    CloseButton->setObjectName(QStringLiteral("ReminderWindowClose"));
    CloseButton->setAccessibleName(CloseButton->text());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OpenButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List, 1);
    layout->addLayout(buttons);
    resize(320, 160);
    const auto open = [this] {
        if (QListWidgetItem* item = List->currentItem())
            emit Opened(item->data(kTagRole).toString());
    };
    connect(OpenButton, &QPushButton::clicked, this, open);
    connect(List, &QListWidget::itemActivated, this, open);
    connect(CloseButton, &QPushButton::clicked, this, [this] {
        hide();
        List->clear();
    });
}

void TReminderWindow::Add(const QString& summary, const QString& body, const QString& tag) {
    auto* item = new QListWidgetItem(summary + u'\n' + body);
    item->setData(kTagRole, tag);
    List->insertItem(0, item);
    List->setCurrentRow(0);
    // Shown without taking the focus from whatever the person is doing.
    setAttribute(Qt::WA_ShowWithoutActivating);
    show();
    raise();
}

TReminderAlerts::TReminderAlerts(ReminderStore& store, QWidget* window, QObject* parent)
    : QObject(parent), store_(store), window_(window) {
    Now = [] { return ListingNow(); };
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("ReminderTimer"));
    Timer->setSingleShot(true);
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TReminderAlerts::Check);
    connect(&store_, &ReminderStore::Changed, this, &TReminderAlerts::Arm);
}

QString TReminderAlerts::Summary(const Reminder& reminder) {
    return QStringLiteral("即将播出：") + reminder.title;
}

QString TReminderAlerts::Body(const Reminder& reminder) {
    return reminder.channel + u' ' + ListingTimeOf(reminder.start).toString(QStringLiteral("HH:mm"));
}

void TReminderAlerts::Check() {
    const ReminderDecision decision = DecideReminders(store_.Reminders(), Now());
    QList<Reminder> fired;
    QList<Reminder> reminders = store_.Reminders();
    for (const qsizetype i : decision.fire) {
        reminders[i].state = ReminderState::Fired;
        fired.append(reminders[i]);
    }
    for (const qsizetype i : decision.missed)
        reminders[i].state = ReminderState::Missed;
    if (!decision.fire.isEmpty() || !decision.missed.isEmpty())
        store_.SetReminders(std::move(reminders)); // arms the timer again
    else
        Arm();
    for (const Reminder& reminder : fired) {
        if (Notifications == nullptr)
            Notifications = new DesktopNotifications(QDBusConnection::sessionBus(), this);
        if (connectedTo_ != Notifications) {
            connectedTo_ = Notifications;
            connect(Notifications, &DesktopNotifications::Opened, this, &TReminderAlerts::Open);
            connect(Notifications, &DesktopNotifications::Unavailable, this, &TReminderAlerts::ShowInWindow);
        }
        Notifications->Send(Summary(reminder), Body(reminder), reminder.id);
    }
}

void TReminderAlerts::Arm() {
    const QDateTime now = Now();
    const std::optional<QDateTime> next = NextFiring(store_.Reminders(), now);
    if (!next) {
        Timer->stop();
        return;
    }
    Timer->start(static_cast<int>(std::clamp(now.msecsTo(*next), qint64(0), kLongestWaitMs)));
}

void TReminderAlerts::ShowInWindow(const QString& summary, const QString& body, const QString& id) {
    if (Window == nullptr) {
        Window = new TReminderWindow(window_);
        connect(Window, &TReminderWindow::Opened, this, &TReminderAlerts::Open);
    }
    Window->Add(summary, body, id);
}

void TReminderAlerts::Open(const QString& id) {
    const qsizetype index = store_.IndexOf(id);
    if (index < 0)
        return; // deleted meanwhile
    const Reminder& reminder = store_.Reminders()[index];
    emit ProgrammeAsked({reminder.listingPath, reminder.className, reminder.line, reminder.title});
}
