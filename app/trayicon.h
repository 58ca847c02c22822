// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class DesktopNotifier;
class QAction;
class QMenu;

// The program's tray icon with its menu (Minimize, Maximize, Update Now, Quit) and its balloons; where the
// desktop has no tray, announcements go to the desktop's notification service instead. It only says what
// the user asked for; the window does it.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether there is a system tray to minimise into and to show balloons. Unless set, the platform is asked
    // each time, so a tray that appears later is used.
    void setAvailable(bool available) { override = available; }
    bool isAvailable() const;
    // Where announcements go when there is no tray (not owned). Unless set, a notifier on the session bus is
    // made at the first announcement.
    void setNotifier(DesktopNotifier* sink);

    // A balloon of the tray icon, or a desktop notification without a tray. A notification replaces the
    // previous one of its kind; clicking either emits announcementClicked(kind).
    void announce(const QString& kind, const QString& title, const QString& text);
    void setToolTip(const QString& text);
    QString toolTip() const;
    // The icon itself, for tests that click its balloon.
    QSystemTrayIcon* systemTrayIcon() const { return icon; }

public slots:
    // A click on the icon (not a double or middle click) asks for the window.
    void activate(QSystemTrayIcon::ActivationReason reason);

signals:
    void minimizeRequested();
    void maximizeRequested();
    void updateRequested();
    void quitRequested();
    // The icon or a balloon was clicked: the window is to come back.
    void showRequested();
    // A balloon or notification of this kind was clicked (after showRequested for a balloon).
    void announcementClicked(const QString& kind);
    // The user closed the desktop notification of this kind without clicking it.
    void announcementDismissed(const QString& kind);

private:
    QSystemTrayIcon* icon = nullptr;
    std::unique_ptr<QMenu> menu;
    std::optional<bool> override;
    DesktopNotifier* notifier = nullptr;
    QString balloonKind; // of the balloon shown last
};
