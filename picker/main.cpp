#include "picker/CommandLine.h"
#include "picker/Shell/VexilApplication.h"

int main(int argc, char** argv) {
    if (int status = vexil::handleCommandLine(argc, argv); status >= 0) return status;
    if (int status = vexil::checkResources(); status != 0) return status;
    return vexil::runApplication();
}
