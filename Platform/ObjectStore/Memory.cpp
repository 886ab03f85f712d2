// Memory of the store: large blocks on huge pages, and the small blocks of
// handles and records.
//
// A first touch of fresh memory costs a page fault per 4 KB page, which for a
// store of many objects costs more than reading them. Large arrays are mapped
// on their own and offered huge pages; handles and records come from blocks
// carved out of such mappings and reused once freed.

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore::detail {

namespace {
// Under the address sanitizer every block comes from the heap, so that it
// sees each one (its leaks, its use after free) as it would without us.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif
}  // namespace

// --- large blocks ---------------------------------------------------------------

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// From this size a block is mapped on its own: one huge page costs less to
// fault in than the 4 KB pages of even a quarter of it.
constexpr std::size_t kMapFrom = std::size_t{256} << 10;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Blocks freed lately, kept mapped for the next request of the same size (a
// store opened again, a query run again), so their pages need no new faults.
class FreedBlocks {
public:
    std::mutex& mutex() { return mutex_; }
    void* take(std::size_t size) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = count_; i-- > 0;)
            if (blocks_[i].size == size) {
                void* memory = blocks_[i].memory;
                kept_ -= size;
                std::copy(blocks_ + i + 1, blocks_ + count_, blocks_ + i);
                --count_;
                return memory;
            }
        return nullptr;
    }
    // False when the block is not kept (the caller unmaps it).
    bool keep(void* memory, std::size_t size) {
        if (size > kKeep) return false;
        Block evicted[kBlocks];
        std::size_t nEvicted = 0;
        {
            std::lock_guard lock(mutex_);
            // The oldest go first to make room.
            while (count_ && (count_ == kBlocks || kept_ + size > kKeep)) {
                evicted[nEvicted++] = blocks_[0];
                kept_ -= blocks_[0].size;
                std::copy(blocks_ + 1, blocks_ + count_, blocks_);
                --count_;
            }
            blocks_[count_++] = {memory, size};
            kept_ += size;
        }
        for (std::size_t i = 0; i < nEvicted; ++i) munmap(evicted[i].memory, evicted[i].size);
        return true;
    }

private:
    static constexpr std::size_t kBlocks = 16;
    static constexpr std::size_t kKeep = std::size_t{32} << 20;
    struct Block {
        void* memory = nullptr;
        std::size_t size = 0;
    };
    std::mutex mutex_;
    Block blocks_[kBlocks];
    std::size_t count_ = 0, kept_ = 0;
};

FreedBlocks& freedBlocks() {
    static FreedBlocks* blocks = new FreedBlocks();
    return *blocks;
}
}  // namespace

void* allocateLarge(std::size_t bytes) {
    if (kHeapOnly || bytes < kMapFrom) return ::operator new(bytes);
    const std::size_t size = mappedSize(bytes);
    if (void* kept = freedBlocks().take(size)) return kept;
    // Mapped with room to start on a huge-page boundary; the rest is unmapped.
    void* base = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                      -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const auto aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(base, aligned - start);
    if (const std::size_t tail = start + size + kHugePage - (aligned + size))
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(memory, size, MADV_HUGEPAGE);
#endif
    return memory;
}

void freeLarge(void* memory, std::size_t bytes) {
    if (!memory) return;
    if (kHeapOnly || bytes < kMapFrom)
        ::operator delete(memory);
    else if (!freedBlocks().keep(memory, mappedSize(bytes)))
        munmap(memory, mappedSize(bytes));
}

void prefault(void* memory, std::size_t bytes) noexcept {
    // Only worth a call for more than a few pages.
    constexpr std::size_t kPage = 4096;
    if (!memory || bytes < 16 * kPage) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(memory) + kPage - 1) / kPage * kPage;
    const auto end = (reinterpret_cast<std::uintptr_t>(memory) + bytes) / kPage * kPage;
#ifdef MADV_POPULATE_WRITE
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
}

// --- small blocks -----------------------------------------------------------------

namespace {

constexpr std::size_t kStep = 8;
constexpr std::size_t kLargestSmall = 512;
constexpr std::size_t kClasses = kLargestSmall / kStep;
// Blocks a thread takes at once when it has none of a size.
constexpr std::size_t kBatch = 64;

struct FreeBlock {
    FreeBlock* next;
};

std::size_t classOf(std::size_t bytes) { return (bytes + kStep - 1) / kStep - 1; }

// Shared by every thread; never destroyed, so blocks freed while the process
// ends still have somewhere to go.
struct Shared {
    std::mutex mutex;
    FreeBlock* free[kClasses] = {};
    char* next = nullptr;
    std::size_t left = 0;

    // Blocks of a class: every freed one, else up to `batch` new ones.
    FreeBlock* take(std::size_t c, std::size_t batch) {
        std::lock_guard lock(mutex);
        if (FreeBlock* list = free[c]) {
            if (batch == 1) {
                free[c] = list->next;
                list->next = nullptr;
            } else {
                free[c] = nullptr;
            }
            return list;
        }
        const std::size_t size = (c + 1) * kStep;
        if (left < size) {
            next = static_cast<char*>(allocateLarge(kHugePage));
            left = kHugePage;
        }
        const std::size_t n = std::min(batch, left / size);
        FreeBlock* list = nullptr;
        for (std::size_t i = n; i-- > 0;) list = new (next + i * size) FreeBlock{list};
        next += n * size;
        left -= n * size;
        return list;
    }
    void give(std::size_t c, FreeBlock* first, FreeBlock* last) {
        std::lock_guard lock(mutex);
        last->next = free[c];
        free[c] = first;
    }
};

Shared& shared() {
    static Shared* s = new Shared();
    return *s;
}

// A child made by fork must not find a lock held by a thread it does not
// have: both locks are taken around a fork (in the order the code takes
// them: the shared blocks, then the freed ones).
[[maybe_unused]] const bool gForkSafe = [] {
    pthread_atfork(
        [] {
            shared().mutex.lock();
            freedBlocks().mutex().lock();
        },
        [] {
            freedBlocks().mutex().unlock();
            shared().mutex.unlock();
        },
        [] {
            freedBlocks().mutex().unlock();
            shared().mutex.unlock();
        });
    return true;
}();

// A thread's free blocks; handed to the shared lists when the thread ends.
struct ThreadBlocks {
    FreeBlock* free[kClasses] = {};
    ~ThreadBlocks();
};
thread_local bool tBlocksGone = false;
thread_local ThreadBlocks tBlocks;

ThreadBlocks::~ThreadBlocks() {
    tBlocksGone = true;
    for (std::size_t c = 0; c < kClasses; ++c) {
        FreeBlock* first = free[c];
        if (!first) continue;
        FreeBlock* last = first;
        while (last->next) last = last->next;
        shared().give(c, first, last);
        free[c] = nullptr;
    }
}

}  // namespace

void* allocateSmall(std::size_t bytes) {
    if (kHeapOnly || bytes == 0 || bytes > kLargestSmall) return ::operator new(bytes);
    const std::size_t c = classOf(bytes);
    if (tBlocksGone) return shared().take(c, 1);
    FreeBlock*& list = tBlocks.free[c];
    if (!list) list = shared().take(c, kBatch);
    FreeBlock* block = list;
    list = block->next;
    return block;
}

void freeSmall(void* memory, std::size_t bytes) noexcept {
    if (!memory) return;
    if (kHeapOnly || bytes == 0 || bytes > kLargestSmall) return ::operator delete(memory);
    const std::size_t c = classOf(bytes);
    auto* block = new (memory) FreeBlock{nullptr};
    if (tBlocksGone) return shared().give(c, block, block);
    block->next = tBlocks.free[c];
    tBlocks.free[c] = block;
}

}  // namespace ObjectStore::detail
