#include "picker/Templates/TokenParser.h"

#include <algorithm>

#include "picker/Templates/Characters.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Extension.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/Variable.h"

namespace Templates {

EndTagPredicate endTagPredicate(std::vector<std::string> names) {
    return [names = std::move(names)](TokenParser&, const Token& token) {
        const auto& words = token.components();
        if (words.empty()) return false;
        return std::find(names.begin(), names.end(), words.front()) != names.end();
    };
}

TokenParser::TokenParser(std::vector<Token> tokens, Environment environment)
    : source_(std::make_shared<const std::vector<Token>>(std::move(tokens))), environment_(std::move(environment)) {}

TokenParser::TokenParser(std::shared_ptr<const std::vector<Token>> tokens, Environment environment)
    : source_(std::move(tokens)), environment_(std::move(environment)) {
    if (!source_) source_ = std::make_shared<const std::vector<Token>>();
}

std::vector<Token> TokenParser::tokens() const {
    std::vector<Token> out(prepended_.rbegin(), prepended_.rend());
    out.insert(out.end(), source_->begin() + static_cast<std::ptrdiff_t>(position_), source_->end());
    return out;
}

std::optional<Token> TokenParser::nextToken() {
    if (!prepended_.empty()) {
        Token t = std::move(prepended_.back());
        prepended_.pop_back();
        return t;
    }
    if (position_ < source_->size()) return (*source_)[position_++];
    return std::nullopt;
}

void TokenParser::prependToken(Token token) {
    // The token just taken goes back by stepping back, without a copy.
    if (prepended_.empty() && position_ > 0 && (*source_)[position_ - 1] == token) {
        --position_;
        return;
    }
    prepended_.push_back(std::move(token));
}

NodeList TokenParser::parse() { return parse(static_cast<const EndTagPredicate*>(nullptr)); }

NodeList TokenParser::parse(const EndTagPredicate& predicate) { return parse(&predicate); }

NodeList TokenParser::parse(const EndTagPredicate* predicate) {
    if (nesting_ >= kMaxTagNesting)
        throw TemplateSyntaxError("Template tags are nested more than " + std::to_string(kMaxTagNesting) +
                                  " levels deep");
    ++nesting_;
    struct Unnest {
        int& n;
        ~Unnest() { --n; }
    } unnest{nesting_};

    NodeList nodes;
    while (hasTokens()) {
        // Tokens of the template itself are read in place; only put-back
        // tokens are copied.
        std::optional<Token> taken;
        const Token* token;
        if (!prepended_.empty()) {
            taken = nextToken();
            token = &*taken;
        } else {
            token = &(*source_)[position_++];
        }
        try {
            switch (token->kind()) {
                case Token::Kind::text:
                    nodes.push_back(std::make_shared<TextNode>(token->contents()));
                    break;
                case Token::Kind::variable:
                    nodes.push_back(std::make_shared<VariableNode>(compileResolvable(token->contents())));
                    break;
                case Token::Kind::comment:
                    break;
                case Token::Kind::block: {
                    if (predicate && (*predicate)(*this, *token)) {
                        prependToken(*token);
                        return nodes;
                    }
                    const auto& words = token->components();
                    if (words.empty()) break;
                    const TagParser* tag = nullptr;
                    for (const auto& extension : environment_.extensions) {
                        if ((tag = extension->tags().find(words.front()))) {
                            if (!extension->isBuiltInTag(words.front())) onlyBuiltInTags_ = false;
                            break;
                        }
                    }
                    if (!tag) throw TemplateSyntaxError("Unknown template tag '" + words.front() + "'");
                    nodes.push_back((*tag)(*this, *token));
                    break;
                }
            }
        } catch (TemplateSyntaxError& error) {
            // The innermost token that was being parsed says where.
            if (!error.position()) error.setPosition(token->position());
            throw;
        }
    }
    return nodes;
}

std::shared_ptr<FilterType> TokenParser::findFilter(const std::string& name) const {
    for (const auto& extension : environment_.extensions) {
        if (const auto* filter = extension->filters().find(name)) return *filter;
    }
    auto suggestions = suggestFilters(name);
    if (suggestions.empty()) throw TemplateSyntaxError("Unknown filter '" + name + "'.");
    std::string list;
    for (const auto& s : suggestions) {
        if (!list.empty()) list += ", ";
        list += "'" + s + "'";
    }
    throw TemplateSyntaxError("Unknown filter '" + name + "'. Found similar filters: " + list);
}

std::vector<std::string> TokenParser::suggestFilters(const std::string& name) const {
    std::vector<std::pair<std::string, size_t>> candidates;
    for (const auto& extension : environment_.extensions) {
        for (const auto& [filterName, filter] : extension->filters().entries()) {
            size_t distance = editDistance(name, filterName);
            if (distance < scalars(filterName).size()) candidates.emplace_back(filterName, distance);
        }
    }
    if (candidates.empty()) return {};
    size_t best = candidates.front().second;
    for (const auto& c : candidates) best = std::min(best, c.second);
    std::vector<std::string> out;
    for (const auto& c : candidates)
        if (c.second == best) out.push_back(c.first);
    return out;
}

std::shared_ptr<Resolvable> TokenParser::compileFilter(const std::string& token) {
    return std::make_shared<FilterExpression>(token, *this);
}

std::shared_ptr<Resolvable> TokenParser::compileResolvable(const std::string& token) {
    if (auto range = RangeVariable::make(token, *this)) return range;
    return compileFilter(token);
}

size_t editDistance(std::string_view a, std::string_view b) {
    auto sa = scalars(a), sb = scalars(b);
    std::vector<size_t> last(sa.size() + 1), current(sa.size() + 1);
    for (size_t j = 0; j <= sa.size(); ++j) last[j] = j;
    for (size_t i = 0; i < sb.size(); ++i) {
        current[0] = i + 1;
        for (size_t j = 0; j < sa.size(); ++j) {
            size_t substitution = last[j] + (sa[j] == sb[i] ? 0 : 1);
            current[j + 1] = std::min({last[j + 1] + 1, current[j] + 1, substitution});
        }
        std::swap(last, current);
    }
    return last[sa.size()];
}

}  // namespace Templates
