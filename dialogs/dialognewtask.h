// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QHash>
#include <QMargins>

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
    // The options of the "Advanced" part, by their names in task.db (empty values left out); only what
    // passed the checks of Ok.
    QHash<QString, QString> taskOptions() const;

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();
    void on_groupBoxAdvanced_toggled(bool on);

private:
    // Refuses a User-Agent or header the server could not be sent, with a message; false then.
    bool checkAdvanced();
    void showAdvanced(bool on);

    Ui::DialogNewTask* ui;
    QMargins m_advancedMargins;
};
