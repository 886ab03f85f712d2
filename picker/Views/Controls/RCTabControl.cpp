#include "picker/Views/Controls/RCTabControl.h"

using namespace AppKit;

std::vector<std::shared_ptr<NSButton>> RCTabControl::tabButtons() const {
    std::vector<std::shared_ptr<NSButton>> out;
    for (const auto& v : subviews())
        if (auto b = std::dynamic_pointer_cast<NSButton>(v)) out.push_back(b);
    return out;
}

std::shared_ptr<NSButton> RCTabControl::selectedTab() const {
    for (auto& b : tabButtons())
        if (b->state() == NSControlStateValueOn) return b;
    return nullptr;
}

void RCTabControl::setUp() {
    std::weak_ptr<NSView> weakSelf = self();
    for (auto& b : tabButtons()) {
        b->actionName = "onTabSelected:";
        b->action = [weakSelf](NSControl& sender) {
            auto me = std::static_pointer_cast<RCTabControl>(weakSelf.lock());
            if (auto* button = dynamic_cast<NSButton*>(&sender); me && button) me->selectTab(*button);
        };
    }
    setWantsLayer(true);
    if (superview()) superview()->setWantsLayer(true);
    containerLayer->setFrame(bounds());
    lineShape->setFrame(bounds());
    if (containerLayer->sublayers().empty()) containerLayer->addSublayer(lineShape);
    if (!containerLayer->superlayer()) layer()->addSublayer(containerLayer);
    updateUnderline();
}

void RCTabControl::updateUnderline() {
    auto tab = selectedTab();
    if (!tab) return;
    const CGRect f = tab->frame();
    lineShape->path = QuartzCore::CGPath::rect(CGRectMake(f.minX() + 2, bounds().minY() + 3, f.width() - 2, 0));
    lineShape->lineWidth = 2;
    lineShape->strokeColor = {0.184, 0.49, 0.965, 1.0};
    lineShape->fillColor = QuartzCore::kClearColor;
    lineShape->lineCap = QuartzCore::CALineCap::round;
    lineShape->masksToBounds = true;
    lineShape->setNeedsDisplay();
}

void RCTabControl::selectTab(NSButton& sender) {
    for (auto& b : tabButtons()) b->setState(NSControlStateValueOff);
    sender.setState(NSControlStateValueOn);
    updateUnderline();
    if (auto d = tabDelegate.lock()) d->schemeTabSelected(sender.tag);
}
