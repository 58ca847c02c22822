// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/settings.h"
#include "core/taskchecker.h"
#include "engine/task.h"
#include "storage/taskdatabase.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <optional>

class DesktopNotifier;
class QAction;
class QKeyEvent;
class QMenu;
class QTableWidgetItem;
class QTimer;
class QUrl;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // False when task.db could not be opened; the program must then end without showing the window.
    bool databaseOk() const { return db.isOpen(); }
    // A check frequency as shown in the property table: 2(Day), 3(Hour), 90(Minute).
    static QString frequencyText(int seconds);
    // The tasks in the order of the task list's rows.
    QList<Task*> taskList() const { return core.tasks(); }
    // The checking core the window hands its work to.
    TaskChecker& checker() { return core; }
    // How often the check timer runs (60 s); long-run tests shorten it.
    void setCheckInterval(int ms);
    // The item data role under which every results-table cell keeps its result's position in the list.
    static constexpr int ResultIndexRole = Qt::UserRole + 1;

signals:
    void stateIconChanged(QTableWidgetItem* item);

public slots:
    void checkTask();
    void showTrayMessage();
    void trayMessageClicked();
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_tableWidget_itemPressed(QTableWidgetItem* item);
    void on_tableWidget_itemClicked(QTableWidgetItem* item);
    void on_tableWidget_itemActivated(QTableWidgetItem* item);
    void on_actionReset_Results_triggered();
    void on_actionUpdate_Tasks_triggered();
    void on_tableWidget_customContextMenuRequested(const QPoint& pos);
    void on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos);
    void on_actionShow_grid_triggered();
    void on_actionHomepage_triggered();
    void on_actionRemove_All_Tasks_triggered();
    void on_actionRemove_All_Results_triggered();
    void on_actionRemove_Result_triggered();
    void on_action_Remove_Task_triggered();
    void on_actionAbout_triggered();
    void on_actionHelp_triggered();
    void on_action_Options_triggered();
    void on_actionQuit_triggered();
    void on_action_New_Task_triggered();
    void changeStateIcon(QTableWidgetItem* item);
    void appendTaskRow(Task* task);
    void showTaskResults();
    void showTaskProperties();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpSharedStroke();
    bool handleSharedStroke(QKeyEvent* event);
    void cancelPendingRemoval();
    void removeTask(Task* task);
    void markCheckState(Task* task);
    bool commandRunning() const;
    void createActions();
    void createTrayIcon();
    void readSettings();
    void writeSettings();
    void readOptions();
    void updateAutoRun(bool autoRun);
    void loadTaskList();
    // False when the program is quitting.
    bool createTask(const QString& name, const QString& address, const QString& grabText, int frequency,
                    const QHash<QString, QString>& options = {});
    // The tooltip of a failing task: how many checks failed in a row, the last reason, the next try.
    QString failureToolTip(const Task* task) const;
    void announceResults(Task* task, const Task::ResultList& results);
    void showStartupFailure(const QString& message);
    void showNoTaskSelected();
    Task* selectedTask() const;
    void reportStorageFailure(const QString& what);
    void showBalloon(const QString& title, const QString& text);
    void fillResultRow(int row, int index, const Task::TaskResult& result, const QIcon& stateIcon);
    static QIcon stateIcon(int state);
    int resultIndexOfRow(int row) const;

    Ui::MainWindow* ui;
    QSystemTrayIcon* trayIcon = nullptr;
    QAction* minimizeAction = nullptr;
    QAction* maximizeAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* updateNowAction = nullptr;
    QMenu* trayIconMenu = nullptr;
    QTimer* checkTimer = nullptr;
    QTimer* strokeTimer = nullptr; // pending first stroke of Ctrl+R / Ctrl+R, Ctrl+R
    QPointer<Task> pendingRemoval; // the task selected when that stroke was pressed
    bool pendingHadTask = false;   // whether a task was selected then
    bool closed = false;           // the window state was written by closing
    int checkIntervalMs = 60000;
    Settings settings;
    TaskDatabase db;
    TaskChecker core{db};
    Task::ResultList latestResults;
    // ---- desktop integration: no tray, links of results, bringing the window back ----
public:
    // Hands a link to the browser; false when no browser took it.
    using LinkOpener = std::function<bool(const QUrl&)>;

    // Whether there is a system tray to minimise into and to show balloons. Unless set, the platform is
    // asked each time, so a tray that appears later is used.
    void setTrayAvailable(bool available) { trayOverride = available; }
    bool trayAvailable() const;
    // Where announcements go when there is no tray (not owned). Unless set, a notifier on the session bus
    // is made at the first announcement.
    void setNotifier(DesktopNotifier* sink) { notifier = sink; }
    // Unless set, links are opened with QDesktopServices::openUrl.
    void setLinkOpener(LinkOpener opener) { linkOpener = std::move(opener); }

public slots:
    // Shows, raises and activates the window, wherever it was: minimised, hidden in the tray, behind others.
    void bringToFront();

private slots:
    void on_tableWidget_itemDoubleClicked(QTableWidgetItem* item);
    void openCurrentLink();
    void copyCurrentLink();

private:
    QString linkOfRow(int row) const;
    void openLinkOfRow(int row);

    std::optional<bool> trayOverride;
    DesktopNotifier* notifier = nullptr;
    LinkOpener linkOpener;
    QAction* openLinkAction = nullptr;
    QAction* copyLinkAction = nullptr;
};
