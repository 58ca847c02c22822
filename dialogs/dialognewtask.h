// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DialogNewTask;
}

class DialogNewTask : public QDialog
{
    Q_OBJECT

public:
    explicit DialogNewTask(QWidget* parent = nullptr);
    ~DialogNewTask() override;

    QString taskName() const;
    QString webAddress() const;
    QString grabText() const;
    int frequency() const;
    // Whether the task's page is got through the page renderer, which runs its scripts first.
    bool runScripts() const;
    // Where the renderer is not installed the choice is not offered; why says what to install.
    void setScriptsAvailable(bool available, const QString& why = {});

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();

private:
    Ui::DialogNewTask* ui;
    QString m_scriptsToolTip; // what the box says while it is offered
};
