// The floating notice: position, width, the 3 s hide and its fade, also
// while a menu tracks, and a window that is gone.

#include "ShellTestSupport.h"

#include "Platform/AppKit/HeadlessBackend.h"

namespace shelltest {
namespace {

TEST_F(ShellTest, NoticeIsCentredUnderThePointAndWidensWithItsText) {
    launch();
    app->showFloatingColor("#fff", AppKit::NSColor::whiteColor(), false, 700, 876);
    auto& notice = *app->floatingWindow;
    const double shortWidth = notice.frame().size.width;
    EXPECT_DOUBLE_EQ(notice.frame().origin.x, 700 - shortWidth / 2);
    EXPECT_DOUBLE_EQ(notice.frame().origin.y, 851);
    app->showFloatingColor("A much longer notice text - rgb(1, 2, 3)", AppKit::NSColor::whiteColor(), false, 700, 876);
    EXPECT_GT(notice.frame().size.width, shortWidth + 100);
    EXPECT_DOUBLE_EQ(notice.frame().origin.x, 700 - notice.frame().size.width / 2);
    // Texts are shown as given (the window's number format is removed).
    EXPECT_EQ(notice.infoView()->stringValue(), "A much longer notice text - rgb(1, 2, 3)");
    EXPECT_EQ(notice.level(), AppKit::NSFloatingWindowLevel);
    // Never off the screen at either end.
    app->showFloatingColor("At the left edge", AppKit::NSColor::whiteColor(), false, 3, 876);
    EXPECT_DOUBLE_EQ(notice.frame().origin.x, 0);
    app->showFloatingColor("At the right edge", AppKit::NSColor::whiteColor(), false, 1439, 876);
    EXPECT_DOUBLE_EQ(notice.frame().maxX(), 1440);
    EXPECT_FALSE(notice.isOpaque);
}

TEST_F(ShellTest, NoticeShowsBesideTheIconOnItsScreenBelowATopPanelAboveABottomOne) {
    // Two screens side by side; the panel holding the icon may be on either, at the top or the bottom.
    using AppKit::CGRectMake;
    AppKit::setDisplayBackend(std::make_shared<AppKit::HeadlessBackend>(
        std::vector<AppKit::CGRect>{CGRectMake(0, 0, 1440, 900), CGRectMake(1440, 0, 1280, 800)}));
    launch();
    const struct {
        const char* what;
        AppKit::CGRect icon;
        bool above;
        double screenMinX, screenMaxX;
    } cases[] = {
        {"top panel, right end of the second screen", CGRectMake(2690, 776, 24, 24), false, 1440, 2720},
        {"bottom panel, right end of the second screen", CGRectMake(2690, 0, 24, 24), true, 1440, 2720},
        {"bottom panel, left end of the first screen", CGRectMake(2, 0, 24, 24), true, 0, 1440},
    };
    for (const auto& c : cases) {
        app->statusItem->panelFrame = c.icon;
        const auto origin = app->statusItemOrigin();
        ASSERT_TRUE(origin) << c.what;
        app->showFloatingColor("Ultramarine - #4166F5", AppKit::NSColor::whiteColor(), false, origin->x, origin->y);
        const auto f = app->floatingWindow->frame();
        // Right beside the icon, never over it.
        const double gap = c.above ? f.minY() - c.icon.maxY() : c.icon.minY() - f.maxY();
        EXPECT_GE(gap, 0) << c.what;
        EXPECT_LE(gap, 8) << c.what;
        EXPECT_GE(f.minX(), c.screenMinX) << c.what;
        EXPECT_LE(f.maxX(), c.screenMaxX) << c.what;
    }
    AppKit::setDisplayBackend(nullptr);
}

TEST_F(ShellTest, NoticeFadesOutAfterThreeSecondsInStepsOfAFortyEighth) {
    launch();
    ui->advance(1.0);  // the ready notice
    auto notice = app->floatingWindow;
    ASSERT_TRUE(notice && notice->isVisible());
    ui->advance(2.999);
    EXPECT_NEAR(notice->alphaValue(), 0.95, 1e-6);
    ui->advance(0.001);  // the hide starts the fade
    std::vector<double> alphas;
    const double tick = static_cast<double>(1.0f / 48.0f);
    for (int i = 0; i < 10 && notice->isVisible(); ++i) {
        ui->advance(tick);
        alphas.push_back(notice->alphaValue());
    }
    EXPECT_FALSE(notice->isVisible());
    // Seven progress steps, each 1 - elapsed / 0.15, then the order out.
    ASSERT_EQ(alphas.size(), 8u);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_NEAR(alphas[i], 1.0 - (i + 1) * tick / 0.15, 1e-6) << i;
}

TEST_F(ShellTest, NoticeFadesWhileTheStatusMenuTracks) {
    launch();
    ui->advance(1.0);
    ui->clickStatusItem(app->statusItem);
    ASSERT_TRUE(ui->isMenuOpen());
    ui->advance(3.0 + 0.2);
    EXPECT_TRUE(ui->isMenuOpen());
    EXPECT_FALSE(app->floatingWindow->isVisible());
}

TEST_F(ShellTest, ASecondNoticeIsHiddenByTheFirstOnesTimer) {
    launch();
    app->showFloatingColor("first", AppKit::NSColor::whiteColor(), true, 500, 876);
    ui->advance(1.0);
    app->showFloatingColor("second", AppKit::NSColor::whiteColor(), true, 500, 876);
    ui->advance(2.0 + 0.2);
    EXPECT_FALSE(app->floatingWindow->isVisible());
    ui->advance(1.0);  // the second hide finds it invisible
    EXPECT_FALSE(app->floatingWindow->isVisible());
    EXPECT_EQ(app->floatingWindow->infoView()->stringValue(), "second");
}

TEST_F(ShellTest, HideAndFadeNeverTouchAWindowThatIsGone) {
    launch();
    app->showFloatingColor("gone before its hide", AppKit::NSColor::whiteColor(), true, 500, 876);
    ui->advance(0.5);  // past the alpha animation, which holds the window while it runs
    std::weak_ptr<ARFloatingWindow> weak = app->floatingWindow;
    app->floatingWindow->orderOut();
    app->floatingWindow.reset();
    EXPECT_TRUE(weak.expired());
    ui->advance(4.0);  // the pending hide runs and finds nothing

    app->showFloatingColor("gone while fading", AppKit::NSColor::whiteColor(), true, 500, 876);
    ui->advance(3.05);
    std::weak_ptr<GCOneShotEffectTimer> fade = app->floatingWindow->fade();
    ASSERT_FALSE(fade.expired());
    app->floatingWindow->orderOut();
    app->floatingWindow.reset();
    ui->advance(0.5);  // the one-shot ends without its delegate, then lets go
    EXPECT_TRUE(fade.expired());
}

}  // namespace
}  // namespace shelltest
