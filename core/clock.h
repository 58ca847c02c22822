// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The clock sits in the engine, the lowest layer; the core's files name it here.
#include "engine/clock.h"
