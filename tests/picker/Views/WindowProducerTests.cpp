// The window producer builds once, closes, and rebuilds; the library panel
// places itself freely above the menu bar.
#include <gtest/gtest.h>

#include "Platform/Harness/Harness.h"
#include "picker/Views/Windows/WindowProducer.h"
#include "picker/Views/Windows/ZNLWindow.h"

using namespace AppKit;
using namespace Vexil::Views;

namespace {

class Content : public NSViewController {
public:
    void loadView() override { setView(std::make_shared<NSView>(CGRectMake(0, 0, 300, 200))); }
};

template <class Config>
std::shared_ptr<WindowProducer<Content, Config>> producer() {
    auto p = std::make_shared<WindowProducer<Content, Config>>();
    p->viewController = std::make_shared<Content>();
    return p;
}

TEST(WindowConfig, StyleAndBackgroundByKind) {
    CLWindowConfig base;
    EXPECT_DOUBLE_EQ(base.backgroundColor()->redComponent(), 1);
    EXPECT_EQ(base.title, "");
    EXPECT_TRUE(base.titlebarAppearsTransparent);
    EXPECT_EQ(RYAdjustWindowConfig().styleMask(), 0x9003u);
    EXPECT_EQ(RCPaletteWindowConfig().styleMask(), 0x900Bu);
    EXPECT_NE(RYAdjustWindowConfig().backgroundColor()->redComponent(), 1);
}

TEST(WindowProducer, ShowWithoutControllerDoesNothing) {
    Harness::UIHarness h;
    WindowProducer<Content, RYAdjustWindowConfig> p;
    p.show();
    EXPECT_FALSE(p.windowController);
    EXPECT_FALSE(p.isVisible);
}

TEST(WindowProducer, ShowTwiceBuildsOneWindowAndMovesIt) {
    Harness::UIHarness h;
    auto p = producer<RYAdjustWindowConfig>();
    p->show();
    auto first = p->window.lock();
    ASSERT_TRUE(first);
    EXPECT_TRUE(p->isVisible);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->isKeyWindow());
    EXPECT_TRUE(h.app().isActive());
    EXPECT_EQ(first->styleMask(), 0x9003u);
    EXPECT_TRUE(first->titlebarAppearsTransparent);
    EXPECT_EQ(first->delegate.lock().get(), p.get());
    p->show(CGPointMake(40, 50));
    EXPECT_EQ(p->window.lock(), first);
    EXPECT_DOUBLE_EQ(first->frame().origin.x, 40);
    EXPECT_DOUBLE_EQ(first->frame().origin.y, 50);
    p->show();
    EXPECT_DOUBLE_EQ(first->frame().origin.x, 40);
}

TEST(WindowProducer, ShowCloseShowBuildsASecondWindow) {
    Harness::UIHarness h;
    auto p = producer<RCPaletteWindowConfig>();
    p->show();
    auto first = p->window.lock();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->styleMask() & NSWindowStyleMaskResizable);
    p->close();
    EXPECT_FALSE(p->isVisible);
    EXPECT_FALSE(p->windowController);
    EXPECT_FALSE(p->window.lock());
    EXPECT_FALSE(first->isVisible());
    p->show();
    auto second = p->window.lock();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_TRUE(second->isVisible());
}

TEST(WindowProducer, ClosingByTheWindowKeepsTheControllerAndShowsItAgain) {
    Harness::UIHarness h;
    auto p = producer<RYAdjustWindowConfig>();
    p->show();
    auto first = p->window.lock();
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->styleMask() & NSWindowStyleMaskResizable);
    first->close();
    EXPECT_TRUE(p->isVisible);
    EXPECT_TRUE(p->windowController);
    p->show();
    EXPECT_EQ(p->windowController->window(), first);
}

TEST(LibraryPanel, NonActivatingAboveTheMenuBarAndPlacedFreely) {
    Harness::UIHarness h;
    auto panel =
        NSWindow::make<ZNLWindow>(CGRectMake(0, 0, 800, 300), NSWindowStyleMaskTitled | NSWindowStyleMaskResizable);
    EXPECT_EQ(panel->styleMask(), NSWindowStyleMaskNonactivatingPanel);
    EXPECT_EQ(panel->level(), kCGMainMenuWindowLevel + 2);
    EXPECT_FALSE(panel->hasShadow);
    EXPECT_FALSE(panel->movable);
    EXPECT_FALSE(panel->movableByWindowBackground);
    ASSERT_TRUE(panel->appearance);
    EXPECT_EQ(panel->appearance->name(), NSAppearanceNameAqua);
    EXPECT_DOUBLE_EQ(panel->frame().size.width, 0);
    EXPECT_TRUE(panel->canBecomeKeyWindow());
    EXPECT_TRUE(panel->canBecomeMainWindow());
    CGRect high = CGRectMake(0, 5000, 800, 300);
    EXPECT_EQ(panel->constrainFrameRect(high, nullptr), high);
    panel->setFrame(high);
    panel->orderFront();
    EXPECT_DOUBLE_EQ(panel->frame().origin.y, 5000);
}

}  // namespace
