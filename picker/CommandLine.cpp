#include "picker/CommandLine.h"

#include <cstdio>
#include <cstring>

#include "Platform/Foundation/Bundle.h"
#include "VexilConfig.h"

namespace vexil {

namespace {
const char* usageText() {
    return "usage: vexil [--help | --version]\n"
           "Vexil, a colour picker for the menu bar.\n"
           "  --help     show this text\n"
           "  --version  show the version\n";
}
}  // namespace

int handleCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "%s"
                "Resources: %s\n"
                "See vexil(1) for the environment variables and files.\n",
                usageText(), Foundation::Bundle::main().resourcePath().c_str());
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vexil %s\n", VEXIL_VERSION);
            return 0;
        }
        std::fprintf(stderr,
                     argv[i][0] == '-' ? "vexil: unrecognized option '%s'\n" : "vexil: unexpected argument '%s'\n",
                     argv[i]);
        std::fprintf(stderr, "%s", usageText());
        return 2;
    }
    return -1;
}

int checkResources() {
    const auto& bundle = Foundation::Bundle::main();
    if (bundle.pathForResource("formats", "json")) return 0;
    std::fprintf(stderr,
                 "vexil: the application's resources are missing from %s; reinstall Vexil or set "
                 "VEXIL_RESOURCES to their folder\n",
                 bundle.resourcePath().c_str());
    return 1;
}

}  // namespace vexil
