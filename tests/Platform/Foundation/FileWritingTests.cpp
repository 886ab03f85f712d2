#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileWriting.h"

using namespace Foundation;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(FileWriting, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    const fs::path dir = temporaryDirectory();
    const fs::path file = dir / "out.txt";
    ASSERT_TRUE(writeFileAtomically(file.string(), "first version, longer"));
    ASSERT_TRUE(writeFileAtomically(file.string(), std::string("two\0bytes", 9)));
    EXPECT_EQ(contents(file), std::string("two\0bytes", 9));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

TEST(FileWriting, FailuresReportTheCauseAndChangeNothing) {
    const fs::path dir = temporaryDirectory();
    const fs::path blocker = dir / "plain-file";
    ASSERT_TRUE(writeFileAtomically(blocker.string(), "kept"));
    struct Case {
        fs::path path;
        long code;
    };
    // As root no permission is refused, so only the folder's absence is tried.
    for (const auto& c : {Case{dir / "missing" / "x.txt", 4}, Case{blocker / "x.txt", 4}, Case{dir, 512}}) {
        Error error;
        EXPECT_FALSE(writeFileAtomically(c.path.string(), "new", &error)) << c.path;
        EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
        EXPECT_EQ(error.code, c.code) << c.path;
        const Value* path = error.userInfo.find("NSFilePath");
        ASSERT_TRUE(path);
        EXPECT_EQ(*path, Value(c.path.string()));
        EXPECT_NE(error.description.find(c.path.string()), std::string::npos);
    }
    EXPECT_EQ(contents(blocker), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

}  // namespace

// A damaged file is kept beside its path under a dated name; a second one in
// the same second gets "-2" and the first copy stays as it was; its journals
// go with it; without a file nothing happens.
TEST(FileWriting, DamagedFilesAreSetAsideUnderNamesOfTheirOwn) {
    const fs::path dir = temporaryDirectory();
    const std::string db = (dir / "Logs.sqlite").string();
    const auto executor = TestExecutor::install(1'700'000'000.25);  // 2023-11-14 22:13:20 UTC
    auto write = [](const std::string& path, const std::string& text) { std::ofstream(path) << text; };
    auto read = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    write(db, "first");
    write(db + "-wal", "journal");
    EXPECT_EQ(setFileAside(db, {"-journal", "-wal"}), db + ".damaged-20231114-221320");
    write(db, "second");
    EXPECT_EQ(setFileAside(db, {"-journal", "-wal"}), db + ".damaged-20231114-221320-2");
    EXPECT_EQ(read(db + ".damaged-20231114-221320"), "first");
    EXPECT_EQ(read(db + ".damaged-20231114-221320-wal"), "journal");
    EXPECT_EQ(read(db + ".damaged-20231114-221320-2"), "second");
    EXPECT_FALSE(fs::exists(db));
    EXPECT_FALSE(fs::exists(db + "-wal"));
    EXPECT_EQ(setFileAside(db), std::nullopt);
    fs::remove_all(dir);
}
