#include "picker/Shell/Preferences.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Shell/AppDelegate.h"
#include "picker/Shell/ZNLShortcutController.h"

using namespace AppKit;

namespace {

Foundation::UserDefaults& defaults() { return Foundation::UserDefaults::standard(); }

}  // namespace

// --- recorder -----------------------------------------------------------------------------

void MASShortcutView::setAssociatedUserDefaultsKey(const std::string& key) {
    key_ = key;
    setNeedsDisplay();
}

std::string MASShortcutView::shortcutText() const {
    return key_.empty() ? std::string() : ZNLShortcutController::shortcutStringForKey(key_);
}

void MASShortcutView::recordShortcut(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    if (key_.empty()) return;
    if (auto data = MASShortcut::shortcutWithKeyCode(keyCode, modifiers)->archivedData()) defaults().set(key_, *data);
    setNeedsDisplay();
}

void MASShortcutView::clearShortcut() {
    if (key_.empty()) return;
    // An empty archive stands for "no shortcut" over the registered one.
    defaults().set(key_, Foundation::Data{});
    setNeedsDisplay();
}

void MASShortcutView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    const CGRect r = bounds();
    ctx.fillRoundedRect(r, 4.0, {1, 1, 1, 1});
    ctx.strokeRoundedRect(r, 4.0, {0.7, 0.7, 0.7, 1}, 1.0);
    const std::string text = shortcutText();
    CoreGraphics::FontSpec font;
    font.size = 12;
    ctx.drawText(text.empty() ? "Record Shortcut" : text,
                 CGRectMake(r.origin.x, r.origin.y + 4, r.size.width, r.size.height - 4), font,
                 text.empty() ? CoreGraphics::RGBA{0.55, 0.55, 0.55, 1} : CoreGraphics::RGBA{0, 0, 0, 1},
                 CoreGraphics::TextAlignment::Center);
}

// --- General pane -------------------------------------------------------------------------

NSImageRef ZNLSettingsViewController::preferenceIcon() const {
    auto image = NSImage::imageNamed(NSImageNamePreferencesGeneral);
    return image ? image : std::make_shared<NSImage>();
}

void ZNLSettingsViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 420, 260));
    std::weak_ptr<ZNLSettingsViewController> weak = std::static_pointer_cast<ZNLSettingsViewController>(self());
    auto send = [weak](void (ZNLSettingsViewController::*action)(NSControl&)) {
        return [weak, action](NSControl& sender) {
            if (auto me = weak.lock()) ((*me).*action)(sender);
        };
    };
    auto magnifier = NSView::make<MASShortcutView>(CGRectMake(200, 220, 180, 22));
    auto library = NSView::make<MASShortcutView>(CGRectMake(200, 190, 180, 22));
    auto time = NSTextField::textFieldWithString("");
    time->setFrame(CGRectMake(200, 160, 60, 22));
    auto dismiss = NSButton::checkboxWithTitle("Hide the library on a click elsewhere",
                                               send(&ZNLSettingsViewController::onDismissLibraryCheckbox));
    dismiss->setFrame(CGRectMake(20, 130, 380, 20));
    auto cloud =
        NSButton::checkboxWithTitle("Sync colours through iCloud", send(&ZNLSettingsViewController::useCloudKit));
    cloud->setFrame(CGRectMake(20, 100, 380, 20));
    auto clipboard = NSButton::checkboxWithTitle("Add colours copied in other apps",
                                                 send(&ZNLSettingsViewController::autoImportToClipboard));
    clipboard->setFrame(CGRectMake(20, 70, 380, 20));
    auto hex = NSButton::checkboxWithTitle("Hex with #", send(&ZNLSettingsViewController::changeHexCodeFormat));
    hex->setFrame(CGRectMake(20, 40, 380, 20));
    for (auto v : std::vector<std::shared_ptr<NSView>>{magnifier, library, time, dismiss, cloud, clipboard, hex})
        root->addSubview(v);
    // Each row's label at the left of its control.
    for (auto [text, y] : {std::pair{"Magnifier shortcut", 220.0}, std::pair{"Library shortcut", 190.0},
                           std::pair{"Notice time (seconds)", 160.0}}) {
        auto label = NSTextField::labelWithString(text);
        label->setFrame(CGRectMake(20, y, 170, 22));
        root->addSubview(label);
    }
    magnifierShortcutView = magnifier;
    libraryShortcutView = library;
    timeField = time;
    dismissLibraryCheckBox = dismiss;
    useCloudCheckBox = cloud;
    clipboardCheckBox = clipboard;
    hexCodeFormatCheckBox = hex;
    setView(root);
}

void ZNLSettingsViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    auto time = timeField.lock();
    auto dismiss = dismissLibraryCheckBox.lock();
    if (time)
        time->delegate =
            std::weak_ptr<NSTextFieldDelegate>(std::static_pointer_cast<ZNLSettingsViewController>(self()));
    if (dismiss)
        dismiss->setState(defaults().boolForKey("dismissLibraryOnClick") ? NSControlStateValueOn
                                                                         : NSControlStateValueOff);
    if (useCloudCheckBox)
        useCloudCheckBox->setState(defaults().boolForKey("useCloudKit") ? NSControlStateValueOn
                                                                        : NSControlStateValueOff);
    // The interface file's bindings of the clipboard and hex boxes.
    if (auto clip = clipboardCheckBox.lock())
        clip->setState(defaults().boolForKey("monitorClipboard") ? NSControlStateValueOn : NSControlStateValueOff);
    if (auto hex = hexCodeFormatCheckBox.lock())
        hex->setState(defaults().boolForKey("hexWithHashtag") ? NSControlStateValueOn : NSControlStateValueOff);
    // The notice shows for a fixed time, so the field shows it.
    if (time) time->setStringValue("3.0");
    if (auto v = magnifierShortcutView.lock()) v->setAssociatedUserDefaultsKey("magnifierShortcut");
    if (auto v = libraryShortcutView.lock()) v->setAssociatedUserDefaultsKey("libraryShortcut");
}

void ZNLSettingsViewController::onDismissLibraryCheckbox(NSControl&) {
    auto box = dismissLibraryCheckBox.lock();
    defaults().set("dismissLibraryOnClick", box && box->state() == NSControlStateValueOn);
}

void ZNLSettingsViewController::useCloudKit(NSControl& sender) {
    auto* button = dynamic_cast<NSButton*>(&sender);
    const bool on = button && button->state() == NSControlStateValueOn;
    defaults().set("useCloudKit", on);
    auto app = AppDelegate::shared();
    if (!app) return;
    if (on)
        app->setUpCloudKit();
    else
        app->syncEngine.reset();
}

void ZNLSettingsViewController::autoImportToClipboard(NSControl& sender) {
    // The box's binding: the key first, so the set-up sees the new value.
    if (auto* button = dynamic_cast<NSButton*>(&sender))
        defaults().set("monitorClipboard", button->state() == NSControlStateValueOn);
    if (auto app = AppDelegate::shared()) app->setUpClipboardMonitor();
}

void ZNLSettingsViewController::controlTextDidEndEditing(NSTextField& field) {
    if (auto time = timeField.lock(); time && time.get() == &field)
        defaults().set("infoDisplayTime", time->doubleValue());
}

// --- window -------------------------------------------------------------------------------

void CCNPreferencesWindowController::setPreferencesViewControllers(std::vector<std::shared_ptr<NSViewController>> c) {
    panes_ = std::move(c);
}

void CCNPreferencesWindowController::showPreferencesWindow() {
    if (panes_.empty()) return;
    if (!isWindowLoaded()) {
        auto w = NSWindow::windowWithContentViewController(panes_.front());
        w->setStyleMask(NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
        if (auto* pane = dynamic_cast<CCNPreferencesWindowControllerProtocol*>(panes_.front().get()))
            w->title = pane->preferenceTitle();
        setWindow(w);
        w->windowController = std::static_pointer_cast<NSWindowController>(shared_from_this());
        w->center();
    }
    showWindow(nullptr);
    if (auto w = window()) w->makeKeyAndOrderFront();
    NSApp().activateIgnoringOtherApps(true);
}

// --- panes nothing shows ----------------------------------------------------------------

// The maker's pages of its other products; the query names this program.
const char* const ZNLAboutViewController::tovoURL = "https://tarnwick.invalid/tovo?ref=vexil";
const char* const ZNLAboutViewController::productPageURL = "https://tarnwick.invalid/products?ref=vexil";

NSImageRef ZNLAboutViewController::preferenceIcon() const {
    auto image = NSImage::imageNamed("AppIcon");
    return image ? image : std::make_shared<NSImage>();
}

void ZNLAboutViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 420, 160));
    auto label = NSTextField::labelWithString("Vexil");
    label->setFrame(CGRectMake(20, 110, 380, 22));
    std::weak_ptr<ZNLAboutViewController> weak = std::static_pointer_cast<ZNLAboutViewController>(self());
    auto tovo = NSButton::buttonWithTitle("Tovo", [weak](NSControl& sender) {
        if (auto me = weak.lock()) me->visitTovo(sender);
    });
    tovo->setFrame(CGRectMake(20, 60, 180, 24));
    auto product = NSButton::buttonWithTitle("More from the maker", [weak](NSControl& sender) {
        if (auto me = weak.lock()) me->visitProductPage(sender);
    });
    product->setFrame(CGRectMake(220, 60, 180, 24));
    for (auto v : std::vector<std::shared_ptr<NSView>>{label, tovo, product}) root->addSubview(v);
    versionLabel = label;
    setView(root);
}

void ZNLAboutViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    const auto version = Foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (auto label = versionLabel.lock(); label && version.isString()) label->setStringValue(version.asString());
}

void ZNLAboutViewController::visitTovo(NSControl&) { NSWorkspace::sharedWorkspace().openURL(tovoURL); }
void ZNLAboutViewController::visitProductPage(NSControl&) { NSWorkspace::sharedWorkspace().openURL(productPageURL); }

NSImageRef RCCloudSettingsViewController::preferenceIcon() const {
    auto image = NSImage::imageNamed(NSImageNamePreferencesGeneral);
    return image ? image : std::make_shared<NSImage>();
}

void RCCloudSettingsViewController::loadView() { setView(NSView::make(CGRectMake(0, 0, 420, 160))); }
void FeedbackViewController::loadView() { setView(NSView::make(CGRectMake(0, 0, 420, 160))); }
