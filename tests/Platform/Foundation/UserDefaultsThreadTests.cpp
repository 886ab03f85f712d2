#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/UserDefaults.h"

using namespace Foundation;

TEST(DefaultsThreads, ConcurrentSettersAndGettersKeepEveryValue) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    std::string path = temporaryDirectory() + "/threads.plist";
    UserDefaults defaults(path);
    defaults.registerDefaults({{"shared", 0}});

    std::atomic<int> calls{0};
    std::atomic<bool> wrongThread{false};
    std::thread::id setter;
    std::mutex setterMutex;
    defaults.addObserver("shared", [&](const Value&, const Value& newValue) {
        ++calls;
        (void)newValue;
        (void)defaults.integerForKey("shared");  // reentrant reads are fine
    });

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string mine = "thread" + std::to_string(t);
            for (int i = 1; i <= kRounds; ++i) {
                defaults.set(mine, i);
                defaults.set("shared", t * 1000 + i);
                EXPECT_EQ(defaults.integerForKey(mine), i);
                (void)defaults.stringForKey("thread" + std::to_string((t + 1) % kThreads));
                (void)defaults.persistentDomain();
            }
            // An observer runs on the setter's thread.
            std::lock_guard<std::mutex> lock(setterMutex);
            auto id = defaults.addObserver(mine, [&](const Value&, const Value&) {
                if (std::this_thread::get_id() != setter) wrongThread = true;
            });
            setter = std::this_thread::get_id();
            defaults.set(mine, -1);
            defaults.removeObserver(id);
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_FALSE(wrongThread);
    EXPECT_GT(calls.load(), 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(defaults.integerForKey("thread" + std::to_string(t)), -1);
    ASSERT_TRUE(defaults.synchronize());
    UserDefaults reopened(path);
    EXPECT_EQ(reopened.persistentDomain(), defaults.persistentDomain());
}
