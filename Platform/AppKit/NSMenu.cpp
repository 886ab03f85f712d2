#include "Platform/AppKit/NSMenu.h"

#include <algorithm>
#include <cctype>

#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Dispatch.h"

namespace AppKit {

namespace {
constexpr double kPadding = 4;  // above the first and below the last item
constexpr double kItemHeight = 22;
constexpr double kSeparatorHeight = 11;
constexpr double kGutter = 22;  // the state mark's column
constexpr double kRightMargin = 14;
constexpr double kMinWidth = 120;

NSFontRef menuFont(const NSMenu& m) { return m.font ? m.font : NSFont::systemFontOfSize(13); }

double itemHeight(const NSMenuItem& item, const NSMenu& menu) {
    if (item.hidden) return 0;
    if (item.isSeparatorItem()) return kSeparatorHeight;
    if (item.view) return item.view->frame().height();
    double h = kItemHeight;
    if (item.attributedTitle)
        h = std::max(h, item.attributedTitle->size().height + 6);
    else
        h = std::max(h, menuFont(menu)->sizeOfString(item.title.empty() ? " " : item.title).height + 6);
    if (item.image) h = std::max(h, item.image->size().height + 4);
    return h;
}

std::string keyEquivalentText(const NSMenuItem& item) {
    if (item.keyEquivalent.empty()) return {};
    auto m = item.keyEquivalentModifierMask;
    std::string key = item.keyEquivalent;
    // An upper-case key equivalent means Shift.
    if (key.size() == 1 && std::isupper(static_cast<unsigned char>(key[0]))) m |= NSEventModifierFlagShift;
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (key == " ") key = "Space";
    return shortcutText(m, key);
}

double itemWidth(const NSMenuItem& item, const NSMenu& menu) {
    if (item.hidden || item.isSeparatorItem()) return 0;
    if (item.view) return item.view->frame().width();
    double w = kGutter + 10.0 * static_cast<double>(item.indentationLevel);
    if (item.image) w += item.image->size().width + 6;
    w += item.attributedTitle ? item.attributedTitle->size().width : menuFont(menu)->sizeOfString(item.title).width;
    auto key = keyEquivalentText(item);
    if (!key.empty()) w += 24 + menuFont(menu)->sizeOfString(key).width;
    if (item.hasSubmenu()) w += 18;
    return w + kRightMargin;
}

// Draws an open menu's items; item views are its subviews.
class MenuView : public NSView {
public:
    MenuView(CGRect frame, std::shared_ptr<NSMenu> menu) : NSView(frame), menu_(std::move(menu)) {}
    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override {
        auto menu = menu_.lock();
        if (!menu) return;
        ctx.fillRoundedRect(bounds(), 5, RGBA{0.96, 0.96, 0.96, 0.98});
        ctx.strokeRoundedRect(CoreGraphics::CGRectInset(bounds(), 0.5, 0.5), 5, RGBA{0, 0, 0, 0.15}, 1);
        auto highlighted = menu->highlightedItem();
        const auto font = menuFont(*menu);
        for (long i = 0; i < menu->numberOfItems(); ++i) {
            auto item = menu->itemAtIndex(i);
            if (item->hidden || item->view) continue;
            CGRect r = menu->rectOfItemAtIndex(i);
            if (item->isSeparatorItem()) {
                ctx.strokeLine({r.minX() + 10, r.midY()}, {r.maxX() - 10, r.midY()}, RGBA{0, 0, 0, 0.12}, 1);
                continue;
            }
            const bool hi = item == highlighted;
            if (hi) ctx.fillRoundedRect(CoreGraphics::CGRectInset(r, 4, 0), 4, RGBA{0.04, 0.4, 0.86, 1});
            const RGBA text = !item->enabled ? RGBA{0, 0, 0, 0.3} : hi ? RGBA{1, 1, 1, 1} : RGBA{0, 0, 0, 0.88};
            double x = r.minX() + 10.0 * static_cast<double>(item->indentationLevel);
            if (item->state != NSControlStateValueOff)
                ctx.drawText(item->state == NSControlStateValueOn ? "\u2713" : "\u2013",
                             CGRectMake(x + 6, r.minY(), 16, r.height() - 3), font->spec(), text);
            x += kGutter;
            if (item->image) {
                CGSize s = item->image->size();
                item->image->drawInRect(ctx, CGRectMake(x, r.midY() - s.height / 2, s.width, s.height));
                x += s.width + 6;
            }
            if (item->attributedTitle) {
                CGSize s = item->attributedTitle->size();
                item->attributedTitle->drawInRect(ctx, CGRectMake(x, r.midY() - s.height / 2, r.maxX() - x, s.height),
                                                  text);
            } else {
                CGSize s = font->sizeOfString(item->title);
                ctx.drawText(item->title, CGRectMake(x, r.midY() - s.height / 2, r.maxX() - x, s.height), font->spec(),
                             text);
            }
            auto key = keyEquivalentText(*item);
            if (!key.empty()) {
                CGSize s = font->sizeOfString(key);
                ctx.drawText(key,
                             CGRectMake(r.maxX() - kRightMargin - s.width - (item->hasSubmenu() ? 18 : 0),
                                        r.midY() - s.height / 2, s.width + 1, s.height),
                             font->spec(), hi ? text : RGBA{0, 0, 0, 0.5});
            }
            if (item->hasSubmenu()) {
                CGSize s = font->sizeOfString("\u25b8");
                ctx.drawText(
                    "\u25b8",
                    CGRectMake(r.maxX() - kRightMargin - s.width, r.midY() - s.height / 2, s.width + 1, s.height),
                    font->spec(), text);
            }
        }
    }

private:
    std::weak_ptr<NSMenu> menu_;
};

class MenuWindow : public NSPanel {
public:
    using NSPanel::NSPanel;
    bool canBecomeKeyWindow() const override { return false; }
    bool canBecomeMainWindow() const override { return false; }
};
}  // namespace

// --- items ----------------------------------------------------------------------------

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
    auto item = std::make_shared<NSMenuItem>();
    item->separator_ = true;
    item->enabled = false;
    return item;
}

void NSMenuItem::setSubmenu(std::shared_ptr<NSMenu> submenu) {
    if (submenu_) submenu_->supermenu_ = nullptr;
    submenu_ = std::move(submenu);
    if (submenu_) submenu_->supermenu_ = menu_;
}

bool NSMenuItem::isHighlighted() const { return menu_ && menu_->highlightedItem().get() == this; }

std::string NSMenuItem::displayTitle() const { return attributedTitle ? attributedTitle->string() : title; }

// --- menus -------------------------------------------------------------------------------

NSMenu::~NSMenu() {
    for (auto& i : items_) {
        i->menu_ = nullptr;
        if (i->submenu_) i->submenu_->supermenu_ = nullptr;
    }
}

void NSMenu::addItem(NSMenuItemRef item) { insertItem(std::move(item), numberOfItems()); }

NSMenuItemRef NSMenu::addItemWithTitle(std::string title, NSMenuItem::Action action, std::string keyEquivalent) {
    auto item = NSMenuItem::make(std::move(title), std::move(action), std::move(keyEquivalent));
    addItem(item);
    return item;
}

void NSMenu::insertItem(NSMenuItemRef item, long index) {
    if (!item) return;
    if (item->menu_) {
        // An item belongs to one menu at a time.
        auto keep = item;
        item->menu_->removeItem(keep);
    }
    index = std::clamp(index, 0L, numberOfItems());
    items_.insert(items_.begin() + index, item);
    item->menu_ = this;
    if (item->submenu_) item->submenu_->supermenu_ = this;
}

void NSMenu::removeItem(const NSMenuItemRef& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    (*it)->menu_ = nullptr;
    items_.erase(it);
}

void NSMenu::removeItemAtIndex(long index) {
    if (index < 0 || index >= numberOfItems()) return;
    removeItem(items_[static_cast<std::size_t>(index)]);
}

void NSMenu::removeAllItems() {
    for (auto& i : items_) i->menu_ = nullptr;
    items_.clear();
}

NSMenuItemRef NSMenu::itemAtIndex(long index) const {
    if (index < 0 || index >= numberOfItems()) return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

NSMenuItemRef NSMenu::itemWithTag(long tag) const {
    for (auto& i : items_)
        if (i->tag == tag) return i;
    return nullptr;
}

NSMenuItemRef NSMenu::itemWithTitle(const std::string& title) const {
    for (auto& i : items_)
        if (i->title == title) return i;
    return nullptr;
}

long NSMenu::indexOfItem(const NSMenuItemRef& item) const {
    auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<long>(it - items_.begin());
}

long NSMenu::indexOfItemWithTag(long tag) const { return indexOfItem(itemWithTag(tag)); }

bool NSMenu::isOpen() const {
    for (auto& m : MenuTracker::shared().openMenus())
        if (m.get() == this) return true;
    return false;
}

NSMenuItemRef NSMenu::highlightedItem() const { return MenuTracker::shared().highlightedItem(*this); }

void NSMenu::cancelTracking() {
    if (isOpen()) MenuTracker::shared().close();
}

CGSize NSMenu::layoutSize() const {
    double w = std::max(kMinWidth, minimumWidth), h = 2 * kPadding;
    for (auto& i : items_) {
        w = std::max(w, itemWidth(*i, *this));
        h += itemHeight(*i, *this);
    }
    return {std::ceil(w), std::ceil(h)};
}

CGRect NSMenu::rectOfItemAtIndex(long index) const {
    CGSize size = layoutSize();
    double top = size.height - kPadding;
    for (long i = 0; i < numberOfItems(); ++i) {
        double h = itemHeight(*items_[static_cast<std::size_t>(i)], *this);
        if (i == index) return CGRectMake(0, top - h, size.width, h);
        top -= h;
    }
    return {};
}

bool NSMenu::popUpMenuPositioningItem(const NSMenuItemRef& item, CGPoint location, const NSView* view) {
    CGPoint p = view ? view->convertPointToScreen(location) : location;
    if (item) {
        long index = indexOfItem(item);
        if (index >= 0) p.y += layoutSize().height - rectOfItemAtIndex(index).maxY();
    }
    openAtScreenPoint(p);
    return true;
}

void NSMenu::popUpContextMenu(const std::shared_ptr<NSMenu>& menu, const NSEvent& event, NSView*) {
    if (!menu) return;
    CGPoint p = event.locationInWindow;
    if (auto w = event.windowRef()) p = w->convertPointToScreen(p);
    menu->openAtScreenPoint(p);
}

void NSMenu::openAtScreenPoint(CGPoint topLeft) { MenuTracker::shared().open(shared_from_this(), topLeft); }

void NSMenu::performActionForItemAtIndex(long index) {
    if (auto item = itemAtIndex(index)) MenuTracker::shared().choose(item);
}

bool NSMenu::performKeyEquivalent(const NSEvent& event) {
    std::string key = event.charactersIgnoringModifiers;
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto mods = event.modifierFlags & (NSEventModifierFlagShift | NSEventModifierFlagControl |
                                             NSEventModifierFlagOption | NSEventModifierFlagCommand);
    for (auto& i : items_) {
        if (i->hasSubmenu() && i->submenu()->performKeyEquivalent(event)) return true;
        if (i->keyEquivalent.empty() || !i->enabled) continue;
        std::string k = i->keyEquivalent;
        for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto want = i->keyEquivalentModifierMask & (NSEventModifierFlagShift | NSEventModifierFlagControl |
                                                    NSEventModifierFlagOption | NSEventModifierFlagCommand);
        if (k == key && want == mods) {
            MenuTracker::shared().choose(i);
            return true;
        }
    }
    return false;
}

// --- tracking -------------------------------------------------------------------------------

MenuTracker& MenuTracker::shared() {
    static MenuTracker t;
    return t;
}

std::vector<NSMenuRef> MenuTracker::openMenus() const {
    std::vector<NSMenuRef> out;
    for (auto& o : stack_) out.push_back(o.menu);
    return out;
}

NSMenuItemRef MenuTracker::highlightedItem(const NSMenu& menu) const {
    for (auto& o : stack_)
        if (o.menu.get() == &menu) return o.menu->itemAtIndex(o.highlighted);
    return nullptr;
}

namespace {
std::shared_ptr<NSWindow> makeMenuWindow(const NSMenuRef& menu, CGPoint topLeft) {
    CGSize size = menu->layoutSize();
    CGRect frame = CGRectMake(topLeft.x, topLeft.y - size.height, size.width, size.height);
    if (auto screen = NSScreen::mainScreen()) {
        CGRect s = screen->frame();
        for (auto& sc : NSScreen::screens())
            if (sc->frame().contains(topLeft)) s = sc->frame();
        if (frame.maxX() > s.maxX()) frame.origin.x = s.maxX() - frame.width();
        if (frame.minX() < s.minX()) frame.origin.x = s.minX();
        if (frame.minY() < s.minY()) frame.origin.y = s.minY();
    }
    auto w = NSWindow::make<MenuWindow>(frame, NSWindowStyleMaskBorderless);
    w->setLevel(NSPopUpMenuWindowLevel);
    w->isOpaque = false;
    w->setBackgroundColor(NSColor::colorWithCalibratedWhite(0, 0));
    w->releasedWhenClosed = false;
    auto view = std::make_shared<MenuView>(CGRect{{0, 0}, size}, menu);
    for (long i = 0; i < menu->numberOfItems(); ++i) {
        auto item = menu->itemAtIndex(i);
        if (!item->view || item->hidden) continue;
        CGRect r = menu->rectOfItemAtIndex(i);
        item->view->setFrameOrigin(r.origin);
        view->addSubview(item->view);
    }
    w->setContentView(view);
    w->title = menu->title;
    return w;
}
}  // namespace

void MenuTracker::open(const NSMenuRef& menu, CGPoint topLeft) {
    if (!menu) return;
    if (isTracking()) close();
    Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::EventTracking);
    if (auto d = menu->delegate.lock()) {
        d->menuNeedsUpdate(*menu);
        d->menuWillOpen(*menu);
    }
    auto w = makeMenuWindow(menu, topLeft);
    menu->window_ = w;
    stack_.push_back({menu, w, -1});
    w->orderFront();
    displayBackend().menuOpened(*menu);
    NSApplication::shared().updateTracking();
}

void MenuTracker::closeFrom(std::size_t level) {
    while (stack_.size() > level) {
        Open o = std::move(stack_.back());
        stack_.pop_back();
        for (long i = 0; i < o.menu->numberOfItems(); ++i)
            if (auto& v = o.menu->itemAtIndex(i)->view) v->removeFromSuperview();
        o.window->orderOut();
        o.window->close();
        o.menu->window_.reset();
        displayBackend().menuClosed(*o.menu);
        if (auto d = o.menu->delegate.lock()) d->menuDidClose(*o.menu);
    }
}

void MenuTracker::close(const NSMenuItemRef& chosen) {
    if (isTracking()) {
        closeFrom(0);
        Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::Default);
        NSApplication::shared().updateTracking();
    }
    if (chosen && chosen->action) {
        auto item = chosen;
        item->action(*item);
    }
}

void MenuTracker::choose(const NSMenuItemRef& item) {
    if (!item || !item->enabled || item->isSeparatorItem() || item->hasSubmenu()) return;
    close(item);
}

void MenuTracker::reset() {
    if (isTracking()) closeFrom(0);
    stack_.clear();
    Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::Default);
}

MenuTracker::Open* MenuTracker::openAt(CGPoint p, long* index) {
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
        if (!it->window->frame().contains(p)) continue;
        CGPoint local = it->window->convertPointFromScreen(p);
        *index = -1;
        for (long i = 0; i < it->menu->numberOfItems(); ++i)
            if (!it->menu->itemAtIndex(i)->hidden && it->menu->rectOfItemAtIndex(i).contains(local)) *index = i;
        return &*it;
    }
    return nullptr;
}

void MenuTracker::openSubmenu(std::size_t level, long index) {
    auto item = stack_[level].menu->itemAtIndex(index);
    if (!item || !item->hasSubmenu() || !item->enabled) return;
    if (stack_.size() > level + 1 && stack_[level + 1].menu == item->submenu()) return;
    closeFrom(level + 1);
    auto sub = item->submenu();
    if (auto d = sub->delegate.lock()) {
        d->menuNeedsUpdate(*sub);
        d->menuWillOpen(*sub);
    }
    const auto& parent = stack_[level].window;
    CGRect r = stack_[level].menu->rectOfItemAtIndex(index);
    CGPoint topLeft{parent->frame().maxX() - 2, parent->frame().minY() + r.maxY() + kPadding};
    auto w = makeMenuWindow(sub, topLeft);
    sub->window_ = w;
    stack_.push_back({sub, w, -1});
    w->orderFront();
    displayBackend().menuOpened(*sub);
}

bool MenuTracker::mouseMoved(CGPoint p) {
    if (!isTracking()) return false;
    long index = -1;
    Open* o = openAt(p, &index);
    if (!o) {
        stack_.back().highlighted = -1;
        stack_.back().window->display();
        return true;
    }
    std::size_t level = static_cast<std::size_t>(o - stack_.data());
    auto item = o->menu->itemAtIndex(index);
    bool selectable = item && item->enabled && !item->isSeparatorItem() && !item->view;
    o->highlighted = selectable || (item && item->hasSubmenu()) ? index : -1;
    o->window->display();
    if (item && item->hasSubmenu())
        openSubmenu(level, index);
    else
        closeFrom(level + 1);
    if (item && item->view) {
        // Views in menus track the pointer themselves.
        NSApplication::shared().updateTracking();
    }
    return true;
}

bool MenuTracker::forwardToView(Open& o, long index, const std::shared_ptr<NSEvent>& event, CGPoint p) {
    auto item = o.menu->itemAtIndex(index);
    if (!item || !item->view) return false;
    event->window = o.window;
    event->locationInWindow = o.window->convertPointFromScreen(p);
    o.window->sendEvent(event);
    return true;
}

bool MenuTracker::mouseDown(const std::shared_ptr<NSEvent>& event, CGPoint p) {
    long index = -1;
    Open* o = openAt(p, &index);
    if (!o) {
        close();
        return true;
    }
    forwardToView(*o, index, event, p);
    return true;
}

bool MenuTracker::mouseDragged(const std::shared_ptr<NSEvent>& event, CGPoint p) {
    mouseMoved(p);
    long index = -1;
    if (Open* o = openAt(p, &index)) forwardToView(*o, index, event, p);
    return true;
}

bool MenuTracker::mouseUp(const std::shared_ptr<NSEvent>& event, CGPoint p) {
    long index = -1;
    Open* o = openAt(p, &index);
    if (!o) return true;  // the release of the click that opened the menu
    auto item = o->menu->itemAtIndex(index);
    if (!item) return true;
    if (forwardToView(*o, index, event, p)) return true;
    choose(item);
    return true;
}

bool MenuTracker::keyDown(const NSEvent& event) {
    if (!isTracking()) return false;
    Open& o = stack_.back();
    auto step = [&](long dir) {
        long n = o.menu->numberOfItems();
        long i = o.highlighted;
        for (long k = 0; k < n; ++k) {
            i = (i + dir + n) % n;
            if (i < 0) i = n - 1;
            auto item = o.menu->itemAtIndex(i);
            if (item->enabled && !item->hidden && !item->isSeparatorItem() && !item->view) {
                o.highlighted = i;
                break;
            }
        }
        o.window->display();
    };
    switch (event.keyCode) {
        case kVK_Escape:
            close();
            break;
        case kVK_DownArrow:
            step(1);
            break;
        case kVK_UpArrow:
            step(-1);
            break;
        case kVK_RightArrow:
            if (o.highlighted >= 0) openSubmenu(stack_.size() - 1, o.highlighted);
            break;
        case kVK_LeftArrow:
            if (stack_.size() > 1) closeFrom(stack_.size() - 1);
            break;
        case kVK_Return:
            if (auto item = o.menu->itemAtIndex(o.highlighted)) {
                if (item->hasSubmenu())
                    openSubmenu(stack_.size() - 1, o.highlighted);
                else
                    choose(item);
            }
            break;
        default:
            break;
    }
    return true;
}

}  // namespace AppKit
