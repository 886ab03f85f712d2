#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstring>
#include <limits>

#include "Platform/Foundation/PropertyList.h"

using namespace Foundation;

namespace {

Value sample() {
    return Value(Dictionary{
        {"zebra", true},
        {"apple", Array{1, -1, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}},
        {"mango", Dictionary{{"real", 0.1}, {"text", "h\xc3\xa9llo \xe2\x9c\x93"}, {"empty", ""}}},
        {"bytes", Data{0, 255, 1}},
        {"none", Data{}},
        {"when", Date{1700000000}},
        {"no", false},
        {"list", Array{}},
    });
}

struct FormatCase {
    PropertyListFormat format;
    const char* name;
};

class PropertyListRoundTrip : public testing::TestWithParam<FormatCase> {};

TEST_P(PropertyListRoundTrip, EveryTypeComesBackWithItsOrder) {
    Value value = sample();
    Error error;
    Data bytes = propertyListData(value, GetParam().format, &error);
    ASSERT_FALSE(bytes.empty()) << error.description;
    PropertyListFormat detected{};
    auto back = valueFromPropertyList(bytes, &error, &detected);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(*back, value) << back->debugDescription();
    EXPECT_EQ(back->asDictionary().keys(), value.asDictionary().keys());
    EXPECT_EQ((*back)["apple"].asArray()[3].type(), Value::Type::Int);
    EXPECT_EQ(detected, GetParam().format);
}

TEST_P(PropertyListRoundTrip, ScalarRootsAndDoubles) {
    for (Value value : {Value(42), Value(-0.5), Value(1e300), Value("only text"), Value(Array{Array{Array{}}})}) {
        auto back = valueFromPropertyList(propertyListData(value, GetParam().format));
        ASSERT_TRUE(back) << value.debugDescription();
        EXPECT_EQ(*back, value);
    }
}

TEST_P(PropertyListRoundTrip, NullAndObjectsCannotBeWritten) {
    struct Thing : Object {
        std::string className() const override { return "Thing"; }
    };
    for (Value value : {Value(), Value(Array{1, Value()}), Value(Dictionary{{"o", std::make_shared<Thing>()}}),
                        Value(Date{-5e9}) /* before 1932 */}) {
        Error error;
        EXPECT_TRUE(propertyListData(value, GetParam().format, &error).empty()) << value.debugDescription();
        EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PropertyListRoundTrip,
                         testing::Values(FormatCase{PropertyListFormat::XML, "XML"},
                                         FormatCase{PropertyListFormat::Binary, "Binary"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST(PropertyList, BinaryDatesKeepMicrosecondsXMLWholeSeconds) {
    struct Case {
        double seconds;
    } cases[] = {{1700000000.5}, {1700000000.123456}, {946684800.25} /* before 2001 */, {978307200.0}};
    for (const auto& c : cases) {
        Value date(Date{c.seconds});
        auto binary = valueFromPropertyList(propertyListData(date, PropertyListFormat::Binary));
        ASSERT_TRUE(binary && binary->isDate());
        EXPECT_NEAR(binary->asDate().secondsSince1970, c.seconds, 1e-6);
        auto xml = valueFromPropertyList(propertyListData(date, PropertyListFormat::XML));
        ASSERT_TRUE(xml && xml->isDate());
        EXPECT_NEAR(xml->asDate().secondsSince1970, c.seconds, 1.0);
    }
}

TEST(PropertyList, XMLIsThePlatformsText) {
    Data bytes = propertyListData(Value(Dictionary{{"k", 1}}), PropertyListFormat::XML);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("<key>k</key>"), std::string::npos);
    EXPECT_NE(text.find("<integer>1</integer>"), std::string::npos);
}

TEST(PropertyList, UIDReadsAsCFUIDDictionary) {
    plist_t root = plist_new_array();
    plist_array_append_item(root, plist_new_uid(7));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    Data data(bytes, bytes + length);
    plist_to_bin_free(bytes);
    plist_free(root);
    auto value = valueFromPropertyList(data);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, Value(Array{Dictionary{{"CF$UID", 7}}}));
}

TEST(PropertyList, CorruptInputGivesAnError) {
    auto bytesOf = [](const char* text) { return Data(text, text + std::strlen(text)); };
    const Data cases[] = {
        Data{},
        bytesOf("garbage"),
        bytesOf("bplist00"),
        bytesOf("bplist00\x01\x02\x03\x04 more junk that is not a trailer......"),
        bytesOf("<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>"),
        bytesOf("{\"json\": true}"),
    };
    for (const auto& data : cases) {
        Error error;
        EXPECT_FALSE(valueFromPropertyList(data, &error).has_value()) << std::string(data.begin(), data.end());
        EXPECT_EQ(error.domain, kCocoaErrorDomain);
        EXPECT_EQ(error.code, kPropertyListReadCorruptError);
    }
}

TEST(PropertyList, TruncatedBinaryNeverCrashes) {
    Data full = propertyListData(sample(), PropertyListFormat::Binary);
    ASSERT_FALSE(full.empty());
    for (std::size_t length = 0; length < full.size(); ++length) {
        Error error;
        auto value = valueFromPropertyList(Data(full.begin(), full.begin() + static_cast<long>(length)), &error);
        EXPECT_FALSE(value.has_value()) << length;
        EXPECT_EQ(error.code, kPropertyListReadCorruptError) << length;
    }
}

TEST(PropertyList, DamagedBytesNeverCrash) {
    for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
        Data full = propertyListData(sample(), format);
        for (std::size_t i = 0; i < full.size(); ++i) {
            for (std::uint8_t flip : {0x01, 0x80, 0xff}) {
                Data damaged = full;
                damaged[i] ^= flip;
                Error error;
                auto value = valueFromPropertyList(damaged, &error);  // a value or an error, never a crash
                if (!value) {
                    EXPECT_EQ(error.code, kPropertyListReadCorruptError);
                }
            }
        }
        for (std::size_t length = 0; length < full.size(); length += 7)
            (void)valueFromPropertyList(Data(full.begin(), full.begin() + static_cast<long>(length)));
    }
}
