#include <gtest/gtest.h>

#include "TemplateTestSupport.h"
#include "picker/Templates/Inheritance.h"

namespace Templates::testing {
namespace {

TEST(TemplateContext, EmptyStackIgnoresWritesUntilPush) {
    Context context;
    EXPECT_TRUE(context.value("a").isNull());
    context.setValue("a", Value(1));
    EXPECT_TRUE(context.value("a").isNull());
    EXPECT_FALSE(context.pop().has_value());
    context.push(Dictionary{});
    context.setValue("a", Value(1));
    EXPECT_EQ(context.value("a"), Value(1));
}

TEST(TemplateContext, NewestDictionaryDecidesEvenWithoutAValue) {
    Context context(Dictionary{{"a", Value(1)}});
    context.push(Dictionary{{"a", Value(2)}});
    EXPECT_EQ(context.value("a"), Value(2));
    context.pop();
    EXPECT_EQ(context.value("a"), Value(1));

    context.push(Dictionary{{"a", Value()}});
    EXPECT_TRUE(context.value("a").isNull());
    EXPECT_EQ(context.flatten(), (Dictionary{{"a", Value(1)}}));
}

TEST(TemplateContext, SetValueWritesTheNewestDictionary) {
    Context context(Dictionary{{"a", Value(1)}});
    context.push(Dictionary{});
    context.setValue("b", Value(3));
    EXPECT_EQ(context.dictionaries().back()["b"], Value(3));
    context.pop();
    EXPECT_TRUE(context.value("b").isNull());
}

TEST(TemplateContext, PushWithBodyPopsWhenTheBodyThrows) {
    Context context(Dictionary{{"a", Value(1)}});
    EXPECT_THROW(context.push(Dictionary{{"a", Value(2)}}, [&]() -> int { throw TemplateSyntaxError("boom"); }),
                 TemplateSyntaxError);
    EXPECT_EQ(context.dictionaries().size(), 1u);
    EXPECT_EQ(context.value("a"), Value(1));
    EXPECT_EQ(context.push(Dictionary{{"a", Value(2)}}, [&] { return context.value("a").asInt(); }), 2);
}

TEST(TemplateContext, BlockContextHandsOutOverridesInOrder) {
    auto a = std::make_shared<BlockNode>("content", NodeList{});
    auto b = std::make_shared<BlockNode>("content", NodeList{});
    BlockContext blocks({{"content", a}});
    blocks.push(b, "content");
    EXPECT_EQ(blocks.popBlock("content"), a);
    EXPECT_EQ(blocks.popBlock("content"), b);
    EXPECT_EQ(blocks.blocks().count("content"), 0u);
    EXPECT_EQ(blocks.popBlock("content"), nullptr);
}

}  // namespace
}  // namespace Templates::testing
