// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// Announces a message through the desktop's notification service (org.freedesktop.Notifications on the
// session bus), for desktops that have no system tray to show a balloon. Calls are sent asynchronously: a
// missing or slow service never holds up the caller; failures are only logged.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // The user's session bus, or an unconnected one when the session has none (asking libdbus for it then
    // would launch a bus daemon of its own that outlives the program).
    static QDBusConnection sessionBus();

    void notify(const QString& title, const QString& text, int timeoutMs);
    // Calls sent and not yet answered (or failed).
    int pendingCalls() const { return pending; }

private:
    QDBusConnection bus;
    int pending = 0;
};
