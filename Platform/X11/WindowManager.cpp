#include "Platform/X11/WindowManager.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace X11Display {

void WindowManagerAtoms::intern(xcb_connection_t* c) {
    const char* names[] = {"_NET_SUPPORTING_WM_CHECK",
                           "UTF8_STRING",
                           "_NET_WM_NAME",
                           "_NET_WM_PID",
                           "_NET_WM_WINDOW_TYPE",
                           "_NET_WM_WINDOW_TYPE_NORMAL",
                           "_NET_WM_WINDOW_TYPE_DIALOG",
                           "_NET_WM_WINDOW_TYPE_UTILITY",
                           "WM_PROTOCOLS",
                           "WM_DELETE_WINDOW",
                           "_NET_WM_STATE",
                           "_NET_WM_STATE_ABOVE"};
    xcb_atom_t* slots[] = {&supportingCheck, &utf8String,  &netWmName,   &netWmPid,       &windowType, &typeNormal,
                           &typeDialog,      &typeUtility, &wmProtocols, &wmDeleteWindow, &netWmState, &stateAbove};
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const char* n : names) cookies.push_back(xcb_intern_atom(c, 0, std::strlen(n), n));
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        auto* r = xcb_intern_atom_reply(c, cookies[i], nullptr);
        *slots[i] = r ? r->atom : XCB_NONE;
        std::free(r);
    }
}

namespace {
xcb_window_t checkWindowOf(xcb_connection_t* c, xcb_window_t w, xcb_atom_t check) {
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t out = XCB_NONE;
    if (r && r->format == 32 && xcb_get_property_value_length(r) >= 4)
        out = *static_cast<const xcb_window_t*>(xcb_get_property_value(r));
    std::free(r);
    return out;
}
}  // namespace

bool windowManagerRunning(xcb_connection_t* c, xcb_window_t root, const WindowManagerAtoms& atoms) {
    if (atoms.supportingCheck == XCB_NONE) return false;
    const xcb_window_t child = checkWindowOf(c, root, atoms.supportingCheck);
    // A stale property from a manager that ended names a window that is gone (or no longer names itself).
    return child != XCB_NONE && checkWindowOf(c, child, atoms.supportingCheck) == child;
}

std::array<std::uint32_t, 18> placementHints(int x, int y, int width, int height) {
    std::array<std::uint32_t, 18> h{};
    h[0] = kSizeHintUSPosition | kSizeHintPPosition | kSizeHintPSize;
    h[1] = static_cast<std::uint32_t>(x);
    h[2] = static_cast<std::uint32_t>(y);
    h[3] = static_cast<std::uint32_t>(width);
    h[4] = static_cast<std::uint32_t>(height);
    return h;
}

void setWindowTitle(xcb_connection_t* c, xcb_window_t window, const WindowManagerAtoms& atoms,
                    const std::string& title) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms.netWmName, atoms.utf8String, 8, title.size(),
                        title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, title.size(),
                        title.data());
}

void setManagedWindowHints(xcb_connection_t* c, xcb_window_t window, const WindowManagerAtoms& atoms,
                           const ManagedWindowHints& hints) {
    setWindowTitle(c, window, atoms, hints.title);
    static const char kClass[] = "vexil\0Vexil";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass, kClass);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms.netWmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
    const xcb_atom_t type = hints.role == WindowRole::dialog    ? atoms.typeDialog
                            : hints.role == WindowRole::utility ? atoms.typeUtility
                                                                : atoms.typeNormal;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms.windowType, XCB_ATOM_ATOM, 32, 1, &type);
    if (hints.transientFor != XCB_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                            &hints.transientFor);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms.wmProtocols, XCB_ATOM_ATOM, 32, 1,
                        &atoms.wmDeleteWindow);
    const auto normal = placementHints(hints.x, hints.y, hints.width, hints.height);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                        normal.size(), normal.data());
    if (hints.keepAbove)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms.netWmState, XCB_ATOM_ATOM, 32, 1,
                            &atoms.stateAbove);
}

}  // namespace X11Display
