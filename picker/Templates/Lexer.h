#pragma once
// Template text to tokens, and the small text helpers every tag parser uses
// on tag contents.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "picker/Templates/Errors.h"

namespace Templates {

class Token {
public:
    enum class Kind { text, variable, comment, block };

    Token(Kind kind, std::string contents);
    static Token text(std::string contents) { return Token(Kind::text, std::move(contents)); }
    static Token variable(std::string contents) { return Token(Kind::variable, std::move(contents)); }
    static Token comment(std::string contents) { return Token(Kind::comment, std::move(contents)); }
    static Token block(std::string contents) { return Token(Kind::block, std::move(contents)); }

    Kind kind() const { return kind_; }
    const std::string& contents() const { return contents_; }
    // Where the token starts in the template text (set by `tokenize`).
    SourcePosition position() const { return position_; }
    void setPosition(SourcePosition position) { position_ = position; }
    // The contents split into words at blanks outside quotes.
    const std::vector<std::string>& components() const { return components_; }

    // Tokens compare by what they say, not where they stand.
    friend bool operator==(const Token& a, const Token& b) { return a.kind_ == b.kind_ && a.contents_ == b.contents_; }

private:
    Kind kind_;
    std::string contents_;
    std::vector<std::string> components_;  // made once; tags read them on every parse
    SourcePosition position_;
};

// Consumes template text from the front.
class SLScanner {
public:
    explicit SLScanner(std::string_view content) : content_(content) {}
    std::string_view content() const { return content_; }

    struct Match {
        std::string_view before;
        std::string_view delimiter;
    };
    // Text up to the first opening delimiter (content then starts at it), or
    // nothing when none is left (content is unchanged).
    std::optional<Match> scanUntilAny(const std::vector<std::string_view>& delimiters);
    // Text through the closing delimiter, or the empty text when there is none
    // (content then becomes empty).
    std::string_view scanThrough(std::string_view closing);

private:
    std::string_view content_;
};

std::vector<Token> tokenize(std::string_view templateText);
std::string trimmedTokenContents(std::string_view tagText);

// Words of the text cut at `separator` outside quotes; see the gluing rule
// in the implementation.
std::vector<std::string> quoteAwareSplit(std::string_view text, char separator);
// The text without the runs of `character` at both ends; a text made only of
// that character is returned unchanged.
std::string trim(std::string_view text, char character);
std::optional<size_t> indexOfFirstNot(std::string_view text, char character);
std::optional<size_t> indexAfterLastNot(std::string_view text, char character);

}  // namespace Templates
