// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QHash>
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

    // Shows the message until the user closes it (expire time 0: it never expires). A message of the same
    // kind still shown is replaced rather than joined by another, clicking the message (its default action)
    // emits activated(kind) and closing it emits dismissed(kind).
    void announce(const QString& kind, const QString& title, const QString& text);
    // Calls sent and not yet answered (or failed).
    int pendingCalls() const { return pending; }

signals:
    void activated(const QString& kind);
    // The user closed the message of this kind.
    void dismissed(const QString& kind);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void send(const QString& kind, const QString& title, const QString& text, int timeoutMs);

    QDBusConnection bus;
    int pending = 0;
    bool listening = false;
    // The id the service gave the latest message of each kind.
    QHash<QString, uint> shownIds;
};
