// The screen compositor over the interface model: stacking by level and
// order, alpha, regions, leaving out windows for a capture, and pictures of a
// window with text and an open menu under the pinned fonts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/AppKit/ScreenCompositor.h"
#include "Platform/CoreGraphics/Compare.h"
#include "Platform/Foundation/Dispatch.h"
#include "support/Snapshot.h"

namespace CoreGraphics {
void PrintTo(const RGBA& c, std::ostream* out) {
    *out << "rgba(" << c.r << ' ' << c.g << ' ' << c.b << ' ' << c.a << ')';
}
}  // namespace CoreGraphics

namespace AppKit {
namespace {

using CoreGraphics::Image;

bool near(RGBA a, RGBA b, double tolerance = 2.0 / 255) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
           std::abs(a.a - b.a) <= tolerance;
}

// The desktop colour as 8-bit pixels hold it.
bool isDesktop(RGBA c) { return near(c, kDesktopColor); }

class ScreenCompositor : public ::testing::Test {
protected:
    void SetUp() override {
        executor_ = Foundation::TestExecutor::install();
        NSApplication::resetForTests();
        NSStatusBar::resetForTests();
        screen_ = NSScreen::screens().at(0)->frame();
    }
    void TearDown() override {
        NSApplication::resetForTests();
        NSStatusBar::resetForTests();
    }

    // A borderless window of one colour, on screen.
    std::shared_ptr<NSWindow> plainWindow(CGRect frame, RGBA c, NSWindowLevel level = NSNormalWindowLevel) {
        auto w = NSWindow::make(frame, NSWindowStyleMaskBorderless);
        w->hasShadow = false;
        w->setBackgroundColor(NSColor::colorWithRed(c.r, c.g, c.b, c.a));
        w->setLevel(level);
        w->orderFront();
        return w;
    }

    // The pixel at a model point (y up) of a picture of the whole main screen.
    RGBA at(const Image& image, double x, double y) const {
        return image.pixel(static_cast<int>(x - screen_.minX()), static_cast<int>(screen_.maxY() - y - 1));
    }

    std::unique_ptr<Foundation::TestExecutor> executor_;
    CGRect screen_;
};

const RGBA kRed{1, 0, 0, 1};
const RGBA kGreen{0, 1, 0, 1};
const RGBA kBlue{0, 0, 1, 1};

TEST_F(ScreenCompositor, WindowsStackByLevelThenOrderOverTheDesktopAndMenuBar) {
    auto floating = plainWindow(CGRectMake(150, 150, 100, 100), kBlue, NSFloatingWindowLevel);
    auto back = plainWindow(CGRectMake(100, 100, 100, 100), kRed);
    auto front = plainWindow(CGRectMake(120, 120, 100, 100), kGreen);  // ordered front last: above `back`
    const Image image = renderScreen();
    ASSERT_EQ(image.width(), static_cast<int>(screen_.width()));
    ASSERT_EQ(image.height(), static_cast<int>(screen_.height()));
    EXPECT_EQ(at(image, 105, 105), kRed);
    EXPECT_EQ(at(image, 125, 125), kGreen);
    EXPECT_EQ(at(image, 160, 160), kBlue);  // a higher level wins over a later order
    EXPECT_PRED1(isDesktop, at(image, 50, 50));
    const CGRect bar = NSStatusBar::systemStatusBar().barFrame();
    EXPECT_FALSE(bar.isEmpty());
    EXPECT_FALSE(isDesktop(at(image, bar.midX(), bar.midY())));

    back->orderFront();
    EXPECT_EQ(at(renderScreen(), 125, 125), kRed);
    front->orderOut();
    EXPECT_PRED1(isDesktop, at(renderScreen(), 210, 130));
}

// A view that fills itself with one colour.
class FilledView : public NSView {
public:
    FilledView(CGRect frame, RGBA c) : NSView(frame), color_(c) {}
    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override { ctx.fillRect(bounds(), color_); }

private:
    RGBA color_;
};

TEST_F(ScreenCompositor, AWindowFadesAsOnePicture) {
    auto w = plainWindow(CGRectMake(100, 100, 100, 100), kRed);
    w->contentView()->addSubview(NSView::make<FilledView>(CGRectMake(10, 10, 50, 50), kGreen));
    w->setAlphaValue(0.5);
    const Image image = renderScreen();
    const RGBA d = kDesktopColor;
    EXPECT_TRUE(near(at(image, 105, 105), RGBA{(1 + d.r) / 2, d.g / 2, d.b / 2, 1}));
    // The view covers the window's background: none of the red shows through it.
    EXPECT_TRUE(near(at(image, 120, 120), RGBA{d.r / 2, (1 + d.g) / 2, d.b / 2, 1}));
    w->setAlphaValue(0);
    EXPECT_PRED1(isDesktop, at(renderScreen(), 105, 105));
}

TEST_F(ScreenCompositor, RegionsAndCapturesBelowAWindow) {
    auto bottom = plainWindow(CGRectMake(100, 100, 50, 50), kRed);
    auto magnifier = plainWindow(CGRectMake(100, 100, 50, 50), kGreen, NSFloatingWindowLevel);
    auto above = plainWindow(CGRectMake(100, 100, 10, 10), kBlue, NSPopUpMenuWindowLevel);

    ScreenRenderOptions region;
    region.region = CGRectMake(90, 90, 20, 30);
    Image part = renderScreen(region);
    ASSERT_EQ(part.width(), 20);
    ASSERT_EQ(part.height(), 30);
    // Pixel (x, y) shows the point (90 + x + 0.5, 120 - y - 0.5).
    EXPECT_PRED1(isDesktop, part.pixel(0, 29));  // (90.5, 90.5)
    EXPECT_EQ(part.pixel(15, 4), kGreen);        // (105.5, 115.5)
    EXPECT_EQ(part.pixel(15, 14), kBlue);        // (105.5, 105.5)
    region.belowWindowNumber = magnifier->windowNumber();
    part = renderScreen(region);
    // The magnifier and everything above it are left out.
    EXPECT_EQ(part.pixel(15, 4), kRed);
    EXPECT_EQ(part.pixel(15, 14), kRed);

    ScreenRenderOptions offScreen;
    offScreen.region = CGRectMake(-10, -10, 20, 20);  // half off screen: padded with transparency
    part = renderScreen(offScreen);
    ASSERT_EQ(part.width(), 20);
    EXPECT_EQ(part.pixel(0, 0).a, 0);
    EXPECT_PRED1(isDesktop, part.pixel(15, 5));

    ScreenRenderOptions none;
    none.screen = 7;
    EXPECT_TRUE(renderScreen(none).empty());
    EXPECT_FALSE(writeScreenPNG((std::filesystem::path(std::getenv("VEXIL_HOME")) / "x.png").string(), none));
}

TEST_F(ScreenCompositor, DesktopPictureIsDrawnPixelForPixel) {
    auto picture = std::make_shared<Image>(static_cast<int>(screen_.width()), static_cast<int>(screen_.height()));
    for (int y = 0; y < picture->height(); ++y) {
        for (int x = 0; x < picture->width(); ++x) {
            picture->setPixel(x, y, RGBA{(x % 256) / 255.0, (y % 256) / 255.0, ((x + y) % 256) / 255.0, 1});
        }
    }
    ScreenRenderOptions options;
    options.desktopPicture = picture;
    options.region = CGRectMake(300, 300, 64, 64);
    const Image image = renderScreen(options);
    const int top = static_cast<int>(screen_.maxY()) - 364;  // the region's top row in picture rows
    for (auto [x, y] : {std::pair{0, 0}, std::pair{63, 0}, std::pair{17, 41}, std::pair{63, 63}}) {
        EXPECT_EQ(image.pixel(x, y), picture->pixel(300 + x, top + y)) << x << "," << y;
    }
}

TEST_F(ScreenCompositor, SnapshotWindowWithText) {
    auto w = NSWindow::make(CGRectMake(200, 300, 240, 90), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
    w->title = "Colour";
    auto label = NSTextField::labelWithString("Deep Sky Blue #00BFFF");
    label->setFrame(CGRectMake(16, 24, 208, 20));
    w->contentView()->addSubview(label);
    w->orderFront();
    ScreenRenderOptions options;
    options.region = CoreGraphics::CGRectInset(w->frame(), -10, -10);  // the window with its shadow
    EXPECT_TRUE(
        TestSupport::matchesSnapshot(renderScreen(options), "Platform/CoreGraphics/snapshots/window-with-text.png"));
}

TEST_F(ScreenCompositor, SnapshotOpenMenu) {
    auto menu = NSMenu::make();
    menu->addItemWithTitle("Pick Colour", nullptr, "p");
    menu->addItem(NSMenuItem::separatorItem());
    auto copied = menu->addItemWithTitle("Copy as Hex", nullptr, "");
    copied->state = NSControlStateValueOn;
    auto disabled = menu->addItemWithTitle("Export…", nullptr, "");
    disabled->enabled = false;
    menu->addItemWithTitle("Quit", nullptr, "q");
    menu->openAtScreenPoint(CGPointMake(400, 700));
    auto window = menu->menuWindow();
    ASSERT_TRUE(window);
    const CGRect frame = window->frame();
    ScreenRenderOptions options;
    options.region = CoreGraphics::CGRectInset(frame, -10, -10);
    EXPECT_TRUE(TestSupport::matchesSnapshot(renderScreen(options), "Platform/CoreGraphics/snapshots/menu.png"));
    menu->cancelTracking();
}

TEST_F(ScreenCompositor, SnapshotStatusItemWithItsMenuOpen) {
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
    item->button()->setTitle("Vexil");
    auto menu = NSMenu::make();
    menu->addItemWithTitle("Pick Colour", nullptr, "p");
    menu->addItemWithTitle("Show Library", nullptr, "l");
    item->menu = menu;
    const CGRect bar = NSStatusBar::systemStatusBar().barFrame();
    const CGRect region = CGRectMake(screen_.maxX() - 260, screen_.maxY() - 140, 260, 140);
    ScreenRenderOptions options;
    options.region = region;
    const Image closed = renderScreen(options);
    item->click();
    ASSERT_TRUE(menu->isOpen());
    const Image open = renderScreen(options);
    // The item shows in the bar, the menu hangs below it.
    EXPECT_FALSE(CoreGraphics::compareImages(closed, open).matches());
    EXPECT_LE(menu->menuWindow()->frame().maxY(), bar.minY() + 1);
    EXPECT_TRUE(TestSupport::matchesSnapshot(open, "Platform/CoreGraphics/snapshots/status-item-menu.png"));
    menu->cancelTracking();
    NSStatusBar::systemStatusBar().removeStatusItem(item);
}

}  // namespace
}  // namespace AppKit
