#include <gtest/gtest.h>

#include "Platform/Foundation/Dispatch.h"
#include "TemplateTestSupport.h"
#include "picker/Templates/DateFormatter.h"

namespace Templates::testing {
namespace {

using Templates = std::vector<std::pair<std::string, std::string>>;

Environment environmentWith(Templates templates) {
    return Environment(std::make_shared<DictionaryLoader>(std::move(templates)));
}

// Renders in a context the test keeps, to see what the tags leave on it.
std::string renderIn(const std::string& text, Context& context) {
    Template t(text, context.environment());
    TokenParser parser(t.sharedTokens(), context.environment());
    return renderNodes(parser.parse(), context);
}

// --- for -----------------------------------------------------------------------------

Dictionary loopContext() {
    return Dictionary{
        {"items", Value(Array{Value("a"), Value("b"), Value("c")})},
        {"numbers", Value(Array{Value(1), Value(2), Value(3), Value(4)})},
        {"d", Value(Dictionary{{"z", Value(1)}, {"a", Value(2)}, {"m", Value(3)}})},
        {"emptyList", Value(Array{})},
        {"text", Value("abc")},
        {"number", Value(5)},
        {"colour", record({{"name", Value("Red")}, {"hex", Value("#f00")}})},
        {"nested", Value(Array{Value(Array{Value(1), Value(2)}), Value(Array{Value(3)})})},
    };
}

TEST(TemplateForTag, RendersTable) {
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{% for x in items %}{{ x }}{% endfor %}", "abc"},
        {"{% for x in emptyList %}{{ x }}{% endfor %}", ""},
        {"{% for x in missing %}{{ x }}{% endfor %}", ""},
        {"{% for x in text %}{{ x }}{% endfor %}", ""},
        {"{% for x in number %}{{ x }}{% endfor %}", ""},
        {"{% for x in emptyList %}{{ x }}{% empty %}none{% endfor %}", "none"},
        {"{% for x in missing %}{{ x }}{% empty %}none{% endfor %}", "none"},
        {"{% for x in items %}{{ x }}{% empty %}none{% endfor %}", "abc"},
        {"{% for x in items %}{{ forloop.counter0 }}{{ forloop.counter }}{{ forloop.first }}{{ forloop.last }}"
         "{{ forloop.length }};{% endfor %}",
         "01truefalse3;12falsefalse3;23falsetrue3;"},
        {"{% for k,v in d %}{{ k }}={{ v }} {% endfor %}", "z=1 a=2 m=3 "},
        {"{% for k, v in d %}{{ k }}={{ v }} {% endfor %}", "z=1 a=2 m=3 "},
        {"{% for entry in d %}{{ entry }} {% endfor %}", "z a m "},
        {"{% for _,v in d %}{{ _ }}{{ v }}{% endfor %}", "123"},
        {"{% for k,k in d %}{{ k }}{% endfor %}", "123"},
        {"{% for a,b in items %}{{ a }}{{ b }}{% endfor %}", "abc"},
        {"{% for x in 1...3 %}{{ x }}{% endfor %}", "123"},
        {"{% for x in 3...1 %}{{ x }}{% endfor %}", "321"},
        {"{% for v in colour %}{{ v }} {% endfor %}", "Red #f00 "},
        {"{% for n in numbers where n > 2 %}{{ n }}/{{ forloop.length }}{{ forloop.last }} {% endfor %}",
         "3/2false 4/2true "},
        {"{% for n in numbers where n < 3 %}{{ n }}{{ forloop.last }} {% endfor %}", "1false 2true "},
        {"{% for n in numbers where n > 9 %}{{ n }}{% empty %}none{% endfor %}", "none"},
        {"{% for forloop in items %}{{ forloop }}{% endfor %}", "abc"},
        {"{% for row in nested %}[{% for x in row %}{{ forloop.counter }}{% endfor %}{{ forloop.counter }}]{% endfor "
         "%}",
         "[121][12]"},
        {"{% for x in items %}{{ x }}{% empty %}none", "abc"},
        {"{% for x in items %}{% endfor %}{{ x }}{{ forloop }}", ""},
        // Shadowing: an inner loop's variable hides the outer one only inside it.
        {"{% for x in items %}{% for x in numbers where x < 3 %}{{ x }}{% endfor %}{{ x }}{% endfor %}{{ x }}",
         "12a12b12c"},
        {"{% for text in items %}{{ text }}{% endfor %}{{ text }}", "abcabc"},
        {"{% for x in items where forloop %}{{ x }}{% endfor %}", ""},
        {"{% for x in items where x == 'b' %}{{ x }}{{ forloop.first }}{{ forloop.length }}{% endfor %}",
         "btrue1"},
        // A where clause sees the enclosing loop's forloop: its own is made for the kept items.
        {"{% for row in nested %}{% for x in row where forloop.counter > 1 %}{{ x }}{% endfor %}{% endfor %}", "3"},
        {"{% for x in items %}{{ forloop.first }}{% for y in emptyList %}{% empty %}{{ forloop.first }}{% endfor %}"
         "{% endfor %}",
         "truetruefalsefalsefalsefalse"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, loopContext()), c.output) << c.text;
}

TEST(TemplateForTag, ErrorsTable) {
    const std::string syntax = "'for' statements should use the syntax: `for <x> in <y> [where <condition>]";
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"{% for x in items where %}{% endfor %}", syntax},
        {"{% for x of items %}{% endfor %}", syntax},
        {"{% for x in items other y %}{% endfor %}", syntax},
        {"{% for x in %}{% endfor %}", syntax},
        {"{% for k ,v in d %}{% endfor %}", syntax},
        {"{% for x in items %}{{ x }}", "`endfor` was not found."},
        {"{% for k,v,w in d %}{% endfor %}", "Tuple '(\"z\", 1)' has less values than loop variables"},
        {"{% for k,v,w in d where k %}{% endfor %}", "Tuple '(\"z\", 1)' has less values than loop variables"},
        {"{% for x in items|nosuch %}{% endfor %}", "Unknown filter 'nosuch'. Found similar filters: 'default'"},
        {"{% for x in items where a b %}{% endfor %}", "'if' expression error: dangling token"},
        {"{% for x in 1...2000000 %}{% endfor %}", "Range 1...2000000 is too large: more than 1000000 values"},
    };
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text, loopContext()), c.error) << c.text;
}

// --- if and ifnot ----------------------------------------------------------------------

TEST(TemplateIfTag, BranchesTable) {
    const std::string chain = "{% if a %}x{% elif b %}y{% elif c %}z{% else %}w{% endif %}";
    const std::string noElse = "{% if a %}x{% elif b %}y{% endif %}";
    struct Case {
        std::string text;
        Dictionary context;
        std::string output;
    } cases[] = {
        {chain, {{"a", Value(true)}}, "x"},
        {chain, {{"b", Value(true)}}, "y"},
        {chain, {{"c", Value(true)}}, "z"},
        {chain, {}, "w"},
        {noElse, {}, ""},
        {"{% ifnot a %}A{% else %}B{% endif %}", {}, "A"},
        {"{% ifnot a %}A{% else %}B{% endif %}", {{"a", Value(1)}}, "B"},
        {"{% ifnot a %}A{% endif %}", {{"a", Value(1)}}, ""},
        {"{% ifnot a %}A{% else %}B", {}, "A"},
        {"{% if a %}{% if b %}ab{% else %}a{% endif %}{% endif %}", {{"a", Value(true)}}, "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, c.context), c.output) << c.text;
}

TEST(TemplateIfTag, ErrorsTable) {
    const std::string endif = "`endif` was not found.";
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"{% if a %}x", endif},
        {"{% if a %}x{% else if b %}y{% endif %}", endif},
        {"{% if a %}x{% elif b %}y", endif},
        {"{% if a %}x{% else %}y", endif},
        // The else body runs to endif alone, so a second else is read as a tag of its own.
        {"{% if a %}x{% else %}y{% else %}z{% endif %}", "Unknown template tag 'else'"},
        {"{% if a %}x{% endif a %}", endif},
        {"{% if a %}A{% else %}B", endif},
        {"{% ifnot a %}A", endif},
        {"{% ifnot a == b %}A{% endif %}",
         "'ifnot' statements should use the following 'ifnot condition' `ifnot a == b`."},
        {"{% ifnot %}A{% endif %}", "'ifnot' statements should use the following 'ifnot condition' `ifnot`."},
        {"{% ifnot and %}A{% endif %}", "'if' expression error: infix operator 'and' doesn't have a left hand side"},
    };
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text), c.error) << c.text;
}

// --- filter, include, now ------------------------------------------------------------

TEST(TemplateFilterTag, AppliesTheChainToTheSection) {
    Dictionary context{{"name", Value("mIxEd")}};
    EXPECT_EQ(render("{% filter uppercase %}Hello {{ name }}{% endfilter %}", context), "HELLO MIXED");
    EXPECT_EQ(render("{% filter lowercase|capitalize %}hELLO wORLD{% endfilter %}", context), "Hello World");
    // Blanks around a bar glue into one argument, so this is a chain, not four pieces.
    EXPECT_EQ(render("{% filter uppercase | lowercase %}MiXeD{% endfilter %}", context), "mixed");
    EXPECT_EQ(renderError("{% filter upper | lower %}x{% endfilter %}", context),
              "Unknown filter 'upper'. Found similar filters: 'uppercase', 'split'");
    EXPECT_EQ(renderError("{% filter lowercase |capitalize %}x{% endfilter %}", context),
              "'filter' tag takes one argument, the filter expression");
    EXPECT_EQ(renderError("{% filter %}x{% endfilter %}", context),
              "'filter' tag takes one argument, the filter expression");
    EXPECT_EQ(renderError("{% filter uppercase %}x", context), "`endfilter` was not found.");
    EXPECT_EQ(renderError("{% filter lowercase:1 %}x{% endfilter %}", context),
              "cannot invoke filter with an argument");
    EXPECT_EQ(render("{% filter split|join:'-' %}a b{% endfilter %}{{ filter_value }}", context), "a-b");
}

TEST(TemplateIncludeTag, RendersWithTheIncludingContext) {
    auto environment = environmentWith({{"header", "[{{ title }}|{{ name }}]"},
                                        {"self", "{% include 'self' %}"},
                                        {"ping", "{% include 'pong' %}"},
                                        {"pong", "{% include 'ping' %}"},
                                        {"row", "{{ t }};"}});
    Dictionary context{{"title", Value("T")},
                       {"name", Value("N")},
                       {"palette", Value(Dictionary{{"title", Value("P")}})},
                       {"notDict", Value("x")},
                       {"headerName", Value("header")}};
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{% include 'header' %}", "[T|N]"},
        {"{% include \"header\" %}", "[T|N]"},
        {"{% include headerName %}", "[T|N]"},
        {"{% include 'header' palette %}", "[P|N]"},
        {"{% include 'header' notDict %}", "[T|N]"},
        {"{% include 'header' missing %}", "[T|N]"},
        {"{% for title in palette %}{% include 'header' %}{% endfor %}", "[title|N]"},
        {"{% for t in 1...3 %}{% include 'row' %}{% endfor %}", "1;2;3;"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, context, environment), c.output) << c.text;

    const std::string arguments =
        "'include' tag requires one argument, the template file to be included. A second optional argument can be used "
        "to specify the context that will be passed to the included file";
    EXPECT_EQ(renderError("{% include %}", context, environment), arguments);
    EXPECT_EQ(renderError("{% include 'a' b c %}", context, environment), arguments);
    EXPECT_EQ(renderError("{% include name2 %}", context, environment),
              "'Variable(variable: \"name2\")' could not be resolved as a string");
    EXPECT_EQ(renderError("{% include 'nope' %}", context, environment),
              "other error: Template named `nope` does not exist in loader DictionaryLoader");
    EXPECT_EQ(renderError("{% include 'self' %}", context, environment),
              "'include' of 'self' goes more than 64 templates deep; a template probably includes itself");
    EXPECT_EQ(renderError("{% include 'ping' %}", context, environment),
              "'include' of 'ping' goes more than 64 templates deep; a template probably includes itself");
}

TEST(TemplateNowTag, FormatsTheClockTime) {
    auto executor = Foundation::TestExecutor::install(1'700'000'000.0);  // 2023-11-14 22:13:20 UTC
    Dictionary context{{"fmt", Value(std::make_shared<DateFormatter>("dd.MM.yyyy HH:mm", "en_US", "Europe/Paris"))},
                       {"pattern", Value("yyyy")}};
    EXPECT_EQ(render("{% now %}", context), "2023-11-14 at 22:13");
    EXPECT_EQ(render("{% now 'HH' %}", context), "22");
    EXPECT_EQ(render("{% now pattern %}", context), "2023");
    EXPECT_EQ(render("{% now fmt %}", context), "14.11.2023 23:13");
    EXPECT_EQ(render("{% now x %}", context), "");
    executor->advance(3600);
    EXPECT_EQ(render("{% now 'HH' %}", context), "23");
    EXPECT_EQ(renderError("{% now 'a' 'b' %}", context),
              "'now' tags may only have one argument: the format string `now 'a' 'b'`.");
}

// --- inheritance ---------------------------------------------------------------------

TEST(TemplateInheritance, BlocksAndSuperThroughTwoLevels) {
    auto environment = environmentWith({
        {"base", "<{% block title %}Base title{% endblock %}|{% block body %}base body{% endblock %}>"},
        {"child",
         "{% extends 'base' %}ignored{% block title %}C({{ block.super }}){% endblock %}"
         "{% block other %}never{% endblock %}"},
        {"grandchild", "before {% extends 'child' %}{% block title %}G({{ block.super }}){% endblock %}"},
        {"twice", "{% extends 'base' %}{% extends 'base' %}"},
        {"selfish", "{% extends 'selfish' %}"},
        {"missingParent", "{% extends 'nope' %}"},
        {"dynamic", "{% extends parent %}{% block body %}{{ name }}{% endblock %}"},
        {"open", "{% extends 'base' %}{% block body %}no end"},
    });
    Dictionary context{{"parent", Value("base")}, {"name", Value("N")}};
    EXPECT_EQ(environment.renderTemplate("base", context), "<Base title|base body>");
    EXPECT_EQ(environment.renderTemplate("child", context), "<C(Base title)|base body>");
    EXPECT_EQ(environment.renderTemplate("grandchild", context), "before <G(C(Base title))|base body>");
    EXPECT_EQ(environment.renderTemplate("dynamic", context), "<Base title|N>");
    EXPECT_EQ(environment.renderTemplate("open", context), "<Base title|no end>");
    EXPECT_EQ(render("{{ block.super }}", context, environment), "");

    auto error = [&](const std::string& name) {
        try {
            environment.renderTemplate(name, context);
            return std::string("no error");
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
    };
    EXPECT_EQ(error("twice"), "'extends' cannot appear more than once in the same template");
    EXPECT_EQ(error("selfish"),
              "'extends' of 'selfish' goes more than 64 templates deep; a template probably extends itself");
    EXPECT_EQ(error("missingParent"), "Template named `nope` does not exist in loader DictionaryLoader");
    EXPECT_EQ(renderError("{% extends %}", context, environment),
              "'extends' takes one argument, the template file to be extended");
    EXPECT_EQ(renderError("{% extends 'a' 'b' %}", context, environment),
              "'extends' takes one argument, the template file to be extended");
    EXPECT_EQ(renderError("{% extends parent2 %}", context, environment),
              "'Variable(variable: \"parent2\")' could not be resolved as a string");
    EXPECT_EQ(renderError("{% block %}{% endblock %}", context, environment),
              "'block' tag takes one argument, the block name");
    EXPECT_EQ(renderError("{% block a b %}{% endblock %}", context, environment),
              "'block' tag takes one argument, the block name");
}

// A caller's tag may leave a dictionary of its own on the stack, or take one
// off, inside a loop body: every item still sees its own loop variables, and
// each item pops as many dictionaries as it pushed, whichever they are.
TEST(TemplateForTag, TagsThatPushOrPopInTheBodyKeepTheLoopVariables) {
    auto extension = std::make_shared<Extension>();
    extension->registerSimpleTag("push", [](Context& c) {
        c.push(Dictionary{{"x", Value("pushed")}});
        return std::string();
    });
    extension->registerSimpleTag("pop", [](Context& c) {
        c.pop();
        return std::string();
    });
    Environment environment(nullptr, {extension});
    struct Case {
        std::string text;
        std::string output;
        size_t depthAfter;
    } cases[] = {
        {"{% for x in items %}{{ x }}{% push %}{{ x }};{% endfor %}{{ forloop.counter }}", "apushed;bpushed;cpushed;3",
         4},
        {"{% for x in items %}{{ x }}{% push %}{% push %}{{ forloop.counter }};{% endfor %}", "a1;b2;c3;", 7},
        {"{% for x in items %}{{ x }}{% pop %}{{ x }}{{ forloop.counter }};{% endfor %}", "a1;b2;c3;", 0},
        {"{% for x in items where x %}{{ x }}{% push %}{% endfor %}", "abc", 4},
    };
    for (const auto& c : cases) {
        Context context(loopContext(), environment);
        EXPECT_EQ(renderIn(c.text, context), c.output) << c.text;
        EXPECT_EQ(context.dictionaries().size(), c.depthAfter) << c.text;
    }
}

// A caller's tag in a loop body finds the loop variables stored in the
// newest dictionaries, as if each item had pushed its own, and may write there.
TEST(TemplateForTag, CallerTagsSeeTheLoopVariablesStored) {
    auto extension = std::make_shared<Extension>();
    extension->registerSimpleTag("flat", [](Context& c) {
        const Dictionary flat = c.flatten();
        return stringify(flat["x"]) + stringify(flat["y"]) + "/";
    });
    extension->registerSimpleTag("top", [](Context& c) { return stringify(c.dictionaries().back()["x"]) + "/"; });
    extension->registerSimpleTag("pop", [](Context& c) { return stringify((*c.pop())["x"]) + "/"; });
    extension->registerSimpleTag("push", [](Context& c) {
        c.push(Dictionary{{"x", Value("pushed")}});
        return std::string();
    });
    extension->registerSimpleTag("set", [](Context& c) {
        c.setValue("x", Value("set"));
        return std::string();
    });
    extension->registerSimpleTag("fail", [](Context& c) -> std::string {
        if (c.value("x") == Value("b")) throw TemplateSyntaxError("failed at b");
        return "ok";
    });
    Environment environment(nullptr, {extension});
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{% for x in items %}{% flat %}{{ x }}{% set %}{{ x }};{% endfor %}{{ x }}", "a/aset;b/bset;c/cset;"},
        {"{% for x in items %}{% top %}{{ x }};{% endfor %}", "a/a;b/b;c/c;"},
        {"{% for x in items %}{% pop %}{{ x }}{{ forloop.counter }};{% endfor %}", "a/1;b/2;c/3;"},
        {"{% for x in items %}{% pop %}{% push %}{{ x }};{% endfor %}{{ x }}", "a/pushed;b/pushed;c/pushed;"},
        {"{% for x in items where x != 'b' %}{% set %}{{ x }}{% top %}{% endfor %}", "setset/setset/"},
        {"{% for x in items %}{% for y in numbers where y < 3 %}{% flat %}{% top %}{% endfor %}{{ x }};{% endfor %}",
         "a1//a2//a;b1//b2//b;c1//c2//c;"},
        {"{% for x in nested %}{% for x in x %}{{ x }}{% endfor %}{{ x }};{% endfor %}", "12[1, 2];3[3];"},
    };
    for (const auto& c : cases) {
        Template t(c.text, environment);
        EXPECT_EQ(t.render(loopContext()), c.output) << c.text;
        EXPECT_EQ(t.render(loopContext()), c.output) << c.text << " (again)";
    }

    // A loop that failed half way renders in full the next time.
    Template failing("{% for x in items %}{{ x }}{% fail %};{% endfor %}", environment);
    EXPECT_THROW(failing.render(loopContext()), TemplateSyntaxError);
    EXPECT_EQ(failing.render(Dictionary{{"items", Value(Array{Value("a"), Value("c")})}}), "aok;cok;");
}

// What a loop body leaves on the stack is not carried into the next render
// of the same template.
TEST(TemplateForTag, RendersOfOneTemplateAreIndependent) {
    auto extension = std::make_shared<Extension>();
    extension->registerSimpleTag("push", [](Context& c) {
        c.push(Dictionary{{"x", Value("pushed")}, {"forloop", Value("pushed")}});
        return std::string();
    });
    extension->registerSimpleTag("pop", [](Context& c) {
        c.pop();
        return std::string();
    });
    Environment environment(nullptr, {extension});
    Template pushing("{% for x in items where x %}{{ x }}{% push %}{{ x }}{{ forloop.counter }};{% endfor %}",
                     environment);
    Template popping("{% for x in items %}{{ x }}{% pop %}{{ x }}{{ forloop.counter }};{% endfor %}", environment);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(pushing.render(loopContext()), "apushed;bpushed;cpushed;");
        EXPECT_EQ(popping.render(loopContext()), "a1;b2;c3;");
        EXPECT_EQ(popping.render(Dictionary{{"items", Value(Array{Value("z")})}}), "z1;");
    }
}

// Caller code that appends to a string (a subclass of a built-in node, a
// filter's own appending, a simple tag) writes where the render has got to,
// also while the output grows many times over.
TEST(TemplateRendering, CallerCodeAppendingToAStringWritesInPlace) {
    struct Bracketed : TextNode {
        using TextNode::TextNode;
        void renderInto(Context&, std::string& out) const override { out += "<" + text() + ">"; }
    };
    auto extension = std::make_shared<Extension>();
    extension->registerTag("bracketed", [](TokenParser&, const Token&) -> std::shared_ptr<NodeType> {
        return std::make_shared<Bracketed>("x");
    });
    extension->registerSimpleTag("count", [](Context& c) { return stringify(c.value("forloop")["counter"]); });
    extension->registerFilter(
        "shout", [](const Value& v) { return Value(stringify(v) + "!"); }, nullptr,
        [](const Value& v, std::string& out) {
            if (!v.isString()) return false;
            out += v.asString() + "!";
            return true;
        });
    Environment environment(nullptr, {extension});
    Array numbers;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        numbers.emplace_back(i);
        expected += "[<x>" + std::to_string(i) + "!a!" + std::to_string(i + 1) + "]";
    }
    Template t("{% for n in numbers %}[{% bracketed %}{{ n|shout }}{{ 'a'|shout }}{% count %}]{% endfor %}",
               environment);
    const Dictionary context{{"numbers", Value(numbers)}};
    EXPECT_EQ(t.render(context), expected);
    EXPECT_EQ(t.render(context), expected);
    EXPECT_EQ(t.render(Dictionary{{"numbers", Value(Array{Value(7)})}}), "[<x>7!a!1]");
}

// --- scopes are restored when a tag fails ----------------------------------------------

TEST(TemplateTags, ScopesArePoppedWhenRenderingFails) {
    auto environment = environmentWith({{"bad", "{{ x|indent:'2' }}"}, {"base", "{% block b %}{% endblock %}"}});
    const char* failing[] = {
        "{% for x in items %}{{ x|indent:'2' }}{% endfor %}",
        "{% for x in items where x|indent:'2' %}{% endfor %}",
        "{% if true %}{{ x|indent:'2' }}{% endif %}",
        "{% filter uppercase %}{{ x|indent:'2' }}{% endfilter %}",
        "{% include 'bad' items %}",
        "{% extends 'base' %}{% block b %}{{ x|indent:'2' }}{% endblock %}",
    };
    for (const char* text : failing) {
        Context context(Dictionary{{"items", Value(Array{Value("a")})}}, environment);
        EXPECT_THROW(renderIn(text, context), TemplateSyntaxError) << text;
        EXPECT_EQ(context.dictionaries().size(), 1u) << text;
    }
}

}  // namespace
}  // namespace Templates::testing
