#pragma once
// The export requests of a folder tab's menu, answered by the library window's
// export side (set by the window's owner; tests set a recorder).
#include "picker/Export/ExportFormat.h"

#include <optional>
#include <string>

namespace Vexil::Views {

class FolderExportActions {
public:
    virtual ~FolderExportActions() = default;
    // A colour list file; no path asks the user where.
    virtual void exportColorList(const std::optional<std::string>& path) = 0;
    // A swatch exchange file; no path asks the user where.
    virtual void exportSwatchExchange(const std::optional<std::string>& path) = 0;
    virtual void exportFolder(ExportFormat format) = 0;
};

// An export menu item's tag: only the format ordinals 0..5 export; false otherwise.
bool exportWithTag(FolderExportActions& actions, long tag);

}  // namespace Vexil::Views
