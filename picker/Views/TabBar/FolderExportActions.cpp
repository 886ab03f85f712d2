#include "picker/Views/TabBar/FolderExportActions.h"

#include <climits>

namespace Vexil::Views {

bool exportWithTag(FolderExportActions& actions, long tag) {
    if (tag < INT_MIN || tag > INT_MAX) return false;
    auto format = exportFormatFromOrdinal(static_cast<int>(tag));
    if (!format) return false;
    actions.exportFolder(*format);
    return true;
}

}  // namespace Vexil::Views
