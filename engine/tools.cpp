// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "tools.h"
QString Tools::hostPrefix(const QString&) { return {}; }
QString Tools::unquote(const QString&) { return {}; }
QString Tools::hrefValue(QStringView) { return {}; }
QString Tools::absoluteLink(const QUrl&, QStringView) { return {}; }
