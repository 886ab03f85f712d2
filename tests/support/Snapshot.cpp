#include "support/Snapshot.h"

#include <cstdlib>
#include <filesystem>

#include "Platform/CoreGraphics/Compare.h"

namespace TestSupport {

::testing::AssertionResult matchesSnapshot(const CoreGraphics::Image& actual, const std::string& goldenPath,
                                           double tolerance) {
    const std::filesystem::path golden = std::filesystem::path(VEXIL_TESTS_DIR) / goldenPath;
    std::filesystem::path actualPath = golden;
    actualPath.replace_extension(".actual.png");
    if (const char* update = std::getenv("VEXIL_UPDATE_SNAPSHOTS"); update && std::string(update) == "1") {
        std::filesystem::create_directories(golden.parent_path());
        if (!actual.writePNG(golden.string())) {
            return ::testing::AssertionFailure() << "cannot write " << golden;
        }
        std::filesystem::remove(actualPath);
        return ::testing::AssertionSuccess() << "wrote " << golden;
    }
    auto expected = CoreGraphics::Image::readPNG(golden.string());
    if (!expected) {
        actual.writePNG(actualPath.string());
        return ::testing::AssertionFailure() << "no snapshot at " << golden << " (the picture is at " << actualPath
                                             << "; run with VEXIL_UPDATE_SNAPSHOTS=1 to accept it)";
    }
    const auto difference = CoreGraphics::compareImages(actual, *expected, tolerance);
    if (difference.matches()) {
        std::filesystem::remove(actualPath);
        return ::testing::AssertionSuccess();
    }
    actual.writePNG(actualPath.string());
    return ::testing::AssertionFailure() << goldenPath << ": " << difference.describe() << " (actual " << actual.width()
                                         << "x" << actual.height() << ", expected " << expected->width() << "x"
                                         << expected->height() << "); the picture is at " << actualPath;
}

}  // namespace TestSupport
