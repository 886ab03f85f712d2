#include "picker/Views/Library/LibraryShell.h"

namespace Vexil::Views {

LibraryShell& LibraryShell::shared() {
    static LibraryShell shell;
    return shell;
}

}  // namespace Vexil::Views
