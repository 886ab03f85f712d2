#include "picker/Picker/ZNLEventHanlder.h"

#include <algorithm>
#include <cmath>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/Foundation/Diagnostics.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"

using namespace AppKit;

namespace {

constexpr double kCaptureWidth = 11.0, kCaptureHeight = 11.0;
const CGRect kZoomRect = CGRectMake(0, 0, 110.0, 110.0);

}  // namespace

// --- capture ------------------------------------------------------------------------------

NSImageRef captureScreenImage(std::uint32_t n, CGPoint p) {
    const CGRect rect =
        CGRectMake(p.x - 0.5 * kCaptureWidth, p.y - 0.5 * kCaptureHeight, kCaptureWidth, kCaptureHeight);
    auto pixels = displayBackend().captureScreen(rect, static_cast<long>(n));
    if (!pixels || pixels->empty()) return nullptr;
    return std::make_shared<NSImage>(std::shared_ptr<const CoreGraphics::Image>(std::move(pixels)),
                                     CGSize{kCaptureWidth, kCaptureHeight});
}

NSImageRef captureZoomedScreenImage(std::uint32_t n, CGPoint p) {
    auto small = captureScreenImage(n, p);
    if (!small) return nullptr;
    auto zoomed = std::make_shared<NSImage>(kZoomRect.size);
    auto& ctx = zoomed->lockFocus();
    small->drawInRect(ctx, kZoomRect, 1.0, false);
    zoomed->unlockFocus();
    return zoomed;
}

// --- grid ---------------------------------------------------------------------------------

void ZNLGridView::drawRect(CGRect r, CoreGraphics::DrawingContext& ctx) {
    NSView::drawRect(r, ctx);
    const CGRect b = bounds();
    const RGBA grid = toRGBA(gridColor);
    const double g = std::trunc(gridSize);
    if (gridSize > 0 && g > 0) {
        const long rows = static_cast<long>(b.height() / gridSize);
        for (long i = 0; i < rows; ++i) ctx.strokeLine({0, i * g}, {b.width(), i * g}, grid, 1.0);
        const long cols = static_cast<long>(b.width() / gridSize);
        for (long i = 0; i < cols; ++i) ctx.strokeLine({i * g, 0}, {i * g, b.height()}, grid, 1.0);
    }
    const RGBA rim{0.12, 0.12, 0.12, 0.6};
    ctx.strokeEllipse(r, RGBA{1, 1, 1, 1}, 8.0);
    ctx.strokeEllipse(r, rim, 2.0);
    ctx.strokeEllipse(CGRectMake(r.minX() + 5, r.minY() + 5, r.width() - 10, r.height() - 10), rim, 1.0);
    const CGRect centre = CGRectMake(b.width() * 0.5 - 5, b.height() * 0.5 - 5, 10, 10);
    ctx.strokeRect(centre, RGBA{0, 0, 0, 1}, 2.0);
    ctx.strokeRect(centre, RGBA{1, 1, 1, 1}, 1.0);
}

// --- panel --------------------------------------------------------------------------------

ZNLCircledWindow::ZNLCircledWindow(CGRect contentRect, NSWindowStyleMask, NSBackingStoreType backing, bool defer)
    : NSPanel(contentRect, kStyleMask, backing, defer) {
    setLevel(NSStatusWindowLevel);
    isOpaque = false;
    setBackgroundColor(NSColor::clearColor());
    title = "Vexil";
    hasShadow = false;
    hidesOnDeactivate = false;
}

std::shared_ptr<ZNLCircledWindow> ZNLCircledWindow::windowWithContentViewController(
    std::shared_ptr<NSViewController> controller) {
    auto view = controller ? controller->view() : nullptr;
    const CGSize size = view ? view->frame().size : CGSize{};
    auto w = NSWindow::make<ZNLCircledWindow>(CGRectMake(0, 0, size.width, size.height), NSWindowStyleMaskTitled);
    if (controller) w->setContentViewController(std::move(controller));
    return w;
}

// --- view controller ----------------------------------------------------------------------

void ZNLMousePointer::loadView() {
    // The picker's interface: the zoomed image and grid on top, the label below.
    auto root = NSView::make(CGRectMake(0, 0, kViewWidth, kViewHeight));
    const CGRect zoom = CGRectMake(0, kZoomTop, kZoomRect.width(), kZoomRect.height());
    auto image = NSView::make<NSImageView>(zoom);
    image->smooth = false;
    image->imageScaling = NSImageScaling::axesIndependently;
    auto grid = NSView::make<ZNLGridView>(zoom);
    auto centre = NSView::make(CGRectMake(zoom.midX() - 5, zoom.midY() - 5, 10, 10));
    auto label = NSTextField::labelWithString("");
    label->setFrame(CGRectMake(0, 0, kViewWidth, kLabelHeight));
    label->alignment = NSTextAlignment::center;
    label->drawsBackground = true;
    label->backgroundColor = NSColor::colorWithDeviceRed(0.12, 0.12, 0.12, 0.8);
    label->textColor = NSColor::whiteColor();
    label->font = NSFont::systemFontOfSize(11);
    root->addSubview(image);
    root->addSubview(grid);
    root->addSubview(centre);
    root->addSubview(label);
    imageView = image;
    gridOverlay = grid;
    centerView = centre;
    colorLabel = label;
    setView(root);
}

void ZNLMousePointer::viewDidLoad() {
    NSViewController::viewDidLoad();
    auto image = imageView.lock();
    auto grid = gridOverlay.lock();
    auto centre = centerView.lock();
    auto label = colorLabel.lock();
    if (!image || !grid || !centre || !label) return;
    image->setWantsLayer(true);
    image->layer()->cornerRadius = image->bounds().width() * 0.5;
    grid->setWantsLayer(true);
    grid->layer()->cornerRadius = grid->bounds().width() * 0.5;
    image->layer()->backgroundColor = QuartzCore::kClearColor;
    view()->setWantsLayer(true);
    view()->layer()->backgroundColor = QuartzCore::kClearColor;
    grid->layer()->backgroundColor = QuartzCore::kClearColor;
    centre->setWantsLayer(true);
    centre->layer()->borderWidth = 1.0;
    centre->layer()->borderColor = RGBA{1, 1, 1, 1};
    centre->layer()->backgroundColor = QuartzCore::kClearColor;
    label->setWantsLayer(true);
    label->layer()->cornerRadius = 4.0;
}

void ZNLMousePointer::hideCursor() {
    NSCursor::hide();
    ++cursorHides_;
}

void ZNLMousePointer::unhideCursor() {
    // Never more unhides than this picker hid: the pointer is shared.
    if (cursorHides_ == 0) return;
    --cursorHides_;
    NSCursor::unhide();
}

void ZNLMousePointer::viewWillAppear() {
    NSViewController::viewWillAppear();
    hideCursor();
}

void ZNLMousePointer::viewDidAppear() {
    NSViewController::viewDidAppear();
    hideCursor();
}

void ZNLMousePointer::viewWillDisappear() {
    NSViewController::viewWillDisappear();
    unhideCursor();
}

void ZNLMousePointer::setImage(NSImageRef image) {
    image_ = std::move(image);
    if (!image_) return;
    auto label = colorLabel.lock();
    auto c = pickColor();
    if (!label || !c) return;
    const auto name = sharedColorNames().nameForColor(*c);
    label->setStringValue(formatted(*c, labelFormat, name.value_or("")));
}

NSColorRef ZNLMousePointer::pickColor() const {
    if (!image_) return nullptr;
    auto rep = NSBitmapImageRep::imageRepWithImage(*image_);
    if (!rep) return nullptr;
    const long x = static_cast<long>(image_->size().width * 0.5);
    const long y = static_cast<long>(image_->size().height * 0.5);
    auto c = rep->colorAtX(x, y);
    if (!c) return nullptr;
    auto calibrated = calibratedRGBColor(*c);
    return calibrated ? calibrated : c;
}

void ZNLMousePointer::blink(std::function<void()> done) {
    completion = std::move(done);
    auto image = imageView.lock();
    if (!image || !image->layer()) {
        // Nothing to fade: finish at once so the picker still closes.
        if (this->completion) this->completion();
        return;
    }
    auto animation = QuartzCore::CABasicAnimation::animationWithKeyPath("opacity");
    animation->repeatCount = 1.0;
    animation->duration = 0.07;
    animation->autoreverses = true;
    animation->fromValue = 1.0;
    animation->toValue = 0.0;
    // The layer keeps a copy; the generation tells this blink's end from a
    // replaced one's.
    const std::uint64_t generation = ++blinkGeneration_;
    std::weak_ptr<ZNLMousePointer> weak = std::static_pointer_cast<ZNLMousePointer>(self());
    animation->completion = [weak, generation](bool) {
        if (auto me = weak.lock()) me->blinkEnded(generation);
    };
    image->layer()->addAnimation(animation, "blinkAnimation");
}

void ZNLMousePointer::blinkEnded(std::uint64_t generation) {
    // A blink replaced by a later one does not end the picker: the later one does.
    if (generation != blinkGeneration_) return;
    if (completion) completion();
}

// --- controller ---------------------------------------------------------------------------

std::shared_ptr<ZNLEventHanlder> ZNLEventHanlder::shared() {
    static const std::shared_ptr<ZNLEventHanlder> instance = [] {
        auto h = std::make_shared<ZNLEventHanlder>();
        h->didInit();
        return h;
    }();
    return instance;
}

ZNLEventHanlder::ZNLEventHanlder() : mousePointer(std::make_shared<ZNLMousePointer>()) {}

void ZNLEventHanlder::didInit() {
    window = ZNLCircledWindow::windowWithContentViewController(mousePointer);
    windowController = NSWindowController::make(window);
}

void ZNLEventHanlder::start(std::weak_ptr<ZNLMousePointerDelegate> delegate) {
    stop();
    mousePointer->delegate = std::move(delegate);
    NSApp().activateIgnoringOtherApps(true);
    windowController->showWindow(nullptr);
    open_ = true;
    reportedCaptureFailure_ = false;
    moveWindowToCursor();
    // One capture now: a click before any movement picks what is under the pointer.
    updateCapture();
    if (!open_) return;
    std::weak_ptr<ZNLEventHanlder> weak = weak_from_this();
    keyMonitor = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskKeyDown, [weak](const NSEventRef& e) {
        auto self = weak.lock();
        return self ? self->handleKeyDown(e) : e;
    });
    eventMonitor = NSEvent::addGlobalMonitorForEventsMatchingMask(NSEventMaskMouseMoved, [weak](const NSEvent&) {
        if (auto self = weak.lock()) self->handleMouseMoved();
    });
    clickMonitor = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskLeftMouseUp, [weak](const NSEventRef& e) {
        auto self = weak.lock();
        return self ? self->handleClick(e) : e;
    });
    moveMonitor = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskMouseMoved, [weak](const NSEventRef& e) {
        if (auto self = weak.lock()) self->handleMouseMoved();
        return e;
    });
}

void ZNLEventHanlder::stop() {
    for (auto* field : {&eventMonitor, &clickMonitor, &moveMonitor, &keyMonitor}) {
        if (!*field) continue;
        NSEvent::removeMonitor(*field);
        field->reset();
    }
}

void ZNLEventHanlder::moveWindowToCursor() {
    const CGPoint p = NSEvent::mouseLocation();
    const CGRect f = mousePointer->view()->frame();
    window->setFrameOrigin({p.x - f.width() / 2, p.y - f.height() / 2});
}

void ZNLEventHanlder::updateCapture() {
    auto screens = NSScreen::screens();
    if (screens.empty()) return;
    // The display's y runs down from the top of the screens.
    double H = 0;
    for (const auto& s : screens) H = std::max(H, s->frame().maxY());
    const CGPoint p = NSEvent::mouseLocation();
    const CGPoint point{p.x, H - p.y};
    const auto n = static_cast<std::uint32_t>(window->windowNumber());
    auto zoomed = captureZoomedScreenImage(n, point);
    auto small = zoomed ? captureScreenImage(n, point) : nullptr;
    if (!zoomed || !small) {
        if (!reportedCaptureFailure_) {
            reportedCaptureFailure_ = true;
            Foundation::systemLog("The screen under the pointer cannot be read; no colour is picked there.");
        }
        return;
    }
    mousePointer->setImage(small);
    if (auto image = mousePointer->imageView.lock()) {
        image->image = zoomed;
        image->setNeedsDisplay();
    }
    if (!displayBackend().screenCaptureAllowed()) {
        auto self = shared_from_this();
        mousePointer->blink([self] { self->close(); });
    }
}

void ZNLEventHanlder::close() {
    if (!open_) return;
    open_ = false;
    stop();
    window->close();
    mousePointer->unhideCursor();
}

void ZNLEventHanlder::handleMouseMoved() {
    moveWindowToCursor();
    updateCapture();
}

NSEventRef ZNLEventHanlder::handleClick(const NSEventRef& event) {
    auto deliver = [this] {
        auto c = mousePointer->pickColor();
        auto d = mousePointer->delegate.lock();
        if (c && d) d->didPickColor(*mousePointer, c);
    };
    if (event && (event->modifierFlags & NSEventModifierFlagShift)) {
        deliver();
        return event;
    }
    deliver();
    auto self = shared_from_this();
    mousePointer->blink([self] { self->close(); });
    return event;
}

NSEventRef ZNLEventHanlder::handleKeyDown(const NSEventRef& event) {
    if (event && event->keyCode == kEscapeKeyCode) {
        auto self = shared_from_this();
        mousePointer->blink([self] { self->close(); });
    }
    return event;
}
