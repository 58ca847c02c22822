// SPDX-License-Identifier: GPL-3.0-or-later
// The texts that announce new results name the task and the links found.
#include "core/announcement.h"
#include "core/resultfilter.h"

#include <QtTest>

namespace {
Task::ResultList records(const QStringList& texts)
{
    Task::ResultList out;
    for (const QString& text : texts) {
        auto record = Task::ResultPtr::create();
        record->text = text;
        record->link = QStringLiteral("http://example.test/") + QString::number(out.size());
        out.append(record);
    }
    return out;
}

QStringList numbered(const QString& prefix, int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out << prefix + QString::number(i);
    return out;
}
} // namespace

class TestAnnouncement : public QObject
{
    Q_OBJECT

private slots:
    void periodic_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("expected");
        const QString first = "There are new results now.\n";
        QTest::addRow("one link") << "News" << QStringList{"Rates cut"} << first + "News: \u201cRates cut\u201d";
        QTest::addRow("three links, none left out")
            << "News" << numbered("item ", 3)
            << first + "News: \u201citem 1\u201d, \u201citem 2\u201d, \u201citem 3\u201d";
        QTest::addRow("five links: three named")
            << "News" << numbered("item ", 5)
            << first + "News: \u201citem 1\u201d, \u201citem 2\u201d, \u201citem 3\u201d and 2 more";
        QTest::addRow("entities and white space as shown")
            << "Shop" << QStringList{"Tom &amp; Jerry\n\t&eacute;t&eacute;  &#x263A;"}
            << first + "Shop: \u201cTom & Jerry \u00e9t\u00e9 \u263a\u201d";
        QTest::addRow("long text cut at a word")
            << "Blog"
            << QStringList{"A headline that goes on and on about a matter of little interest to anyone reading it"}
            << first + "Blog: \u201cA headline that goes on and on about a matter of little\u2026\u201d";
        QTest::addRow("markup only: the link stands in")
            << "Blog" << QStringList{"&nbsp;"} << first + "Blog: \u201chttp://example.test/0\u201d";
        QTest::addRow("nothing found: the first sentence alone")
            << "Blog" << QStringList{} << "There are new results now.";
    }
    void periodic()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, texts);
        QFETCH(QString, expected);
        QCOMPARE(Announcement::periodicText(name, records(texts)), expected);
    }

    void updateAll_data()
    {
        // Tasks as "name=count" lines; each task's texts are "<name> 1", "<name> 2", ...
        QTest::addColumn<QStringList>("tasks");
        QTest::addColumn<QString>("expected");
        const QString first = "There are new results for tasks now.";
        QTest::addRow("one task") << QStringList{"News=1"} << first + "\nNews (1 new): \u201cNews 1\u201d";
        QTest::addRow("several tasks, tasks without news left out")
            << QStringList{"News=3", "Quiet=0", "Shop=2"}
            << first + "\nNews (3 new): \u201cNews 1\u201d, \u201cNews 2\u201d and 1 more"
                       "\nShop (2 new): \u201cShop 1\u201d, \u201cShop 2\u201d";
        QTest::addRow("seven tasks: five named")
            << QStringList{"A=1", "B=1", "C=1", "D=1", "E=1", "F=4", "G=1"}
            << first + "\nA (1 new): \u201cA 1\u201d\nB (1 new): \u201cB 1\u201d\nC (1 new): \u201cC 1\u201d"
                       "\nD (1 new): \u201cD 1\u201d\nE (1 new): \u201cE 1\u201d\nand 2 more tasks";
        QTest::addRow("earlier unread news counted apart")
            << QStringList{"News=1", "Shop=1", "earlier=3"}
            << first + "\nNews (1 new): \u201cNews 1\u201d\nShop (1 new): \u201cShop 1\u201d\nand 3 earlier unread";
        QTest::addRow("exactly five tasks: no remainder line")
            << QStringList{"A=1", "B=1", "C=1", "D=1", "E=1"}
            << first + "\nA (1 new): \u201cA 1\u201d\nB (1 new): \u201cB 1\u201d\nC (1 new): \u201cC 1\u201d"
                       "\nD (1 new): \u201cD 1\u201d\nE (1 new): \u201cE 1\u201d";
    }
    void updateAll()
    {
        QFETCH(QStringList, tasks);
        QFETCH(QString, expected);
        QList<TaskNews> news;
        int earlier = 0;
        for (const QString& entry : tasks) {
            const QString name = entry.section('=', 0, 0);
            if (name == "earlier")
                earlier = entry.section('=', 1).toInt();
            else
                news.append(TaskNews{nullptr, name, records(numbered(name + ' ', entry.section('=', 1).toInt()))});
        }
        QCOMPARE(Announcement::updateAllText(news, earlier), expected);
    }

    void longNamesAndTextsStayReadable()
    {
        // Whatever the page holds, no line of the announcement outgrows what a balloon can show.
        const QString huge = QString(5000, 'x');
        const QString text = Announcement::updateAllText({TaskNews{nullptr, huge, records({huge, huge, huge})}});
        for (const QString& line : text.split('\n'))
            QVERIFY2(line.size() <= 4 * Announcement::MaxTextLength, qPrintable(line.left(80)));
        QVERIFY(Announcement::shortText(huge).endsWith(QChar(0x2026)));
        QCOMPARE(Announcement::shortText(huge).size(), Announcement::MaxTextLength);
        // A character outside the basic plane at the cut is kept whole.
        const QString emoji = QString(Announcement::MaxTextLength - 2, 'a') + QString::fromUtf8("\U0001F600\U0001F600");
        const QString cut = Announcement::shortText(emoji);
        QVERIFY(!cut.at(cut.size() - 2).isHighSurrogate());
    }

    void unreadSummary_data()
    {
        // Unread results per task; states other than New count as read.
        QTest::addColumn<QList<int>>("unread");
        QTest::addColumn<QString>("expected");
        QTest::addRow("none") << QList<int>{0, 0} << "Vantrel Monitor: no unread results";
        QTest::addRow("no tasks") << QList<int>{} << "Vantrel Monitor: no unread results";
        QTest::addRow("one") << QList<int>{0, 1} << "Vantrel Monitor: 1 unread result in 1 task";
        QTest::addRow("several in one task") << QList<int>{4, 0} << "Vantrel Monitor: 4 unread results in 1 task";
        QTest::addRow("in three tasks") << QList<int>{2, 0, 1, 3} << "Vantrel Monitor: 6 unread results in 3 tasks";
    }
    void unreadSummary()
    {
        QFETCH(QList<int>, unread);
        QFETCH(QString, expected);
        QList<Task*> tasks;
        for (int count : unread) {
            auto* task = new Task(int(tasks.size()), {"t", "http://a.test/", "k", 60, {}});
            Task::ResultList results = records(QStringList(count, "k"));
            auto read = Task::ResultPtr::create();
            read->state = StateRead;
            results.append(read);
            task->setResults(results);
            tasks.append(task);
        }
        QCOMPARE(Announcement::unreadSummary(tasks), expected);
        qDeleteAll(tasks);
    }

    void searchFilter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("shown");
        QTest::addRow("nothing typed") << "  "
                                       << "Rates"
                                       << "http://a.test/1" << true;
        QTest::addRow("word in the text, other capitals") << "rATES"
                                                          << "Rates cut"
                                                          << "http://a.test/1" << true;
        QTest::addRow("word in the link") << "a.test/1"
                                          << "Rates"
                                          << "http://a.test/1" << true;
        QTest::addRow("every word, text and link") << "cut  test"
                                                   << "Rates cut"
                                                   << "http://a.test/1" << true;
        QTest::addRow("one word missing") << "rates bonds"
                                          << "Rates cut"
                                          << "http://a.test/1" << false;
        QTest::addRow("as shown: entity decoded") << "tom & jerry"
                                                  << "Tom &amp; Jerry"
                                                  << "http://a.test/" << true;
        QTest::addRow("not the raw entity") << "amp;"
                                            << "Tom &amp; Jerry"
                                            << "http://a.test/" << false;
        QTest::addRow("accented") << "ÉTÉ"
                                  << "&eacute;t&eacute;"
                                  << "http://a.test/" << true;
    }
    void searchFilter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(QString, link);
        QFETCH(bool, shown);
        TaskResult result;
        result.text = text;
        result.link = link;
        QCOMPARE(ResultFilter(typed).matches(result), shown);
    }
};

QTEST_GUILESS_MAIN(TestAnnouncement)
#include "tst_announcement.moc"
