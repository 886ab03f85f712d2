#include "Platform/Foundation/SharedInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

namespace {

using Foundation::SharedInstance;

struct Counted {
    static inline std::atomic<int> made{0};
    Counted() { ++made; }
};

TEST(SharedInstance, ThreadsAskingAtOnceGetOneInstanceMadeOnce) {
    Counted::made = 0;
    SharedInstance<Counted> holder;
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<std::shared_ptr<Counted>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[i] = holder.get();
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(Counted::made.load(), 1);
    for (const auto& instance : seen) EXPECT_EQ(instance, seen[0]);
}

TEST(SharedInstance, ResetHandsBackTheOldInstanceAndTheNextCallMakesAFreshOne) {
    SharedInstance<int> holder;
    EXPECT_EQ(holder.reset(), nullptr);  // nothing made yet

    const std::shared_ptr<int> first = holder.get();
    *first = 7;
    EXPECT_EQ(holder.get(), first);
    const std::shared_ptr<int> forgotten = holder.reset();
    EXPECT_EQ(forgotten, first);

    const std::shared_ptr<int> second = holder.get();
    EXPECT_NE(second, first);
    EXPECT_EQ(*second, 0);
    EXPECT_EQ(*first, 7);  // an earlier holder keeps its instance
}

// Tearing one shared instance down may reach another, or the same holder.
struct ReachesBack {
    ~ReachesBack() { SharedInstance<ReachesBack>::process().get(); }
};

TEST(SharedInstance, TheOldInstanceGoesOutsideTheLockAndTheProcessHolderIsOnePerType) {
    SharedInstance<ReachesBack>& holder = SharedInstance<ReachesBack>::process();
    EXPECT_EQ(&holder, &SharedInstance<ReachesBack>::process());
    holder.get();
    holder.reset();  // would deadlock if released under the lock
    EXPECT_NE(holder.get(), nullptr);
}

}  // namespace
