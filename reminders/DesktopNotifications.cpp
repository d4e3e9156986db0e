#include "reminders/DesktopNotifications.h"

#include "reminders/ReminderStore.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The desktop's own default action: a click on the notification does what "打开" does.
const QString kDefaultAction = QStringLiteral("default");
// -1: the desktop decides how long the notification stays.
constexpr int kServerTimeout = -1;

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected())
        return;
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(ActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
}

void DesktopNotifications::Send(const QString& summary, const QString& body, const QString& tag) {
    if (!bus_.isConnected()) {
        qCInfo(lcReminders).noquote() << "no session bus; the reminder shows in the program's own window";
        // Later, as an answer of the bus would come: the caller may still be setting up.
        QMetaObject::invokeMethod(
            this, [this, summary, body, tag] { emit Unavailable(summary, body, tag); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QStringList actions = {kDefaultAction, QStringLiteral("打开"), QString::fromLatin1(kOpenAction),
                                 QStringLiteral("打开")};
    call << QStringLiteral("Pelnavi系统") << uint(0) << QString() << summary << body << actions
         << QVariantMap() << kServerTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body, tag] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            qCInfo(lcReminders).noquote()
                << "the desktop's notification service did not take the reminder (" << reply.error().message()
                << "); it shows in the program's own window";
            emit Unavailable(summary, body, tag);
            return;
        }
        tags_.insert(reply.value(), tag);
    });
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action) {
    const auto found = tags_.constFind(id);
    if (found == tags_.cend())
        return; // another program's notification
    if (action == QLatin1String(kOpenAction) || action == kDefaultAction)
        emit Opened(*found);
}

void DesktopNotifications::NotificationClosed(uint id, uint /*reason*/) {
    tags_.remove(id);
}
