// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class Tools : public QObject
{
public:
    Tools() = default;

    // "http://" followed by the host of the address.
    static QString hostPrefix(const QString& address);
    // The first non-empty piece of the text split at double quotes.
    static QString unquote(const QString& text);

    // The attribute value of a link's address part: leading blanks dropped, the quoted value (up to
    // the same quote) or the unquoted value (up to the first blank), character references decoded,
    // trimmed.
    static QString hrefValue(QStringView capture);
    // The text with character references decoded (&#N;, &#xH; and the common named ones such as
    // &amp; &nbsp; &rsquo; &eacute;), as it is shown; unknown or broken references stay as written.
    static QString displayText(QStringView text);
    // The link a browser would follow: the href value resolved against the page's address.
    static QString absoluteLink(const QUrl& base, QStringView capture);
};
