#include <gtest/gtest.h>

#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/PropertyList.h"

using namespace Foundation;

namespace {

// A colour swatch as archived today, and as an older release named it.
class Swatch : public Coding {
public:
    Swatch(std::string hex, std::int64_t index) : hex(std::move(hex)), index(index) {}
    std::string className() const override { return "Swatch"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encode("hex", hex);
        coder.encode("index", index);
        coder.encode("$class", "spoof");  // keys starting with "$" are escaped
    }
    static std::shared_ptr<Coding> decode(KeyedUnarchiver& coder) {
        auto hex = coder.decodeStringForKey("hex");
        if (!hex || !coder.containsValueForKey("index")) return nullptr;  // as a failing initialiser
        auto swatch = std::make_shared<Swatch>(*hex, coder.decodeIntegerForKey("index"));
        swatch->dollar = coder.decodeStringForKey("$class").value_or("");
        return swatch;
    }
    std::string hex;
    std::int64_t index = 0;
    std::string dollar;
};

class OldSwatch : public Swatch {
public:
    using Swatch::Swatch;
    std::string className() const override { return "MSSwatch"; }
};

class Palette : public Coding {
public:
    std::string className() const override { return "Palette"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encode("name", name);
        coder.encode("swatches", swatches);
        coder.encode("favourite", favourite);
        coder.encode("extras", extras);
        coder.encode("parent", parent);  // null: nothing written
    }
    static std::shared_ptr<Coding> decode(KeyedUnarchiver& coder) {
        auto palette = std::make_shared<Palette>();
        palette->name = coder.decodeStringForKey("name").value_or("");
        palette->swatches = coder.decodeObjectForKey("swatches");
        palette->favourite = coder.decodeObjectForKey("favourite");
        palette->extras = coder.decodeObjectForKey("extras");
        palette->parent = coder.decodeObjectForKey("parent");
        palette->hadParent = coder.containsValueForKey("parent");
        return palette;
    }
    std::string name;
    Value swatches, favourite, extras, parent;
    bool hadParent = true;
};

// A list that can hold itself.
class Node : public Coding {
public:
    std::string className() const override { return "Node"; }
    void encodeWithCoder(KeyedArchiver& coder) const override { coder.encode("next", next); }
    static std::shared_ptr<Coding> decode(KeyedUnarchiver& coder) {
        auto node = std::make_shared<Node>();
        node->next = coder.decodeObjectOfClass<Node>("next");
        return node;
    }
    std::shared_ptr<Node> next;
};

class NotCoding : public Object {
public:
    std::string className() const override { return "NotCoding"; }
};

class KeyedArchive : public testing::Test {
protected:
    static void SetUpTestSuite() {
        registerCodingClass("Swatch", &Swatch::decode);
        registerCodingClass("Palette", &Palette::decode);
        registerCodingClass("Node", &Node::decode);
    }
};

Data archive(const Value& root) {
    Error error;
    auto data = KeyedArchiver::archivedData(root, &error);
    EXPECT_TRUE(data) << error.description;
    return data.value_or(Data{});
}

Data plist(const Value& value) { return propertyListData(value, PropertyListFormat::Binary); }

Value wellFormed(Value top, Array objects) {
    return Value(
        Dictionary{{"$archiver", "VexilKeyedArchiver"}, {"$version", 1}, {"$top", top}, {"$objects", objects}});
}

}  // namespace

TEST_F(KeyedArchive, ObjectGraphRoundTrip) {
    auto red = std::make_shared<Swatch>("#FF0000", 0);
    auto palette = std::make_shared<Palette>();
    palette->name = "Warm";
    palette->swatches = Array{red, std::make_shared<Swatch>("#FFA500", 1)};
    palette->favourite = red;  // the same object twice
    palette->extras = Dictionary{{"when", Date{1700000000.5}}, {"raw", Data{1, 2}}, {"gap", Value()}, {"n", 2.5}};

    auto back = KeyedUnarchiver::unarchivedObject<Palette>(archive(palette));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, "Warm");
    ASSERT_EQ(back->swatches.asArray().size(), 2u);
    auto first = std::dynamic_pointer_cast<Swatch>(back->swatches.asArray()[0].asObject());
    auto second = std::dynamic_pointer_cast<Swatch>(back->swatches.asArray()[1].asObject());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->hex, "#FF0000");
    EXPECT_EQ(second->index, 1);
    EXPECT_EQ(first->dollar, "spoof");
    EXPECT_EQ(back->favourite.asObject(), back->swatches.asArray()[0].asObject());  // shared again
    EXPECT_EQ(back->extras, palette->extras);
    EXPECT_EQ(back->extras.asDictionary().keys(), (std::vector<std::string>{"when", "raw", "gap", "n"}));
    EXPECT_FALSE(back->hadParent);
}

TEST_F(KeyedArchive, PlainValuesAsRoot) {
    for (Value value : {Value(), Value(7), Value("text"), Value(Array{1, Value(), "x"}),
                        Value(Dictionary{{"$ref", 3}, {"$dict", "not markers"}})}) {
        Error error;
        auto back = KeyedUnarchiver::unarchivedValue(archive(value), &error);
        ASSERT_TRUE(back) << error.description;
        EXPECT_EQ(*back, value);
    }
}

TEST_F(KeyedArchive, RenamedClassDecodesThroughTheMap) {
    Data old = archive(std::make_shared<OldSwatch>("#00FF00", 4));
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedValue(old, &error));
    EXPECT_NE(error.description.find("MSSwatch"), std::string::npos);

    KeyedUnarchiver one(old);  // this unarchiver only
    one.setClassNameMapping("MSSwatch", "Swatch");
    auto value = one.decodeRoot();
    ASSERT_TRUE(value && value->isObject());
    EXPECT_EQ(std::dynamic_pointer_cast<Swatch>(value->asObject())->hex, "#00FF00");

    KeyedUnarchiver::setClassName("MSSwatch", "Swatch");  // process-wide
    auto swatch = KeyedUnarchiver::unarchivedObject<Swatch>(old);
    ASSERT_TRUE(swatch);
    EXPECT_EQ(swatch->index, 4);
    EXPECT_EQ(swatch->className(), "Swatch");
}

TEST_F(KeyedArchive, FailingFactoryGivesNullInsideAndAnErrorAtTheRoot) {
    class Incomplete : public Swatch {
    public:
        using Swatch::Swatch;
        void encodeWithCoder(KeyedArchiver& coder) const override { coder.encode("hex", hex); }  // no "index"
    };
    auto palette = std::make_shared<Palette>();
    palette->favourite = std::make_shared<Incomplete>("#123456", 0);
    auto back = KeyedUnarchiver::unarchivedObject<Palette>(archive(palette));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->favourite.isNull());

    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedValue(archive(std::make_shared<Incomplete>("#123456", 0)), &error));
    EXPECT_EQ(error.code, kCoderReadCorruptError);
}

TEST_F(KeyedArchive, RootOfAnotherClassIsRefused) {
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObject<Palette>(archive(std::make_shared<Swatch>("#000000", 0)), &error));
    EXPECT_EQ(error.code, kCoderReadCorruptError);
}

TEST_F(KeyedArchive, EncodingFailuresAreErrors) {
    Error error;
    EXPECT_FALSE(KeyedArchiver::archivedData(Array{std::make_shared<NotCoding>()}, &error));
    EXPECT_EQ(error.code, kCoderInvalidValueError);
    EXPECT_NE(error.description.find("NotCoding"), std::string::npos);
    EXPECT_FALSE(KeyedArchiver::archivedData(Value(Date{-1e10}), &error));  // a date a property list cannot hold
}

TEST_F(KeyedArchive, CyclesEncodeButDoNotDecode) {
    auto a = std::make_shared<Node>();
    a->next = std::make_shared<Node>();
    a->next->next = a;
    Data data = archive(a);
    a->next->next.reset();  // break the cycle for the test's own memory
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedValue(data, &error));
    EXPECT_NE(error.description.find("refers to itself"), std::string::npos);
}

TEST_F(KeyedArchive, ForeignTruncatedAndCorruptBytesFailCleanly) {
    Data good = archive(std::make_shared<Swatch>("#FF0000", 0));
    Value swatchRecord = Dictionary{{"$class", "Swatch"}, {"hex", "#FF0000"}, {"index", 0}};
    Value root = Dictionary{{"$ref", 0}};
    struct Case {
        const char* name;
        Data bytes;
    } cases[] = {
        {"empty", Data{}},
        {"text", Data{'h', 'e', 'l', 'l', 'o'}},
        {"json", Data{'{', '}'}},
        {"not a dictionary", plist(Array{1, 2})},
        {"NSKeyedArchiver", plist(Dictionary{{"$archiver", "NSKeyedArchiver"},
                                             {"$version", 100000},
                                             {"$top", Dictionary{{"root", Dictionary{{"CF$UID", 1}}}}},
                                             {"$objects", Array{"$null"}}})},
        {"newer version", plist(Dictionary{{"$archiver", "VexilKeyedArchiver"},
                                           {"$version", 2},
                                           {"$top", Dictionary{{"root", 1}}},
                                           {"$objects", Array{}}})},
        {"no objects", plist(Dictionary{{"$archiver", "VexilKeyedArchiver"}, {"$version", 1}, {"$top", Dictionary{}}})},
        {"no root", plist(wellFormed(Dictionary{}, Array{swatchRecord}))},
        {"reference out of range",
         plist(wellFormed(Dictionary{{"root", Dictionary{{"$ref", 5}}}}, Array{swatchRecord}))},
        {"negative reference", plist(wellFormed(Dictionary{{"root", Dictionary{{"$ref", -1}}}}, Array{swatchRecord}))},
        {"record without class", plist(wellFormed(Dictionary{{"root", root}}, Array{Dictionary{{"hex", "#FF0000"}}}))},
        {"record not a dictionary", plist(wellFormed(Dictionary{{"root", root}}, Array{"Swatch"}))},
        {"unknown marker", plist(wellFormed(Dictionary{{"root", Dictionary{{"$what", 1}}}}, Array{}))},
        {"unregistered class", plist(wellFormed(Dictionary{{"root", root}}, Array{Dictionary{{"$class", "Nope"}}}))},
        {"self reference", plist(wellFormed(Dictionary{{"root", root}},
                                            Array{Dictionary{{"$class", "Node"}, {"next", Dictionary{{"$ref", 0}}}}}))},
        {"truncated", Data(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(KeyedUnarchiver::unarchivedValue(c.bytes, &error)) << c.name;
        EXPECT_EQ(error.domain, kCocoaErrorDomain) << c.name;
        EXPECT_EQ(error.code, kCoderReadCorruptError) << c.name;
        EXPECT_FALSE(error.description.empty()) << c.name;
    }
    for (std::size_t length = 0; length < good.size(); ++length)
        EXPECT_FALSE(KeyedUnarchiver::unarchivedValue(Data(good.begin(), good.begin() + static_cast<long>(length))))
            << length;
}
