#pragma once
// What a render works with: the template class to make, the extensions that
// supply tags and filters (the built-in one always last) and the loader.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"

namespace Templates {

class Template;
class Loader;
class Extension;
struct Environment;

// Constructs a template (or a subclass) from (text, environment, name).
using TemplateClass = std::function<std::shared_ptr<Template>(
    const std::string& templateString, const Environment& environment, const std::optional<std::string>& name)>;

struct Environment {
    TemplateClass templateClass;
    std::vector<std::shared_ptr<Extension>> extensions;
    std::shared_ptr<Loader> loader;

    // The caller's extensions come first, so they override built-in tags and
    // filters of the same name; a new DefaultExtension is appended.
    explicit Environment(std::shared_ptr<Loader> loader = nullptr,
                         std::vector<std::shared_ptr<Extension>> extensions = {}, TemplateClass templateClass = {});

    std::shared_ptr<Template> loadTemplate(const std::string& name) const;
    std::shared_ptr<Template> loadFirstTemplate(const std::vector<std::string>& names) const;
    std::string renderTemplate(const std::string& name,
                               const std::optional<Foundation::Dictionary>& dictionary = std::nullopt) const;
    std::string renderTemplateString(const std::string& templateString,
                                     const std::optional<Foundation::Dictionary>& dictionary = std::nullopt) const;
};

}  // namespace Templates
