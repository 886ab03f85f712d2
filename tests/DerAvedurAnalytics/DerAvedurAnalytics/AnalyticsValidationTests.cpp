#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Validation/DAVAnalyticsValidation.h"
#include "Platform/Foundation/Text.h"

namespace {

using namespace DAVAnalyticsValidation;

std::string text(std::size_t n, char c = 'k') { return std::string(n, c); }

// One table for every rule: what goes in, what is kept, and the message.
TEST(AnalyticsValidation, NamesKeysValuesAndCountsAreCutAsTheServiceExpects) {
    struct Case {
        const char* what;
        std::optional<std::string> name;
        std::vector<std::pair<std::string, std::string>> properties;
        // Expectations: the name (nothing: the log is filtered), the kept pairs.
        std::optional<std::string> keptName;
        std::vector<std::pair<std::string, std::string>> kept;
        DAVLogLevel level;
        std::string message;  // empty: no message
    };
    const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units
    std::vector<std::pair<std::string, std::string>> twentyOne, twenty;
    for (int i = 0; i < 21; ++i) twentyOne.emplace_back("k" + std::to_string(i), "v");
    twenty.assign(twentyOne.begin(), twentyOne.begin() + 20);

    const std::vector<Case> cases = {
        {"name of 256", text(256, 'n'), {}, text(256, 'n'), {}, DAVLogLevelWarning, ""},
        {"name of 257",
         text(257, 'n'),
         {},
         text(256, 'n'),
         {},
         DAVLogLevelWarning,
         "event '" + text(257, 'n') + "' : name length cannot be longer than 256 characters. Name will be truncated."},
        {"empty name", std::string(), {}, std::nullopt, {}, DAVLogLevelError, "event name cannot be null or empty"},
        {"no name", std::nullopt, {}, std::nullopt, {}, DAVLogLevelError, "event name cannot be null or empty"},
        {"key of 125", "e", {{text(125), "v"}}, "e", {{text(125), "v"}}, DAVLogLevelWarning, ""},
        {"key of 126",
         "e",
         {{text(126), "v"}},
         "e",
         {{text(124), "v"}},
         DAVLogLevelWarning,
         "Typed property '" + text(126) +
             "': key length cannot exceed 125 characters. Property value will be truncated."},
        {"value of 125", "e", {{"k", text(125, 'v')}}, "e", {{"k", text(125, 'v')}}, DAVLogLevelWarning, ""},
        {"value of 126",
         "e",
         {{"k", text(126, 'v')}},
         "e",
         {{"k", text(124, 'v')}},
         DAVLogLevelWarning,
         "Typed property value length cannot exceed 125 characters. Property value will be truncated."},
        {"cut never splits a character",
         "e",
         {{"k", text(123, 'v') + smile + "x"}},
         "e",
         {{"k", text(123, 'v')}},
         DAVLogLevelWarning,
         "Typed property value length cannot exceed 125 characters. Property value will be truncated."},
        {"21 properties", "e", twentyOne, "e", twenty, DAVLogLevelWarning,
         "Typed properties cannot contain more than 20 items. Skipping other properties."},
        {"20 properties", "e", twenty, "e", twenty, DAVLogLevelWarning, ""},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DAVTest::MessageRecorder messages;
        DAVEventProperties input;
        for (const auto& [key, value] : c.properties) input.setString(value, key);
        auto validated = validateDerAvedurEventProperties(input);

        DAVEventLog log;
        log.name = c.name;
        EXPECT_EQ(validateLog(log), c.keptName.has_value());
        if (c.keptName) {
            EXPECT_EQ(log.name, c.keptName);
        }

        std::vector<std::pair<std::string, std::string>> kept;
        for (const auto& property : validated->properties())
            kept.emplace_back(property->name, static_cast<DAVStringTypedProperty&>(*property).value);
        EXPECT_EQ(kept, c.kept);

        if (c.message.empty()) {
            EXPECT_TRUE(messages.messages().empty()) << messages.messages().front().text;
        } else {
            EXPECT_EQ(messages.count(c.message), 1u);
            EXPECT_TRUE(messages.contains(c.level, c.message));
        }
    }
}

TEST(AnalyticsValidation, EveryPropertyKindIsCopiedWithItsValueAndACutKey) {
    DAVEventProperties input;
    input.setBool(true, text(126, 'b'));
    input.setInt64(-5, "long");
    input.setDouble(2.5, "double");
    input.setDate(Foundation::Date{3}, "date");
    auto validated = validateDerAvedurEventProperties(input)->properties();
    ASSERT_EQ(validated.size(), 4u);
    EXPECT_EQ(validated[0]->name, text(124, 'b'));
    EXPECT_TRUE(static_cast<DAVBooleanTypedProperty&>(*validated[0]).value);
    EXPECT_TRUE(validated[1]->isEqual(DAVLongTypedProperty("long", -5)));
    EXPECT_TRUE(validated[2]->isEqual(DAVDoubleTypedProperty("double", 2.5)));
    EXPECT_TRUE(validated[3]->isEqual(DAVDateTimeTypedProperty("date", Foundation::Date{3})));
    // A property of no known kind is skipped.
    EXPECT_EQ(validateDerAvedurTypedProperty(DAVTypedProperty()), nullptr);
}

TEST(AnalyticsValidation, PagePropertiesKeepTextAndDropEmptyKeysAndNulls) {
    DAVTest::MessageRecorder messages;
    Foundation::Dictionary input{{"a", "1"}, {"", "x"}, {"n", nullptr}, {"num", 3}, {"empty", ""}};
    Foundation::Dictionary kept = removeInvalidProperties(input);
    EXPECT_EQ(kept, (Foundation::Dictionary{{"a", "1"}, {"empty", ""}}));
    EXPECT_TRUE(
        messages.contains(DAVLogLevelWarning, "Event property contains an invalid key, dropping the property."));
    EXPECT_TRUE(messages.contains(DAVLogLevelWarning,
                                  "Event property contains an invalid value for key n, dropping the property."));
    EXPECT_EQ(messages.messages().size(), 2u);

    // The text properties of a named log follow the core's rules (cut to 125).
    DAVEventLog log;
    log.name = "Library";
    log.properties.set(text(126), "v");
    ASSERT_TRUE(validateLog(log));
    EXPECT_EQ(log.properties.keys(), std::vector<std::string>{text(125)});
}

}  // namespace
