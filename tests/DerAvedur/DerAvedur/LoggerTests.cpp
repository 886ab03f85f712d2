#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Diagnostics.h"

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { DAVLogger::resetForTesting(); }
    void TearDown() override { DAVLogger::resetForTesting(); }
};

TEST_F(LoggerTest, DefaultHandlerPrintsOnlyAtOrAboveTheLevelInTheLineFormat) {
    Foundation::DiagnosticsCapture capture;
    EXPECT_EQ(DAVLogger::currentLogLevel(), DAVLogLevelAssert);
    DAVLogError("DerAvedur", "not printed %d", 1);
    DAVLogAssert("DerAvedur", "printed %d", 2);
    DAVLogger::logMessage([] { return std::string("never"); }, DAVLogLevelNone, "DerAvedur", "f.cpp", "fn", 3);
    DAVLogger::setCurrentLogLevel(DAVLogLevelVerbose);
    DAVLogger::logMessage([] { return std::string("quiet"); }, DAVLogLevelNone, "DerAvedur", "f.cpp", "fn", 4);
    DAVLogger::logMessage([] { return std::string("hello"); }, DAVLogLevelVerbose, "DerAvedurAnalytics",
                          "/src/DAVAnalytics.cpp", "void DAVAnalytics::trackEvent(const std::string&)", 77);

    auto lines = capture.systemLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].rfind("[DerAvedur] ASSERT: ", 0) == 0) << lines[0];
    EXPECT_NE(lines[0].find("/"), std::string::npos);
    EXPECT_TRUE(lines[0].size() >= 10 && lines[0].substr(lines[0].size() - 10) == " printed 2") << lines[0];
    // The file is not printed; the function is, without its signature.
    EXPECT_EQ(lines[1], "[DerAvedurAnalytics] VERBOSE: DAVAnalytics::trackEvent/77 hello");
}

TEST_F(LoggerTest, AFilteredMessageIsNeverBuilt) {
    int built = 0;
    auto expensive = [&] {
        ++built;
        return std::string("text");
    };
    Foundation::DiagnosticsCapture capture;
    DAVLogger::setCurrentLogLevel(DAVLogLevelWarning);
    DAVLogger::logMessage(expensive, DAVLogLevelVerbose, "DerAvedur", "f", "fn", 1);
    DAVLogger::logMessage(expensive, DAVLogLevelInfo, "DerAvedur", "f", "fn", 2);
    DAVLogger::logMessage(expensive, DAVLogLevelNone, "DerAvedur", "f", "fn", 3);
    EXPECT_EQ(built, 0);
    DAVLogger::logMessage(expensive, DAVLogLevelError, "DerAvedur", "f", "fn", 4);
    EXPECT_EQ(built, 1);

    // The format arguments of the macros are evaluated only when printed too.
    int evaluated = 0;
    auto argument = [&] { return ++evaluated; };
    DAVLogDebug("DerAvedur", "%d", argument());
    EXPECT_EQ(evaluated, 0);
}

TEST_F(LoggerTest, HandlerAndLevelMarkTheLevelAsUserDefined) {
    EXPECT_FALSE(DAVLogger::isUserDefinedLogLevel());
    DAVLogger::setLogHandler(
        [](const DAVLogMessageProvider&, DAVLogLevel, const std::string&, const char*, const char*, unsigned) {});
    EXPECT_TRUE(DAVLogger::isUserDefinedLogLevel());
    EXPECT_EQ(DAVLogger::currentLogLevel(), DAVLogLevelAssert);

    DAVLogger::resetForTesting();
    DAVLogger::setCurrentLogLevel(DAVLogLevelDebug);
    EXPECT_TRUE(DAVLogger::isUserDefinedLogLevel());
    DAVLogger::setIsUserDefinedLogLevel(false);
    EXPECT_FALSE(DAVLogger::isUserDefinedLogLevel());
    EXPECT_EQ(DAVLogger::currentLogLevel(), DAVLogLevelDebug);
}

TEST_F(LoggerTest, AnInstalledHandlerReceivesEveryMessageWhateverTheLevel) {
    struct Call {
        DAVLogLevel level;
        std::string tag, text, function;
        unsigned line;
    };
    std::vector<Call> calls;
    DAVLogger::setLogHandler([&](const DAVLogMessageProvider& message, DAVLogLevel level, const std::string& tag,
                                 const char*, const char* function, unsigned line) {
        calls.push_back({level, tag, message(), function, line});
    });
    ASSERT_EQ(DAVLogger::currentLogLevel(), DAVLogLevelAssert);
    DAVLogVerbose("DerAvedur", "v%d", 1);
    DAVLogger::logMessage([] { return std::string("none"); }, DAVLogLevelNone, "T", "f", "fn", 5);
    DAVWrapperLogger::DAVWrapperLog([] { return std::string("from wrapper"); }, "Wrapper", DAVLogLevelInfo);

    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].level, DAVLogLevelVerbose);
    EXPECT_EQ(calls[0].text, "v1");
    EXPECT_EQ(calls[1].level, DAVLogLevelNone);
    EXPECT_EQ(calls[2].tag, "Wrapper");
    EXPECT_EQ(calls[2].function, "+[DAVWrapperLogger DAVWrapperLog:tag:level:]");
    EXPECT_EQ(calls[2].line, 10u);

    // No handler: nothing happens and nothing is built.
    DAVLogger::setLogHandler(nullptr);
    int built = 0;
    DAVLogger::logMessage([&] { return std::to_string(++built); }, DAVLogLevelAssert, "T", "f", "fn", 1);
    EXPECT_EQ(built, 0);
}

TEST_F(LoggerTest, FunctionNamesAreShortenedOnlyWhenTheyAreSignatures) {
    const std::pair<const char*, const char*> cases[] = {
        {"bool DAVLogDBStorage::saveLog(const std::shared_ptr<DAVLog>&, const std::string&, DAVFlags)",
         "DAVLogDBStorage::saveLog"},
        {"static void DAVUtility::addMigrationClasses(const std::map<std::string, std::string>&)",
         "DAVUtility::addMigrationClasses"},
        {"std::vector<std::shared_ptr<DAVLog> > DAVX::load(int)", "DAVX::load"},
        {"+[DAVWrapperLogger DAVWrapperLog:tag:level:]", "+[DAVWrapperLogger DAVWrapperLog:tag:level:]"},
        {"main", "main"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(DAVLogger::shortFunctionName(input), expected) << input;
    EXPECT_STREQ(DAVLogger::levelName(static_cast<DAVLogLevel>(42)), nullptr);
    EXPECT_STREQ(DAVLogger::levelName(DAVLogLevelWarning), "WARNING");
}

}  // namespace
