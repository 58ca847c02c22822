// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "engine/taskthread.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel-monitor.png")));

    // One program per task.db: two would each check and write the same file with their own view of it.
    SingleInstance guard(QStringLiteral("task.db"));
    switch (guard.start()) {
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::NoAnswer: {
        const QString message =
            QApplication::translate("main", "Vantrel Monitor is already running on %1, but it does not answer.\n"
                                            "Close it (or end it), then start the program again.")
                .arg(QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("task.db"))));
        std::fprintf(stderr, "%s\n", qPrintable(message));
        QMessageBox::critical(nullptr, QApplication::translate("main", "Vantrel Monitor"), message);
        return 2;
    }
    case SingleInstance::Outcome::Primary:
        break;
    }

    int status = 1;
    {
        MainWindow window;
        // task.db could not be opened: the message has been shown, end before the window appears.
        if (!window.databaseOk())
            return 1;
        QObject::connect(&guard, &SingleInstance::activationRequested, &window, &MainWindow::bringToFront);
        // The session ending (or a kill) closes the window as Quit does, so its state is written.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
        window.show();
        status = QApplication::exec();
    }
    // Background checks still downloading are aborted so that no worker thread outlives the program.
    TaskThread::shutdownAll();
    return status;
}
