#include "support/TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

namespace vexil::test {
namespace {
std::string gScratchHome;
}

void prepareEnvironment() {
    if (const char* home = std::getenv("VEXIL_HOME"); home && *home) return;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexil-test-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("cannot make a scratch VEXIL_HOME");
        std::exit(1);
    }
    gScratchHome = pattern;
    setenv("VEXIL_HOME", gScratchHome.c_str(), 1);
    if (const char* resources = std::getenv("VEXIL_RESOURCES"); !resources || !*resources)
        setenv("VEXIL_RESOURCES", VEXIL_TEST_RESOURCES, 1);
    // Snapshots compare text drawn with the DejaVu faces only.
    if (const char* fonts = std::getenv("FONTCONFIG_FILE"); !fonts || !*fonts)
        setenv("FONTCONFIG_FILE", VEXIL_TEST_FONTS_CONF, 1);
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("LC_ALL", "C.UTF-8", 1);
}

void finishEnvironment(int result) {
    if (gScratchHome.empty()) return;
    if (result == 0) {
        std::error_code ec;
        std::filesystem::remove_all(gScratchHome, ec);
    } else {
        std::fprintf(stderr, "test files kept in %s\n", gScratchHome.c_str());
    }
}

}  // namespace vexil::test
