#include "Platform/AppKit/Dragging.h"

#include "Platform/AppKit/NSApplication.h"
#include "Platform/Foundation/Dispatch.h"

namespace AppKit {

namespace {
std::shared_ptr<NSDraggingSession> g_current;
long g_sequence = 0;
}  // namespace

std::shared_ptr<NSDraggingSession> NSDraggingSession::current() { return g_current; }

std::shared_ptr<NSDraggingSession> NSDraggingSession::begin(NSView& view, const NSEvent& event,
                                                            std::vector<std::shared_ptr<NSPasteboardWriting>> objects,
                                                            std::shared_ptr<NSDraggingSource> source) {
    if (g_current) return nullptr;
    auto s = std::make_shared<NSDraggingSession>();
    s->pasteboard_ = NSPasteboard::pasteboardWithName(NSPasteboardNameDrag);
    s->pasteboard_->writeObjects(objects);
    s->source_ = std::move(source);
    s->sequence_ = ++g_sequence;
    auto w = event.windowRef() ? event.windowRef() : view.window();
    s->location_ = w ? w->convertPointToScreen(event.locationInWindow) : event.locationInWindow;
    if (s->source_)
        s->sourceMask_ = s->source_->sourceOperationMaskForDraggingContext(*s, NSDraggingContext::withinApplication);
    g_current = s;
    auto& app = NSApplication::shared();
    app.dragHandler = [](const NSEvent&, CGPoint p) {
        if (auto c = g_current) c->movedTo(p);
        return true;
    };
    app.dropHandler = [](const NSEvent&, CGPoint p) {
        if (auto c = g_current) c->releasedAt(p);
        return true;
    };
    Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::EventTracking);
    if (s->source_) s->source_->draggingSessionWillBegin(*s, s->location_);
    s->movedTo(s->location_);
    return s;
}

NSDraggingInfo NSDraggingSession::info(CGPoint p, const std::shared_ptr<NSWindow>& window) const {
    NSDraggingInfo i;
    i.draggingPasteboard = pasteboard_;
    i.draggingLocation = window ? window->convertPointFromScreen(p) : p;
    i.draggingDestinationWindow = window;
    i.draggingSource = source_.get();
    i.draggingSourceOperationMask = sourceMask_;
    i.draggingSequenceNumber = sequence_;
    i.session = const_cast<NSDraggingSession*>(this);
    return i;
}

NSView* NSDraggingSession::destinationAt(CGPoint p, std::shared_ptr<NSWindow>& window) const {
    window = NSApplication::shared().windowAtScreenPoint(p);
    if (!window) return nullptr;
    NSView* v = window->hitTest(window->convertPointFromScreen(p));
    const auto types = pasteboard_->types();
    for (; v; v = v->superview())
        for (auto& t : v->registeredDraggedTypes)
            if (std::find(types.begin(), types.end(), t) != types.end()) return v;
    return nullptr;
}

void NSDraggingSession::movedTo(CGPoint p) {
    auto self = shared_from_this();
    location_ = p;
    if (source_) source_->draggingSessionMovedToPoint(*this, p);
    std::shared_ptr<NSWindow> window;
    NSView* target = destinationAt(p, window);
    if (target != destination_) {
        if (destination_) {
            auto keep = destinationRef_;
            NSDraggingInfo i = info(p, destinationWindow_);
            destination_->draggingExited(&i);
        }
        destination_ = target;
        destinationRef_ = target ? target->self() : nullptr;
        destinationWindow_ = window;
        operation_ = NSDragOperationNone;
        if (target) {
            NSDraggingInfo i = info(p, window);
            operation_ = target->draggingEntered(i) & sourceMask_;
        }
    } else if (target) {
        NSDraggingInfo i = info(p, window);
        NSDragOperation op = target->draggingUpdated(i);
        if (op != NSDragOperationKeepEntered) operation_ = op & sourceMask_;
    }
}

void NSDraggingSession::releasedAt(CGPoint p) {
    auto self = shared_from_this();
    movedTo(p);
    NSDragOperation done = NSDragOperationNone;
    if (destination_ && operation_ != NSDragOperationNone) {
        auto keep = destinationRef_;
        NSDraggingInfo i = info(p, destinationWindow_);
        if (destination_->prepareForDragOperation(i) && destination_->performDragOperation(i)) done = operation_;
        destination_->concludeDragOperation(&i);
    } else if (destination_) {
        NSDraggingInfo i = info(p, destinationWindow_);
        destination_->draggingExited(&i);
    }
    end(p, done);
}

void NSDraggingSession::cancel() {
    if (g_current.get() != this) return;
    auto self = shared_from_this();
    if (destination_) {
        NSDraggingInfo i = info(location_, destinationWindow_);
        destination_->draggingExited(&i);
    }
    end(location_, NSDragOperationNone);
}

void NSDraggingSession::end(CGPoint p, NSDragOperation operation) {
    auto self = shared_from_this();
    g_current.reset();
    auto& app = NSApplication::shared();
    app.dragHandler = nullptr;
    app.dropHandler = nullptr;
    Foundation::RunLoop::main().setCurrentMode(Foundation::RunLoopMode::Default);
    destination_ = nullptr;
    destinationRef_.reset();
    destinationWindow_.reset();
    if (source_) source_->draggingSessionEnded(*this, p, operation);
}

}  // namespace AppKit
