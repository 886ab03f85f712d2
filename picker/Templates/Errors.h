#pragma once
// The engine's error types. Every failure of a render is thrown as one of
// these (or, for files that cannot be read, as a Foundation::Error).

#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Templates {

class Loader;

class TemplateSyntaxError : public std::exception {
public:
    explicit TemplateSyntaxError(std::string description) : description_(std::move(description)) {}
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }
    friend bool operator==(const TemplateSyntaxError& a, const TemplateSyntaxError& b) {
        return a.description_ == b.description_;
    }

private:
    std::string description_;
};

class TemplateDoesNotExist : public std::exception {
public:
    // Without a loader the message says that no loaders were found.
    TemplateDoesNotExist(std::vector<std::string> templateNames, const Loader* loader);
    const std::vector<std::string>& templateNames() const { return templateNames_; }
    const std::shared_ptr<const Loader>& loader() const { return loader_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::vector<std::string> templateNames_;
    std::shared_ptr<const Loader> loader_;
    std::string description_;
};

// A template name that leads outside the loader's base directory.
class SuspiciousFileOperation : public std::exception {
public:
    SuspiciousFileOperation(std::filesystem::path basePath, std::filesystem::path path);
    const std::filesystem::path& basePath() const { return basePath_; }
    const std::filesystem::path& path() const { return path_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::filesystem::path basePath_;
    std::filesystem::path path_;
    std::string description_;
};

}  // namespace Templates
