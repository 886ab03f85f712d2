#include "picker/Views/Controls/ZNDropDownButton.h"

namespace Vexil::Views {
using namespace AppKit;

void ZNDropDownButton::preparePopupCell() {
    if (popupCell) return;
    popupCell = std::make_shared<NSPopUpButtonCell>();
    popupCell->pullsDown = true;
    popupCell->preferredEdge = 3;  // the maximum-Y edge
}

void ZNDropDownButton::viewWillMoveToWindow(NSWindow* window) {
    NSButton::viewWillMoveToWindow(window);
    preparePopupCell();
}

void ZNDropDownButton::mouseDown(NSEvent& event) {
    NSButton::mouseDown(event);
    if (!popupCell || !isEnabled()) return;
    auto owner = delegate.lock();
    if (!owner) return;
    owner->buildContextMenu();
    if (auto menu = owner->dropDownMenu()) NSMenu::popUpContextMenu(menu, event, owner->dropDownView());
}

}  // namespace Vexil::Views
