#include <gtest/gtest.h>

#include "TemplateTestSupport.h"

namespace Templates::testing {
namespace {

Dictionary filterContext() {
    return Dictionary{
        {"colors", Value(Array{Value("Red"), Value("Green"), Value("Blue")})},
        {"mixed", Value(Array{Value(1), Value("ab")})},
        {"phrase", Value("hello WORLD")},
        {"two", Value("a\nb")},
        {"three", Value("a\n\nb")},
        {"crlf", Value("a\r\nb")},
        {"separated", Value("a  b")},
        {"empty", Value("")},
        {"nilText", Value("nil")},
        {"number", Value(5)},
        {"nothing", Value()},
    };
}

TEST(TemplateFilters, BuiltInFiltersTable) {
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{{ missing|default:nothing,5 }}", "5"},
        {"{{ missing|default:nothing }}", ""},
        {"{{ missing|default }}", ""},
        {"{{ empty|default:'x' }}", ""},
        // Only a real null is missing: the text "nil" stays.
        {"{{ nilText|default:'x' }}", "nil"},
        {"{{ phrase|capitalize }}", "Hello World"},
        {"{{ phrase|uppercase }}", "HELLO WORLD"},
        {"{{ phrase|lowercase }}", "hello world"},
        {"{{ mixed|uppercase }}", "[\"1\", \"AB\"]"},
        {"{{ missing|uppercase }}", ""},
        {"{{ 'straße'|uppercase }}", "STRASSE"},
        {"{{ colors|join:', ' }}", "Red, Green, Blue"},
        {"{{ colors|join }}", "RedGreenBlue"},
        {"{{ colors|join:missing }}", "RedGreenBlue"},
        {"{{ phrase|join:'-' }}", "hello WORLD"},
        {"{{ 'a b'|split }}", "[\"a\", \"b\"]"},
        {"{{ separated|split }}", "[\"a\", \"\", \"b\"]"},
        {"{{ 'a,b'|split:',' }}", "[\"a\", \"b\"]"},
        {"{{ number|split }}", "5"},
        {"{{ 'a b'|split|join:'+' }}", "a+b"},
        {"{{ two|indent }}", "a\n    b"},
        {"{{ two|indent:2,'-',true }}", "--a\n--b"},
        {"{{ three|indent:2 }}", "a\n\n  b"},
        {"{{ crlf|indent:1 }}", "a\n\n b"},
        {"{{ two|indent:0 }}", "a\nb"},
        {"{{ number|indent }}", "5"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, filterContext()), c.output) << c.text;
}

// Case filters write into the output; the values they read, in the context
// or in the template, stay as they were for every later read.
TEST(TemplateFilters, CaseFiltersLeaveTheirSourcesUnchanged) {
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{% for i in 1...2 %}{{ phrase|uppercase }}{{ phrase }}{{ 'aBc'|lowercase }}{{ 'aBc' }};{% endfor %}",
         "HELLO WORLDhello WORLDabcaBc;HELLO WORLDhello WORLDabcaBc;"},
        {"{{ colors|uppercase }}{{ colors|join }}", "[\"RED\", \"GREEN\", \"BLUE\"]RedGreenBlue"},
        {"{{ phrase|uppercase|lowercase }}{{ phrase|lowercase|uppercase }}{{ phrase }}",
         "hello worldHELLO WORLDhello WORLD"},
        {"{{ 'Ärger'|lowercase }}{{ 'ärger'|uppercase }}", "ärgerÄRGER"},
        {"{{ number|uppercase }}{{ nothing|lowercase }}{{ missing|lowercase|uppercase }}{{ 2.5|uppercase }}", "52.5"},
        {"{{ true|uppercase }}{{ nothing|default:'Ab'|uppercase }}", "TRUEAB"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, filterContext()), c.output) << c.text;
}

TEST(TemplateFilters, FilterErrorsTable) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"{{ colors|join:',','x' }}", "'join' filter takes a single argument"},
        {"{{ phrase|split:',','x' }}", "'split' filter takes a single argument"},
        {"{{ two|indent:'2' }}", "'indent' filter width argument must be an Integer (Optional(\"2\"))"},
        {"{{ two|indent:missing }}", "'indent' filter width argument must be an Integer (nil)"},
        {"{{ two|indent:1.5 }}", "'indent' filter width argument must be an Integer (Optional(1.5))"},
        {"{{ two|indent:2,5 }}", "'indent' filter indentation argument must be a String (Optional(5))"},
        {"{{ two|indent:2,'-',1 }}", "'indent' filter indentFirst argument must be a Bool"},
        {"{{ two|indent:1,'a',true,4 }}", "'indent' filter can take at most 3 arguments"},
        {"{{ two|indent:-1 }}", "'indent' filter width argument must not be negative (-1)"},
        {"{{ two|indent:99999999999 }}", "'indent' filter width argument must be at most 10000 (99999999999)"},
        {"{{ phrase|capitalize:1 }}", "cannot invoke filter with an argument"},
        {"{{ phrase|uppercas }}", "Unknown filter 'uppercas'. Found similar filters: 'uppercase'"},
        {"{{ phrase|x }}", "Unknown filter 'x'."},
        {"{{ phrase|lowercas }}", "Unknown filter 'lowercas'. Found similar filters: 'lowercase'"},
        {"{{ phrase|jion }}", "Unknown filter 'jion'. Found similar filters: 'join'"},
    };
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text, filterContext()), c.error) << c.text;
}

TEST(TemplateFilters, UnknownFilterFailsAtParseEvenInAnUnrenderedBranch) {
    // Filters are looked up when the template is parsed.
    Template t("{# x #}{{ a|nosuch }}");
    EXPECT_THROW(t.render(), TemplateSyntaxError);
}

TEST(TemplateFilters, CallerExtensionOverridesBuiltInAndRegistersAgainInPlace) {
    auto extension = std::make_shared<Extension>();
    extension->registerFilter("uppercase", [](const Value&) { return Value("first"); });
    extension->registerFilter("uppercase", [](const Value&) { return Value("second"); });
    extension->registerFilterWithArguments("wrap", [](const Value& v, const std::vector<Value>& args) {
        return Value(textualForm(args.at(0)) + stringify(v) + textualForm(args.at(0)));
    });
    extension->registerSimpleTag("hello", [](Context& c) { return "hello " + stringify(c.value("name")); });
    EXPECT_EQ(extension->filters().size(), 2u);
    Environment environment(nullptr, {extension});
    Dictionary context{{"name", Value("Ann")}};
    EXPECT_EQ(render("{{ name|uppercase }} {{ name|wrap:'*' }} {% hello %}", context, environment),
              "second *Ann* hello Ann");
}

TEST(TemplateFilters, SuggestionsTieAndFollowRegistrationOrder) {
    auto extension = std::make_shared<Extension>();
    extension->registerFilter("abcd", [](const Value& v) { return v; });
    extension->registerFilter("abce", [](const Value& v) { return v; });
    Environment environment(nullptr, {extension});
    TokenParser parser(std::vector<Token>{}, environment);
    EXPECT_EQ(parser.suggestFilters("abcx"), (std::vector<std::string>{"abcd", "abce"}));
    // A long filter name can be suggested for a short misspelling below its own length.
    EXPECT_EQ(parser.suggestFilters("xyzent"), (std::vector<std::string>{"indent"}));
    EXPECT_TRUE(parser.suggestFilters("x").empty());
    EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
    EXPECT_EQ(editDistance("", "abc"), 3u);
    EXPECT_EQ(editDistance("é", "e"), 1u);
}

}  // namespace
}  // namespace Templates::testing
