#include "picker/Shell/ARFloatingWindow.h"

#include <algorithm>

#include "Platform/AppKit/Animation.h"
#include "picker/Colors/NSColorAdditions.h"

using namespace AppKit;

namespace {
constexpr double kSwatchSize = 16;
constexpr double kMargin = 5;
}  // namespace

// --- ARRoundedView --------------------------------------------------------------------------

void ARRoundedView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    CGRect r = bounds();
    ctx.fillRect(r, {0, 0, 0, 0});
    ctx.fillRoundedRect(r, 4.0, toRGBA(windowColor ? windowColor : NSColor::blackColor()));
}

// --- GCOneShotEffectTimer -------------------------------------------------------------------

std::shared_ptr<GCOneShotEffectTimer> GCOneShotEffectTimer::oneShotWithTime(double seconds,
                                                                            std::weak_ptr<GCOneShotDelegate> delegate) {
    std::shared_ptr<GCOneShotEffectTimer> shot(new GCOneShotEffectTimer());
    shot->delegate = std::move(delegate);
    shot->mTotal = seconds;
    if (auto d = shot->delegate.lock()) d->oneShotWillBegin();
    std::shared_ptr<GCOneShotEffectTimer> keep = shot;  // the running timer holds the one-shot
    shot->mTimer = Foundation::Timer::scheduled(
        static_cast<double>(1.0f / 48.0f), true, [keep](Foundation::Timer&) { keep->osfx_callback(); },
        {Foundation::RunLoopMode::Default, Foundation::RunLoopMode::EventTracking});
    shot->mStart = Foundation::clock().uptime();
    return shot;
}

std::shared_ptr<GCOneShotEffectTimer> GCOneShotEffectTimer::oneShotWithStandardFadeTimeForDelegate(
    std::weak_ptr<GCOneShotDelegate> delegate) {
    return oneShotWithTime(kStandardFadeTime, std::move(delegate));
}

GCOneShotEffectTimer::~GCOneShotEffectTimer() {
    if (mTimer) mTimer->invalidate();
}

void GCOneShotEffectTimer::osfx_callback() {
    auto self = shared_from_this();
    const double elapsed = Foundation::clock().uptime() - mStart;
    if (elapsed > mTotal) {
        if (mTimer) mTimer->invalidate();
        mTimer.reset();
        if (auto d = delegate.lock()) d->oneShotComplete();
    } else if (auto d = delegate.lock()) {
        d->oneShotHasReached(elapsed / mTotal);
    }
}

// --- ARFloatingWindow -----------------------------------------------------------------------

std::shared_ptr<ARFloatingWindow> ARFloatingWindow::create() {
    auto window =
        NSWindow::make<ARFloatingWindow>(CGRect{}, NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, true);
    window->releasedWhenClosed = false;
    return window;
}

void ARFloatingWindow::didInit() {
    NSWindow::didInit();
    const CGRect content{{0, 0}, frame().size};
    auto rounded = NSView::make<ARRoundedView>(content);
    rounded->setWantsLayer(true);
    rounded->windowColor =
        NSColor::colorWithRed(static_cast<float>(0.13), static_cast<float>(0.13), static_cast<float>(0.13), 1.0);
    rounded->layer()->cornerRadius = 6.0;
    rounded->layer()->masksToBounds = true;
    setContentView(rounded);

    colorView_ = NSView::make(CGRectMake(kMargin, 3, kSwatchSize, kSwatchSize));
    colorView_->setWantsLayer(true);
    colorView_->layer()->backgroundColor = toRGBA(NSColor::colorWithRed(1, 0, 0, 1));
    colorView_->layer()->cornerRadius = 2.0;

    m_infoViewRef = NSView::make<NSTextField>(content);
    m_infoViewRef->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    m_infoViewRef->bezeled = false;
    m_infoViewRef->translatesAutoresizingMaskIntoConstraints = false;
    m_infoViewRef->drawsBackground = false;
    m_infoViewRef->editable = false;
    m_infoViewRef->selectable = false;
    m_infoViewRef->alignment = NSTextAlignment::center;
    m_infoViewRef->font = NSFont::systemFontOfSize(13.0);
    rounded->addSubview(m_infoViewRef);
    m_infoViewRef->setFrame(rounded->bounds());
    rounded->addSubview(colorView_);

    setFormat(",0.000");
    setBackgroundColor(NSColor::colorWithDeviceRed(1.0, 1.0, 0.6, 1.0));
    setLevel(NSFloatingWindowLevel);
    hasShadow = true;
    isOpaque = false;
    releasedWhenClosed = true;
    m_wOffset = {1.0, 4.0};
    setDoubleValue(0.0);
}

void ARFloatingWindow::setBackgroundColor(NSColorRef color) {
    NSColorRef calibrated = color ? color->colorUsingColorSpaceName(NSCalibratedRGBColorSpace) : nullptr;
    NSWindow::setBackgroundColor(calibrated ? calibrated : color);
}

void ARFloatingWindow::setFormat(const std::optional<std::string>& format) {
    if (!format) {
        m_infoViewRef->formatter.reset();
        return;
    }
    if (!m_infoViewRef->formatter) m_infoViewRef->formatter = std::make_shared<NSNumberFormatter>();
    m_infoViewRef->formatter->setFormat(*format);
}

void ARFloatingWindow::setStringValue(const std::string& text) {
    if (auto bg = backgroundColor()) m_infoViewRef->textColor = contrastingColor(*bg);
    m_infoViewRef->setStringValue(text);
    m_infoViewRef->sizeToFit();
    CGRect f = m_infoViewRef->frame();
    f.size.width += 5.0;
    f.size.height += 5.0;
    m_infoViewRef->setFrame(f);
    resizeToText();
}

void ARFloatingWindow::setDoubleValue(double value) {
    if (auto bg = backgroundColor()) m_infoViewRef->textColor = contrastingColor(*bg);
    m_infoViewRef->setDoubleValue(value);
    m_infoViewRef->sizeToFit();
    resizeToText();
}

// The layout "H:|-5-[swatch]-5-[text]-5-|" with both centred vertically: the
// window is as wide as the row and as high as the text (the swatch keeps its
// place when hidden).
void ARFloatingWindow::resizeToText() {
    const CGSize text = m_infoViewRef->frame().size;
    const double width = kMargin + kSwatchSize + kMargin + text.width + kMargin;
    const double height = std::max(text.height, kSwatchSize);
    setFrame({frame().origin, {width, height}}, true);
    if (auto content = contentView()) content->setFrame({{0, 0}, {width, height}});
    colorView_->setFrame(CGRectMake(kMargin, (height - kSwatchSize) / 2, kSwatchSize, kSwatchSize));
    m_infoViewRef->setFrame(
        CGRectMake(kMargin + kSwatchSize + kMargin, (height - text.height) / 2, text.width, text.height));
}

void ARFloatingWindow::setColor(const NSColorRef& color, bool hideColor) {
    colorView_->setHidden(hideColor);
    colorView_->layer()->backgroundColor = toRGBA(color);
}

void ARFloatingWindow::positionNearPoint(CGPoint point, const NSView& view) {
    CGPoint p{0, 0};
    if (view.window()) {
        CGPoint inWindow = view.convertPointToView(point, nullptr);
        p = view.window()->convertPointToScreen(inWindow);
    }
    positionAtScreenPoint({p.x + m_wOffset.width, p.y + m_wOffset.height});
}

void ARFloatingWindow::show() {
    animator()->setAlphaValue(static_cast<float>(0.95));
    orderFront();
}

void ARFloatingWindow::hide() {
    if (!isVisible()) return;
    auto self = std::static_pointer_cast<ARFloatingWindow>(shared_from_this());
    fade_ = GCOneShotEffectTimer::oneShotWithStandardFadeTimeForDelegate(std::weak_ptr<GCOneShotDelegate>(self));
}

void ARFloatingWindow::oneShotHasReached(double fraction) { setAlphaValue(1.0 - fraction); }

void ARFloatingWindow::oneShotComplete() { orderOut(); }
