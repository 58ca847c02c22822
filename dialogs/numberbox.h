// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QSpinBox;

// A number box that shows its range in its tooltip and refuses, with a message, a number typed outside it, which
// the box would otherwise replace by its previous value without a word. what names the box in the message.
namespace NumberBox {
void guard(QSpinBox* box, const QString& what);
} // namespace NumberBox
