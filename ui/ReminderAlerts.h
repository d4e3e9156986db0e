#pragma once

#include "reminders/DesktopNotifications.h"
#include "reminders/ReminderStore.h"
#include "ui/GridPage.h"

#include <QDateTime>
#include <QListWidget>
#include <QObject>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

// The program's own small window for reminders, where the desktop has no notification service. It
// never blocks the main window: it is no dialog and has no modality.
class TReminderWindow final : public QWidget {
    Q_OBJECT
public:
    explicit TReminderWindow(QWidget* parent);

    QListWidget* List; // one line a reminder, the newest first
    QPushButton* OpenButton;
    QPushButton* CloseButton;

    // Shows a reminder; `tag` comes back with Opened.
    void Add(const QString& summary, const QString& body, const QString& tag);

signals:
    void Opened(const QString& tag);
};

// Fires the reminders of the store at their time: a desktop notification, else the window above.
// Its clock is replaceable; the timer is armed for the next firing, and at most for ten minutes, so a
// changed clock or a machine that slept is noticed.
class TReminderAlerts final : public QObject {
    Q_OBJECT
public:
    TReminderAlerts(ReminderStore& store, QWidget* window, QObject* parent = nullptr);

    std::function<QDateTime()> Now;
    // Made when the first reminder fires, so that the start does not wait for the bus; tests set
    // one on a bus of their own before.
    DesktopNotifications* Notifications = nullptr;
    QTimer* Timer;
    TReminderWindow* Window = nullptr; // made when first needed

    // Fires what is due, marks what was missed and arms the timer for the next one. The program
    // calls it at its start (reminders whose time passed meanwhile become "已错过") and the timer
    // at each firing.
    void Check();

    // The summary and body of a reminder's notification.
    static QString Summary(const Reminder& reminder);
    static QString Body(const Reminder& reminder);

signals:
    // "打开" on a reminder: the programme to show in its listing.
    void ProgrammeAsked(const ChosenProgramme& programme);

private:
    void Arm();
    void Open(const QString& id);
    void ShowInWindow(const QString& summary, const QString& body, const QString& id);

    ReminderStore& store_;
    QWidget* window_;
    const DesktopNotifications* connectedTo_ = nullptr;
};
