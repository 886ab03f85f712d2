#pragma once
// Controls: the control base with target/action, buttons, text fields with
// formatters and editing, image views, sliders with subclassable cells,
// segmented controls, progress indicators and visual effect views.
//
// Mouse tracking does not block: a control keeps the press between its
// mouseDown and mouseUp. A button sends its action on a release inside it.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSFont.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSView.h"

namespace AppKit {

class NSControl;
class NSTextField;

// Number formatting as the interface uses it: a positive format such as
// ",0.000" (grouping when it holds a comma; the zeros and hashes after the
// point give the fraction digits, the zeros before it the minimum integer digits).
class NSNumberFormatter {
public:
    std::string format() const { return format_; }
    void setFormat(std::string format) { format_ = std::move(format); }
    std::string stringFromNumber(double value) const;
    std::optional<double> numberFromString(const std::string& text) const;

private:
    std::string format_ = "0";
};

class NSControl : public NSView {
public:
    using NSView::NSView;
    using Action = std::function<void(NSControl& sender)>;
    Action action;
    std::string actionName;  // the action's selector text, for diagnostics and tests
    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled) {
        enabled_ = enabled;
        setNeedsDisplay();
    }
    bool continuous = false;
    NSFontRef font = NSFont::systemFontOfSize(13);
    NSTextAlignment alignment = NSTextAlignment::natural;
    // Sends the action with this control as sender; false without an action.
    bool sendAction();

    virtual std::string stringValue() const { return stringValue_; }
    virtual void setStringValue(std::string value);
    virtual double doubleValue() const;
    virtual void setDoubleValue(double value);
    float floatValue() const { return static_cast<float>(doubleValue()); }
    void setFloatValue(float value) { setDoubleValue(value); }
    virtual long integerValue() const;
    int intValue() const { return static_cast<int>(integerValue()); }
    virtual void setIntegerValue(long value) { setDoubleValue(static_cast<double>(value)); }
    void setIntValue(int value) { setIntegerValue(value); }
    std::shared_ptr<NSNumberFormatter> formatter;
    virtual void sizeToFit();
    void performClick();

protected:
    std::string stringValue_;
    double doubleValue_ = 0;
    bool enabled_ = true;
    bool pressed_ = false;
};

class NSButton : public NSControl {
public:
    using NSControl::NSControl;
    static std::shared_ptr<NSButton> buttonWithTitle(std::string title, Action action);
    static std::shared_ptr<NSButton> buttonWithImage(NSImageRef image, Action action);
    static std::shared_ptr<NSButton> checkboxWithTitle(std::string title, Action action);

    std::string title() const { return title_; }
    virtual void setTitle(std::string title) {
        title_ = std::move(title);
        setNeedsDisplay();
    }
    std::optional<NSAttributedString> attributedTitle;
    NSImageRef image() const { return image_; }
    virtual void setImage(NSImageRef image) {
        image_ = std::move(image);
        setNeedsDisplay();
    }
    NSImageRef alternateImage() const { return alternateImage_; }
    virtual void setAlternateImage(NSImageRef image) {
        alternateImage_ = std::move(image);
        setNeedsDisplay();
    }
    NSCellImagePosition imagePosition = NSCellImagePosition::imageLeft;
    NSImageScaling imageScaling = NSImageScaling::proportionallyDown;
    NSButtonType buttonType() const { return buttonType_; }
    virtual void setButtonType(NSButtonType type) { buttonType_ = type; }
    NSBezelStyle bezelStyle = NSBezelStyle::rounded;
    bool bordered = true;
    bool showsBorderOnlyWhileMouseInside = false;
    NSColorRef contentTintColor;
    std::string keyEquivalent;
    NSEventModifierFlags keyEquivalentModifierMask = 0;
    bool allowsMixedState = false;

    NSControlStateValue state() const { return state_; }
    virtual void setState(NSControlStateValue state) {
        state_ = state;
        setNeedsDisplay();
    }
    bool isHighlighted() const { return highlighted_; }
    virtual void highlight(bool flag) {
        highlighted_ = flag;
        setNeedsDisplay();
    }
    // Toggle types (push on/push off, toggle, switch, radio, on/off) change state on a click.
    bool togglesState() const;
    double doubleValue() const override { return static_cast<double>(state_); }
    long integerValue() const override { return state_; }
    void setDoubleValue(double v) override { setState(static_cast<NSControlStateValue>(v)); }

    void mouseDown(NSEvent& event) override;
    void mouseUp(NSEvent& event) override;
    void mouseDragged(NSEvent& event) override;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    CGSize intrinsicContentSize() const override;

protected:
    std::string title_;
    NSImageRef image_, alternateImage_;
    NSButtonType buttonType_ = NSButtonType::momentaryPushIn;
    NSControlStateValue state_ = NSControlStateValueOff;
    bool highlighted_ = false;
};

class NSTextFieldDelegate {
public:
    virtual ~NSTextFieldDelegate() = default;
    virtual void controlTextDidBeginEditing(NSTextField&) {}
    virtual void controlTextDidChange(NSTextField&) {}
    virtual void controlTextDidEndEditing(NSTextField&) {}
};

class NSTextField : public NSControl {
public:
    using NSControl::NSControl;
    static std::shared_ptr<NSTextField> labelWithString(std::string text);
    static std::shared_ptr<NSTextField> textFieldWithString(std::string text);

    std::string placeholderString;
    bool editable = true;
    bool selectable = true;
    bool bezeled = true;
    bool bordered = false;
    bool drawsBackground = true;
    NSColorRef backgroundColor;
    NSColorRef textColor;
    long maximumNumberOfLines = 0;
    bool usesSingleLineMode = false;
    std::weak_ptr<NSTextFieldDelegate> delegate;

    // With a formatter, the text is the formatted number.
    void setDoubleValue(double value) override;
    double doubleValue() const override;
    void setStringValue(std::string value) override;

    // Editing: a click on an editable field (or makeFirstResponder) starts it;
    // typed characters change the text; Return, Tab, a click elsewhere or
    // endEditing ends it (delegate told, action sent on Return).
    bool isEditing() const { return editing_; }
    bool acceptsFirstResponder() const override { return editable || selectable; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    void mouseDown(NSEvent& event) override;
    void keyDown(NSEvent& event) override;
    void insertText(const std::string& text);
    void deleteBackward();
    void endEditing();
    void abortEditing();
    void selectText() { selectAll_ = true; }

    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    CGSize intrinsicContentSize() const override;

private:
    bool editing_ = false;
    bool selectAll_ = false;
    std::string textBeforeEditing_;
};

class NSImageView : public NSControl {
public:
    using NSControl::NSControl;
    static std::shared_ptr<NSImageView> imageViewWithImage(NSImageRef image);
    NSImageRef image;
    NSImageScaling imageScaling = NSImageScaling::proportionallyDown;
    NSColorRef contentTintColor;
    bool smooth = true;  // false keeps pixels square when scaled
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    CGSize intrinsicContentSize() const override;
};

class NSSlider;

// The slider's drawing, subclassable: drawBarInside draws the track.
class NSSliderCell {
public:
    virtual ~NSSliderCell() = default;
    NSSlider* controlView = nullptr;
    double knobThickness = 20;
    virtual CGRect barRectFlipped(bool flipped) const;
    virtual CGRect knobRectFlipped(bool flipped) const;
    virtual void drawBarInside(CGRect rect, bool flipped, CoreGraphics::DrawingContext& ctx);
    virtual void drawKnob(CGRect knobRect, CoreGraphics::DrawingContext& ctx);
};

class NSSlider : public NSControl {
public:
    explicit NSSlider(CGRect frame = {});
    static std::shared_ptr<NSSlider> sliderWithValue(double value, double min, double max, Action action);
    double minValue = 0;
    double maxValue = 1;
    bool vertical = false;
    long numberOfTickMarks = 0;
    bool allowsTickMarkValuesOnly = false;
    double altIncrementValue = 0;
    const std::shared_ptr<NSSliderCell>& cell() const { return cell_; }
    void setCell(std::shared_ptr<NSSliderCell> cell);
    // Clamped to min..max (and to tick marks when only they are allowed).
    void setDoubleValue(double value) override;
    double doubleValue() const override { return doubleValue_; }
    long integerValue() const override;
    std::string stringValue() const override;
    // The value a point along the bar stands for.
    double valueForPoint(CGPoint viewPoint) const;
    void mouseDown(NSEvent& event) override;
    void mouseDragged(NSEvent& event) override;
    void mouseUp(NSEvent& event) override;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    bool isFlipped() const override { return false; }

private:
    std::shared_ptr<NSSliderCell> cell_;
};

enum class NSSegmentSwitchTracking { selectOne = 0, selectAny = 1, momentary = 2 };

class NSSegmentedControl : public NSControl {
public:
    using NSControl::NSControl;
    static std::shared_ptr<NSSegmentedControl> segmentedControlWithLabels(std::vector<std::string> labels,
                                                                          NSSegmentSwitchTracking mode, Action action);
    long segmentCount() const { return static_cast<long>(segments_.size()); }
    void setSegmentCount(long count);
    void setLabel(std::string label, long segment);
    std::string labelForSegment(long segment) const;
    void setImage(NSImageRef image, long segment);
    NSImageRef imageForSegment(long segment) const;
    void setWidth(double width, long segment);
    double widthForSegment(long segment) const;  // 0: automatic
    using NSControl::setEnabled;                 // the whole control, beside one segment
    void setEnabled(bool enabled, long segment);
    bool isEnabledForSegment(long segment) const;
    void setTag(long tag, long segment);
    long tagForSegment(long segment) const;
    long selectedSegment() const { return selected_; }
    // -1 deselects; out of range is ignored.
    void setSelectedSegment(long segment);
    bool selectSegmentWithTag(long tag);
    bool isSelectedForSegment(long segment) const;
    NSSegmentSwitchTracking trackingMode = NSSegmentSwitchTracking::selectOne;
    // The rectangle of a segment in view coordinates.
    CGRect rectForSegment(long segment) const;
    long segmentAtPoint(CGPoint viewPoint) const;
    void mouseDown(NSEvent& event) override;
    void mouseUp(NSEvent& event) override;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    long integerValue() const override { return selected_; }

private:
    struct Segment {
        std::string label;
        NSImageRef image;
        double width = 0;
        bool enabled = true;
        bool selected = false;
        long tag = 0;
    };
    std::vector<Segment> segments_;
    long selected_ = -1;
    long pressedSegment_ = -1;
};

enum class NSProgressIndicatorStyle { bar = 0, spinning = 1 };

class NSProgressIndicator : public NSView {
public:
    using NSView::NSView;
    NSProgressIndicatorStyle style = NSProgressIndicatorStyle::bar;
    bool indeterminate = true;
    bool displayedWhenStopped = true;
    double minValue = 0, maxValue = 100;
    double doubleValue = 0;
    void startAnimation(const std::shared_ptr<void>& sender = nullptr);
    void stopAnimation(const std::shared_ptr<void>& sender = nullptr);
    bool isAnimating() const { return animating_; }
    void incrementBy(double delta) {
        doubleValue += delta;
        setNeedsDisplay();
    }
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;

private:
    bool animating_ = false;
};

enum class NSVisualEffectMaterial {
    titlebar = 3,
    selection = 4,
    menu = 5,
    popover = 6,
    sidebar = 7,
    headerView = 10,
    sheet = 11,
    windowBackground = 12,
    hudWindow = 13,
    fullScreenUI = 15,
    toolTip = 17,
    contentBackground = 18,
    underWindowBackground = 21,
    underPageBackground = 22,
    appearanceBased = 0,
    light = 1,
    dark = 2,
    mediumLight = 8,
    ultraDark = 9
};
enum class NSVisualEffectBlendingMode { behindWindow = 0, withinWindow = 1 };
enum class NSVisualEffectState { followsWindowActiveState = 0, active = 1, inactive = 2 };

// A view whose background stands for the system's blur: the material is
// recorded and drawn as a flat translucent tone.
class NSVisualEffectView : public NSView {
public:
    using NSView::NSView;
    NSVisualEffectMaterial material = NSVisualEffectMaterial::appearanceBased;
    NSVisualEffectBlendingMode blendingMode = NSVisualEffectBlendingMode::behindWindow;
    NSVisualEffectState state = NSVisualEffectState::followsWindowActiveState;
    bool emphasized = false;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
};

}  // namespace AppKit
