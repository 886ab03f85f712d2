#include <sys/stat.h>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVKeychainUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Security/Security.h"

namespace {

// Each test keeps its keys in a keychain file of its own.
class EncrypterTest : public ::testing::Test {
protected:
    EncrypterTest() : keychain(DAVUtility::sdkDirectory() + "/" + DAVTest::uniqueName("keychain") + ".json") {
        DAVDerAvedurUserDefaults::shared().removeObjectForKey(DAVEncrypter::kMetadataKey);
    }
    // The metadata names keys of this test's keychain only.
    ~EncrypterTest() override { DAVDerAvedurUserDefaults::shared().removeObjectForKey(DAVEncrypter::kMetadataKey); }
    std::optional<std::string> storedKey(const char* account) {
        Foundation::Data secret;
        if (keychain.copyGenericPassword(DAVKeychainUtil::serviceName(), account, secret) != Security::errSecSuccess)
            return std::nullopt;
        return std::string(secret.begin(), secret.end());
    }
    Security::Keychain keychain;
};

TEST_F(EncrypterTest, RoundTripsWithARandomIvAndAKeyInTheKeychain) {
    DAVEncrypter encrypter(&keychain);
    auto first = encrypter.encryptString("target-token");
    auto second = encrypter.encryptString("target-token");
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(first->find("target-token"), std::string::npos);
    EXPECT_EQ(encrypter.decryptString(*first), "target-token");
    EXPECT_EQ(encrypter.encryptString("").has_value(), true);
    EXPECT_EQ(encrypter.decryptString(*encrypter.encryptString("")), "");

    auto key = storedKey(DAVEncrypter::kKeyTag);
    ASSERT_TRUE(key);
    auto bytes = Foundation::base64DecodeStrict(*key);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 32u);
    EXPECT_EQ(DAVKeychainUtil::serviceName(), "com.tarnwick.vexil.DerAvedur");
    struct stat info {};
    ASSERT_EQ(::stat(keychain.filePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another encrypter over the same keychain reads the same key.
    DAVEncrypter other(&keychain);
    EXPECT_EQ(other.decryptString(*first), "target-token");
}

TEST_F(EncrypterTest, AnythingNotOursOrAlteredGivesNothing) {
    DAVEncrypter encrypter(&keychain);
    auto cipher = encrypter.encryptString("a token that is long enough to span blocks");
    ASSERT_TRUE(cipher);
    auto bytes = *Foundation::base64DecodeStrict(*cipher);
    for (std::size_t at : {std::size_t{1}, std::size_t{5}, bytes.size() / 2, bytes.size() - 1}) {
        auto altered = bytes;
        altered[at] ^= 0x01;
        EXPECT_EQ(encrypter.decryptData(altered), std::nullopt) << at;
    }
    EXPECT_EQ(encrypter.decryptString("plain text"), std::nullopt);
    EXPECT_EQ(encrypter.decryptString(""), std::nullopt);
    EXPECT_EQ(encrypter.decryptData(Foundation::Data(80, 0)), std::nullopt);
    EXPECT_EQ(encrypter.decryptData(Foundation::Data(bytes.begin(), bytes.begin() + 40)), std::nullopt);

    // A key replaced in the keychain cannot decrypt the old text: nothing, not garbage.
    Foundation::Data fresh(32, 7);
    std::string text = Foundation::base64Encode(fresh);
    ASSERT_EQ(keychain.updateGenericPassword(DAVKeychainUtil::serviceName(), DAVEncrypter::kKeyTag,
                                             Foundation::Data(text.begin(), text.end())),
              Security::errSecSuccess);
    DAVEncrypter afterReplacement(&keychain);
    EXPECT_EQ(afterReplacement.decryptString(*cipher), std::nullopt);
}

TEST_F(EncrypterTest, AnExpiredKeyRotatesToTheAlternateAccount) {
    DAVEncrypter encrypter(&keychain);
    auto old = encrypter.encryptString("before");
    ASSERT_TRUE(old);
    auto metadata = DAVDerAvedurUserDefaults::shared().objectForKey(DAVEncrypter::kMetadataKey);
    ASSERT_TRUE(metadata.isString());
    EXPECT_EQ(metadata.asString().rfind("kDAVEncryptionKeyTag/", 0), 0u);
    EXPECT_FALSE(storedKey(DAVEncrypter::kAlternateKeyTag));

    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value("kDAVEncryptionKeyTag/2000-01-01T00:00:00.000Z"),
                                                 DAVEncrypter::kMetadataKey);
    auto rotated = encrypter.encryptString("after");
    ASSERT_TRUE(rotated);
    EXPECT_TRUE(storedKey(DAVEncrypter::kAlternateKeyTag));
    auto newMetadata = DAVDerAvedurUserDefaults::shared().objectForKey(DAVEncrypter::kMetadataKey).asString();
    EXPECT_EQ(newMetadata.rfind("kDAVEncryptionKeyTagAlternate/", 0), 0u);
    auto expiry = Foundation::dateFromISO8601(newMetadata.substr(newMetadata.find('/') + 1));
    ASSERT_TRUE(expiry);
    EXPECT_NEAR(expiry->secondsSince1970 - Foundation::clock().now(), DAVEncrypter::kKeyLifetimeSeconds, 5);
    // Both texts still decrypt: each names its own key.
    EXPECT_EQ(encrypter.decryptString(*old), "before");
    EXPECT_EQ(encrypter.decryptString(*rotated), "after");
}

TEST_F(EncrypterTest, AKeyMissingFromTheKeychainIsMadeAgain) {
    auto old = DAVEncrypter(&keychain).encryptString("old");
    ASSERT_TRUE(old);
    ASSERT_EQ(keychain.deleteGenericPassword(DAVKeychainUtil::serviceName(), DAVEncrypter::kKeyTag),
              Security::errSecSuccess);
    DAVEncrypter encrypter(&keychain);
    EXPECT_EQ(encrypter.decryptString(*old), std::nullopt);
    auto fresh = encrypter.encryptString("new");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(storedKey(DAVEncrypter::kKeyTag));
    EXPECT_EQ(DAVEncrypter(&keychain).decryptString(*fresh), "new");
}

TEST(KeychainUtil, StoresReplacesAndDeletesStrings) {
    const std::string account = DAVTest::uniqueName("account");
    EXPECT_EQ(DAVKeychainUtil::stringForKey(account), std::nullopt);
    EXPECT_TRUE(DAVKeychainUtil::storeString("one", account));
    EXPECT_TRUE(DAVKeychainUtil::storeString("two", account));
    EXPECT_EQ(DAVKeychainUtil::stringForKey(account), "two");
    EXPECT_EQ(DAVKeychainUtil::deleteStringForKey(account), "two");
    EXPECT_EQ(DAVKeychainUtil::deleteStringForKey(account), std::nullopt);
    EXPECT_EQ(DAVKeychainUtil::keychain().filePath(), DAVUtility::sdkDirectory() + "/Keychain.json");
}

TEST(SdkUserDefaults, KeysArePrefixedAndMigratedOnce) {
    auto& defaults = Foundation::UserDefaults::standard();
    const std::string service = DAVTest::uniqueName("Service");
    const std::string suffix = Foundation::makeUUIDString();
    defaults.set("oldInstall" + suffix, Foundation::Value("install-id"));
    defaults.set("oldTimer" + suffix + ":Analytics", Foundation::Value(1.5));
    defaults.set("oldTimer" + suffix + ":Crashes", Foundation::Value(2.5));
    defaults.set("DAVDerAvedurKept" + suffix, Foundation::Value("new value"));
    defaults.set("oldKept" + suffix, Foundation::Value("old value"));

    std::vector<DAVUserDefaultsMigration> migrations = {
        {"DAVDerAvedurInstall" + suffix, "oldInstall" + suffix, false},
        {"DAVDerAvedurTimer" + suffix, "oldTimer" + suffix, true},
        {"DAVDerAvedurKept" + suffix, "oldKept" + suffix, false},
    };
    auto& sdk = DAVDerAvedurUserDefaults::shared();
    sdk.migrateKeys(migrations, service);
    EXPECT_EQ(sdk.objectForKey("Install" + suffix), Foundation::Value("install-id"));
    EXPECT_EQ(sdk.objectForKey("Timer" + suffix + ":Analytics"), Foundation::Value(1.5));
    EXPECT_EQ(sdk.objectForKey("Timer" + suffix + ":Crashes"), Foundation::Value(2.5));
    EXPECT_EQ(sdk.objectForKey("Kept" + suffix), Foundation::Value("new value"));
    EXPECT_TRUE(defaults.objectForKey("oldInstall" + suffix).isNull());
    EXPECT_TRUE(defaults.objectForKey("oldKept" + suffix).isNull());

    // Once per service: a value that reappears under the old key stays there.
    defaults.set("oldInstall" + suffix, Foundation::Value("again"));
    sdk.migrateKeys(migrations, service);
    EXPECT_EQ(sdk.objectForKey("Install" + suffix), Foundation::Value("install-id"));
    EXPECT_EQ(defaults.objectForKey("oldInstall" + suffix), Foundation::Value("again"));

    sdk.setObject(Foundation::Value(true), "Flag" + suffix);
    EXPECT_EQ(defaults.objectForKey("DAVDerAvedurFlag" + suffix), Foundation::Value(true));
    sdk.removeObjectForKey("Flag" + suffix);
    EXPECT_TRUE(defaults.objectForKey("DAVDerAvedurFlag" + suffix).isNull());
}

}  // namespace
