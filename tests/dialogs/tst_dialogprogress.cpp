// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogprogress.h"

#include <QLabel>
#include <QTextDocument>
#include <QtTest>

class TestDialogProgress : public QObject
{
    Q_OBJECT

private slots:
    void popup();
    void setMessage_data();
    void setMessage();
    void languageChangeRestoresDefaultText();

private:
    static QString plain(const QString& html)
    {
        QTextDocument document;
        document.setHtml(html);
        return document.toPlainText();
    }
};

void TestDialogProgress::popup()
{
    DialogProgress dialog;
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Popup);
}

void TestDialogProgress::setMessage_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown"); // the text a reader sees

    QTest::addRow("plain") << "Updating all tasks right now..."
                           << "Updating all tasks right now...";
    QTest::addRow("markup") << "Resetting <b>News</b> results right now..."
                            << "Resetting News results right now...";
    QTest::addRow("percent placeholders stay") << "50% of %1 and %2"
                                               << "50% of %1 and %2";
    QTest::addRow("empty") << ""
                           << "";
}

void TestDialogProgress::setMessage()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);

    DialogProgress dialog;
    dialog.setMessage(message);
    auto* label = dialog.findChild<QLabel*>("label");
    QCOMPARE(label->text(), "<font color=\"red\" size=\"40\">" + message + "</font>");
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(plain(label->text()), shown);
}

void TestDialogProgress::languageChangeRestoresDefaultText()
{
    DialogProgress dialog;
    dialog.setMessage("busy");
    dialog.setWindowTitle("x");
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&dialog, &change);
    QCOMPARE(dialog.windowTitle(), QString("Process"));
    QVERIFY(dialog.findChild<QLabel*>("label")->text().contains("Creating new task right now"));
}

QTEST_MAIN(TestDialogProgress)
#include "tst_dialogprogress.moc"
