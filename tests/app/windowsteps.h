// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/app/appfixture.h"

#include <QAction>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

#include <functional>

// The window as most tests start it: a fresh folder, the rows a test stores in task.db before the start,
// then the program's parts, with the widgets and commands the tests drive.
class TestWindow
{
public:
    using Store = std::function<void(DbFile&)>;
    explicit TestWindow(const Store& store = {}) : stored(write(fixture, store)) {}

    AppFixture fixture;

private:
    const bool stored;

public:
    WindowParts parts;
    MainWindow& window = *parts.window;

    QTreeView* tree() const { return window.findChild<QTreeView*>(QStringLiteral("treeWidgetTaskList")); }
    QTableWidget* info() const { return window.findChild<QTableWidget*>(QStringLiteral("tableWidgetTaskInfo")); }
    QTableView* results() const { return window.findChild<QTableView*>(QStringLiteral("tableWidget")); }
    QAction* action(const char* name) const { return window.findChild<QAction*>(QLatin1String(name)); }
    void trigger(const char* name) const { action(name)->trigger(); }
    QString message() const { return window.statusBar()->currentMessage(); }
    Task* task(int row) const { return window.taskList().value(row); }
    // task.db as another program sees it.
    DbFile db() const { return DbFile(fixture.path(QStringLiteral("task.db"))); }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

private:
    static bool write(const AppFixture& fixture, const Store& store)
    {
        if (store) {
            DbFile file(fixture.path(QStringLiteral("task.db")));
            store(file);
        }
        return true;
    }
};
