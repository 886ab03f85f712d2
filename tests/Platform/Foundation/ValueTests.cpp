#include <gtest/gtest.h>

#include <utility>

#include "Platform/Foundation/Value.h"

using namespace Foundation;

TEST(Value, DictionaryKeepsInsertionOrderAndPositionOnOverwrite) {
    Dictionary d{{"b", 1}, {"a", 2}};
    d.set("c", 3);
    d.set("b", "x");
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(d["b"], Value("x"));
    EXPECT_TRUE(std::as_const(d)["missing"].isNull());
    EXPECT_TRUE(d.erase("a"));
    EXPECT_FALSE(d.erase("a"));
    EXPECT_EQ(d.size(), 2u);
}

TEST(Value, CopiesAreIndependent) {
    Value a = Array{1, 2};
    Value b = a;
    b.mutableArray().push_back(3);
    EXPECT_EQ(a.asArray().size(), 2u);
    EXPECT_EQ(b.asArray().size(), 3u);
}

TEST(Value, EqualityIsByTypeAndContent) {
    EXPECT_EQ(Value(1), Value(1L));
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}}));
    EXPECT_EQ(Value(Array{"x", nullptr}), Value(Array{"x", Value()}));
}

TEST(Value, NumericViews) {
    EXPECT_EQ(Value(true).numberValue(), 1.0);
    EXPECT_EQ(Value(2.9).integerValue(), 2);
    EXPECT_FALSE(Value(1e300).integerValue().has_value());
    EXPECT_FALSE(Value("1").numberValue().has_value());
}
