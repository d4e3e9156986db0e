#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

// Desktop notifications through the freedesktop service org.freedesktop.Notifications on the
// session bus. Each carries the action "打开"; a notification that cannot be sent (no bus, no
// service, an error from it) comes back as Unavailable, so that the caller can show its own window.
// Nothing here waits for the bus: every call is answered later, on the event loop.
class DesktopNotifications final : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject* parent = nullptr);

    // `tag` comes back with Opened or Unavailable.
    void Send(const QString& summary, const QString& body, const QString& tag);

    static constexpr const char* kOpenAction = "open";

signals:
    // The person chose "打开" (or the notification itself, where the desktop offers that).
    void Opened(const QString& tag);
    void Unavailable(const QString& summary, const QString& body, const QString& tag);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    QHash<uint, QString> tags_; // of the notifications that are up
};
