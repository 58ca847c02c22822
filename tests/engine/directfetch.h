// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/fetchrequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

// A download as the program's checks make one, its reply guarded and taken over by PageFetch once it has finished,
// with no PageFetcher between; an empty page when the reply has not finished within 20 seconds.
inline FetchedPage download(const FetchRequest& request)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(PageFetch::makeRequest(request));
    PageFetch::guardBody(reply);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished() && !finished.wait(20000))
        return {};
    FetchedPage page = PageFetch::takePage(reply, QDateTime::currentDateTime());
    delete reply;
    return page;
}

inline FetchedPage download(const QUrl& url)
{
    FetchRequest request;
    request.address = url.toString();
    return download(request);
}
