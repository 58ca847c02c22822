// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/logging.h"

Q_LOGGING_CATEGORY(lcCore, "vantrel.core", QtInfoMsg)
