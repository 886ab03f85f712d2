#pragma once
// Gives a window the borderless look of the program's panels: a transparent,
// unified title bar whose window buttons show only while the pointer is over
// it (or in full screen), each marked by a thin grey ring while hidden.
#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSWindow.h"

namespace Vexil::Views {

class MainWindowController : public AppKit::NSWindowController, public AppKit::NSWindowDelegate {
public:
    explicit MainWindowController(std::shared_ptr<AppKit::NSWindow> window = nullptr)
        : AppKit::NSWindowController(std::move(window)) {}
    // As its interface file makes it: around a window, then loaded.
    static std::shared_ptr<MainWindowController> make(std::shared_ptr<AppKit::NSWindow> window);
    // The pointer monitor goes with its controller.
    ~MainWindowController() override;

    AppKit::NSEvent::MonitorToken token;
    bool isFullscreen = false;

    void windowDidLoad() override;
    void windowDidEnterFullScreen(AppKit::NSWindow&) override;
    void windowDidExitFullScreen(AppKit::NSWindow&) override;

    void updateWindowButtons();
    AppKit::CGRect titlebarRect() const;
    void addButtonRings();

private:
    void setButtonsHidden(bool hidden);
};

}  // namespace Vexil::Views
