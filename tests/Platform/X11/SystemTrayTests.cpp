// The status item's route onto a panel and the tray messages, as bytes on the wire.

#include <gtest/gtest.h>

#include "Platform/X11/SystemTray.h"

using namespace X11Display;

namespace {

TEST(SystemTray, TheWatcherComesFirstThenTheTrayThenNothing) {
    const struct {
        bool notifier, tray;
        StatusRoute route;
    } cases[] = {{true, true, StatusRoute::notifierItem},
                 {true, false, StatusRoute::notifierItem},
                 {false, true, StatusRoute::trayIcon},
                 {false, false, StatusRoute::none}};
    for (const auto& c : cases) EXPECT_EQ(chooseStatusRoute(c.notifier, c.tray), c.route) << c.notifier << c.tray;
    EXPECT_EQ(noStatusAreaLine("no session bus"),
              "Vexil: no session bus and no system tray; use the global shortcuts to pick colours.");
    EXPECT_EQ(traySelectionName(1), "_NET_SYSTEM_TRAY_S1");
}

TEST(SystemTray, TheDockRequestGoesToTheManagerWithTimeOpcodeAndIcon) {
    const auto m = dockRequest(0x200001, 77, 0x400007, 1234);
    EXPECT_EQ(m.response_type, XCB_CLIENT_MESSAGE);
    EXPECT_EQ(m.format, 32);
    EXPECT_EQ(m.window, 0x200001u);
    EXPECT_EQ(m.type, 77u);
    EXPECT_EQ(m.data.data32[0], 1234u);
    EXPECT_EQ(m.data.data32[1], kSystemTrayRequestDock);
    EXPECT_EQ(m.data.data32[2], 0x400007u);
    EXPECT_EQ(m.data.data32[3], 0u);
    EXPECT_EQ(m.data.data32[4], 0u);
    EXPECT_EQ(xembedInfo(true), (std::array<std::uint32_t, 2>{0, 1}));
    EXPECT_EQ(xembedInfo(false), (std::array<std::uint32_t, 2>{0, 0}));
}

TEST(SystemTray, TheSizeHintsAskOnlyForAMinimumInItsSlot) {
    const auto h = minimumSizeHints(20, 18);
    std::array<std::uint32_t, 18> want{};
    want[0] = kSizeHintMinSize;
    want[5] = 20;
    want[6] = 18;
    EXPECT_EQ(h, want);
    EXPECT_EQ(minimumSizeHints(0, -3)[5], 1u) << "never a zero minimum";
    // The icon's side: the image with a little room, never under 16.
    EXPECT_EQ(trayIconSide(16, 16), 20);
    EXPECT_EQ(trayIconSide(18.5, 10), 23);
    EXPECT_EQ(trayIconSide(4, 4), 16);
}

}  // namespace
