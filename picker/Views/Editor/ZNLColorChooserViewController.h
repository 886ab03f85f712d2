#pragma once
// The colour editor: one colour in RGB, HSB or HSL with gradient sliders, a
// hex field, a name field, a large swatch, a row of shades or a scheme, and
// commands to save, cancel, go back, save the row as a palette and open the
// palette generator. The owner hears the outcome and stores the colour.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/QuartzCore/CALayer.h"
#include "picker/Colors/ColorScheme.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Views/Controls/RCTabControl.h"
#include "picker/Views/Editor/RYGradientSliderCell.h"
#include "picker/Views/Palettes/ZNLPaletteGenerator.h"
#include "picker/Views/Shades/ZNLShadeView.h"
#include "picker/Views/Windows/WindowProducer.h"

enum class ZNLColorSpace { rgba = 0, hsba = 1, hsl = 2 };

class ZNLColorChooserViewController;

// The owner. It stores a saved colour and closes the editor's window; an
// owner of several editors closes the one it is given (`closeWindow`).
class ZNLColorChooserDelegate {
public:
    virtual ~ZNLColorChooserDelegate() = default;
    virtual void colorChooserDidCancel(ZNLColorChooserViewController& editor) = 0;
    virtual void colorChooserDidSave(const AppKit::NSColorRef& color, const std::string& name,
                                     ZNLColorChooserViewController& editor) = 0;
    // Declared by the protocol; nothing sends it.
    virtual void colorChooserDidChange(ZNLColorChooserViewController&) {}
};

class ZNLColorChooserViewController;
using EditorWindowProducer = WindowProducer<ZNLColorChooserViewController, RYAdjustWindowConfig>;
using GeneratorWindowProducer = WindowProducer<ZNLPaletteGenerator, RYAdjustWindowConfig>;

class ZNLColorChooserViewController : public AppKit::NSViewController,
                                      public ZNLShadeViewDelegate,
                                      public ZNLPaletteGeneratorDelegate,
                                      public AppKit::NSTextFieldDelegate,
                                      public RCTabControlDelegate {
public:
    // The entry of the shell (a new colour) and of the library window (a
    // stored colour): an editor for the colour, the item and the owner. The
    // owner is not owned: it outlives its editors.
    static std::shared_ptr<ZNLColorChooserViewController> create(const AppKit::NSColorRef& color,
                                                                 std::shared_ptr<ZNLColorItem> item,
                                                                 std::weak_ptr<ZNLColorChooserDelegate> owner);
    // Convenience: an editor made by `create`, shown in a new window producer
    // (the producer keeps itself and the editor alive while the window is open).
    static std::shared_ptr<EditorWindowProducer> open(const AppKit::NSColorRef& color,
                                                      std::shared_ptr<ZNLColorItem> item,
                                                      std::weak_ptr<ZNLColorChooserDelegate> owner,
                                                      std::optional<AppKit::CGPoint> origin = std::nullopt);

    std::shared_ptr<QuartzCore::CAShapeLayer> lineShape = QuartzCore::CAShapeLayer::layer();
    std::shared_ptr<AppKit::NSMenu> moreMenu;
    AppKit::NSColorRef color;
    bool updateHex = true;
    std::shared_ptr<ZNLColorItem> znlColor;
    std::shared_ptr<RCTabControl> tabBar;
    std::shared_ptr<AppKit::NSTextField> colorNameField;
    std::shared_ptr<AppKit::NSSlider> alphaSlider, thirdSlider, secondSlider, firstSlider;
    std::shared_ptr<AppKit::NSView> colorView;
    std::shared_ptr<AppKit::NSTextField> firstLabel, secondLabel, thirdLabel, alphaLabel;
    std::shared_ptr<AppKit::NSTextField> firstValueLabel, secondValueLabel, thirdValueLabel, fourdValueLabel;
    std::shared_ptr<AppKit::NSTextField> hexValue;
    std::shared_ptr<AppKit::NSView> adjustColorBox;
    std::shared_ptr<ZNLStackView> stackView;
    std::shared_ptr<AppKit::NSSegmentedControl> segmentedControl;
    ZNLColorSpace colorSpace = ZNLColorSpace::rgba;
    std::weak_ptr<ZNLColorChooserDelegate> delegate;
    AppKit::NSColorRef originalColor;
    std::optional<ColorScheme> scheme;
    bool isNewColor = false;
    std::vector<AppKit::NSColorRef> paletteColors;
    std::shared_ptr<GeneratorWindowProducer> paletteWindow = GeneratorWindowProducer::make();
    // The buttons of the view, by action ("save:", "cancel:", "undo:", "moreButtonAction:").
    std::vector<std::shared_ptr<AppKit::NSButton>> buttons;
    std::shared_ptr<AppKit::NSButton> buttonForAction(const std::string& actionName) const;

    // Closes the window this editor is shown in (through its producer).
    void closeWindow();

    void loadView() override;
    void viewDidLoad() override;

    // Actions.
    void controlTextDidChange(AppKit::NSTextField& field) override;
    void controlTextDidEndEditing(AppKit::NSTextField&) override {}
    void handleColorSpaceChange();
    void undo();
    void handleSliderChange();
    void showPaletteGenerator() { openPaletteGenerator(); }
    void save() { saveColor(); }
    void moreButtonAction(AppKit::NSView* sender);
    void savePalette() { savePaletteFolder(); }
    void cancel();

    // ZNLShadeViewDelegate
    void shadeViewDoubleClicked(ZNLShadeView&, const AppKit::NSColorRef&) override {}
    void shadeViewClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) override;
    void reloadItem() override {}
    // ZNLPaletteGeneratorDelegate
    void paletteGeneratorDidClose(ZNLPaletteGenerator&) override;
    void paletteGeneratorDidApply(const std::vector<AppKit::NSColorRef>& colors, const std::string& name,
                                  ZNLPaletteGenerator& generator) override;
    // RCTabControlDelegate
    void schemeTabSelected(long tag) override;

    // The operations.
    void updateNameField();
    void refreshColorDisplay();
    void setColor(const AppKit::NSColorRef& newColor);
    void showRGB();
    void showHSB(bool updateSliders);
    void showHSL(bool updateSliders);
    void sliderChanged();
    // False when the text is not a colour (nothing changes then).
    bool applyHexField(const std::string& text);
    void saveColor();
    // The row as a new folder named after a random first name.
    bool savePaletteFolder();
    // A new folder of the colours; false (after the alert) when it cannot be made.
    bool savePaletteFolder(const std::vector<AppKit::NSColorRef>& colors, const std::string& name);
    void openPaletteGenerator();
    std::shared_ptr<EditorWindowProducer> openEditorForShade(const AppKit::NSColorRef& shade);
    void showColors(const std::vector<AppKit::NSColorRef>& colors);
    void showShades();
    void showScheme(ColorScheme scheme);
    void reloadRow();

private:
    void setTrack(AppKit::NSSlider& slider, bool rainbow, const AppKit::NSColorRef& min, const AppKit::NSColorRef& max);
    void markSlidersForDisplay();
    std::function<void()> closeOwnWindow_;
    // A second editor (opened from a swatch) closes its own window after save or cancel.
    bool closesOwnWindow_ = false;
};

// The three-digit hex form widened one digit per channel ("#abc" is "#aabbcc");
// other texts as they are.
std::string widenedHex(const std::string& text);
