#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/PropertyList.h"
#include "VexilConfig.h"

using namespace Foundation;
namespace fs = std::filesystem;

TEST(Bundle, ResourcesComeFromVEXIL_RESOURCES) {
    const char* resources = std::getenv("VEXIL_RESOURCES");
    ASSERT_NE(resources, nullptr) << "the test harness sets VEXIL_RESOURCES";
    EXPECT_EQ(Bundle::main().resourcePath(), resources);
    EXPECT_EQ(Bundle::main().pathForResource("Info", "plist"), std::string(resources) + "/Info.plist");
}

TEST(Bundle, ResourceLookupByNameAndType) {
    Bundle& bundle = Bundle::main();
    std::string saved = bundle.resourcePath();
    std::string dir = temporaryDirectory();
    std::ofstream(dir + "/formats.json") << "{}";
    std::ofstream(dir + "/html") << "<html>";
    fs::create_directories(dir + "/templates");
    bundle.setResourcePath(dir);
    struct Case {
        const char* name;
        const char* type;
        std::optional<std::string> path;
    } cases[] = {
        {"formats", "json", dir + "/formats.json"},
        {"formats", ".json", dir + "/formats.json"},
        {"html", "", dir + "/html"},
        {"templates", "", dir + "/templates"},
        {"formats", "plist", std::nullopt},
        {"missing", "json", std::nullopt},
        {"", "json", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(bundle.pathForResource(c.name, c.type), c.path) << c.name << "." << c.type;
    bundle.setResourcePath(saved);
}

TEST(Bundle, InfoDictionaryHasTheBuiltInKeysAndMergesInfoPlist) {
    Bundle& bundle = Bundle::main();
    EXPECT_EQ(bundle.bundleIdentifier(), "com.tarnwick.vexil");
    // One version, the project's, in the Info dictionary and every --version.
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString"), Value(VEXIL_VERSION));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value(VEXIL_BUILD_NUMBER));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleName"), Value("Vexil"));
    EXPECT_TRUE(bundle.objectForInfoDictionaryKey("NoSuchKey").isNull());

    std::string saved = bundle.resourcePath();
    std::string dir = temporaryDirectory();
    Data info =
        propertyListData(Value(Dictionary{{"CFBundleVersion", "42"}, {"DerAvedurAppDelegateForwarderEnabled", false}}),
                         PropertyListFormat::XML);
    std::ofstream(dir + "/Info.plist", std::ios::binary)
        .write(reinterpret_cast<const char*>(info.data()), static_cast<long>(info.size()));
    bundle.setResourcePath(dir);
    bundle.reloadInfoDictionary();
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value("42"));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("DerAvedurAppDelegateForwarderEnabled"), Value(false));
    EXPECT_EQ(bundle.bundleIdentifier(), "com.tarnwick.vexil");
    bundle.setResourcePath(saved);
    bundle.reloadInfoDictionary();
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleVersion"), Value(VEXIL_BUILD_NUMBER));
}

// Without VEXIL_RESOURCES: "Resources" beside the binary, else the installed
// layout (<prefix>/bin with <prefix>/share/vexil), else a "Resources" above
// it (the build tree).
TEST(Bundle, ResourcesAreFoundFromTheBinarysFolder) {
    const fs::path root = temporaryDirectory();
    const fs::path prefix = root / "stage" / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "vexil");
    EXPECT_EQ(Bundle::resourceDirectoryFor((prefix / "bin").string()), (prefix / "share" / "vexil").string());

    fs::create_directories(prefix / "bin" / "Resources");
    EXPECT_EQ(Bundle::resourceDirectoryFor((prefix / "bin").string()), (prefix / "bin" / "Resources").string());

    const fs::path build = root / "build";
    fs::create_directories(build / "Resources");
    fs::create_directories(build / "tests" / "Platform" / "Foundation");
    EXPECT_EQ(Bundle::resourceDirectoryFor((build / "tests" / "Platform" / "Foundation").string()),
              (build / "Resources").string());
    fs::remove_all(root);
}

namespace {
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(std::vector<std::string> names) {
        for (auto& name : names) {
            const char* value = std::getenv(name.c_str());
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~EnvironmentGuard() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
}  // namespace

TEST(Directories, AllBelowVEXIL_HOME) {
    EnvironmentGuard guard({"VEXIL_HOME"});
    std::string home = temporaryDirectory();
    setenv("VEXIL_HOME", home.c_str(), 1);
    struct Case {
        std::string actual, expected;
    } cases[] = {
        {applicationSupportDirectory(), home + "/.local/share/vexil"},
        {cachesDirectory(), home + "/.cache/vexil"},
        {preferencesDirectory(), home + "/.config/com.tarnwick.vexil"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.actual, c.expected);
        EXPECT_TRUE(fs::is_directory(c.actual)) << c.actual;
    }
    std::string a = temporaryDirectory(), b = temporaryDirectory();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(home + "/tmp/vexil-", 0), 0u) << a;
    EXPECT_TRUE(fs::is_directory(b));
}

TEST(Directories, XDGWithoutVEXIL_HOME) {
    EnvironmentGuard guard({"VEXIL_HOME", "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"});
    std::string root = temporaryDirectory();
    unsetenv("VEXIL_HOME");
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(preferencesDirectory(), root + "/config/com.tarnwick.vexil");
    EXPECT_EQ(applicationSupportDirectory(), root + "/home/.local/share/vexil");
    EXPECT_EQ(cachesDirectory(), root + "/home/.cache/vexil");
    EXPECT_EQ(homeDirectory(), root + "/home");
}

TEST(Directories, FilesInTheOldDataFolderMoveOverOnceAndNothingIsOverwritten) {
    EnvironmentGuard guard({"VEXIL_HOME"});
    const std::string home = temporaryDirectory();
    setenv("VEXIL_HOME", home.c_str(), 1);
    auto write = [](const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    };
    auto read = [](const fs::path& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const fs::path old = home + "/.local/share/com.tarnwick.vexil";
    // No new folder yet: the old one is renamed whole.
    write(old / "default.realm", "library");
    write(old / "sub/log", "log");
    const fs::path data = applicationSupportDirectory();
    EXPECT_EQ(read(data / "default.realm"), "library");
    EXPECT_EQ(read(data / "sub/log"), "log");
    EXPECT_FALSE(fs::exists(old));

    // Both exist (an older copy ran again): new names move, a clash stays where it was.
    write(old / "default.realm", "older library");
    write(old / "cloud-device-id", "device");
    applicationSupportDirectory();
    EXPECT_EQ(read(data / "default.realm"), "library");
    EXPECT_EQ(read(data / "cloud-device-id"), "device");
    EXPECT_EQ(read(old / "default.realm"), "older library");
    EXPECT_FALSE(fs::exists(old / "cloud-device-id"));

    // Nothing old: nothing happens, and a missing source is no error.
    moveOldFolder(home + "/absent", home + "/target");
    EXPECT_FALSE(fs::exists(home + "/target"));
}
