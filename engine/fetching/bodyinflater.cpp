// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/bodyinflater.h"

#include "engine/fetching/fetchrequest.h"

#include <zlib.h>

#include <climits>

struct BodyInflater::Stream
{
    z_stream z{};
};

namespace {
// The most inflated at one call of zlib, so the bound is checked every so many bytes.
constexpr qint64 StepBytes = 64 * 1024;

QString damaged()
{
    return QStringLiteral("Decompression failed: the compressed body is damaged or not in the announced encoding");
}
} // namespace

std::unique_ptr<BodyInflater> BodyInflater::forEncoding(const QByteArray& contentEncoding, qint64 maxBytes)
{
    const QByteArray encoding = contentEncoding.trimmed().toLower();
    if (encoding == "gzip" || encoding == "x-gzip")
        return std::unique_ptr<BodyInflater>(new BodyInflater(Format::Gzip, maxBytes));
    if (encoding == "deflate")
        return std::unique_ptr<BodyInflater>(new BodyInflater(Format::Deflate, maxBytes));
    return nullptr;
}

BodyInflater::BodyInflater(Format format, qint64 maxBytes)
    : m_stream(std::make_unique<Stream>()), m_format(format), m_maxBytes(maxBytes)
{
}

BodyInflater::~BodyInflater()
{
    if (m_started)
        inflateEnd(&m_stream->z);
}

bool BodyInflater::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool BodyInflater::start(const char* data, qint64 size)
{
    int windowBits = 16 + MAX_WBITS; // gzip
    if (m_format == Format::Deflate) {
        // A zlib header: compression method 8, and the two bytes a multiple of 31 (RFC 1950).
        const auto first = static_cast<unsigned char>(data[0]);
        const bool zlib =
            size >= 2 && (first & 0x0f) == Z_DEFLATED && ((first << 8) | static_cast<unsigned char>(data[1])) % 31 == 0;
        windowBits = zlib ? MAX_WBITS : -MAX_WBITS;
    }
    if (inflateInit2(&m_stream->z, windowBits) != Z_OK)
        return fail(damaged());
    m_started = true;
    return true;
}

bool BodyInflater::add(const char* data, qint64 size, QByteArray& out)
{
    if (!m_error.isEmpty())
        return false;
    if (size <= 0)
        return true;
    if (!m_started && !start(data, size))
        return false;
    z_stream& z = m_stream->z;
    while (size > 0) {
        if (m_ended) {
            // Another gzip member follows (as concatenated files make); anything else after the end is damage.
            if (m_format != Format::Gzip || inflateReset(&z) != Z_OK)
                return fail(damaged());
            m_ended = false;
        }
        const uInt chunk = uInt(qMin<qint64>(size, UINT_MAX));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z.avail_in = chunk;
        while (z.avail_in > 0 && !m_ended) {
            // Room for one step, and one byte beyond the bound so that a body past it is seen at once.
            const qint64 had = out.size();
            const qint64 room = qMin(StepBytes, m_maxBytes + 1 - had);
            if (room <= 0)
                return fail(PageFetch::tooLargeReason());
            out.resize(had + room);
            z.next_out = reinterpret_cast<Bytef*>(out.data() + had);
            z.avail_out = uInt(room);
            const int result = inflate(&z, Z_NO_FLUSH);
            out.truncate(had + room - z.avail_out);
            if (result == Z_STREAM_END)
                m_ended = true;
            else if (result != Z_OK && result != Z_BUF_ERROR)
                return fail(damaged());
            if (out.size() > m_maxBytes)
                return fail(PageFetch::tooLargeReason());
            if (result == Z_BUF_ERROR && z.avail_out > 0)
                break; // every byte given was used and more are needed
        }
        const qint64 used = qint64(chunk) - z.avail_in;
        data += used;
        size -= used;
        if (used == 0 && !m_ended)
            return fail(damaged());
    }
    return true;
}
