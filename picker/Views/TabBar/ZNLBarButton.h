#pragma once
// One folder tab: the folder's name beside a circle in its tag colour, with a
// drop-down arrow at its right edge. Normal, hover and selected looks follow
// the system theme; the name is edited in place; the context menu (right
// click or the arrow) offers rename, delete, the exports, the tag colours and
// the folder's text format, built once and updated in place; colours dragged
// from the library drop onto it. Every request goes to `delegate` (the tab
// bar, held weakly) with kRequestingTab as the folder.
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSView.h"
#include "picker/Views/Controls/ZNDropDownButton.h"
#include "picker/Views/TabBar/ZNLBarProtocols.h"
#include "picker/Views/TabBar/ZNLTagMenuItem.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Vexil::Views {

// The title with a foreground colour, centred, in the font.
void setTitleStyle(AppKit::NSButton& button, const AppKit::NSColorRef& color, const AppKit::NSFontRef& font);
// A circle of the colour inset 4 points in an image of that size, stroked
// with the colour darkened by 10.
AppKit::NSImageRef tagCircle(const AppKit::NSColorRef& color, double width, double height);

class ZNLBarButton : public AppKit::NSButton,
                     public AppKit::NSTextFieldDelegate,
                     public ZNLTagMenuItemDelegate,
                     public ZNDropDownButtonDelegate {
public:
    using AppKit::NSButton::NSButton;
    void didInit() override;

    double cornerRadius = 4;
    std::weak_ptr<ZNLBarButtonDelegate> delegate;
    // The folder the tab was made for (set by the tab bar).
    std::int64_t folderId = kRequestingTab;
    bool highlight = false;  // a colour drag is over the tab
    std::shared_ptr<AppKit::NSTextField> textField;
    std::shared_ptr<AppKit::NSTrackingArea> trackingArea;
    bool mouseOver = false;
    std::shared_ptr<AppKit::NSMenu> contextMenu;
    std::shared_ptr<AppKit::NSMenu> languageMenu;
    std::shared_ptr<AppKit::NSMenuItem> lanugagesSubItem;
    std::shared_ptr<ZNDropDownButton> buttonRight;

    // Adds the drop-down arrow (after the tab bar has set the delegate).
    void setUpDropDown();
    // Builds the context menu once; later calls do nothing.
    void buildContextMenu() override;
    void buildFormatMenu();

    void applySelectedLook();
    void applyNormalLook();
    void applyHoverLook();
    // Selected when on, else hover while the pointer is over it, else normal.
    void restyle();
    void setState(AppKit::NSControlStateValue state) override;

    void updateTrackingAreas() override;
    void mouseEntered(AppKit::NSEvent& event) override;
    void mouseExited(AppKit::NSEvent& event) override;
    void rightMouseDown(AppKit::NSEvent& event) override;
    void drawRect(AppKit::CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    // The image and the title side by side (the image replaces the radio mark).
    AppKit::CGSize intrinsicContentSize() const override;

    // Menu actions (the sender is the chosen item).
    void beginRename();
    void endRename();
    void controlTextDidEndEditing(AppKit::NSTextField& field) override;
    void removeFolder();
    void changeFormat(const AppKit::NSMenuItem& sender);
    // The colour list and swatch exchange exports: the export side asks where.
    void exportColorList();
    void exportSwatchExchange();
    // A code export; only tags 0..5 export.
    void exportFormat(long tag);

    // Drag destination for "com.tarnwick.vexil".
    AppKit::NSDragOperation draggingEntered(AppKit::NSDraggingInfo& info) override;
    AppKit::NSDragOperation draggingUpdated(AppKit::NSDraggingInfo& info) override;
    void draggingExited(AppKit::NSDraggingInfo* info) override;
    bool prepareForDragOperation(AppKit::NSDraggingInfo& info) override;
    bool performDragOperation(AppKit::NSDraggingInfo& info) override;

    // ZNLTagMenuItemDelegate
    bool didChangeFolderColor(const AppKit::NSColorRef& color) override;
    void cancelMenuTracking() override;
    bool hasDelegate() const override { return !delegate.expired(); }
    // ZNDropDownButtonDelegate
    std::shared_ptr<AppKit::NSMenu> dropDownMenu() const override { return contextMenu; }
    AppKit::NSView* dropDownView() override { return this; }

private:
    std::shared_ptr<ZNLBarButton> selfTab();
    void setUpTextField();
};

}  // namespace Vexil::Views
