// The main of every test binary without one of its own.

#include <gmock/gmock.h>

#include "support/TestEnvironment.h"

int main(int argc, char** argv) {
    vexil::test::prepareEnvironment();
    testing::InitGoogleMock(&argc, argv);
    int result = RUN_ALL_TESTS();
    vexil::test::finishEnvironment(result);
    return result;
}
