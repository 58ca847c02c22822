// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialoghelp.h"

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
};

QTEST_MAIN(TestDialogHelp)
#include "tst_dialoghelp.moc"
