#include "Platform/Foundation/WeakList.h"

#include <gtest/gtest.h>

namespace {

struct Observer {
    int calls = 0;
};

TEST(WeakList, HoldsEachLiveEntryOnceAndLetsGoOfTheDead) {
    Foundation::WeakList<Observer> list;
    auto kept = std::make_shared<Observer>();
    list.add(kept);
    list.add(kept);
    list.add(nullptr);
    {
        auto gone = std::make_shared<Observer>();
        list.add(gone);
        EXPECT_EQ(list.snapshot().size(), 2u);
    }
    EXPECT_EQ(list.snapshot().size(), 1u);
    list.forEach([](Observer& o) { ++o.calls; });
    EXPECT_EQ(kept->calls, 1);
    list.remove(kept);
    EXPECT_TRUE(list.snapshot().empty());
}

TEST(WeakList, ACallbackMayChangeTheListDuringAWalk) {
    Foundation::WeakList<Observer> list;
    auto first = std::make_shared<Observer>();
    auto second = std::make_shared<Observer>();
    auto late = std::make_shared<Observer>();
    list.add(first);
    list.add(second);
    list.forEach([&](Observer& o) {
        ++o.calls;
        list.remove(second);
        list.add(late);
    });
    // The walk saw the entries as they were when it began.
    EXPECT_EQ(first->calls, 1);
    EXPECT_EQ(second->calls, 1);
    EXPECT_EQ(late->calls, 0);
    EXPECT_EQ(list.snapshot().size(), 2u);
}

}  // namespace
