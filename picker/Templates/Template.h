#pragma once
// Templates made from text, files or bundle resources, and the loaders that
// find them by name for environments and the include and extends tags.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "picker/Templates/Environment.h"
#include "picker/Templates/Lexer.h"

namespace Foundation {
class Bundle;
}

namespace Templates {

class Template {
public:
    // Lexes the text; nothing is parsed until the template renders, so tag and
    // filter errors appear only then.
    Template(const std::string& templateString, std::optional<Environment> environment = std::nullopt,
             std::optional<std::string> name = std::nullopt);
    // A template written as a literal: no environment of its own, no name.
    Template(const char* templateString) : Template(std::string(templateString)) {}
    virtual ~Template() = default;

    const Environment& environment() const { return environment_; }
    const std::vector<Token>& tokens() const { return *tokens_; }
    const std::shared_ptr<const std::vector<Token>>& sharedTokens() const { return tokens_; }
    const std::optional<std::string>& name() const { return name_; }

    // Parses the tokens and renders them against the dictionary. The nodes of
    // an earlier render are used again when parsing anew could only give the
    // same ones: built-in tags only, and the extensions' tables unchanged.
    virtual std::string render(const std::optional<Foundation::Dictionary>& dictionary = std::nullopt) const;

    // A file URL ("file:///...") or a plain path; read as UTF-8.
    static std::shared_ptr<Template> fromURL(const std::string& url);
    static std::shared_ptr<Template> fromPath(const std::filesystem::path& path,
                                              std::optional<Environment> environment = std::nullopt,
                                              std::optional<std::string> name = std::nullopt);
    // A bundle resource without extension; the main bundle when none is given.
    // A missing resource throws Foundation::Error {NSCocoaErrorDomain, 4}.
    static std::shared_ptr<Template> fromBundle(const std::string& name, const Foundation::Bundle* bundle = nullptr);

private:
    struct Parsed;
    struct ParseCache;
    const Parsed* parse(std::shared_ptr<const Parsed>& owner) const;

    Environment environment_;
    std::shared_ptr<const std::vector<Token>> tokens_;
    std::optional<std::string> name_;
    std::shared_ptr<ParseCache> parseCache_;
};

// Finds templates by name.
class Loader : public std::enable_shared_from_this<Loader> {
public:
    virtual ~Loader() = default;
    // Throws TemplateDoesNotExist when the name is not found.
    virtual std::shared_ptr<Template> loadTemplate(const std::string& name, const Environment& environment) const = 0;
    // The first name found; by default each name is tried in turn and only
    // TemplateDoesNotExist moves on to the next.
    virtual std::shared_ptr<Template> loadFirstTemplate(const std::vector<std::string>& names,
                                                        const Environment& environment) const;
    // How the loader is written in error messages.
    virtual std::string description() const = 0;
};

class FileSystemLoader : public Loader {
public:
    explicit FileSystemLoader(std::vector<std::filesystem::path> paths) : paths_(std::move(paths)) {}
    // One path per bundle: the bundle's resource directory.
    static std::shared_ptr<FileSystemLoader> fromBundles(const std::vector<const Foundation::Bundle*>& bundles);

    const std::vector<std::filesystem::path>& paths() const { return paths_; }
    std::shared_ptr<Template> loadTemplate(const std::string& name, const Environment& environment) const override;
    // Base paths take precedence over the order of the names.
    std::shared_ptr<Template> loadFirstTemplate(const std::vector<std::string>& names,
                                                const Environment& environment) const override;
    // "FileSystemLoader([templates/, other])"
    std::string description() const override;

private:
    // The joined path when it stays inside the base path (throws
    // SuspiciousFileOperation otherwise).
    std::filesystem::path containedPath(const std::filesystem::path& base, const std::string& name) const;

    std::vector<std::filesystem::path> paths_;
};

class DictionaryLoader : public Loader {
public:
    explicit DictionaryLoader(std::vector<std::pair<std::string, std::string>> templates);
    std::shared_ptr<Template> loadTemplate(const std::string& name, const Environment& environment) const override;
    std::shared_ptr<Template> loadFirstTemplate(const std::vector<std::string>& names,
                                                const Environment& environment) const override;
    std::string description() const override { return "DictionaryLoader"; }

private:
    const std::string* find(const std::string& name) const;
    std::vector<std::pair<std::string, std::string>> templates_;
};

// Reads a file as UTF-8 text; failures are Foundation::Error values of the
// NSCocoaErrorDomain, thrown.
std::string readTextFile(const std::filesystem::path& path);

}  // namespace Templates
