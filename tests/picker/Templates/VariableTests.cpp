#include <gtest/gtest.h>

#include "TemplateTestSupport.h"

namespace Templates::testing {
namespace {

Dictionary paletteContext() {
    Array colors{
        record({{"name", Value("Red")}, {"hex", Value("#ff0000")}}),
        record({{"name", Value("Green")}, {"hex", Value("#00ff00")}}),
        record({{"name", Value("Blue")}, {"hex", Value("#0000ff")}}),
    };
    return Dictionary{
        {"colors", Value(colors)},
        {"names", Value(Array{Value("a"), Value("b")})},
        {"d", Value(Dictionary{{"count", Value("x")}, {"k", Value("v")}, {"gone", Value()}})},
        {"key", Value("k")},
        {"index", Value(1)},
        {"nilText", Value("nil")},
        {"inf", Value("unreachable")},
        {"empty", Value(Array{})},
    };
}

TEST(TemplateVariable, LiteralsAndKeyPathsTable) {
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{{ 'hello' }}", "hello"},
        {"{{ \"hello\" }}", "hello"},
        {"{{ '' }}", ""},
        {"{{ 'it\\'s' }}", "it\\'s"},
        {"{{ 'a\" }}", ""},  // mixed quotes read as a key path
        {"{{ 42 }}", "42"},
        {"{{ -7 }}", "-7"},
        {"{{ +3 }}", "3"},
        {"{{ 1.5 }}", "1.5"},
        {"{{ 0.1 }}", "0.1"},
        {"{{ 1e3 }}", "1000.0"},
        {"{{ inf }}", "inf"},
        {"{{ nan }}", "nan"},
        {"{{ 0x10 }}", "16.0"},
        {"{{ true }}", "true"},
        {"{{ True }}", ""},
        {"{{ colors.count }}", "3"},
        {"{{ colors.first.name }}", "Red"},
        {"{{ colors.last.name }}", "Blue"},
        {"{{ colors.2.hex }}", "#0000ff"},
        {"{{ colors[2].hex }}", "#0000ff"},
        {"{{ colors[index].name }}", "Green"},
        {"{{ colors.5 }}", ""},
        {"{{ colors.size.count }}", "3"},
        {"{{ colors.0.0 }}", "Red"},  // a record's field by position
        {"{{ empty.first }}", ""},
        {"{{ d.count }}", "2"},  // the null entry is dropped; the key "count" does not win
        {"{{ d.k }}", "v"},
        {"{{ d[key] }}", "v"},
        {"{{ d['k'] }}", "v"},
        {"{{ names[index] }}", "b"},
        {"{{ names }}", "[\"a\", \"b\"]"},
        {"{{ nilText }}", "nil"},
        {"{{ a. }}", ""},
        {"{{ missing.deeper.still }}", ""},
        {"{{ names.0.count }}", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, paletteContext()), c.output) << c.text;
}

TEST(TemplateVariable, KeyPathErrorsTable) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"{{ a..b }}", "Unexpected '.' in variable 'a..b'"},
        {"{{ .a }}", "Unexpected '.' in variable '.a'"},
        {"{{ a.[0] }}", "Unexpected '[' in variable 'a.[0]'"},
        {"{{ [0] }}", "Unexpected '[' in variable '[0]'"},
        {"{{ a] }}", "Unbalanced ']' in variable 'a]'"},
        {"{{ a[0 }}", "Unbalanced subscript brackets in variable 'a[0'"},
        {"{{ a[0]b }}", "Unexpected character 'b' in variable 'a[0]b'"},
        {"{{ a[é]ñ }}", "Unable to resolve subscript 'é' in variable 'a[é]ñ'"},
        {"{{ names[0]é }}", "Unexpected character 'é' in variable 'names[0]é'"},
        {"{{ a[] }}", "Unable to resolve subscript '' in variable 'a[]'"},
        {"{{ a[x] }}", "Unable to resolve subscript 'x' in variable 'a[x]'"},
        {"{{}}", "Variable tags must include at least 1 argument"},
        {"{{ | }}", "Variable tags must include at least 1 argument"},
    };
    for (const auto& c : cases) EXPECT_EQ(renderError(c.text, paletteContext()), c.error) << c.text;
}

TEST(TemplateVariable, DeeplyNestedSubscriptsFailInsteadOfOverflowing) {
    std::string text = "{{ a" + std::string(5000, '[') + "0" + std::string(5000, ']') + " }}";
    EXPECT_EQ(renderError(text).rfind("Subscripts nested more than 256 levels deep", 0), 0u);
}

TEST(TemplateVariable, FilterExpressionSyntax) {
    Dictionary context{{"name", Value("ab")}, {"list", Value(Array{Value("x"), Value("y")})}};
    EXPECT_EQ(render("{{ name|uppercase }}", context), "AB");
    EXPECT_EQ(render("{{ name | uppercase }}", context), "AB");
    EXPECT_EQ(render("{{ name||uppercase }}", context), "AB");
    EXPECT_EQ(render("{{ list|join:', ' }}", context), "x, y");
    EXPECT_EQ(render("{{ missing|default:'a:b' }}", context), "a:b");
    EXPECT_EQ(renderError("{{ name|lowercase:1 }}", context), "cannot invoke filter with an argument");
    EXPECT_EQ(renderError("{{ name|: }}", context), "Missing filter name in 'name|:'");
}

TEST(TemplateVariable, RangesTable) {
    Dictionary context{{"three", Value(3)}, {"text", Value("abc")}, {"big", Value(16777217)}, {"two", Value(2.0)}};
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{{ 1...3 }}", "[1, 2, 3]"},
        {"{{ 3...1 }}", "[3, 2, 1]"},
        {"{{ 2...2 }}", "[2]"},
        {"{{ 1...three }}", "[1, 2, 3]"},
        {"{{ two...three }}", "[2, 3]"},
        {"{{ 1.0...2 }}", "[1, 2]"},
        {"{{ -1...1 }}", "[-1, 0, 1]"},
        // Integers stay exact: 2^24 + 1 is not rounded through a float.
        {"{{ 16777216...big }}", "[16777216, 16777217]"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, context), c.output) << c.text;

    EXPECT_EQ(renderError("{{ 1...2...3 }}", context), "Unexpected '.' in variable '1...2...3'");
    EXPECT_EQ(renderError("{{ missing...3 }}", context), "'from' value is not an Integer (nil)");
    EXPECT_EQ(renderError("{{ 1...text }}", context), "'to' value is not an Integer (abc )");
    EXPECT_EQ(renderError("{{ 1.5...3 }}", context), "'from' value is not an Integer (1.5)");
    EXPECT_EQ(renderError("{{ 1...2000000 }}", context), "Range 1...2000000 is too large: more than 1000000 values");
    EXPECT_EQ(renderError("{{ -9223372036854775808...9223372036854775807 }}", context),
              "Range -9223372036854775808...9223372036854775807 is too large: more than 1000000 values");
}

// An object in the context that is itself resolvable renders through its own resolution.
class Greeting : public Foundation::Object, public Resolvable {
public:
    std::string className() const override { return "Greeting"; }
    Value resolve(Context& context) const override { return Value("hi " + textualForm(context.value("name"))); }
    std::string description() const override { return "Greeting"; }
};

TEST(TemplateVariable, ResolvableValuesResolveInTheSameContext) {
    Dictionary context{{"g", Value(std::make_shared<Greeting>())}, {"name", Value("Ann")}};
    EXPECT_EQ(render("{{ g }}", context), "hi Ann");
}

// An object that offers some of its values as stored (read in place) and
// makes the others on each request, as records of the exporter do.
class StoredRecord : public Foundation::Object {
public:
    StoredRecord(Dictionary stored, Dictionary made) : stored_(std::move(stored)), made_(std::move(made)) {}
    std::string className() const override { return "StoredRecord"; }
    Value valueForKey(const std::string& key) const override {
        if (const Value* v = stored_.find(key); v && !v->isNull()) return *v;
        // A fresh object each time: it lives only as long as the reader keeps it.
        if (key == "fresh") return Value(std::make_shared<StoredRecord>(stored_, Dictionary{}));
        return made_[key];
    }
    const Value* storedValueForKey(std::string_view key) const override { return stored_.find(key); }
    std::vector<std::string> fieldNames() const override { return {"name", "hex"}; }

private:
    Dictionary stored_;
    Dictionary made_;
};

TEST(TemplateVariable, ObjectsStoredAndMadeValuesReadAlike) {
    Dictionary stored{{"name", Value("Sky Blue")},
                      {"hex", Value("#87ceeb")},
                      {"gap", Value()},
                      {"inner", Value(Dictionary{{"k", Value("v")}, {"gone", Value()}})},
                      {"list", Value(Array{Value("a"), Value("b")})}};
    Dictionary context{
        {"r", Value(std::make_shared<StoredRecord>(stored, Dictionary{{"made", Value("m")}, {"gap", Value("g")}}))},
        {"rs", Value(Array{Value(std::make_shared<StoredRecord>(stored, Dictionary{}))})},
    };
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{{ r.name }} {{ r.hex|uppercase }} {{ r.name|lowercase }} {{ r.name }}", "Sky Blue #87CEEB sky blue Sky Blue"},
        {"{{ r.made }}", "m"},
        // A stored null is no answer: the object is asked.
        {"{{ r.gap }}", "g"},
        {"{{ r.0 }}|{{ r.1 }}|{{ r.2 }}", "Sky Blue|#87ceeb|"},
        {"{{ r.inner }}", "[\"k\": \"v\"]"},
        {"{{ r.inner.count }} {{ r.inner.gone }}{{ r.list.last }} {{ r.list.count }}", "1 b 2"},
        // Values read through an object made on the way outlive it.
        {"{{ r.fresh.name }} {{ r.fresh.name|uppercase }} {{ r.fresh.list.first }} {{ r.fresh.fresh.hex }}",
         "Sky Blue SKY BLUE a #87ceeb"},
        {"{% for c in rs %}{% for c2 in rs %}{{ c.fresh.name|lowercase }}{{ c2.name }}{% endfor %}{% endfor %}",
         "sky blueSky Blue"},
        {"{% for c in rs where c.fresh.hex == '#87ceeb' %}{{ c.name }}{% endfor %}", "Sky Blue"},
        {"{% if r.fresh.name == 'Sky Blue' and r.missing == nothing %}yes{% endif %}", "yes"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, context), c.output) << c.text;
}

TEST(TemplateVariable, TextFormsOfValues) {
    Dictionary context{
        {"list", Value(Array{Value(1), Value(), Value(3)})},
        {"nested", Value(Array{Value(Array{Value(2)})})},
        {"quoted", Value(Array{Value("a\"b\n")})},
        {"dict", Value(Dictionary{{"a", Value(1)}, {"b", Value("x")}})},
        {"emptyDict", Value(Dictionary{})},
        {"yes", Value(true)},
        {"seven", Value(7)},
        {"half", Value(0.5)},
        {"third", Value(1.0 / 3.0)},
        {"huge", Value(1e20)},
        {"date", Value(Foundation::Date{86400.5})},
        {"object", record({})},
    };
    struct Case {
        std::string text;
        std::string output;
    } cases[] = {
        {"{{ list }}", "[1, nil, 3]"},
        {"{{ nested }}", "[[2]]"},
        {"{{ quoted }}", "[\"a\\\"b\\n\"]"},
        {"{{ dict }}", "[\"a\": 1, \"b\": \"x\"]"},
        {"{{ emptyDict }}", "[:]"},
        {"{{ yes }}", "true"},
        {"{{ seven }}", "7"},
        {"{{ half }}", "0.5"},
        {"{{ third }}", "0.3333333333333333"},
        {"{{ huge }}", "1e+20"},
        {"{{ date }}", "1970-01-02 00:00:00 +0000"},
        {"{{ object }}", "<Record>"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.text, context), c.output) << c.text;
}

}  // namespace
}  // namespace Templates::testing
