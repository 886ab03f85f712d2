#include "Platform/Foundation/Text.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <locale.h>
#include <memory>
#include <stdexcept>

namespace Foundation {
namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr char kHexLower[] = "0123456789abcdef";

// --- dates: days from civil and back (proleptic Gregorian, H. Hinnant) ---------

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Reads exactly `count` digits at `pos`.
bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

// --- base64 -------------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes sextets (no padding); a dangling single sextet is an error.
std::optional<Data> decodeSextets(const std::vector<std::uint8_t>& sextets) {
    if (sextets.size() % 4 == 1) return std::nullopt;
    Data out;
    out.reserve(sextets.size() / 4 * 3 + 2);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::uint8_t s : sextets) {
        buffer = (buffer << 6) | s;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

std::string encodeBase64(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (size - i == 1) {
        const std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += "==";
    } else if (size - i == 2) {
        const std::uint32_t v = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

Data digest(const void* bytes, std::size_t size) {
    Data out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(bytes, size, out.data(), &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("sha256: OpenSSL EVP_Digest failed");
    }
    out.resize(length);
    return out;
}

// --- ICU ------------------------------------------------------------------------

int32_t clampLength(std::size_t size) {
    return static_cast<int32_t>(std::min<std::size_t>(size, std::numeric_limits<int32_t>::max()));
}

icu::UnicodeString fromUTF8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), clampLength(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || !instance) throw std::runtime_error("ICU: no NFC normalizer");
    return *instance;
}

icu::UnicodeString normalize(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString out = nfc().normalize(text, status);
    return U_SUCCESS(status) ? out : text;
}

// Character (grapheme cluster) boundaries of UTF-8 text as byte offsets.
class GraphemeBreaks {
public:
    explicit GraphemeBreaks(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        text_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        auto& iterator = cached();
        if (U_FAILURE(status) || !iterator) throw std::runtime_error("ICU: cannot break text into characters");
        iterator->setText(text_, status);
        if (U_FAILURE(status)) throw std::runtime_error("ICU: cannot break text into characters");
        iterator_ = iterator.get();
        iterator_->first();
    }
    ~GraphemeBreaks() { utext_close(text_); }
    GraphemeBreaks(const GraphemeBreaks&) = delete;
    GraphemeBreaks& operator=(const GraphemeBreaks&) = delete;

    // The next boundary after the current one; nothing at the end.
    std::optional<std::size_t> next() {
        const int32_t boundary = iterator_->next();
        if (boundary == icu::BreakIterator::DONE) return std::nullopt;
        return static_cast<std::size_t>(boundary);
    }

private:
    static std::unique_ptr<icu::BreakIterator>& cached() {
        thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::BreakIterator> it(
                icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            if (U_FAILURE(status)) it.reset();
            return it;
        }();
        return iterator;
    }

    UText* text_ = nullptr;
    icu::BreakIterator* iterator_ = nullptr;
};

// UTF-16 units of a UTF-8 byte range (an ill-formed sequence counts as one
// replacement character, as ICU converts it).
std::size_t utf16Units(std::string_view text) {
    std::size_t units = 0;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const int64_t length = static_cast<int64_t>(text.size());
    int64_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        units += c > 0xFFFF ? 2 : 1;
    }
    return units;
}

// --- "C" locale formatting -----------------------------------------------------------

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

class CLocaleScope {
public:
    CLocaleScope() : previous_(cLocale() ? uselocale(cLocale()) : static_cast<locale_t>(nullptr)) {}
    ~CLocaleScope() {
        if (previous_) uselocale(previous_);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

}  // namespace

// --- identifiers -------------------------------------------------------------------------

std::string makeUUIDString() {
    Data bytes = randomBytes(16);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHexUpper[bytes[i] >> 4];
        out += kHexUpper[bytes[i] & 0x0F];
    }
    return out;
}

bool isUUIDString(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// --- dates ---------------------------------------------------------------------------------

std::string iso8601String(Date date) {
    const double seconds = date.secondsSince1970;
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14) return {};
    const auto totalMs = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
    const std::int64_t totalSeconds = floorDiv(totalMs, 1000);
    const auto ms = static_cast<int>(totalMs - totalSeconds * 1000);
    const std::int64_t days = floorDiv(totalSeconds, 86400);
    const auto secondOfDay = static_cast<int>(totalSeconds - days * 86400);
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(year), month,
                  day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, ms);
    return buffer;
}

std::optional<Date> dateFromISO8601(std::string_view text) {
    std::size_t pos = 0;
    int year, month, day, hour, minute, second;
    if (!readDigits(text, pos, 4, year) || !expect(text, pos, '-') || !readDigits(text, pos, 2, month) ||
        !expect(text, pos, '-') || !readDigits(text, pos, 2, day)) {
        return std::nullopt;
    }
    if (pos >= text.size() || (text[pos] != 'T' && text[pos] != 't')) return std::nullopt;
    ++pos;
    if (!readDigits(text, pos, 2, hour) || !expect(text, pos, ':') || !readDigits(text, pos, 2, minute) ||
        !expect(text, pos, ':') || !readDigits(text, pos, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || static_cast<unsigned>(day) > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    double fraction = 0;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        const std::size_t start = pos;
        std::int64_t digits = 0, scale = 1;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (pos - start < 9) {  // nanoseconds are plenty
                digits = digits * 10 + (text[pos] - '0');
                scale *= 10;
            }
            ++pos;
        }
        if (pos == start) return std::nullopt;
        fraction = static_cast<double>(digits) / static_cast<double>(scale);
    }
    int offsetSeconds = 0;
    if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
        ++pos;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        const int sign = text[pos] == '-' ? -1 : 1;
        ++pos;
        int oh = 0, om = 0;
        if (!readDigits(text, pos, 2, oh)) return std::nullopt;
        if (pos < text.size()) {
            expect(text, pos, ':');
            if (!readDigits(text, pos, 2, om)) return std::nullopt;
        }
        if (oh > 23 || om > 59) return std::nullopt;
        offsetSeconds = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
    return Date{static_cast<double>(seconds) + fraction};
}

// --- base64 ------------------------------------------------------------------------------------

std::string base64Encode(const Data& data) { return encodeBase64(data.data(), data.size()); }

std::string base64Encode(std::string_view bytes) {
    return encodeBase64(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<Data> base64DecodeStrict(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<std::uint8_t> sextets;
    sextets.reserve(text.size());
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int v = base64Value(text[i]);
        if (v < 0) return std::nullopt;
        sextets.push_back(static_cast<std::uint8_t>(v));
    }
    return decodeSextets(sextets);
}

std::optional<Data> base64DecodeLenient(std::string_view text) {
    std::vector<std::uint8_t> sextets;
    sextets.reserve(text.size());
    for (char c : text) {
        const int v = base64Value(c);
        if (v >= 0) sextets.push_back(static_cast<std::uint8_t>(v));
    }
    return decodeSextets(sextets);
}

// --- hashing and random bytes --------------------------------------------------------------------

Data sha256(const Data& bytes) { return digest(bytes.data(), bytes.size()); }
Data sha256(std::string_view bytes) { return digest(bytes.data(), bytes.size()); }

std::string hexString(const Data& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kHexLower[b >> 4];
        out += kHexLower[b & 0x0F];
    }
    return out;
}

Data randomBytes(std::size_t count) {
    Data out(count);
    std::size_t done = 0;
    while (done < count) {
        const int chunk = clampLength(count - done);
        if (RAND_bytes(out.data() + done, chunk) != 1)
            throw std::runtime_error("randomBytes: OpenSSL RAND_bytes failed");
        done += static_cast<std::size_t>(chunk);
    }
    return out;
}

// --- ICU text --------------------------------------------------------------------------------------

std::string uppercase(std::string_view text) { return toUTF8(fromUTF8(text).toUpper(icu::Locale::getRoot())); }

std::string lowercase(std::string_view text) { return toUTF8(fromUTF8(text).toLower(icu::Locale::getRoot())); }

std::string capitalized(std::string_view text) {
    const icu::UnicodeString source = fromUTF8(text);
    icu::UnicodeString out;
    int32_t i = 0;
    const int32_t length = source.length();
    while (i < length) {
        const bool space = u_isUWhiteSpace(source.char32At(i));
        int32_t end = i;
        while (end < length && static_cast<bool>(u_isUWhiteSpace(source.char32At(end))) == space) {
            end = source.moveIndex32(end, 1);
        }
        icu::UnicodeString run(source, i, end - i);
        if (!space) {
            // The first character titlecased, every other one lowercased.
            run.toTitle(nullptr, icu::Locale::getRoot(), U_TITLECASE_WHOLE_STRING | U_TITLECASE_NO_BREAK_ADJUSTMENT);
        }
        out += run;
        i = end;
    }
    return toUTF8(out);
}

int caseInsensitiveCompare(std::string_view a, std::string_view b) {
    const icu::UnicodeString left = normalize(fromUTF8(a));
    const icu::UnicodeString right = normalize(fromUTF8(b));
    const int8_t order = left.caseCompare(right, U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

bool caseInsensitiveEquals(std::string_view a, std::string_view b) { return caseInsensitiveCompare(a, b) == 0; }

std::string normalizedNFC(std::string_view text) { return toUTF8(normalize(fromUTF8(text))); }

std::size_t utf16Length(std::string_view text) { return utf16Units(text); }

std::string utf16Prefix(std::string_view text, std::size_t maxUnits) {
    if (utf16Units(text) <= maxUnits) return std::string(text);
    GraphemeBreaks breaks(text);
    std::size_t units = 0, cut = 0;
    while (auto boundary = breaks.next()) {
        const std::size_t segment = utf16Units(text.substr(cut, *boundary - cut));
        if (units + segment > maxUnits) break;
        units += segment;
        cut = *boundary;
    }
    return std::string(text.substr(0, cut));
}

std::size_t characterCount(std::string_view text) {
    if (text.empty()) return 0;
    GraphemeBreaks breaks(text);
    std::size_t count = 0;
    while (breaks.next()) ++count;
    return count;
}

// --- formatting ---------------------------------------------------------------------------------------

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string out;
    try {
        out = vformat(fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return out;
}

std::string vformat(const char* fmt, va_list args) {
    CLocaleScope locale;
    char buffer[256];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(buffer, sizeof buffer, fmt, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<std::size_t>(needed) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(needed));
    std::string out(static_cast<std::size_t>(needed), '\0');
    va_copy(copy, args);
    std::vsnprintf(out.data(), out.size() + 1, fmt, copy);
    va_end(copy);
    return out;
}

}  // namespace Foundation
