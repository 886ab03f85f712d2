#pragma once
// Builds a titled window around one view controller on first show, closes it
// again; the next show after a close builds a new window.
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSWindow.h"
#include "picker/Views/Windows/WindowConfig.h"

#include <memory>
#include <optional>
#include <type_traits>

namespace Vexil::Views {

template <class ViewController, class Config>
class WindowProducer : public AppKit::NSWindowDelegate, public std::enable_shared_from_this<WindowProducer<ViewController, Config>> {
    static_assert(std::is_base_of_v<AppKit::NSViewController, ViewController>);
    static_assert(std::is_base_of_v<CLWindowConfig, Config>);

public:
    std::shared_ptr<ViewController> viewController;
    std::shared_ptr<AppKit::NSWindowController> windowController;
    std::weak_ptr<AppKit::NSWindow> window;
    bool isVisible = false;

    void show(std::optional<AppKit::CGPoint> origin = std::nullopt) {
        if (!viewController) return;
        if (!windowController) {
            Config config;
            auto w = AppKit::NSWindow::windowWithContentViewController(viewController);
            w->setStyleMask(config.styleMask());
            w->setBackgroundColor(config.backgroundColor());
            w->titlebarAppearsTransparent = config.titlebarAppearsTransparent;
            w->title = config.title;
            w->delegate = this->weak_from_this();
            w->releasedWhenClosed = true;
            window = w;
            windowController = AppKit::NSWindowController::make(w);
        }
        auto w = windowController->window();
        if (origin && w) w->setFrameOrigin(*origin);
        windowController->showWindow();
        if (w) w->makeKeyWindow();
        AppKit::NSApp().activateIgnoringOtherApps(true);
        isVisible = true;
    }

    void close() {
        if (windowController) windowController->close();
        window.reset();
        windowController.reset();
        isVisible = false;
    }

    void windowWillClose(AppKit::NSWindow&) override {}
};

}  // namespace Vexil::Views
