#include <gtest/gtest.h>

#include "TemplateTestSupport.h"
#include "picker/Templates/IfTag.h"

namespace Templates::testing {
namespace {

std::string truth(const std::string& condition, const Dictionary& context) {
    return render("{% if " + condition + " %}T{% else %}F{% endif %}", context);
}

Dictionary valuesContext() {
    return Dictionary{
        {"emptyList", Value(Array{})},
        {"oneList", Value(Array{Value(1)})},
        {"emptyDict", Value(Dictionary{})},
        {"oneDict", Value(Dictionary{{"k", Value(1)}})},
        {"zero", Value(0)},
        {"minusOne", Value(-1)},
        {"minusHalf", Value(-0.5)},
        {"quarter", Value(0.25)},
        {"falseText", Value("false")},
        {"zeroText", Value("0")},
        {"emptyText", Value("")},
        {"one", Value(1)},
        {"oneDouble", Value(1.0)},
        {"oneText", Value("1")},
        {"yes", Value(true)},
        {"ten", Value("10")},
        {"nine", Value("9")},
        {"big", Value(16777217)},
        {"bigger", Value(16777216)},
        {"list", Value(Array{Value("a"), Value(2), Value("c")})},
        {"text", Value("colour")},
        {"dict", Value(Dictionary{{"a", Value(1)}})},
        {"x", Value("a")},
        {"two", Value(2)},
        {"decomposed", Value("e\xCC\x81")},
        {"composed", Value("\xC3\xA9")},
        {"object", record({})},
    };
}

TEST(TemplateExpressions, TruthAndComparisonTable) {
    struct Case {
        std::string condition;
        std::string result;
    } cases[] = {
        {"emptyList", "F"},
        {"oneList", "T"},
        {"emptyDict", "F"},
        {"oneDict", "T"},
        {"zero", "F"},
        {"minusOne", "F"},
        {"minusHalf", "F"},
        {"quarter", "T"},
        {"falseText", "T"},
        {"zeroText", "T"},
        {"emptyText", "F"},
        {"missing", "F"},
        {"object", "T"},
        {"yes", "T"},
        {"missing == alsomissing", "T"},
        {"missing != alsomissing", "F"},
        {"missing == one", "F"},
        {"one == oneDouble", "T"},
        {"one == oneText", "F"},
        {"yes == one", "F"},
        {"one == 1", "T"},
        {"oneText == '1'", "T"},
        {"composed == decomposed", "T"},
        {"list == list", "F"},
        // Integers compare exactly; a 32-bit float only where a float is involved.
        {"big == bigger", "F"},
        {"big > bigger", "T"},
        {"16777217 == 16777216", "F"},
        {"16777217 == 16777216.0", "T"},
        {"ten > nine", "F"},
        {"ten < nine", "F"},
        {"two > one", "T"},
        {"two >= 2", "T"},
        {"one < 1.5", "T"},
        {"one <= 0", "F"},
        {"nan > one", "F"},
        {"nan < one", "F"},
        {"missing < one", "F"},
        {"x in list", "T"},
        {"two in list", "T"},
        {"'b' in list", "F"},
        {"'lou' in text", "T"},
        {"'' in text", "T"},
        {"'a' in dict", "F"},
        {"missing in alsomissing", "T"},
        {"one in missing", "F"},
        {"2 in 1...3", "T"},
        {"4 in 1...3", "F"},
        {"not one", "F"},
        {"not missing", "T"},
        {"not one == 2", "T"},
        {"one or missing.x[0", "T"},  // the right side is never resolved
        {"zero and missing[", "F"},
        {"zero or one and two", "T"},
        // Operands of value comparisons must be plain variables.
        {"not one == not one", "T"},
        {"one != not one", "T"},
        {"x in list or zero", "F"},
    };
    for (const auto& c : cases) EXPECT_EQ(truth(c.condition, valuesContext()), c.result) << c.condition;
}

TEST(TemplateExpressions, ErrorsTable) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"{% if %}{% endif %}", "'if' expression error: end"},
        {"{% if not %}{% endif %}", "'if' expression error: end"},
        {"{% if a and %}{% endif %}", "'if' expression error: end"},
        {"{% if and a %}{% endif %}", "'if' expression error: infix operator 'and' doesn't have a left hand side"},
        {"{% if a not b %}{% endif %}",
         "'if' expression error: prefix operator 'not' was called with a left hand side"},
        {"{% if a b %}{% endif %}", "'if' expression error: dangling token"},
        {"{% if a|q %}{% endif %}", "Unknown filter 'q'."},
        {"{% if one or two[ %}{% endif %}", "no error, rendered: "},
        {"{% if missing or two[ %}{% endif %}", "Unbalanced subscript brackets in variable 'two['"},
    };
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text, Dictionary{{"one", Value(1)}}), c.error) << c.text;
}

std::string describe(const std::string& condition) {
    Environment environment;
    TokenParser parser(std::vector<Token>{}, environment);
    return IfExpressionParser(quoteAwareSplit(condition, ' '), parser).parse()->description();
}

TEST(TemplateExpressions, PrecedenceShowsInDescriptions) {
    EXPECT_EQ(describe("a or b or c"), "(((variable: a) or (variable: b)) or (variable: c))");
    EXPECT_EQ(describe("not a == b"), "not ((variable: a) == (variable: b))");
    EXPECT_EQ(describe("not a and b"), "(not (variable: a) and (variable: b))");
    EXPECT_EQ(describe("a in b or c"), "((variable: a) in ((variable: b) or (variable: c)))");
    EXPECT_EQ(describe("a or b in c"), "(((variable: a) or (variable: b)) in (variable: c))");
    EXPECT_EQ(describe("a >= 1 and b != 2"), "(((variable: a) >= (variable: 1)) and ((variable: b) != (variable: 2)))");
    EXPECT_EQ(StaticExpression(true).description(), "true");
    EXPECT_EQ(NumericExpression(std::make_shared<StaticExpression>(true), std::make_shared<StaticExpression>(false))
                  .description(),
              "(true  false)");
}

TEST(TemplateExpressions, ToNumber) {
    EXPECT_EQ(toNumber(Value(16777217)), 16777216.0f);
    EXPECT_EQ(toNumber(Value(1.5)), 1.5f);
    EXPECT_FALSE(toNumber(Value(true)).has_value());
    EXPECT_FALSE(toNumber(Value("1")).has_value());
    EXPECT_FALSE(toNumber(Value()).has_value());
}

}  // namespace
}  // namespace Templates::testing
