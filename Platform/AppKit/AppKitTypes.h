#pragma once
// Constants shared by the interface model: event types and masks, modifier
// flags, window styles and levels, control states. Values are the platform's.

#include <cstdint>

#include "Platform/CoreGraphics/Drawing.h"
#include "Platform/CoreGraphics/Geometry.h"

namespace AppKit {

using CoreGraphics::CGFloat;
using CoreGraphics::CGPoint;
using CoreGraphics::CGRect;
using CoreGraphics::CGSize;
using CoreGraphics::CGPointMake;
using CoreGraphics::CGRectMake;
using CoreGraphics::CGSizeMake;
using CoreGraphics::RGBA;
using NSPoint = CGPoint;
using NSSize = CGSize;
using NSRect = CGRect;
inline constexpr CGRect NSZeroRect{};
inline constexpr CGPoint NSZeroPoint{};

// --- events
enum class NSEventType : int {
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    RightMouseDragged = 7,
    MouseEntered = 8,
    MouseExited = 9,
    KeyDown = 10,
    KeyUp = 11,
    FlagsChanged = 12,
    ScrollWheel = 22,
    OtherMouseDown = 25,
    OtherMouseUp = 26,
    OtherMouseDragged = 27,
};
using NSEventMask = std::uint64_t;
inline constexpr NSEventMask NSEventMaskFromType(NSEventType t) { return NSEventMask{1} << static_cast<int>(t); }
inline constexpr NSEventMask NSEventMaskLeftMouseDown = 1 << 1;
inline constexpr NSEventMask NSEventMaskLeftMouseUp = 1 << 2;
inline constexpr NSEventMask NSEventMaskRightMouseDown = 1 << 3;
inline constexpr NSEventMask NSEventMaskRightMouseUp = 1 << 4;
inline constexpr NSEventMask NSEventMaskMouseMoved = 1 << 5;
inline constexpr NSEventMask NSEventMaskLeftMouseDragged = 1 << 6;
inline constexpr NSEventMask NSEventMaskKeyDown = 1 << 10;
inline constexpr NSEventMask NSEventMaskKeyUp = 1 << 11;
inline constexpr NSEventMask NSEventMaskScrollWheel = 1 << 22;
inline constexpr NSEventMask NSEventMaskOtherMouseDown = 1 << 25;
inline constexpr NSEventMask NSEventMaskAny = ~NSEventMask{0};

using NSEventModifierFlags = std::uint64_t;
inline constexpr NSEventModifierFlags NSEventModifierFlagCapsLock = 1 << 16;
inline constexpr NSEventModifierFlags NSEventModifierFlagShift = 1 << 17;
inline constexpr NSEventModifierFlags NSEventModifierFlagControl = 1 << 18;
inline constexpr NSEventModifierFlags NSEventModifierFlagOption = 1 << 19;
inline constexpr NSEventModifierFlags NSEventModifierFlagCommand = 1 << 20;
inline constexpr NSEventModifierFlags NSEventModifierFlagNumericPad = 1 << 21;
inline constexpr NSEventModifierFlags NSEventModifierFlagFunction = 1 << 23;
inline constexpr NSEventModifierFlags NSEventModifierFlagDeviceIndependentFlagsMask = 0xffff0000UL;

// Virtual key codes the interface handles itself (ANSI layout).
inline constexpr std::uint16_t kVK_Return = 36;
inline constexpr std::uint16_t kVK_Tab = 48;
inline constexpr std::uint16_t kVK_Delete = 51;
inline constexpr std::uint16_t kVK_Escape = 53;
inline constexpr std::uint16_t kVK_LeftArrow = 123;
inline constexpr std::uint16_t kVK_RightArrow = 124;
inline constexpr std::uint16_t kVK_DownArrow = 125;
inline constexpr std::uint16_t kVK_UpArrow = 126;

// --- windows
using NSWindowStyleMask = std::uint64_t;
inline constexpr NSWindowStyleMask NSWindowStyleMaskBorderless = 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTitled = 1 << 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskClosable = 1 << 1;
inline constexpr NSWindowStyleMask NSWindowStyleMaskMiniaturizable = 1 << 2;
inline constexpr NSWindowStyleMask NSWindowStyleMaskResizable = 1 << 3;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTexturedBackground = 1 << 8;
inline constexpr NSWindowStyleMask NSWindowStyleMaskNonactivatingPanel = 1 << 7;
inline constexpr NSWindowStyleMask NSWindowStyleMaskUnifiedTitleAndToolbar = 1 << 12;
inline constexpr NSWindowStyleMask NSWindowStyleMaskFullScreen = 1 << 14;
inline constexpr NSWindowStyleMask NSWindowStyleMaskFullSizeContentView = 1 << 15;

using NSWindowLevel = int;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;
inline constexpr NSWindowLevel NSFloatingWindowLevel = 3;
inline constexpr NSWindowLevel NSModalPanelWindowLevel = 8;
inline constexpr NSWindowLevel NSMainMenuWindowLevel = 24;
inline constexpr NSWindowLevel NSStatusWindowLevel = 25;
inline constexpr NSWindowLevel NSPopUpMenuWindowLevel = 101;
inline constexpr NSWindowLevel NSScreenSaverWindowLevel = 1000;
// CGWindowLevelForKey(kCGMainMenuWindowLevelKey) as the platform answers it.
inline constexpr NSWindowLevel kCGMainMenuWindowLevel = 24;

enum class NSBackingStoreType { retained = 0, nonretained = 1, buffered = 2 };
enum class NSWindowButton { close = 0, miniaturize = 1, zoom = 2 };
enum class NSWindowOrderingMode { below = -1, out = 0, above = 1 };

// --- controls
using NSControlStateValue = long;
inline constexpr NSControlStateValue NSControlStateValueMixed = -1;
inline constexpr NSControlStateValue NSControlStateValueOff = 0;
inline constexpr NSControlStateValue NSControlStateValueOn = 1;
inline constexpr NSControlStateValue NSOnState = NSControlStateValueOn;
inline constexpr NSControlStateValue NSOffState = NSControlStateValueOff;

enum class NSTextAlignment { left = 0, right = 1, center = 2, justified = 3, natural = 4 };
enum class NSCellImagePosition {
    noImage = 0,
    imageOnly = 1,
    imageLeft = 2,
    imageRight = 3,
    imageBelow = 4,
    imageAbove = 5,
    imageOverlaps = 6
};
enum class NSImageScaling { proportionallyDown = 0, axesIndependently = 1, none = 2, proportionallyUpOrDown = 3 };
enum class NSButtonType {
    momentaryLight = 0,
    pushOnPushOff = 1,
    toggle = 2,
    switchButton = 3,
    radio = 4,
    momentaryChange = 5,
    onOff = 6,
    momentaryPushIn = 7
};
enum class NSBezelStyle {
    rounded = 1,
    regularSquare = 2,
    shadowlessSquare = 6,
    smallSquare = 10,
    inline_ = 15,
    recessed = 13
};
enum class NSRectEdge { minX = 0, minY = 1, maxX = 2, maxY = 3 };

using NSAutoresizingMaskOptions = unsigned;
inline constexpr NSAutoresizingMaskOptions NSViewNotSizable = 0;
inline constexpr NSAutoresizingMaskOptions NSViewMinXMargin = 1;
inline constexpr NSAutoresizingMaskOptions NSViewWidthSizable = 2;
inline constexpr NSAutoresizingMaskOptions NSViewMaxXMargin = 4;
inline constexpr NSAutoresizingMaskOptions NSViewMinYMargin = 8;
inline constexpr NSAutoresizingMaskOptions NSViewHeightSizable = 16;
inline constexpr NSAutoresizingMaskOptions NSViewMaxYMargin = 32;

using NSDragOperation = unsigned long;
inline constexpr NSDragOperation NSDragOperationNone = 0;
inline constexpr NSDragOperation NSDragOperationCopy = 1;
inline constexpr NSDragOperation NSDragOperationLink = 2;
inline constexpr NSDragOperation NSDragOperationGeneric = 4;
inline constexpr NSDragOperation NSDragOperationPrivate = 8;
inline constexpr NSDragOperation NSDragOperationMove = 16;
inline constexpr NSDragOperation NSDragOperationDelete = 32;
inline constexpr NSDragOperation NSDragOperationEvery = ~0UL;
// What a destination's draggingUpdated answers when it keeps draggingEntered's operation.
inline constexpr NSDragOperation NSDragOperationKeepEntered = 1UL << 62;

}  // namespace AppKit
