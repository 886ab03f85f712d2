#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

#include "Platform/Foundation/Diagnostics.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

struct LoggerState {
    std::mutex lock;
    DAVLogLevel level = DAVLogLevelAssert;
    // Shared so a call can run the handler outside the lock while another
    // thread replaces it.
    std::shared_ptr<const DAVLogHandler> handler;
    bool defaultHandler = true;
    std::atomic<bool> userDefined{false};
};

LoggerState& state() {
    static LoggerState* s = [] {
        auto* st = new LoggerState();
        st->handler = std::make_shared<const DAVLogHandler>(DAVLogger::defaultLogHandler());
        return st;
    }();
    return *s;
}

}  // namespace

DAVLogLevel DAVLogger::currentLogLevel() {
    LoggerState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.level;
}

void DAVLogger::setCurrentLogLevel(DAVLogLevel level) {
    LoggerState& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.level = level;
    }
    s.userDefined.store(true);
}

bool DAVLogger::isUserDefinedLogLevel() { return state().userDefined.load(); }

void DAVLogger::setIsUserDefinedLogLevel(bool userDefined) { state().userDefined.store(userDefined); }

DAVLogHandler DAVLogger::logHandler() {
    LoggerState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.handler ? *s.handler : DAVLogHandler();
}

void DAVLogger::setLogHandler(DAVLogHandler handler) {
    LoggerState& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.handler = handler ? std::make_shared<const DAVLogHandler>(std::move(handler)) : nullptr;
        s.defaultHandler = false;
    }
    s.userDefined.store(true);
}

void DAVLogger::logMessage(const DAVLogMessageProvider& message, DAVLogLevel level, const std::string& tag,
                           const char* file, const char* function, unsigned line) {
    LoggerState& s = state();
    std::shared_ptr<const DAVLogHandler> handler;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        handler = s.handler;
    }
    if (handler && *handler) (*handler)(message, level, tag, file, function, line);
}

const char* DAVLogger::levelName(DAVLogLevel level) {
    switch (level) {
        case DAVLogLevelVerbose:
            return "VERBOSE";
        case DAVLogLevelDebug:
            return "DEBUG";
        case DAVLogLevelInfo:
            return "INFO";
        case DAVLogLevelWarning:
            return "WARNING";
        case DAVLogLevelError:
            return "ERROR";
        case DAVLogLevelAssert:
            return "ASSERT";
        default:
            return nullptr;
    }
}

std::string DAVLogger::shortFunctionName(const char* function) {
    if (!function) return {};
    std::string text(function);
    // Only compiler signatures ("bool DAVX::save(int)") are shortened; texts
    // such as "+[DAVWrapperLogger DAVWrapperLog:tag:level:]" stay whole.
    std::size_t paren = text.find('(');
    if (paren == std::string::npos || text.find('[') == 0 || text.find("+[") == 0 || text.find("-[") == 0) return text;
    std::string head = text.substr(0, paren);
    // The name starts after the last blank that is not inside template brackets.
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        char c = head[i];
        if (c == '<')
            ++depth;
        else if (c == '>' && depth > 0)
            --depth;
        else if (c == ' ' && depth == 0)
            start = i + 1;
    }
    return head.substr(start);
}

const DAVLogHandler& DAVLogger::defaultLogHandler() {
    static const DAVLogHandler handler = [](const DAVLogMessageProvider& message, DAVLogLevel level,
                                            const std::string& tag, const char*, const char* function, unsigned line) {
        if (!message || level < currentLogLevel() || level == DAVLogLevelNone) return;
        const char* name = levelName(level);
        std::string text = message();
        Foundation::systemLog(Foundation::format("[%s] %s: %s/%u %s", tag.c_str(), name ? name : "(null)",
                                                 shortFunctionName(function).c_str(), line, text.c_str()));
    };
    return handler;
}

bool DAVLogger::defaultHandlerShows(DAVLogLevel level) {
    LoggerState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.defaultHandler && s.handler && level >= s.level && level != DAVLogLevelNone;
}

void DAVLogger::resetForTesting() {
    LoggerState& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.level = DAVLogLevelAssert;
        s.handler = std::make_shared<const DAVLogHandler>(defaultLogHandler());
        s.defaultHandler = true;
    }
    s.userDefined.store(false);
}

void DAVWrapperLogger::DAVWrapperLog(const DAVLogMessageProvider& message, const std::string& tag, DAVLogLevel level) {
    DAVLogger::logMessage(message, level, tag, __FILE__, "+[DAVWrapperLogger DAVWrapperLog:tag:level:]", 10);
}
