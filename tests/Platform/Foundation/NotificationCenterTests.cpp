// NotificationCenter: names, sender filters, removal (also during a post),
// several threads adding, removing and posting at once.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Foundation/NotificationCenter.h"

namespace Foundation {
namespace {

struct FilterCase {
    const char* name;
    const char* observedName;
    int observedSender;  // 0: any sender, 1: sender A, 2: sender B
    const char* postedName;
    int postedSender;  // 0: none, 1: A, 2: B
    bool delivered;
};

class NotificationFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(NotificationFilter, DeliversByNameAndSender) {
    NotificationCenter center;
    auto a = std::make_shared<int>(1);
    auto b = std::make_shared<int>(2);
    auto sender = [&](int which) -> std::shared_ptr<void> { return which == 1 ? a : which == 2 ? b : nullptr; };
    const auto& c = GetParam();
    int calls = 0;
    center.addObserver(
        c.observedName, [&](const Notification&) { ++calls; }, sender(c.observedSender));
    center.post(c.postedName, sender(c.postedSender));
    EXPECT_EQ(calls, c.delivered ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NotificationFilter,
    ::testing::Values(FilterCase{"same_name_any_sender", "cloudKitNewData", 0, "cloudKitNewData", 1, true},
                      FilterCase{"same_name_no_sender", "cloudKitNewData", 0, "cloudKitNewData", 0, true},
                      FilterCase{"other_name", "cloudKitNewData", 0, "other", 0, false},
                      FilterCase{"matching_sender", "n", 1, "n", 1, true},
                      FilterCase{"other_sender", "n", 1, "n", 2, false},
                      FilterCase{"filter_but_no_sender", "n", 1, "n", 0, false},
                      FilterCase{"every_name", "", 0, "anything", 2, true},
                      FilterCase{"every_name_from_sender", "", 2, "anything", 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NotificationCenter, PassesObjectAndUserInfoInRegistrationOrder) {
    NotificationCenter center;
    auto sender = std::make_shared<std::string>("sender");
    std::vector<std::string> order;
    center.addObserver("n", [&](const Notification& n) {
        order.push_back("first");
        EXPECT_EQ(n.name, "n");
        EXPECT_EQ(n.object.get(), sender.get());
        EXPECT_EQ(n.userInfo["key"], Value("value"));
    });
    center.addObserver("n", [&](const Notification&) { order.push_back("second"); });
    center.post("n", sender, Dictionary{{"key", "value"}});
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
}

TEST(NotificationCenter, RemovedObserverIsNotCalled) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver("n", [&](const Notification&) { ++calls; });
    center.post("n");
    center.removeObserver(token);
    center.removeObserver(token);  // twice: harmless
    center.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ObserverRemovedDuringAPostIsNotCalledAfterwards) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::ObserverToken second = 0;
    center.addObserver("n", [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
    });
    second = center.addObserver("n", [&](const Notification&) { calls.push_back("second"); });
    center.post("n");
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "first"}));
}

TEST(NotificationCenter, BlocksMayAddRemoveAndPost) {
    NotificationCenter center;
    int nested = 0, added = 0;
    NotificationCenter::ObserverToken self = 0;
    self = center.addObserver("outer", [&](const Notification&) {
        center.addObserver("outer", [&](const Notification&) { ++added; });  // not part of this post
        center.post("inner");
        center.removeObserver(self);
    });
    center.addObserver("inner", [&](const Notification&) { ++nested; });
    center.post("outer");
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(added, 0);
    center.post("outer");
    EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, SenderFilterDoesNotKeepTheSenderAlive) {
    NotificationCenter center;
    auto sender = std::make_shared<int>(7);
    std::weak_ptr<int> weak = sender;
    center.addObserver(
        "n", [](const Notification&) {}, sender);
    sender.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(NotificationCenter, DefaultCenterIsShared) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    auto token = NotificationCenter::defaultCenter().addObserver("fnd.test", [&](const Notification&) { ++calls; });
    NotificationCenter::defaultCenter().post("fnd.test");
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterThreads, ObserversRunOnThePostersThread) {
    NotificationCenter center;
    std::atomic<bool> sameThread{true};
    std::atomic<int> calls{0};
    center.addObserver("n", [&](const Notification& n) {
        auto poster = std::static_pointer_cast<std::thread::id>(n.object);
        if (*poster != std::this_thread::get_id()) sameThread = false;
        ++calls;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            auto id = std::make_shared<std::thread::id>(std::this_thread::get_id());
            for (int i = 0; i < 100; ++i) center.post("n", id);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(sameThread.load());
    EXPECT_EQ(calls.load(), 400);
}

TEST(NotificationCenterThreads, AddRemoveAndPostConcurrently) {
    NotificationCenter center;
    std::atomic<int> steady{0};
    auto token = center.addObserver("n", [&](const Notification&) { ++steady; });
    std::atomic<bool> stop{false};
    std::vector<std::thread> churners;
    for (int t = 0; t < 3; ++t) {
        churners.emplace_back([&] {
            std::atomic<int> calls{0};
            while (!stop) {
                auto own = center.addObserver("n", [&](const Notification&) {
                    ++calls;
                    center.post("unobserved");  // re-entrant posting from a block
                });
                center.removeObserver(own);
            }
        });
    }
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) center.post("n");
        });
    }
    for (auto& p : posters) p.join();
    stop = true;
    for (auto& c : churners) c.join();
    EXPECT_EQ(steady.load(), 6000);
    center.removeObserver(token);
    center.post("n");
    EXPECT_EQ(steady.load(), 6000);
}

TEST(NotificationCenterThreads, RemovalOnAnotherThreadStopsLaterCalls) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    auto token = center.addObserver("n", [&](const Notification&) { ++calls; });
    std::thread remover([&] { center.removeObserver(token); });
    remover.join();
    center.post("n");
    EXPECT_EQ(calls.load(), 0);
}

}  // namespace
}  // namespace Foundation
