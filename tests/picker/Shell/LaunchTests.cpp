// Launch: the order of the steps, the defaults, the ready notice, pushes, the
// refresh after launch and a store that cannot be opened.

#include <thread>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Nimbus/Keys.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "ShellTestSupport.h"

namespace shelltest {
namespace {

TEST_F(ShellTest, LaunchRunsItsStepsInOrder) {
    launch();
    EXPECT_EQ(app->trace,
              (std::vector<std::string>{"resetCloudSyncFlags", "registerSettingsDefaults", "becomeStatusMenuDelegate",
                                        "configureLibraryStore", "repairItemOwners", "registerBundleDefaults",
                                        "registerFixedDefaults", "startTelemetry", "createDefaultFolder",
                                        "setUpStatusItem", "setUpShortcuts", "buildRecentItems", "buildFormatsMenu",
                                        "scheduleReadyNotice", "setUpClipboardMonitor", "setUpCloudKit", "observeStore",
                                        // the store observation's first delivery refreshes the section
                                        "buildRecentItems"}));
    // What the steps leave behind.
    EXPECT_EQ(ui->statusItem(), app->statusItem);
    EXPECT_EQ(app->statusItem->menu, menu());
    EXPECT_EQ(menu()->delegate.lock(), app);
    EXPECT_TRUE(ZNLColorsLibrary::shared().folderNamed("Test Mac"));
    EXPECT_TRUE(app->token);
    EXPECT_FALSE(app->syncEngine);
}

TEST_F(ShellTest, LaunchClearsTheCloudFlagsAndRegistersWithoutOverwritingStoredChoices) {
    defaults().set("nimbus.keys.subscriptionIsLocallyCachedKey", true);
    defaults().set("ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey", true);
    defaults().set("ZNLColorItemnimbus.keys.hasCustomZoneCreatedKey", true);
    defaults().removeObjectForKey("useCloudKit");
    defaults().set("hexWithHashtag", false);
    CloudKit::CKContainer::setDefaultContainer(nullptr);
    launch();
    EXPECT_TRUE(defaults().objectForKey("nimbus.keys.subscriptionIsLocallyCachedKey").isNull());
    EXPECT_FALSE(defaults().boolForKey("ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey"));
    EXPECT_FALSE(defaults().boolForKey("ZNLColorItemnimbus.keys.hasCustomZoneCreatedKey"));
    // "useCloudKit" without a value becomes a stored true, so sync starts.
    EXPECT_TRUE(defaults().persistentDomain()["useCloudKit"].isBool());
    EXPECT_TRUE(defaults().boolForKey("useCloudKit"));
    EXPECT_TRUE(app->syncEngine);
    EXPECT_EQ(ui->app().registeredRemoteNotificationTypes(), 7u);
    // A stored false survives the registration of true; the others answer true.
    EXPECT_FALSE(defaults().boolForKey("hexWithHashtag"));
    EXPECT_TRUE(defaults().boolForKey("capitalizedHex"));
    EXPECT_TRUE(defaults().boolForKey("NSApplicationCrashOnExceptions"));
    EXPECT_TRUE(defaults().persistentDomain()["capitalizedHex"].isNull());
    // The bundle's defaults are registered too.
    EXPECT_FALSE(defaults().objectForKey("monitorClipboard").isNull());
}

TEST_F(ShellTest, StoredFalseForCloudSyncStartsNoEngineAndNoObserver) {
    launch();
    EXPECT_FALSE(app->syncEngine);
    EXPECT_EQ(ui->app().registeredRemoteNotificationTypes(), 0u);
    ui->clearOutput();
    Foundation::NotificationCenter::defaultCenter().post(Nimbus::name(Nimbus::Notifications::cloudKitNewData));
    ui->drain();
    EXPECT_EQ(countLines("Update menu"), 0u);
}

TEST_F(ShellTest, ReadyNoticeAppearsOneSecondAfterLaunchUnderTheStatusItem) {
    launch();
    ui->advance(0.999);
    EXPECT_FALSE(app->floatingWindow);
    ui->advance(0.001);
    ASSERT_TRUE(app->floatingWindow);
    auto& notice = *app->floatingWindow;
    EXPECT_TRUE(notice.isVisible());
    EXPECT_EQ(notice.infoView()->stringValue(), "Vexil is ready to use");
    EXPECT_TRUE(notice.colorView()->isHidden());
    // Under the item; the item sits at the right end of the bar, so the
    // notice is kept on the screen rather than centred on it.
    const auto origin = statusOrigin();
    const auto frame = notice.frame();
    EXPECT_DOUBLE_EQ(frame.origin.y, origin.y - 25.0);
    EXPECT_DOUBLE_EQ(frame.maxX(), 1440);
    EXPECT_LT(frame.origin.x, origin.x);
    ui->advance(0.25);  // the window animates to its alpha
    EXPECT_NEAR(notice.alphaValue(), 0.95, 1e-6);
}

TEST_F(ShellTest, ReadyNoticeIsSkippedWithoutAStatusItemWindow) {
    launch();
    app->statusItem.reset();
    ui->advance(1.0);
    EXPECT_FALSE(app->floatingWindow);
}

TEST_F(ShellTest, LaunchRefreshesTheRecentColoursExactlyOnce) {
    launch();
    ui->advance(10);
    EXPECT_EQ(countLines("Update menu"), 1u);
    EXPECT_EQ(countLines("Update menu done"), 1u);
    // Later changes to colours do not rebuild through the observation.
    ui->clearOutput();
    addToHistory("#112233");
    ui->drain();
    EXPECT_EQ(countLines("Update menu"), 0u);
}

TEST_F(ShellTest, PushesOfTheLibrarySubscriptionAreRepostedWithTheirUserInfo) {
    launch();
    std::vector<Foundation::Dictionary> reposted;
    auto token = Foundation::NotificationCenter::defaultCenter().addObserver(
        Nimbus::name(Nimbus::Notifications::cloudKitDataDidChangeRemotely),
        [&](const Foundation::Notification& n) { reposted.push_back(n.userInfo); });
    CloudKit::CKNotification ours;
    ours.subscriptionID = "private_changes";
    ours.notificationID = "n-1";
    CloudKit::CKNotification other = ours;
    other.subscriptionID = "someone_else";
    ui->deliverPush(other.remoteNotificationDictionary());
    ui->deliverPush(Foundation::Dictionary{{"aps", Foundation::Dictionary{{"alert", "hello"}}}});
    EXPECT_TRUE(reposted.empty());
    const auto dictionary = ours.remoteNotificationDictionary();
    ui->deliverPush(dictionary);
    ASSERT_EQ(reposted.size(), 1u);
    EXPECT_EQ(reposted[0], dictionary);
    Foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(ShellTest, NewDataFromAnotherThreadRefreshesOnTheMainQueue) {
    defaults().set("useCloudKit", true);
    launch();
    ui->advance(1);
    ui->clearOutput();
    std::thread cloud([] {
        Foundation::NotificationCenter::defaultCenter().post(Nimbus::name(Nimbus::Notifications::cloudKitNewData));
    });
    cloud.join();
    EXPECT_EQ(countLines("Update menu"), 0u);  // handed over, not run on the cloud thread
    ui->drain();
    EXPECT_EQ(countLines("Update menu"), 1u);
    EXPECT_EQ(countLines("Update menu done"), 1u);
}

TEST_F(ShellTest, AStoreThatCannotBeOpenedSkipsSyncAndObservationWithOneAlert) {
    defaults().set("useCloudKit", true);
    app = makeAppDelegate<TestDelegate>();
    app->storePath = dir + "/missing/default.realm";
    ui->launch(app);
    ui->advance(2);
    EXPECT_FALSE(app->isStoreAvailable());
    ASSERT_EQ(ui->alerts().shown().size(), 1u);
    EXPECT_NE(ui->alerts().shown()[0].messageText.find("colour library cannot be opened"), std::string::npos);
    EXPECT_GT(ui->alerts().shown()[0].messageText.size(),
              std::string("The colour library cannot be opened").size() + 60);
    EXPECT_FALSE(app->syncEngine);
    EXPECT_FALSE(app->token);
    // The rest of the application is there.
    EXPECT_TRUE(app->statusItem);
    EXPECT_TRUE(app->floatingWindow);
    EXPECT_EQ(menuTitles().size(), std::size(kStatusMenuTitles));
}

TEST_F(ShellTest, HideAndUnhideAreAnnouncedToTheTelemetry) {
    launch();
    std::vector<std::string> seen;
    auto token = Foundation::NotificationCenter::defaultCenter().addObserver(
        "", [&](const Foundation::Notification& n) { seen.push_back(n.name); });
    app->AppDelegate::startTelemetry();  // no secret in the bundle: only the state hook
    ui->app().hide();
    EXPECT_EQ(DAVUtility::applicationState(), 2);
    ui->app().unhide();
    EXPECT_EQ(DAVUtility::applicationState(), 0);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"NSApplicationDidHideNotification", "NSApplicationWillUnhideNotification"}));
    Foundation::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(ShellTest, QuitTerminatesAndRemovesTheClickMonitor) {
    launch();
    // Launch installed the outside-click monitor.
    EXPECT_EQ(AppKit::NSEvent::globalMonitorCount(), 1u);
    ui->app().terminationHandler = [] {};
    ui->chooseStatusMenuItem({"Quit Vexil"});
    EXPECT_TRUE(ui->app().isTerminated());
    EXPECT_EQ(AppKit::NSEvent::globalMonitorCount(), 0u);
}

}  // namespace
}  // namespace shelltest
