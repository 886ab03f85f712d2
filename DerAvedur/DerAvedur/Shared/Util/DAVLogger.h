#pragma once
// The SDK's single logger. Every message goes through `DAVLogger::logMessage`
// as a callable that builds the text only when a handler decides to print it.

#include <functional>
#include <string>

#include "Platform/Foundation/Text.h"

enum DAVLogLevel : int {
    DAVLogLevelVerbose = 2,
    DAVLogLevelDebug = 3,
    DAVLogLevelInfo = 4,
    DAVLogLevelWarning = 5,
    DAVLogLevelError = 6,
    DAVLogLevelAssert = 7,
    DAVLogLevelNone = 99,
};

using DAVLogMessageProvider = std::function<std::string()>;
// Message, level, tag, source file, function, line.
using DAVLogHandler =
    std::function<void(const DAVLogMessageProvider& message, DAVLogLevel level, const std::string& tag,
                       const char* file, const char* function, unsigned line)>;

class DAVLogger {
public:
    static DAVLogLevel currentLogLevel();
    // Also marks the level as chosen by the user.
    static void setCurrentLogLevel(DAVLogLevel level);

    static bool isUserDefinedLogLevel();
    static void setIsUserDefinedLogLevel(bool userDefined);

    static DAVLogHandler logHandler();
    // Replaces the handler (nullptr silences the SDK) and marks the level as
    // chosen by the user.
    static void setLogHandler(DAVLogHandler handler);

    // The one entry of every log call; the level is the handler's business.
    static void logMessage(const DAVLogMessageProvider& message, DAVLogLevel level, const std::string& tag,
                           const char* file, const char* function, unsigned line);

    // The handler installed at start: prints messages at or above the
    // current level as "[tag] LEVEL: function/line message".
    static const DAVLogHandler& defaultLogHandler();
    // Whether a message of this level reaches standard error through the
    // default handler (still in place, and the level high enough).
    static bool defaultHandlerShows(DAVLogLevel level);
    // Printed name of a level, nullptr for an unknown value.
    static const char* levelName(DAVLogLevel level);
    // "Class::method" out of a compiler's function signature; other texts unchanged.
    static std::string shortFunctionName(const char* function);

    // Back to the initial state: level ASSERT, not user-defined, default handler.
    static void resetForTesting();
};

class DAVWrapperLogger {
public:
    static void DAVWrapperLog(const DAVLogMessageProvider& message, const std::string& tag, DAVLogLevel level);
};

// `fmt` is printf-style ("C" locale); the arguments are read only when the
// message is printed.
#define DAVLogMessage(level, tag, ...)                                                                                \
    DAVLogger::logMessage([&]() -> std::string { return Foundation::format(__VA_ARGS__); }, (level), (tag), __FILE__, \
                          __PRETTY_FUNCTION__, __LINE__)
#define DAVLogVerbose(tag, ...) DAVLogMessage(DAVLogLevelVerbose, tag, __VA_ARGS__)
#define DAVLogDebug(tag, ...) DAVLogMessage(DAVLogLevelDebug, tag, __VA_ARGS__)
#define DAVLogInfo(tag, ...) DAVLogMessage(DAVLogLevelInfo, tag, __VA_ARGS__)
#define DAVLogWarning(tag, ...) DAVLogMessage(DAVLogLevelWarning, tag, __VA_ARGS__)
#define DAVLogError(tag, ...) DAVLogMessage(DAVLogLevelError, tag, __VA_ARGS__)
#define DAVLogAssert(tag, ...) DAVLogMessage(DAVLogLevelAssert, tag, __VA_ARGS__)
