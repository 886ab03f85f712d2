#pragma once
// The engine's error types. Every failure of a render is thrown as one of
// these (or, for files that cannot be read, as a Foundation::Error).

#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Templates {

class Loader;

// Where a token starts in its template text: line and column from 1, the
// column counted in bytes.
struct SourcePosition {
    std::size_t line = 1;
    std::size_t column = 1;
    friend bool operator==(const SourcePosition&, const SourcePosition&) = default;
};

class TemplateSyntaxError : public std::exception {
public:
    explicit TemplateSyntaxError(std::string description) : description_(std::move(description)) {}
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }
    // The start of the token being parsed when the error arose; the
    // description never carries it, so messages read as they always have.
    const std::optional<SourcePosition>& position() const { return position_; }
    void setPosition(SourcePosition position) { position_ = position; }
    friend bool operator==(const TemplateSyntaxError& a, const TemplateSyntaxError& b) {
        return a.description_ == b.description_;
    }

private:
    std::string description_;
    std::optional<SourcePosition> position_;
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
