// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/resultlink.h"

#include <QDesktopServices>
#include <QUrl>

bool ResultLink::isBrowsable(const QUrl& url)
{
    // QUrl keeps schemes in lower case, so HTTP:// is accepted as well.
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool ResultLink::openInBrowser(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}
