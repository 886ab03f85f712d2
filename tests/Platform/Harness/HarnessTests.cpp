// The harness: a scripted screen, the input door, other programs and output.

#include <gtest/gtest.h>

#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

TEST(Harness, LaunchesWithTheScriptedScreenAndDesktopPicture) {
    auto picture = std::make_shared<CoreGraphics::Image>(320, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x) picture->setPixel(x, y, x < 160 ? RGBA{1, 0, 0, 1} : RGBA{0, 0, 1, 1});
    Harness::LaunchOptions options;
    options.screenSize = {320, 200};
    options.desktopPicture = picture;
    Harness::UIHarness h(options);
    ASSERT_EQ(NSScreen::screens().size(), 1u);
    EXPECT_EQ(NSScreen::mainScreen()->frame(), CGRectMake(0, 0, 320, 200));
    EXPECT_EQ(NSScreen::mainScreen()->visibleFrame(), CGRectMake(0, 0, 320, 176));
    // Display coordinates (y down): a region below the menu bar reads the picture.
    auto pixels = displayBackend().captureScreen(CGRectMake(150, 100, 20, 1), 0);
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->pixel(0, 0), (RGBA{1, 0, 0, 1}));
    EXPECT_EQ(pixels->pixel(19, 0), (RGBA{0, 0, 1, 1}));
    auto screen = h.renderScreen();
    EXPECT_EQ(screen.width(), 320);
    EXPECT_EQ(screen.height(), 200);
}

TEST(Harness, TheCaptureLeavesOutTheGivenWindowAndThoseAbove) {
    Harness::LaunchOptions options;
    options.screenSize = {100, 100};
    auto picture = std::make_shared<CoreGraphics::Image>(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) picture->setPixel(x, y, RGBA{0, 1, 0, 1});
    options.desktopPicture = picture;
    Harness::UIHarness h(options);
    auto below = NSWindow::make(CGRectMake(0, 0, 50, 50), NSWindowStyleMaskBorderless);
    below->setBackgroundColor(NSColor::colorWithDeviceRed(1, 0, 0, 1));
    below->orderFront();
    auto magnifier = NSWindow::make(CGRectMake(0, 0, 50, 50), NSWindowStyleMaskBorderless);
    magnifier->setBackgroundColor(NSColor::colorWithDeviceRed(0, 0, 1, 1));
    magnifier->setLevel(NSStatusWindowLevel);
    magnifier->orderFront();
    // Display y 80 is model y 20.
    auto all = displayBackend().captureScreen(CGRectMake(10, 80, 1, 1), 0);
    auto belowOnly = displayBackend().captureScreen(CGRectMake(10, 80, 1, 1), magnifier->windowNumber());
    auto desktop = displayBackend().captureScreen(CGRectMake(10, 80, 1, 1), below->windowNumber());
    ASSERT_TRUE(all && belowOnly && desktop);
    EXPECT_EQ(all->pixel(0, 0), (RGBA{0, 0, 1, 1}));
    EXPECT_EQ(belowOnly->pixel(0, 0), (RGBA{1, 0, 0, 1}));
    EXPECT_EQ(desktop->pixel(0, 0), (RGBA{0, 1, 0, 1}));
}

TEST(Harness, OtherProgramsPushesAndOutputComeInThroughTheDoor) {
    Harness::UIHarness h;
    struct Delegate : NSApplicationDelegate {
        std::vector<Foundation::Dictionary> pushes;
        void applicationDidFinishLaunching() override { Foundation::printLine("Vexil is ready"); }
        void didReceiveRemoteNotification(const Foundation::Dictionary& info) override { pushes.push_back(info); }
    };
    auto d = std::make_shared<Delegate>();
    h.launch(d);
    auto pb = NSPasteboard::generalPasteboard();
    long before = pb->changeCount();
    h.copyFromOtherProgram("#ff8800");
    EXPECT_EQ(pb->changeCount(), before + 1);
    EXPECT_EQ(pb->stringForType(NSPasteboardTypeString), "#ff8800");
    EXPECT_EQ(h.backend().pasteboardWrites, 0) << "another program's copy is not ours to announce";
    pb->declareTypes({NSPasteboardTypeString});
    pb->setString("#00ff00", NSPasteboardTypeString);
    EXPECT_EQ(h.backend().pasteboardWrites, 2);
    Foundation::Dictionary info;
    info["ck"] = Foundation::Value(std::string("x"));
    h.deliverPush(info);
    ASSERT_EQ(d->pushes.size(), 1u);
    EXPECT_EQ(h.outputLines(), std::vector<std::string>{"Vexil is ready"});
}

TEST(Harness, TypedCharactersCarryTheirKeyCodes) {
    Harness::UIHarness h;
    auto w = NSWindow::make(CGRectMake(0, 0, 100, 100), NSWindowStyleMaskTitled);
    w->makeKeyAndOrderFront();
    h.app().activateIgnoringOtherApps(true);
    std::vector<std::pair<int, std::string>> keys;
    auto m = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskKeyDown, [&](const NSEventRef& e) {
        keys.push_back({e->keyCode, e->characters});
        return e;
    });
    h.typeText("oI 1é");
    h.pressKey(kVK_Escape, "\x1b");
    NSEvent::removeMonitor(m);
    EXPECT_EQ(keys, (std::vector<std::pair<int, std::string>>{
                        {31, "o"}, {34, "I"}, {49, " "}, {18, "1"}, {0, "é"}, {kVK_Escape, "\x1b"}}));
}

TEST(Harness, KeysGoToGlobalMonitorsWhileAnotherProgramIsActive) {
    Harness::UIHarness h;
    int global = 0;
    auto m = NSEvent::addGlobalMonitorForEventsMatchingMask(NSEventMaskKeyDown, [&](const NSEvent&) { ++global; });
    h.pressKey(kVK_Escape, "\x1b");
    h.app().activateIgnoringOtherApps(true);
    h.pressKey(kVK_Escape, "\x1b");
    NSEvent::removeMonitor(m);
    EXPECT_EQ(global, 1);
}

}  // namespace

namespace {

TEST(Harness, MoreScreensSitBesideTheMainOneAndTheMainFollowsTheKeyWindow) {
    Harness::LaunchOptions options;
    options.screenSize = {1280, 800};
    options.moreScreens = {CGRectMake(1280, 0, 1920, 1080)};
    Harness::UIHarness h(options);
    auto screens = NSScreen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[1]->frame(), CGRectMake(1280, 0, 1920, 1080));
    EXPECT_EQ(screens[1]->visibleFrame(), screens[1]->frame()) << "the menu bar is on the first screen only";
    EXPECT_EQ(NSScreen::mainScreen()->frame(), screens[0]->frame());
    auto w = NSWindow::make(CGRectMake(1500, 100, 300, 200), NSWindowStyleMaskTitled);
    w->makeKeyAndOrderFront();
    EXPECT_EQ(NSScreen::mainScreen()->frame(), screens[1]->frame());
    EXPECT_EQ(w->screen()->frame(), screens[1]->frame());
}

}  // namespace
