#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Security/Security.h"

namespace {

std::string keychainPath() {
    return Foundation::temporaryDirectory() + "/keychains/" + Foundation::makeUUIDString() + "/keys.json";
}

Foundation::Data bytes(const std::string& text) { return Foundation::Data(text.begin(), text.end()); }

TEST(Keychain, GenericPasswordsAreAddedReadUpdatedAndDeleted) {
    Security::Keychain keychain(keychainPath());
    Foundation::Data secret;
    EXPECT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecItemNotFound);
    EXPECT_EQ(keychain.updateGenericPassword("svc", "acct", bytes("x")), Security::errSecItemNotFound);
    EXPECT_EQ(keychain.deleteGenericPassword("svc", "acct"), Security::errSecItemNotFound);

    EXPECT_EQ(keychain.addGenericPassword("svc", "acct", bytes("one")), Security::errSecSuccess);
    EXPECT_EQ(keychain.addGenericPassword("svc", "acct", bytes("two")), Security::errSecDuplicateItem);
    EXPECT_EQ(keychain.addGenericPassword("svc", "other", Foundation::Data{0, 255, 10}), Security::errSecSuccess);
    EXPECT_EQ(keychain.addGenericPassword("svc2", "acct", bytes("three")), Security::errSecSuccess);
    ASSERT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecSuccess);
    EXPECT_EQ(secret, bytes("one"));
    EXPECT_EQ(keychain.updateGenericPassword("svc", "acct", bytes("four")), Security::errSecSuccess);

    // Another instance over the same file (another process) sees every change.
    Security::Keychain again(keychain.filePath());
    ASSERT_EQ(again.copyGenericPassword("svc", "acct", secret), Security::errSecSuccess);
    EXPECT_EQ(secret, bytes("four"));
    ASSERT_EQ(again.copyGenericPassword("svc", "other", secret), Security::errSecSuccess);
    EXPECT_EQ(secret, (Foundation::Data{0, 255, 10}));
    EXPECT_EQ(again.deleteGenericPassword("svc", "acct"), Security::errSecSuccess);
    EXPECT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecItemNotFound);
    ASSERT_EQ(keychain.copyGenericPassword("svc2", "acct", secret), Security::errSecSuccess);
    EXPECT_EQ(secret, bytes("three"));

    struct stat info {};
    ASSERT_EQ(::stat(keychain.filePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Security::Keychain("").addGenericPassword("s", "a", bytes("x")), Security::errSecParam);
}

TEST(Keychain, AnUnreadableFileIsMovedAsideNotLost) {
    const std::string path = keychainPath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "{ not json";
    Security::Keychain keychain(path);
    Foundation::Data secret;
    EXPECT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecItemNotFound);
    EXPECT_TRUE(std::filesystem::exists(path + ".corrupt"));
    EXPECT_EQ(keychain.addGenericPassword("svc", "acct", bytes("fresh")), Security::errSecSuccess);
    ASSERT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecSuccess);
    EXPECT_EQ(secret, bytes("fresh"));
}

TEST(Keychain, RandomBytesAreFilled) {
    Foundation::Data a(32, 0), b(32, 0);
    ASSERT_EQ(Security::randomCopyBytes(a.size(), a.data()), Security::errSecSuccess);
    ASSERT_EQ(Security::randomCopyBytes(b.size(), b.data()), Security::errSecSuccess);
    EXPECT_NE(a, b);
    EXPECT_NE(a, Foundation::Data(32, 0));
    EXPECT_EQ(Security::randomCopyBytes(4, nullptr), Security::errSecParam);
    EXPECT_EQ(Security::randomCopyBytes(0, nullptr), Security::errSecSuccess);
}

}  // namespace
