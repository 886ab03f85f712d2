#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVKeychainUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Security/Security.h"

namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kKeyLength = 32;
constexpr std::size_t kIVLength = 16;
constexpr std::size_t kMacLength = 32;
constexpr std::size_t kBlockLength = 16;

const char* tagName(int index) { return index == 0 ? DAVEncrypter::kKeyTag : DAVEncrypter::kAlternateKeyTag; }

int tagIndex(const std::string& name) {
    if (name == DAVEncrypter::kKeyTag) return 0;
    if (name == DAVEncrypter::kAlternateKeyTag) return 1;
    return -1;
}

// The MAC key is derived from the cipher key so one stored secret serves both.
Foundation::Data mac(const Foundation::Data& key, const std::uint8_t* bytes, std::size_t length) {
    static const char kLabel[] = "DAVEncrypter authentication";
    unsigned char macKey[EVP_MAX_MD_SIZE];
    unsigned int macKeyLength = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(kLabel),
         sizeof kLabel - 1, macKey, &macKeyLength);
    Foundation::Data out(EVP_MAX_MD_SIZE);
    unsigned int outLength = 0;
    HMAC(EVP_sha256(), macKey, static_cast<int>(macKeyLength), bytes, length, out.data(), &outLength);
    OPENSSL_cleanse(macKey, sizeof macKey);
    out.resize(outLength);
    return out;
}

struct CipherContext {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
};

std::optional<Foundation::Data> aes(bool encrypt, const Foundation::Data& key, const std::uint8_t* iv,
                                    const std::uint8_t* input, std::size_t length) {
    CipherContext cipher;
    if (!cipher.ctx || length > static_cast<std::size_t>(INT32_MAX - kBlockLength)) return std::nullopt;
    if (EVP_CipherInit_ex(cipher.ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    Foundation::Data out(length + kBlockLength);
    int written = 0;
    int finalWritten = 0;
    if (EVP_CipherUpdate(cipher.ctx, out.data(), &written, input, static_cast<int>(length)) != 1) return std::nullopt;
    if (EVP_CipherFinal_ex(cipher.ctx, out.data() + written, &finalWritten) != 1) return std::nullopt;
    out.resize(static_cast<std::size_t>(written + finalWritten));
    return out;
}

std::optional<Foundation::Data> decodeKey(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    auto key = Foundation::base64DecodeStrict(*text);
    if (!key || key->size() != kKeyLength) return std::nullopt;
    return key;
}

}  // namespace

DAVEncrypter::DAVEncrypter(Security::Keychain* keychain)
    : keychain_(keychain ? *keychain : DAVKeychainUtil::keychain()) {}

std::optional<Foundation::Data> DAVEncrypter::keyForTag(int index) {
    auto cached = keys_.find(index);
    if (cached != keys_.end()) return cached->second;
    Foundation::Data secret;
    if (keychain_.copyGenericPassword(DAVKeychainUtil::serviceName(), tagName(index), secret) !=
        Security::errSecSuccess)
        return std::nullopt;
    auto key = decodeKey(std::string(secret.begin(), secret.end()));
    if (key) keys_[index] = *key;
    return key;
}

std::optional<Foundation::Data> DAVEncrypter::createKey(int index, bool replace) {
    Foundation::Data key(kKeyLength);
    if (Security::randomCopyBytes(key.size(), key.data()) != Security::errSecSuccess) return std::nullopt;
    std::string text = Foundation::base64Encode(key);
    const std::string service = DAVKeychainUtil::serviceName();
    Foundation::Data secret(text.begin(), text.end());
    Security::OSStatus status = keychain_.addGenericPassword(service, tagName(index), secret);
    if (status == Security::errSecDuplicateItem) {
        if (!replace) {
            // Another process made the key first: use theirs.
            keys_.erase(index);
            return keyForTag(index);
        }
        status = keychain_.updateGenericPassword(service, tagName(index), secret);
    }
    if (status != Security::errSecSuccess) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to store the encryption key %s in the keychain (%d).", tagName(index),
                    static_cast<int>(status));
        return std::nullopt;
    }
    keys_[index] = key;
    return key;
}

std::optional<Foundation::Data> DAVEncrypter::currentKey(int& index) {
    auto& defaults = DAVDerAvedurUserDefaults::shared();
    const double now = Foundation::clock().now();
    Foundation::Value metadata = defaults.objectForKey(kMetadataKey);
    int current = -1;
    std::optional<Foundation::Date> expiry;
    if (const std::string* text = metadata.stringOrNull()) {
        std::size_t slash = text->find('/');
        if (slash != std::string::npos) {
            current = tagIndex(text->substr(0, slash));
            expiry = Foundation::dateFromISO8601(text->substr(slash + 1));
        }
    }
    auto writeMetadata = [&](int tag) {
        std::string value =
            std::string(tagName(tag)) + "/" + Foundation::iso8601String(Foundation::Date{now + kKeyLifetimeSeconds});
        defaults.setObject(Foundation::Value(value), kMetadataKey);
    };
    std::optional<Foundation::Data> key;
    if (current >= 0 && expiry && expiry->secondsSince1970 > now) {
        index = current;
        key = keyForTag(current);
        if (key) return key;
        // The key vanished from the keychain: start a new one in the same place
        // (or adopt the one another process has just made there).
        key = createKey(current, false);
        if (key) writeMetadata(current);
        return key;
    }
    if (current < 0) {
        // First use (or unreadable metadata): keep a key that is already there.
        index = 0;
        key = keyForTag(0);
        if (!key) key = createKey(0, false);
    } else {
        // Expired: rotate to the other account.
        index = 1 - current;
        key = createKey(index, true);
    }
    if (key) writeMetadata(index);
    return key;
}

std::optional<Foundation::Data> DAVEncrypter::encryptData(const Foundation::Data& data) {
    std::lock_guard<std::mutex> guard(lock_);
    int index = 0;
    auto key = currentKey(index);
    if (!key) return std::nullopt;
    Foundation::Data out;
    out.push_back(kVersion);
    out.push_back(static_cast<std::uint8_t>(index));
    Foundation::Data iv(kIVLength);
    if (Security::randomCopyBytes(iv.size(), iv.data()) != Security::errSecSuccess) return std::nullopt;
    out.insert(out.end(), iv.begin(), iv.end());
    auto cipher = aes(true, *key, iv.data(), data.data(), data.size());
    if (!cipher) return std::nullopt;
    out.insert(out.end(), cipher->begin(), cipher->end());
    Foundation::Data tag = mac(*key, out.data(), out.size());
    out.insert(out.end(), tag.begin(), tag.end());
    return out;
}

std::optional<Foundation::Data> DAVEncrypter::decryptData(const Foundation::Data& data) {
    if (data.size() < 2 + kIVLength + kBlockLength + kMacLength || data[0] != kVersion || data[1] > 1)
        return std::nullopt;
    if ((data.size() - 2 - kIVLength - kMacLength) % kBlockLength != 0) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    auto key = keyForTag(data[1]);
    if (!key) return std::nullopt;
    const std::size_t signedLength = data.size() - kMacLength;
    Foundation::Data expected = mac(*key, data.data(), signedLength);
    if (expected.size() != kMacLength || CRYPTO_memcmp(expected.data(), data.data() + signedLength, kMacLength) != 0) {
        // A key replaced in another process: read the keychain again once.
        keys_.erase(data[1]);
        key = keyForTag(data[1]);
        if (!key) return std::nullopt;
        expected = mac(*key, data.data(), signedLength);
        if (CRYPTO_memcmp(expected.data(), data.data() + signedLength, kMacLength) != 0) return std::nullopt;
    }
    return aes(false, *key, data.data() + 2, data.data() + 2 + kIVLength, signedLength - 2 - kIVLength);
}

std::optional<std::string> DAVEncrypter::encryptString(const std::string& string) {
    auto cipher = encryptData(Foundation::Data(string.begin(), string.end()));
    if (!cipher) return std::nullopt;
    return Foundation::base64Encode(*cipher);
}

std::optional<std::string> DAVEncrypter::decryptString(const std::string& string) {
    auto bytes = Foundation::base64DecodeStrict(string);
    if (!bytes) return std::nullopt;
    auto plain = decryptData(*bytes);
    if (!plain) return std::nullopt;
    return std::string(plain->begin(), plain->end());
}
