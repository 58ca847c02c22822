// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/logging.h"

Q_LOGGING_CATEGORY(lcStorage, "vantrel.storage", QtInfoMsg)
