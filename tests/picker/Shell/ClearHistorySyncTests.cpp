// Clear history on one device reaches the other through the cloud, and the
// colours do not come back.

#include "Nimbus/SyncFixture.h"
#include "ShellTestSupport.h"

namespace shelltest {
namespace {

class ClearHistorySyncTest : public ShellTest {
protected:
    std::shared_ptr<CloudKit::CloudServer> server = std::make_shared<CloudKit::CloudServer>();
    std::unique_ptr<synctest::Device> other;

    void TearDown() override {
        if (other) other->quit();
        ui->drain();
        other.reset();
        ShellTest::TearDown();
    }

    std::size_t liveColours(ObjectStore::Realm& realm) {
        realm.refresh();
        return realm.objects<ZNLColorItem>().filter(ObjectStore::Predicate("isDeleted == false")).count();
    }
};

TEST_F(ClearHistorySyncTest, ClearedColoursLeaveTheOtherDeviceAndDoNotComeBack) {
    defaults().set("useCloudKit", true);
    CloudKit::CKContainer::setDefaultContainer(
        CloudKit::CKContainer::make(std::make_shared<CloudKit::InProcessTransport>(server, "user", "A")));
    launch();
    ASSERT_TRUE(app->syncEngine);
    ui->drain();
    for (const char* hex : {"#111111", "#222222", "#333333"}) app->didPickColor(colorWithHex(hex));
    ui->drain();

    other = std::make_unique<synctest::Device>("B", server);
    other->launch();
    ui->drain();
    ASSERT_EQ(liveColours(*other->realm), 3u);

    ui->chooseStatusMenuItem({"Clear History"});
    ui->drain();
    EXPECT_EQ(liveColours(*other->realm), 0u);

    // Another change on the other device makes this one fetch again; a whole
    // push from there brings nothing back either.
    other->addFolder("Brand");
    other->engine->pushAll();
    ui->drain();
    auto realm = ObjectStore::Realm::open();
    EXPECT_EQ(liveColours(*realm), 0u);
    EXPECT_TRUE(app->recentItems.empty());
    // Quitting removes the flagged colours the cloud has acknowledged.
    ui->app().terminationHandler = [] {};
    ui->app().terminate();
    ui->drain();
    realm->refresh();
    EXPECT_EQ(realm->objects<ZNLColorItem>().count(), 0u);
}

}  // namespace
}  // namespace shelltest
