#pragma once
// The floating notice: a small borderless window with a rounded dark
// background, an optional colour swatch and one line of text, shown under
// the status item and faded out by a one-shot effect timer.

#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Dispatch.h"

// The rounded background; black without a colour.
class ARRoundedView : public AppKit::NSView {
public:
    using NSView::NSView;
    AppKit::NSColorRef windowColor;
    void drawRect(AppKit::CGRect dirtyRect, CoreGraphics::DrawingContext& ctx) override;
};

// Progress messages of a one-shot; each is optional.
class GCOneShotDelegate {
public:
    virtual ~GCOneShotDelegate() = default;
    virtual void oneShotWillBegin() {}
    virtual void oneShotHasReached(double fraction) { (void)fraction; }
    virtual void oneShotComplete() {}
};

// A one-shot timer reporting progress every 1/48 s (default and
// event-tracking modes, so it runs while a menu is open) and completion once
// its duration has passed. The running timer keeps it alive; the delegate is
// weak, so a delegate that is gone hears nothing.
class GCOneShotEffectTimer : public std::enable_shared_from_this<GCOneShotEffectTimer> {
public:
    static constexpr double kStandardFadeTime = 0.15;
    static std::shared_ptr<GCOneShotEffectTimer> oneShotWithTime(double seconds,
                                                                 std::weak_ptr<GCOneShotDelegate> delegate);
    static std::shared_ptr<GCOneShotEffectTimer> oneShotWithStandardFadeTimeForDelegate(
        std::weak_ptr<GCOneShotDelegate> delegate);
    ~GCOneShotEffectTimer();

    std::weak_ptr<GCOneShotDelegate> delegate;
    bool isRunning() const { return mTimer != nullptr; }

private:
    GCOneShotEffectTimer() = default;
    void osfx_callback();
    std::shared_ptr<Foundation::Timer> mTimer;
    double mStart = 0;
    double mTotal = 0;
};

class ARFloatingWindow : public AppKit::NSWindow, public GCOneShotDelegate {
public:
    using NSWindow::NSWindow;
    // A new notice window: zero rectangle, borderless, buffered, deferred,
    // kept when closed.
    static std::shared_ptr<ARFloatingWindow> create();
    void didInit() override;

    void setStringValue(const std::string& text);
    void setDoubleValue(double value);
    void setFloatValue(float value) { setDoubleValue(value); }
    // A number format for the text, or none.
    void setFormat(const std::optional<std::string>& format);
    void setColor(const AppKit::NSColorRef& color, bool hideColor);
    void setWindowOffset(AppKit::CGSize offset) { m_wOffset = offset; }
    void positionAtScreenPoint(AppKit::CGPoint point) { setFrameOrigin(point); }
    void positionNearPoint(AppKit::CGPoint point, const AppKit::NSView& view);
    void setBackgroundColor(AppKit::NSColorRef color) override;

    void show();
    // Fades out over 0.15 s when visible; otherwise nothing.
    void hide();

    void oneShotHasReached(double fraction) override;
    void oneShotComplete() override;

    const std::shared_ptr<AppKit::NSTextField>& infoView() const { return m_infoViewRef; }
    const std::shared_ptr<AppKit::NSView>& colorView() const { return colorView_; }
    const std::shared_ptr<GCOneShotEffectTimer>& fade() const { return fade_; }

private:
    void resizeToText();
    std::shared_ptr<AppKit::NSTextField> m_infoViewRef;
    AppKit::CGSize m_wOffset{};
    std::shared_ptr<AppKit::NSView> colorView_;
    std::shared_ptr<GCOneShotEffectTimer> fade_;
};
