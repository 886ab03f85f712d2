#include "Platform/Foundation/Diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace Foundation {

struct DiagnosticsCapture::State {
    mutable std::mutex mutex;
    bool echo = false;
    std::vector<std::string> out;
    std::vector<std::string> log;
};

namespace {

enum class Output { Stdout, SystemLog };

struct Registry {
    std::mutex mutex;  // also keeps lines of different threads whole
    std::vector<std::shared_ptr<DiagnosticsCapture::State>> captures;
};

Registry& registry() {
    static auto* r = new Registry;  // immortal: diagnostics may come from threads at exit
    return *r;
}

void emit(Output output, const std::string& line) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    bool write = r.captures.empty();
    for (const auto& capture : r.captures) {
        std::lock_guard captureLock(capture->mutex);
        (output == Output::Stdout ? capture->out : capture->log).push_back(line);
        write = write || capture->echo;
    }
    if (!write) return;
    std::FILE* stream = output == Output::Stdout ? stdout : stderr;
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void printLine(const std::string& line) { emit(Output::Stdout, line); }

void systemLog(const std::string& line) { emit(Output::SystemLog, line); }

DiagnosticsCapture::DiagnosticsCapture(bool echo) : state_(std::make_shared<State>()) {
    state_->echo = echo;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.captures.push_back(state_);
}

DiagnosticsCapture::~DiagnosticsCapture() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.captures.erase(std::remove(r.captures.begin(), r.captures.end(), state_), r.captures.end());
}

std::vector<std::string> DiagnosticsCapture::stdoutLines() const {
    std::lock_guard lock(state_->mutex);
    return state_->out;
}

std::vector<std::string> DiagnosticsCapture::systemLogLines() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
}

void DiagnosticsCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->out.clear();
    state_->log.clear();
}

}  // namespace Foundation
