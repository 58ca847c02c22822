// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// Inflates a body sent with Content-Encoding gzip or deflate piece by piece as it arrives, never past a bound:
// the bound on a page applies to what it inflates to, and a body that would inflate past it is refused as soon
// as the bound is reached, without inflating the rest. "deflate" is read as the zlib format, or as the bare
// deflate stream some servers send under that name. A stream cut short gives what arrived, as before.
class BodyInflater
{
public:
    // The inflater for a Content-Encoding header; null when the body is not compressed in a way this reads
    // (no encoding, "identity", or one no request of this program asks for: such a body is taken as it is).
    static std::unique_ptr<BodyInflater> forEncoding(const QByteArray& contentEncoding, qint64 maxBytes);
    ~BodyInflater();
    BodyInflater(const BodyInflater&) = delete;
    BodyInflater& operator=(const BodyInflater&) = delete;

    // Appends what the compressed bytes inflate to; false when they are damaged or out would grow past the
    // bound (error() says which). Nothing more is read after a failure.
    bool add(const char* data, qint64 size, QByteArray& out);
    bool add(const QByteArray& data, QByteArray& out) { return add(data.constData(), data.size(), out); }
    QString error() const { return m_error; }

private:
    enum class Format
    {
        Gzip,
        Deflate // zlib or bare, told by the first two bytes
    };
    BodyInflater(Format format, qint64 maxBytes);
    bool start(const char* data, qint64 size);
    bool fail(const QString& reason);

    struct Stream;
    std::unique_ptr<Stream> m_stream;
    Format m_format;
    qint64 m_maxBytes;
    bool m_started = false;
    bool m_ended = false;
    QString m_error;
};
