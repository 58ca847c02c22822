// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Diagnostic lines of the whole program; switch them off with QT_LOGGING_RULES="vantrel.debug=false".
Q_DECLARE_LOGGING_CATEGORY(lcVantrel)
