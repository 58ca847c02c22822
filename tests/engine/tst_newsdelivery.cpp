// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/news/newsdelivery.h"

#include "tests/support/testserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

class TestNewsDelivery : public QObject
{
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_dir;

    static NewsMessage message()
    {
        return {"{\"event_id\":\"e1\"}",
                QStringLiteral("Vantrel Monitor: Jobs \u2013 new"),
                QStringLiteral("Jobs: \"Engineer\"\nhttp://a/1"),
                {{QStringLiteral("VANTREL_TASK_NAME"), QStringLiteral("Jobs")}}};
    }
    // Delivers and waits for the outcome (the limits are small, so every case ends within seconds).
    static NewsDelivery::Outcome deliver(NewsDelivery& delivery, const NewsDestination& destination)
    {
        std::optional<NewsDelivery::Outcome> outcome;
        delivery.deliver(destination, message(), [&outcome](const NewsDelivery::Outcome& o) { outcome = o; });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 10000); }();
        return outcome.value_or(NewsDelivery::Outcome{false, QStringLiteral("no outcome"), {}});
    }
    static void setLimits(NewsDelivery& delivery)
    {
        delivery.setCommandTimeout(1000);
        delivery.setPostTimeout(1000);
        delivery.setOutputLimit(64);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen(QHostAddress::Any));
        m_server.setStatus("/ok", 204);
        m_server.setStatus("/missing", 404);
        m_server.setStatus("/down", 503);
        TestServer::Response never;
        never.never = true;
        m_server.setResponse("/never", never);
        m_server.setRedirect("/moved", m_server.url("/ok").toEncoded(), 307);
        m_server.setRedirect("/found", m_server.url("/ok").toEncoded(), 302);
        m_server.setRedirect("/away", "http://127.0.0.2:" + QByteArray::number(m_server.port()) + "/ok", 307);
    }

    void splitWords_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words"); // empty: refused
        QTest::newRow("blanks") << " a  b\tc " << QStringList{"a", "b", "c"};
        QTest::newRow("single quotes keep all") << "a 'b \"c\" \\d'" << QStringList{"a", "b \"c\" \\d"};
        QTest::newRow("double quotes, escapes") << "\"x \\\"y\\\" \\$z \\q\" w" << QStringList{"x \"y\" $z \\q", "w"};
        QTest::newRow("backslash outside quotes") << "a\\ b c\\\\" << QStringList{"a b", "c\\"};
        QTest::newRow("joined parts, nothing expanded") << "a'b'\"c\" $HOME *" << QStringList{"abc", "$HOME", "*"};
        QTest::newRow("empty quotes make a word") << "a '' b" << QStringList{"a", "", "b"};
        QTest::newRow("unterminated") << "a 'b" << QStringList{};
        QTest::newRow("blank") << "  " << QStringList{};
    }
    void splitWords()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QString error;
        QCOMPARE(NewsDelivery::splitWords(line, &error), words);
        QCOMPARE(error.isEmpty(), !words.isEmpty());
    }

    // Every way a delivery ends, with small limits. %U is the receiver, %D a folder of the test's own.
    void deliveries_data()
    {
        QTest::addColumn<bool>("post");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("reason"); // a part of it
        QTest::addColumn<QString>("output"); // what the kept output ends with
        QTest::newRow("post 2xx") << true << "%U/ok" << false << true << ""
                                  << "";
        QTest::newRow("post plain text") << true << "%U/ok" << true << true << ""
                                         << "";
        QTest::newRow("post 4xx") << true << "%U/missing" << false << false << "404"
                                  << "";
        QTest::newRow("post 5xx") << true << "%U/down" << false << false << "503"
                                  << "";
        QTest::newRow("post time-out") << true << "%U/never" << false << false << "no answer within 1 s"
                                       << "";
        QTest::newRow("post refused") << true << "http://127.0.0.1:1/ok" << false << false << "refused"
                                      << "";
        QTest::newRow("redirect within the site") << true << "%U/moved" << false << true << ""
                                                  << "";
        QTest::newRow("redirect that turns the post into a GET") << true << "%U/found" << false << false << "302"
                                                                 << "";
        QTest::newRow("redirect to another site") << true << "%U/away" << false << false << "another site"
                                                  << "";
        QTest::newRow("not a web address") << true << "ftp://x/" << false << false << "http://"
                                           << "";
        QTest::newRow("command gets the JSON and the variables")
            << false
            << "sh -c 'read -r l; test \"$l\" = \"{\\\"event_id\\\":\\\"e1\\\"}\" && test \"$VANTREL_TASK_NAME\" = "
               "Jobs'"
            << false << true << ""
            << "";
        QTest::newRow("command fails") << false << "sh -c 'echo oops; exit 3'" << false << false << "exit status 3"
                                       << "oops\n";
        QTest::newRow("command floods its output")
            << false << "sh -c 'yes flood | head -c 1000000; echo END; exit 1'" << false << false << "exit status 1"
            << "flood\nfloo"
               "END\n";
        QTest::newRow("hanging command ended with its group")
            << false << "sh -c 'sleep 60 & echo $! > %D/child; wait'" << false << false << "did not finish within 1 s"
            << "";
        QTest::newRow("command not found")
            << false << "/nonexistent/program" << false << false << "could not be started"
            << "";
        QTest::newRow("unclosed quote") << false << "sh -c 'x" << false << false << "not closed"
                                        << "";
    }
    void deliveries()
    {
        QFETCH(bool, post);
        QFETCH(QString, target);
        QFETCH(bool, plain);
        QFETCH(bool, delivered);
        QFETCH(QString, reason);
        QFETCH(QString, output);
        NewsDelivery delivery;
        setLimits(delivery);
        NewsDestination destination;
        destination.kind = post ? NewsDestination::Kind::Post : NewsDestination::Kind::Command;
        destination.target = QString(target).replace("%U", m_server.url("").toString()).replace("%D", m_dir.path());
        destination.plainText = plain;
        destination.headers = "X-Token: secret";
        const NewsDelivery::Outcome outcome = deliver(delivery, destination);
        QVERIFY2(outcome.delivered == delivered, qPrintable(outcome.reason));
        QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
        QVERIFY2((output.isEmpty() || outcome.output.endsWith(output)) && outcome.output.size() <= 64,
                 qPrintable(outcome.output));
        if (post && delivered) {
            QCOMPARE(m_server.lastHeader("/ok", "x-token"), "secret");
            QCOMPARE(m_server.lastHeader("/ok", "cookie"), "");
            QCOMPARE(m_server.lastHeader("/ok", "content-type"),
                     plain ? "text/plain; charset=utf-8" : "application/json");
            QCOMPARE(m_server.lastBody("/ok"), plain ? message().text.toUtf8() : message().json);
            if (plain)
                QCOMPARE(m_server.lastHeader("/ok", "title"), "Vantrel Monitor: Jobs ? new");
        }
        QFile child(m_dir.filePath("child"));
        if (child.open(QIODevice::ReadOnly)) {
            const QByteArray pid = child.readAll().trimmed();
            child.remove();
            QFile stat("/proc/" + pid + "/stat");
            // Gone, or a zombie no one has reaped yet: never still running.
            QTRY_VERIFY(!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z "));
        }
    }

    // The commands past the limit wait for a free place and then run.
    void commandsRunFewAtOnce()
    {
        NewsDelivery delivery;
        setLimits(delivery);
        delivery.setMaxCommands(2);
        int done = 0;
        for (int i = 0; i < 3; ++i)
            delivery.deliver({NewsDestination::Kind::Command, "sleep 0.2", {}, false}, message(),
                             [&done](const NewsDelivery::Outcome& o) { done += o.delivered ? 1 : 100; });
        QCOMPARE(delivery.running(), 2);
        QTRY_COMPARE(done, 3);
        QCOMPARE(delivery.running(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNewsDelivery)
#include "tst_newsdelivery.moc"
