#pragma once
// The application delegate on the interface harness: fresh user defaults and
// a fresh store file per test, a fixed computer name, sync off unless a test
// turns it on, and a trace of the launch steps in the order they ran.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSHost.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/CloudKit/Container.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Harness/Harness.h"
#include "Platform/ObjectStore/Realm.h"
#include "Platform/StoreKit/SKStoreReviewController.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Shell/AppDelegate.h"
#include "picker/Shell/MainInterface.h"

namespace shelltest {

class TestDelegate : public AppDelegate {
public:
    std::vector<std::string> trace;
    std::string storePath;
    std::vector<std::string> picks;  // hex of each colour handed to didPickColor

#define VEXIL_TRACE_STEP(name)  \
    void name() override {      \
        trace.push_back(#name); \
        AppDelegate::name();    \
    }
    VEXIL_TRACE_STEP(resetCloudSyncFlags)
    VEXIL_TRACE_STEP(registerSettingsDefaults)
    VEXIL_TRACE_STEP(becomeStatusMenuDelegate)
    VEXIL_TRACE_STEP(repairItemOwners)
    VEXIL_TRACE_STEP(registerBundleDefaults)
    VEXIL_TRACE_STEP(registerFixedDefaults)
    VEXIL_TRACE_STEP(startTelemetry)
    VEXIL_TRACE_STEP(createDefaultFolder)
    VEXIL_TRACE_STEP(setUpStatusItem)
    VEXIL_TRACE_STEP(setUpShortcuts)
    VEXIL_TRACE_STEP(buildFormatsMenu)
    VEXIL_TRACE_STEP(scheduleReadyNotice)
    VEXIL_TRACE_STEP(setUpClipboardMonitor)
    VEXIL_TRACE_STEP(setUpCloudKit)
    VEXIL_TRACE_STEP(observeStore)
#undef VEXIL_TRACE_STEP

    // The store file of the test instead of the application-support one.
    void configureLibraryStore() override {
        trace.push_back("configureLibraryStore");
        ::configureLibraryStore();
        auto c = ObjectStore::Configuration::defaultConfiguration();
        c.path = storePath;
        ObjectStore::Configuration::setDefaultConfiguration(c);
        checkLibraryStore();
    }
    void buildRecentItems(AppKit::NSMenu& menu) override {
        trace.push_back("buildRecentItems");
        AppDelegate::buildRecentItems(menu);
    }
    // The picker work's seams, recorded.
    std::vector<std::string> actions;
    void showMagnifier() override { actions.push_back("showMagnifier"); }
    void toggleLibrary() override { actions.push_back("toggleLibrary"); }
    void addNewColor() override { actions.push_back("addNewColor"); }
    void newPalette() override { actions.push_back("newPalette"); }
    void showPreferences() override { actions.push_back("showPreferences"); }
    void getFeedback() override { actions.push_back("getFeedback"); }
    void gotoCommunity() override { actions.push_back("gotoCommunity"); }

    void didPickColor(const AppKit::NSColorRef& color) override {
        picks.push_back(color ? hexRGB(*color) : "<none>");
        AppDelegate::didPickColor(color);
    }
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = Foundation::temporaryDirectory();
        std::error_code ec;
        std::filesystem::remove(Foundation::UserDefaults::standard().path(), ec);
        Foundation::UserDefaults::resetStandard();
        defaults().set("useCloudKit", false);
        AppKit::NSHost::setLocalizedName("Test Mac");
        StoreKit::SKStoreReviewController::resetForTests();
        ui = std::make_unique<Harness::UIHarness>();
    }

    void TearDown() override {
        app.reset();
        ui.reset();
        ZNLColorsLibrary::setRecentItemsRefresher(nullptr);
        CloudKit::CKContainer::setDefaultContainer(nullptr);
        AppKit::NSHost::resetLocalizedName();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static Foundation::UserDefaults& defaults() { return Foundation::UserDefaults::standard(); }

    void launch() {
        app = makeAppDelegate<TestDelegate>();
        app->storePath = dir + "/default.realm";
        ui->launch(app);
    }

    // A colour in "History" as a pick would add it, one second after the last.
    std::shared_ptr<ZNLColorItem> addToHistory(const std::string& hex) {
        ui->advance(1.0);
        return ZNLColorsLibrary::shared().addColor(hex, ZNLColorsLibrary::historyFolder());
    }

    std::shared_ptr<AppKit::NSMenu> menu() const { return app->statusMenu.lock(); }
    std::vector<std::string> menuTitles() const {
        std::vector<std::string> out;
        for (auto& item : menu()->itemArray()) out.push_back(item->isSeparatorItem() ? "-" : item->title);
        return out;
    }
    std::size_t countLines(const std::string& line) const {
        auto lines = ui->outputLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    static std::string clipboard() {
        return AppKit::NSPasteboard::generalPasteboard()
            ->stringForType(AppKit::NSPasteboardTypeString)
            .value_or("<none>");
    }
    AppKit::CGPoint statusOrigin() const { return app->statusItem->button()->window()->frame().origin; }

    std::string dir;
    std::unique_ptr<Harness::UIHarness> ui;
    std::shared_ptr<TestDelegate> app;
};

}  // namespace shelltest
