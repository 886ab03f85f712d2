#pragma once
// The preferences window (one toolbar-switched window of panes) and its
// General pane, which edits the user defaults the rest of the program reads.

#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSWindow.h"

// Records a shortcut into the user defaults under its key.
class MASShortcutView : public AppKit::NSView {
public:
    using NSView::NSView;
    void setAssociatedUserDefaultsKey(const std::string& key);
    const std::string& associatedUserDefaultsKey() const { return key_; }
    // What the view shows: the stored shortcut's text.
    std::string shortcutText() const;
    // The user recorded a shortcut (stored at once) or cleared it.
    void recordShortcut(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifiers);
    void clearShortcut();
    // A rounded field with the shortcut's text, or a prompt when there is none.
    void drawRect(AppKit::CGRect dirtyRect, CoreGraphics::DrawingContext& ctx) override;

private:
    std::string key_;
};

class CCNPreferencesWindowControllerProtocol {
public:
    virtual ~CCNPreferencesWindowControllerProtocol() = default;
    virtual std::string preferenceIdentifier() const = 0;
    virtual std::string preferenceTitle() const = 0;
    virtual AppKit::NSImageRef preferenceIcon() const = 0;
};

class ZNLSettingsViewController : public AppKit::NSViewController,
                                  public CCNPreferencesWindowControllerProtocol,
                                  public AppKit::NSTextFieldDelegate {
public:
    std::weak_ptr<MASShortcutView> magnifierShortcutView;
    std::weak_ptr<MASShortcutView> libraryShortcutView;
    std::weak_ptr<AppKit::NSTextField> timeField;
    std::weak_ptr<AppKit::NSButton> dismissLibraryCheckBox;
    std::weak_ptr<AppKit::NSButton> hexCodeFormatCheckBox;
    std::shared_ptr<AppKit::NSButton> useCloudCheckBox;
    std::weak_ptr<AppKit::NSButton> clipboardCheckBox;

    std::string preferenceIdentifier() const override { return "ZNLSettingsViewController"; }
    std::string preferenceTitle() const override { return "General"; }
    AppKit::NSImageRef preferenceIcon() const override;

    void loadView() override;
    void viewDidLoad() override;
    void onDismissLibraryCheckbox(AppKit::NSControl& sender);
    void useCloudKit(AppKit::NSControl& sender);
    void autoImportToClipboard(AppKit::NSControl& sender);
    void changeHexCodeFormat(AppKit::NSControl&) {}
    void controlTextDidEndEditing(AppKit::NSTextField& field) override;
};

// Panes defined beside General but shown by nothing: the window is given the
// General pane alone. Kept so a later window can list them.
class ZNLAboutViewController : public AppKit::NSViewController, public CCNPreferencesWindowControllerProtocol {
public:
    std::weak_ptr<AppKit::NSTextField> versionLabel;

    std::string preferenceIdentifier() const override { return "ZNLAboutViewController"; }
    std::string preferenceTitle() const override { return "About Vexil"; }
    AppKit::NSImageRef preferenceIcon() const override;

    void loadView() override;
    void viewDidLoad() override;
    void visitTovo(AppKit::NSControl& sender);
    void visitProductPage(AppKit::NSControl& sender);

    static const char* const tovoURL;
    static const char* const productPageURL;
};

class RCCloudSettingsViewController : public AppKit::NSViewController, public CCNPreferencesWindowControllerProtocol {
public:
    std::string preferenceIdentifier() const override { return "RCCloudSettingsViewController"; }
    std::string preferenceTitle() const override { return "iCloud"; }
    AppKit::NSImageRef preferenceIcon() const override;
    void loadView() override;
};

class FeedbackViewController : public AppKit::NSViewController {
public:
    void loadView() override;
};

class CCNPreferencesWindowController : public AppKit::NSWindowController {
public:
    CCNPreferencesWindowController() = default;
    void setCenterToolbarItems(bool center) { centerToolbarItems_ = center; }
    bool centerToolbarItems() const { return centerToolbarItems_; }
    void setPreferencesViewControllers(std::vector<std::shared_ptr<AppKit::NSViewController>> controllers);
    const std::vector<std::shared_ptr<AppKit::NSViewController>>& preferencesViewControllers() const { return panes_; }
    // Shows the window with the first pane.
    void showPreferencesWindow();

private:
    bool centerToolbarItems_ = true;
    std::vector<std::shared_ptr<AppKit::NSViewController>> panes_;
};
