#include "Platform/AppKit/NSStatusBar.h"

#include <algorithm>

#include "Platform/AppKit/NSApplication.h"

namespace AppKit {

namespace {
constexpr double kItemPadding = 6;
constexpr double kRightInset = 8;
NSStatusBar* g_bar = nullptr;

class StatusBarWindow : public NSPanel {
public:
    using NSPanel::NSPanel;
    bool canBecomeKeyWindow() const override { return false; }
    bool canBecomeMainWindow() const override { return false; }
};
}  // namespace

NSStatusBar& NSStatusBar::systemStatusBar() {
    if (!g_bar) g_bar = new NSStatusBar();
    return *g_bar;
}

void NSStatusBar::resetForTests() {
    auto& bar = systemStatusBar();
    for (auto& i : std::vector<std::shared_ptr<NSStatusItem>>(bar.items_)) bar.removeStatusItem(i);
}

CGRect NSStatusBar::barFrame() const {
    auto screens = NSScreen::screens();
    if (screens.empty()) return {};
    CGRect s = screens.front()->frame();
    return CGRectMake(s.minX(), s.maxY() - thickness(), s.width(), thickness());
}

std::shared_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(double length) {
    auto item = std::make_shared<NSStatusItem>();
    item->length_ = length;
    item->button_ = NSView::make<NSStatusBarButton>(CGRectMake(0, 0, 22, thickness()));
    item->button_->item = item;
    item->button_->bordered = false;
    item->button_->imagePosition = NSCellImagePosition::imageLeft;
    item->window_ = NSWindow::make<StatusBarWindow>(CGRectMake(0, 0, 22, thickness()),
                                                    NSWindowStyleMaskBorderless | NSWindowStyleMaskNonactivatingPanel);
    item->window_->setLevel(NSStatusWindowLevel);
    item->window_->isOpaque = false;
    item->window_->hasShadow = false;
    item->window_->releasedWhenClosed = false;
    item->window_->setBackgroundColor(NSColor::colorWithCalibratedWhite(0, 0));
    item->window_->contentView()->addSubview(item->button_);
    items_.push_back(item);
    layout();
    item->window_->orderFront();
    displayBackend().statusItemChanged(*item);
    return item;
}

void NSStatusBar::removeStatusItem(const std::shared_ptr<NSStatusItem>& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    if (item->menu && item->menu->isOpen()) item->menu->cancelTracking();
    item->window_->orderOut();
    layout();
    displayBackend().statusItemChanged(*item);
}

void NSStatusBar::layout() {
    CGRect bar = barFrame();
    double right = bar.maxX() - kRightInset;
    for (auto& item : items_) {
        if (!item->visible) continue;
        double w = item->wantedWidth();
        CGRect frame = CGRectMake(right - w, bar.minY(), w, bar.height());
        item->window_->setFrame(frame);
        item->button_->setFrame({{0, 0}, frame.size});
        right -= w;
    }
}

NSStatusItem::~NSStatusItem() = default;

double NSStatusItem::wantedWidth() const {
    const double thickness = NSStatusBar::systemStatusBar().thickness();
    if (length_ == NSSquareStatusItemLength) return thickness;
    if (length_ >= 0) return length_;
    double w = 0;
    if (auto img = button_->image()) w += img->size().width;
    if (!button_->title().empty()) {
        if (w > 0) w += 4;
        w += button_->font->sizeOfString(button_->title()).width;
    }
    return std::max(w + 2 * kItemPadding, thickness);
}

void NSStatusItem::setLength(double length) {
    length_ = length;
    NSStatusBar::systemStatusBar().layout();
}

void NSStatusItem::relayout() {
    NSStatusBar::systemStatusBar().layout();
    displayBackend().statusItemChanged(*this);
}

CGRect NSStatusItem::frame() const {
    if (auto onPanel = displayBackend().statusItemFrame(*this)) return *onPanel;
    return panelFrame.value_or(window_->frame());
}

std::shared_ptr<NSScreen> NSStatusItem::screen() const {
    const CGRect f = frame();
    const CGPoint mid{f.midX(), f.midY()};
    auto screens = NSScreen::screens();
    std::shared_ptr<NSScreen> nearest;
    double best = 0;
    for (auto& s : screens) {
        const CGRect r = s->frame();
        if (r.contains(mid)) return s;
        const double dx = std::max({r.minX() - mid.x, 0.0, mid.x - r.maxX()});
        const double dy = std::max({r.minY() - mid.y, 0.0, mid.y - r.maxY()});
        if (!nearest || dx * dx + dy * dy < best) nearest = s, best = dx * dx + dy * dy;
    }
    return nearest;
}

void NSStatusItem::click(int button) {
    if (menu) {
        if (menu->isOpen()) {
            menu->cancelTracking();
            return;
        }
        // Under the item, its left edge at the item's left; above it on a
        // panel along the bottom of its screen, where the menu would not fit below.
        // Clear of the panel the item is on (the screen's visible part ends at its edge).
        CGRect f = frame();
        const auto onScreen = screen();
        const CGRect room = onScreen ? onScreen->visibleFrame() : f;
        CGPoint topLeft{f.minX(), std::min(f.minY(), room.maxY())};
        const double bottom = onScreen ? onScreen->frame().minY() : 0;
        if (const double h = menu->layoutSize().height; f.minY() - h < bottom)
            topLeft.y = std::max(f.maxY(), room.minY()) + h;
        menu->openAtScreenPoint(topLeft);
        return;
    }
    (void)button;
    button_->sendAction();
}

void NSStatusBarButton::mouseDown(NSEvent&) {
    if (auto i = item.lock()) i->click(0);
}

void NSStatusBarButton::rightMouseDown(NSEvent&) {
    if (auto i = item.lock()) i->click(1);
}

void NSStatusBarButton::setImage(NSImageRef image) {
    NSButton::setImage(std::move(image));
    if (auto i = item.lock()) i->relayout();
}

void NSStatusBarButton::setTitle(std::string title) {
    NSButton::setTitle(std::move(title));
    if (auto i = item.lock()) i->relayout();
}

void NSStatusBarButton::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    auto i = item.lock();
    const bool open = i && i->menu && i->menu->isOpen();
    if (open) ctx.fillRoundedRect(CoreGraphics::CGRectInset(bounds(), 1, 2), 4, RGBA{0, 0, 0, 0.15});
    double x = 6;
    if (auto img = image()) {
        CGSize s = img->size();
        img->drawInRect(ctx, CGRectMake(x, bounds().midY() - s.height / 2, s.width, s.height));
        x += s.width + 4;
    }
    if (!title().empty()) {
        CGSize s = font->sizeOfString(title());
        ctx.drawText(title(), CGRectMake(x, bounds().midY() - s.height / 2, s.width + 1, s.height), font->spec(),
                     RGBA{0, 0, 0, 0.85});
    }
}

}  // namespace AppKit
