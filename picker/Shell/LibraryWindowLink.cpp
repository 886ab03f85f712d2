// The real library window in place of the stand-in panel, and the shell's
// side of what the library window asks of it.
#include "picker/Shell/AppDelegate.h"
#include "picker/Shell/WindowServices.h"
#include "picker/Views/Library/LibraryShell.h"
#include "picker/Views/Library/ZNLColorsLibraryViewController.h"
#include "picker/Views/Windows/ZNLWindow.h"

using namespace AppKit;

void linkLibraryWindow() {
    WindowServices::shared().makeLibraryWindow = [] {
        auto controller = std::make_shared<Vexil::Views::ZNLColorsLibraryViewController>();
        auto panel = NSWindow::make<Vexil::Views::ZNLWindow>(CGRectMake(0, 0, 600, 280), NSWindowStyleMaskBorderless);
        panel->setContentViewController(controller);
        return std::static_pointer_cast<NSWindow>(panel);
    };
    WindowServices::shared().refreshLibraryWindow = [](NSWindow& window) {
        if (auto controller =
                std::dynamic_pointer_cast<Vexil::Views::ZNLColorsLibraryViewController>(window.contentViewController()))
            controller->refresh();
    };
    auto& shell = Vexil::Views::LibraryShell::shared();
    shell.toggleLibrary = [] {
        if (auto d = AppDelegate::shared()) d->toggleLibrary();
    };
    shell.didPickColor = [](const NSColorRef& color) {
        if (auto d = AppDelegate::shared()) d->didPickColor(color);
    };
    shell.startPicker = [] {
        if (auto d = AppDelegate::shared()) d->screenPicker()->start(std::weak_ptr<ZNLMousePointerDelegate>(d));
    };
    shell.ignoreOwnCopy = [] {
        if (auto d = AppDelegate::shared()) d->ignoreOwnCopy();
    };
    shell.statusItemOrigin = []() -> std::optional<CGPoint> {
        auto d = AppDelegate::shared();
        return d ? d->statusItemOrigin() : std::nullopt;
    };
    shell.showFloatingColor = [](const std::string& text, const NSColorRef& color, bool hide, double x, double y) {
        if (auto d = AppDelegate::shared()) d->showFloatingColor(text, color, hide, x, y);
    };
}
