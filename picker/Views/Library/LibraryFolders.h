#pragma once
// The library window's folder and colour logic: the folders list, the visible
// colours of the selected folder, and the requests of the tabs and the cells.
// Tabs and cells name folders by id and colours by position; every request
// resolves against the store's current state and does nothing when its target
// is gone or out of range.
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Colors/ColorFormat.h"
#include "Platform/AppKit/NSColor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Vexil::Views {

// A palette generator window the library opened; its owner closes it.
class PaletteGeneratorHandle {
public:
    virtual ~PaletteGeneratorHandle() = default;
    virtual void close() = 0;
};

class LibraryFolders {
public:
    // Opens the palette generator on a colour (set by the window's owner).
    std::function<std::shared_ptr<PaletteGeneratorHandle>(const AppKit::NSColorRef&)> openPaletteGenerator;
    // Opens the colour editor on a stored colour.
    std::function<void(const AppKit::NSColorRef&, const std::shared_ptr<ZNLColorItem>&)> openColorEditor;
    // Called after a change the views must show (cells, tabs, the format label).
    std::function<void()> reloadCollection;
    std::function<void()> reloadTabs;
    std::function<void(const std::string&)> showFormatName;

    // Live folders sorted by order; live colours of a folder sorted by order.
    static std::vector<std::shared_ptr<ZNLColorFolder>> folders();
    static std::vector<std::shared_ptr<ZNLColorItem>> visibleColors(const std::shared_ptr<ZNLColorFolder>& folder);
    // The position of the folder with this id among the live folders.
    static std::optional<std::size_t> indexOfFolder(std::int64_t folderId);
    // The name of a folder's format; "CSS Hex" when it has none.
    static std::string formatName(const std::shared_ptr<ZNLColorFolder>& folder);
    // "HEX 1A2B3C - 2": the display colour and the item's order.
    static std::string hexLabel(const ZNLColorItem& item);

    std::shared_ptr<ZNLColorFolder> selectedFolder;
    // Reads the selected folder from the library.
    void load();
    std::size_t itemCount() const;
    std::vector<std::shared_ptr<ZNLColorItem>> selectedColors() const { return visibleColors(selectedFolder); }

    void selectFolder(std::int64_t folderId);
    // "Untitled", order 1, the next folder number; not selected. Nothing when no number is free.
    std::shared_ptr<ZNLColorFolder> addFolder();
    void renameFolder(std::int64_t folderId, const std::string& name);
    // False when the folder is gone.
    bool removeFolder(std::int64_t folderId);
    bool changeFolderColor(std::int64_t folderId, const AppKit::NSColor& color);
    // 1 when the folder is gone.
    std::int64_t formatIdForFolder(std::int64_t folderId) const;
    // Then the label shows the selected folder's stored format.
    void changeFolderFormat(const ColorFormat& format, std::int64_t folderId);
    // A cell's button tag: the colour's position; out of range does nothing.
    bool deleteColor(long tag);
    std::shared_ptr<ZNLColorItem> colorAt(long tag) const;

    // A cell dropped at another place of the row: the destination is clamped
    // to the row. False when nothing was stored (the view moves the cell back).
    bool moveColor(long source, long destination);
    // A colour dropped on a folder's tab: added at the end of that folder
    // (unless it holds the same text already); only then the source colour of
    // the selected folder is flagged, when it is still at that index with that
    // text. True when the colour was added.
    bool dropColor(const std::string& colorText, long colorIndex, std::int64_t targetFolderId);

    // The generator on the colour at a cell's tag; its window is kept until
    // it closes or applies.
    void generatePalette(long tag);
    void paletteGeneratorDidClose();
    // A new folder of that name with the colours; the generator closes when
    // it was saved, else the alert "Palette cannot be saved".
    bool paletteGeneratorDidApply(const std::vector<AppKit::NSColorRef>& colors, const std::string& name);
    // The editor on the colour at a cell's tag.
    void adjustColor(long tag);
    // The edited colour saved into the colour the editor was opened on.
    void colorChooserDidSave(const AppKit::NSColor& color, const std::string& name);
    std::shared_ptr<ZNLColorItem> selectedColorItem;

private:
    std::shared_ptr<PaletteGeneratorHandle> generator_;
    static std::shared_ptr<ZNLColorFolder> folderWithId(std::int64_t folderId);
    void reload() {
        if (reloadCollection) reloadCollection();
    }
};

}  // namespace Vexil::Views
