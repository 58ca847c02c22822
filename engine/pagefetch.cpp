// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "pagefetch.h"
int PageFetch::transferTimeout() { return DefaultTransferTimeoutMs; }
void PageFetch::setTransferTimeout(int) {}
qint64 PageFetch::maxBodyBytes() { return MaxBodyBytes; }
void PageFetch::setMaxBodyBytes(qint64) {}
QNetworkRequest PageFetch::makeRequest(const QString& address) { return QNetworkRequest(QUrl(address)); }
void PageFetch::guardBody(QNetworkReply*) {}
FetchedPage PageFetch::takePage(QNetworkReply*) { return {}; }
QString PageFetch::decode(const QByteArray&) { return {}; }
