#pragma once
// Stand-in for the platform's keychain services and random bytes.
//
// Generic-password items (service, account, secret bytes) are kept in one
// JSON file of mode 0600 that the caller places. Every call reads or rewrites
// the file under a lock (a mutex in the process, an advisory lock on
// "<file>.lock" across processes); a rewrite is atomic (temporary file, rename).

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Security {

using OSStatus = std::int32_t;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;

class Keychain {
public:
    explicit Keychain(std::string filePath);

    const std::string& filePath() const { return filePath_; }

    // errSecDuplicateItem when the item exists.
    OSStatus addGenericPassword(const std::string& service, const std::string& account, const Foundation::Data& secret);
    // errSecItemNotFound when absent.
    OSStatus updateGenericPassword(const std::string& service, const std::string& account,
                                   const Foundation::Data& secret);
    OSStatus copyGenericPassword(const std::string& service, const std::string& account, Foundation::Data& secret);
    OSStatus deleteGenericPassword(const std::string& service, const std::string& account);

private:
    std::string filePath_;
    std::mutex lock_;
};

// Cryptographically strong random bytes (SecRandomCopyBytes).
OSStatus randomCopyBytes(std::size_t count, std::uint8_t* bytes);

}  // namespace Security
