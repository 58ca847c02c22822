// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/logging.h"

Q_LOGGING_CATEGORY(lcApp, "vantrel.app", QtInfoMsg)
