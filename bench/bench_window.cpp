// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the main window until it is shown, with an empty task.db and with 1,000 tasks and 200,000
// results, and the refill of the results table when a task with 5,000 results is selected.
#include "app/mainwindow.h"
#include "bench/benchdb.h"

#include <QApplication>
#include <QDir>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>

namespace {
// Milliseconds from constructing the window to its first exposure.
double startUp(const QString& folder, int* taskCount)
{
    QDir::setCurrent(folder);
    QElapsedTimer timer;
    timer.start();
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return -1;
    const double ms = timer.nsecsElapsed() / 1e6;
    *taskCount = window.taskList().size();
    window.close();
    return ms;
}
} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    QTemporaryDir emptyDir;
    QTemporaryDir bigDir;

    const int bigTask = 500;
    writeBenchDb(
        QDir(bigDir.path()).filePath(QStringLiteral("task.db")), 1000,
        [bigTask](int t) { return t == bigTask ? 5000 : (t < 39 ? 5000 : 0); },
        [](int t, int r) { return QStringLiteral("http://example.test/t%1/item/%2.html").arg(t).arg(r); },
        [](int t, int r) { return QStringLiteral("Item %1 of task %2, a headline of ordinary length").arg(r).arg(t); },
        [](int t) { return QStringLiteral("http://example.test/t%1/news.html").arg(t); });

    int tasks = 0;
    const double empty = startUp(emptyDir.path(), &tasks);
    std::printf("start-up to shown window, empty task.db:                 %8.1f ms\n", empty);
    const double big = startUp(bigDir.path(), &tasks);
    std::printf("start-up to shown window, %d tasks / 200,000 results:   %8.1f ms (%.1fx the empty start)\n", tasks,
                big, big / empty);

    QDir::setCurrent(bigDir.path());
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("the window was not exposed");
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("treeWidgetTaskList"));
    auto* table = window.findChild<QTableView*>(QStringLiteral("tableWidget"));
    QElapsedTimer timer;
    double worst = 0;
    double total = 0;
    const int rounds = 5;
    for (int i = 0; i < rounds; ++i) {
        Views::select(tree, i % 2 ? bigTask : 1);
        QCoreApplication::processEvents();
        timer.start();
        Views::select(tree, bigTask);
        QCoreApplication::processEvents(); // includes the repaint
        const double ms = timer.nsecsElapsed() / 1e6;
        worst = qMax(worst, ms);
        total += ms;
    }
    std::printf("selecting a task with %d results (table refill + paint): %8.1f ms mean, %.1f ms worst\n",
                table->rowCount(), total / rounds, worst);
    window.close();
    return 0;
}
