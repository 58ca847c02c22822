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
// A service that does not answer within this time is given up on; the call never blocked anyone.
constexpr int CallTimeoutMs = 5000;
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

void DesktopNotifier::notify(const QString& title, const QString& text, int timeoutMs)
{
    if (!bus.isConnected()) {
        qCDebug(lcApp) << "no session bus for the notification" << title;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.orrimbel.VantrelMonitor")}};
    call << QStringLiteral("Vantrel Monitor") << uint(0) << QStringLiteral("vantrel-monitor") << title << text
         << QStringList() << hints << timeoutMs;
    ++pending;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, title](QDBusPendingCallWatcher* done) {
        --pending;
        if (done->isError())
            qCDebug(lcApp) << "notification" << title << "not shown:" << done->error().message();
        done->deleteLater();
    });
}
