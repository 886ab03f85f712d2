// The status menu's actions: the magnifier, the library window's slide, the
// colour editor and palettes window, the web pages, and the editor's save.

#include <random>

#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"
#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSApplication.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Shell/AppDelegate.h"
#include "picker/Shell/Preferences.h"
#include "picker/Shell/WindowServices.h"

using namespace AppKit;

namespace {

constexpr double kLibraryHeight = 280.0;
constexpr double kSlideDuration = 0.25;

}  // namespace

WindowServices& WindowServices::shared() {
    static WindowServices services;
    return services;
}

void WindowServices::reset() { shared() = WindowServices{}; }

std::optional<CGRect> AppDelegate::libraryShownRect() {
    auto screen = NSScreen::mainScreen();
    if (!screen) return std::nullopt;
    // Along the bottom of the part of the screen panels leave free: above a bottom panel.
    const CGRect f = screen->visibleFrame();
    return CGRectMake(f.minX(), f.minY(), f.width(), kLibraryHeight);
}

std::optional<CGRect> AppDelegate::libraryHiddenRect() {
    auto shown = libraryShownRect();
    if (!shown) return std::nullopt;
    return CGRectMake(shown->minX(), shown->minY() - kLibraryHeight, shown->width(), kLibraryHeight);
}

void AppDelegate::didPickColor(ZNLMousePointer&, const NSColorRef& color) { didPickColor(color); }

void AppDelegate::showMagnifier() {
    if (!displayBackend().screenCaptureAllowed()) {
        NSAlert alert;
        alert.messageText = "Screen Recording Permissions is Required";
        alert.informativeText =
            "Vexil uses Screen Recording for picking colors from on-screen elements.\n\n"
            "Without the required permissions, you'll only be able too pick colors from Vexil's own windows.\n\n"
            "To keep things running smoothly, open the Security & Privacy panel in System Preferences and put a "
            "checkmark next to Vexil in the Screen Recording section.";
        alert.addButtonWithTitle("Ok");
        alert.runModal();
    }
    if (isLibraryShown()) {
        if (auto shown = libraryShownRect()) slideWindow(window, *shown, *libraryHiddenRect());
        animationState = ZNLAnimationState::hide;
    }
    DAVAnalytics::trackEvent("Show Magnifier");
    screenPicker()->start(std::weak_ptr<ZNLMousePointerDelegate>(shared_from_this()));
}

void AppDelegate::toggleLibrary() {
    DAVAnalytics::trackEvent("Show Color Library");
    if (animationState != ZNLAnimationState::idle) return;
    // Without a screen there is nowhere to slide to.
    auto shown = libraryShownRect();
    auto hidden = libraryHiddenRect();
    if (!shown || !hidden) return;
    if (isLibraryShown()) {
        animationState = ZNLAnimationState::hide;
        slideWindow(window, *shown, *hidden);
        return;
    }
    // Made once: a hidden library keeps its window, its folder and any edit in progress.
    if (!window && !WindowServices::shared().makeLibraryWindow) return;  // none linked in
    animationState = ZNLAnimationState::show;
    if (!window) {
        window = WindowServices::shared().makeLibraryWindow();
        windowController = NSWindowController::make(window);
        window->setFrame(CGRectMake(0, 0, 0, 0), true);
    } else if (const auto& refresh = WindowServices::shared().refreshLibraryWindow) {
        refresh(*window);
    }
    slideWindow(window, *hidden, *shown);
    windowController->showWindow(nullptr);
}

void AppDelegate::slideWindow(const std::shared_ptr<NSWindow>& target, CGRect start, CGRect end) {
    if (!target) return;
    NSViewAnimation::Target t;
    t.window = target;
    t.startFrame = start;
    t.endFrame = end;
    auto animation = NSViewAnimation::make({t});
    animation->delegate = std::weak_ptr<NSAnimationDelegate>(shared_from_this());
    animation->duration = kSlideDuration;
    animation->startAnimation();
}

void AppDelegate::animationDidEnd(NSAnimation&) {
    if (animationState == ZNLAnimationState::hide) {
        animationState = ZNLAnimationState::idle;
        if (window) window->orderOut();
        return;
    }
    animationState = ZNLAnimationState::idle;
}

void AppDelegate::addNewColor() {
    std::random_device device;
    auto component = [&device] {
        // A random 32-bit value scaled in single precision, as drawn before.
        const float v = static_cast<float>(device()) * (1.0f / 4294967296.0f);
        return static_cast<double>(v);
    };
    const double r = component(), g = component(), b = component();
    // The editor gets the colour back from its six-digit text.
    auto color = colorWithHex(hexRGB(*NSColor::colorWithRed(r, g, b, 1.0)));
    if (WindowServices::shared().showNewColorEditor)
        WindowServices::shared().showNewColorEditor(color, weak_from_this());
}

void AppDelegate::colorChooserDidSave(const NSColorRef& color, const std::optional<std::string>& name,
                                      const std::function<void()>& closeEditor) {
    if (!color) {
        if (closeEditor) closeEditor();
        return;
    }
    auto item = ZNLColorsLibrary::shared().addColor(hexRGBA(*color), ZNLColorsLibrary::historyFolder());
    if (!item || !name) {
        if (closeEditor) closeEditor();
        return;
    }
    ZNLColorsLibrary::shared().colorService().renameColor(item, *name);
    if (auto origin = statusItemOrigin()) {
        const ColorFormat format = currentColorFormat();
        auto device = deviceRGBColor(*color);
        auto tableName = sharedColorNames().nameForColor(device ? *device : *color);
        const std::string text = formatted(*color, format, tableName.value_or(""));
        showFloatingColor(tableName && !tableName->empty() ? *tableName + " - " + text : text, color, false, origin->x,
                          origin->y);
    }
    if (closeEditor) closeEditor();
    refreshRecentItems();
}

void AppDelegate::newPalette() {
    if (WindowServices::shared().showPalettesWindow) WindowServices::shared().showPalettesWindow();
}

bool AppDelegate::openLink(const std::string& url) {
    // Only an absolute web address is handed to the browser.
    if (url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0) return false;
    return NSWorkspace::sharedWorkspace().openURL(url);
}

void AppDelegate::getFeedback() { openLink(kFeedbackURL); }
void AppDelegate::gotoCommunity() { openLink(kCommunityURL); }

void AppDelegate::showPreferences() {
    auto controller = std::make_shared<CCNPreferencesWindowController>();
    controller->setCenterToolbarItems(false);
    controller->setPreferencesViewControllers({std::make_shared<ZNLSettingsViewController>()});
    preferences = controller;
    controller->showPreferencesWindow();
}
