#pragma once
// The status item's way onto a panel, and the messages of the older way: an
// icon window docked in a system tray (the System Tray Protocol over XEmbed)
// where no StatusNotifierWatcher is on the session bus. The tray manager owns
// the selection _NET_SYSTEM_TRAY_S<screen>; the icon asks to be docked with a
// client message, tells its XEmbed version and mapped flag in _XEMBED_INFO,
// and asks for a minimum size in WM_NORMAL_HINTS (without it some panels give
// the icon one pixel).

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <string>

namespace X11Display {

enum class StatusRoute {
    notifierItem,  // the panel's watcher took the item (dbusmenu)
    trayIcon,      // an icon docked in the system tray, with our own menu window
    none,          // neither: the global shortcuts only
};
StatusRoute chooseStatusRoute(bool notifierStarted, bool trayManagerPresent);

// The one line said when the status item cannot be shown; `why` tells what the
// session bus answered.
std::string noStatusAreaLine(const std::string& why);

std::string traySelectionName(int screenNumber);

inline constexpr std::uint32_t kSystemTrayRequestDock = 0;
inline constexpr std::uint32_t kXEmbedMapped = 1;
inline constexpr std::uint32_t kXEmbedVersion = 0;

// SYSTEM_TRAY_REQUEST_DOCK, sent to the manager's window with no event mask.
xcb_client_message_event_t dockRequest(xcb_window_t manager, xcb_atom_t trayOpcode, xcb_window_t icon,
                                       xcb_timestamp_t time);
// _XEMBED_INFO: version, flags.
std::array<std::uint32_t, 2> xembedInfo(bool mapped);
// WM_NORMAL_HINTS (WM_SIZE_HINTS, 18 CARD32) asking for at least width x height.
std::array<std::uint32_t, 18> minimumSizeHints(int width, int height);
inline constexpr std::uint32_t kSizeHintMinSize = 1u << 4;  // PMinSize

// The icon's side for an image of that size: the image with a little room, never under 16.
int trayIconSide(double imageWidth, double imageHeight);

}  // namespace X11Display
