#pragma once
// The display for tests and tours: scripted screens and desktop picture,
// hot keys that are granted unless a test says another program holds them,
// and a record of what the model asked of the display.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Platform/AppKit/DisplayBackend.h"

namespace AppKit {

class HeadlessBackend : public DisplayBackend {
public:
    HeadlessBackend() = default;
    explicit HeadlessBackend(std::vector<CGRect> screens) : screens_(std::move(screens)) {}

    std::vector<CGRect> screenFrames() const override { return screens_; }
    void setScreens(std::vector<CGRect> screens) { screens_ = std::move(screens); }
    // The picture on the desktop (pixels one per point, top row first), shown
    // on the first screen.
    void setDesktopPicture(std::shared_ptr<const CoreGraphics::Image> image) { desktop_ = std::move(image); }
    const std::shared_ptr<const CoreGraphics::Image>& desktopPicture() const { return desktop_; }

    bool registerHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) override;
    void unregisterHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) override;
    // Combinations another program holds: registering them is refused.
    void holdByOtherProgram(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
        held_.insert({keyCode, modifiers});
    }
    const std::set<std::pair<std::uint16_t, NSEventModifierFlags>>& grabbedHotKeys() const { return grabbed_; }

    void openURL(const std::string& url) override { openedURLs.push_back(url); }
    void pasteboardWritten() override { ++pasteboardWrites; }
    void beep() override { ++beeps; }
    void cursorHiddenChanged(bool hidden) override { cursorHidden = hidden; }
    void globalMonitorMaskChanged(NSEventMask mask) override { globalMask = mask; }

    // Screen pixels: the renderer installed by the compositor (desktop and
    // windows); without one, the desktop picture alone.
    using ScreenRenderer = std::function<std::shared_ptr<CoreGraphics::Image>(CGRect rect, long excludeWindowsFrom)>;
    void setScreenRenderer(ScreenRenderer renderer) { renderer_ = std::move(renderer); }
    std::shared_ptr<CoreGraphics::Image> captureScreen(CGRect rect, long excludeWindowsFrom) override;
    bool screenCaptureAllowed() const override { return captureAllowed; }

    std::vector<std::string> openedURLs;
    int beeps = 0;
    int pasteboardWrites = 0;  // the program's own writes to the general pasteboard
    bool cursorHidden = false;
    NSEventMask globalMask = 0;
    bool captureAllowed = true;

private:
    std::vector<CGRect> screens_{CGRectMake(0, 0, 1440, 900)};
    std::shared_ptr<const CoreGraphics::Image> desktop_;
    std::set<std::pair<std::uint16_t, NSEventModifierFlags>> held_, grabbed_;
    ScreenRenderer renderer_;
};

}  // namespace AppKit
