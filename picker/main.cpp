#include <iostream>

#include "picker/Shell/VexilApplication.h"

int main(int argc, char** argv) {
    if (auto status = vexil::handleCommandLine(argc, argv, std::cout, std::cerr)) return *status;
    return vexil::runApplication();
}
