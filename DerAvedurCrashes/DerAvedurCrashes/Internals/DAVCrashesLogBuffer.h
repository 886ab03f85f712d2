#pragma once
// The crash-time log buffer: the last logs handed to any channel that have
// not yet reached the log store, kept in memory in 60 slots so that a crash
// does not lose them. Each slot belongs to one file of the buffer directory
// ("<uuid>.davcrasheslogbuffer", with "<uuid>.targettoken" for the log's
// encrypted target token). At crash time, after the report is written, the
// crash reporter's callback writes every filled slot to its file with plain
// system calls; the next start reads the files back, enqueues their logs
// again and empties them.
//
// Slots are filled when a log is prepared and freed when its enqueueing is
// complete (stored, or dropped). With every slot filled, the oldest gives way.

#include <ucontext.h>

#include <csignal>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class DAVAbstractLog;
class DAVEncrypter;

class DAVCrashesLogBuffer {
public:
    static constexpr std::size_t kSlotCount = 60;
    static constexpr const char* kBufferExtension = "davcrasheslogbuffer";
    static constexpr const char* kTargetTokenExtension = "targettoken";

    // Gives the slots the buffer files of `directory` (a full path), creating
    // the missing ones. Files of an earlier run keep their content until
    // takeLogsFromLastRun reads them. The slots' logs are dropped.
    static void setup(const std::string& directory);

    // Keeps the archived log (and its first target token, encrypted).
    static void addLog(const DAVAbstractLog& log, const std::string& internalId, DAVEncrypter& encrypter);
    static void removeLog(const std::string& internalId);

    struct BufferedLog {
        std::shared_ptr<DAVAbstractLog> log;
        std::string targetToken;  // empty when none
    };
    // The logs the files of the set-up directory hold from the last run,
    // oldest file first; empties the files. Files that do not read back as a
    // log are emptied too.
    static std::vector<BufferedLog> takeLogsFromLastRun(DAVEncrypter& encrypter);

    // Forgets the logs in memory and empties every file.
    static void empty();

    // Writes every filled slot to its file. Async-signal-safe: no allocation,
    // no lock but each slot's own flag, waited on for a bounded time.
    static void writeAtCrash();
    // The crash reporter's callback (VXCrashReporterCallbacks::handleSignal).
    static void crashCallback(siginfo_t* info, ucontext_t* uap, void* context);

    // Slots that hold a log now (tests).
    static std::size_t bufferedCount();
};
