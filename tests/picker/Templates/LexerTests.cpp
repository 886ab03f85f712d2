#include <gtest/gtest.h>

#include "TemplateTestSupport.h"

namespace Templates::testing {
namespace {

using K = Token::Kind;

std::string show(const std::vector<Token>& tokens) {
    std::string out;
    for (const auto& t : tokens) {
        const char* kind = t.kind() == K::text       ? "text"
                           : t.kind() == K::variable ? "var"
                           : t.kind() == K::comment  ? "comment"
                                                     : "block";
        out += std::string(kind) + "<" + t.contents() + ">";
    }
    return out;
}

TEST(TemplateLexer, TokenizesTable) {
    struct Case {
        std::string text;
        std::string tokens;
    } cases[] = {
        {"", ""},
        {"plain text\n  kept", "text<plain text\n  kept>"},
        {"a{{ x }}b", "text<a>var<x>text<b>"},
        {"{{ x }}{{ y }}", "var<x>var<y>"},
        {"{{x}}", "var<x>"},
        {"{{}}", "var<>"},
        {"{#}", "comment<>"},
        {"{%}", "block<>"},
        {"{% %}", "block< >"},
        {"x{{ a }", "text<x>text<>"},
        {"Hello {{ name", "text<Hello >text<>"},
        {"{{ a }}}", "var<a>text<}>"},
        {"{% if a\n\n  and b %}", "block<if a and b>"},
        {"{% if a\r\n   and b %}", "block<if a and b>"},
        {"a{# note #}b", "text<a>comment<note>text<b>"},
        {"{% for x in y %}{{ x|upper }}{% endfor %}", "block<for x in y>var<x|upper>block<endfor>"},
    };
    for (const auto& c : cases) EXPECT_EQ(show(tokenize(c.text)), c.tokens) << c.text;
}

TEST(TemplateLexer, TokenEqualityComparesKindAndContents) {
    EXPECT_EQ(Token::text("a"), Token::text("a"));
    EXPECT_FALSE(Token::text("a") == Token::variable("a"));
    EXPECT_FALSE(Token::block("a") == Token::block("b"));
}

TEST(TemplateLexer, QuoteAwareSplitTable) {
    using Words = std::vector<std::string>;
    struct Case {
        std::string text;
        Words words;
    } cases[] = {
        {"for item in items", {"for", "item", "in", "items"}},
        {"name | default: 'no name'", {"name|default:'no name'"}},
        {"name| default", {"name|default"}},
        {"name |default", {"name", "|default"}},
        {"'a b' c", {"'a b'", "c"}},
        {"include \"x y.html\" ctx", {"include", "\"x y.html\"", "ctx"}},
        {"\"it's\" x", {"\"it's\"", "x"}},
        {"a|b c", {"a|b", "c"}},
        {"x ,y", {"x", ",y"}},
        {"key, value", {"key,value"}},
        {"if  a", {"if", "a"}},
        {"a \\' b", {"a", "\\' b"}},
        // Three single and three double quotes so far: the blank does not end the word.
        {"\"it's\" 'a\"b' c", {"\"it's\"", "'a\"b'c"}},
    };
    for (const auto& c : cases) EXPECT_EQ(quoteAwareSplit(c.text, ' '), c.words) << c.text;
    EXPECT_EQ(Token::block("if  a").components(), (Words{"if", "a"}));
}

TEST(TemplateLexer, TrimKeepsTextMadeOnlyOfTheCharacter) {
    EXPECT_EQ(trim("   ", ' '), "   ");
    EXPECT_EQ(trim("a ", ' '), "a");
    EXPECT_EQ(trim(" a ", ' '), "a");
    EXPECT_EQ(trim("", ' '), "");
    EXPECT_EQ(trim("--a-b--", '-'), "a-b");
}

}  // namespace
}  // namespace Templates::testing
