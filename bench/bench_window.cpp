// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the main window until it is shown, with an empty task.db and with 1,000 tasks and 200,000
// results, the refill of the results table when a task with 5,000 results is selected, and marking a result
// read and selecting all its rows there.
#include "app/mainwindow.h"
#include "bench/benchdb.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"

#include <QApplication>
#include <QDir>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>

namespace {
// The program's parts as its start builds them, in the current folder.
struct Program
{
    TaskDatabase db;
    Settings settings;
    TaskChecker core{db};
    const bool started = core.start(false, 0, false);
    MainWindow window{core, settings};
};

// Milliseconds from opening task.db to the window's first exposure.
double startUp(const QString& folder, int* taskCount)
{
    QDir::setCurrent(folder);
    QElapsedTimer timer;
    timer.start();
    Program program;
    MainWindow& window = program.window;
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
    Program program;
    MainWindow& window = program.window;
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
        tree->setCurrentIndex(tree->model()->index(i % 2 ? bigTask : 1, 0));
        QCoreApplication::processEvents();
        timer.start();
        tree->setCurrentIndex(tree->model()->index(bigTask, 0));
        QCoreApplication::processEvents(); // includes the repaint
        const double ms = timer.nsecsElapsed() / 1e6;
        worst = qMax(worst, ms);
        total += ms;
    }
    const int rows = table->model()->rowCount();
    std::printf("selecting a task with %d results (table refill + paint): %8.1f ms mean, %.1f ms worst\n", rows,
                total / rounds, worst);

    // A click on a result marks it read (stored in task.db) and repaints its row.
    worst = 0;
    total = 0;
    for (int i = 0; i < rounds; ++i) {
        const QRect cell = table->visualRect(table->model()->index(i, 2));
        timer.start();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCoreApplication::processEvents();
        const double ms = timer.nsecsElapsed() / 1e6;
        worst = qMax(worst, ms);
        total += ms;
    }
    std::printf("marking a result read by a click (store + paint):        %8.1f ms mean, %.1f ms worst\n",
                total / rounds, worst);
    timer.start();
    table->selectAll();
    QCoreApplication::processEvents();
    std::printf("selecting all %d rows (Ctrl+A + paint):                %8.1f ms\n", rows, timer.nsecsElapsed() / 1e6);
    window.close();
    return 0;
}
