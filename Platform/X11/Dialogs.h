#pragma once
// Alerts and save panels on the X display: alerts as our own modal panels;
// save panels through the desktop portal's file chooser when a portal
// answers, else our own save panel. The panels are model windows the backend
// marks as dialogs (_NET_WM_WINDOW_TYPE_DIALOG, kept above, placed where the
// model put them) and gives the keyboard focus once mapped.

#include <xcb/xcb.h>

#include "Platform/AppKit/AppKitTypes.h"

namespace AppKit {
class NSWindow;
}

namespace X11Display {

// NSAlert's and NSSavePanel's presenters from now on. VEXIL_SAVE_PANEL=own
// skips the portal.
void installDialogs();
// Back to the presenters' defaults (tests).
void uninstallDialogs();

// The backend's hooks: whether a model window is one of our modal panels;
// its window-manager hints when created; its focus once mapped.
bool isDialogWindow(const AppKit::NSWindow& window);
void markDialogWindow(xcb_connection_t* c, xcb_window_t window, int x, int y, int width, int height);
void focusDialogWindow(xcb_connection_t* c, xcb_window_t root, xcb_window_t window);

}  // namespace X11Display
