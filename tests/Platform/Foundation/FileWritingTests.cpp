#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/Foundation/Directories.h"
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
