// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the main window until it is shown, with an empty task.db and with 1,000 tasks and 200,000
// results, each in a process of its own, with its resident memory then: the program's (tasks and unread counts;
// a task's results read when it is shown) beside every result read at start-up, as the program once did. Then the
// refill of the results table when a task with 5,000 results is selected, and marking a result read and selecting all
// its rows there; Mark All Read on 2,000 and 20,000 unread results, against change notices sent row by row as the
// results table once took them.
#include "app/mainwindow.h"
#include "bench/benchdb.h"
#include "core/monitorparts.h"
#include "core/settings.h"
#include "storage/taskdatabase.h"
#include "tests/support/procstatus.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <cstdio>
#include <ctime>

namespace {
// The program's parts as its start builds them, in the current folder.
struct Program
{
    MonitorParts parts;
    Settings settings;
    TaskChecker& core = parts.core;
    const bool started = parts.start(Options{});
    MainWindow window{core, settings};
};

// Milliseconds from opening task.db in the folder to the window's first exposure, and the resident memory then.
// readAll: every task's results are read before the window is built.
int startUp(const QString& folder, bool readAll)
{
    QDir::setCurrent(folder);
    QElapsedTimer timer;
    timer.start();
    Program program;
    if (readAll) {
        for (const Task* task : program.core.watches().tasks())
            task->loadResults();
    }
    MainWindow& window = program.window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("%.1f %lld %lld\n", ms, static_cast<long long>(ProcStatus::residentKb()),
                static_cast<long long>(window.taskList().size()));
    return 0;
}

struct StartUp
{
    double ms = 0;
    double mb = 0;
    int tasks = 0;
};

StartUp startUpChild(const QString& folder, bool readAll)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--start-up"), folder, readAll ? QStringLiteral("all") : QStringLiteral("needed")});
    child.waitForFinished(120000);
    const QStringList out = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    return {out.value(0).toDouble(), out.value(1).toDouble() / 1024, out.value(2).toInt()};
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Cost
{
    double wallMs = 0;
    double cpuMs = 0;
};

// Mark All Read on the shown task with the given number of unread results, until the window has repainted.
// rowByRow: every changed row is also announced to the results table on its own, as the table once did.
Cost markAllRead(int results, bool rowByRow)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("task.db"));
    writeBenchDb(
        path, 2, [results](int t) { return t == 0 ? results : 1; },
        [](int t, int r) { return QStringLiteral("http://example.test/t%1/item/%2.html").arg(t).arg(r); },
        [](int t, int r) { return QStringLiteral("Item %1 of task %2, a headline of ordinary length").arg(r).arg(t); },
        [](int t) { return QStringLiteral("http://example.test/t%1/news.html").arg(t); });
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-unread"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("UPDATE results SET result_state = 0"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-unread"));

    QDir::setCurrent(dir.path());
    Cost cost;
    {
        Program program;
        MainWindow& window = program.window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("the window was not exposed");
        auto* table = window.findChild<QTableView*>(QStringLiteral("tableWidget"));
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(table->model());
        QAbstractItemModel* model = proxy ? proxy->sourceModel() : table->model();
        if (rowByRow) {
            QObject::connect(&program.core.watches(), &WatchList::resultStatesChanged, model,
                             [model](Task*, const QList<int>& rows) {
                                 for (int row : rows)
                                     emit model->dataChanged(model->index(row, 1), model->index(row, 1),
                                                             {Qt::DecorationRole});
                             });
        }
        QCoreApplication::processEvents();
        QAction* action = window.findChild<QAction*>(QStringLiteral("actionMark_All_Read"));
        QElapsedTimer timer;
        const double cpu = threadCpuMs();
        timer.start();
        action->trigger();
        QCoreApplication::processEvents(); // includes the repaint
        cost.wallMs = timer.nsecsElapsed() / 1e6;
        cost.cpuMs = threadCpuMs() - cpu;
        if (program.core.watches().tasks().value(0) && program.core.watches().tasks().at(0)->unreadCount() != 0)
            qWarning("Mark All Read left results unread");
        window.close();
    }
    QDir::setCurrent(QDir::tempPath());
    return cost;
}
} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == QLatin1String("--start-up"))
        return startUp(args.value(2), args.value(3) == QLatin1String("all"));
    QTemporaryDir emptyDir;
    QTemporaryDir bigDir;

    const int bigTask = 500;
    writeBenchDb(
        QDir(bigDir.path()).filePath(QStringLiteral("task.db")), 1000,
        [bigTask](int t) { return t == bigTask ? 5000 : (t < 39 ? 5000 : 0); },
        [](int t, int r) { return QStringLiteral("http://example.test/t%1/item/%2.html").arg(t).arg(r); },
        [](int t, int r) { return QStringLiteral("Item %1 of task %2, a headline of ordinary length").arg(r).arg(t); },
        [](int t) { return QStringLiteral("http://example.test/t%1/news.html").arg(t); });

    const StartUp empty = startUpChild(emptyDir.path(), false);
    std::printf("start-up to shown window, empty task.db:                 %8.1f ms   %6.1f MB resident\n", empty.ms,
                empty.mb);
    // The file is written as a copy of the program that knows only its two tables leaves it: the first start
    // builds the indexes (once).
    const StartUp first = startUpChild(bigDir.path(), false);
    std::printf("first start on 1,000 tasks / 200,000 results, as an older copy left them (indexes built): %8.1f ms   "
                "%6.1f MB resident\n",
                first.ms, first.mb);
    for (int round = 0; round < 3; ++round) {
        const StartUp needed = startUpChild(bigDir.path(), false);
        const StartUp all = startUpChild(bigDir.path(), true);
        std::printf("start-up to shown window, %d tasks / 200,000 results:   %8.1f ms   %6.1f MB resident (%.1fx the "
                    "empty start)\n",
                    needed.tasks, needed.ms, needed.mb, needed.ms / empty.ms);
        std::printf("  every result read at start-up:                        %8.1f ms   %6.1f MB resident (%.2fx the "
                    "time, %.2fx the memory)\n",
                    all.ms, all.mb, all.ms / needed.ms, all.mb / needed.mb);
    }

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

    // Row by row, 20,000 results take minutes: that comparison runs only when asked for (--full).
    const bool full = QCoreApplication::arguments().contains(QStringLiteral("--full"));
    for (int results : {2000, 20000}) {
        const Cost once = markAllRead(results, false);
        if (results > 2000 && !full) {
            std::printf("Mark All Read, %5d unread results (store + paint):     %8.1f ms (%.1f ms CPU of the window's "
                        "thread)\n",
                        results, once.wallMs, once.cpuMs);
            continue;
        }
        const Cost rowByRow = markAllRead(results, true);
        std::printf(
            "Mark All Read, %5d unread results (store + paint):     %8.1f ms (%.1f ms CPU of the window's thread)\n",
            results, once.wallMs, once.cpuMs);
        std::printf("  the same with row-by-row change notices:             %8.1f ms (%.1f ms CPU), %.1fx\n",
                    rowByRow.wallMs, rowByRow.cpuMs, rowByRow.wallMs / qMax(0.001, once.wallMs));
    }
    return 0;
}
