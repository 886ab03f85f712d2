#pragma once
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

// A failure handed to a caller as a value.
struct Error {
    std::string domain;
    long code = 0;
    std::string description;
    Dictionary userInfo;

    // "localizedDescription" as the callers read it.
    const std::string& localizedDescription() const { return description; }
    friend bool operator==(const Error& a, const Error& b) {
        return a.domain == b.domain && a.code == b.code && a.description == b.description && a.userInfo == b.userInfo;
    }
};

}  // namespace Foundation

namespace Foundation {

// The platform's domain and codes for reading and writing property lists,
// JSON and keyed archives.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
enum CocoaErrorCode : long {
    kFileReadUnknownError = 256,
    kFileWriteUnknownError = 512,
    kPropertyListReadCorruptError = 3840,   // also malformed JSON
    kPropertyListWriteInvalidError = 3851,  // also values JSON cannot hold
    kCoderReadCorruptError = 4864,
    kCoderValueNotFoundError = 4865,
    kCoderInvalidValueError = 4866,
};

inline Error makeError(std::string domain, long code, std::string description, Dictionary userInfo = {}) {
    return Error{std::move(domain), code, std::move(description), std::move(userInfo)};
}

// Stores `error` in `*out` when the caller asked for it (out non-null).
inline void reportError(Error* out, Error error) {
    if (out) *out = std::move(error);
}

}  // namespace Foundation
