// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/numberbox.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>

#include <memory>
#include <utility>

namespace {
QString rangeText(const QSpinBox* box)
{
    return QCoreApplication::translate("NumberBox", "From %1 to %2").arg(box->minimum()).arg(box->maximum());
}
} // namespace

void NumberBox::guard(QSpinBox* box, const QString& what)
{
    auto* edit = box->findChild<QLineEdit*>();
    if (!edit)
        return;
    const QString told = box->toolTip();
    box->setToolTip(told.isEmpty() ? rangeText(box) : told + QLatin1Char('\n') + rangeText(box));
    // What was typed last, judged when editing ends (Enter, or the focus leaving), before the box puts its
    // previous value back.
    auto typed = std::make_shared<QString>();
    QObject::connect(edit, &QLineEdit::textEdited, box, [typed](const QString& text) { *typed = text; });
    QObject::connect(box, &QSpinBox::editingFinished, box, [box, what, typed] {
        const QString text = std::exchange(*typed, QString());
        bool number = false;
        const int value = box->locale().toInt(text.trimmed(), &number);
        if (text.isNull() || (number && value >= box->minimum() && value <= box->maximum()))
            return;
        QMessageBox message(QMessageBox::Information, what,
                            QCoreApplication::translate("NumberBox", "%1 cannot be taken: %2. The box keeps %3.")
                                .arg(text.trimmed(), rangeText(box).toLower(), box->text()),
                            QMessageBox::Ok, box->window());
        message.setTextFormat(Qt::PlainText);
        message.exec();
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
    });
}
