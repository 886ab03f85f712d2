#pragma once
// The row of five tag-colour dots in a folder tab's menu.
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSView.h"

#include <array>
#include <memory>
#include <vector>

namespace Vexil::Views {

// The tab whose menu shows the row (held weakly: the tab owns its menu, the
// menu owns the row).
class ZNLTagMenuItemDelegate {
public:
    virtual ~ZNLTagMenuItemDelegate() = default;
    // Stores the folder's tag colour; true when stored.
    virtual bool didChangeFolderColor(const AppKit::NSColorRef& color) = 0;
    // Closes the tab's menu.
    virtual void cancelMenuTracking() = 0;
    // Whether the tab still has a folder requests can go to.
    virtual bool hasDelegate() const { return true; }
};

class ZNLTagMenuItem : public AppKit::NSView {
public:
    using AppKit::NSView::NSView;
    // Red, green, blue, yellow, purple: made once and shared.
    static const std::vector<AppKit::NSColorRef>& tagColors();
    // A row with its five dots, tags 0..4, each tinted with its colour.
    static std::shared_ptr<ZNLTagMenuItem> loadFromNib();

    std::array<std::weak_ptr<AppKit::NSButton>, 5> buttons;
    std::weak_ptr<ZNLTagMenuItemDelegate> delegate;

    // A dot's action: a tag outside 0..4 is ignored.
    void buttonPressed(AppKit::NSControl& sender);
};

}  // namespace Vexil::Views
