#include "picker/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

int usageError(const char* argument) {
    std::fprintf(stderr,
                 argument[0] == '-' ? "vexil: unrecognized option '%s'\n" : "vexil: unexpected argument '%s'\n",
                 argument);
    std::fprintf(stderr, "%s", usageText());
    return 2;
}

// Standard output may be a full disk or a closed pipe: a text that did not
// arrive is a failure the caller must see.
int writeOut(const std::string& text) {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) == 0 && written) return 0;
    const int error = errno;
    std::fprintf(stderr, "vexil: cannot write to standard output: %s\n",
                 error ? std::strerror(error) : "write error");
    return 1;
}
}  // namespace

int handleCommandLine(int argc, char** argv) {
    if (argc < 2) return -1;
    // Every argument must be an option we know: `vexil --version --bogus` is a
    // usage error, not a version. --help wins over --version, as elsewhere.
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h")
            help = true;
        else if (option != "--version")
            return usageError(argv[i]);
    }
    if (help)
        return writeOut(std::string(usageText()) + "Resources: " + Foundation::Bundle::main().resourcePath() +
                        "\nSee vexil(1) for the environment variables and files.\n");
    return writeOut(std::string("vexil ") + VEXIL_VERSION + "\n");
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
