// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Diagnostic lines of the engine, category "vantrel.engine". Its debug lines are off unless
// QT_LOGGING_RULES turns them on ("vantrel.engine.debug=true"); warnings and above always show.
Q_DECLARE_LOGGING_CATEGORY(lcEngine)

// The main window's lines, until they move to the program's own category (lcApp in app/logging.h).
inline const QLoggingCategory& lcVantrel()
{
    return lcEngine();
}
