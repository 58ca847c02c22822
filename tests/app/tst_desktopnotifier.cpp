// SPDX-License-Identifier: GPL-3.0-or-later
// Announcements through the desktop's notification service: the window's without a tray, one message per
// kind, kept until closed, and a click on it reported back; a periodic run's news in one message that keeps
// naming what is unseen.
#include "app/desktopnotifier.h"
#include "tests/app/windowsteps.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// Stands in for the desktop's notification service on a private bus.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString app;
        QString summary;
        uint replacesId;
        QString body;
        QStringList actions;
        int expire;
    };
    QList<Call> calls;
    uint nextId = 40;
    QStringList bodies() const
    {
        QStringList all;
        for (const Call& call : calls)
            all << call.body;
        return all;
    }

public slots:
    uint Notify(const QString& app, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int expire)
    {
        calls.append(Call{app, summary, replacesId, body, actions, expire});
        return replacesId ? replacesId : ++nextId;
    }
};

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

    QProcess daemon;
    QString address;

    void emitSignal(const QString& name, const QVariantList& arguments)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
        signal.setArguments(arguments);
        QVERIFY(QDBusConnection(QStringLiteral("fake-notifications")).send(signal));
    }

private slots:
    void initTestCase()
    {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY2(daemon.waitForStarted(5000), "dbus-daemon (package dbus) is needed");
        QVERIFY(daemon.waitForReadyRead(5000));
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    // The fake service registered on the private bus; unregistered by disconnect().
    static bool serve(FakeNotifications* service, const QString& address)
    {
        QDBusConnection serviceBus = QDBusConnection::connectToBus(address, "fake-notifications");
        return serviceBus.registerObject("/org/freedesktop/Notifications", service, QDBusConnection::ExportAllSlots) &&
               serviceBus.registerService("org.freedesktop.Notifications");
    }

    void cleanupTestCase()
    {
        daemon.kill();
        daemon.waitForFinished();
    }

    // Without a tray the window's announcements reach the service; with one, the balloon is used instead.
    void windowAnnouncesThroughTheServiceWithoutATray()
    {
        TestServer server;
        QVERIFY(server.listen());
        server.setPage("/quiet", "<a href=\"/x\">nothing</a>");
        FakeNotifications service;
        QVERIFY(serve(&service, address));
        TestWindow test([&](DbFile& file) { file.addTask(0, "T", server.url("/quiet").toString(), "qt"); });
        DesktopNotifier notifier(QDBusConnection::connectToBus(address, "program-side"));
        test.window.setNotifier(&notifier);
        test.window.setTrayAvailable(false);
        test.trigger("actionUpdate_Tasks");
        QTRY_COMPARE(service.calls.size(), 1);
        const FakeNotifications::Call& call = service.calls.at(0);
        QCOMPARE((QStringList{call.app, call.summary, call.body}),
                 (QStringList{"Vantrel Monitor", "No New Results", "There are not new results now."}));
        QTRY_COMPARE(notifier.pendingCalls(), 0);

        test.window.setTrayAvailable(true);
        test.trigger("actionUpdate_Tasks");
        QCOMPARE(notifier.pendingCalls(), 0);
        QCOMPARE(service.calls.size(), 1);
        QDBusConnection::disconnectFromBus("fake-notifications");
        QDBusConnection::disconnectFromBus("program-side");
    }

    void messagesOfAKindReplaceEachOtherAndReportClicks()
    {
        FakeNotifications service;
        QVERIFY(serve(&service, address));
        DesktopNotifier notifier(QDBusConnection::connectToBus(address, "program-side"));
        QSignalSpy activated(&notifier, &DesktopNotifier::activated);

        notifier.announce("periodic", "New Results",
                          "There are new results now.\nNews: \u201cTom & <b>Jerry</b>\u201d");
        QTRY_COMPARE(notifier.pendingCalls(), 0);
        notifier.announce("update-all", "New Results", "There are new results for tasks now.");
        QTRY_COMPARE(notifier.pendingCalls(), 0);
        notifier.announce("periodic", "New Results", "There are new results now.");
        QTRY_COMPARE(notifier.pendingCalls(), 0);
        QCOMPARE(service.calls.size(), 3);
        // The second periodic message takes the place of the first; update-all's is a message of its own.
        QCOMPARE(service.calls.at(0).replacesId, 0u);
        QCOMPARE(service.calls.at(1).replacesId, 0u);
        QCOMPARE(service.calls.at(2).replacesId, 41u);
        for (const FakeNotifications::Call& call : std::as_const(service.calls)) {
            QCOMPARE(call.expire, 0);
            QCOMPARE(call.actions.value(0), QString("default"));
        }
        // The body may be read as markup; a link's text shows as it was.
        QCOMPARE(service.calls.at(0).body,
                 QString("There are new results now.\nNews: \u201cTom &amp; &lt;b&gt;Jerry&lt;/b&gt;\u201d"));

        // Clicks: on ours (by kind), another action, another program's message.
        emitSignal("ActionInvoked", {42u, QString("default")});
        emitSignal("ActionInvoked", {41u, QString("other")});
        emitSignal("ActionInvoked", {7u, QString("default")});
        emitSignal("ActionInvoked", {41u, QString("default")});
        QTRY_COMPARE(activated.size(), 2);
        QTest::qWait(50);
        QCOMPARE(activated.size(), 2);
        QCOMPARE(activated.at(0).at(0).toString(), QString("update-all"));
        QCOMPARE(activated.at(1).at(0).toString(), QString("periodic"));

        // A message the user closed is not replaced: the next of its kind is a new one.
        emitSignal("NotificationClosed", {41u, 2u});
        QTest::qWait(100);
        notifier.announce("periodic", "New Results", "again");
        QTRY_COMPARE(notifier.pendingCalls(), 0);
        QCOMPARE(service.calls.last().replacesId, 0u);

        QDBusConnection::disconnectFromBus("fake-notifications");
        QDBusConnection::disconnectFromBus("program-side");
    }

    // Three tasks get news in one periodic run: one message names them all; a later run's message takes its
    // place and still names the unread news of the first, until the user closes the message.
    void aRunIsAnnouncedOnce()
    {
        TestServer server;
        QVERIFY(server.listen());
        FakeNotifications service;
        QVERIFY(serve(&service, address));
        AppFixture fixture;
        const QString past = QDateTime::currentDateTime().addSecs(-7200).toString(Qt::ISODate);
        {
            DbFile file(fixture.path("task.db"));
            int id = 0;
            for (const char* name : {"Jobs", "News", "Quiet", "Blog"}) {
                const QString path = QStringLiteral("/%1").arg(name);
                file.addTask(id, name, server.url(path).toString(), "qt", 600, past);
                file.addResult(id++, "01/01/2009", "qt old", server.url("/item").toString());
                server.setPage(path, QStringLiteral("<a href=\"/item\">qt %1 today</a>").arg(name).toUtf8());
            }
            server.setPage("/Quiet", "<a href=\"/item\">qt old</a>");
        }
        WindowParts parts;
        MainWindow& window = *parts.window;
        window.setTrayAvailable(false);
        DesktopNotifier notifier(QDBusConnection::connectToBus(address, "program-side"));
        window.setNotifier(&notifier);
        auto settle = [&] {
            QTRY_COMPARE(window.checker().fetcher().running() + window.checker().fetcher().queued(), 0);
            QTRY_COMPARE(notifier.pendingCalls(), 0);
            QTest::qWait(50);
        };

        window.checker().periodic().checkDueTasks();
        settle();
        QCOMPARE(service.bodies(), QStringList{"There are new results for tasks now.\n"
                                               "Jobs (1 new): \u201cqt Jobs today\u201d\n"
                                               "News (1 new): \u201cqt News today\u201d\n"
                                               "Blog (1 new): \u201cqt Blog today\u201d"});
        QCOMPARE(service.calls.at(0).expire, 0);

        // Jobs' news are read; the next run finds news for Quiet: the message replaces the first, calls new only
        // Quiet's and counts those of News and Blog, still unread, apart.
        QVERIFY(window.checker().watches().markAllRead(window.taskList().at(0)));
        server.setPage("/Quiet", "<a href=\"/item\">qt Quiet later</a>");
        for (Task* task : window.taskList())
            task->setLastUpdate(past);
        window.checker().periodic().checkDueTasks();
        settle();
        QCOMPARE(service.calls.size(), 2);
        QCOMPARE(service.calls.at(1).replacesId, 41u);
        QCOMPARE(service.calls.at(1).body,
                 QString("There are new results now.\nQuiet: \u201cqt Quiet later\u201d\nand 2 earlier unread"));

        // Closed by the user: the next run names only its own news, with the text of one task.
        emitSignal("NotificationClosed", {41u, 2u});
        QTest::qWait(100);
        server.setPage("/Blog", "<a href=\"/item\">qt Blog again</a>");
        for (Task* task : window.taskList())
            task->setLastUpdate(past);
        window.checker().periodic().checkDueTasks();
        settle();
        QCOMPARE(service.calls.size(), 3);
        QCOMPARE(service.calls.at(2).replacesId, 0u);
        QCOMPARE(service.calls.at(2).body, QString("There are new results now.\nBlog: \u201cqt Blog again\u201d"));
        window.close();
        QDBusConnection::disconnectFromBus("fake-notifications");
        QDBusConnection::disconnectFromBus("program-side");
    }
};

QTEST_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
