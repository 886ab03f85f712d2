// The palette generator: six swatches from a base colour, locks, shifts,
// labels, apply and close.

#include "picker/Colors/NSColorAdditions.h"
#include "support/Snapshot.h"
#include "picker/Views/ViewsTestSupport.h"

namespace viewstest {
namespace {

class ApplyRecorder : public ZNLPaletteGeneratorDelegate {
public:
    void paletteGeneratorDidClose(ZNLPaletteGenerator&) override { ++closes; }
    void paletteGeneratorDidApply(const std::vector<NSColorRef>& c, const std::string& n,
                                  ZNLPaletteGenerator&) override {
        colors = c;
        name = n;
        ++applies;
    }
    std::vector<NSColorRef> colors;
    std::string name;
    int applies = 0, closes = 0;
};

class GeneratorTest : public ViewsTest {
protected:
    std::shared_ptr<GeneratorWindowProducer> open(NSColorRef base) {
        auto producer = GeneratorWindowProducer::make();
        auto generator = std::make_shared<ZNLPaletteGenerator>();
        generator->delegate = recorder;
        generator->color = std::move(base);
        producer->viewController = generator;
        producer->show(CGPoint{200, 200});
        h.drain();
        return producer;
    }
    std::vector<std::string> hexes(const ZNLPaletteGenerator& g) {
        std::vector<std::string> out;
        for (auto& s : g.swatches()) out.push_back(hexRGBA(*s->color()));
        return out;
    }
    std::shared_ptr<ApplyRecorder> recorder = std::make_shared<ApplyRecorder>();
};

TEST_F(GeneratorTest, SixSwatchesStartingFromTheBase) {
    auto base = NSColor::colorWithCalibratedRed(0.2, 0.5, 0.8, 1);
    auto producer = open(base);
    auto& g = *producer->viewController;
    auto swatches = g.swatches();
    ASSERT_EQ(swatches.size(), 6u);
    EXPECT_EQ(swatches[0]->color(), base);
    EXPECT_EQ(g.palette.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(swatches[i + 1]->color(), g.palette[i]);
    const auto names = Faker::Name::firstNames();
    EXPECT_NE(std::find(names.begin(), names.end(), g.paletteName->stringValue()), names.end());
    // Each appearance replaces the swatches and resets the locks.
    swatches[2]->toggleLock();
    g.viewWillAppear();
    EXPECT_EQ(g.swatches().size(), 6u);
    for (auto& s : g.swatches()) EXPECT_FALSE(s->locked);
}

TEST_F(GeneratorTest, LockedSwatchesKeepTheirColours) {
    auto producer = open(NSColor::colorWithCalibratedRed(0.9, 0.3, 0.3, 1));
    auto& g = *producer->viewController;
    for (auto& s : g.swatches()) h.clickView(*s->button);
    EXPECT_TRUE(g.swatches()[0]->locked);
    const auto before = hexes(g);
    h.clickView(*g.buttonForAction("generateButtonPressed:"));
    g.shiftHue(5);
    g.shiftBrightness(-5);
    EXPECT_EQ(hexes(g), before);
    // Unlocked ones take new colours around the base.
    g.swatches()[3]->toggleLock();
    g.regenerate();
    const auto after = hexes(g);
    for (std::size_t i = 0; i < 6; ++i)
        if (i != 3) {
            EXPECT_EQ(after[i], before[i]) << i;
        }
    EXPECT_NE(after[3], before[3]);
}

TEST_F(GeneratorTest, ShiftsAreClampedWithoutWrapping) {
    auto producer = open(NSColor::colorWithCalibratedRed(1, 0, 0, 1));
    auto& g = *producer->viewController;
    auto s = g.swatches();
    s[0]->setColor(NSColor::colorWithCalibratedHue(0, 0.97, 0.5, 1));
    s[1]->setColor(NSColor::colorWithCalibratedHue(0.5, 0.5, 0.5, 1));
    for (std::size_t i = 2; i < 6; ++i) s[i]->toggleLock();
    g.shiftSaturation(5);
    EXPECT_NEAR(s[0]->color()->saturationComponent(), 0.97, 1e-9);  // would leave 0..1: unchanged
    EXPECT_NEAR(s[1]->color()->saturationComponent(), 0.55, 1e-9);
    g.shiftHue(-5);
    EXPECT_NEAR(s[0]->color()->hueComponent(), 0, 1e-9);  // not 355 degrees
    EXPECT_NEAR(s[1]->color()->hueComponent(), 0.5 - 5.0 / 360, 1e-9);
    s[1]->setColor(NSColor::colorWithCalibratedHue(0.5, 0.5, 0.02, 1));
    g.shiftBrightness(-5);
    EXPECT_NEAR(s[1]->color()->brightnessComponent(), 0.02, 1e-9);
    EXPECT_NEAR(s[0]->color()->brightnessComponent(), 0.45, 1e-9);
}

TEST_F(GeneratorTest, LabelsReadHSBInAContrastingColour) {
    auto view = ZNLPaletteView::make();
    struct Case {
        NSColorRef color;
        const char* text;
        double white, alpha;
    };
    for (const auto& [color, text, white, alpha] :
         {Case{NSColor::colorWithCalibratedRed(1, 0, 0, 1), "HSB: 0, 100, 100", 1, 0.7},
          Case{NSColor::colorWithCalibratedRed(1, 1, 1, 1), "HSB: 0, 0, 100", 0, 0.4},
          Case{NSColor::colorWithCalibratedRed(0.5, 0.5, 0.5, 1), "HSB: 0, 0, 50", 1, 0.7}}) {
        view->setColor(color);
        view->updateLabel();
        EXPECT_EQ(view->colorLabel->stringValue(), text);
        EXPECT_EQ(*view->colorLabel->textColor, *NSColor::colorWithCalibratedWhite(white, alpha)) << text;
        EXPECT_EQ(view->button->contentTintColor, view->colorLabel->textColor);
    }
}

TEST_F(GeneratorTest, ApplyHandsOverTheSixColoursAndTheName) {
    auto producer = open(NSColor::colorWithCalibratedRed(0.2, 0.7, 0.4, 1));
    auto& g = *producer->viewController;
    g.swatches()[1]->toggleLock();
    h.typeIntoField(*g.paletteName, "Forest");
    h.clickView(*g.buttonForAction("applyButtonPressed:"));
    ASSERT_EQ(recorder->applies, 1);
    EXPECT_EQ(recorder->name, "Forest");
    ASSERT_EQ(recorder->colors.size(), 6u);
    EXPECT_EQ(recorder->colors,
              (std::vector<NSColorRef>{g.swatches()[0]->color(), g.swatches()[1]->color(), g.swatches()[2]->color(),
                                       g.swatches()[3]->color(), g.swatches()[4]->color(), g.swatches()[5]->color()}));
    g.paletteName->setStringValue("");
    g.applyPalette();
    EXPECT_EQ(recorder->name, "");
    h.clickView(*g.buttonForAction("closeButtonPressed:"));
    EXPECT_EQ(recorder->closes, 1);
}

TEST_F(GeneratorTest, AnOpenGeneratorLivesUntilItsWindowCloses) {
    std::weak_ptr<ZNLPaletteGenerator> generator;
    std::weak_ptr<NSWindow> window;
    {
        auto producer = open(NSColor::colorWithCalibratedRed(0.2, 0.7, 0.4, 1));
        generator = producer->viewController;
        window = producer->window;
    }
    h.drain();
    ASSERT_FALSE(generator.expired());
    window.lock()->performClose();
    h.drain();
    EXPECT_TRUE(generator.expired());
}

TEST_F(GeneratorTest, Snapshot) {
    auto producer = open(NSColor::colorWithCalibratedRed(0.85, 0.35, 0.2, 1));
    producer->viewController->paletteName->setStringValue("Ember");
    h.moveMouse({5, 5});
    h.drain();
    auto image = h.renderScreen(producer->window.lock()->frame());
    EXPECT_TRUE(TestSupport::matchesSnapshot(image, "picker/Views/snapshots/palette-generator.png"));
}

}  // namespace
}  // namespace viewstest
