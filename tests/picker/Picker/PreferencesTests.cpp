// The preferences window and its General pane.

#include "picker/Shell/Preferences.h"

#include "Platform/Foundation/Bundle.h"
#include "picker/Shell/ShellTestSupport.h"
#include "picker/Shell/ZNLShortcutController.h"

using namespace AppKit;

namespace {

class PrefsDelegate : public shelltest::TestDelegate {
public:
    void showPreferences() override { AppDelegate::showPreferences(); }
};

class Preferences : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        app = makeAppDelegate<PrefsDelegate>();
        app->storePath = dir + "/default.realm";
        ui->launch(app);
    }
    void TearDown() override {
        ZNLShortcutController::shared().resetForTests();
        ShellTest::TearDown();
    }
    std::shared_ptr<ZNLSettingsViewController> pane() const {
        auto c = std::dynamic_pointer_cast<CCNPreferencesWindowController>(app->preferences);
        if (!c || c->preferencesViewControllers().size() != 1) return nullptr;
        return std::dynamic_pointer_cast<ZNLSettingsViewController>(c->preferencesViewControllers()[0]);
    }
};

TEST_F(Preferences, EachOpeningMakesANewWindowWithOneGeneralPane) {
    ui->chooseStatusMenuItem({"Preferences…"});
    auto first = app->preferences;
    auto firstPane = pane();
    ASSERT_TRUE(firstPane);
    EXPECT_EQ(firstPane->preferenceTitle(), "General");
    EXPECT_EQ(firstPane->preferenceIdentifier(), "ZNLSettingsViewController");
    EXPECT_FALSE(std::dynamic_pointer_cast<CCNPreferencesWindowController>(first)->centerToolbarItems());
    EXPECT_TRUE(first->window()->isVisible());
    ui->chooseStatusMenuItem({"Preferences…"});
    EXPECT_NE(app->preferences, first);
    EXPECT_NE(pane(), firstPane);
}

TEST_F(Preferences, TheTimeFieldStoresTheNumberButAlwaysShowsThree) {
    app->showPreferences();
    auto field = pane()->timeField.lock();
    EXPECT_EQ(field->stringValue(), "3.0");
    ui->typeIntoField(*field, "5");
    EXPECT_EQ(defaults().objectForKey("infoDisplayTime"), Foundation::Value(5.0));
    app->showPreferences();
    EXPECT_EQ(pane()->timeField.lock()->stringValue(), "3.0");
}

TEST_F(Preferences, TheCloudBoxDropsTheEngineAndMakesANewOne) {
    app->showPreferences();
    auto box = pane()->useCloudCheckBox;
    box->setState(NSControlStateValueOn);
    box->sendAction();
    EXPECT_TRUE(defaults().boolForKey("useCloudKit"));
    auto engine = app->syncEngine;
    ASSERT_TRUE(engine);
    box->setState(NSControlStateValueOff);
    box->sendAction();
    EXPECT_FALSE(app->syncEngine);
    EXPECT_EQ(defaults().objectForKey("useCloudKit"), Foundation::Value(false));
    box->setState(NSControlStateValueOn);
    box->sendAction();
    EXPECT_TRUE(app->syncEngine);
    EXPECT_NE(app->syncEngine, engine);
}

TEST_F(Preferences, OnlyTheOnStateCountsAsOn) {
    app->showPreferences();
    auto box = pane()->dismissLibraryCheckBox.lock();
    box->setState(NSControlStateValueOn);
    box->sendAction();
    EXPECT_TRUE(defaults().boolForKey("dismissLibraryOnClick"));
    box->setState(NSControlStateValueMixed);
    box->sendAction();
    EXPECT_EQ(defaults().objectForKey("dismissLibraryOnClick"), Foundation::Value(false));
}

TEST_F(Preferences, ARecordedShortcutRebindsAndRetitlesTheMenuItem) {
    app->showPreferences();
    auto recorder = pane()->libraryShortcutView.lock();
    EXPECT_EQ(recorder->shortcutText(), "Ctrl+Super+I");
    recorder->recordShortcut(37, NSEventModifierFlagOption | NSEventModifierFlagCommand);  // L
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(37, NSEventModifierFlagOption | NSEventModifierFlagCommand));
    EXPECT_EQ(app->libraryMenuItem.lock()->keyEquivalent, "l");
    recorder->clearShortcut();
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(37, NSEventModifierFlagOption | NSEventModifierFlagCommand));
}

}  // namespace

// Panes nothing opens: what they show and where their links go.
TEST_F(Preferences, TheAboutPaneShowsTheVersionAndOpensItsTwoPages) {
    auto about = std::make_shared<ZNLAboutViewController>();
    about->view();
    EXPECT_EQ(about->preferenceIdentifier(), "ZNLAboutViewController");
    EXPECT_EQ(about->preferenceTitle(), "About Vexil");
    EXPECT_TRUE(about->preferenceIcon());
    EXPECT_EQ(about->versionLabel.lock()->stringValue(),
              Foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString").asString());
    auto& sender = *about->versionLabel.lock();
    about->visitTovo(sender);
    about->visitProductPage(sender);
    EXPECT_EQ(ui->backend().openedURLs,
              (std::vector<std::string>{ZNLAboutViewController::tovoURL, ZNLAboutViewController::productPageURL}));

    RCCloudSettingsViewController cloud;
    EXPECT_EQ(cloud.preferenceIdentifier(), "RCCloudSettingsViewController");
    EXPECT_EQ(cloud.preferenceTitle(), "iCloud");
    EXPECT_TRUE(cloud.preferenceIcon());
}
