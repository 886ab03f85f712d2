#include "picker/Templates/Extension.h"

#include <cstdint>
#include <cstring>

#include "Platform/Foundation/Text.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/Output.h"
#include "picker/Templates/Tags.h"
#include "picker/Templates/TextForms.h"

namespace Templates {

std::shared_ptr<Filter> Filter::simple(Simple function, InPlace inPlace, AppendTo appendTo,
                                       AppendToOutput appendToOutput) {
    auto f = std::make_shared<Filter>();
    f->simple_ = std::move(function);
    f->inPlace_ = inPlace;
    f->appendTo_ = appendTo;
    f->appendToOutput_ = appendToOutput;
    return f;
}

std::shared_ptr<Filter> Filter::arguments(WithArguments function) {
    auto f = std::make_shared<Filter>();
    f->withArguments_ = std::move(function);
    return f;
}

Value Filter::invoke(const Value& value, const std::vector<Value>& arguments) const {
    if (simple_) {
        if (!arguments.empty()) throw TemplateSyntaxError("cannot invoke filter with an argument");
        return simple_(value);
    }
    return withArguments_(value, arguments);
}

Value Filter::invoke(Value&& value, const std::vector<Value>& arguments) const {
    if (inPlace_ && arguments.empty()) return inPlace_(std::move(value));
    return invoke(static_cast<const Value&>(value), arguments);
}

bool Filter::invokeInto(const Value& value, const std::vector<Value>& arguments, std::string& out) const {
    return appendTo_ && arguments.empty() && appendTo_(value, out);
}

void Extension::registerTag(const std::string& name, TagParser parser) {
    tags_.set(name, std::move(parser));
    if (registeringBuiltIns_)
        builtInTags_.insert(name);
    else
        builtInTags_.erase(name);
    ++generation_;
}

void Extension::registerSimpleTag(const std::string& name, std::function<std::string(Context&)> handler) {
    registerTag(name, [handler = std::move(handler)](TokenParser&, const Token&) -> std::shared_ptr<NodeType> {
        return std::make_shared<SimpleNode>(handler);
    });
}

void Extension::registerFilter(const std::string& name, Filter::Simple function, Filter::InPlace inPlace,
                               Filter::AppendTo appendTo, Filter::AppendToOutput appendToOutput) {
    filters_.set(name, Filter::simple(std::move(function), inPlace, appendTo, appendToOutput));
    ++generation_;
}

void Extension::registerFilterWithArguments(const std::string& name, Filter::WithArguments function) {
    filters_.set(name, Filter::arguments(std::move(function)));
    ++generation_;
}

namespace {

Value defaultFilter(const Value& value, const std::vector<Value>& arguments) {
    // Only a real null is missing: the text "nil" is text.
    if (!value.isNull()) return value;
    for (const auto& argument : arguments)
        if (!argument.isNull()) return argument;
    return Value();
}

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// ASCII text maps the same in every case mapping; only the rest needs ICU.
std::string uppercaseText(std::string_view text) {
    if (!isASCII(text)) return Foundation::uppercase(text);
    std::string out(text);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string lowercaseText(std::string_view text) {
    if (!isASCII(text)) return Foundation::lowercase(text);
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool isASCIIText(const std::string& text) {
    // Eight bytes at a time: names and hex texts are short, but not that short.
    std::uint64_t seen = 0;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        seen |= word;
    }
    for (; i < text.size(); ++i) seen |= static_cast<unsigned char>(text[i]);
    return (seen & 0x8080808080808080ull) == 0;
}

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// ASCII bytes (eight or four in a word) with the letters From..From+25
// moved to To..To+25: a byte at or above From, and not above the last
// letter, gets the case bit flipped. Each byte stays below 0x80 + 0x80, so
// no sum carries into the next byte.
template <char From, char To, class Word>
Word mapWord(Word word) {
    constexpr Word every = static_cast<Word>(kEveryByte);
    constexpr Word atLeastFirst = every * (0x80 - static_cast<unsigned>(From));
    constexpr Word aboveLast = every * (0x80 - static_cast<unsigned>(From) - 26);
    const Word letters = (word + atLeastFirst) & ~(word + aboveLast) & static_cast<Word>(kHighBits);
    return word ^ static_cast<Word>(letters >> 2);  // 0x80 >> 2 is the case bit, 0x20
}

// Writes ASCII text from `from` to `to` (the same place, or a copy of it)
// mapped, a word at a time; false as soon as a byte is not ASCII, with `to`
// then partly written. A mapped letter is not mapped again, so a last word
// may overlap the one before it; words are read from `from`, which is not
// being written when it is a copy (a word read across several fresh
// writes would wait for them).
template <char From, char To>
bool mapASCIIWords(const char* from, char* to, size_t size) {
    static_assert((From ^ To) == 0x20, "ASCII letters differ by the case bit");
    auto mapAt = [from, to]<class Word>(size_t at, Word) {
        Word word;
        std::memcpy(&word, from + at, sizeof word);
        if (word & static_cast<Word>(kHighBits)) return false;
        word = mapWord<From, To>(word);
        std::memcpy(to + at, &word, sizeof word);
        return true;
    };
    if (size >= 8) {
        size_t i = 0;
        for (; i + 8 <= size; i += 8)
            if (!mapAt(i, std::uint64_t{})) return false;
        return i == size || mapAt(size - 8, std::uint64_t{});
    }
    if (size >= 4) return mapAt(0, std::uint32_t{}) && mapAt(size - 4, std::uint32_t{});
    for (size_t i = 0; i < size; ++i) {
        auto c = static_cast<unsigned char>(from[i]);
        if (c & 0x80) return false;
        to[i] = static_cast<char>(c ^ ((c - static_cast<unsigned>(From)) < 26u ? 0x20 : 0));
    }
    return true;
}

// Case mapping of ASCII text in place; false (and nothing changed) for other text.
template <char From, char To>
bool mapASCII(std::string& text) {
    if (!isASCIIText(text)) return false;
    return mapASCIIWords<From, To>(text.data(), text.data(), text.size());
}

// The in-place forms of uppercase and lowercase: ASCII text given up by the
// caller is mapped where it is; anything else goes the ordinary way.
template <char From, char To, std::string (*Transform)(std::string_view)>
Value mapTextInPlace(Value&& value) {
    if (const auto* text = value.stringOrNull()) {
        // The value is the caller's to give up, so its text may change.
        if (mapASCII<From, To>(const_cast<std::string&>(*text))) return std::move(value);
        return Value(Transform(*text));
    }
    if (value.isArray()) {
        auto& array = value.mutableArray();
        for (auto& element : array) {
            std::string text = stringify(element);
            if (!mapASCII<From, To>(text)) text = Transform(text);
            element = Value(std::move(text));
        }
        return std::move(value);
    }
    return Value(Transform(stringify(value)));
}

// The appending forms of uppercase and lowercase: text is mapped as it is
// written into the output (ASCII a word at a time, the rest the ordinary way).
template <char From, char To, std::string (*Transform)(std::string_view)>
bool appendMappedText(const Value& value, Output& out) {
    const auto* text = value.stringOrNull();
    if (!text) return false;
    if (mapASCIIWords<From, To>(text->data(), out.room(text->size()), text->size()))
        out.commit(text->size());
    else
        out.append(Transform(*text));
    return true;
}

template <char From, char To, std::string (*Transform)(std::string_view)>
bool appendMappedTextToString(const Value& value, std::string& out) {
    Output output(out);
    return appendMappedText<From, To, Transform>(value, output);
}

Filter::Simple textFilter(std::string (*transform)(std::string_view)) {
    return [transform](const Value& value) -> Value {
        if (const auto* array = value.arrayOrNull()) {
            Foundation::Array out;
            out.reserve(array->size());
            for (const auto& element : *array) out.emplace_back(transform(stringify(element)));
            return Value(std::move(out));
        }
        return Value(transform(stringify(value)));
    };
}

Value joinFilter(const Value& value, const std::vector<Value>& arguments) {
    if (arguments.size() > 1) throw TemplateSyntaxError("'join' filter takes a single argument");
    std::string separator = arguments.empty() ? std::string() : stringify(arguments[0]);
    const auto* array = value.arrayOrNull();
    if (!array) return value;
    std::string out;
    bool first = true;
    for (const auto& element : *array) {
        if (!first) out += separator;
        first = false;
        out += stringify(element);
    }
    return Value(std::move(out));
}

Value splitFilter(const Value& value, const std::vector<Value>& arguments) {
    if (arguments.size() > 1) throw TemplateSyntaxError("'split' filter takes a single argument");
    std::string separator = arguments.empty() ? std::string(" ") : stringify(arguments[0]);
    const auto* text = value.stringOrNull();
    if (!text) return value;
    Foundation::Array out;
    if (separator.empty()) {
        out.emplace_back(*text);
        return Value(std::move(out));
    }
    size_t start = 0;
    while (true) {
        size_t pos = text->find(separator, start);
        if (pos == std::string::npos) {
            out.emplace_back(text->substr(start));
            break;
        }
        out.emplace_back(text->substr(start, pos - start));
        start = pos + separator.size();
    }
    return Value(std::move(out));
}

// Length of the newline character at `i`, or 0: U+000A to U+000D, U+0085,
// U+2028 and U+2029, each one break.
size_t newlineAt(const std::string& s, size_t i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x0A && c <= 0x0D) return 1;
    if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) return 2;
    if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80) {
        auto d = static_cast<unsigned char>(s[i + 2]);
        if (d == 0xA8 || d == 0xA9) return 3;
    }
    return 0;
}

Value indentFilter(const Value& value, const std::vector<Value>& arguments) {
    if (arguments.size() > 3) throw TemplateSyntaxError("'indent' filter can take at most 3 arguments");
    std::int64_t width = 4;
    std::string indentation = " ";
    bool indentFirst = false;
    if (!arguments.empty()) {
        if (!arguments[0].isInt())
            throw TemplateSyntaxError("'indent' filter width argument must be an Integer (" +
                                      optionalForm(arguments[0]) + ")");
        width = arguments[0].asInt();
        if (width < 0)
            throw TemplateSyntaxError("'indent' filter width argument must not be negative (" + std::to_string(width) +
                                      ")");
        if (width > kMaxIndentWidth)
            throw TemplateSyntaxError("'indent' filter width argument must be at most " +
                                      std::to_string(kMaxIndentWidth) + " (" + std::to_string(width) + ")");
    }
    if (arguments.size() > 1) {
        if (!arguments[1].isString())
            throw TemplateSyntaxError("'indent' filter indentation argument must be a String (" +
                                      optionalForm(arguments[1]) + ")");
        indentation = arguments[1].asString();
    }
    if (arguments.size() > 2) {
        if (!arguments[2].isBool()) throw TemplateSyntaxError("'indent' filter indentFirst argument must be a Bool");
        indentFirst = arguments[2].asBool();
    }
    std::string text = stringify(value);
    std::string indent;
    for (std::int64_t i = 0; i < width; ++i) indent += indentation;
    if (indent.empty()) return Value(std::move(text));

    std::string out;
    size_t lineStart = 0;
    bool firstLine = true;
    auto emitLine = [&](size_t end) {
        if (!firstLine) out += '\n';
        bool empty = end == lineStart;
        if (firstLine ? indentFirst : !empty) out += indent;
        out.append(text, lineStart, end - lineStart);
        firstLine = false;
    };
    for (size_t i = 0; i < text.size();) {
        if (size_t n = newlineAt(text, i)) {
            emitLine(i);
            i += n;
            lineStart = i;
        } else {
            ++i;
        }
    }
    emitLine(text.size());
    return Value(std::move(out));
}

}  // namespace

DefaultExtension::DefaultExtension() {
    registeringBuiltIns_ = true;
    registerBuiltInTags(*this);
    registeringBuiltIns_ = false;
    registerFilterWithArguments("default", defaultFilter);
    registerFilter("capitalize", textFilter(Foundation::capitalized));
    registerFilter("uppercase", textFilter(uppercaseText), mapTextInPlace<'a', 'A', uppercaseText>,
                   appendMappedTextToString<'a', 'A', uppercaseText>, appendMappedText<'a', 'A', uppercaseText>);
    registerFilter("lowercase", textFilter(lowercaseText), mapTextInPlace<'A', 'a', lowercaseText>,
                   appendMappedTextToString<'A', 'a', lowercaseText>, appendMappedText<'A', 'a', lowercaseText>);
    registerFilterWithArguments("join", joinFilter);
    registerFilterWithArguments("split", splitFilter);
    registerFilterWithArguments("indent", indentFilter);
}

}  // namespace Templates
