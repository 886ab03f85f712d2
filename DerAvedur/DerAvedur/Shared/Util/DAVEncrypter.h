#pragma once
// Encrypts secrets at rest (target tokens in the log store and the crash log
// buffer): AES-256-CBC with PKCS7 padding and a random IV, authenticated with
// HMAC-SHA256 so that a wrong key or altered bytes give nothing, never
// garbage.
//
// Keys are random 32-byte values kept base64-encoded in the keychain under
// "kDAVEncryptionKeyTag" and "kDAVEncryptionKeyTagAlternate". The key in use
// and its expiry are the user default "EncryptionKeyMetadata"
// ("<account>/<ISO-8601 expiry>"); after a year the other account gets a new
// key, and the old one still decrypts what it encrypted until it is replaced
// in its turn.
//
// Cipher bytes: version (1), key account (0 or 1), IV (16), ciphertext,
// HMAC-SHA256 (32) of everything before it.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Security {
class Keychain;
}

class DAVEncrypter {
public:
    // Keys live in the SDK's keychain unless another is given.
    explicit DAVEncrypter(Security::Keychain* keychain = nullptr);

    static constexpr const char* kKeyTag = "kDAVEncryptionKeyTag";
    static constexpr const char* kAlternateKeyTag = "kDAVEncryptionKeyTagAlternate";
    static constexpr const char* kMetadataKey = "EncryptionKeyMetadata";
    static constexpr double kKeyLifetimeSeconds = 365.0 * 24 * 60 * 60;

    // Base64 text of the cipher bytes.
    std::optional<std::string> encryptString(const std::string& string);
    // The text, or nothing when the input is not ours, was altered or its key is gone.
    std::optional<std::string> decryptString(const std::string& string);

    std::optional<Foundation::Data> encryptData(const Foundation::Data& data);
    std::optional<Foundation::Data> decryptData(const Foundation::Data& data);

private:
    // The key to encrypt with now and the index of its account.
    std::optional<Foundation::Data> currentKey(int& tagIndex);
    std::optional<Foundation::Data> keyForTag(int tagIndex);
    std::optional<Foundation::Data> createKey(int tagIndex, bool replace);

    Security::Keychain& keychain_;
    std::mutex lock_;
    std::map<int, Foundation::Data> keys_;
};
