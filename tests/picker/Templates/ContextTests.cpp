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

// A render reads the caller's dictionary where it is: what a tag writes into
// it, or pops, belongs to that render alone.
TEST(TemplateContext, RendersLeaveTheCallersDictionaryAsItWas) {
    auto extension = std::make_shared<Extension>();
    extension->registerSimpleTag("set", [](Context& c) {
        c.setValue("name", Value("set"));
        return std::string();
    });
    extension->registerSimpleTag("pop", [](Context& c) {
        auto popped = c.pop();
        return popped ? (*popped)["name"].asString() : std::string("none");
    });
    extension->registerSimpleTag("depth", [](Context& c) { return std::to_string(c.dictionaries().size()); });
    Environment environment(nullptr, {extension});
    Template t("{{ name }}{% set %}{{ name }}{% depth %}|{% pop %}{{ name }}{% depth %}|{% pop %}", environment);
    const Dictionary a{{"name", Value("a")}}, b{{"name", Value("b")}};
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(t.render(a), "aset1|set0|none");
        EXPECT_EQ(t.render(b), "bset1|set0|none");
    }
    EXPECT_EQ(a, (Dictionary{{"name", Value("a")}}));
    EXPECT_EQ(Template("{% depth %}{% set %}{{ name }}", environment).render(), "0");
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
