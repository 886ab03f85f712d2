#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"

#include <zlib.h>

#include <climits>

bool DAVHttpUtil::isRecoverableError(long statusCode) {
    return statusCode == 0 || statusCode == 408 || statusCode == 429 || statusCode >= 500;
}

std::string DAVHttpUtil::hideSecret(const std::string& secret) {
    // Walk UTF-8 characters so a multi-byte character is never cut in two.
    std::size_t characters = 0;
    for (unsigned char c : secret) characters += (c & 0xC0) != 0x80;
    const std::size_t hidden = characters > kVisibleSecretLength ? characters - kVisibleSecretLength : characters;
    std::size_t seen = 0, cut = 0;
    for (; cut < secret.size(); ++cut) {
        const bool starts = (static_cast<unsigned char>(secret[cut]) & 0xC0) != 0x80;
        if (starts && seen++ == hidden) break;
    }
    return std::string(hidden, '*') + secret.substr(cut);
}

std::optional<Foundation::Data> DAVHttpUtil::compressData(const Foundation::Data& data) {
    if (data.size() > UINT_MAX) return std::nullopt;
    z_stream stream{};
    // 15 window bits + 16: a gzip header and trailer rather than zlib's.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    Foundation::Data out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const uLong written = stream.total_out;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    out.resize(written);
    return out;
}

std::optional<Foundation::Data> DAVHttpUtil::decompressData(const Foundation::Data& data) {
    if (data.size() > UINT_MAX) return std::nullopt;
    z_stream stream{};
    // 15 window bits + 32: detect gzip or zlib from the header.
    if (inflateInit2(&stream, 15 + 32) != Z_OK) return std::nullopt;
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    Foundation::Data out;
    unsigned char buffer[16384];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) break;
        out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;  // truncated input
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return std::nullopt;
    return out;
}
