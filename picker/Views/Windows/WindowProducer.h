#pragma once
// Builds an ordinary titled window around one view controller on first show,
// from a configuration class, and closes it again.
//
// While its window is open the producer keeps itself (and so its view
// controller) alive, whoever made it: a window opened by a caller that keeps
// no reference (a second editor, the palettes window) lives until it closes.

#include <memory>
#include <optional>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/AppKit/NSWindow.h"
#include "picker/Views/Windows/WindowConfig.h"

template <class ViewController, class Config>
class WindowProducer : public AppKit::NSWindowDelegate,
                       public std::enable_shared_from_this<WindowProducer<ViewController, Config>> {
public:
    static std::shared_ptr<WindowProducer> make() { return std::make_shared<WindowProducer>(); }

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
        // A built window shows the producer's current view controller.
        if (w && w->contentViewController() != viewController) w->setContentViewController(viewController);
        if (origin && w) w->setFrameOrigin(*origin);
        windowController->showWindow(nullptr);
        if (w) w->makeKeyWindow();
        AppKit::NSApplication::shared().activateIgnoringOtherApps(true);
        isVisible = true;
        keepAlive_ = this->shared_from_this();
    }

    void close() {
        auto hold = this->shared_from_this();
        if (windowController) windowController->close();
        window.reset();
        windowController.reset();
        isVisible = false;
        keepAlive_.reset();
    }

    // The close button does not go through the producer: the built window
    // stays for the next show; only the producer's hold on itself ends, on
    // the main queue once the window's close has finished with it.
    void windowWillClose(AppKit::NSWindow&) override {
        if (!keepAlive_) return;
        auto last = std::move(keepAlive_);
        keepAlive_.reset();
        Foundation::DispatchQueue::main()->async([last] {});
    }

private:
    std::shared_ptr<WindowProducer> keepAlive_;
};
