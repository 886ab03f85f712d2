// The global shortcuts: stored archives, binding, the menu items and the
// outside-click monitor.

#include "Platform/AppKit/HotKeys.h"
#include "picker/Shell/ShellTestSupport.h"
#include "picker/Shell/RecordingWindowServices.h"
#include "picker/Shell/WindowServices.h"
#include "picker/Shell/ZNLShortcutController.h"

using namespace AppKit;

namespace {

class ShortcutDelegate : public shelltest::TestDelegate {
public:
    void toggleLibrary() override { AppDelegate::toggleLibrary(); }
};

constexpr NSEventModifierFlags kCtrlCmd = NSEventModifierFlagControl | NSEventModifierFlagCommand;

class Shortcuts : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        shelltest::installRecordingWindowServices();
    }
    void TearDown() override {
        ZNLEventHanlder::shared()->close();
        ZNLShortcutController::shared().resetForTests();
        ShellTest::TearDown();
    }
    void start() {
        app = makeAppDelegate<ShortcutDelegate>();
        app->storePath = dir + "/default.realm";
        ui->launch(app);
    }
    static Foundation::Data archive(std::uint16_t code, NSEventModifierFlags flags) {
        return *MASShortcut::shortcutWithKeyCode(code, flags)->archivedData();
    }
};

TEST_F(Shortcuts, LaunchBindsOAndIWithControlCommandAndShowsThemOnTheMenu) {
    start();
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(31, kCtrlCmd));
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(34, kCtrlCmd));
    auto magnifier = app->magnifierMenuItem.lock();
    auto library = app->libraryMenuItem.lock();
    EXPECT_EQ(magnifier->keyEquivalent, "o");
    EXPECT_EQ(magnifier->keyEquivalentModifierMask, kCtrlCmd);
    EXPECT_EQ(library->keyEquivalent, "i");
    EXPECT_EQ(ZNLShortcutController::magnifierShortcutString(), "Ctrl+Super+O");
    ui->pressHotKey(31, kCtrlCmd);
    EXPECT_TRUE(ZNLEventHanlder::shared()->isOpen());
}

TEST_F(Shortcuts, SwitchingOffUnbindsAtOnceAndANewShortcutRebindsAndRetitles) {
    start();
    defaults().set("libraryShortcutEnabled", false);
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(34, kCtrlCmd));
    defaults().set("libraryShortcutEnabled", true);
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(34, kCtrlCmd));
    defaults().set("magnifierShortcut", archive(35, NSEventModifierFlagShift | NSEventModifierFlagCommand));
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(31, kCtrlCmd));
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(35, NSEventModifierFlagShift | NSEventModifierFlagCommand));
    EXPECT_EQ(app->magnifierMenuItem.lock()->keyEquivalent, "p");
    EXPECT_EQ(app->magnifierMenuItem.lock()->keyEquivalentModifierMask,
              NSEventModifierFlagShift | NSEventModifierFlagCommand);
}

TEST_F(Shortcuts, AShortcutSwitchedOffBeforeLaunchStaysUnboundButShown) {
    defaults().set("magnifierShortcutEnabled", false);
    start();
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(31, kCtrlCmd));
    EXPECT_EQ(app->magnifierMenuItem.lock()->keyEquivalent, "o");
}

TEST_F(Shortcuts, UndecodableDataBindsNothingAndKeepsTheKey) {
    defaults().set("libraryShortcut", Foundation::Data{'j', 'u', 'n', 'k'});
    start();
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(34, kCtrlCmd));
    EXPECT_TRUE(defaults().dataForKey("libraryShortcut").has_value());
    EXPECT_EQ(app->libraryMenuItem.lock()->keyEquivalentModifierMask, 0u);
    EXPECT_EQ(ZNLShortcutController::libraryShortcutString(), "");
}

TEST_F(Shortcuts, AGrabAnotherProgramHoldsIsReported) {
    ui->backend().holdByOtherProgram(31, kCtrlCmd);
    start();
    EXPECT_FALSE(HotKeyBinder::shared().isRegistered(31, kCtrlCmd));
    EXPECT_NE(MASShortcutBinder::shared().lastError("magnifierShortcut"), "");
    EXPECT_TRUE(HotKeyBinder::shared().isRegistered(34, kCtrlCmd));
}

TEST_F(Shortcuts, TheLibraryKeyTwiceWithinTheSlideGivesOneWindow) {
    start();
    ui->pressHotKey(34, kCtrlCmd);
    ui->advance(0.1);
    ui->pressHotKey(34, kCtrlCmd);
    ui->advance(0.3);
    EXPECT_EQ(shelltest::windowRequests().libraryWindows, 1);
    EXPECT_TRUE(app->window);
}

TEST_F(Shortcuts, OutsideClicksDismissTheLibraryOnlyWhenAsked) {
    start();
    defaults().set("dismissLibraryOnClick", false);  // the bundle's default is true
    app->toggleLibrary();
    ui->advance(0.3);
    ASSERT_TRUE(app->window);
    ui->click({700, 600});  // no window of ours there
    ui->advance(0.3);
    EXPECT_TRUE(app->isLibraryShown());
    defaults().set("dismissLibraryOnClick", true);
    ui->click({700, 600});
    ui->advance(0.3);
    EXPECT_FALSE(app->isLibraryShown());
    // A click while it is hidden does not bring it back.
    ui->click({700, 600});
    ui->advance(0.3);
    EXPECT_FALSE(app->isLibraryShown());
}

}  // namespace
