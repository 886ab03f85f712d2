#pragma once
// The drop-down arrow of a folder tab: a press opens its owner's context menu.
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"

#include <memory>

namespace Vexil::Views {

// The owner of the arrow (a folder tab), held weakly.
class ZNDropDownButtonDelegate {
public:
    virtual ~ZNDropDownButtonDelegate() = default;
    // Builds the owner's context menu, once.
    virtual void buildContextMenu() = 0;
    virtual std::shared_ptr<AppKit::NSMenu> dropDownMenu() const = 0;
    // The view the menu is shown for.
    virtual AppKit::NSView* dropDownView() = 0;
};

// Stands for the platform's pull-down pop-up cell: its presence is the
// condition of a press opening the menu.
struct NSPopUpButtonCell {
    std::string title;
    bool pullsDown = false;
    int preferredEdge = 0;
};

class ZNDropDownButton : public AppKit::NSButton {
public:
    using AppKit::NSButton::NSButton;
    std::weak_ptr<ZNDropDownButtonDelegate> delegate;
    std::weak_ptr<AppKit::NSView> relativeView;
    std::shared_ptr<NSPopUpButtonCell> popupCell;

    // Makes the pop-up cell once (pulls down, preferred edge 3).
    void preparePopupCell();
    void viewWillMoveToWindow(AppKit::NSWindow* window) override;
    void mouseDown(AppKit::NSEvent& event) override;
};

}  // namespace Vexil::Views
