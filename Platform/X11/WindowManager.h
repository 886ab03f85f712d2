#pragma once
// Living with a window manager: whether one runs (_NET_SUPPORTING_WM_CHECK
// names a window that names itself back), and the hints a managed window
// carries so the manager can title, class, type and stack it (ICCCM, EWMH).

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <string>

namespace X11Display {

struct WindowManagerAtoms {
    xcb_atom_t supportingCheck = 0, utf8String = 0, netWmName = 0, netWmPid = 0, windowType = 0, typeNormal = 0,
               typeDialog = 0, typeUtility = 0, wmProtocols = 0, wmDeleteWindow = 0, netWmState = 0, stateAbove = 0;
    void intern(xcb_connection_t* c);
};

bool windowManagerRunning(xcb_connection_t* c, xcb_window_t root, const WindowManagerAtoms& atoms);

enum class WindowRole {
    normal,   // a window of its own (the editor, Preferences)
    utility,  // a panel that belongs to another window of ours
    dialog,   // a panel that asks something
};

struct ManagedWindowHints {
    std::string title;
    WindowRole role = WindowRole::normal;
    xcb_window_t transientFor = XCB_NONE;  // panels and dialogs: the window they belong to
    bool keepAbove = false;
    int x = 0, y = 0, width = 1, height = 1;  // where the program would like it (root coordinates)
};

// Everything a manager reads at map time: WM_NAME, _NET_WM_NAME, WM_CLASS,
// _NET_WM_PID, _NET_WM_WINDOW_TYPE, WM_TRANSIENT_FOR, WM_PROTOCOLS
// (WM_DELETE_WINDOW), WM_NORMAL_HINTS (position and size as the program's), _NET_WM_STATE.
void setManagedWindowHints(xcb_connection_t* c, xcb_window_t window, const WindowManagerAtoms& atoms,
                           const ManagedWindowHints& hints);
// The title again (the window was renamed).
void setWindowTitle(xcb_connection_t* c, xcb_window_t window, const WindowManagerAtoms& atoms,
                    const std::string& title);

inline constexpr std::uint32_t kSizeHintUSPosition = 1u << 0, kSizeHintPPosition = 1u << 2, kSizeHintPSize = 1u << 3;
// WM_NORMAL_HINTS naming the program's position and size.
std::array<std::uint32_t, 18> placementHints(int x, int y, int width, int height);

}  // namespace X11Display
