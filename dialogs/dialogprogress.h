// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>

namespace Ui {
class DialogProgress;
}

// The wait box of a command: it tells the user to wait while the main window is disabled, can be left by
// Escape or its Cancel button, and names what it waits for once the wait gets long.
class DialogProgress : public QDialog
{
    Q_OBJECT

public:
    // How long a wait goes on before the box names the pages it waits for.
    static constexpr int SlowMs = 3000;

    explicit DialogProgress(QWidget* parent = nullptr);
    ~DialogProgress() override;

    void setMessage(const QString& message);
    // awaited gives the addresses still awaited; from slowMs on (and every second after) the box names them.
    void watchAwaited(std::function<QStringList()> awaited, int slowMs = SlowMs);
    // The line naming the awaited pages: one address, or their number and the first of them.
    static QString awaitedText(const QStringList& addresses);

signals:
    // The user left the wait (Escape or Cancel); the command closes the box when its wait has ended.
    void cancelRequested();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showAwaited();
    void fitHeight();

    Ui::DialogProgress* ui;
    QTimer m_slow;
    std::function<QStringList()> m_awaited;
};
