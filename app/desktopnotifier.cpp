// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktopnotifier.h"

#include "app/logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString DefaultAction = QStringLiteral("default");
// A service that does not answer within this time is given up on; the call never blocked anyone.
constexpr int CallTimeoutMs = 5000;
constexpr uint DismissedByUser = 2;
} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus(bus) {}

QDBusConnection DesktopNotifier::sessionBus()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return QDBusConnection(QStringLiteral("vantrel-no-session-bus"));
    return QDBusConnection::sessionBus();
}

void DesktopNotifier::announce(const QString& kind, const QString& title, const QString& text)
{
    send(kind, title, text, 0);
}

void DesktopNotifier::send(const QString& kind, const QString& title, const QString& text, int timeoutMs)
{
    if (!bus.isConnected()) {
        qCDebug(lcApp) << "no session bus for the notification" << title;
        return;
    }
    if (!kind.isEmpty() && !listening) {
        // The service tells every client of every click; onActionInvoked keeps those on our messages.
        listening = bus.connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this,
                                SLOT(onActionInvoked(uint, QString))) &&
                    bus.connect(Service, Path, Service, QStringLiteral("NotificationClosed"), this,
                                SLOT(onNotificationClosed(uint, uint)));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.orrimbel.VantrelMonitor")}};
    // The body may be read as markup: link texts holding '&' or '<' must show as typed.
    QStringList actions;
    if (!kind.isEmpty())
        actions << DefaultAction << tr("Show");
    call << QStringLiteral("Vantrel Monitor") << shownIds.value(kind, 0u) << QStringLiteral("vantrel-monitor") << title
         << text.toHtmlEscaped() << actions << hints << timeoutMs;
    ++pending;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, title, kind](QDBusPendingCallWatcher* done) {
        --pending;
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isError())
            qCDebug(lcApp) << "notification" << title << "not shown:" << reply.error().message();
        else if (!kind.isEmpty())
            shownIds.insert(kind, reply.value());
        done->deleteLater();
    });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    if (action != DefaultAction)
        return;
    for (auto it = shownIds.cbegin(); it != shownIds.cend(); ++it) {
        if (it.value() == id) {
            emit activated(it.key());
            return;
        }
    }
}

void DesktopNotifier::onNotificationClosed(uint id, uint reason)
{
    // A closed message is not replaced: the next one of its kind is shown afresh.
    for (auto it = shownIds.begin(); it != shownIds.end(); ++it) {
        if (it.value() == id) {
            const QString kind = it.key();
            shownIds.erase(it);
            // Reason 2: the user closed it (1 is an expiry, 3 a program's request).
            if (reason == DismissedByUser)
                emit dismissed(kind);
            return;
        }
    }
}
