// A stand-in for the desktop's notification service, for tests on a private session bus: it takes
// the name org.freedesktop.Notifications, prints each notification it is sent as one JSON line on
// standard output, and, when started with an action's key, invokes that action on each one as a
// person would. It prints "ready" once it owns the name.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusError>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

namespace {

void PrintLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

class Notifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit Notifications(QString invoke) : invoke_(std::move(invoke)) {}

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int expireTimeout) {
        Q_UNUSED(replacesId)
        Q_UNUSED(appIcon)
        Q_UNUSED(hints)
        const uint id = ++lastId_;
        PrintLine(QJsonDocument(QJsonObject{{QStringLiteral("id"), static_cast<int>(id)},
                                            {QStringLiteral("app"), appName},
                                            {QStringLiteral("summary"), summary},
                                            {QStringLiteral("body"), body},
                                            {QStringLiteral("actions"), QJsonArray::fromStringList(actions)},
                                            {QStringLiteral("timeout"), expireTimeout}})
                      .toJson(QJsonDocument::Compact));
        if (!invoke_.isEmpty())
            QTimer::singleShot(0, this, [this, id] {
                // Another program's notification first: the program must not take it for its own.
                emit ActionInvoked(id + 1000, invoke_);
                emit ActionInvoked(id, invoke_);
                emit NotificationClosed(id, 2);
            });
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("pelnavi-tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QString invoke_;
    uint lastId_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    Notifications service(arguments.value(1));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "cannot serve org.freedesktop.Notifications: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    PrintLine("ready");
    return QCoreApplication::exec();
}

#include "FakeNotificationService.moc"
