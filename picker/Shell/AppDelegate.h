#pragma once
// The application delegate: owner of the status item and its menu, the
// floating notice, the clipboard watcher, the cloud sync engine and the store
// observation. Launch runs its steps in a fixed order; each step is a
// virtual member so a test can record the order and replace a step.
//
// The picker work fills the seams marked "picker": the global shortcuts, the
// magnifier, the library window, the colour editor, the palettes and
// preferences windows and the web pages.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Nimbus/SyncEngine.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/ObjectStore/Results.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Shell/ARFloatingWindow.h"
#include "picker/Shell/CLPasteboard.h"
#include "picker/Picker/ZNLEventHanlder.h"
#include "Platform/AppKit/Animation.h"

enum class ZNLAnimationState { show, hide, idle };

// Registers the launch defaults the shell stores itself.
class ZNLSettings {
public:
    // "useCloudKit" is stored true when it has no value.
    static void registerDefaults();
};

class AppDelegate : public AppKit::NSApplicationDelegate,
                    public AppKit::NSMenuDelegate,
                    public CLPasteboardDelegate,
                    public ZNLMousePointerDelegate,
                    public AppKit::NSAnimationDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
public:
    AppDelegate() = default;
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The application's delegate when it is this class.
    static std::shared_ptr<AppDelegate> shared();

    // --- outlets (connected by the main interface) ---------------------------------------
    std::weak_ptr<AppKit::NSMenuItem> magnifierMenuItem;
    std::weak_ptr<AppKit::NSMenuItem> libraryMenuItem;
    std::weak_ptr<AppKit::NSMenuItem> formatsMenuItem;
    std::weak_ptr<AppKit::NSMenu> formatsMenu;
    std::weak_ptr<AppKit::NSMenu> tabBarMenu;
    std::weak_ptr<AppKit::NSMenu> statusMenu;
    // What the main interface made; kept as the interface's owner would.
    std::vector<std::shared_ptr<void>> topLevelObjects;

    // --- fields -------------------------------------------------------------------------
    AppKit::NSEvent::MonitorToken clickMonitor;
    ZNLAnimationState animationState = ZNLAnimationState::idle;
    std::shared_ptr<AppKit::NSStatusItem> statusItem;
    std::shared_ptr<AppKit::NSWindowController> windowController;
    std::shared_ptr<AppKit::NSWindow> window;
    std::shared_ptr<AppKit::NSWindow> settingsWindow;
    std::shared_ptr<AppKit::NSWindowController> preferences;
    std::shared_ptr<CLPasteboard> pasteboardObserver;
    bool ignoreLastClipboardItem = false;
    // The change count of the library window's own copy the flag is for.
    std::optional<long> ignoredChangeCount;
    // Called by the library window right after it copies a colour.
    void ignoreOwnCopy();
    std::shared_ptr<Nimbus::SyncEngine> syncEngine;
    bool isMenuVisible = false;
    ObjectStore::NotificationTokenRef token;
    std::shared_ptr<ARFloatingWindow> floatingWindow;
    std::vector<AppKit::NSMenuItemRef> recentItems;

    // --- application delegate -----------------------------------------------------------
    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void didReceiveRemoteNotification(const Foundation::Dictionary& userInfo) override;
    void didRegisterForRemoteNotificationsWithDeviceToken(const Foundation::Data&) override {}
    void didFailToRegisterForRemoteNotificationsWithError(const Foundation::Error&) override {}
    // The application was hidden or is about to be shown again: the
    // telemetry session tracker waits for these notifications.
    void applicationDidHide() override;
    void applicationWillUnhide() override;

    // "cloudKitNewData": the refresh, on the main thread whatever thread posted.
    void cloudKitDidUpdateData();

    // --- launch steps, in order -------------------------------------------------------
    virtual void resetCloudSyncFlags();
    virtual void registerSettingsDefaults();  // ZNLSettings.registerDefaults
    virtual void becomeStatusMenuDelegate();
    virtual void configureLibraryStore();  // also checks that the store opens
    virtual void repairItemOwners();
    virtual void registerBundleDefaults();
    virtual void registerFixedDefaults();
    virtual void startTelemetry();
    virtual void createDefaultFolder();
    virtual void setUpStatusItem();
    virtual void setUpShortcuts();  // picker
    virtual void buildRecentItems(AppKit::NSMenu& menu);
    virtual void buildFormatsMenu();
    virtual void scheduleReadyNotice();
    virtual void setUpClipboardMonitor();
    virtual void setUpCloudKit();
    virtual void observeStore();
    virtual void removeClickMonitor();

    // False when the library store could not be opened at launch: sync and
    // the store observation were skipped.
    bool isStoreAvailable() const { return storeAvailable_; }

    // --- floating notice ----------------------------------------------------------------
    void showFloatingColor(const std::string& text, const AppKit::NSColorRef& color, bool hideColor, double x,
                           double y);
    static constexpr double kNoticeTime = 3.0;

    // --- status menu --------------------------------------------------------------------
    void refreshRecentItems();
    void handleRecentItemClick(AppKit::NSMenuItem& sender);
    void clearHistory();
    void addFormatItem(const ColorFormat& format);
    void handleFormatChange(AppKit::NSMenuItem& sender);
    void menuWillOpen(AppKit::NSMenu& menu) override;
    void menuDidClose(AppKit::NSMenu& menu) override;

    // --- picked colours -----------------------------------------------------------------
    virtual void didPickColor(const AppKit::NSColorRef& color);
    void addClipboardColor(const std::string& text) override;

    // The magnifier's pick (forwards to didPickColor).
    void didPickColor(ZNLMousePointer& picker, const AppKit::NSColorRef& color) override;

    // --- status-menu actions (picker/Shell/MenuActions.cpp) -----------------------------
    virtual void showMagnifier();
    virtual void toggleLibrary();
    virtual void addNewColor();
    virtual void newPalette();
    virtual void showPreferences();
    virtual void getFeedback();
    virtual void gotoCommunity();
    virtual void quitItemPressed();
    // The library window's slide (0.25 s) and its end.
    void slideWindow(const std::shared_ptr<AppKit::NSWindow>& window, AppKit::CGRect start, AppKit::CGRect end);
    void animationDidEnd(AppKit::NSAnimation& animation) override;
    // The library window's rectangles on the main screen: along its bottom
    // edge, and that moved down by its own height. None without a screen.
    static std::optional<AppKit::CGRect> libraryShownRect();
    static std::optional<AppKit::CGRect> libraryHiddenRect();
    // The library window is on screen (it is kept, ordered out, while hidden).
    bool isLibraryShown() const { return window && window->isVisible(); }
    // The magnifier every opener uses.
    virtual std::shared_ptr<ZNLEventHanlder> screenPicker() { return ZNLEventHanlder::shared(); }
    // The colour editor's save: stores the colour in "History" with the name.
    // `closeEditor` closes the editor's window.
    void colorChooserDidSave(const AppKit::NSColorRef& color, const std::optional<std::string>& name,
                             const std::function<void()>& closeEditor);
    bool openLink(const std::string& url);
    // Shows a stored shortcut as the menu item's key equivalent.
    static void applyShortcut(const std::optional<std::string>& keyCode, AppKit::NSEventModifierFlags modifiers,
                              const std::shared_ptr<AppKit::NSMenuItem>& item);
    // A click in another program: dismisses the library window when asked to.
    void handleOutsideClick();
    static constexpr const char* kFeedbackURL = "https://vexil.app/vexil/feedback";
    static constexpr const char* kCommunityURL = "https://community.vexil.app/?ref=vexil";

    // The status item's button window origin, where notices are shown.
    std::optional<AppKit::CGPoint> statusItemOrigin() const;

protected:
    // Opens the configured store once: when it cannot be opened, one alert
    // says why and the steps that need the store are skipped.
    void checkLibraryStore();

private:
    bool storeAvailable_ = true;
    std::vector<Foundation::NotificationCenter::ObserverToken> newDataObservers_;
};
