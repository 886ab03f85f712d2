#include "picker/Export/RYColor.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "Platform/Foundation/Text.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorItem.h"

namespace {

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Latin letters for any script, then plain ASCII ("ü" gives "u", "ß" "ss").
// Transliterators are not safe to share between threads: one per thread.
std::string asciiTransliteration(std::string_view text) {
    thread_local std::unique_ptr<icu::Transliterator> transliterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(t) : nullptr;
    }();
    if (!transliterator) return std::string(text);
    auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    transliterator->transliterate(unicode);
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

bool isIdentifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Words that cannot name a property in Swift or a method in Objective-C, and
// names the colour classes already have (a Swift extension cannot declare
// `black` again; an Objective-C category must not replace `alloc`).
bool isReservedWord(std::string_view word) {
    static const std::unordered_set<std::string_view> words = {
        // C and Objective-C
        "auto", "break", "case", "char", "const", "continue", "default", "do", "double", "else", "enum", "extern",
        "float", "for", "goto", "if", "inline", "int", "long", "register", "restrict", "return", "short", "signed",
        "sizeof", "static", "struct", "switch", "typedef", "union", "unsigned", "void", "volatile", "while", "id",
        "self", "super", "nil", "in", "out", "inout", "oneway", "bycopy", "byref", "true", "false", "bool",
        // Swift
        "associatedtype", "class", "deinit", "extension", "fileprivate", "func", "import", "init", "internal", "let",
        "open", "operator", "private", "precedencegroup", "protocol", "public", "rethrows", "subscript", "typealias",
        "var", "catch", "defer", "fallthrough", "guard", "repeat", "throw", "throws", "as", "any", "is", "try", "await",
        "async", "where", "new", "type", "protocol",
        // class members of NSObject that a colour would shadow or break
        "alloc", "copy", "mutableCopy", "description", "debugDescription", "hash", "superclass", "version", "load",
        "initialize", "zone",
        // the colour classes' own class properties (Swift names)
        "black", "blue", "brown", "clear", "cyan", "darkGray", "gray", "green", "lightGray", "magenta", "orange",
        "purple", "red", "white", "yellow", "systemBlue", "systemBrown", "systemCyan", "systemGray", "systemGray2",
        "systemGray3", "systemGray4", "systemGray5", "systemGray6", "systemGreen", "systemIndigo", "systemMint",
        "systemOrange", "systemPink", "systemPurple", "systemRed", "systemTeal", "systemYellow", "systemFill",
        "secondarySystemFill", "tertiarySystemFill", "quaternarySystemFill", "systemBackground",
        "secondarySystemBackground", "tertiarySystemBackground", "systemGroupedBackground",
        "secondarySystemGroupedBackground", "tertiarySystemGroupedBackground", "label", "secondaryLabel",
        "tertiaryLabel", "quaternaryLabel", "link", "placeholderText", "separator", "opaqueSeparator", "lightText",
        "darkText", "groupTableViewBackground", "tintColor", "labelColor", "secondaryLabelColor", "tertiaryLabelColor",
        "quaternaryLabelColor", "textColor", "placeholderTextColor", "selectedTextColor", "textBackgroundColor",
        "selectedTextBackgroundColor", "keyboardFocusIndicatorColor", "unemphasizedSelectedTextColor",
        "unemphasizedSelectedTextBackgroundColor", "linkColor", "separatorColor", "selectedContentBackgroundColor",
        "unemphasizedSelectedContentBackgroundColor", "selectedMenuItemTextColor", "gridColor", "headerTextColor",
        "controlAccentColor", "controlColor", "controlBackgroundColor", "controlTextColor", "disabledControlTextColor",
        "selectedControlColor", "selectedControlTextColor", "alternateSelectedControlTextColor",
        "windowBackgroundColor", "windowFrameTextColor", "underPageBackgroundColor", "findHighlightColor",
        "highlightColor", "shadowColor", "controlHighlightColor", "controlLightHighlightColor", "controlShadowColor",
        "controlDarkShadowColor", "scrollBarColor", "knobColor", "selectedKnobColor", "windowFrameColor",
        "selectedMenuItemColor", "headerColor", "secondarySelectedControlColor", "alternateSelectedControlColor",
        "scrubberTexturedBackground"};
    return words.count(word) != 0;
}

// The seven texts kept as values, so templates read them without copies.
class RYColorRecord : public Foundation::Object {
public:
    explicit RYColorRecord(RYColor color)
        : fields_{Foundation::Value(std::move(color.name)),  Foundation::Value(std::move(color.red)),
                  Foundation::Value(std::move(color.green)), Foundation::Value(std::move(color.blue)),
                  Foundation::Value(std::move(color.alpha)), Foundation::Value(std::move(color.flatName)),
                  Foundation::Value(std::move(color.hex))} {}
    std::string className() const override { return "RYColor"; }
    Foundation::Value valueForKey(const std::string& key) const override {
        if (const Foundation::Value* field = storedValueForKey(key)) return *field;
        return Foundation::Value();
    }
    const Foundation::Value* storedValueForKey(std::string_view key) const override {
        enum { name, red, green, blue, alpha, flatName, hex };
        switch (key.size()) {
            case 3:
                return key == "red" ? &fields_[red] : key == "hex" ? &fields_[hex] : nullptr;
            case 4:
                return key == "name" ? &fields_[name] : key == "blue" ? &fields_[blue] : nullptr;
            case 5:
                return key == "green" ? &fields_[green] : key == "alpha" ? &fields_[alpha] : nullptr;
            case 8:
                return key == "flatName" ? &fields_[flatName] : nullptr;
            default:
                return nullptr;
        }
    }
    std::vector<std::string> fieldNames() const override {
        return {"name", "red", "green", "blue", "alpha", "flatName", "hex"};
    }

private:
    Foundation::Value fields_[7];
};

}  // namespace

std::string RYColor::makeFlatName(std::string_view name) {
    std::string joined;
    bool first = true;
    std::size_t pos = 0;
    while (pos < name.size()) {
        const std::size_t end = std::min(name.find(' ', pos), name.size());
        if (end > pos) {
            const std::string_view word = name.substr(pos, end - pos);
            joined += first ? Foundation::lowercase(word) : Foundation::capitalized(word);
            first = false;
        }
        pos = end + 1;
    }
    if (!isASCII(joined)) joined = asciiTransliteration(joined);
    std::string flat;
    flat.reserve(joined.size() + 1);
    for (char c : joined)
        if (isIdentifierCharacter(c)) flat += c;
    if (!flat.empty() && ((flat[0] >= '0' && flat[0] <= '9') || isReservedWord(flat))) flat.insert(0, "_");
    return flat;
}

RYColor RYColor::fromColorItem(const ZNLColorItem& item) {
    const std::string stored = item.color();
    const std::string digits = stored.size() > 1 ? stored.substr(1, 6) : std::string();
    const auto color = colorWithHexRGB(digits);

    RYColor out;
    out.name = item.colorName();
    if (out.name.empty()) out.name = sharedColorNames().nameForColor(*color).value_or("");
    out.flatName = makeFlatName(out.name);
    const RGBAComponents c = rgbaComponents(*color);
    out.red = Foundation::format("%.10f", c.red);
    out.green = Foundation::format("%.10f", c.green);
    out.blue = Foundation::format("%.10f", c.blue);
    out.alpha = Foundation::format("%.2f", c.alpha);
    out.hex = hexRGB(*color);
    return out;
}

RYColor RYColor::htmlRecord(const ZNLColorItem& item) {
    const auto color = colorWithHexRGB(item.color().substr(0, 7));
    RYColor out;
    out.name = item.colorName();
    if (out.name.empty()) out.name = sharedColorNames().nameForColor(*color).value_or("");
    out.flatName = makeFlatName(out.name);
    const RGBAComponents c = rgbaComponents(*color);
    out.red = Foundation::format("%.0f", c.red * 255);
    out.green = Foundation::format("%.0f", c.green * 255);
    out.blue = Foundation::format("%.0f", c.blue * 255);
    out.alpha = Foundation::format("%.0f", c.alpha * 255);
    out.hex = hexRGB(*color);
    return out;
}

void makeFlatNamesUnique(std::vector<RYColor>& colors) {
    std::unordered_set<std::string> used;
    std::unordered_map<std::string, std::size_t> nextSuffix;  // where the search for a base resumes
    used.reserve(colors.size() * 2);
    for (auto& color : colors) {
        if (color.flatName.empty()) color.flatName = "color";
        if (used.insert(color.flatName).second) continue;
        // "red2" may itself be a colour's own identifier: take the first free one.
        std::size_t& n = nextSuffix.try_emplace(color.flatName, 2).first->second;
        for (;; ++n) {
            std::string candidate = color.flatName + std::to_string(n);
            if (used.insert(candidate).second) {
                color.flatName = std::move(candidate);
                break;
            }
        }
    }
}

Foundation::Value templateValue(RYColor color) {
    return Foundation::Value(std::make_shared<RYColorRecord>(std::move(color)));
}
