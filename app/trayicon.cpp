// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trayicon.h"

#include "app/desktopnotifier.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

namespace {
constexpr int BalloonMs = 1000;
}

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
    connect(icon, &QSystemTrayIcon::messageClicked, this, &TrayIcon::showRequested);
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

void TrayIcon::announce(const QString& title, const QString& text)
{
    if (isAvailable()) {
        if (icon->isVisible())
            icon->showMessage(title, text, QSystemTrayIcon::Information, BalloonMs);
        return;
    }
    if (!notifier)
        notifier = new DesktopNotifier(DesktopNotifier::sessionBus(), this);
    notifier->notify(title, text, BalloonMs);
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        emit showRequested();
}
