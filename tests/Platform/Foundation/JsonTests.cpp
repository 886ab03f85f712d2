#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Platform/Foundation/Json.h"

using namespace Foundation;

namespace {

struct RoundTrip {
    const char* text;  // compact JSON that must come back unchanged
};

class JsonRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(JsonRoundTrip, TextComesBackUnchanged) {
    Error error;
    auto value = valueFromJSON(std::string_view(GetParam().text), &error);
    ASSERT_TRUE(value.has_value()) << error.description;
    EXPECT_EQ(jsonString(*value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, JsonRoundTrip,
                         testing::Values(RoundTrip{"null"}, RoundTrip{"true"}, RoundTrip{"12"},
                                         RoundTrip{"-9223372036854775808"}, RoundTrip{"9223372036854775807"},
                                         RoundTrip{"1.0"}, RoundTrip{"0.1"}, RoundTrip{"-2.5e-07"},
                                         RoundTrip{"\"text\\n\""}, RoundTrip{"[]"}, RoundTrip{"{}"},
                                         RoundTrip{R"({"z":1,"a":[true,false,null],"m":{"y":"t","b":1.5}})"},
                                         RoundTrip{R"([{"formats":[{"id":1,"name":"CSS Hex"}]}])"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace

// Escapes are read; text is written back as UTF-8.
TEST(Json, EscapesAreReadAndTextIsWrittenAsUTF8) {
    auto value = valueFromJSON(std::string_view(R"("h\u00e9llo\n")"));
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, Value("h\xc3\xa9llo\n"));
    EXPECT_EQ(jsonString(*value), "\"h\xc3\xa9llo\\n\"");
}

TEST(Json, NumbersKeepTheirKind) {
    struct Case {
        const char* text;
        Value expected;
    } cases[] = {
        {"12", Value(12)},
        {"-3", Value(-3)},
        {"12.0", Value(12.0)},
        {"1e3", Value(1000.0)},
        {"18446744073709551615", Value(18446744073709551615.0)},
    };
    for (const auto& c : cases) {
        auto value = valueFromJSON(std::string_view(c.text));
        ASSERT_TRUE(value) << c.text;
        EXPECT_EQ(*value, c.expected) << c.text;
        EXPECT_EQ(value->type(), c.expected.type()) << c.text;
    }
}

TEST(Json, DictionaryOrderIsKeptAndARepeatedKeyKeepsItsFirstPlace) {
    auto value = valueFromJSON(std::string_view(R"({"b":1,"a":2,"b":3})"));
    ASSERT_TRUE(value && value->isDictionary());
    EXPECT_EQ(value->asDictionary().keys(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ((*value)["b"], Value(3));
}

namespace {
class Point : public Object {
public:
    std::string className() const override { return "Point"; }
    Value valueForKey(const std::string& key) const override {
        if (key == "x") return 1;
        if (key == "y") return 2.5;
        return {};
    }
    std::vector<std::string> fieldNames() const override { return {"x", "y"}; }
};
}  // namespace

TEST(Json, WritingValuesJSONHasNoWordFor) {
    struct Case {
        Value value;
        const char* json;
    } cases[] = {
        {Value(Data{0, 1, 2, 0xff}), "\"AAEC/w==\""},
        {Value(Date{0}), "\"1970-01-01T00:00:00.000Z\""},
        {Value(Date{1781092800.125}), "\"2026-06-10T12:00:00.125Z\""},
        {Value(std::numeric_limits<double>::quiet_NaN()), "null"},
        {Value(std::numeric_limits<double>::infinity()), "null"},
        {Value(std::make_shared<Point>()), R"({"x":1,"y":2.5})"},
        {Value(std::shared_ptr<Object>()), "null"},
        {Value(std::string("bad \xff byte")), "\"bad \xef\xbf\xbd byte\""},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonString(c.value), c.json) << c.value.debugDescription();
}

TEST(Json, PrettyIndentsByTwoSpaces) {
    Value value(Dictionary{{"a", Array{1}}, {"b", Dictionary{}}});
    EXPECT_EQ(jsonString(value, true), "{\n  \"a\": [\n    1\n  ],\n  \"b\": {}\n}");
}

TEST(Json, MalformedTextGivesAnErrorAndNeverThrows) {
    std::string deep(100000, '[');
    const std::string cases[] = {"", "{", "[1,]", "{\"a\" 1}", "tru", "\"open", "{} x", "nan", "01", "[1]]", deep};
    for (const auto& text : cases) {
        Error error;
        std::optional<Value> value;
        EXPECT_NO_THROW(value = valueFromJSON(std::string_view(text), &error)) << text.substr(0, 20);
        EXPECT_FALSE(value.has_value()) << text.substr(0, 20);
        EXPECT_EQ(error.domain, kCocoaErrorDomain);
        EXPECT_EQ(error.code, kPropertyListReadCorruptError);
        EXPECT_FALSE(error.description.empty());
    }
    EXPECT_FALSE(valueFromJSON(Data{'{', '"', 'a'}).has_value());  // no error wanted: no crash either
}
