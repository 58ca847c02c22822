// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Answers every modal message box that opens while it exists: records what the box showed, then
// presses its Ok button (or closes it when it has none).
class MessageBoxCatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QWidget* parent;
        QString informative;
        QMessageBox::StandardButtons buttons;
    };

    MessageBoxCatcher()
    {
        connect(&timer, &QTimer::timeout, this, &MessageBoxCatcher::answer);
        timer.start(10);
    }

    QList<Box> boxes;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes.append(
            {box->windowTitle(), box->text(), box->parentWidget(), box->informativeText(), box->standardButtons()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    QTimer timer;
};
