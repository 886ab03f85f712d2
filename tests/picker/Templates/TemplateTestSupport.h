#pragma once
// Rendering helpers shared by the template engine's tests.

#include <gtest/gtest.h>

#include <string>

#include "picker/Templates/Templates.h"

namespace Templates::testing {

using Foundation::Array;
using Foundation::Dictionary;
using Foundation::Value;

inline std::string render(const std::string& text, const Dictionary& context = {},
                          const Environment& environment = Environment()) {
    return Template(text, environment).render(context);
}

// The message of the TemplateSyntaxError the render throws, or a note that it
// threw something else or nothing.
inline std::string renderError(const std::string& text, const Dictionary& context = {},
                               const Environment& environment = Environment()) {
    try {
        std::string out = render(text, context, environment);
        return "no error, rendered: " + out;
    } catch (const TemplateSyntaxError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return std::string("other error: ") + e.what();
    }
}

// A record of the kind the exporter passes: named fields read by key path.
class Record : public Foundation::Object {
public:
    Record(std::string className, Dictionary fields) : className_(std::move(className)), fields_(std::move(fields)) {}
    std::string className() const override { return className_; }
    Value valueForKey(const std::string& key) const override { return fields_[key]; }
    std::vector<std::string> fieldNames() const override { return fields_.keys(); }

private:
    std::string className_;
    Dictionary fields_;
};

inline Value record(Dictionary fields) { return Value(std::make_shared<Record>("Record", std::move(fields))); }

}  // namespace Templates::testing
