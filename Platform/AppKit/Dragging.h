#pragma once
// Drag and drop inside the program. A view starts a session from a mouse
// event with the objects to drag (written to the drag pasteboard); until the
// button is released the session takes the pointer: it finds the destination
// view under it (the deepest view registered for a type on the pasteboard),
// calls draggingEntered/Updated/Exited on it, and on release
// prepare/perform/concludeDragOperation, then tells the source the session
// ended with the operation done (none when nothing took the drop). The main
// run loop is in the event-tracking mode meanwhile.

#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSView.h"

namespace AppKit {

class NSDraggingSession;

enum class NSDraggingContext { outsideApplication = 0, withinApplication = 1 };

class NSDraggingSource {
public:
    virtual ~NSDraggingSource() = default;
    virtual NSDragOperation sourceOperationMaskForDraggingContext(NSDraggingSession&, NSDraggingContext) {
        return NSDragOperationEvery;
    }
    virtual void draggingSessionWillBegin(NSDraggingSession&, CGPoint /*screenPoint*/) {}
    virtual void draggingSessionMovedToPoint(NSDraggingSession&, CGPoint /*screenPoint*/) {}
    virtual void draggingSessionEnded(NSDraggingSession&, CGPoint /*screenPoint*/, NSDragOperation) {}
};

struct NSDraggingInfo {
    std::shared_ptr<NSPasteboard> draggingPasteboard;
    CGPoint draggingLocation;  // in the destination window's coordinates
    std::weak_ptr<NSWindow> draggingDestinationWindow;
    NSDraggingSource* draggingSource = nullptr;
    NSDragOperation draggingSourceOperationMask = NSDragOperationEvery;
    long draggingSequenceNumber = 0;
    NSDraggingSession* session = nullptr;
};

class NSDraggingSession : public std::enable_shared_from_this<NSDraggingSession> {
public:
    // Starts a session for `source` from `view` (the mouse-down or drag
    // event). The objects go to the drag pasteboard. Returns the session, or
    // nullptr while another runs.
    static std::shared_ptr<NSDraggingSession> begin(NSView& view, const NSEvent& event,
                                                    std::vector<std::shared_ptr<NSPasteboardWriting>> objects,
                                                    std::shared_ptr<NSDraggingSource> source);
    static std::shared_ptr<NSDraggingSession> current();

    const std::shared_ptr<NSPasteboard>& draggingPasteboard() const { return pasteboard_; }
    long draggingSequenceNumber() const { return sequence_; }
    CGPoint location() const { return location_; }
    NSView* destination() const { return destination_; }
    NSDragOperation lastOperation() const { return operation_; }
    bool animatesToStartingPositionsOnCancelOrFail = true;

    // Input while the session runs (the application's drag and drop handlers).
    void movedTo(CGPoint screenPoint);
    void releasedAt(CGPoint screenPoint);
    // Ends the session without a drop (Escape, the view going away).
    void cancel();

private:
    NSDraggingInfo info(CGPoint screenPoint, const std::shared_ptr<NSWindow>& window) const;
    NSView* destinationAt(CGPoint screenPoint, std::shared_ptr<NSWindow>& window) const;
    void end(CGPoint screenPoint, NSDragOperation operation);

    std::shared_ptr<NSPasteboard> pasteboard_;
    std::shared_ptr<NSDraggingSource> source_;
    NSDragOperation sourceMask_ = NSDragOperationEvery;
    long sequence_ = 0;
    CGPoint location_{};
    NSView* destination_ = nullptr;
    std::shared_ptr<NSView> destinationRef_;
    std::shared_ptr<NSWindow> destinationWindow_;
    NSDragOperation operation_ = NSDragOperationNone;
};

}  // namespace AppKit
