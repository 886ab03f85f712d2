// Worked examples and edge cases of the template language, one table per
// area, each giving the exact output or the exact error message.

#include <gtest/gtest.h>

#include "Platform/Foundation/Dispatch.h"
#include "TemplateTestSupport.h"
#include "picker/Templates/DateFormatter.h"

namespace Templates::testing {
namespace {

struct Case {
    std::string text;
    std::string expected;  // the output, or the error message
};

Dictionary exampleContext() {
    Array colors{
        record({{"name", Value("Red")}, {"hex", Value("#ff0000")}}),
        record({{"name", Value("Green")}, {"hex", Value("#00ff00")}}),
        record({{"name", Value("Blue")}, {"hex", Value("#0000ff")}}),
    };
    return Dictionary{
        {"colors", Value(colors)},
        {"names", Value(Array{Value("Red"), Value("Green"), Value("Blue")})},
        {"items", Value(Array{Value("a"), Value("b"), Value("c")})},
        {"name", Value("Red")},
        {"key", Value("k")},
        {"palette", Value(Dictionary{{"k", Value("v")}, {"title", Value("P")}})},
        {"b", Value(Array{Value("k")})},
        {"a", Value(Dictionary{{"k", Value("deep")}, {"b", Value("bee")}})},
        {"two", Value("a\nb")},
        {"middle", Value("a\n\nb")},
        {"phrase", Value("hello WORLD")},
        {"number", Value(5)},
        {"d", Value(Dictionary{{"x", Value(1)}, {"y", Value(2)}})},
        {"one", Value(1)},
        {"t", Value(true)},
        {"control", Value(std::string("a\x01"
                                      "b\x7f"
                                      "c\x1b"))},
        {"controls", Value(Array{Value(std::string("\x01\x1f"))})},
    };
}

void expectTable(const std::vector<Case>& cases, const Dictionary& context = exampleContext(),
                 const Environment& environment = Environment()) {
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text, context, environment), c.expected) << c.text;
}

std::string out(const std::string& text) { return "no error, rendered: " + text; }

// --- Lexer ------------------------------------------------------------------

TEST(TemplateExamplesLexer, TagContentsFollowTheLineRules) {
    auto only = [](const std::string& text) {
        auto tokens = tokenize(text);
        EXPECT_EQ(tokens.size(), 1u) << text;
        return tokens.empty() ? std::string("no token") : tokens.front().contents();
    };
    // A tag spread over CRLF lines reads as if written with line feeds: a
    // condition must not look up a variable named "a\r".
    EXPECT_EQ(only("{% if a\r\n   and b %}"), "if a and b");
    EXPECT_EQ(only("{% if a\n\n  and b %}"), "if a and b");
    EXPECT_EQ(only("{{\n}}"), "");
    EXPECT_EQ(only("{{ }}"), " ");
    EXPECT_EQ(render("{% if a\r\n and b %}T{% else %}F{% endif %}", Dictionary{{"a", Value(true)}, {"b", Value(true)}}),
              "T");
}

TEST(TemplateExamplesLexer, UnclosedTagsAndOverlappingDelimiters) {
    expectTable({
        {"Hello {{ name", out("Hello ")},
        {"a{#}b", out("ab")},
        {"a{%}b", out("ab")},
        {"a{{}b", out("a")},
        {"{{ name }}}", out("Red}")},
    });
}

// --- Token parser -----------------------------------------------------------

TEST(TemplateExamplesParser, ParserTable) {
    expectTable({
        {"", out("")},
        {"a{# note #}b", out("ab")},
        {"{% %}", out("")},
        {"{% foo %}", "Unknown template tag 'foo'"},
        {"{{ name|uppercas }}", "Unknown filter 'uppercas'. Found similar filters: 'uppercase'"},
        {"{{ name|x }}", "Unknown filter 'x'."},
        // End tags outside their tag are unknown tags of their own.
        {"{% if t %}x{% endif %}{% endif %}", "Unknown template tag 'endif'"},
        {"{% for x in items %}A{% empty x %}B{% endfor %}", "Unknown template tag 'endfor'"},
    });
}

// --- Rendering --------------------------------------------------------------

TEST(TemplateExamplesRendering, StringifyTable) {
    Dictionary context = exampleContext();
    context.set("ab", Value(Array{Value("a"), Value("b")}));
    context.set("holes", Value(Array{Value(1), Value(), Value(3)}));
    context.set("nested", Value(Array{Value(Array{Value(2)})}));
    context.set("seven", Value(7));
    expectTable(
        {
            {"{{ name }}", out("Red")},
            {"{{ unbound }}", out("")},
            {"{{ ab }}", out("[\"a\", \"b\"]")},
            {"{{ holes }}", out("[1, nil, 3]")},
            {"{{ nested }}", out("[[2]]")},
            {"{{ seven }}", out("7")},
            {"{{ t }}", out("true")},
            {"a{{ x }}b", out("ab")},
            // Control characters in a debug form print as the platform escapes
            // them: two upper-case hex digits in \u{...}.
            {"{{ controls }}", out("[\"\\u{01}\\u{1F}\"]")},
        },
        context);
}

// --- Variables and filter expressions ---------------------------------------

TEST(TemplateExamplesVariables, VariablesTable) {
    expectTable({
        {"{{ 'hello' }}", out("hello")},
        {"{{ \"hello\" }}", out("hello")},
        {"{{ '' }}", out("")},
        {"{{ \"it's\" }}", out("it's")},
        {"{{ 'a\" }}", out("")},
        {"{{ 42 }}", out("42")},
        {"{{ -7 }}", out("-7")},
        {"{{ +3 }}", out("3")},
        {"{{ 1.5 }}", out("1.5")},
        {"{{ 1e3 }}", out("1000.0")},
        {"{{ True }}", out("")},
        {"{{ inf }}", out("inf")},
        {"{{ nan }}", out("nan")},
        {"{{ 0x10 }}", out("16.0")},
        {"{{ colors.count }}", out("3")},
        {"{{ colors.first.name }}", out("Red")},
        {"{{ colors.2.hex }}", out("#0000ff")},
        {"{{ colors[2].hex }}", out("#0000ff")},
        {"{{ colors.5 }}", out("")},
        {"{{ colors.size.count }}", out("3")},
        {"{{ palette[key] }}", out("v")},
        {"{{ a['b'] }}", out("bee")},
        {"{{ a[b[0]] }}", out("deep")},
        {"{{ a. }}", out("[\"k\": \"deep\", \"b\": \"bee\"]")},
        {"{{ a..b }}", "Unexpected '.' in variable 'a..b'"},
        {"{{ .a }}", "Unexpected '.' in variable '.a'"},
        {"{{ a.[0] }}", "Unexpected '[' in variable 'a.[0]'"},
        {"{{ [0] }}", "Unexpected '[' in variable '[0]'"},
        {"{{ a] }}", "Unbalanced ']' in variable 'a]'"},
        {"{{ a[0 }}", "Unbalanced subscript brackets in variable 'a[0'"},
        {"{{ a[0]b }}", "Unexpected character 'b' in variable 'a[0]b'"},
        {"{{ a[] }}", "Unable to resolve subscript '' in variable 'a[]'"},
        {"{{ a[x] }}", "Unable to resolve subscript 'x' in variable 'a[x]'"},
        {"{{ name|uppercase }}", out("RED")},
        {"{{ name | uppercase }}", out("RED")},
        {"{{ name||uppercase }}", out("RED")},
        {"{{}}", "Variable tags must include at least 1 argument"},
        {"{{ | }}", "Variable tags must include at least 1 argument"},
        {"{{ names|join:', ' }}", out("Red, Green, Blue")},
        {"{{ names|join:\", \" }}", out("Red, Green, Blue")},
        {"{{ name|lowercase:1 }}", "cannot invoke filter with an argument"},
        {"{{ 1...3 }}", out("[1, 2, 3]")},
        {"{{ 3...1 }}", out("[3, 2, 1]")},
        {"{{ 2...2 }}", out("[2]")},
        {"{{ 1...2...3 }}", "Unexpected '.' in variable '1...2...3'"},
        {"{{ missing...3 }}", "'from' value is not an Integer (nil)"},
        {"{{ 1...'abc' }}", "'to' value is not an Integer (abc )"},
        {"{{ t...3 }}", "'from' value is not an Integer (true)"},
    });
}

TEST(TemplateExamplesVariables, LiteralsNeedTheWholeText) {
    Context context(Dictionary{{" 5", Value("key")}, {"5 ", Value("key2")}});
    EXPECT_EQ(Variable(" 5").resolve(context), Value("key"));
    EXPECT_EQ(Variable("5 ").resolve(context), Value("key2"));
    EXPECT_EQ(Variable("1").resolve(context), Value(1));
    EXPECT_TRUE(Variable("1.0").resolve(context).isDouble());
}

// --- Built-in filters -------------------------------------------------------

TEST(TemplateExamplesFilters, FiltersTable) {
    expectTable({
        {"{{ missing|default:nothing,5 }}", out("5")},
        {"{{ missing|default:nothing }}", out("")},
        {"{{ ''|default:'x' }}", out("")},
        {"{{ phrase|capitalize }}", out("Hello World")},
        {"{{ missing|uppercase }}", out("")},
        {"{{ names|join:', ' }}", out("Red, Green, Blue")},
        {"{{ names|join }}", out("RedGreenBlue")},
        {"{{ name|join:',' }}", out("Red")},
        {"{{ names|join:',','x' }}", "'join' filter takes a single argument"},
        {"{{ 'a b'|split }}", out("[\"a\", \"b\"]")},
        {"{{ number|split }}", out("5")},
        {"{{ name|split:',','x' }}", "'split' filter takes a single argument"},
        {"{{ two|indent }}", out("a\n    b")},
        {"{{ two|indent:2,'-',true }}", out("--a\n--b")},
        {"{{ middle|indent }}", out("a\n\n    b")},
        {"{{ two|indent:0 }}", out("a\nb")},
        {"{{ two|indent:'2' }}", "'indent' filter width argument must be an Integer (Optional(\"2\"))"},
        {"{{ two|indent:5,6 }}", "'indent' filter indentation argument must be a String (Optional(6))"},
        {"{{ two|indent:1,'a',true,4 }}", "'indent' filter can take at most 3 arguments"},
        {"{{ two|indent:1,'a','b' }}", "'indent' filter indentFirst argument must be a Bool"},
        {"{{ name|capitalize:1 }}", "cannot invoke filter with an argument"},
        {"{{ name|uppercase:1 }}", "cannot invoke filter with an argument"},
        // An Optional of text prints in the platform's debug form, escapes included.
        {"{{ two|indent:control }}",
         "'indent' filter width argument must be an Integer (Optional(\"a\\u{01}b\\u{7F}c\\u{1B}\"))"},
    });
}

// --- Filter, include and now tags -------------------------------------------

TEST(TemplateExamplesFilterIncludeNow, FilterIncludeNowTable) {
    auto environment = Environment(std::make_shared<DictionaryLoader>(
        std::vector<std::pair<std::string, std::string>>{{"header", "<{{ title }}|{{ k }}>"}}));
    Dictionary context = exampleContext();
    context.set("title", Value("T"));
    const std::string includeArguments =
        "'include' tag requires one argument, the template file to be included. A second optional argument can be "
        "used to specify the context that will be passed to the included file";
    expectTable(
        {
            {"{% filter uppercase %}a {{ name }}{% endfilter %}", out("A RED")},
            {"{% filter lowercase|capitalize %}hELLO wORLD{% endfilter %}", out("Hello World")},
            {"{% filter lowercase |capitalize %}x{% endfilter %}",
             "'filter' tag takes one argument, the filter expression"},
            {"{% filter uppercase %}x", "`endfilter` was not found."},
            {"{% filter lowercase:1 %}x{% endfilter %}", "cannot invoke filter with an argument"},
            {"{% include 'header' %}", out("<T|>")},
            {"{% include 'header' palette %}", out("<P|v>")},
            {"{% include 'header' name %}", out("<T|>")},
            {"{% include 'header' missing %}", out("<T|>")},
            {"{% include name2 %}", "'Variable(variable: \"name2\")' could not be resolved as a string"},
            {"{% include \"it's\" %}", "other error: Template named `it's` does not exist in loader DictionaryLoader"},
            {"{% include it's %}", "'Variable(variable: \"it\\'s\")' could not be resolved as a string"},
            {"{% include %}", includeArguments},
            {"{% include 'a' b c %}", includeArguments},
            {"{% now 'a' 'b' %}", "'now' tags may only have one argument: the format string `now 'a' 'b'`."},
        },
        context, environment);
}

TEST(TemplateExamplesFilterIncludeNow, NowFormats) {
    auto executor = Foundation::TestExecutor::install(1'700'000'000.0);  // 2023-11-14 22:13:20 UTC
    Dictionary context{{"fmt", Value(std::make_shared<DateFormatter>("HH:mm:ss", "en_US", "UTC"))},
                       {"number", Value(5)}};
    EXPECT_EQ(render("{% now %}", context), "2023-11-14 at 22:13");
    EXPECT_EQ(render("{% now 'HH' %}", context), "22");
    EXPECT_EQ(render("{% now \"yyyy\" %}", context), "2023");
    EXPECT_EQ(render("{% now fmt %}", context), "22:13:20");
    EXPECT_EQ(render("{% now x %}", context), "");
    EXPECT_EQ(render("{% now number %}", context), "");
}

// --- Inheritance ------------------------------------------------------------

TEST(TemplateExamplesInheritance, InheritanceTable) {
    auto environment = Environment(std::make_shared<DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{
        {"base", "[{% block title %}B{% endblock %}]"},
        {"twice", "[{% block title %}1{% endblock %}{% block title %}2{% endblock %}]"},
    }));
    expectTable(
        {
            {"pre {% extends 'base' %}dropped{% block title %}C{% endblock %}", out("pre [C]")},
            {"{% extends 'base' %}{% block title %}<{{ block.super }}>{% endblock %}", out("[<B>]")},
            {"{% extends 'base' %}{% block other %}never{% endblock %}", out("[B]")},
            {"{% extends 'twice' %}{% block title %}C{% endblock %}", out("[C2]")},
            {"{% extends 'base' %}{% block title %}C{% endblock %}{% block title %}D{% endblock %}", out("[D]")},
            {"{% extends 'base' %}{% extends 'base' %}", "'extends' cannot appear more than once in the same template"},
            {"{% extends %}", "'extends' takes one argument, the template file to be extended"},
            {"{% extends 'a' 'b' %}", "'extends' takes one argument, the template file to be extended"},
            {"{% extends parent %}", "'Variable(variable: \"parent\")' could not be resolved as a string"},
            {"{% extends 'nope' %}", "other error: Template named `nope` does not exist in loader DictionaryLoader"},
            {"{% block %}{% endblock %}", "'block' tag takes one argument, the block name"},
            {"{% block a b %}{% endblock %}", "'block' tag takes one argument, the block name"},
            {"{% block a %}open", out("open")},
            {"{{ block.super }}", out("")},
        },
        exampleContext(), environment);
}

// --- For tag ----------------------------------------------------------------

TEST(TemplateExamplesFor, ForTable) {
    const std::string syntax = "'for' statements should use the syntax: `for <x> in <y> [where <condition>]";
    Dictionary context = exampleContext();
    context.set("mixed", Value(Dictionary{{"s", Value("x")}, {"l", Value(Array{Value(1), Value(2)})}}));
    expectTable(
        {
            {"{% for x in items %}{{ forloop.counter0 }}{{ forloop.counter }}{{ forloop.last }}{% endfor %}",
             out("01false12false23true")},
            {"{% for x in items where x != 'c' %}{{ x }}{{ forloop.last }}{{ forloop.length }}{% endfor %}",
             out("afalse2btrue2")},
            {"{% for x in items where %}{% endfor %}", syntax},
            {"{% for x of items %}{% endfor %}", syntax},
            {"{% for x in items other y %}{% endfor %}", syntax},
            {"{% for k,v in d %}{{ k }}{{ v }}{% endfor %}", out("x1y2")},
            {"{% for k,v,w in d %}{% endfor %}", "Tuple '(\"x\", 1)' has less values than loop variables"},
            {"{% for k,v,w in mixed %}{% endfor %}", "Tuple '(\"s\", \"x\")' has less values than loop variables"},
            {"{% for k,v,w in mixed where k == 'l' %}{% endfor %}",
             "Tuple '(\"s\", \"x\")' has less values than loop variables"},
            {"{% for _,v in d %}{{ _ }}{{ v }}{% endfor %}", out("12")},
            {"{% for x in items %}", "`endfor` was not found."},
            {"{% for x in missing %}{% empty %}E", out("E")},
            {"{% for forloop in items %}{{ forloop }}{% endfor %}", out("abc")},
            {"{% for x in items %}{{ x }}{% empty %}E{% endfor extra %}", out("abc")},
        },
        context);
}

// --- If tag -----------------------------------------------------------------

TEST(TemplateExamplesIf, IfTable) {
    expectTable({
        {"{% if %}{% endif %}", "'if' expression error: end"},
        {"{% if not %}{% endif %}", "'if' expression error: end"},
        {"{% if a and %}{% endif %}", "'if' expression error: end"},
        {"{% if and a %}{% endif %}", "'if' expression error: infix operator 'and' doesn't have a left hand side"},
        {"{% if a not b %}{% endif %}",
         "'if' expression error: prefix operator 'not' was called with a left hand side"},
        {"{% if a b %}{% endif %}", "'if' expression error: dangling token"},
        {"{% if t %}x{% elif %}y{% endif %}", "'if' expression error: end"},
        {"{% if t %}x{% else if b %}y{% endif %}", "`endif` was not found."},
        {"{% ifnot a == b %}x{% endif %}",
         "'ifnot' statements should use the following 'ifnot condition' `ifnot a == b`."},
        {"{% ifnot missing %}A{% else %}B", out("A")},
        {"{% if missing %}A{% else %}B", "`endif` was not found."},
        {"{% if missing %}A{% elif one %}B{% endif %}", out("B")},
        {"{% if missing %}A{% elif missing %}B{% endif %}", out("")},
    });
}

// --- Expressions ------------------------------------------------------------

TEST(TemplateExamplesExpressions, ConditionsTable) {
    Dictionary context = exampleContext();
    context.set("ten", Value("10"));
    context.set("nine", Value("9"));
    auto truth = [](const std::string& condition) { return "{% if " + condition + " %}T{% else %}F{% endif %}"; };
    expectTable(
        {
            {truth("ten > nine"), out("F")},
            {truth("ten < nine"), out("F")},
            {truth("'Re' in name"), out("T")},
            {truth("name in names"), out("T")},
            {truth("'x' in d"), out("F")},
            {truth("missing in alsomissing"), out("T")},
            {truth("missing == alsomissing"), out("T")},
            {truth("missing != alsomissing"), out("F")},
            {truth("missing == one"), out("F")},
            {truth("t == one"), out("F")},
            {truth("one == '1'"), out("F")},
            {truth("one == 1.0"), out("T")},
            // The right side is not resolved, so its filter error is not raised.
            {truth("t or names|join:1,2"), out("T")},
            {truth("missing or names|join:1,2"), "'join' filter takes a single argument"},
            {truth("not missing and t"), out("T")},
            {truth("not t == one"), out("T")},
        },
        context);
}

}  // namespace
}  // namespace Templates::testing
