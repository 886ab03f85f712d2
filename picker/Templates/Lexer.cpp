#include "picker/Templates/Lexer.h"

namespace Templates {

namespace {

constexpr std::string_view kVariableOpen = "{{";
constexpr std::string_view kBlockOpen = "{%";
constexpr std::string_view kCommentOpen = "{#";

std::string_view closingFor(std::string_view opening) {
    if (opening == kVariableOpen) return "}}";
    if (opening == kBlockOpen) return "%}";
    return "#}";
}

Token makeToken(std::string_view text) {
    if (text.starts_with(kVariableOpen)) return Token::variable(trimmedTokenContents(text));
    if (text.starts_with(kBlockOpen)) return Token::block(trimmedTokenContents(text));
    if (text.starts_with(kCommentOpen)) return Token::comment(trimmedTokenContents(text));
    return Token::text(std::string(text));
}

const std::string kGlue = ",|:";

bool endsWithGlue(const std::string& word) { return !word.empty() && kGlue.find(word.back()) != std::string::npos; }

void addWord(std::vector<std::string>& words, std::string word) {
    // A word glues onto the previous one when that ends in a glue character,
    // or when it is itself a run of ",|:", so "a | b: 'x'" stays one word.
    if (!words.empty() && (endsWithGlue(words.back()) || kGlue.find(word) != std::string::npos)) {
        words.back() += word;
    } else {
        words.push_back(std::move(word));
    }
}

}  // namespace

Token::Token(Kind kind, std::string contents) : kind_(kind), contents_(std::move(contents)) {
    components_ = quoteAwareSplit(contents_, ' ');
}

std::optional<SLScanner::Match> SLScanner::scanUntilAny(const std::vector<std::string_view>& delimiters) {
    for (size_t i = 0; i < content_.size(); ++i) {
        if (content_[i] != '{') continue;
        std::string_view rest = content_.substr(i);
        for (auto d : delimiters) {
            if (rest.starts_with(d)) {
                Match m{content_.substr(0, i), d};
                content_ = rest;
                return m;
            }
        }
    }
    return std::nullopt;
}

std::string_view SLScanner::scanThrough(std::string_view closing) {
    // The search starts at the opening delimiter's first character, so "{#}"
    // is a whole comment.
    size_t pos = content_.find(closing);
    if (pos == std::string_view::npos) {
        content_ = {};
        return {};
    }
    std::string_view tag = content_.substr(0, pos + closing.size());
    content_ = content_.substr(pos + closing.size());
    return tag;
}

std::vector<Token> tokenize(std::string_view templateText) {
    static const std::vector<std::string_view> openings{kVariableOpen, kBlockOpen, kCommentOpen};
    std::vector<Token> tokens;
    SLScanner scanner(templateText);
    // Positions advance over the text between one token's start and the next.
    SourcePosition position;
    size_t counted = 0;
    auto add = [&](std::string_view text) {
        const size_t start = static_cast<size_t>(text.data() - templateText.data());
        for (; counted < start; ++counted) {
            if (templateText[counted] == '\n') {
                ++position.line;
                position.column = 1;
            } else {
                ++position.column;
            }
        }
        tokens.push_back(makeToken(text));
        tokens.back().setPosition(position);
    };
    while (!scanner.content().empty()) {
        auto match = scanner.scanUntilAny(openings);
        if (!match) {
            add(scanner.content());
            break;
        }
        if (!match->before.empty()) add(match->before);
        // An unclosed tag drops the rest of the text and leaves an empty text token.
        const std::string_view tagStart = scanner.content();
        const std::string_view tag = scanner.scanThrough(closingFor(match->delimiter));
        add(tag.empty() ? tagStart.substr(0, 0) : tag);
    }
    return tokens;
}

std::string trimmedTokenContents(std::string_view tagText) {
    if (tagText.size() < 5) return {};
    std::string_view inner = tagText.substr(2, tagText.size() - 4);
    std::string out;
    bool first = true;
    size_t start = 0;
    while (start <= inner.size()) {
        size_t end = inner.find('\n', start);
        if (end == std::string_view::npos) end = inner.size();
        std::string_view line = inner.substr(start, end - start);
        // A tag written with CRLF line ends breaks its lines the same way.
        if (!line.empty() && line.back() == '\r' && end < inner.size()) line.remove_suffix(1);
        if (!line.empty()) {
            if (!first) out += ' ';
            first = false;
            out += trim(line, ' ');
        }
        start = end + 1;
    }
    return out;
}

std::vector<std::string> quoteAwareSplit(std::string_view text, char separator) {
    std::vector<std::string> words;
    std::string word;
    char active = separator;
    size_t singleQuotes = 0, doubleQuotes = 0;
    for (char c : text) {
        if (c == '\'')
            ++singleQuotes;
        else if (c == '"')
            ++doubleQuotes;
        if (c == active) {
            if (active != separator) {
                word += c;  // the open quote closes
            } else if (!(singleQuotes % 2 == 1 && doubleQuotes % 2 == 1) && !word.empty()) {
                addWord(words, std::move(word));
                word.clear();
            }
            active = separator;
        } else {
            if (active == separator && (c == '\'' || c == '"')) active = c;
            word += c;
        }
    }
    if (!word.empty()) addWord(words, std::move(word));
    return words;
}

std::optional<size_t> indexOfFirstNot(std::string_view text, char character) {
    size_t pos = text.find_first_not_of(character);
    if (pos == std::string_view::npos) return std::nullopt;
    return pos;
}

std::optional<size_t> indexAfterLastNot(std::string_view text, char character) {
    size_t pos = text.find_last_not_of(character);
    if (pos == std::string_view::npos) return std::nullopt;
    return pos + 1;
}

std::string trim(std::string_view text, char character) {
    size_t start = indexOfFirstNot(text, character).value_or(0);
    size_t end = indexAfterLastNot(text, character).value_or(text.size());
    return std::string(text.substr(start, end - start));
}

}  // namespace Templates
