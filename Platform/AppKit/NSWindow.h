#pragma once
// Windows, panels, window and view controllers.
//
// A window's frame is in screen coordinates (y up from the bottom of the main
// screen). The application keeps every window that is on screen; ordering a
// window out or closing it takes it off. Windows are stacked by level, then
// by the order they were brought front.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSView.h"

namespace AppKit {

class NSWindow;
class NSScreen;
class NSViewController;
class NSWindowController;
class NSButton;
class NSWindowAnimator;

inline const std::string NSAppearanceNameAqua = "NSAppearanceNameAqua";
inline const std::string NSAppearanceNameDarkAqua = "NSAppearanceNameDarkAqua";
inline const std::string NSAppearanceNameVibrantLight = "NSAppearanceNameVibrantLight";
inline const std::string NSAppearanceNameVibrantDark = "NSAppearanceNameVibrantDark";

class NSAppearance {
public:
    explicit NSAppearance(std::string name) : name_(std::move(name)) {}
    static std::shared_ptr<NSAppearance> appearanceNamed(const std::string& name);
    const std::string& name() const { return name_; }
    // The first of `names` this appearance matches (dark names match dark
    // appearances, the others light ones); empty when none.
    std::string bestMatchFromAppearancesWithNames(const std::vector<std::string>& names) const;
    bool isDark() const;
    // The appearance the system uses for windows that set none (harness: settable).
    static std::shared_ptr<NSAppearance> systemAppearance();
    static void setSystemAppearance(std::shared_ptr<NSAppearance> appearance);

private:
    std::string name_;
};

class NSWindowDelegate {
public:
    virtual ~NSWindowDelegate() = default;
    virtual bool windowShouldClose(NSWindow&) { return true; }
    virtual void windowWillClose(NSWindow&) {}
    virtual void windowDidBecomeKey(NSWindow&) {}
    virtual void windowDidResignKey(NSWindow&) {}
    virtual void windowDidResize(NSWindow&) {}
    virtual void windowDidMove(NSWindow&) {}
    virtual void windowWillEnterFullScreen(NSWindow&) {}
    virtual void windowDidEnterFullScreen(NSWindow&) {}
    virtual void windowWillExitFullScreen(NSWindow&) {}
    virtual void windowDidExitFullScreen(NSWindow&) {}
};

class NSWindow : public NSResponder {
public:
    NSWindow(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing = NSBackingStoreType::buffered,
             bool defer = false);
    ~NSWindow() override;
    template <class T = NSWindow, class... A>
    static std::shared_ptr<T> make(A&&... args) {
        auto w = std::make_shared<T>(std::forward<A>(args)...);
        w->didInit();
        return w;
    }
    // A titled, closable, resizable, miniaturisable window sized to the
    // controller's view, with the controller as content view controller.
    static std::shared_ptr<NSWindow> windowWithContentViewController(std::shared_ptr<NSViewController> controller);
    std::shared_ptr<NSWindow> self() { return std::static_pointer_cast<NSWindow>(shared_from_this()); }
    virtual void didInit();

    // --- style
    virtual NSWindowStyleMask styleMask() const { return styleMask_; }
    virtual void setStyleMask(NSWindowStyleMask mask);
    NSWindowLevel level() const { return level_; }
    void setLevel(NSWindowLevel level);
    std::string title;
    bool titlebarAppearsTransparent = false;
    bool isOpaque = true;
    bool hasShadow = true;
    bool releasedWhenClosed = true;
    bool movable = true;
    bool movableByWindowBackground = false;
    bool hidesOnDeactivate = false;
    bool ignoresMouseEvents = false;
    bool acceptsMouseMovedEvents = false;
    double backingScaleFactor = 1;
    virtual NSColorRef backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(NSColorRef color);
    std::shared_ptr<NSAppearance> appearance;  // none: the system's
    std::shared_ptr<NSAppearance> effectiveAppearance() const;

    // --- geometry
    CGRect frame() const { return frame_; }
    void setFrame(CGRect frame, bool display = true, bool animate = false);
    void setFrameOrigin(CGPoint p) { setFrame({p, frame_.size}); }
    void setContentSize(CGSize size);
    // The content rectangle for a frame: the frame less the title bar of a
    // titled window (22 points), also with a full-size content view.
    CGRect contentRectForFrameRect(CGRect frame) const;
    CGRect frameRectForContentRect(CGRect content) const;
    static constexpr double kTitleBarHeight = 22;
    // Called when the window is brought on screen; the default keeps a
    // titled window's top edge below the main screen's visible top.
    virtual CGRect constrainFrameRect(CGRect frame, const NSScreen* screen) const;
    std::shared_ptr<NSScreen> screen() const;
    CGPoint convertPointToScreen(CGPoint p) const { return {p.x + frame_.origin.x, p.y + frame_.origin.y}; }
    CGPoint convertPointFromScreen(CGPoint p) const { return {p.x - frame_.origin.x, p.y - frame_.origin.y}; }
    CGRect convertRectToScreen(CGRect r) const { return {convertPointToScreen(r.origin), r.size}; }
    CGRect convertRectFromScreen(CGRect r) const { return {convertPointFromScreen(r.origin), r.size}; }
    // The pointer in window coordinates.
    CGPoint mouseLocationOutsideOfEventStream() const;
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    void center();

    // --- content
    const std::shared_ptr<NSView>& contentView() const { return contentView_; }
    void setContentView(std::shared_ptr<NSView> view);
    const std::shared_ptr<NSViewController>& contentViewController() const { return contentViewController_; }
    void setContentViewController(std::shared_ptr<NSViewController> controller);
    std::weak_ptr<NSWindowController> windowController;
    std::weak_ptr<NSWindowDelegate> delegate;
    // Keeps a delegate alive (for delegates nothing else owns).
    std::shared_ptr<NSWindowDelegate> strongDelegate;
    // The close, miniaturise and zoom buttons of a titled window (nullptr otherwise).
    std::shared_ptr<NSButton> standardWindowButton(NSWindowButton which) const;

    // --- ordering and state
    bool isVisible() const { return visible_; }
    void orderFront(const std::shared_ptr<void>& sender = nullptr);
    void orderFrontRegardless() { orderFront(); }
    void orderOut(const std::shared_ptr<void>& sender = nullptr);
    void orderWindow(NSWindowOrderingMode mode, long relativeTo);
    void makeKeyAndOrderFront(const std::shared_ptr<void>& sender = nullptr);
    void makeKeyWindow();
    void makeMainWindow();
    bool isKeyWindow() const;
    bool isMainWindow() const;
    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    virtual void becomeKeyWindow() {}
    virtual void resignKeyWindow() {}
    void close();
    void performClose(const std::shared_ptr<void>& sender = nullptr);
    bool isClosed() const { return closed_; }
    long windowNumber() const { return number_; }
    bool isFullScreen() const { return (styleMask() & NSWindowStyleMaskFullScreen) != 0; }
    void toggleFullScreen(const std::shared_ptr<void>& sender = nullptr);
    bool isMiniaturized() const { return miniaturized_; }
    void miniaturize(const std::shared_ptr<void>& = nullptr) {
        miniaturized_ = true;
        orderOut();
    }

    // --- responders and events
    NSResponder* firstResponder() const { return firstResponder_; }
    bool makeFirstResponder(NSResponder* responder);
    virtual void sendEvent(const std::shared_ptr<NSEvent>& event);
    // The view under a point in window coordinates (content view tree, then
    // the title-bar buttons); nullptr outside.
    NSView* hitTest(CGPoint windowPoint) const;
    // The view a press in progress began in (it keeps the mouse until release).
    NSView* mouseDownView() const { return mouseDownView_.get(); }

    // --- drawing (the compositor): background, title bar and view tree, in
    // window coordinates (origin at the frame's bottom-left, y up).
    void draw(CoreGraphics::DrawingContext& ctx);
    bool viewsNeedDisplay = true;
    void display() { viewsNeedDisplay = true; }

    std::shared_ptr<NSWindowAnimator> animator();

    // Internal: order number assigned by the application when brought front.
    std::uint64_t orderStamp = 0;

protected:
    virtual void willOrderOnScreen() {}
    virtual void didOrderOffScreen() {}

private:
    void layoutTitleBarButtons();
    CGRect frame_{};
    NSWindowStyleMask styleMask_ = 0;
    NSWindowLevel level_ = NSNormalWindowLevel;
    NSColorRef backgroundColor_;
    double alpha_ = 1;
    bool visible_ = false;
    bool closed_ = false;
    bool miniaturized_ = false;
    CGRect frameBeforeFullScreen_{};
    long number_ = 0;
    std::shared_ptr<NSView> contentView_;
    std::shared_ptr<NSViewController> contentViewController_;
    std::shared_ptr<NSView> titleBarView_;
    std::vector<std::shared_ptr<NSButton>> titleButtons_;
    NSResponder* firstResponder_ = nullptr;
    std::shared_ptr<NSView> mouseDownView_;
};

class NSPanel : public NSWindow {
public:
    using NSWindow::NSWindow;
    bool becomesKeyOnlyIfNeeded = false;
    bool floatingPanel = false;
    bool worksWhenModal = false;
    bool canBecomeKeyWindow() const override;
};

class NSViewController : public NSResponder {
public:
    NSViewController() = default;
    ~NSViewController() override = default;
    std::shared_ptr<NSViewController> self() { return std::static_pointer_cast<NSViewController>(shared_from_this()); }
    // Loads the view on first use (loadView, then viewDidLoad).
    std::shared_ptr<NSView> view();
    void setView(std::shared_ptr<NSView> view);
    bool isViewLoaded() const { return view_ != nullptr; }
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}
    virtual void viewDidLayout() {}
    std::string title;
    std::shared_ptr<void> representedObject;
    CGSize preferredContentSize{};

    // Presentation: a presented controller is shown in a window of its own
    // (or a popover); dismissing closes it.
    void presentViewControllerAsModalWindow(std::shared_ptr<NSViewController> controller);
    void presentViewControllerAsSheet(std::shared_ptr<NSViewController> controller) {
        presentViewControllerAsModalWindow(std::move(controller));
    }
    void dismissViewController(const std::shared_ptr<NSViewController>& controller);
    virtual void dismissController(const std::shared_ptr<void>& sender = nullptr);
    NSViewController* presentingViewController() const { return presenting_; }
    const std::vector<std::shared_ptr<NSViewController>>& presentedViewControllers() const { return presented_; }

    // Appearance callbacks, called by the window the view is shown in.
    void notifyWillAppear();
    void notifyDidAppear();
    void notifyWillDisappear();
    void notifyDidDisappear();

private:
    std::shared_ptr<NSView> view_;
    bool loading_ = false;
    bool appeared_ = false;
    NSViewController* presenting_ = nullptr;
    std::vector<std::shared_ptr<NSViewController>> presented_;
    std::shared_ptr<NSWindow> presentedWindow_;
};

class NSWindowController : public NSResponder {
public:
    explicit NSWindowController(std::shared_ptr<NSWindow> window = nullptr);
    static std::shared_ptr<NSWindowController> make(std::shared_ptr<NSWindow> window) {
        auto c = std::make_shared<NSWindowController>(window);
        if (window) window->windowController = c;
        return c;
    }
    // Loads the window on first use (loadWindow, then windowDidLoad).
    std::shared_ptr<NSWindow> window();
    void setWindow(std::shared_ptr<NSWindow> window);
    bool isWindowLoaded() const { return window_ != nullptr; }
    virtual void loadWindow() {}
    virtual void windowDidLoad() {}
    virtual void showWindow(const std::shared_ptr<void>& sender = nullptr);
    virtual void close();
    std::shared_ptr<NSViewController> contentViewController() const;

private:
    std::shared_ptr<NSWindow> window_;
    bool loaded_ = false;
};

}  // namespace AppKit
