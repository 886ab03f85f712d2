#include "picker/Views/Windows/MainWindowController.h"

#include "Platform/AppKit/NSControls.h"
#include "Platform/QuartzCore/CALayer.h"

namespace Vexil::Views {
using namespace AppKit;

namespace {
constexpr NSWindowButton kButtons[] = {NSWindowButton::close, NSWindowButton::miniaturize, NSWindowButton::zoom};
}

std::shared_ptr<MainWindowController> MainWindowController::make(std::shared_ptr<NSWindow> window) {
    auto c = std::make_shared<MainWindowController>(window);
    if (window) window->windowController = c;
    c->windowDidLoad();
    return c;
}

MainWindowController::~MainWindowController() {
    if (token) NSEvent::removeMonitor(token);
}

void MainWindowController::windowDidLoad() {
    NSWindowController::windowDidLoad();
    auto w = window();
    if (!w) return;
    w->delegate = std::dynamic_pointer_cast<NSWindowDelegate>(shared_from_this());
    w->setBackgroundColor(NSColor::whiteColor());
    if (!(w->styleMask() & NSWindowStyleMaskTexturedBackground))
        w->setStyleMask(w->styleMask() | NSWindowStyleMaskTexturedBackground);
    w->setStyleMask(w->styleMask() | NSWindowStyleMaskUnifiedTitleAndToolbar);
    w->titlebarAppearsTransparent = true;
    setButtonsHidden(true);
    addButtonRings();
    std::weak_ptr<MainWindowController> weak = std::static_pointer_cast<MainWindowController>(shared_from_this());
    token = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskMouseMoved, [weak](const NSEventRef& event) {
        if (auto self = weak.lock()) self->updateWindowButtons();
        return event;
    });
}

void MainWindowController::addButtonRings() {
    auto w = window();
    if (!w) return;
    for (auto which : {NSWindowButton::close, NSWindowButton::zoom, NSWindowButton::miniaturize}) {
        auto button = w->standardWindowButton(which);
        if (!button || !button->superview()) continue;
        const CGRect f = button->frame();
        auto ring = NSView::make(CGRectMake(f.minX() + 1, f.minY() + 2, 12, 12));
        ring->setWantsLayer(true);
        ring->layer()->cornerRadius = 6;
        ring->layer()->borderColor = toRGBA(NSColor::lightGrayColor());
        ring->layer()->borderWidth = 1;
        button->superview()->addSubview(ring, NSWindowOrderingMode::below, button.get());
    }
}

CGRect MainWindowController::titlebarRect() const {
    auto w = const_cast<MainWindowController*>(this)->window();
    if (!w) return {};
    const CGRect frame = w->frame();
    const double contentHeight = w->contentRectForFrameRect(frame).height();
    return CGRectMake(0, contentHeight, frame.width(), frame.height() - contentHeight);
}

void MainWindowController::updateWindowButtons() {
    auto w = window();
    if (!w) return;
    if (titlebarRect().contains(w->mouseLocationOutsideOfEventStream())) {
        setButtonsHidden(false);
        return;
    }
    if (isFullscreen) return;
    setButtonsHidden(true);
}

void MainWindowController::windowDidEnterFullScreen(NSWindow&) {
    setButtonsHidden(false);
    isFullscreen = true;
}

void MainWindowController::windowDidExitFullScreen(NSWindow&) {
    setButtonsHidden(true);
    isFullscreen = false;
}

void MainWindowController::setButtonsHidden(bool hidden) {
    auto w = window();
    if (!w) return;
    for (auto which : kButtons)
        if (auto b = w->standardWindowButton(which)) b->setHidden(hidden);
}

}  // namespace Vexil::Views
