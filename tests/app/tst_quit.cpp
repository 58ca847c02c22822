// SPDX-License-Identifier: GPL-3.0-or-later
// Every way out ends the program: the application's own event loop runs as in the program, and each way of
// quitting (the tray's Quit, File > Quit, Ctrl+Q, the close button, the session ending with SIGTERM) must make
// it return 0 with the window state written, from every window state and while a command waits.
#include "app/mainwindow.h"
#include "app/terminationsignals.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/app/appfixture.h"
#include "tests/app/newtaskdialog.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QSettings>
#include <QTest>

#include <csignal>

namespace {
constexpr int GuardMs = 8000;
constexpr int NotEnded = 99;

QAction* actionByText(MainWindow& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Each way out as the user (or the session) takes it.
const QHash<QString, std::function<void(MainWindow&)>> ways = {
    {"tray Quit", [](MainWindow& window) { actionByText(window, "&Quit")->trigger(); }},
    {"File Quit", [](MainWindow& window) { window.findChild<QAction*>("actionQuit")->trigger(); }},
    // To what holds the keyboard: the progress popup while a command waits.
    {"Ctrl+Q",
     [](MainWindow& window) {
         QWidget* popup = QApplication::activePopupWidget();
         QTest::keyClick(popup ? popup->windowHandle() : window.windowHandle(), Qt::Key_Q, Qt::ControlModifier);
     }},
    {"close button", [](MainWindow& window) { window.close(); }},
    {"SIGTERM", [](MainWindow&) { std::raise(SIGTERM); }},
};

// Runs the application's event loop until the program ends (or the guard gives up), with `then` run from it.
int runProgram(const std::function<void()>& then)
{
    QTimer::singleShot(0, then);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(NotEnded); });
    guard.start(GuardMs);
    return QApplication::exec();
}
} // namespace

class TestQuit : public QObject
{
    Q_OBJECT

    TestServer server;

    // Brings the window into the named state the way a user does.
    static void enterState(MainWindow& window, const QString& state)
    {
        window.setTrayAvailable(state == "hidden in the tray");
        if (state == "maximised")
            window.showMaximized();
        else
            window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (state == "minimised" || state == "hidden in the tray") {
            window.setWindowState(Qt::WindowMinimized);
            if (state == "hidden in the tray")
                QTRY_VERIFY(window.isHidden());
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(5000);
        TestServer::Response silent;
        silent.never = true;
        server.setResponse("/silent", silent);
        server.setResponse("/silent/new", silent);
    }

    void everyWayOut_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("during");
        for (const QString state : {"shown", "maximised", "minimised", "hidden in the tray"}) {
            for (const QString way : {"tray Quit", "File Quit", "Ctrl+Q", "close button", "SIGTERM"}) {
                // A hidden window gets no keys and shows no close button.
                if (state == "hidden in the tray" && (way == "Ctrl+Q" || way == "close button"))
                    continue;
                QTest::addRow("%s, %s", qPrintable(state), qPrintable(way)) << state << way << QString();
            }
        }
        QTest::addRow("hidden, tray Quit during update-all") << "hidden in the tray"
                                                             << "tray Quit"
                                                             << "update-all";
        QTest::addRow("hidden, SIGTERM during update-all") << "hidden in the tray"
                                                           << "SIGTERM"
                                                           << "update-all";
        QTest::addRow("hidden, tray Quit during creation") << "hidden in the tray"
                                                           << "tray Quit"
                                                           << "creation";
        QTest::addRow("shown, Ctrl+Q during creation") << "shown"
                                                       << "Ctrl+Q"
                                                       << "creation";
    }
    void everyWayOut()
    {
        QFETCH(QString, state);
        QFETCH(QString, way);
        QFETCH(QString, during);
        AppFixture fixture;
        DbFile(fixture.path("task.db")).addTask(0, "Silent", server.url("/silent").toString(), "qt");
        WindowParts parts;
        MainWindow& window = *parts.window;
        // Wired as the program wires it.
        TerminationSignals termination;
        connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
        enterState(window, state);
        if (QTest::currentTestFailed())
            return;

        bool commandEnded = during.isEmpty();
        const int status = runProgram([&] {
            QTimer::singleShot(200, &window, [&] {
                // A command that waits for a page keeps its window disabled; the window goes to the tray meanwhile.
                if (!during.isEmpty() && state == "hidden in the tray")
                    window.hide();
                // Quit comes while the command waits, or the case would prove nothing.
                QVERIFY(during.isEmpty() || !commandEnded);
                ways.value(way)(window);
            });
            // A command that waits for a page that never answers.
            const QHash<QString, std::function<void()>> commands = {
                {"update-all", [&] { window.findChild<QAction*>("actionUpdate_Tasks")->trigger(); }},
                {"creation", [&] { createThroughDialog(window, "New", server.url("/silent/new").toString()); }}};
            if (!during.isEmpty()) {
                commands.value(during)();
                commandEnded = true;
            }
        });
        QCOMPARE(status, 0);
        QVERIFY(commandEnded);
        QVERIFY(!window.checker().waits().isAborting());
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        QVERIFY(settings.contains("mainwindow/size"));
        QCOMPARE(settings.value("mainwindow/maximized").toBool(), state == "maximised");
    }
};

QTEST_MAIN(TestQuit)
#include "tst_quit.moc"
