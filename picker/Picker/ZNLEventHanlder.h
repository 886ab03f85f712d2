#pragma once
// The magnifier: a small round panel that follows the pointer over every
// program, shows the 11 x 11 points under it ten times enlarged with a grid
// and the centre pixel's colour, and hands the centre pixel to a delegate on
// a click. Escape closes it without a colour.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/QuartzCore/CALayer.h"
#include "picker/Colors/ColorFormat.h"

class ZNLMousePointer;

class ZNLMousePointerDelegate {
public:
    virtual ~ZNLMousePointerDelegate() = default;
    virtual void didPickColor(ZNLMousePointer& picker, const AppKit::NSColorRef& color) = 0;
};

// The area under a point (display coordinates: origin at the top-left of the
// first screen, y down), 11 x 11 points, leaving out window `n` and those
// above it. nullptr when the screen cannot be read.
AppKit::NSImageRef captureScreenImage(std::uint32_t n, AppKit::CGPoint p);
// The same area drawn ten times larger (110 x 110), pixels kept square.
AppKit::NSImageRef captureZoomedScreenImage(std::uint32_t n, AppKit::CGPoint p);

class ZNLGridView : public AppKit::NSView {
public:
    using NSView::NSView;
    double gridSize = 10.0;
    AppKit::NSColorRef gridColor =
        AppKit::NSColor::colorWithDeviceRed(100.0 / 255.0, 149.0 / 255.0, 237.0 / 255.0, 0.1);
    void drawRect(AppKit::CGRect r, CoreGraphics::DrawingContext& ctx) override;
};

class ZNLCircledWindow : public AppKit::NSPanel {
public:
    // Always a borderless, non-activating panel, whatever mask is asked for.
    ZNLCircledWindow(AppKit::CGRect contentRect, AppKit::NSWindowStyleMask style,
                     AppKit::NSBackingStoreType backing = AppKit::NSBackingStoreType::buffered, bool defer = false);
    static std::shared_ptr<ZNLCircledWindow> windowWithContentViewController(
        std::shared_ptr<AppKit::NSViewController> controller);
    static constexpr AppKit::NSWindowStyleMask kStyleMask = 0x8082;
    // It follows the pointer to every screen edge.
    AppKit::CGRect constrainFrameRect(AppKit::CGRect frame, const AppKit::NSScreen*) const override { return frame; }
    bool canBecomeKeyWindow() const override { return true; }
    bool canBecomeMainWindow() const override { return true; }
};

class ZNLMousePointer : public AppKit::NSViewController {
public:
    ZNLMousePointer() = default;

    std::weak_ptr<ZNLGridView> gridOverlay;
    std::weak_ptr<AppKit::NSImageView> imageView;
    std::weak_ptr<AppKit::NSView> centerView;
    std::weak_ptr<AppKit::NSTextField> colorLabel;
    ColorFormat labelFormat = ColorFormat::pickerFormat();
    std::weak_ptr<ZNLMousePointerDelegate> delegate;
    std::function<void()> completion;  // "compl" is a C++ keyword

    const AppKit::NSImageRef& image() const { return image_; }
    // Stores the capture and refreshes the label.
    void setImage(AppKit::NSImageRef image);

    // The centre pixel of the capture; nothing when there is no capture or
    // its pixel cannot be read (no colour is made up).
    AppKit::NSColorRef pickColor() const;
    // Fades the zoomed image out and in (0.14 s), then runs the completion.
    // A blink started over a running one replaces it; only the last one's
    // end runs the completion.
    void blink(std::function<void()> done);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;

    // Pointer hides this controller made and has not undone.
    int cursorHides() const { return cursorHides_; }
    void unhideCursor();

    static constexpr double kViewWidth = 110, kViewHeight = 132, kLabelHeight = 18, kZoomTop = 22;

private:
    void hideCursor();
    AppKit::NSImageRef image_;
    void blinkEnded(std::uint64_t generation);
    std::uint64_t blinkGeneration_ = 0;
    int cursorHides_ = 0;
};

class ZNLEventHanlder : public std::enable_shared_from_this<ZNLEventHanlder> {
public:
    static std::shared_ptr<ZNLEventHanlder> shared();
    ZNLEventHanlder();
    void didInit();

    AppKit::NSEvent::MonitorToken keyMonitor;
    AppKit::NSEvent::MonitorToken eventMonitor;
    AppKit::NSEvent::MonitorToken clickMonitor;
    AppKit::NSEvent::MonitorToken moveMonitor;
    std::shared_ptr<ZNLMousePointer> mousePointer;
    std::shared_ptr<AppKit::NSWindowController> windowController;
    std::shared_ptr<ZNLCircledWindow> window;

    void start(std::weak_ptr<ZNLMousePointerDelegate> delegate);
    void stop();
    void updateCapture();
    void moveWindowToCursor();
    // Ends an opening: monitors removed, panel closed, pointer shown again.
    // Once per opening; later calls do nothing.
    void close();
    bool isOpen() const { return open_; }

    std::shared_ptr<AppKit::NSEvent> handleKeyDown(const std::shared_ptr<AppKit::NSEvent>& event);
    std::shared_ptr<AppKit::NSEvent> handleClick(const std::shared_ptr<AppKit::NSEvent>& event);
    void handleMouseMoved();

    static constexpr std::uint16_t kEscapeKeyCode = 53;

private:
    bool open_ = false;
    bool reportedCaptureFailure_ = false;
};
