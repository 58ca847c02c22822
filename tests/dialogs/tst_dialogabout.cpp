// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogabout.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

class TestDialogAbout : public QObject
{
    Q_OBJECT

private slots:
    void fixedSize();
    void logo();
    void informationPage();
    void okAccepts();
};

void TestDialogAbout::fixedSize()
{
    DialogAbout dialog;
    dialog.show();
    QCOMPARE(dialog.size(), QSize(359, 244));
    QCOMPARE(dialog.minimumSize(), QSize(359, 244));
    QCOMPARE(dialog.maximumSize(), QSize(359, 244));
    dialog.resize(600, 400);
    QCOMPARE(dialog.size(), QSize(359, 244));
}

void TestDialogAbout::logo()
{
    DialogAbout dialog;
    QVERIFY2(!dialog.findChild<QLabel*>("labelImage")->pixmap().isNull(), "the logo resource is missing");
}

void TestDialogAbout::informationPage()
{
    DialogAbout dialog;
    auto* page = dialog.findChild<QTextEdit*>("textEdit");
    // The page must still name the running Qt after the texts were set again.
    for (const char* when : {"after construction", "after a language change"}) {
        const QString text = page->toPlainText();
        for (const QString& needle : {QString("Vantrel Monitor"), QString("0.1"), QString("LGPL"),
                                      QString("Qt toolkit, version %1").arg(qVersion())})
            QVERIFY2(text.contains(needle), qPrintable(QString("%1: no '%2' in: %3").arg(when, needle, text)));
        QVERIFY2(!text.contains("%1"), when);
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&dialog, &change);
    }
}

void TestDialogAbout::okAccepts()
{
    DialogAbout dialog;
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestDialogAbout)
#include "tst_dialogabout.moc"
