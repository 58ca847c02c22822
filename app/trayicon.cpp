// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trayicon.h"

#include "app/desktopnotifier.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

namespace {
// Long enough to be read and clicked.
constexpr int BalloonMs = 10000;
} // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), menu(std::make_unique<QMenu>())
{
    const auto addAction = [this](const QString& text, void (TrayIcon::*request)()) {
        auto* action = new QAction(text, this);
        connect(action, &QAction::triggered, this, request);
        menu->addAction(action);
    };
    addAction(tr("Mi&nimize"), &TrayIcon::minimizeRequested);
    addAction(tr("Ma&ximize"), &TrayIcon::maximizeRequested);
    menu->addSeparator();
    addAction(tr("&Update Now"), &TrayIcon::updateRequested);
    menu->addSeparator();
    addAction(tr("&Quit"), &TrayIcon::quitRequested);

    icon = new QSystemTrayIcon(this);
    icon->setContextMenu(menu.get());
    icon->setIcon(QIcon(QStringLiteral(":/64vantrel_robot.png")));
    icon->setVisible(true);
    connect(icon, &QSystemTrayIcon::messageClicked, this, [this] {
        emit showRequested();
        emit announcementClicked(balloonKind);
    });
    connect(icon, &QSystemTrayIcon::activated, this, &TrayIcon::activate);
}

TrayIcon::~TrayIcon()
{
    // The icon lets go of its menu before the menu goes.
    delete icon;
}

bool TrayIcon::isAvailable() const
{
    return override.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcon::announce(const QString& kind, const QString& title, const QString& text)
{
    if (isAvailable()) {
        if (icon->isVisible()) {
            balloonKind = kind;
            icon->showMessage(title, text, QSystemTrayIcon::Information, BalloonMs);
        }
        return;
    }
    if (!notifier)
        setNotifier(new DesktopNotifier(DesktopNotifier::sessionBus(), this));
    notifier->announce(kind, title, text);
}

void TrayIcon::setNotifier(DesktopNotifier* sink)
{
    if (notifier)
        disconnect(notifier, nullptr, this, nullptr);
    notifier = sink;
    // A notification's click brings the window back as a balloon's does.
    if (notifier) {
        connect(notifier, &DesktopNotifier::activated, this, [this](const QString& kind) {
            emit showRequested();
            emit announcementClicked(kind);
        });
        connect(notifier, &DesktopNotifier::dismissed, this, &TrayIcon::announcementDismissed);
    }
}

void TrayIcon::setToolTip(const QString& text)
{
    icon->setToolTip(text);
}

QString TrayIcon::toolTip() const
{
    return icon->toolTip();
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit showRequested();
}
