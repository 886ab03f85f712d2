#include "picker/Templates/Characters.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace Templates {

namespace {

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

}  // namespace

std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> out;
    out.reserve(text.size());
    icu::BreakIterator* it = isASCII(text) ? nullptr : characterIterator();
    if (!it) {
        // ASCII: one byte a character, except that CR LF is one character.
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                out.push_back(text.substr(i, 2));
                ++i;
            } else {
                out.push_back(text.substr(i, 1));
            }
        }
        return out;
    }
    // Map UTF-16 boundaries back to byte offsets.
    icu::UnicodeString u;
    std::vector<size_t> byteOffset;  // UTF-16 index -> byte offset
    int32_t i = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    while (i < length) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) c = 0xFFFD;
        u.append(c);
        while (byteOffset.size() < static_cast<size_t>(u.length())) byteOffset.push_back(static_cast<size_t>(start));
    }
    byteOffset.push_back(text.size());
    it->setText(u);
    int32_t prev = it->first();
    for (int32_t next = it->next(); next != icu::BreakIterator::DONE; prev = next, next = it->next()) {
        size_t a = byteOffset[static_cast<size_t>(prev)], b = byteOffset[static_cast<size_t>(next)];
        out.push_back(text.substr(a, b - a));
    }
    return out;
}

std::vector<char32_t> scalars(std::string_view text) {
    std::vector<char32_t> out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        out.push_back(c < 0 ? 0xFFFD : static_cast<char32_t>(c));
    }
    return out;
}

}  // namespace Templates
