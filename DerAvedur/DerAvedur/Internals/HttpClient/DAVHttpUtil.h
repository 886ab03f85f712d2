#pragma once
#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

// Domain of transport failures; the code is libcurl's.
inline constexpr const char* kDAVHttpErrorDomain = "com.Vaveruvav.DerAvedur.HttpErrorDomain";

class DAVHttpUtil {
public:
    // Bodies at least this long are sent gzipped when compression is on.
    static constexpr std::size_t kMinGZipLength = 1400;
    // hideSecret leaves this many trailing characters readable.
    static constexpr std::size_t kVisibleSecretLength = 8;

    // 0 (no answer), 408, 429 and every status from 500 up.
    static bool isRecoverableError(long statusCode);
    // Every character but the last eight becomes "*"; a secret of eight
    // characters or fewer is hidden whole. Counts characters, not bytes.
    static std::string hideSecret(const std::string& secret);

    // gzip (RFC 1952) of the bytes; nothing when zlib fails.
    static std::optional<Foundation::Data> compressData(const Foundation::Data& data);
    // The bytes of a gzip or zlib stream; nothing when it is not one.
    static std::optional<Foundation::Data> decompressData(const Foundation::Data& data);
};
