#include <cstdio>

#include "picker/CommandLine.h"

int main(int argc, char** argv) {
    if (int status = vexil::handleCommandLine(argc, argv); status >= 0) return status;
    if (int status = vexil::checkResources(); status != 0) return status;
    std::puts("Vexil started");
    std::puts("Vexil stopped");
    return 0;
}
