// The main window controller: window buttons shown only over the title bar
// or in full screen, and its pointer monitor gone with it.
#include <gtest/gtest.h>

#include "Platform/Harness/Harness.h"
#include "picker/Views/Windows/MainWindowController.h"

using namespace AppKit;
using namespace Vexil::Views;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = NSWindow::make(CGRectMake(200, 200, 400, 300), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                                                    NSWindowStyleMaskMiniaturizable |
                                                                    NSWindowStyleMaskResizable);
        window->makeKeyAndOrderFront();
        controller = MainWindowController::make(window);
        h.drain();
    }
    std::vector<bool> hidden() const {
        std::vector<bool> out;
        for (auto b : {NSWindowButton::close, NSWindowButton::miniaturize, NSWindowButton::zoom})
            out.push_back(window->standardWindowButton(b)->isHidden());
        return out;
    }
    CGPoint inTitleBar() const { return {window->frame().minX() + 200, window->frame().maxY() - 5}; }
    CGPoint inContent() const { return {window->frame().minX() + 200, window->frame().minY() + 100}; }

    Harness::UIHarness h;
    std::shared_ptr<NSWindow> window;
    std::shared_ptr<MainWindowController> controller;
    const std::vector<bool> allHidden{true, true, true}, allShown{false, false, false};
};

TEST_F(MainWindowTest, LookAndButtonsFollowThePointer) {
    EXPECT_TRUE(window->styleMask() & NSWindowStyleMaskTexturedBackground);
    EXPECT_TRUE(window->styleMask() & NSWindowStyleMaskUnifiedTitleAndToolbar);
    EXPECT_TRUE(window->styleMask() & NSWindowStyleMaskResizable);
    EXPECT_TRUE(window->titlebarAppearsTransparent);
    EXPECT_EQ(hidden(), allHidden);
    // One ring below each button, 12 points, in light grey.
    auto close = window->standardWindowButton(NSWindowButton::close);
    const auto& siblings = close->superview()->subviews();
    auto at = std::find(siblings.begin(), siblings.end(), close);
    ASSERT_NE(at, siblings.begin());
    auto ring = *(at - 1);
    EXPECT_EQ(ring->frame().width(), 12);
    EXPECT_EQ(ring->frame().minX(), close->frame().minX() + 1);
    EXPECT_EQ(ring->layer()->cornerRadius, 6);

    h.moveMouse(inTitleBar());
    EXPECT_EQ(hidden(), allShown);
    h.moveMouse(inContent());
    EXPECT_EQ(hidden(), allHidden);
}

TEST_F(MainWindowTest, FullScreenKeepsTheButtonsShown) {
    controller->windowDidEnterFullScreen(*window);
    EXPECT_EQ(hidden(), allShown);
    h.moveMouse(inContent());
    EXPECT_EQ(hidden(), allShown);
    controller->windowDidExitFullScreen(*window);
    EXPECT_EQ(hidden(), allHidden);
    h.moveMouse(inTitleBar());
    EXPECT_EQ(hidden(), allShown);
}

TEST_F(MainWindowTest, TheMonitorGoesWithTheController) {
    const auto before = NSEvent::localMonitorCount();
    std::weak_ptr<MainWindowController> weak = controller;
    controller.reset();
    window->windowController.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(NSEvent::localMonitorCount(), before - 1);
    h.moveMouse(inTitleBar());  // no handler left to run
    EXPECT_EQ(hidden(), allHidden);
}

}  // namespace
