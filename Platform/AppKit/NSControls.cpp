#include "Platform/AppKit/NSControls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Platform/AppKit/NSWindow.h"

namespace AppKit {

// --- number formatter ---------------------------------------------------------------

std::string NSNumberFormatter::stringFromNumber(double value) const {
    if (std::isnan(value)) return "NaN";
    const bool grouping = format_.find(',') != std::string::npos;
    const auto dot = format_.find('.');
    int fraction = 0, minInt = 0;
    for (std::size_t i = 0; i < format_.size(); ++i) {
        char c = format_[i];
        if (dot != std::string::npos && i > dot && (c == '0' || c == '#')) ++fraction;
        if ((dot == std::string::npos || i < dot) && c == '0') ++minInt;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", fraction, std::fabs(value));
    std::string s = buf;
    auto point = s.find('.');
    std::string intPart = s.substr(0, point), frac = point == std::string::npos ? "" : s.substr(point);
    if (intPart == "0" && minInt == 0) intPart.clear();
    while (static_cast<int>(intPart.size()) < minInt) intPart.insert(intPart.begin(), '0');
    if (grouping)
        for (int i = static_cast<int>(intPart.size()) - 3; i > 0; i -= 3)
            intPart.insert(static_cast<std::size_t>(i), ",");
    bool negative = value < 0 && std::strtod(buf, nullptr) != 0;
    return (negative ? "-" : "") + intPart + frac;
}

std::optional<double> NSNumberFormatter::numberFromString(const std::string& text) const {
    std::string t;
    for (char c : text)
        if (c != ',') t += c;
    if (t.empty()) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (!end || *end != '\0') return std::nullopt;
    return v;
}

// --- control ---------------------------------------------------------------------------

bool NSControl::sendAction() {
    if (!action || !enabled_) return false;
    auto keep = self();
    action(*this);
    return true;
}

void NSControl::setStringValue(std::string value) {
    stringValue_ = std::move(value);
    char* end = nullptr;
    double d = std::strtod(stringValue_.c_str(), &end);
    doubleValue_ = end && end != stringValue_.c_str() ? d : 0;
    setNeedsDisplay();
}

double NSControl::doubleValue() const { return doubleValue_; }

void NSControl::setDoubleValue(double value) {
    doubleValue_ = value;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", value);
    stringValue_ = formatter ? formatter->stringFromNumber(value) : std::string(buf);
    setNeedsDisplay();
}

long NSControl::integerValue() const { return static_cast<long>(doubleValue()); }

void NSControl::sizeToFit() {
    CGSize s = intrinsicContentSize();
    if (s.width >= 0 && s.height >= 0) setFrameSize(s);
}

void NSControl::performClick() {
    if (!enabled_) return;
    if (auto b = dynamic_cast<NSButton*>(this); b && b->togglesState())
        b->setState(b->state() == NSControlStateValueOn ? NSControlStateValueOff : NSControlStateValueOn);
    sendAction();
}

// --- button --------------------------------------------------------------------------------

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string title, Action action) {
    auto b = NSView::make<NSButton>();
    b->setTitle(std::move(title));
    b->action = std::move(action);
    b->sizeToFit();
    return b;
}

std::shared_ptr<NSButton> NSButton::buttonWithImage(NSImageRef image, Action action) {
    auto b = NSView::make<NSButton>();
    b->setImage(std::move(image));
    b->imagePosition = NSCellImagePosition::imageOnly;
    b->action = std::move(action);
    b->sizeToFit();
    return b;
}

std::shared_ptr<NSButton> NSButton::checkboxWithTitle(std::string title, Action action) {
    auto b = NSView::make<NSButton>();
    b->setTitle(std::move(title));
    b->setButtonType(NSButtonType::switchButton);
    b->action = std::move(action);
    b->sizeToFit();
    return b;
}

bool NSButton::togglesState() const {
    switch (buttonType_) {
        case NSButtonType::pushOnPushOff:
        case NSButtonType::toggle:
        case NSButtonType::switchButton:
        case NSButtonType::radio:
        case NSButtonType::onOff:
            return true;
        default:
            return false;
    }
}

void NSButton::mouseDown(NSEvent&) {
    if (!enabled_) return;
    pressed_ = true;
    highlight(true);
}

void NSButton::mouseDragged(NSEvent& e) {
    if (!pressed_) return;
    CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
    highlight(bounds().contains(p));
}

void NSButton::mouseUp(NSEvent& e) {
    if (!pressed_) return;
    pressed_ = false;
    highlight(false);
    CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
    if (!bounds().contains(p)) return;
    if (togglesState()) {
        NSControlStateValue next = state_ == NSControlStateValueOn ? NSControlStateValueOff : NSControlStateValueOn;
        if (buttonType_ == NSButtonType::radio) next = NSControlStateValueOn;
        setState(next);
    }
    sendAction();
}

CGSize NSButton::intrinsicContentSize() const {
    double w = 0, h = 0;
    auto img = (state_ == NSControlStateValueOn && alternateImage_) ? alternateImage_ : image_;
    if (img && imagePosition != NSCellImagePosition::noImage) {
        w = img->size().width;
        h = img->size().height;
    }
    if (imagePosition != NSCellImagePosition::imageOnly && !title_.empty()) {
        CGSize t = font->sizeOfString(title_);
        if (imagePosition == NSCellImagePosition::imageAbove || imagePosition == NSCellImagePosition::imageBelow) {
            w = std::max(w, t.width);
            h += t.height + (img ? 2 : 0);
        } else {
            w += t.width + (img ? 4 : 0);
            h = std::max(h, t.height);
        }
    }
    if (buttonType_ == NSButtonType::switchButton || buttonType_ == NSButtonType::radio) w += 20;
    if (bordered) {
        w += 24;
        h = std::max(h + 6, 21.0);
    }
    return {std::ceil(w), std::ceil(h)};
}

void NSButton::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    const CGRect b = bounds();
    if (bordered) {
        RGBA fill = highlighted_ ? RGBA{0.8, 0.8, 0.8, 1} : RGBA{1, 1, 1, 1};
        if (state_ == NSControlStateValueOn && togglesState() && buttonType_ != NSButtonType::switchButton)
            fill = RGBA{0.75, 0.82, 0.95, 1};
        ctx.fillRoundedRect(CoreGraphics::CGRectInset(b, 1, 1), 4, fill);
        ctx.strokeRoundedRect(CoreGraphics::CGRectInset(b, 1, 1), 4, RGBA{0, 0, 0, 0.25}, 1);
    }
    auto img = (state_ == NSControlStateValueOn && alternateImage_) ? alternateImage_ : image_;
    const RGBA textColor = enabled_ ? RGBA{0, 0, 0, 0.88} : RGBA{0, 0, 0, 0.35};
    CGSize t =
        (imagePosition != NSCellImagePosition::imageOnly && !title_.empty()) ? font->sizeOfString(title_) : CGSize{};
    CGSize is = img && imagePosition != NSCellImagePosition::noImage ? img->size() : CGSize{};
    if (imageScaling == NSImageScaling::proportionallyDown && (is.width > b.width() || is.height > b.height()) &&
        is.width > 0 && is.height > 0) {
        double k = std::min(b.width() / is.width, b.height() / is.height);
        is = {is.width * k, is.height * k};
    }
    double x = b.midX() - (is.width + t.width + (is.width > 0 && t.width > 0 ? 4 : 0)) / 2;
    if (buttonType_ == NSButtonType::switchButton || buttonType_ == NSButtonType::radio) {
        CGRect box = CGRectMake(2, b.midY() - 7, 14, 14);
        if (buttonType_ == NSButtonType::radio)
            ctx.strokeEllipse(box, RGBA{0, 0, 0, 0.5}, 1);
        else
            ctx.strokeRoundedRect(box, 3, RGBA{0, 0, 0, 0.5}, 1);
        if (state_ == NSControlStateValueOn)
            ctx.drawText("\u2713", box, font->spec(), textColor, CoreGraphics::TextAlignment::Center);
        x = 20;
    }
    if (is.width > 0) {
        CGRect ir = CGRectMake(x, b.midY() - is.height / 2, is.width, is.height);
        if (imagePosition == NSCellImagePosition::imageAbove) ir.origin = {b.midX() - is.width / 2, b.midY()};
        if (imagePosition == NSCellImagePosition::imageBelow)
            ir.origin = {b.midX() - is.width / 2, b.midY() - is.height};
        if (img->isTemplate && contentTintColor)
            img->tintedCopy(contentTintColor)->drawInRect(ctx, ir);
        else
            img->drawInRect(ctx, ir);
        x += is.width + 4;
    }
    if (t.width > 0) {
        if (attributedTitle)
            attributedTitle->drawInRect(ctx, CGRectMake(x, b.midY() - t.height / 2, t.width + 1, t.height), textColor);
        else
            ctx.drawText(title_, CGRectMake(x, b.midY() - t.height / 2, t.width + 1, t.height), font->spec(),
                         textColor);
    }
}

// --- text field ---------------------------------------------------------------------------------

std::shared_ptr<NSTextField> NSTextField::labelWithString(std::string text) {
    auto f = NSView::make<NSTextField>();
    f->editable = false;
    f->selectable = false;
    f->bezeled = false;
    f->drawsBackground = false;
    f->setStringValue(std::move(text));
    f->sizeToFit();
    return f;
}

std::shared_ptr<NSTextField> NSTextField::textFieldWithString(std::string text) {
    auto f = NSView::make<NSTextField>();
    f->setStringValue(std::move(text));
    f->sizeToFit();
    return f;
}

void NSTextField::setStringValue(std::string value) {
    stringValue_ = std::move(value);
    if (formatter) {
        if (auto n = formatter->numberFromString(stringValue_))
            doubleValue_ = *n;
        else
            doubleValue_ = 0;
    } else {
        char* end = nullptr;
        double d = std::strtod(stringValue_.c_str(), &end);
        doubleValue_ = end && end != stringValue_.c_str() ? d : 0;
    }
    setNeedsDisplay();
}

void NSTextField::setDoubleValue(double value) { NSControl::setDoubleValue(value); }

double NSTextField::doubleValue() const { return doubleValue_; }

bool NSTextField::becomeFirstResponder() {
    if (!editable) return selectable;
    if (!editing_) {
        editing_ = true;
        textBeforeEditing_ = stringValue_;
        selectAll_ = true;
        if (auto d = delegate.lock()) d->controlTextDidBeginEditing(*this);
    }
    return true;
}

bool NSTextField::resignFirstResponder() {
    if (editing_) {
        editing_ = false;
        if (auto d = delegate.lock()) d->controlTextDidEndEditing(*this);
    }
    return true;
}

void NSTextField::mouseDown(NSEvent&) {
    if (!editable) return;
    if (auto w = window()) {
        if (w->firstResponder() != this)
            w->makeFirstResponder(this);
        else
            selectAll_ = false;
    }
}

void NSTextField::insertText(const std::string& text) {
    if (!editing_) return;
    if (selectAll_) {
        stringValue_.clear();
        selectAll_ = false;
    }
    setStringValue(stringValue_ + text);
    if (auto d = delegate.lock()) d->controlTextDidChange(*this);
}

void NSTextField::deleteBackward() {
    if (!editing_) return;
    if (selectAll_) {
        stringValue_.clear();
        selectAll_ = false;
    } else if (!stringValue_.empty()) {
        // One UTF-8 character.
        std::size_t n = stringValue_.size() - 1;
        while (n > 0 && (static_cast<unsigned char>(stringValue_[n]) & 0xC0) == 0x80) --n;
        stringValue_.erase(n);
    }
    setStringValue(stringValue_);
    if (auto d = delegate.lock()) d->controlTextDidChange(*this);
}

void NSTextField::endEditing() {
    if (!editing_) return;
    auto keep = self();
    if (auto w = window(); w && w->firstResponder() == this)
        w->makeFirstResponder(nullptr);
    else
        resignFirstResponder();
}

void NSTextField::abortEditing() {
    if (!editing_) return;
    editing_ = false;
    setStringValue(textBeforeEditing_);
    if (auto w = window(); w && w->firstResponder() == this) w->makeFirstResponder(nullptr);
}

void NSTextField::keyDown(NSEvent& e) {
    if (!editing_) {
        NSControl::keyDown(e);
        return;
    }
    auto keep = self();
    switch (e.keyCode) {
        case kVK_Return:
            endEditing();
            sendAction();
            return;
        case kVK_Tab:
            endEditing();
            return;
        case kVK_Escape:
            abortEditing();
            return;
        case kVK_Delete:
            deleteBackward();
            return;
        default:
            break;
    }
    if (e.modifierFlags & (NSEventModifierFlagCommand | NSEventModifierFlagControl)) return;
    if (!e.characters.empty() && static_cast<unsigned char>(e.characters[0]) >= 0x20) insertText(e.characters);
}

CGSize NSTextField::intrinsicContentSize() const {
    CGSize s = font->sizeOfString(stringValue_.empty() ? placeholderString : stringValue_);
    double pad = bezeled || bordered ? 6 : 4;
    return {std::ceil(s.width + pad), std::ceil(s.height + (bezeled || bordered ? 6 : 1))};
}

void NSTextField::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    const CGRect b = bounds();
    if (drawsBackground) {
        RGBA bg = backgroundColor ? toRGBA(backgroundColor) : RGBA{1, 1, 1, 1};
        if (bg.a > 0) ctx.fillRect(b, bg);
    }
    if (bezeled || bordered)
        ctx.strokeRect(CoreGraphics::CGRectInset(b, 0.5, 0.5), RGBA{0, 0, 0, editing_ ? 0.6 : 0.25}, 1);
    const bool placeholder = stringValue_.empty() && !placeholderString.empty();
    const std::string& text = placeholder ? placeholderString : stringValue_;
    if (text.empty()) return;
    RGBA color = textColor ? toRGBA(textColor) : RGBA{0, 0, 0, 0.88};
    if (placeholder) color.a *= 0.4;
    CGSize s = font->sizeOfString(text);
    auto align = alignment == NSTextAlignment::center  ? CoreGraphics::TextAlignment::Center
                 : alignment == NSTextAlignment::right ? CoreGraphics::TextAlignment::Right
                                                       : CoreGraphics::TextAlignment::Left;
    const double inset = bezeled || bordered ? 3 : 2;
    ctx.drawText(text, CGRectMake(inset, b.midY() - s.height / 2, std::max(0.0, b.width() - 2 * inset), s.height),
                 font->spec(), color, align);
}

// --- image view -----------------------------------------------------------------------------------

std::shared_ptr<NSImageView> NSImageView::imageViewWithImage(NSImageRef image) {
    auto v = NSView::make<NSImageView>();
    v->image = std::move(image);
    if (v->image) v->setFrameSize(v->image->size());
    return v;
}

CGSize NSImageView::intrinsicContentSize() const { return image ? image->size() : CGSize{0, 0}; }

void NSImageView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    if (!image) return;
    CGRect b = bounds();
    CGSize s = image->size();
    CGRect r = b;
    if (imageScaling != NSImageScaling::axesIndependently && s.width > 0 && s.height > 0) {
        double k = std::min(b.width() / s.width, b.height() / s.height);
        if (imageScaling == NSImageScaling::proportionallyDown) k = std::min(k, 1.0);
        if (imageScaling == NSImageScaling::none) k = 1;
        r = CGRectMake(b.midX() - s.width * k / 2, b.midY() - s.height * k / 2, s.width * k, s.height * k);
    }
    if (image->isTemplate && contentTintColor)
        image->tintedCopy(contentTintColor)->drawInRect(ctx, r, 1, smooth);
    else
        image->drawInRect(ctx, r, 1, smooth);
}

// --- slider ---------------------------------------------------------------------------------------

NSSlider::NSSlider(CGRect frame) : NSControl(frame), cell_(std::make_shared<NSSliderCell>()) {
    cell_->controlView = this;
    continuous = true;
}

std::shared_ptr<NSSlider> NSSlider::sliderWithValue(double value, double min, double max, Action action) {
    auto s = NSView::make<NSSlider>(CGRectMake(0, 0, 160, 21));
    s->minValue = min;
    s->maxValue = max;
    s->setDoubleValue(value);
    s->action = std::move(action);
    return s;
}

void NSSlider::setCell(std::shared_ptr<NSSliderCell> cell) {
    cell_ = cell ? std::move(cell) : std::make_shared<NSSliderCell>();
    cell_->controlView = this;
    setNeedsDisplay();
}

void NSSlider::setDoubleValue(double value) {
    if (std::isnan(value)) value = minValue;
    double lo = std::min(minValue, maxValue), hi = std::max(minValue, maxValue);
    value = std::clamp(value, lo, hi);
    if (allowsTickMarkValuesOnly && numberOfTickMarks > 1) {
        double step = (maxValue - minValue) / static_cast<double>(numberOfTickMarks - 1);
        value = minValue + std::round((value - minValue) / step) * step;
    }
    doubleValue_ = value;
    setNeedsDisplay();
}

long NSSlider::integerValue() const { return static_cast<long>(doubleValue_); }

std::string NSSlider::stringValue() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", doubleValue_);
    return buf;
}

CGRect NSSliderCell::barRectFlipped(bool) const {
    if (!controlView) return {};
    CGRect b = controlView->bounds();
    if (controlView->vertical) return CGRectMake(b.midX() - 2, knobThickness / 2, 4, b.height() - knobThickness);
    return CGRectMake(knobThickness / 2, b.midY() - 2, std::max(0.0, b.width() - knobThickness), 4);
}

CGRect NSSliderCell::knobRectFlipped(bool flipped) const {
    if (!controlView) return {};
    CGRect bar = barRectFlipped(flipped);
    double range = controlView->maxValue - controlView->minValue;
    double f = range != 0 ? (controlView->doubleValue() - controlView->minValue) / range : 0;
    CGRect b = controlView->bounds();
    if (controlView->vertical)
        return CGRectMake(b.midX() - knobThickness / 2, bar.minY() + f * bar.height() - knobThickness / 2,
                          knobThickness, knobThickness);
    return CGRectMake(bar.minX() + f * bar.width() - knobThickness / 2, b.midY() - knobThickness / 2, knobThickness,
                      knobThickness);
}

void NSSliderCell::drawBarInside(CGRect rect, bool, CoreGraphics::DrawingContext& ctx) {
    ctx.fillRoundedRect(rect, 2, RGBA{0, 0, 0, 0.2});
}

void NSSliderCell::drawKnob(CGRect knobRect, CoreGraphics::DrawingContext& ctx) {
    CGRect r = CoreGraphics::CGRectInset(knobRect, 2, 2);
    ctx.fillEllipse(r, RGBA{1, 1, 1, 1});
    ctx.strokeEllipse(r, RGBA{0, 0, 0, 0.3}, 1);
}

double NSSlider::valueForPoint(CGPoint p) const {
    CGRect bar = cell_->barRectFlipped(isFlipped());
    double f = vertical ? (bar.height() > 0 ? (p.y - bar.minY()) / bar.height() : 0)
                        : (bar.width() > 0 ? (p.x - bar.minX()) / bar.width() : 0);
    f = std::clamp(f, 0.0, 1.0);
    return minValue + f * (maxValue - minValue);
}

void NSSlider::mouseDown(NSEvent& e) {
    if (!enabled_) return;
    pressed_ = true;
    setDoubleValue(valueForPoint(convertPointFromView(e.locationInWindow, nullptr)));
    if (continuous) sendAction();
}

void NSSlider::mouseDragged(NSEvent& e) {
    if (!pressed_) return;
    setDoubleValue(valueForPoint(convertPointFromView(e.locationInWindow, nullptr)));
    if (continuous) sendAction();
}

void NSSlider::mouseUp(NSEvent& e) {
    if (!pressed_) return;
    pressed_ = false;
    setDoubleValue(valueForPoint(convertPointFromView(e.locationInWindow, nullptr)));
    sendAction();
}

void NSSlider::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    cell_->drawBarInside(cell_->barRectFlipped(isFlipped()), isFlipped(), ctx);
    cell_->drawKnob(cell_->knobRectFlipped(isFlipped()), ctx);
}

// --- segmented control ----------------------------------------------------------------------------------

std::shared_ptr<NSSegmentedControl> NSSegmentedControl::segmentedControlWithLabels(std::vector<std::string> labels,
                                                                                   NSSegmentSwitchTracking mode,
                                                                                   Action action) {
    auto s = NSView::make<NSSegmentedControl>();
    s->setSegmentCount(static_cast<long>(labels.size()));
    for (std::size_t i = 0; i < labels.size(); ++i) s->setLabel(labels[i], static_cast<long>(i));
    s->trackingMode = mode;
    s->action = std::move(action);
    double w = 0;
    for (auto& l : labels) w += s->font->sizeOfString(l).width + 20;
    s->setFrameSize({std::ceil(w), 24});
    return s;
}

void NSSegmentedControl::setSegmentCount(long count) {
    segments_.resize(static_cast<std::size_t>(std::max(0L, count)));
    if (selected_ >= count) selected_ = -1;
    setNeedsDisplay();
}

#define SEGMENT_OK(i) ((i) >= 0 && (i) < segmentCount())
void NSSegmentedControl::setLabel(std::string label, long i) {
    if (SEGMENT_OK(i)) segments_[static_cast<std::size_t>(i)].label = std::move(label);
    setNeedsDisplay();
}
std::string NSSegmentedControl::labelForSegment(long i) const {
    return SEGMENT_OK(i) ? segments_[static_cast<std::size_t>(i)].label : std::string();
}
void NSSegmentedControl::setImage(NSImageRef image, long i) {
    if (SEGMENT_OK(i)) segments_[static_cast<std::size_t>(i)].image = std::move(image);
}
NSImageRef NSSegmentedControl::imageForSegment(long i) const {
    return SEGMENT_OK(i) ? segments_[static_cast<std::size_t>(i)].image : nullptr;
}
void NSSegmentedControl::setWidth(double width, long i) {
    if (SEGMENT_OK(i)) segments_[static_cast<std::size_t>(i)].width = width;
}
double NSSegmentedControl::widthForSegment(long i) const {
    return SEGMENT_OK(i) ? segments_[static_cast<std::size_t>(i)].width : 0;
}
void NSSegmentedControl::setEnabled(bool enabled, long i) {
    if (SEGMENT_OK(i)) segments_[static_cast<std::size_t>(i)].enabled = enabled;
}
bool NSSegmentedControl::isEnabledForSegment(long i) const {
    return SEGMENT_OK(i) && segments_[static_cast<std::size_t>(i)].enabled;
}
void NSSegmentedControl::setTag(long tag, long i) {
    if (SEGMENT_OK(i)) segments_[static_cast<std::size_t>(i)].tag = tag;
}
long NSSegmentedControl::tagForSegment(long i) const {
    return SEGMENT_OK(i) ? segments_[static_cast<std::size_t>(i)].tag : 0;
}

void NSSegmentedControl::setSelectedSegment(long i) {
    if (i < -1 || i >= segmentCount()) return;
    if (trackingMode != NSSegmentSwitchTracking::selectAny)
        for (auto& s : segments_) s.selected = false;
    if (i >= 0) segments_[static_cast<std::size_t>(i)].selected = true;
    selected_ = i;
    setNeedsDisplay();
}

bool NSSegmentedControl::selectSegmentWithTag(long tag) {
    for (long i = 0; i < segmentCount(); ++i)
        if (segments_[static_cast<std::size_t>(i)].tag == tag) {
            setSelectedSegment(i);
            return true;
        }
    return false;
}

bool NSSegmentedControl::isSelectedForSegment(long i) const {
    return SEGMENT_OK(i) && segments_[static_cast<std::size_t>(i)].selected;
}
#undef SEGMENT_OK

CGRect NSSegmentedControl::rectForSegment(long segment) const {
    const CGRect b = bounds();
    double fixed = 0;
    long automatic = 0;
    for (auto& s : segments_) {
        if (s.width > 0)
            fixed += s.width;
        else
            ++automatic;
    }
    double autoWidth = automatic > 0 ? std::max(0.0, b.width() - fixed) / static_cast<double>(automatic) : 0;
    double x = 0;
    for (long i = 0; i < segmentCount(); ++i) {
        double w =
            segments_[static_cast<std::size_t>(i)].width > 0 ? segments_[static_cast<std::size_t>(i)].width : autoWidth;
        if (i == segment) return CGRectMake(x, 0, w, b.height());
        x += w;
    }
    return {};
}

long NSSegmentedControl::segmentAtPoint(CGPoint p) const {
    for (long i = 0; i < segmentCount(); ++i)
        if (rectForSegment(i).contains(p)) return i;
    return -1;
}

void NSSegmentedControl::mouseDown(NSEvent& e) {
    if (!enabled_) return;
    pressedSegment_ = segmentAtPoint(convertPointFromView(e.locationInWindow, nullptr));
}

void NSSegmentedControl::mouseUp(NSEvent& e) {
    long i = segmentAtPoint(convertPointFromView(e.locationInWindow, nullptr));
    long pressed = pressedSegment_;
    pressedSegment_ = -1;
    if (i < 0 || i != pressed || !isEnabledForSegment(i)) return;
    if (trackingMode == NSSegmentSwitchTracking::selectAny) {
        auto& s = segments_[static_cast<std::size_t>(i)];
        s.selected = !s.selected;
        selected_ = i;
        setNeedsDisplay();
    } else {
        setSelectedSegment(i);
    }
    sendAction();
    if (trackingMode == NSSegmentSwitchTracking::momentary) {
        for (auto& s : segments_) s.selected = false;
        setNeedsDisplay();
    }
}

void NSSegmentedControl::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    ctx.fillRoundedRect(bounds(), 5, RGBA{0, 0, 0, 0.06});
    for (long i = 0; i < segmentCount(); ++i) {
        CGRect r = rectForSegment(i);
        const auto& s = segments_[static_cast<std::size_t>(i)];
        if (s.selected) ctx.fillRoundedRect(CoreGraphics::CGRectInset(r, 1, 1), 4, RGBA{1, 1, 1, 1});
        if (s.image) {
            CGSize is = s.image->size();
            s.image->drawInRect(ctx,
                                CGRectMake(r.midX() - is.width / 2, r.midY() - is.height / 2, is.width, is.height));
        } else if (!s.label.empty()) {
            CGSize ts = font->sizeOfString(s.label);
            ctx.drawText(s.label, CGRectMake(r.minX(), r.midY() - ts.height / 2, r.width(), ts.height), font->spec(),
                         s.enabled ? RGBA{0, 0, 0, 0.88} : RGBA{0, 0, 0, 0.3}, CoreGraphics::TextAlignment::Center);
        }
    }
}

// --- progress indicator ---------------------------------------------------------------------------------

void NSProgressIndicator::startAnimation(const std::shared_ptr<void>&) {
    animating_ = true;
    setNeedsDisplay();
}

void NSProgressIndicator::stopAnimation(const std::shared_ptr<void>&) {
    animating_ = false;
    setNeedsDisplay();
}

void NSProgressIndicator::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    if (!animating_ && !displayedWhenStopped) return;
    CGRect b = bounds();
    if (style == NSProgressIndicatorStyle::spinning) {
        double d = std::min(b.width(), b.height());
        CGRect r = CGRectMake(b.midX() - d / 2, b.midY() - d / 2, d, d);
        ctx.strokeEllipse(CoreGraphics::CGRectInset(r, 2, 2), RGBA{0, 0, 0, animating_ ? 0.5 : 0.2}, 2);
        return;
    }
    ctx.fillRoundedRect(b, b.height() / 2, RGBA{0, 0, 0, 0.1});
    if (!indeterminate && maxValue > minValue) {
        double f = std::clamp((doubleValue - minValue) / (maxValue - minValue), 0.0, 1.0);
        ctx.fillRoundedRect(CGRectMake(0, 0, b.width() * f, b.height()), b.height() / 2, RGBA{0.04, 0.4, 0.86, 1});
    }
}

// --- visual effect view ----------------------------------------------------------------------------------

void NSVisualEffectView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    bool dark = material == NSVisualEffectMaterial::dark || material == NSVisualEffectMaterial::ultraDark ||
                material == NSVisualEffectMaterial::hudWindow;
    if (auto w = window())
        dark = dark || (material == NSVisualEffectMaterial::appearanceBased && w->effectiveAppearance()->isDark());
    ctx.fillRect(bounds(), dark ? RGBA{0.16, 0.16, 0.16, 0.92} : RGBA{0.93, 0.93, 0.93, 0.92});
}

}  // namespace AppKit
