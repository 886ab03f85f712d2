// The colour editor through the harness: opening, the three colour spaces,
// hex entry, the row of shades and schemes, a second editor from a swatch,
// saving the row as a palette, save and cancel.

#include "Platform/AppKit/NSAlert.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Views/Palettes/RCPalettesViewController.h"
#include "support/Snapshot.h"
#include "picker/Views/ViewsTestSupport.h"

namespace viewstest {
namespace {

using Editor = ZNLColorChooserViewController;

std::vector<std::string> captions(const Editor& e) {
    return {e.firstLabel->stringValue(), e.secondLabel->stringValue(), e.thirdLabel->stringValue()};
}

TEST_F(ViewsTest, OpeningSendsItsEventsAndShowsTheColourInRGB) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(1, 0.5, 0, 1));
    auto& e = *producer->viewController;
    EXPECT_EQ(events, (std::vector<std::string>{"Start Creating Color", "Use RGB Color Space"}));
    EXPECT_EQ(captions(e), (std::vector<std::string>{"Red", "Green", "Blue"}));
    EXPECT_EQ(e.hexValue->stringValue(), "#ff7f00");
    EXPECT_EQ(e.firstValueLabel->stringValue(), "255");
    EXPECT_EQ(e.secondValueLabel->stringValue(), "127");
    EXPECT_EQ(e.firstSlider->intValue(), 255);
    EXPECT_EQ(e.colorSpace, ZNLColorSpace::rgba);
    ASSERT_TRUE(producer->window.lock());
    EXPECT_TRUE(producer->window.lock()->isVisible());
    // Not resizable: the adjust configuration.
    EXPECT_EQ(producer->window.lock()->styleMask(), 0x9003u);
    EXPECT_EQ(e.stackView->views.size(), 10u);
}

TEST_F(ViewsTest, TypedHexIsTakenAndTheFieldKeepsTheTypedText) {
    auto producer = openEditor(NSColor::whiteColor());
    auto& e = *producer->viewController;
    h.typeIntoField(*e.hexValue, "A1B2C3");
    EXPECT_EQ(hexRGBA(*e.color), "#a1b2c3ff");
    EXPECT_EQ(e.hexValue->stringValue(), "A1B2C3");
    EXPECT_FALSE(e.updateHex);
    // The next slider move rewrites the field in the eight-digit form.
    h.setSlider(*e.thirdSlider, 255);
    EXPECT_TRUE(e.updateHex);
    EXPECT_EQ(e.hexValue->stringValue().size(), 9u);
}

TEST_F(ViewsTest, HexEntriesThatAreNoColourAreIgnored) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0, 0, 1, 1));
    auto& e = *producer->viewController;
    for (const char* text : {"12345", "#1234abcd", "red", "#12345g", "", "#"}) {
        e.hexValue->setStringValue(text);
        e.controlTextDidChange(*e.hexValue);
        EXPECT_EQ(hexRGBA(*e.color), "#0000ffff") << text;
    }
    struct Case {
        const char* text;
        const char* hex;
    };
    for (auto [text, hex] : {Case{"#abc", "#aabbccff"}, Case{"abc", "#aabbccff"}, Case{"#A1b2C3", "#a1b2c3ff"},
                             Case{"0f0", "#00ff00ff"}}) {
        e.hexValue->setStringValue(text);
        e.controlTextDidChange(*e.hexValue);
        EXPECT_EQ(hexRGBA(*e.color), hex) << text;
    }
}

TEST_F(ViewsTest, HSLStaysSelectedThroughHexEntryAndUndo) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(1, 0, 0, 1));
    auto& e = *producer->viewController;
    h.selectSegment(*e.segmentedControl, 2);
    EXPECT_EQ(captions(e), (std::vector<std::string>{"Hue", "Saturation", "Lightness"}));
    EXPECT_EQ(e.thirdValueLabel->stringValue(), "50%");
    e.hexValue->setStringValue("00ff00");
    e.controlTextDidChange(*e.hexValue);
    EXPECT_EQ(captions(e), (std::vector<std::string>{"Hue", "Saturation", "Lightness"}));
    EXPECT_EQ(e.firstValueLabel->stringValue(), "120");
    EXPECT_EQ(e.colorSpace, ZNLColorSpace::hsl);
    e.undo();
    EXPECT_EQ(captions(e), (std::vector<std::string>{"Hue", "Saturation", "Lightness"}));
    EXPECT_EQ(hexRGBA(*e.color), "#ff0000ff");
    EXPECT_EQ(e.hexValue->stringValue(), "00ff00");  // not rewritten after a hex entry
    h.selectSegment(*e.segmentedControl, 1);
    EXPECT_EQ(captions(e), (std::vector<std::string>{"Hue", "Saturation", "Brightness"}));
    EXPECT_EQ(e.firstSlider->maxValue, 359);
}

TEST_F(ViewsTest, SliderMovesMakeTheColourInEachSpace) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0, 0, 0, 1));
    auto& e = *producer->viewController;
    h.setSlider(*e.firstSlider, 255);
    EXPECT_EQ(hexRGBA(*e.color).substr(0, 3), "#ff");
    // One event from setting the colour and one from the panel shown again.
    events.clear();
    e.handleSliderChange();
    EXPECT_EQ(count("Use RGB Color Space"), 2);

    h.selectSegment(*e.segmentedControl, 1);
    h.setSlider(*e.secondSlider, 100);
    events.clear();
    e.handleSliderChange();
    EXPECT_EQ(count("Use HSB Color Space"), 1);
    const auto c = hsbComponents(*e.color);
    EXPECT_NEAR(c.saturation, 1.0, 0.02);
    EXPECT_LE(c.brightness, 1.0);
    EXPECT_EQ(e.secondValueLabel->stringValue(), std::to_string(e.secondSlider->intValue()));
}

TEST_F(ViewsTest, HSBSliderPositionsBeyondTheirScaleGiveComponentsInRange) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.2, 0.4, 0.6, 1));
    auto& e = *producer->viewController;
    h.selectSegment(*e.segmentedControl, 1);
    e.alphaSlider->maxValue = 1000;
    e.alphaSlider->setDoubleValue(600);
    e.handleSliderChange();
    EXPECT_EQ(e.color->alphaComponent(), 1.0);
    h.selectSegment(*e.segmentedControl, 2);
    e.handleSliderChange();
    EXPECT_EQ(e.color->alphaComponent(), 1.0);
}

TEST_F(ViewsTest, HSLAtLightnessZeroOrOneKeepsTheHueAndSaturationLabels) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.2, 0.4, 0.8, 1));
    auto& e = *producer->viewController;
    h.selectSegment(*e.segmentedControl, 2);
    // The move writes the sliders' values; the panel leaves hue and saturation as written.
    const std::string hue = std::to_string(e.firstSlider->intValue()),
                      saturation = std::to_string(e.secondSlider->intValue());
    for (double lightness : {0.0, 100.0}) {
        e.thirdSlider->setDoubleValue(lightness);
        e.handleSliderChange();
        EXPECT_EQ(e.firstValueLabel->stringValue(), hue) << lightness;
        EXPECT_EQ(e.secondValueLabel->stringValue(), saturation) << lightness;
    }
    EXPECT_EQ(e.thirdValueLabel->stringValue(), "100%");
    EXPECT_EQ(hexRGBA(*e.color), "#ffffffff");
}

TEST_F(ViewsTest, TheMoreButtonOpensTheEditorsMenu) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.2, 0.4, 0.8, 1));
    auto& e = *producer->viewController;
    e.moreButtonAction(e.buttonForAction("moreButtonAction:").get());  // no current event yet: nothing
    h.clickView(*e.buttonForAction("moreButtonAction:"));
    ASSERT_TRUE(h.isMenuOpen());
    h.chooseMenuItem({"Back to Original"});
    EXPECT_FALSE(h.isMenuOpen());
    EXPECT_EQ(hexRGB(*e.color), "#3366cc");
}

TEST_F(ViewsTest, SchemeTabsChooseTheRow) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.2, 0.6, 0.4, 1));
    auto& e = *producer->viewController;
    struct Case {
        long tag;
        std::size_t swatches;
        bool scheme;
    };
    for (auto [tag, swatches, scheme] : {Case{2, 4, true}, Case{0, 4, true}, Case{3, 4, true}, Case{1, 4, true},
                                         Case{4, 10, false}, Case{-1, 10, false}}) {
        e.schemeTabSelected(tag);
        EXPECT_EQ(e.stackView->views.size(), swatches) << tag;
        EXPECT_EQ(e.paletteColors.size(), swatches) << tag;
        EXPECT_EQ(e.scheme.has_value(), scheme) << tag;
    }
    // Through the tab control: the triad tab.
    for (auto& b : e.tabBar->tabButtons())
        if (b->tag == 2) h.clickView(*b);
    EXPECT_EQ(e.scheme, ColorScheme::Triad);
    EXPECT_EQ(e.stackView->views.size(), 4u);
    // The guide, two move-to points above the view.
    ASSERT_EQ(e.lineShape->path.elements.size(), 2u);
    EXPECT_EQ(e.lineShape->path.elements[0].op, QuartzCore::CGPath::Op::Move);
    EXPECT_EQ(e.lineShape->path.elements[1].p0.y, e.view()->bounds().maxY() + 3);
    // A colour change keeps the scheme.
    e.applyHexField("#123456");
    EXPECT_EQ(e.stackView->views.size(), 4u);
}

TEST_F(ViewsTest, ShadesAreFourTintsThenSixSteps) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(1, 1, 1, 1));
    auto& e = *producer->viewController;
    ASSERT_EQ(e.paletteColors.size(), 10u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(hexRGBA(*e.paletteColors[i]), "#ffffffff") << i;
    for (int i = 1; i <= 6; ++i) {
        const auto c = hsbComponents(*e.paletteColors[3 + i]);
        EXPECT_NEAR(c.brightness, 1 - 0.05 * i, 1e-9) << i;
        EXPECT_NEAR(c.saturation, 0.05 * i, 1e-9) << i;
    }
}

TEST_F(ViewsTest, ASwatchClickOpensASecondEditorThatClosesItsOwnWindow) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.8, 0.2, 0.2, 1), CGPoint{300, 400});
    auto& e = *producer->viewController;
    const CGPoint first = producer->window.lock()->frame().origin;
    h.clearOutput();
    auto swatch = std::static_pointer_cast<ZNLShadeView>(e.stackView->views[5]);
    const std::string hex = hexRGB(*swatch->color());
    h.clickView(*swatch);
    std::shared_ptr<NSWindow> second;
    for (auto& w : editorWindows())
        if (w != producer->window.lock() && std::dynamic_pointer_cast<Editor>(w->contentViewController())) second = w;
    ASSERT_TRUE(second);
    EXPECT_EQ(second->frame().origin.x, first.x + 20);
    EXPECT_EQ(second->frame().origin.y, first.y - 20);
    EXPECT_EQ(h.outputLines().back(), hex);
    std::weak_ptr<Editor> secondEditor = std::static_pointer_cast<Editor>(second->contentViewController());
    EXPECT_EQ(hexRGB(*secondEditor.lock()->color), hex);
    second.reset();

    // Nothing but the window holds the second editor; saving closes that window only.
    h.clickView(*secondEditor.lock()->buttonForAction("save:"));
    h.drain();
    ASSERT_EQ(owner->saved.size(), 1u);
    EXPECT_EQ(hexRGB(*owner->saved[0].color), hex);
    EXPECT_TRUE(producer->window.lock()->isVisible());
    EXPECT_EQ(editorWindows().size(), 1u);
    h.drain();
    EXPECT_TRUE(secondEditor.expired());
    EXPECT_TRUE(owner->cancelled.empty());
}

TEST_F(ViewsTest, ADoubleClickOnASwatchOpensOneEditor) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.1, 0.5, 0.9, 1));
    h.clearOutput();
    h.doubleClick(Harness::UIHarness::centerOnScreen(*producer->viewController->stackView->views[0]));
    EXPECT_EQ(h.outputLines().size(), 1u);
    EXPECT_EQ(editorWindows().size(), 2u);
}

TEST_F(ViewsTest, SaveAndCancelReachTheOwnerWithoutClosingTheFirstEditor) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.1, 0.5, 0.9, 1));
    auto& e = *producer->viewController;
    e.colorNameField->setStringValue("");
    events.clear();
    h.clickView(*e.buttonForAction("save:"));
    ASSERT_EQ(owner->saved.size(), 1u);
    EXPECT_EQ(owner->saved[0].name, "");
    EXPECT_EQ(owner->saved[0].editor, &e);
    EXPECT_EQ(events, std::vector<std::string>{"Created Color"});
    h.clickView(*e.buttonForAction("cancel:"));
    EXPECT_EQ(owner->cancelled.size(), 1u);
    EXPECT_TRUE(producer->window.lock()->isVisible());
    // The owner is not owned: without it, save sends only its event.
    owner.reset();
    e.save();
    EXPECT_EQ(count("Created Color"), 2);
}

TEST_F(ViewsTest, TheRowIsSavedAsAPaletteFolder) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.3, 0.3, 0.7, 1));
    auto& e = *producer->viewController;
    ASSERT_TRUE(e.savePaletteFolder());
    auto folders = ZNLColorsLibrary::allFolders();
    ASSERT_TRUE(folders);
    ASSERT_EQ(folders->count(), 1u);
    auto folder = folders->at(0);
    const auto names = Faker::Name::firstNames();
    EXPECT_NE(std::find(names.begin(), names.end(), folder->folderName()), names.end());
    EXPECT_EQ(folder->order(), 1);
    EXPECT_FALSE(folder->isDefault());
    EXPECT_EQ(folder->objects().count(), 10u);
}

TEST_F(ViewsTest, APaletteThatCannotBeSavedShowsTheAlertAndMakesNoFolder) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.3, 0.3, 0.7, 1));
    breakStore();
    EXPECT_FALSE(producer->viewController->savePaletteFolder());
    const auto messages = h.alerts().messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Palette cannot be saved");
    EXPECT_EQ(h.alerts().shown().back().buttons, std::vector<std::string>{"Ok"});
    mendStore();
    auto folders = ZNLColorsLibrary::allFolders();
    EXPECT_TRUE(!folders || folders->count() == 0);
}

TEST_F(ViewsTest, TheGeneratorAppliesIntoANewFolderAndClosesItsWindow) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.9, 0.4, 0.1, 1));
    auto& e = *producer->viewController;
    e.openPaletteGenerator();
    h.drain();
    auto generator = e.paletteWindow->viewController;
    ASSERT_TRUE(generator);
    ASSERT_TRUE(e.paletteWindow->window.lock());
    EXPECT_TRUE(e.paletteWindow->window.lock()->isVisible());
    // Asked again for another colour, the open window shows a new generator.
    e.applyHexField("#336699");
    e.openPaletteGenerator();
    h.drain();
    ASSERT_NE(e.paletteWindow->viewController, generator);
    generator = e.paletteWindow->viewController;
    EXPECT_EQ(e.paletteWindow->window.lock()->contentViewController(), generator);
    EXPECT_EQ(hexRGB(*generator->swatches()[0]->color()), "#336699");
    generator->paletteName->setStringValue("Sunset");
    h.clickView(*generator->buttonForAction("applyButtonPressed:"));
    h.drain();
    auto folder = ZNLColorsLibrary::shared().folderNamed("Sunset");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->objects().count(), 6u);
    EXPECT_FALSE(e.paletteWindow->isVisible);
}

TEST_F(ViewsTest, ThePalettesWindowLivesUntilItCloses) {
    std::weak_ptr<RCPalettesViewController> controller;
    {
        auto producer = openPalettesWindow();
        controller = producer->viewController;
        EXPECT_EQ(producer->window.lock()->styleMask() & NSWindowStyleMaskResizable, NSWindowStyleMaskResizable);
    }
    h.drain();
    ASSERT_FALSE(controller.expired());
    auto c = controller.lock();
    EXPECT_EQ(c->dataSource->numberOfItemsInSection(*c->collectionView, 0), 0);
    auto window = c->view()->window();
    c.reset();
    window->performClose();
    window.reset();
    h.drain();
    EXPECT_TRUE(controller.expired());

    RCColorInfoViewController info;
    info.view();
    EXPECT_EQ(info.infoLabel->stringValue(), "");
}

TEST_F(ViewsTest, ProducerBuildsOneWindowUntilClosed) {
    auto producer = GeneratorWindowProducer::make();
    producer->show();
    EXPECT_FALSE(producer->window.lock());  // no view controller: nothing
    producer->viewController = std::make_shared<ZNLPaletteGenerator>();
    producer->show();
    auto first = producer->window.lock();
    producer->show(CGPoint{100, 200});
    EXPECT_EQ(producer->window.lock(), first);
    EXPECT_EQ(first->frame().origin.x, 100);
    producer->close();
    EXPECT_FALSE(producer->isVisible);
    producer->show();
    EXPECT_NE(producer->window.lock(), first);
    EXPECT_TRUE(producer->isVisible);
}

void snapshotEditor(Harness::UIHarness& h, EditorWindowProducer& producer, long segment, const std::string& name) {
    auto& e = *producer.viewController;
    h.selectSegment(*e.segmentedControl, segment);
    h.moveMouse({5, 5});
    h.drain();
    auto image = h.renderScreen(producer.window.lock()->frame());
    EXPECT_TRUE(TestSupport::matchesSnapshot(image, "picker/Views/snapshots/" + name + ".png"));
}

TEST_F(ViewsTest, EditorSnapshotsInEachColourSpace) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.85, 0.35, 0.2, 1), CGPoint{200, 200});
    snapshotEditor(h, *producer, 0, "editor-rgb");
    snapshotEditor(h, *producer, 1, "editor-hsb");
    snapshotEditor(h, *producer, 2, "editor-hsl");
}

}  // namespace
}  // namespace viewstest
