#include "Nimbus/Nimbus.h"

namespace Nimbus {

Nimbus& Nimbus::shared() {
    // A function-local static is made once, whichever thread asks first.
    static Nimbus* instance = new Nimbus();
    return *instance;
}

}  // namespace Nimbus
