#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Foundation/Directories.h"

namespace {

using Opt = std::optional<std::string>;

TEST(UtilityStrings, ConfigurationStringSplitsIntoSecretAndToken) {
    struct Case {
        Opt input;
        Opt secret;
        Opt token;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"secret-1", "secret-1", std::nullopt},
        {"appsecret=secret-1;target=key-token", "secret-1", "key-token"},
        {"target=key-token;appsecret=secret-1", "secret-1", "key-token"},
        {"target=key-token", std::nullopt, "key-token"},
        {"appsecret=ios-secret;macos=mac-secret", "mac-secret", std::nullopt},
        {"macos=mac-secret;appsecret=ios-secret;target=t-1", "mac-secret", "t-1"},
        {"first;second", "first", std::nullopt},
        {";;;", std::nullopt, std::nullopt},
        {";;appsecret=;second", "second", std::nullopt},
        {"target=;target=later", std::nullopt, std::nullopt},
        {"a;target=t1;target=t2", "a", "t1"},
    };
    for (const Case& c : cases) {
        const std::string label = c.input.value_or("<nil>");
        EXPECT_EQ(DAVUtility::appSecretFrom(c.input), c.secret) << label;
        EXPECT_EQ(DAVUtility::transmissionTargetTokenFrom(c.input), c.token) << label;
    }
}

TEST(UtilityStrings, TargetKeyAndIKeyComeFromTheTokenBeforeTheFirstDash) {
    const std::tuple<Opt, Opt, Opt> cases[] = {
        {"abc-def-ghi", "abc", "o:abc"},
        {"nodash", "nodash", "o:nodash"},
        {"-starts", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& [token, key, iKey] : cases) {
        EXPECT_EQ(DAVUtility::targetKeyFromTargetToken(token), key) << token.value_or("<nil>");
        EXPECT_EQ(DAVUtility::iKeyFromTargetToken(token), iKey) << token.value_or("<nil>");
    }
}

TEST(UtilityStrings, HashJsonAndMasking) {
    EXPECT_EQ(DAVUtility::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    EXPECT_EQ(DAVUtility::prettyPrintJson(std::nullopt), std::nullopt);
    std::string raw = "not json";
    EXPECT_EQ(DAVUtility::prettyPrintJson(Foundation::Data(raw.begin(), raw.end())), "not json");
    std::string json = R"({"b":1,"a":"x/y"})";
    EXPECT_EQ(DAVUtility::prettyPrintJson(Foundation::Data(json.begin(), json.end())),
              "{\n  \"b\": 1,\n  \"a\": \"x/y\"\n}");

    EXPECT_EQ(DAVUtility::obfuscateString("Token: ABC, token: def", "token: (\\w+)", "token: ***"),
              "token: ***, token: ***");
    EXPECT_EQ(DAVUtility::obfuscateString(std::nullopt, "x", "y"), std::nullopt);
    DAVTest::MessageRecorder recorder;
    EXPECT_EQ(DAVUtility::obfuscateString("text", "([unclosed", "y"), std::nullopt);
    EXPECT_TRUE(
        recorder.containsPrefix(DAVLogLevelError, "Couldn't create regular expression with pattern\"([unclosed\": "));
}

TEST(UtilityDates, IsoTextsAreUtcWithMilliseconds) {
    Foundation::Date date{1700000000.123};
    EXPECT_EQ(DAVUtility::dateToISO8601(date), "2023-11-14T22:13:20.123Z");
    auto back = DAVUtility::dateFromISO8601("2023-11-14T22:13:20.123Z");
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->secondsSince1970, 1700000000.123, 1e-6);
    EXPECT_EQ(DAVUtility::dateFromISO8601("yesterday"), std::nullopt);
    EXPECT_EQ(DAVUtility::currentAppEnvironment(), 99);
    EXPECT_EQ(DAVUtility::sdkName(), "deravedur.macos");
    EXPECT_EQ(DAVUtility::sdkVersion(), "4.1.1");
}

// --- property validation --------------------------------------------------

Foundation::Dictionary numbered(int count) {
    Foundation::Dictionary properties;
    for (int i = 0; i < count; ++i)
        properties.set("key" + std::to_string(i), Foundation::Value("v" + std::to_string(i)));
    return properties;
}

TEST(UtilityProperties, AtMostTwentyValidPairsAreKept) {
    DAVTest::MessageRecorder recorder;
    Foundation::Dictionary properties;
    properties.set("number", Foundation::Value(5));  // not text: skipped and not counted
    properties.set("", Foundation::Value("empty key"));
    for (const auto& [key, value] : numbered(21)) properties.set(key, value);

    Foundation::Dictionary result = DAVUtility::validateProperties(properties, "Color Picked", "Event");
    ASSERT_EQ(result.size(), 20u);
    EXPECT_EQ(result.keys().front(), "key0");
    EXPECT_EQ(result.keys().back(), "key19");
    EXPECT_FALSE(result.contains("number"));
    EXPECT_TRUE(
        recorder.contains(DAVLogLevelWarning,
                          "Event 'Color Picked' : a property key cannot be null or empty. Property will be skipped."));
    EXPECT_EQ(recorder.count(
                  "Event 'Color Picked' : properties cannot contain more than 20 items. Skipping other properties."),
              1u);

    recorder.clear();
    EXPECT_EQ(DAVUtility::validateProperties(numbered(20), "n", "Event").size(), 20u);
    EXPECT_TRUE(recorder.messages().empty());
}

TEST(UtilityProperties, LongKeysAndValuesAreCutToWholeCharacters) {
    DAVTest::MessageRecorder recorder;
    const std::string key126(126, 'k');
    const std::string key125(125, 'k');
    Foundation::Dictionary properties;
    properties.set(key126, Foundation::Value(std::string(126, 'v')));
    Foundation::Dictionary result = DAVUtility::validateProperties(properties, "Name", "Event");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result.keys().front(), key125);
    EXPECT_EQ(result[key125].asString(), std::string(125, 'v'));
    EXPECT_TRUE(
        recorder.contains(DAVLogLevelWarning, "Event 'Name' : property " + key126 +
                                                  " : property key length cannot be longer than 125 characters. "
                                                  "Property key will be truncated."));
    // The value warning names the key as already cut.
    EXPECT_TRUE(recorder.contains(DAVLogLevelWarning, "Event 'Name' : property '" + key125 +
                                                          "' : property value cannot be longer than 125 characters. "
                                                          "Property value will be truncated."));

    // Lengths are UTF-16 units: 124 letters and an emoji (two units) make 126;
    // the cut drops the whole emoji rather than half of it.
    const std::string emoji = "\xF0\x9F\x8E\xA8";  // U+1F3A8
    Foundation::Dictionary wide;
    wide.set("palette", Foundation::Value(std::string(124, 'a') + emoji));
    wide.set("exact", Foundation::Value(std::string(123, 'a') + emoji));  // 125 units: kept whole
    Foundation::Dictionary cut = DAVUtility::validateProperties(wide, "Name", "Event");
    EXPECT_EQ(cut["palette"].asString(), std::string(124, 'a'));
    EXPECT_EQ(cut["exact"].asString(), std::string(123, 'a') + emoji);
}

// --- files ----------------------------------------------------------------

TEST(UtilityFiles, TheSdkDirectoryLivesBelowApplicationSupport) {
    const std::string& directory = DAVUtility::sdkDirectory();
    EXPECT_EQ(directory, Foundation::applicationSupportDirectory() + "/com.vaveruvav.deravedur");
    if (const char* home = std::getenv("VEXIL_HOME")) {
        EXPECT_EQ(directory.rfind(home, 0), 0u);
    }
    EXPECT_EQ(DAVUtility::fullURLForPathComponent("a/b"), directory + "/a/b");
    EXPECT_EQ(DAVUtility::fullURLForPathComponent(std::nullopt), std::nullopt);
}

TEST(UtilityFiles, CreateOverwritesOnlyWhenForcedAndAlwaysAnswersTheUrl) {
    const std::string component = DAVTest::uniqueName("files") + "/nested/file.bin";
    const Foundation::Data first{1, 2, 3};
    const Foundation::Data second{9};
    auto url = DAVUtility::createFileAtPathComponent(component, first, false, false);
    ASSERT_TRUE(url);
    EXPECT_TRUE(DAVUtility::fileExistsForPathComponent(component));

    EXPECT_EQ(DAVUtility::createFileAtPathComponent(component, second, true, false), url);
    EXPECT_EQ(DAVUtility::loadDataForPathComponent(component), first);
    EXPECT_EQ(DAVUtility::createFileAtPathComponent(component, second, true, true), url);
    EXPECT_EQ(DAVUtility::loadDataForPathComponent(component), second);
    EXPECT_EQ(DAVUtility::createFileAtPathComponent(std::nullopt, first, false, false), std::nullopt);

    const std::string directory = component.substr(0, component.find('/')) + "/nested";
    auto entries = DAVUtility::contentsOfDirectory(directory);
    ASSERT_TRUE(entries);
    EXPECT_EQ(*entries, std::vector<std::string>{*url});
    EXPECT_EQ(DAVUtility::contentsOfDirectory(""), std::nullopt);

    DAVTest::MessageRecorder recorder;
    EXPECT_EQ(DAVUtility::contentsOfDirectory("missing-" + component), std::nullopt);
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelDebug, "Couldn't get files in the directory"));

    EXPECT_TRUE(DAVUtility::deleteItemForPathComponent(component));
    EXPECT_FALSE(DAVUtility::fileExistsForPathComponent(component));
    EXPECT_FALSE(DAVUtility::deleteItemForPathComponent(component));
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelDebug, "Couldn't remove item at "));
    EXPECT_EQ(DAVUtility::loadDataForPathComponent(component), std::nullopt);
}

TEST(UtilityFiles, DirectoriesAreCreatedWithTheirParents) {
    const std::string component = DAVTest::uniqueName("dirs") + "/a/b/c";
    auto url = DAVUtility::createDirectoryForPathComponent(component);
    ASSERT_TRUE(url);
    EXPECT_TRUE(std::filesystem::is_directory(*url));

    // A file in the way is a clear failure, not a crash.
    const std::string blocked = DAVTest::uniqueName("blocked");
    ASSERT_TRUE(DAVUtility::createFileAtPathComponent(blocked, Foundation::Data{1}, false, false));
    DAVTest::MessageRecorder recorder;
    EXPECT_EQ(DAVUtility::createDirectoryForPathComponent(blocked + "/sub"), std::nullopt);
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "Couldn't create directory at "));
}

}  // namespace
