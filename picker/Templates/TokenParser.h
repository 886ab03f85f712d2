#pragma once
// Tokens to nodes. Made anew for every render; tag parsers call back into it
// to parse their bodies up to their end tags.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picker/Templates/Environment.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/Node.h"

namespace Templates {

class TokenParser;
class FilterType;
class Resolvable;

using EndTagPredicate = std::function<bool(TokenParser&, const Token&)>;
// Holds for a token whose first word is one of the names.
EndTagPredicate endTagPredicate(std::vector<std::string> names);

class TokenParser {
public:
    TokenParser(std::vector<Token> tokens, Environment environment);
    // Shares a template's tokens without copying them.
    TokenParser(std::shared_ptr<const std::vector<Token>> tokens, Environment environment);

    // The tokens not consumed yet, the next one first.
    std::vector<Token> tokens() const;
    bool hasTokens() const { return !prepended_.empty() || position_ < source_->size(); }
    const Environment& environment() const { return environment_; }

    NodeList parse();
    // Parses until a block token for which the predicate holds (put back for
    // the caller) or until the tokens run out.
    NodeList parse(const EndTagPredicate& predicate);
    std::optional<Token> nextToken();
    void prependToken(Token token);

    std::shared_ptr<FilterType> findFilter(const std::string& name) const;
    std::vector<std::string> suggestFilters(const std::string& name) const;
    std::shared_ptr<Resolvable> compileFilter(const std::string& token);
    // A RangeVariable for "a...b", a FilterExpression otherwise.
    std::shared_ptr<Resolvable> compileResolvable(const std::string& token);

    // True while every tag parsed so far was a built-in one, so that parsing
    // the same tokens with the same tables gives the same nodes again.
    bool onlyBuiltInTags() const { return onlyBuiltInTags_; }

private:
    NodeList parse(const EndTagPredicate* predicate);

    std::shared_ptr<const std::vector<Token>> source_;
    size_t position_ = 0;
    std::vector<Token> prepended_;  // put back, the next one last
    Environment environment_;
    int nesting_ = 0;
    bool onlyBuiltInTags_ = true;
};

// Levenshtein distance over characters.
size_t editDistance(std::string_view a, std::string_view b);

}  // namespace Templates
