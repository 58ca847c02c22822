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

    // Forms the links of one page exactly as absoluteLink does. The common forms (an http(s) address of
    // plain ASCII, "/path", "path", "?query", "#fragment", "") are put together from the parts of the base
    // read once, without a URL parse per link; every other form goes through QUrl.
    class LinkResolver
    {
    public:
        explicit LinkResolver(const QUrl& base);
        QString operator()(QStringView capture) const { return resolve(hrefValue(capture)); }
        // The same for an href value already taken out of its capture.
        QString resolve(const QString& value) const;
        // The same through QUrl alone, as absoluteLink does.
        QString resolveFully(const QString& value) const;

    private:
        QUrl m_base;
        bool m_fast = false;     // an http(s) base with a host: "/path" is formed without QUrl
        bool m_relative = false; // and its path holds no "." segment: so are the other relative forms
        QString m_origin;        // "http://host:port", user info included
        QString m_directory;     // the origin and the base's path up to its last '/'
        QString m_path;          // the origin and the base's path
        QString m_document;      // the base without its fragment
    };
};
