// Renders arbitrary template text against a fixed context and a loader of a
// few fixed templates. Engine errors are expected; anything else (a crash, a
// sanitizer report, an uncaught exception, a hang) is a finding.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>

#include "Platform/Foundation/Error.h"
#include "picker/Templates/Templates.h"

namespace {

using Foundation::Array;
using Foundation::Dictionary;
using Foundation::Value;
using namespace Templates;

class Colour : public Foundation::Object {
public:
    Colour(std::string name, std::string hex) : name_(std::move(name)), hex_(std::move(hex)) {}
    std::string className() const override { return "RYColor"; }
    Value valueForKey(const std::string& key) const override {
        if (key == "name") return Value(name_);
        if (key == "hex") return Value(hex_);
        return Value();
    }
    std::vector<std::string> fieldNames() const override { return {"name", "hex"}; }

private:
    std::string name_, hex_;
};

Environment makeEnvironment() {
    auto loader = std::make_shared<DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{
        {"header", "<h1>{{ paletteName|uppercase }}</h1>"},
        {"row", "{{ colour.name }}={{ colour.hex }}"},
        {"base", "[{% block title %}base{% endblock %}|{% block body %}{{ block.super }}{% endblock %}]"},
        {"child", "{% extends 'base' %}{% block title %}child {{ block.super }}{% endblock %}"},
        {"loop", "{% include 'loop' %}"},
        {"selfish", "{% extends 'selfish' %}"},
    });
    return Environment(loader);
}

Dictionary makeContext() {
    Array colours{Value(std::make_shared<Colour>("Red", "#ff0000")),
                  Value(std::make_shared<Colour>("Green", "#00ff00")),
                  Value(std::make_shared<Colour>("Blue", "#0000ff"))};
    return Dictionary{
        {"colors", Value(colours)},
        {"paletteName", Value("Palette é")},
        {"names", Value(Array{Value("a"), Value("b c"), Value()})},
        {"d", Value(Dictionary{{"k", Value("v")},
                               {"n", Value(2)},
                               {"nothing", Value()},
                               {"inner", Value(Dictionary{{"x", Value(1.5)}})}})},
        {"n", Value(3)},
        {"f", Value(0.5)},
        {"t", Value(true)},
        {"text", Value("line one\nline two")},
        {"date", Value(Foundation::Date{0})},
        {"name", Value("header")},
    };
}

size_t occurrences(const std::string& text, const std::string& word, const std::string& unlessFollowedBy = "") {
    size_t count = 0;
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1)) {
        if (!unlessFollowedBy.empty() &&
            text.compare(pos + word.size(), unlessFollowedBy.size(), unlessFollowedBy) == 0)
            continue;
        ++count;
    }
    return count;
}

size_t longestDigitRun(const std::string& text) {
    size_t best = 0, run = 0;
    for (char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

// Legitimate templates can ask for a lot of work (nested loops over large
// ranges, includes inside them); keep each input to a bounded amount.
bool withinBudget(const std::string& text) {
    size_t loops = occurrences(text, "for", "loop");
    size_t includes = occurrences(text, "include") + occurrences(text, "extends");
    if (loops > 2 || includes > 2) return false;
    size_t digits = longestDigitRun(text);
    size_t allowed = loops == 0 ? 5 : loops == 1 ? (includes ? 2 : 3) : (includes ? 1 : 2);
    return digits <= allowed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Environment environment = makeEnvironment();
    static const Dictionary context = makeContext();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!withinBudget(text)) return 0;
    try {
        Template t(text, environment);
        (void)t.render(context);
        (void)t.render(context);
    } catch (const TemplateSyntaxError&) {
    } catch (const TemplateDoesNotExist&) {
    } catch (const SuspiciousFileOperation&) {
    } catch (const Foundation::Error&) {}
    return 0;
}
