#include "Platform/Harness/Harness.h"

#include <cmath>
#include <map>

#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/ScreenCompositor.h"
#include "Platform/QuartzCore/Timing.h"

namespace Harness {

using namespace AppKit;

UIHarness::UIHarness(LaunchOptions options) {
    executor_ = Foundation::TestExecutor::install(options.startTime);
    std::vector<CGRect> screens{CGRectMake(0, 0, options.screenSize.width, options.screenSize.height)};
    for (auto& s : options.moreScreens) screens.push_back(s);
    backend_ = std::make_shared<HeadlessBackend>(screens);
    backend_->setDesktopPicture(options.desktopPicture);
    // The picker reads the screen below its own window from the compositor.
    std::weak_ptr<HeadlessBackend> weak = backend_;
    backend_->setScreenRenderer([weak](CGRect displayRect, long exclude) -> std::shared_ptr<CoreGraphics::Image> {
        auto b = weak.lock();
        auto screens = NSScreen::screens();
        if (!b || screens.empty()) return nullptr;
        const double top = screens.front()->frame().maxY();
        CGRect model = CGRectMake(displayRect.minX(), top - displayRect.minY() - displayRect.height(),
                                  displayRect.width(), displayRect.height());
        ScreenRenderOptions o;
        o.region = model;
        o.belowWindowNumber = exclude;
        o.desktopPicture = b->desktopPicture();
        auto image = std::make_shared<CoreGraphics::Image>(AppKit::renderScreen(o));
        if (image->empty()) return nullptr;
        return image;
    });
    setDisplayBackend(backend_);
    NSApplication::resetForTests();
    NSAppearance::setSystemAppearance(nullptr);
    Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::Default);
    alerts_ = std::make_unique<AlertScript>();
    savePanels_ = std::make_unique<SavePanelScript>();
    if (options.captureOutput) output_ = std::make_unique<Foundation::DiagnosticsCapture>(false);
}

UIHarness::~UIHarness() {
    NSApplication::resetForTests();
    NSAppearance::setSystemAppearance(nullptr);
    delegate_.reset();
    alerts_.reset();
    savePanels_.reset();
    output_.reset();
    // Tasks still queued hold model objects: run nothing more, drop them with the executor.
    setDisplayBackend(nullptr);
    executor_.reset();
}

void UIHarness::launch(std::shared_ptr<NSApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
    app().strongDelegate = delegate_;
    app().finishLaunching();
    drain();
}

// --- pointer --------------------------------------------------------------------------

CGPoint UIHarness::centerOnScreen(const NSView& view) {
    CGRect r = view.convertRectToScreen(view.bounds());
    return {r.midX(), r.midY()};
}

void UIHarness::moveMouse(CGPoint p, NSEventModifierFlags modifiers) {
    if (app().pressedButtons())
        app().inputMouseDragged(p, 0, modifiers);
    else
        app().inputMouseMoved(p, modifiers);
    drain();
}

void UIHarness::moveMouseGradually(CGPoint p, int steps, NSEventModifierFlags modifiers) {
    CGPoint from = mouseLocation();
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        double t = static_cast<double>(i) / steps;
        moveMouse({from.x + (p.x - from.x) * t, from.y + (p.y - from.y) * t}, modifiers);
    }
}

void UIHarness::moveMouseInWindow(const NSWindow& window, CGPoint windowPoint, NSEventModifierFlags modifiers) {
    moveMouse(window.convertPointToScreen(windowPoint), modifiers);
}

void UIHarness::moveMouseToView(const NSView& view, std::optional<CGPoint> local) {
    moveMouse(local ? view.convertPointToScreen(*local) : centerOnScreen(view));
}

void UIHarness::mouseDown(CGPoint p, int button, long clickCount, NSEventModifierFlags modifiers) {
    app().inputMouseDown(p, button, clickCount, modifiers);
    drain();
}

void UIHarness::mouseUp(CGPoint p, int button, long clickCount, NSEventModifierFlags modifiers) {
    app().inputMouseUp(p, button, clickCount, modifiers);
    drain();
}

void UIHarness::click(CGPoint p, long clickCount, NSEventModifierFlags modifiers) {
    if (mouseLocation() != p) moveMouse(p, modifiers);
    mouseDown(p, 0, clickCount, modifiers);
    mouseUp(p, 0, clickCount, modifiers);
}

void UIHarness::doubleClick(CGPoint p, NSEventModifierFlags modifiers) {
    click(p, 1, modifiers);
    click(p, 2, modifiers);
}

void UIHarness::clickView(const NSView& view, long clickCount, NSEventModifierFlags modifiers,
                          std::optional<CGPoint> local) {
    CGPoint p = local ? view.convertPointToScreen(*local) : centerOnScreen(view);
    for (long i = 1; i <= clickCount; ++i) click(p, i, modifiers);
}

void UIHarness::rightClick(CGPoint p, NSEventModifierFlags modifiers) {
    if (mouseLocation() != p) moveMouse(p, modifiers);
    mouseDown(p, 1, 1, modifiers);
    mouseUp(p, 1, 1, modifiers);
}

void UIHarness::rightClickView(const NSView& view, std::optional<CGPoint> local) {
    rightClick(local ? view.convertPointToScreen(*local) : centerOnScreen(view));
}

void UIHarness::drag(CGPoint from, CGPoint to, int steps, NSEventModifierFlags modifiers) {
    moveMouse(from, modifiers);
    mouseDown(from, 0, 1, modifiers);
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        double t = static_cast<double>(i) / steps;
        app().inputMouseDragged({from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t}, 0, modifiers);
        drain();
    }
    mouseUp(to, 0, 1, modifiers);
}

void UIHarness::dragView(const NSView& from, const NSView& to, int steps) {
    drag(centerOnScreen(from), centerOnScreen(to), steps);
}

void UIHarness::scroll(CGPoint p, double dx, double dy) {
    app().inputScrollWheel(p, dx, dy, 0);
    drain();
}

// --- keyboard ---------------------------------------------------------------------------------

std::optional<std::uint16_t> UIHarness::keyCodeForCharacter(char c) {
    static const std::map<char, std::uint16_t> codes = {
        {'a', 0},  {'s', 1},   {'d', 2},  {'f', 3},   {'h', 4},   {'g', 5},  {'z', 6},  {'x', 7},  {'c', 8},
        {'v', 9},  {'b', 11},  {'q', 12}, {'w', 13},  {'e', 14},  {'r', 15}, {'y', 16}, {'t', 17}, {'1', 18},
        {'2', 19}, {'3', 20},  {'4', 21}, {'6', 22},  {'5', 23},  {'=', 24}, {'9', 25}, {'7', 26}, {'-', 27},
        {'8', 28}, {'0', 29},  {']', 30}, {'o', 31},  {'u', 32},  {'[', 33}, {'i', 34}, {'p', 35}, {'l', 37},
        {'j', 38}, {'\'', 39}, {'k', 40}, {';', 41},  {'\\', 42}, {',', 43}, {'/', 44}, {'n', 45}, {'m', 46},
        {'.', 47}, {' ', 49},  {'`', 50}, {'\t', 48}, {'\r', 36}, {'\n', 36}};
    char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = codes.find(lower);
    if (it == codes.end()) return std::nullopt;
    return it->second;
}

void UIHarness::pressKey(std::uint16_t keyCode, const std::string& characters, NSEventModifierFlags modifiers) {
    app().inputKeyDown(keyCode, characters, modifiers);
    drain();
    app().inputKeyUp(keyCode, characters, modifiers);
    drain();
}

void UIHarness::typeText(const std::string& text, NSEventModifierFlags modifiers) {
    for (std::size_t i = 0; i < text.size();) {
        // One UTF-8 character at a time.
        std::size_t n = 1;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
        std::string ch = text.substr(i, n);
        auto code = n == 1 ? keyCodeForCharacter(text[i]) : std::nullopt;
        NSEventModifierFlags mods = modifiers;
        if (n == 1 && std::isupper(c)) mods |= NSEventModifierFlagShift;
        pressKey(code.value_or(0), ch, mods);
        i += n;
    }
}

void UIHarness::typeIntoField(NSTextField& field, const std::string& text, bool pressReturn) {
    clickView(field);
    if (field.isEditing()) {
        field.selectText();  // the typed text replaces the field's
    }
    typeText(text);
    if (pressReturn)
        pressKey(kVK_Return, "\r");
    else
        pressKey(kVK_Tab, "\t");
}

void UIHarness::pressHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    app().inputHotKeyPressed(keyCode, modifiers);
    drain();
}

// --- controls ----------------------------------------------------------------------------------

void UIHarness::setSlider(NSSlider& slider, double value) {
    CGRect bar = slider.cell()->barRectFlipped(slider.isFlipped());
    double range = slider.maxValue - slider.minValue;
    double f = range != 0 ? (value - slider.minValue) / range : 0;
    f = std::clamp(f, 0.0, 1.0);
    CGPoint local = slider.vertical ? CGPoint{bar.midX(), bar.minY() + f * bar.height()}
                                    : CGPoint{bar.minX() + f * bar.width(), bar.midY()};
    clickView(slider, 1, 0, local);
}

void UIHarness::selectSegment(NSSegmentedControl& control, long segment) {
    CGRect r = control.rectForSegment(segment);
    clickView(control, 1, 0, CGPoint{r.midX(), r.midY()});
}

// --- menus ----------------------------------------------------------------------------------------

std::shared_ptr<NSStatusItem> UIHarness::statusItem() const {
    auto& items = NSStatusBar::systemStatusBar().items();
    return items.empty() ? nullptr : items.front();
}

void UIHarness::clickStatusItem(const std::shared_ptr<NSStatusItem>& item) {
    if (!item) return;
    CGRect f = item->frame();
    click({f.midX(), f.midY()});
}

std::vector<std::string> UIHarness::openMenuTitles() const {
    std::vector<std::string> out;
    auto menus = openMenus();
    if (menus.empty()) return out;
    for (auto& i : menus.back()->itemArray()) {
        if (i->hidden) continue;
        out.push_back(i->isSeparatorItem() ? "-" : i->displayTitle());
    }
    return out;
}

std::optional<CGRect> UIHarness::screenRectOfItem(const NSMenuItemRef& item) const {
    if (!item || !item->menu()) return std::nullopt;
    auto w = item->menu()->menuWindow();
    if (!w) return std::nullopt;
    long index = -1;
    for (long i = 0; i < item->menu()->numberOfItems(); ++i)
        if (item->menu()->itemAtIndex(i) == item) index = i;
    return w->convertRectToScreen(item->menu()->rectOfItemAtIndex(index));
}

NSMenuItemRef UIHarness::chooseMenuItem(const std::vector<std::string>& path) {
    NSMenuItemRef item;
    for (std::size_t level = 0; level < path.size(); ++level) {
        auto menus = openMenus();
        if (menus.size() <= level) return nullptr;
        item = nullptr;
        for (auto& i : menus[level]->itemArray())
            if (!i->hidden && !i->isSeparatorItem() && i->displayTitle() == path[level]) {
                item = i;
                break;
            }
        if (!item) {
            // A title may name the first line of a two-line title.
            for (auto& i : menus[level]->itemArray()) {
                auto t = i->displayTitle();
                if (!i->hidden && t.substr(0, t.find('\n')) == path[level]) {
                    item = i;
                    break;
                }
            }
        }
        if (!item) return nullptr;
        auto rect = screenRectOfItem(item);
        if (!rect) return nullptr;
        CGPoint p{rect->midX(), rect->midY()};
        moveMouse(p);
        if (level + 1 == path.size()) click(p);
    }
    return item;
}

NSMenuItemRef UIHarness::chooseMenuItemWithTag(long tag) {
    auto menus = openMenus();
    if (menus.empty()) return nullptr;
    auto item = menus.back()->itemWithTag(tag);
    auto rect = screenRectOfItem(item);
    if (!rect) return nullptr;
    click({rect->midX(), rect->midY()});
    return item;
}

NSMenuItemRef UIHarness::chooseStatusMenuItem(const std::vector<std::string>& path) {
    if (!isMenuOpen()) clickStatusItem(statusItem());
    return chooseMenuItem(path);
}

// --- other programs ---------------------------------------------------------------------------------

void UIHarness::copyFromOtherProgram(const std::string& text) {
    app().inputPasteboardChangedByOtherProgram(text);
    drain();
}

void UIHarness::deliverPush(const Foundation::Dictionary& userInfo) {
    app().inputRemoteNotification(userInfo);
    drain();
}

// --- screen and output ----------------------------------------------------------------------------------

CoreGraphics::Image UIHarness::renderScreen(std::optional<CGRect> region) const {
    ScreenRenderOptions o;
    o.region = region;
    o.desktopPicture = backend_->desktopPicture();
    return AppKit::renderScreen(o);
}

bool UIHarness::writeScreenPNG(const std::string& path) const {
    ScreenRenderOptions o;
    o.desktopPicture = backend_->desktopPicture();
    return AppKit::writeScreenPNG(path, o);
}

std::vector<std::string> UIHarness::outputLines() const {
    return output_ ? output_->stdoutLines() : std::vector<std::string>{};
}

void UIHarness::clearOutput() {
    if (output_) output_->clear();
}

}  // namespace Harness
