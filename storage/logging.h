// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Diagnostic lines of the storage layer, category "vantrel.storage". Its debug lines are off unless
// QT_LOGGING_RULES turns them on ("vantrel.storage.debug=true"); warnings and above always show.
Q_DECLARE_LOGGING_CATEGORY(lcStorage)
