// Helpers for the crash reporter's tests: running crash-time code in a child
// process, and a plain protobuf walker that checks a report's structure
// without the generated code.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace crashtest {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitized = true;
#else
constexpr bool kThreadSanitized = false;
#endif

// Sanitizers own the fault signals: code that takes a fault, or installs its
// own handler for one, is left to the plain build.
#define CRASHTEST_SKIP_WHEN_SANITIZED()                                                                   \
    do {                                                                                                  \
        if (crashtest::kSanitized) GTEST_SKIP() << "fault signals belong to the sanitizer in this build"; \
    } while (0)

// ThreadSanitizer also defers the delivery of every signal, which parking
// other threads relies on; AddressSanitizer leaves the parking signal alone.
#define CRASHTEST_SKIP_WHEN_THREAD_SANITIZED()                                                                     \
    do {                                                                                                           \
        if (crashtest::kThreadSanitized) GTEST_SKIP() << "signal delivery belongs to the sanitizer in this build"; \
    } while (0)

struct ChildResult {
    bool exited = false;
    int status = -1;     // exit code, or the signal that ended it
    std::string output;  // what the child reported
};

// Runs body in a forked child. body returns an empty text when all went well,
// else what went wrong; the child never returns into the test runner.
inline ChildResult runInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string message = body();
        size_t at = 0;
        while (at < message.size()) {
            ssize_t n = write(fds[1], message.data() + at, message.size() - at);
            if (n <= 0) break;
            at += (size_t)n;
        }
        _exit(message.empty() ? 0 : 1);
    }
    close(fds[1]);
    ChildResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) result.output.append(buffer, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = WTERMSIG(status);
    }
    return result;
}

inline std::string describe(const ChildResult& r) {
    std::ostringstream out;
    out << (r.exited ? "exit " : "signal ") << r.status << ": " << r.output;
    return out.str();
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string scratchPath(const std::string& name) {
    const char* home = getenv("VEXIL_HOME");
    std::string dir = home != nullptr ? home : "/tmp";
    std::string mk = "mkdir -p '" + dir + "'";
    if (system(mk.c_str()) != 0) return "/tmp/" + name;
    return dir + "/" + name + "." + std::to_string(getpid());
}

// One field of a protobuf message, as found on the wire.
struct PbField {
    uint32_t number = 0;
    uint32_t wire = 0;
    uint64_t varint = 0;            // wire types 0, 1, 5
    std::vector<uint8_t> payload;   // wire type 2
    std::vector<PbField> children;  // a nested message, when the schema says so
    std::string messageType;
};

// Which fields of which messages hold nested messages.
using PbSchema = std::map<std::string, std::map<uint32_t, std::string>>;

inline PbSchema crashReportSchema() {
    return {
        {"CrashReport",
         {{1, "SystemInfo"},
          {2, "ApplicationInfo"},
          {3, "Thread"},
          {4, "BinaryImage"},
          {5, "Exception"},
          {6, "Signal"},
          {7, "ProcessInfo"},
          {8, "MachineInfo"},
          {9, "ReportInfo"}}},
        {"MachineInfo", {{2, "Processor"}}},
        {"Thread", {{2, "StackFrame"}, {4, "RegisterValue"}}},
        {"StackFrame", {{6, "Symbol"}}},
        {"BinaryImage", {{5, "Processor"}}},
        {"Exception", {{3, "StackFrame"}}},
        {"Signal", {{4, "MachException"}}},
    };
}

// Parses a message that must fill [p, p+n) exactly; every nested message's
// length prefix must cover exactly its own fields.
inline bool walkMessage(const uint8_t* p, size_t n, const std::string& type, const PbSchema& schema,
                        std::vector<PbField>* out, std::string* error) {
    size_t at = 0;
    auto varint = [&](uint64_t* v) {
        *v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (at >= n) return false;
            uint8_t b = p[at++];
            *v |= (uint64_t)(b & 0x7f) << shift;
            if ((b & 0x80) == 0) return true;
        }
        return false;
    };
    while (at < n) {
        PbField field;
        uint64_t key;
        if (!varint(&key)) {
            *error = type + ": bad key";
            return false;
        }
        field.number = (uint32_t)(key >> 3);
        field.wire = (uint32_t)(key & 7);
        switch (field.wire) {
            case 0:
                if (!varint(&field.varint)) {
                    *error = type + ": bad varint";
                    return false;
                }
                break;
            case 1:
            case 5: {
                size_t len = field.wire == 1 ? 8 : 4;
                if (n - at < len) {
                    *error = type + ": truncated fixed field";
                    return false;
                }
                for (size_t i = 0; i < len; ++i) field.varint |= (uint64_t)p[at + i] << (8 * i);
                at += len;
                break;
            }
            case 2: {
                uint64_t len;
                if (!varint(&len) || len > n - at) {
                    *error = type + ": length prefix runs past its message";
                    return false;
                }
                field.payload.assign(p + at, p + at + len);
                at += len;
                auto message = schema.find(type);
                if (message != schema.end()) {
                    auto nested = message->second.find(field.number);
                    if (nested != message->second.end()) {
                        field.messageType = nested->second;
                        if (!walkMessage(field.payload.data(), field.payload.size(), nested->second, schema,
                                         &field.children, error))
                            return false;
                    }
                }
                break;
            }
            default:
                *error = type + ": unknown wire type";
                return false;
        }
        out->push_back(std::move(field));
    }
    return true;
}

inline std::string text(const PbField& f) { return std::string(f.payload.begin(), f.payload.end()); }

inline std::vector<const PbField*> fields(const std::vector<PbField>& message, uint32_t number) {
    std::vector<const PbField*> found;
    for (const auto& f : message)
        if (f.number == number) found.push_back(&f);
    return found;
}

}  // namespace crashtest
