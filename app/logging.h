// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Diagnostic lines of the app layer, category "vantrel.app". Its debug lines are off unless
// QT_LOGGING_RULES turns them on ("vantrel.app.debug=true"); warnings and above always show.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
