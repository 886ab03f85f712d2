// Other processes: a writer killed mid-loop, and a writer whose commit an
// open instance picks up.

#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "StoreTestSupport.h"

namespace storetest {
namespace {

using ::testing::ElementsAre;

class DurabilityTest : public StoreTest {};

TEST_F(DurabilityTest, AProcessKilledDuringAWriteLoopLeavesEveryCommittedWriteReadable) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        try {
            auto realm = Realm::open(config);
            for (std::int32_t i = 0;; ++i) {
                // Two objects per transaction: half a transaction would show as an odd count.
                realm->beginWrite();
                realm->add(std::make_shared<Book>("even", 2 * i));
                realm->add(std::make_shared<Book>("odd", 2 * i + 1));
                realm->commitWrite();
                if (write(fds[1], &i, sizeof i) != sizeof i) _exit(3);
            }
        } catch (...) {
            _exit(2);
        }
    }
    close(fds[1]);
    std::int32_t reported = -1, n = 0;
    while (reported < 40 && read(fds[0], &n, sizeof n) == sizeof n) reported = n;
    ASSERT_EQ(reported, 40) << "the writer stopped early";
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    while (read(fds[0], &n, sizeof n) == sizeof n) reported = n;
    close(fds[0]);

    auto realm = open();
    auto books = realm->objects<Book>().sorted("rank");
    std::size_t count = books.count();
    EXPECT_EQ(count % 2, 0u);
    // Every reported commit is there; at most one more committed before its report.
    EXPECT_GE(count, 2u * static_cast<std::size_t>(reported + 1));
    EXPECT_LE(count, 2u * static_cast<std::size_t>(reported + 2));
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(books[i]->rank(), static_cast<std::int64_t>(i));
        ASSERT_EQ(books[i]->title(), i % 2 ? "odd" : "even");
    }
    // The store stays writable after the crash.
    addBooks(*realm, {{"after", 1000}});
    EXPECT_EQ(realm->objects<Book>().count(), count + 1);
}

TEST_F(DurabilityTest, CommitsOfAnotherProcessAreSeenOnRefreshAndNotified) {
    auto realm = open();
    auto books = addBooks(*realm, {{"mine", 1}, {"changed", 2}, {"removed", 3}});
    std::vector<AnyCollectionChange> changes;
    auto token = realm->objects("Book").observe([&](const AnyCollectionChange& c) { changes.push_back(c); });
    executor->drain();

    std::string changedId = books[1]->id(), removedId = books[2]->id();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto other = Realm::open(config);
            other->write([&] {
                other->object<Book>(changedId)->setTitle("theirs");
                other->remove(other->object<Book>(removedId));
                other->add(std::make_shared<Book>("new", 4));
            });
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    EXPECT_TRUE(realm->refresh());
    EXPECT_EQ(books[1]->title(), "theirs");
    EXPECT_TRUE(books[2]->isInvalidated());
    executor->drain();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_THAT(changes[1].deletions, ElementsAre(2));
    EXPECT_THAT(changes[1].insertions, ElementsAre(2));
    EXPECT_THAT(changes[1].modifications, ElementsAre(1));
    EXPECT_FALSE(realm->refresh());
}

}  // namespace
}  // namespace storetest
