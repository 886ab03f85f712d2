#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"

using namespace Foundation;
namespace fs = std::filesystem;

namespace {

// Each test gets a home of its own: tests of one binary may run in parallel.
class Defaults : public testing::Test {
protected:
    void SetUp() override {
        savedHome_ = std::getenv("VEXIL_HOME") ? std::getenv("VEXIL_HOME") : "";
        home_ = temporaryDirectory();
        setenv("VEXIL_HOME", home_.c_str(), 1);
        UserDefaults::resetStandard();
    }
    void TearDown() override {
        UserDefaults::resetStandard();
        setenv("VEXIL_HOME", savedHome_.c_str(), 1);
    }
    std::string plistPath() const { return preferencesDirectory() + "/com.tarnwick.vexil.plist"; }
    std::vector<std::string> filesBesidePlist() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(plistPath()).parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string home_, savedHome_;
};

struct Coercion {
    const char* name;
    Value stored;
    bool asBool;
    std::int64_t asInteger;
    double asDouble;
    std::optional<std::string> asString;
};

class DefaultsCoercion : public Defaults, public testing::WithParamInterface<Coercion> {};

TEST_P(DefaultsCoercion, TypedGetters) {
    const Coercion& c = GetParam();
    auto& defaults = UserDefaults::standard();
    defaults.set("key", c.stored);
    EXPECT_EQ(defaults.boolForKey("key"), c.asBool);
    EXPECT_EQ(defaults.integerForKey("key"), c.asInteger);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("key"), c.asDouble);
    EXPECT_EQ(defaults.stringForKey("key"), c.asString);
    EXPECT_EQ(defaults.dataForKey("key").has_value(), c.stored.isData());
    EXPECT_EQ(defaults.arrayForKey("key").has_value(), c.stored.isArray());
    EXPECT_EQ(defaults.dictionaryForKey("key").has_value(), c.stored.isDictionary());
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultsCoercion,
    testing::Values(Coercion{"absent", Value(), false, 0, 0.0, std::nullopt}, Coercion{"true", true, true, 1, 1.0, "1"},
                    Coercion{"false", false, false, 0, 0.0, "0"}, Coercion{"int12", 12, true, 12, 12.0, "12"},
                    Coercion{"int0", 0, false, 0, 0.0, "0"}, Coercion{"intNegative", -40, true, -40, -40.0, "-40"},
                    Coercion{"double", 3.75, true, 3, 3.75, "3.75"},
                    Coercion{"doubleNegative", -2.5, true, -2, -2.5, "-2.5"},
                    Coercion{"doubleTenth", 0.1, true, 0, 0.1, "0.1"}, Coercion{"text12", "12", true, 12, 12.0, "12"},
                    Coercion{"textYES", "YES", true, 0, 0.0, "YES"}, Coercion{"textTrue", "true", true, 0, 0.0, "true"},
                    Coercion{"textNo", "no", false, 0, 0.0, "no"}, Coercion{"textZero", "0", false, 0, 0.0, "0"},
                    Coercion{"textSignedPrefix", "  -7xyz", true, -7, -7.0, "  -7xyz"},
                    Coercion{"textDecimal", "3.5", true, 3, 3.5, "3.5"},
                    Coercion{"textHuge", "99999999999999999999", true, 9223372036854775807, 1e20,
                             "99999999999999999999"},
                    Coercion{"data", Data{1}, false, 0, 0.0, std::nullopt},
                    Coercion{"array", Array{1}, false, 0, 0.0, std::nullopt},
                    Coercion{"dictionary", Dictionary{{"a", 1}}, false, 0, 0.0, std::nullopt},
                    Coercion{"date", Date{1700000000}, false, 0, 0.0, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST_F(Defaults, RegistrationAnswersWhenTheStandardDomainHasNothing) {
    auto& defaults = UserDefaults::standard();
    defaults.registerDefaults({{"count", 1}, {"name", "x"}});
    EXPECT_EQ(defaults.integerForKey("count"), 1);
    defaults.set("count", 2);
    EXPECT_EQ(defaults.objectForKey("count"), Value(2));
    defaults.removeObjectForKey("count");
    EXPECT_EQ(defaults.objectForKey("count"), Value(1));
    defaults.set("other", true);
    EXPECT_EQ(defaults.persistentDomain(), (Dictionary{{"other", true}}));
    EXPECT_TRUE(defaults.objectForKey("missing").isNull());
}

TEST_F(Defaults, PersistsAcrossReopen) {
    Dictionary stored{{"zeta", 1},
                      {"alpha", "text"},
                      {"list", Array{1.5, false}},
                      {"blob", Data{9, 8}},
                      {"when", Date{1700000000.5}},
                      {"nested", Dictionary{{"b", 2}, {"a", 1}}}};
    {
        auto& defaults = UserDefaults::standard();
        for (const auto& [key, value] : stored) defaults.set(key, value);
        defaults.set("gone", 5);
        defaults.removeObjectForKey("gone");
        EXPECT_EQ(defaults.path(), plistPath());
    }
    UserDefaults::resetStandard();
    auto& reopened = UserDefaults::standard();
    EXPECT_EQ(reopened.persistentDomain(), stored);
    EXPECT_EQ(reopened.persistentDomain().keys(), stored.keys());
    EXPECT_EQ(filesBesidePlist(), std::vector<std::string>{"com.tarnwick.vexil.plist"});  // no temporary left

    std::ifstream in(plistPath(), std::ios::binary);
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto onDisk = valueFromPropertyList(bytes);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(*onDisk, Value(stored));
}

TEST_F(Defaults, CorruptFileIsMovedAsideAndTheProgramGoesOn) {
    for (const char* content : {"not a property list", "<plist><array></array></plist>"}) {
        UserDefaults::resetStandard();
        fs::remove_all(fs::path(plistPath()).parent_path());
        std::ofstream(plistPath()) << content;
        DiagnosticsCapture capture;
        auto& defaults = UserDefaults::standard();
        ASSERT_EQ(capture.systemLogLines().size(), 1u);
        std::string message = capture.systemLogLines()[0];
        EXPECT_TRUE(defaults.persistentDomain().empty());
        EXPECT_NE(message.find("corrupt"), std::string::npos) << message;
        auto names = filesBesidePlist();
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("com.tarnwick.vexil.plist.damaged-", 0), 0u) << names[0];
        EXPECT_NE(message.find(names[0]), std::string::npos) << message;

        defaults.set("after", 1);  // and the defaults work on
        UserDefaults::resetStandard();
        EXPECT_EQ(UserDefaults::standard().integerForKey("after"), 1);
    }
}

TEST_F(Defaults, ValuesAPropertyListCannotHoldAreRefused) {
    struct Thing : Object {
        std::string className() const override { return "Thing"; }
    };
    auto& defaults = UserDefaults::standard();
    DiagnosticsCapture capture;
    defaults.set("nulls", Array{Value()});
    defaults.set("object", std::make_shared<Thing>());
    ASSERT_EQ(capture.systemLogLines().size(), 2u);
    std::string message = capture.systemLogLines()[0];
    EXPECT_TRUE(defaults.objectForKey("nulls").isNull());
    EXPECT_TRUE(defaults.objectForKey("object").isNull());
    EXPECT_NE(message.find("nulls"), std::string::npos);
}

TEST_F(Defaults, ObserversSeeInitialAndNewValues) {
    auto& defaults = UserDefaults::standard();
    defaults.registerDefaults({{"size", 1}});
    std::vector<std::pair<Value, Value>> seen;
    auto id = defaults.addObserver(
        "size",
        [&](const Value& oldValue, const Value& newValue) {
            seen.emplace_back(oldValue, newValue);
            defaults.set("echo", newValue.isNull() ? Value(0) : newValue);  // the lock is not held
        },
        true);
    defaults.set("size", 2);
    defaults.set("size", 2);  // unchanged: no call
    defaults.set("unrelated", 1);
    defaults.removeObjectForKey("size");
    defaults.registerDefaults({{"size", 3}});
    defaults.removeObserver(id);
    defaults.set("size", 4);
    std::vector<std::pair<Value, Value>> expected{{1, 1}, {1, 2}, {2, 1}, {1, 3}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(defaults.integerForKey("echo"), 3);

    std::vector<std::pair<Value, Value>> quiet;
    defaults.addObserver("fresh", [&](const Value& o, const Value& n) { quiet.emplace_back(o, n); });
    defaults.set("fresh", "x");
    EXPECT_EQ(quiet, (std::vector<std::pair<Value, Value>>{{Value(), "x"}}));
}

TEST_F(Defaults, ExplicitPathAndSynchronize) {
    std::string path = temporaryDirectory() + "/sub/other.plist";
    {
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.synchronize());
        defaults.set("k", "v");
    }
    UserDefaults again(path);
    EXPECT_EQ(again.stringForKey("k"), "v");
}
