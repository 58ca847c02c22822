// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialoghelp.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

class TestDialogHelp : public QObject
{
    Q_OBJECT

private slots:
    void guideSection_data()
    {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("guide");

        QTest::addRow("last section, subsections kept") << "# T\n## Build\nb\n## User guide\n### A\na\n### B\nb\n"
                                                        << "## User guide\n### A\na\n### B\nb\n";
        QTest::addRow("ends at the next section") << "## User guide\ng\n## Licence\nl\n"
                                                  << "## User guide\ng\n";
        QTest::addRow("heading text must match") << "## User guides\nx\n### User guide\ny\n"
                                                 << "";
        QTest::addRow("no guide") << "# T\ntext\n"
                                  << "";
    }

    void guideSection()
    {
        QFETCH(QString, markdown);
        QFETCH(QString, guide);
        QCOMPARE(DialogHelp::guideSection(markdown), guide);
    }

    // A link of the guide to one of its headings moves the guide to that heading.
    void linksMoveTheGuide_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("heading"); // shown at the top after; empty: the guide stays where it was
        QTest::addRow("a heading further down") << "#watching-a-feed"
                                                << "Watching a feed";
        QTest::addRow("punctuation dropped") << "#watching-one-region-of-a-page-leaving-words-out"
                                             << "Watching one region of a page, leaving words out";
        QTest::addRow("no such heading") << "#nowhere"
                                         << "";
    }
    void linksMoveTheGuide()
    {
        QFETCH(QString, link);
        QFETCH(QString, heading);
        DialogHelp dialog;
        dialog.resize(500, 300);
        dialog.show();
        auto* guide = dialog.findChild<QTextBrowser*>("textBrowserGuide");
        emit guide->anchorClicked(QUrl(link));
        QCOMPARE(guide->verticalScrollBar()->value() > 0, !heading.isEmpty());
        if (!heading.isEmpty())
            QCOMPARE(guide->textCursor().block().text(), heading);
    }
};

QTEST_MAIN(TestDialogHelp)
#include "tst_dialoghelp.moc"
