#include "Platform/X11/Dialogs.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "Platform/AppKit/ModalPanels.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/X11/Atoms.h"
#include "Platform/X11/PortalFileChooser.h"

namespace X11Display {

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) { return internAtom(c, name); }

}  // namespace

void installDialogs() {
    AppKit::NSAlert::setPresenter([](const AppKit::NSAlert& alert) { return AppKit::presentAlertPanel(alert); });
    AppKit::NSSavePanel::setPresenter([](const AppKit::NSSavePanel& panel) {
        const char* want = std::getenv("VEXIL_SAVE_PANEL");
        if (!want || std::string(want) != "own")
            if (auto answer = portalSaveFile(panel)) return *answer;
        return AppKit::presentSavePanelWindow(panel);
    });
}

void uninstallDialogs() {
    AppKit::NSAlert::setPresenter(nullptr);
    AppKit::NSSavePanel::setPresenter(nullptr);
}

bool isDialogWindow(const AppKit::NSWindow& window) { return AppKit::isModalPanel(window); }

void markDialogWindow(xcb_connection_t* c, xcb_window_t window, int x, int y, int width, int height) {
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE"), dialog = atom(c, "_NET_WM_WINDOW_TYPE_DIALOG");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, type, XCB_ATOM_ATOM, 32, 1, &dialog);
    const xcb_atom_t state = atom(c, "_NET_WM_STATE"), above = atom(c, "_NET_WM_STATE_ABOVE");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32, 1, &above);
    // WM_NORMAL_HINTS: the program's position (centred where the pointer is) and a fixed size.
    constexpr std::uint32_t kPPosition = 1u << 2, kPSize = 1u << 3, kPMinSize = 1u << 4, kPMaxSize = 1u << 5,
                            kPWinGravity = 1u << 9;
    std::uint32_t hints[18] = {};
    hints[0] = kPPosition | kPSize | kPMinSize | kPMaxSize | kPWinGravity;
    hints[1] = static_cast<std::uint32_t>(x);
    hints[2] = static_cast<std::uint32_t>(y);
    hints[3] = hints[5] = hints[7] = static_cast<std::uint32_t>(width);
    hints[4] = hints[6] = hints[8] = static_cast<std::uint32_t>(height);
    hints[17] = 10;  // StaticGravity: the window itself, not its frame, goes where asked
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                        hints);
    static const char kClass[] = "vexil\0Vexil";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass, kClass);
}

void focusDialogWindow(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    // Asked of the window manager (EWMH, from an application), and taken
    // directly for a display without one.
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = window;
    m.type = atom(c, "_NET_ACTIVE_WINDOW");
    m.data.data32[0] = 1;
    m.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&m));
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(c);
}

}  // namespace X11Display
