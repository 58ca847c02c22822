// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "engine/taskthread.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel-monitor.png")));
    int status = 1;
    {
        MainWindow window;
        // task.db could not be opened: the message has been shown, end before the window appears.
        if (!window.databaseOk())
            return 1;
        window.show();
        status = QApplication::exec();
    }
    // Background checks still downloading are aborted so that no worker thread outlives the program.
    TaskThread::shutdownAll();
    return status;
}
