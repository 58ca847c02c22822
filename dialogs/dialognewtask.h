// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QHash>
#include <QMargins>
#include <QString>

#include "engine/definition/taskdefinition.h"

#include <functional>

class HoursEdit;
class NewsEdit;
class QCheckBox;
class QComboBox;

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
    QString keyword() const;
    int frequency() const;
    // Whether the task's page is got through the page renderer, which runs its scripts first.
    bool runScripts() const;
    // Where the renderer is not installed the choice is not offered; why says what to install.
    void setScriptsAvailable(bool available, const QString& why = {});
    // What the Options say of reporting new links: how the box is ticked for a new task, and for a task that has
    // no choice of its own (which it keeps while the box is left so).
    void setReportNewLinksDefault(bool on);
    // The options of the "Advanced" part, by their names in task.db (empty values left out); only what
    // passed the checks of Ok.
    QHash<QString, QString> taskOptions() const;
    // The entries as typed, normalised as the task uses them; the options as typed, not yet checked.
    TaskDefinition definition() const;

    // Turns the dialog into "Edit Task" with the task's entries filled in; the frequency is shown in the
    // largest unit that divides it, and given back exactly as it was while the user leaves it as shown.
    // The Advanced part shows the task's options and is unfolded when it has any.
    void setTask(const TaskDefinition& task);
    // What Ok took: the entries normalised, the frequency, and the options (the Advanced part's, and whether
    // the page's scripts run).
    TaskDefinition task() const;
    bool isEditing() const { return editing; }
    // Asked on Ok once the entries are valid: the name of another task that watches the address for the keyword,
    // empty when there is none. Such entries are refused with a message naming that task, and the dialog stays
    // open with what was typed.
    void setDuplicateCheck(std::function<QString(const QString& address, const QString& keyword)> check);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();
    void on_groupBoxAdvanced_toggled(bool on);

private:
    // Refuses an option of the Advanced part that cannot work (a header the server could not be sent, a region
    // that does not parse, an over-long text) with a message and the focus on its field; false then.
    bool checkAdvanced(const TaskDefinition::Problem& problem);
    // Shows why the entries cannot be taken, with the message of the field; false when there is a problem.
    bool accepts(const TaskDefinition::Problem& problem);
    bool frequencyAsGiven() const;
    // Offers to put https:// or http:// before an address typed without a scheme; true when one was put.
    bool offerScheme(const QString& address);
    void showAdvanced(bool on);
    void setTitle();
    // The hours, varied checks, report box and news destinations of a task, below the fields of the form.
    void addTaskParts();
    QString reportNewLinksValue() const;

    Ui::DialogNewTask* ui;
    QString m_scriptsToolTip; // what the box says while it is offered
    QMargins m_advancedMargins;
    bool editing = false;
    int m_givenFrequency = 0; // the frequency setTask() got, and the count and unit it was shown as
    int m_givenCount = 0;
    int m_givenUnit = -1;
    std::function<QString(const QString&, const QString&)> duplicateCheck;
    QCheckBox* m_reportNew = nullptr;
    QComboBox* m_hoursMode = nullptr; // as in Options, its own
    HoursEdit* m_hours = nullptr;
    QCheckBox* m_vary = nullptr;
    QComboBox* m_newsTo = nullptr; // as in Options, nowhere else, its own
    NewsEdit* m_news = nullptr;
    bool m_reportDefault = false;
    bool m_reportGiven = false; // the task being edited has a choice of its own
};
