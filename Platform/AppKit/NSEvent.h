#pragma once
// Events and event monitors. Events are made by the application's input entry
// points (NSApplication's input door) from a display backend or the test
// harness, never by callers.
//
// Local monitors see events sent to this program before its windows do; a
// handler returns the event to pass on (possibly another one) or nullptr to
// swallow it. Global monitors see events sent to other programs and cannot
// change them. Monitors run on the main thread in order of installation.

#include <functional>
#include <memory>
#include <string>

#include "Platform/AppKit/AppKitTypes.h"

namespace AppKit {

class NSWindow;
class NSTrackingArea;

class NSEvent {
public:
    NSEventType type = NSEventType::MouseMoved;
    CGPoint locationInWindow;  // window coordinates; screen coordinates when window is empty
    std::weak_ptr<NSWindow> window;
    NSEventModifierFlags modifierFlags = 0;
    long clickCount = 0;
    long buttonNumber = 0;  // 0 left, 1 right, 2 other
    std::uint16_t keyCode = 0;
    std::string characters;
    std::string charactersIgnoringModifiers;
    double timestamp = 0;           // seconds of the clock's uptime
    double deltaX = 0, deltaY = 0;  // mouse movement or scroll amount
    double scrollingDeltaX = 0, scrollingDeltaY = 0;
    std::weak_ptr<NSTrackingArea> trackingArea;  // entered/exited/moved events of a tracking area

    std::shared_ptr<NSWindow> windowRef() const { return window.lock(); }
    long windowNumber() const;

    // --- class-level state and monitors
    // The pointer in screen coordinates (y up from the bottom of the main screen).
    static CGPoint mouseLocation();
    static NSEventModifierFlags currentModifierFlags();  // the modifiers held now ([NSEvent modifierFlags])
    static unsigned long pressedMouseButtons();

    using LocalHandler = std::function<std::shared_ptr<NSEvent>(const std::shared_ptr<NSEvent>&)>;
    using GlobalHandler = std::function<void(const NSEvent&)>;
    using MonitorToken = std::shared_ptr<void>;
    // A token to remove the monitor with; nothing when the handler is empty.
    static MonitorToken addLocalMonitorForEventsMatchingMask(NSEventMask mask, LocalHandler handler);
    static MonitorToken addGlobalMonitorForEventsMatchingMask(NSEventMask mask, GlobalHandler handler);
    static void removeMonitor(const MonitorToken& token);

    // Input door helpers (NSApplication): run the monitors.
    static std::shared_ptr<NSEvent> runLocalMonitors(std::shared_ptr<NSEvent> event);
    static void runGlobalMonitors(const NSEvent& event);
    static std::size_t localMonitorCount();
    static std::size_t globalMonitorCount();
    static NSEventMask globalMonitorMask();
    static void resetMonitors();  // tests
};

using NSEventRef = std::shared_ptr<NSEvent>;

}  // namespace AppKit
