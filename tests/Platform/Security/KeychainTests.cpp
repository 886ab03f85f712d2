#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

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

// Each damaged file is kept under a name of its own: a second damage never
// replaces the copy kept from the first.
TEST(Keychain, AnUnreadableFileIsMovedAsideNotLost) {
    const std::string path = keychainPath();
    const auto dir = std::filesystem::path(path).parent_path();
    std::filesystem::create_directories(dir);
    auto kept = [&] {
        std::vector<std::string> contents;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string().rfind(std::filesystem::path(path).filename().string() + ".damaged-",
                                                       0) == 0) {
                std::ifstream in(entry.path());
                contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        std::sort(contents.begin(), contents.end());
        return contents;
    };
    for (const char* damage : {"{ not json", "{ also not json"}) {
        std::ofstream(path) << damage;
        Security::Keychain keychain(path);
        Foundation::Data secret;
        EXPECT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecItemNotFound);
        EXPECT_EQ(keychain.addGenericPassword("svc", "acct", bytes("fresh")), Security::errSecSuccess);
        ASSERT_EQ(keychain.copyGenericPassword("svc", "acct", secret), Security::errSecSuccess);
        EXPECT_EQ(secret, bytes("fresh"));
    }
    EXPECT_EQ(kept(), (std::vector<std::string>{"{ also not json", "{ not json"}));
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
