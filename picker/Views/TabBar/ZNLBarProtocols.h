#pragma once
// What the folder tabs ask of their owners.
//
// A tab sends every folder request with kRequestingTab as its folder; the tab
// bar replaces it by the folder id the tab was made for and passes the
// request on to the library window. Folders are named by id, not by their
// position in the strip, so a folder added or removed elsewhere (sync, the
// editor) never shifts a request onto another folder: the library resolves
// the id against its current folders and does nothing when the folder is gone.
//
// Nobody owns its delegate: a tab holds its bar weakly, the bar holds the
// library window weakly.
#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Views/TabBar/FolderExportActions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Vexil::Views {

class ZNLBarButton;

// The folder argument a tab sends; the bar substitutes the tab's folder id.
inline constexpr std::int64_t kRequestingTab = -1;

// The ten requests of a tab, in their order; the three exports (inherited)
// carry no folder: they act on the library window's selected folder.
class ZNLBarButtonDelegate : public FolderExportActions {
public:
    // 0: the tab was clicked; state 1 = on.
    virtual void didSelectFolder(ZNLBarButton& tab, std::int64_t folderId, AppKit::NSControlStateValue state) = 0;
    // 1: the tab was renamed in place (empty names go on as typed).
    virtual void didRenameFolder(ZNLBarButton& tab, std::int64_t folderId, const std::string& name) = 0;
    // 2: true when the folder was removed.
    virtual bool didRemoveFolder(ZNLBarButton& tab, std::int64_t folderId) = 0;
    // 3: true when the tag colour was stored.
    virtual bool didChangeFolderColor(ZNLBarButton& tab, std::int64_t folderId, const AppKit::NSColorRef& color) = 0;
    // 4: the folder's text-format id.
    virtual std::int64_t formatIdForFolder(ZNLBarButton& tab, std::int64_t folderId) = 0;
    // 5: the folder takes another text format.
    virtual void didChangeFolderFormat(ZNLBarButton& tab, const ColorFormat& format, std::int64_t folderId) = 0;
    // 6: a colour of the source folder, at colorIndex among its visible
    // colours, was dropped on the tab of folderId.
    virtual void didDropColor(ZNLBarButton& tab, const std::string& colorString, std::int64_t colorIndex,
                              std::int64_t folderId, std::int64_t sourceFolderId) = 0;
    // 7, 8, 9: exportColorList, exportSwatchExchange, exportFolder (FolderExportActions).
};

// Supplies the tab bar's folders: the live folders sorted by order, read
// afresh at every reload.
class ZNLBarDataSource {
public:
    virtual ~ZNLBarDataSource() = default;
    virtual std::vector<std::shared_ptr<ZNLColorFolder>> folders() = 0;
};

}  // namespace Vexil::Views
