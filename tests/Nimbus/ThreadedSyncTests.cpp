// The two devices again, but with the production queues: each container's
// cloud queue is a thread of its own and the main run loop runs here, so the
// sanitizer sees cloud threads and the main thread share the defaults, the
// engines and the server.

#include <gtest/gtest.h>

#include "Nimbus/SyncFixture.h"

using namespace synctest;

namespace {

// Runs the main run loop until `done` holds (checked on the main thread).
bool runMainUntil(const std::function<bool()>& done, double timeoutSeconds = 30) {
    if (done()) return true;
    auto check = Foundation::Timer::scheduled(0.002, true, [&](Foundation::Timer&) {
        if (done()) Foundation::RunLoop::main().stop();
    });
    Foundation::RunLoop::main().runFor(timeoutSeconds);
    check->invalidate();
    return done();
}

}  // namespace

TEST(RealThreads, TwoDevicesSyncBothWays) {
    auto server = std::make_shared<CloudServer>();
    Device a("A", server), b("B", server);
    a.launch();
    b.launch();
    ASSERT_TRUE(runMainUntil([&] {
        return server->subscriptionIDs("user").size() == 1 && server->zoneNames("user").size() == 2 &&
               server->requestCount("registerForPushes") == 2 &&
               a.defaults->boolForKey(Nimbus::value(Nimbus::NimbusKey::subscriptionIsLocallyCachedKey)) &&
               b.defaults->boolForKey(Nimbus::value(Nimbus::NimbusKey::subscriptionIsLocallyCachedKey));
    }));

    auto folderA = a.addFolder("From A");
    for (int i = 0; i < 20; ++i) a.addColour("#0000" + std::string(i < 10 ? "0" : "") + std::to_string(i), folderA);
    auto folderB = b.addFolder("From B");
    for (int i = 0; i < 5; ++i) b.addColour("#ff000" + std::to_string(i), folderB);
    a.engine->pushAll();
    b.engine->pushAll();

    ASSERT_TRUE(runMainUntil([&] { return a.colourCount() == 25 && b.colourCount() == 25; }));
    auto mirrored = b.folder(folderA->id());
    ASSERT_TRUE(mirrored);
    EXPECT_EQ(mirrored->objects().count(), 20u);

    a.quit();
    b.quit();
}
