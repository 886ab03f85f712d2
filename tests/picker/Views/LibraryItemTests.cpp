// The library cell: its modes, the hover animation timings, the borders and
// the double-click copy.
#include "picker/Library/LibraryTestSupport.h"
#include "picker/Views/Library/LibraryShell.h"
#include "picker/Views/Library/ZNLColorsLibraryItem.h"

#include "Platform/AppKit/NSEvent.h"
#include "Platform/QuartzCore/CALayer.h"

using namespace Vexil::Views;
using namespace AppKit;

namespace {

class Owner : public ZNLColorsLibraryItemDelegate {
public:
    void shadeViewDoubleClicked(ZNLShadeView&, const NSColorRef&) override { ++doubleClicks; }
    void shadeViewClicked(ZNLShadeView&, const NSColorRef&) override { ++clicks; }
    void reloadItem(ZNLColorsLibraryItem&) override { ++reloads; }
    int doubleClicks = 0, clicks = 0, reloads = 0;
};

class LibraryItemTest : public librarytest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        item = std::make_shared<ZNLColorsLibraryItem>();
        item->view()->setFrame(CGRectMake(0, 0, 150, 240));
        item->delegate = owner;
    }
    void TearDown() override {
        LibraryShell::shared() = {};
        item.reset();
        LibraryTest::TearDown();
    }
    double overlay() const { return item->overlayHeight.lock()->constant(); }
    double adjust() const { return item->adjustButtonBottom.lock()->constant(); }
    bool deleteHidden() const { return item->deleteButton.lock()->isHidden(); }
    std::shared_ptr<ZNLShadeView> swatch(std::size_t i) const {
        return std::dynamic_pointer_cast<ZNLShadeView>(item->stackView.lock()->views.at(i));
    }

    std::shared_ptr<ZNLColorsLibraryItem> item;
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
};

TEST_F(LibraryItemTest, OneColourShowsAtOnceAndEmptyShowsTheDeleteButton) {
    EXPECT_TRUE(item->adjustButton.lock()->isHidden());
    EXPECT_EQ(adjust(), -42);
    item->setShades({NSColor::redColor()}, ColorFormat::builtIn());
    EXPECT_EQ(item->mode(), ZNLColorsLibraryItemMode::color);
    ASSERT_EQ(item->stackView.lock()->views.size(), 1u);
    EXPECT_EQ(swatch(0)->alphaValue(), 1);
    EXPECT_FALSE(swatch(0)->highlightable);
    EXPECT_TRUE(deleteHidden());
    EXPECT_FALSE(item->adjustButton.lock()->isHidden());
    EXPECT_TRUE(item->exitShadesButton.lock()->isHidden());
    EXPECT_EQ(adjust(), -42);

    item->setShades({}, ColorFormat::builtIn());
    EXPECT_EQ(item->mode(), ZNLColorsLibraryItemMode::color);
    EXPECT_TRUE(item->stackView.lock()->views.empty());
    EXPECT_FALSE(deleteHidden());
}

TEST_F(LibraryItemTest, ThreeColoursFadeInAndCollapseTheOverlay) {
    item->setShades({NSColor::redColor(), NSColor::greenColor(), NSColor::blueColor()}, ColorFormat::builtIn());
    EXPECT_EQ(item->mode(), ZNLColorsLibraryItemMode::shades);
    ASSERT_EQ(item->stackView.lock()->views.size(), 3u);
    EXPECT_TRUE(item->adjustButton.lock()->isHidden());
    EXPECT_FALSE(item->exitShadesButton.lock()->isHidden());
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(swatch(i)->alphaValue(), 0);
        EXPECT_TRUE(swatch(i)->highlightable);
    }
    executor->advance(0.09);
    EXPECT_EQ(swatch(0)->alphaValue(), 0);
    EXPECT_GT(overlay(), 0);
    executor->advance(0.12);  // 0.21 s: the overlay has collapsed, the swatches are fading in
    EXPECT_EQ(overlay(), 0);
    EXPECT_GT(swatch(2)->alphaValue(), 0);
    EXPECT_LT(swatch(2)->alphaValue(), 1);
    executor->advance(0.1);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(swatch(i)->alphaValue(), 1);
    item->view()->layoutSubtreeIfNeeded();
    EXPECT_DOUBLE_EQ(swatch(1)->frame().width(), 50);
    EXPECT_DOUBLE_EQ(swatch(2)->frame().minX(), 100);

    // A single click reaches the owner in this mode; leaving the cell asks for a reload.
    item->shadeViewClicked(*swatch(0), NSColor::redColor());
    EXPECT_EQ(owner->clicks, 1);
    item->viewMouseExited();
    EXPECT_EQ(owner->reloads, 1);
}

TEST_F(LibraryItemTest, HoverGrowsTheOverlayThenRaisesTheAdjustButton) {
    item->setShades({NSColor::redColor()}, ColorFormat::builtIn());
    item->viewMouseEntered();
    EXPECT_FALSE(deleteHidden());
    executor->advance(0.05);
    EXPECT_GT(overlay(), 88);
    EXPECT_EQ(adjust(), -42);  // the button follows 0.06 s behind
    executor->advance(0.1);    // 0.15 s
    EXPECT_LT(overlay(), 148);
    EXPECT_GT(adjust(), -42);
    executor->advance(0.06);  // 0.21 s: the overlay is done, the button not yet
    EXPECT_EQ(overlay(), 148);
    EXPECT_LT(adjust(), 12);
    executor->advance(0.06);  // 0.27 s
    EXPECT_EQ(adjust(), 12);
    item->view()->layoutSubtreeIfNeeded();
    EXPECT_EQ(item->adjustButton.lock()->frame().minY(), 12);  // in view above the bottom edge

    item->viewMouseExited();
    EXPECT_TRUE(deleteHidden());
    executor->advance(0.3);
    EXPECT_EQ(overlay(), 88);
    EXPECT_EQ(adjust(), -42);
    item->view()->layoutSubtreeIfNeeded();
    EXPECT_LE(item->adjustButton.lock()->frame().maxY(), 0);  // below the clipped bottom edge
    EXPECT_EQ(owner->reloads, 0);
}

TEST_F(LibraryItemTest, SwatchClicksInColourModeAndBorders) {
    item->setShades({NSColor::redColor()}, ColorFormat::builtIn());
    item->shadeViewClicked(*swatch(0), NSColor::redColor());
    item->shadeViewDoubleClicked(*swatch(0), NSColor::redColor());
    EXPECT_EQ(owner->clicks, 0);
    EXPECT_EQ(owner->doubleClicks, 1);

    auto layer = item->view()->layer();
    item->setHighlightState(NSCollectionViewItemHighlightState::forSelection);
    EXPECT_EQ(layer->borderWidth, 4);
    const auto orange = layer->borderColor;
    item->setHighlightState(NSCollectionViewItemHighlightState::forDeselection);
    EXPECT_EQ(layer->borderWidth, 4);
    EXPECT_EQ(layer->borderColor, orange);
    item->setSelected(true);
    EXPECT_NE(layer->borderColor, orange);
    item->setSelected(false);
    EXPECT_EQ(layer->borderWidth, 0);
    item->setHighlightState(NSCollectionViewItemHighlightState::forSelection);
    EXPECT_EQ(layer->borderColor, orange);
    EXPECT_EQ(layer->borderWidth, 4);
}

TEST_F(LibraryItemTest, DoubleClickCopiesTheFormattedTextAndShowsTheNotice) {
    auto folder = addFolder("A", 1);
    auto stored = addItem(folder, "#1a2b3c", 0);
    std::vector<std::string> calls;
    auto& shell = LibraryShell::shared();
    shell.ignoreOwnCopy = [&] { calls.push_back("ignore " + clipboard()); };
    shell.statusItemOrigin = [] { return std::optional<CGPoint>(CGPoint{700, 880}); };
    shell.showFloatingColor = [&](const std::string& text, const NSColorRef& c, bool hide, double x, double y) {
        calls.push_back("notice " + text + " " + hexRGB(*c) + (hide ? " hidden" : "") + " " + std::to_string(int(x)) +
                        "," + std::to_string(int(y)));
    };
    NSEvent triple;
    triple.clickCount = 3;
    NSEvent twice;
    twice.clickCount = 2;

    item->mouseUp(twice);  // no colour item, no format: nothing
    item->colorItem = stored;
    item->format = ColorFormat::builtIn();
    item->mouseUp(triple);
    EXPECT_TRUE(calls.empty());
    item->mouseUp(twice);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "ignore #1A2B3C");
    EXPECT_EQ(calls[1], "notice #1A2B3C #1a2b3c 700,880");

    // No status item window: the copy stands, no notice.
    calls.clear();
    shell.statusItemOrigin = [] { return std::optional<CGPoint>(); };
    item->mouseUp(twice);
    EXPECT_EQ(calls, std::vector<std::string>{"ignore #1A2B3C"});
}

}  // namespace
