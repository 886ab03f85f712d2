#include <gtest/gtest.h>

#include "TemplateTestSupport.h"

namespace Templates::testing {
namespace {

TEST(TemplateParser, BasicNodesTable) {
    Dictionary context{{"name", Value("Red")}, {"x", Value(7)}, {"yes", Value(true)}};
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"", ""},
        {"{{ name }}", "Red"},
        {"{{ unbound }}", ""},
        {"a{{ unbound }}b", "ab"},
        {"a{# note #}b", "ab"},
        {"a{% %}b", "ab"},  // a block without words is dropped
        {"{{ x }} {{ yes }}", "7 true"},
        {"Hello {{ name", "Hello "},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, context), c.output) << c.text;
}

TEST(TemplateParser, UnknownTagFailsOnlyWhenRendered) {
    Template t("before {% nosuchtag %} after");  // constructs without error
    try {
        t.render();
        FAIL() << "expected an error";
    } catch (const TemplateSyntaxError& e) {
        EXPECT_EQ(e.description(), "Unknown template tag 'nosuchtag'");
    }
}

// A syntax error says which token it arose at (line and byte column from 1);
// its message is the same as without a position.
TEST(TemplateParser, SyntaxErrorsSayWhereTheyArose) {
    struct Case {
        std::string text;
        std::string description;
        SourcePosition position;
    } cases[] = {
        {"{% nosuchtag %}", "Unknown template tag 'nosuchtag'", {1, 1}},
        {"ab\ncd {% nosuchtag %}", "Unknown template tag 'nosuchtag'", {2, 4}},
        {"x\n\n  {{ a|nosuchfilter }}", "Unknown filter 'nosuchfilter'.", {3, 3}},
        // Inside a loop's body the inner token is named, not the loop.
        {"{% for x in y %}\n {% if %}{% endif %}{% endfor %}", "", {2, 2}},
        // A tag whose end never comes is named by its opening.
        {"a\n  {% for x in y %}", "", {2, 3}},
    };
    for (const auto& c : cases) {
        try {
            Template(c.text).render();
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const TemplateSyntaxError& e) {
            if (!c.description.empty()) {
                EXPECT_EQ(e.description(), c.description) << c.text;
            }
            ASSERT_TRUE(e.position()) << c.text;
            EXPECT_EQ(e.position()->line, c.position.line) << c.text;
            EXPECT_EQ(e.position()->column, c.position.column) << c.text;
        }
    }
}

TEST(TemplateLexer, TokensKnowWhereTheyStart) {
    const auto tokens = tokenize("ab\r\n{{ x }}\n  {% if a %}{# c #}x{{ y");
    std::vector<std::pair<std::size_t, std::size_t>> where;
    for (const auto& t : tokens) where.emplace_back(t.position().line, t.position().column);
    EXPECT_EQ(where, (std::vector<std::pair<std::size_t, std::size_t>>{
                         {1, 1}, {2, 1}, {2, 8}, {3, 3}, {3, 13}, {3, 20}, {3, 21}}));
}

TEST(TemplateParser, CallerTagOverridesBuiltInTag) {
    auto extension = std::make_shared<Extension>();
    extension->registerSimpleTag("now", [](Context&) { return std::string("fixed"); });
    Environment environment(nullptr, {extension});
    EXPECT_EQ(render("{% now %}", {}, environment), "fixed");
}

TEST(TemplateParser, PredicateStopsAtItsOwnLevelAndPutsTheTokenBack) {
    Environment environment;
    TokenParser parser(tokenize("a{% if x %}{% for y in z %}{% endfor %}{% endif %}b{% endfor %}c"), environment);
    NodeList nodes = parser.parse(endTagPredicate({"endfor"}));
    EXPECT_EQ(nodes.size(), 3u);  // text a, the if node (its for took the inner endfor), text b
    auto next = parser.nextToken();
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(*next, Token::block("endfor"));
    EXPECT_EQ(parser.tokens(), std::vector<Token>{Token::text("c")});

    parser.prependToken(Token::text("z"));
    EXPECT_EQ(parser.parse(endTagPredicate({"never"})).size(), 2u);
    EXPECT_FALSE(parser.nextToken().has_value());
}

class CountingNode : public NodeType {
public:
    explicit CountingNode(int& count, bool fail) : count_(count), fail_(fail) {}
    std::string render(Context&) const override {
        ++count_;
        if (fail_) throw TemplateSyntaxError("node failed");
        return "n";
    }

private:
    int& count_;
    bool fail_;
};

TEST(TemplateParser, RenderNodesStopsAtTheFirstError) {
    int count = 0;
    NodeList nodes{std::make_shared<CountingNode>(count, false), std::make_shared<CountingNode>(count, true),
                   std::make_shared<CountingNode>(count, false)};
    Context context;
    EXPECT_THROW(renderNodes(nodes, context), TemplateSyntaxError);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(renderNodes({}, context), "");
}

TEST(TemplateParser, DeepTagNestingFailsInsteadOfOverflowing) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "{% if a %}";
    EXPECT_EQ(renderError(text), "Template tags are nested more than 256 levels deep");
    std::string negations = "{% if";
    for (int i = 0; i < 5000; ++i) negations += " not";
    EXPECT_EQ(renderError(negations + " a %}{% endif %}"),
              "'if' expression error: operators nested more than 256 levels deep");
}

TEST(TemplateParser, TemplatesRenderAgainTheSameWay) {
    Template t = "{% for c in colors %}{{ c|uppercase }}{% endfor %}";
    Dictionary context{{"colors", Value(Array{Value("a"), Value("b")})}};
    EXPECT_EQ(t.render(context), "AB");
    EXPECT_EQ(t.render(context), "AB");
    EXPECT_FALSE(t.name().has_value());
    EXPECT_EQ(t.environment().loader, nullptr);
}

// A template parses once and keeps its nodes only while parsing again could
// not give other ones: tables changed after a render, and a caller's tag
// (whose parser may do anything), are seen by the next render.
TEST(TemplateParser, ChangedTablesAndCallerTagsAreSeenOnEveryRender) {
    auto extension = std::make_shared<Extension>();
    Environment environment(nullptr, {extension});
    Template filtered("{{ name|shout }}", environment);
    Dictionary context{{"name", Value("red")}};
    EXPECT_THROW(filtered.render(context), TemplateSyntaxError);
    extension->registerFilter("shout", [](const Value& v) { return Value(stringify(v) + "!"); });
    EXPECT_EQ(filtered.render(context), "red!");
    extension->registerFilter("shout", [](const Value& v) { return Value(stringify(v) + "?"); });
    EXPECT_EQ(filtered.render(context), "red?");

    Template builtIn("{% if name %}{{ name|uppercase }}{% endif %}", environment);
    EXPECT_EQ(builtIn.render(context), "RED");
    environment.extensions.back()->registerSimpleTag("if", [](Context&) { return std::string("replaced"); });
    try {
        builtIn.render(context);
        FAIL() << "expected the replaced tag to leave endif unknown";
    } catch (const TemplateSyntaxError& e) {
        EXPECT_EQ(e.description(), "Unknown template tag 'endif'");
    }

    int parses = 0;
    extension->registerTag("count", [&parses](TokenParser&, const Token&) -> std::shared_ptr<NodeType> {
        ++parses;
        return std::make_shared<TextNode>(std::to_string(parses));
    });
    Template counted("{% count %}{{ name }}", environment);
    EXPECT_EQ(counted.render(context), "1red");
    EXPECT_EQ(counted.render(context), "2red");
    EXPECT_EQ(parses, 2);
}

}  // namespace
}  // namespace Templates::testing
