#include "picker/Views/TabBar/ZNLTagMenuItem.h"

#include "Platform/AppKit/NSImage.h"

namespace Vexil::Views {
using namespace AppKit;

const std::vector<NSColorRef>& ZNLTagMenuItem::tagColors() {
    static const std::vector<NSColorRef> colors = {NSColor::redColor(), NSColor::greenColor(), NSColor::blueColor(),
                                                   NSColor::yellowColor(),
                                                   NSColor::colorWithCalibratedRed(0.5, 0, 0.5, 1)};
    return colors;
}

std::shared_ptr<ZNLTagMenuItem> ZNLTagMenuItem::loadFromNib() {
    auto row = NSView::make<ZNLTagMenuItem>(CGRectMake(0, 0, 150, 24));
    auto dot = NSImage::imageNamed(NSImageNameStatusNone);
    std::weak_ptr<ZNLTagMenuItem> weakRow = row;
    for (long i = 0; i < 5; ++i) {
        auto button = NSView::make<NSButton>(CGRectMake(14 + 26.0 * double(i), 2, 20, 20));
        button->tag = i;
        button->actionName = "buttonPressed:";
        button->action = [weakRow](NSControl& sender) {
            if (auto r = weakRow.lock()) r->buttonPressed(sender);
        };
        if (dot) button->setImage(dot->tintedCopy(tagColors()[std::size_t(i)]));
        row->addSubview(button);
        row->buttons[std::size_t(i)] = button;
    }
    return row;
}

void ZNLTagMenuItem::buttonPressed(NSControl& sender) {
    auto tab = delegate.lock();
    if (!tab || !tab->hasDelegate()) return;
    if (sender.tag < 0 || sender.tag >= long(tagColors().size())) return;
    if (tab->didChangeFolderColor(tagColors()[std::size_t(sender.tag)])) tab->cancelMenuTracking();
}

}  // namespace Vexil::Views
