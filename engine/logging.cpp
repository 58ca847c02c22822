// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/logging.h"

Q_LOGGING_CATEGORY(lcEngine, "vantrel.engine", QtInfoMsg)
