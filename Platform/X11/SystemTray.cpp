#include "Platform/X11/SystemTray.h"

#include <algorithm>
#include <cmath>

namespace X11Display {

StatusRoute chooseStatusRoute(bool notifierStarted, bool trayManagerPresent) {
    if (notifierStarted) return StatusRoute::notifierItem;
    return trayManagerPresent ? StatusRoute::trayIcon : StatusRoute::none;
}

std::string noStatusAreaLine(const std::string& why) {
    return "Vexil: " + why + " and no system tray; use the global shortcuts to pick colours.";
}

std::string traySelectionName(int screenNumber) { return "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber); }

xcb_client_message_event_t dockRequest(xcb_window_t manager, xcb_atom_t trayOpcode, xcb_window_t icon,
                                       xcb_timestamp_t time) {
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = manager;
    m.type = trayOpcode;
    m.data.data32[0] = time;
    m.data.data32[1] = kSystemTrayRequestDock;
    m.data.data32[2] = icon;
    return m;
}

std::array<std::uint32_t, 2> xembedInfo(bool mapped) { return {kXEmbedVersion, mapped ? kXEmbedMapped : 0u}; }

std::array<std::uint32_t, 18> minimumSizeHints(int width, int height) {
    std::array<std::uint32_t, 18> hints{};
    hints[0] = kSizeHintMinSize;
    // After the flags and the obsolete x, y, width, height.
    hints[5] = static_cast<std::uint32_t>(std::max(1, width));
    hints[6] = static_cast<std::uint32_t>(std::max(1, height));
    return hints;
}

int trayIconSide(double imageWidth, double imageHeight) {
    const double side = std::ceil(std::max(imageWidth, imageHeight)) + 4;
    return std::max(16, static_cast<int>(side));
}

}  // namespace X11Display
