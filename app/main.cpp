// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/datafolder.h"
#include "app/logging.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "core/monitorparts.h"
#include "core/settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel-monitor.png")));

    // A start from the desktop menu keeps its task.db in the user's data folder (see DataFolder::of).
    const QString folder = DataFolder::of(QDir::currentPath(), QDir::homePath(), qEnvironmentVariable("XDG_DATA_HOME"));
    if (folder != QDir::currentPath() && !(QDir().mkpath(folder) && QDir::setCurrent(folder)))
        std::fprintf(stderr, "%s\n",
                     qPrintable(QApplication::translate("main", "The folder %1 cannot be used; task.db is kept in %2.")
                                    .arg(folder, QDir::currentPath())));

    // One program per task.db: two would each check and write the same file with their own view of it.
    SingleInstance guard(QStringLiteral("task.db"));
    const QString databaseName = QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("task.db")));
    // A running program that is still loading its tasks is waited for; after a few seconds a message says
    // so, and closing it ends the wait.
    std::unique_ptr<QMessageBox> startingBox;
    QObject::connect(&guard, &SingleInstance::stillStarting, &guard, [&] {
        const QString message = QApplication::translate("main", "Vantrel Monitor is still starting on %1.\n"
                                                                "Its window comes to the front as soon as it is ready.")
                                    .arg(databaseName);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        startingBox = std::make_unique<QMessageBox>(
            QMessageBox::Information, QApplication::translate("main", "Vantrel Monitor"), message, QMessageBox::Cancel);
        startingBox->button(QMessageBox::Cancel)->setText(QApplication::translate("main", "Stop Waiting"));
        QObject::connect(startingBox.get(), &QDialog::finished, &guard, &SingleInstance::cancel);
        startingBox->show();
    });
    const SingleInstance::Outcome outcome = guard.start();
    if (startingBox) {
        startingBox->disconnect(&guard);
        startingBox.reset();
    }
    switch (outcome) {
    case SingleInstance::Outcome::HandedOver:
    case SingleInstance::Outcome::Cancelled:
        return 0;
    case SingleInstance::Outcome::NoAnswer: {
        const QString message =
            QApplication::translate("main", "Vantrel Monitor is already running on %1, but it does not answer.\n"
                                            "Close it (or end it), then start the program again.")
                .arg(databaseName);
        std::fprintf(stderr, "%s\n", qPrintable(message));
        QMessageBox::critical(nullptr, QApplication::translate("main", "Vantrel Monitor"), message);
        return 2;
    }
    case SingleInstance::Outcome::NoLock: {
        // Two programs on one task.db would each check and write it with their own view of it: the user decides.
        const QString message =
            QApplication::translate("main", "No lock can be made for %1, so a second start on it would not be "
                                            "noticed and both would change the file.\n\n%2\n\nStart anyway?")
                .arg(databaseName, guard.lockProblem());
        std::fprintf(stderr, "%s\n", qPrintable(message));
        QMessageBox box(QMessageBox::Warning, QApplication::translate("main", "Vantrel Monitor"), message,
                        QMessageBox::Yes | QMessageBox::No);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return 2;
        break;
    }
    case SingleInstance::Outcome::Primary:
        break;
    }

    // The parts of the program, each handed to the next: task.db, the settings, the checking core with the
    // stored tasks, the window.
    // What can wait (the indexes over the results, the old results' deletion, the counts) is done beside the
    // window once it shows, so a large task.db opens as fast as an empty one.
    // Each step of the start before the window shows is logged with its time (vantrel.app.debug).
    QElapsedTimer step;
    step.start();
    MonitorParts parts(QStringLiteral("task.db"), WatchList::IndexBuild::Deferred);
    qCDebug(lcApp) << "task.db opened in" << step.restart() << "ms";
    if (!parts.watches.isOpen()) {
        // Without a database there is nothing to show: end before the window appears.
        MainWindow::showDatabaseFailure(parts.watches.fileName(), parts.watches.openFailure());
        return 1;
    }
    Settings settings;
    TaskChecker& core = parts.core;
    // The tasks too are read beside the window: on 100,000 of them that takes seconds.
    parts.startBeside(settings.options());
    MainWindow window(core, settings);
    qCDebug(lcApp) << "window made in" << step.restart() << "ms";
    QObject::connect(&parts.deferred, &DeferredStart::tasksTaken, &window, [&window, &parts] {
        window.showPreparing(parts.deferred.buildingIndexes());
        window.showStartTask();
        if (!parts.watches.loadRefusal().isEmpty())
            window.showMessage(parts.watches.loadRefusal());
    });
    QObject::connect(&parts.deferred, &DeferredStart::indexBuildStarted, &window,
                     [&window] { window.showPreparing(true); });
    QObject::connect(&parts.deferred, &DeferredStart::finished, &window,
                     [&window](const QString& indexFailure, const QString& removeFailure, const QString& countFailure) {
                         window.showPrepared(indexFailure, countFailure);
                         if (!removeFailure.isEmpty())
                             window.showOldResultsKept(removeFailure);
                     });
    // Begun from the event loop, once the window is on the screen.
    QTimer::singleShot(0, &window, [&] {
        parts.finishStart(settings.options());
        window.showReadingTasks();
    });
    QObject::connect(&guard, &SingleInstance::activationRequested, &window, &MainWindow::bringToFront);
    // The session ending (or a kill) closes the window as Quit does, so its state is written.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
    window.show();
    qCDebug(lcApp) << "window shown in" << step.restart() << "ms";
    // The due tasks are checked every minute from now on.
    core.periodic().startSchedule();
    return QApplication::exec();
}
