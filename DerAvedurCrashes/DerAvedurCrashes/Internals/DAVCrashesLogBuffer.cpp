#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashesConstants.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"

namespace fs = std::filesystem;

namespace {

struct Slot {
    // Held while the slot changes and while the crash writer reads it.
    std::atomic<bool> busy{false};
    // Fixed at setup, read at crash time: no allocation there.
    char bufferPath[PATH_MAX] = {};
    char tokenPath[PATH_MAX] = {};
    std::vector<std::uint8_t> data;  // the archived log; empty: free
    std::string token;               // encrypted target token, or empty
    std::string internalId;
    double timestamp = 0;
};

Slot gSlots[DAVCrashesLogBuffer::kSlotCount];
std::string gDirectory;  // set by setup, under bufferLock

// Orders the normal-path changes among themselves; the crash writer never takes it.
std::mutex& bufferLock() {
    static std::mutex lock;
    return lock;
}

// Spins for the slot's flag; the crash writer gives up after a bounded wait
// (the holder may be the crashed thread itself).
bool acquire(Slot& slot, long maxSpins) {
    for (long i = 0; maxSpins < 0 || i < maxSpins; ++i) {
        bool expected = false;
        if (slot.busy.compare_exchange_weak(expected, true, std::memory_order_acquire)) return true;
    }
    return false;
}
void release(Slot& slot) { slot.busy.store(false, std::memory_order_release); }

void copyPath(char (&target)[PATH_MAX], const std::string& path) {
    std::memset(target, 0, sizeof(target));
    if (path.size() < sizeof(target)) std::memcpy(target, path.data(), path.size());
}

// Crash-time write: plain system calls only.
void writeBytes(const char* path, const void* bytes, std::size_t length) {
    if (path[0] == '\0') return;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    std::size_t written = 0;
    while (written < length) {
        ssize_t n = ::write(fd, p + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void truncateFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

std::string tokenPathFor(const std::string& bufferPath) {
    return fs::path(bufferPath).replace_extension(DAVCrashesLogBuffer::kTargetTokenExtension).string();
}

void clearSlot(Slot& slot) {
    std::vector<std::uint8_t>().swap(slot.data);
    slot.token.clear();
    slot.internalId.clear();
    slot.timestamp = 0;
}

}  // namespace

void DAVCrashesLogBuffer::setup(const std::string& directory) {
    std::lock_guard<std::mutex> guard(bufferLock());
    gDirectory = directory;
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == std::string(".") + kBufferExtension) files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    // Files beyond the slot count (from a build with more slots) stay for
    // takeLogsFromLastRun, which reads every file.
    while (files.size() < kSlotCount) {
        std::string path = directory + "/" + Foundation::makeUUIDString() + "." + kBufferExtension;
        truncateFile(path);
        files.push_back(path);
    }
    for (std::size_t i = 0; i < kSlotCount; ++i) {
        Slot& slot = gSlots[i];
        acquire(slot, -1);
        clearSlot(slot);
        copyPath(slot.bufferPath, files[i]);
        copyPath(slot.tokenPath, tokenPathFor(files[i]));
        release(slot);
    }
}

void DAVCrashesLogBuffer::addLog(const DAVAbstractLog& log, const std::string& internalId, DAVEncrypter& encrypter) {
    // Archiving and encryption happen before any slot is held.
    std::shared_ptr<const DAVAbstractLog> alias(std::shared_ptr<const DAVAbstractLog>(), &log);
    auto archived = DAVUtility::archiveKeyedData(Foundation::Value(std::const_pointer_cast<DAVAbstractLog>(alias)));
    if (!archived) return;
    std::string token;
    auto tokens = log.transmissionTargetTokens();
    if (!tokens.empty()) token = encrypter.encryptString(*tokens.begin()).value_or("");

    std::lock_guard<std::mutex> guard(bufferLock());
    Slot* target = nullptr;
    for (Slot& slot : gSlots) {
        if (slot.bufferPath[0] == '\0') continue;
        if (slot.data.empty()) {
            target = &slot;
            break;
        }
        if (!target || slot.timestamp < target->timestamp) target = &slot;
    }
    if (!target) return;  // not set up
    acquire(*target, -1);
    target->data.swap(*archived);
    target->token.swap(token);
    target->internalId = internalId;
    target->timestamp = Foundation::clock().now();
    release(*target);
}

void DAVCrashesLogBuffer::removeLog(const std::string& internalId) {
    std::lock_guard<std::mutex> guard(bufferLock());
    for (Slot& slot : gSlots) {
        if (slot.data.empty() || slot.internalId != internalId) continue;
        acquire(slot, -1);
        clearSlot(slot);
        release(slot);
        return;
    }
}

std::vector<DAVCrashesLogBuffer::BufferedLog> DAVCrashesLogBuffer::takeLogsFromLastRun(DAVEncrypter& encrypter) {
    std::lock_guard<std::mutex> guard(bufferLock());
    std::vector<BufferedLog> logs;
    std::vector<std::pair<fs::file_time_type, std::string>> files;
    std::error_code error;
    if (gDirectory.empty()) return logs;
    for (fs::directory_iterator it(gDirectory, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() != std::string(".") + kBufferExtension) continue;
        std::error_code sizeError;
        if (it->file_size(sizeError) == 0 || sizeError) continue;
        files.emplace_back(it->last_write_time(sizeError), it->path().string());
    }
    std::sort(files.begin(), files.end());
    for (const auto& [time, path] : files) {
        std::ifstream in(path, std::ios::binary);
        Foundation::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Foundation::Value root = DAVUtility::unarchiveKeyedData(bytes);
        std::shared_ptr<DAVAbstractLog> log =
            root.isObject() ? std::dynamic_pointer_cast<DAVAbstractLog>(root.asObject()) : nullptr;
        const std::string tokenPath = tokenPathFor(path);
        if (log) {
            BufferedLog buffered{log, {}};
            std::ifstream tokenIn(tokenPath, std::ios::binary);
            std::string encrypted((std::istreambuf_iterator<char>(tokenIn)), std::istreambuf_iterator<char>());
            if (!encrypted.empty()) buffered.targetToken = encrypter.decryptString(encrypted).value_or("");
            logs.push_back(std::move(buffered));
        } else {
            DAVLogError(kDAVCrashesLogTag, "Couldn't read the buffered log in %s; it is dropped.", path.c_str());
        }
        truncateFile(path);
        std::error_code removeError;
        fs::remove(tokenPath, removeError);
    }
    return logs;
}

void DAVCrashesLogBuffer::empty() {
    std::lock_guard<std::mutex> guard(bufferLock());
    for (Slot& slot : gSlots) {
        acquire(slot, -1);
        clearSlot(slot);
        release(slot);
    }
    std::error_code error;
    if (gDirectory.empty()) return;
    for (fs::directory_iterator it(gDirectory, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == std::string(".") + kBufferExtension) {
            truncateFile(it->path().string());
        } else if (it->path().extension() == std::string(".") + kTargetTokenExtension) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
        }
    }
}

void DAVCrashesLogBuffer::writeAtCrash() {
    for (Slot& slot : gSlots) {
        if (!acquire(slot, 1L << 20)) continue;
        if (!slot.data.empty()) {
            writeBytes(slot.bufferPath, slot.data.data(), slot.data.size());
            if (!slot.token.empty()) writeBytes(slot.tokenPath, slot.token.data(), slot.token.size());
        }
        release(slot);
    }
}

void DAVCrashesLogBuffer::crashCallback(siginfo_t*, ucontext_t*, void*) { writeAtCrash(); }

std::size_t DAVCrashesLogBuffer::bufferedCount() {
    std::lock_guard<std::mutex> guard(bufferLock());
    std::size_t count = 0;
    for (const Slot& slot : gSlots) count += !slot.data.empty();
    return count;
}
