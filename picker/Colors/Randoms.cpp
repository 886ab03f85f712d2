#include "picker/Colors/Randoms.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "Platform/Foundation/Dispatch.h"

namespace {

using namespace std::string_view_literals;

std::mutex sourceMutex;
std::shared_ptr<RandomSource>& currentSource() {
    static std::shared_ptr<RandomSource> source = std::make_shared<SystemRandomSource>();
    return source;
}

std::string pick(std::span<const std::string_view> list) { return std::string(Randoms::element(list).value_or(""sv)); }

// A draw in 0..span-1 with as few bits as the span needs: 32 as the
// platform's uniform draw, 64 beyond it.
std::uint64_t below(std::uint64_t span) {
    if (span <= std::numeric_limits<std::uint32_t>::max())
        return randomSource()->uniform(static_cast<std::uint32_t>(span));
    return randomSource()->uniform64(span);
}

// Fraction in [0, 1) exact in single precision.
float unitFloat() { return static_cast<float>(randomSource()->next() >> 8) * 0x1p-24f; }

// Whole characters of the text (grapheme clusters).
std::vector<std::string> characters(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    const auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (U_FAILURE(status) || !it) {
        for (char c : text) out.emplace_back(1, c);
        return out;
    }
    it->setText(unicode);
    for (int32_t start = it->first(), end = it->next(); end != icu::BreakIterator::DONE;
         start = end, end = it->next()) {
        std::string piece;
        unicode.tempSubStringBetween(start, end).toUTF8String(piece);
        out.push_back(std::move(piece));
    }
    return out;
}

std::string drawString(const std::vector<std::string>& pool, std::int64_t length) {
    std::string out;
    if (pool.empty() || length < 1) return out;
    for (std::int64_t i = 0; i < length; ++i) out += pool[static_cast<std::size_t>(below(pool.size()))];
    return out;
}

std::int64_t drawLength(std::int64_t minimum, std::int64_t maximum) {
    if (minimum < 1 || maximum < minimum) return 0;
    return Randoms::intInClosedRange(minimum, maximum);
}

const std::vector<std::string>& alphanumerics() {
    static const std::vector<std::string> pool =
        characters("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    return pool;
}

constexpr std::array kFirstNames = {"Thomas"sv, "Amelia"sv, "Oliver"sv, "Isla"sv,  "George"sv, "Emily"sv, "Harry"sv,
                                    "Grace"sv,  "Jack"sv,   "Sophie"sv, "Henry"sv, "Lucy"sv,   "James"sv};
constexpr std::array kLastNames = {"Smith"sv,    "Jones"sv,   "Taylor"sv, "Brown"sv,    "Williams"sv,
                                   "Wilson"sv,   "Johnson"sv, "Davies"sv, "Robinson"sv, "Wright"sv,
                                   "Thompson"sv, "Evans"sv,   "Walker"sv};
constexpr std::array kConversationLines = {
    "Good morning, how are you today?"sv, "I think it will rain later."sv, "Have you seen the new design?"sv,
    "Let's meet after lunch."sv,          "That sounds like a plan."sv,    "Could you send me the file?"sv,
    "I'll be there in five minutes."sv,   "Thanks, that helps a lot."sv,   "See you tomorrow!"sv};
constexpr std::array kJobTitles = {"Software Engineer at Initech"sv,
                                   "Product Manager at Globex"sv,
                                   "Designer at Hooli"sv,
                                   "Chief Executive of Umbrella"sv,
                                   "Accountant at Vandelay Industries"sv,
                                   "Sales Director at Acme"sv,
                                   "Data Analyst at Stark Industries"sv,
                                   "Support Lead at Wayne Enterprises"sv,
                                   "Marketing Manager at Soylent"sv,
                                   "Office Manager at Dunder Mifflin"sv,
                                   "Intern at Cyberdyne"sv};
constexpr std::array kTags = {"meta"sv,     "forum"sv,     "troll"sv,     "meme"sv,
                              "question"sv, "important"sv, "like4like"sv, "f4f"sv};
constexpr std::array kNamePrefixes = {"Mr."sv, "Ms."sv, "Dr."sv, "Mrs."sv, "Mz."sv, "Mx."sv, "Prof."sv};
constexpr std::array kPlacePrefixes = {"North"sv, "East"sv, "West"sv, "South"sv, "New"sv, "Lake"sv, "Port"sv};
constexpr std::array kPlaceSuffixes = {"town"sv,  "ton"sv,  "land"sv,  "ville"sv, "berg"sv, "burgh"sv, "borough"sv,
                                       "bury"sv,  "view"sv, "port"sv,  "mouth"sv, "stad"sv, "furt"sv,  "chester"sv,
                                       "mouth"sv, "fort"sv, "haven"sv, "side"sv,  "shire"sv};
constexpr std::array kCurrencies = {"USD"sv, "EUR"sv, "GBP"sv, "JPY"sv, "AUD"sv, "CAD"sv, "ZAR"sv, "NZD"sv,
                                    "INR"sv, "BRP"sv, "CNY"sv, "EGP"sv, "KRW"sv, "MXN"sv, "SAR"sv, "SGD"sv};
constexpr std::array kWebAddresses = {"https://www.wikipedia.org"sv, "https://www.debian.org"sv,
                                      "https://www.gnu.org"sv,       "https://www.kernel.org"sv,
                                      "https://www.w3.org"sv,        "https://www.openstreetmap.org"sv,
                                      "https://www.python.org"sv,    "https://www.mozilla.org"sv};

// Palette names: English first names.
constexpr std::array kPaletteFirstNames = {
    "Ada"sv,     "Alice"sv,  "Amelia"sv, "Anna"sv,   "Arthur"sv, "Audrey"sv,   "Ben"sv,     "Bella"sv,   "Caleb"sv,
    "Charlie"sv, "Chloe"sv,  "Clara"sv,  "Daisy"sv,  "Daniel"sv, "Dylan"sv,    "Eleanor"sv, "Eli"sv,     "Ella"sv,
    "Emma"sv,    "Ethan"sv,  "Evelyn"sv, "Felix"sv,  "Finn"sv,   "Florence"sv, "Freya"sv,   "Gabriel"sv, "Grace"sv,
    "Hannah"sv,  "Harper"sv, "Hazel"sv,  "Henry"sv,  "Hugo"sv,   "Iris"sv,     "Isaac"sv,   "Ivy"sv,     "Jack"sv,
    "Jasper"sv,  "Julia"sv,  "Leo"sv,    "Lily"sv,   "Logan"sv,  "Louis"sv,    "Lucy"sv,    "Luna"sv,    "Maisie"sv,
    "Mason"sv,   "Mia"sv,    "Miles"sv,  "Nora"sv,   "Oscar"sv,  "Olivia"sv,   "Owen"sv,    "Penny"sv,   "Poppy"sv,
    "Quinn"sv,   "Rose"sv,   "Ruby"sv,   "Samuel"sv, "Sienna"sv, "Sophia"sv,   "Stella"sv,  "Theo"sv,    "Violet"sv,
    "Willow"sv,  "Xavier"sv, "Zoe"sv};

}  // namespace

// --- sources -----------------------------------------------------------------

std::uint32_t RandomSource::uniform(std::uint32_t bound) {
    if (bound < 2) return 0;
    // Reject the low remainder so that every residue is equally likely.
    const std::uint32_t threshold = static_cast<std::uint32_t>(-bound) % bound;
    for (;;) {
        const std::uint32_t r = next();
        if (r >= threshold) return r % bound;
    }
}

std::uint64_t RandomSource::next64() { return std::uint64_t{next()} << 32 | next(); }

std::uint64_t RandomSource::uniform64(std::uint64_t bound) {
    if (bound < 2) return 0;
    const std::uint64_t threshold = static_cast<std::uint64_t>(-bound) % bound;
    for (;;) {
        const std::uint64_t r = next64();
        if (r >= threshold) return r % bound;
    }
}

std::uint32_t SystemRandomSource::next() { return ::arc4random(); }

std::uint32_t SeededRandomSource::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

std::shared_ptr<RandomSource> randomSource() {
    std::lock_guard lock(sourceMutex);
    return currentSource();
}

void setRandomSource(std::shared_ptr<RandomSource> source) {
    std::lock_guard lock(sourceMutex);
    currentSource() = source ? std::move(source) : std::make_shared<SystemRandomSource>();
}

// --- Randoms -----------------------------------------------------------------

std::string_view Randoms::rawValue(GravatarStyle style) {
    switch (style) {
        case GravatarStyle::Standard:
            return "Standard";
        case GravatarStyle::MM:
            return "MM";
        case GravatarStyle::Identicon:
            return "Identicon";
        case GravatarStyle::MonsterID:
            return "MonsterID";
        case GravatarStyle::Wavatar:
            return "Wavatar";
        case GravatarStyle::Retro:
            return "Retro";
    }
    return "";
}

std::optional<Randoms::GravatarStyle> Randoms::gravatarStyle(std::string_view raw) {
    for (auto style : {GravatarStyle::Standard, GravatarStyle::MM, GravatarStyle::Identicon, GravatarStyle::MonsterID,
                       GravatarStyle::Wavatar, GravatarStyle::Retro})
        if (rawValue(style) == raw) return style;
    return std::nullopt;
}

std::int64_t Randoms::intInClosedRange(std::int64_t lower, std::int64_t upper) {
    if (upper < lower) return lower;
    const std::uint64_t span = static_cast<std::uint64_t>(upper) - static_cast<std::uint64_t>(lower);
    const std::uint64_t offset =
        span == std::numeric_limits<std::uint64_t>::max() ? randomSource()->next64() : below(span + 1);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(lower) + offset);
}

std::int64_t Randoms::intInRange(std::int64_t lower, std::int64_t upper) {
    if (upper <= lower) return lower;
    const std::uint64_t span = static_cast<std::uint64_t>(upper) - static_cast<std::uint64_t>(lower);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(lower) + below(span));
}

std::int32_t Randoms::int32InRange(std::int32_t lower, std::int32_t upper) {
    return static_cast<std::int32_t>(intInRange(lower, upper));
}

double Randoms::doubleInRange(double lower, double upper) {
    return lower + randomSource()->next() / 4294967295.0 * (upper - lower);
}

float Randoms::floatInRange(float lower, float upper) {
    const float result = lower + unitFloat() * (upper - lower);
    if (upper > lower && result >= upper) return std::nextafter(upper, lower);
    return result;
}

double Randoms::cgFloatInRange(double lower, double upper) {
    const double result = lower + static_cast<double>(unitFloat()) * (upper - lower);
    if (upper > lower && result >= upper) return std::nextafter(upper, lower);
    return result;
}

bool Randoms::randomBool() { return randomSource()->uniform(101) % 2 == 0; }

bool Randoms::boolWithPercentage(int percentage) {
    return static_cast<std::int64_t>(randomSource()->uniform(101)) >= percentage;
}

std::string Randoms::alphanumericString(std::int64_t length) { return drawString(alphanumerics(), length); }

std::string Randoms::alphanumericString(std::int64_t minimum, std::int64_t maximum) {
    return drawString(alphanumerics(), drawLength(minimum, maximum));
}

std::string Randoms::stringFromCharacters(std::string_view chars, std::int64_t length) {
    return drawString(characters(chars), length);
}

std::string Randoms::stringFromCharacters(std::string_view chars, std::int64_t minimum, std::int64_t maximum) {
    return drawString(characters(chars), drawLength(minimum, maximum));
}

Foundation::Date Randoms::dateWithinDays(std::int64_t days) {
    const double now = Foundation::clock().now();
    if (days <= 0) return {now};
    constexpr std::int64_t kMaxDays = std::numeric_limits<std::int64_t>::max() / 86400;
    const std::uint64_t span = static_cast<std::uint64_t>(std::min(days, kMaxDays)) * 86400;
    const double earlier = now - static_cast<double>(span);
    return {earlier + static_cast<double>(below(span))};
}

Foundation::Date Randoms::dateBetween(Foundation::Date from, Foundation::Date to) {
    const double seconds = std::floor(to.secondsSince1970 - from.secondsSince1970);
    if (!(seconds >= 1)) return from;  // also not-a-number
    const std::uint64_t span = seconds >= 0x1p63 ? (std::uint64_t{1} << 63) : static_cast<std::uint64_t>(seconds);
    return {from.secondsSince1970 + static_cast<double>(below(span))};
}

Foundation::Date Randoms::dateSince1970() { return {static_cast<double>(randomSource()->uniform(4294967295u))}; }

AppKit::NSColorRef Randoms::color(bool randomAlpha) {
    auto component = [] { return static_cast<double>(static_cast<float>(randomSource()->next()) * 0x1p-32f); };
    const double r = component(), g = component(), b = component();
    return AppKit::NSColor::colorWithRed(r, g, b, randomAlpha ? component() : 1.0);
}

std::string Randoms::firstName() { return pick(firstNames()); }
std::string Randoms::lastName() { return pick(lastNames()); }
std::string Randoms::fullName() { return firstName() + " " + lastName(); }
std::string Randoms::fullNameWithTitle() { return pick(namePrefixes()) + " " + fullName(); }
std::string Randoms::gender() { return randomSource()->uniform(101) % 2 == 0 ? "Male" : "Female"; }
std::string Randoms::conversationLine() { return pick(conversationLines()); }
std::string Randoms::jobTitle() { return pick(jobTitles()); }
std::string Randoms::tag() { return pick(tags()); }
std::string Randoms::currency() { return pick(currencies()); }
std::string Randoms::cityName() { return pick(placePrefixes()) + pick(placeSuffixes()); }
std::string Randoms::webAddress() { return pick(webAddresses()); }

std::span<const std::string_view> Randoms::firstNames() { return kFirstNames; }
std::span<const std::string_view> Randoms::lastNames() { return kLastNames; }
std::span<const std::string_view> Randoms::conversationLines() { return kConversationLines; }
std::span<const std::string_view> Randoms::jobTitles() { return kJobTitles; }
std::span<const std::string_view> Randoms::tags() { return kTags; }
std::span<const std::string_view> Randoms::namePrefixes() { return kNamePrefixes; }
std::span<const std::string_view> Randoms::placePrefixes() { return kPlacePrefixes; }
std::span<const std::string_view> Randoms::placeSuffixes() { return kPlaceSuffixes; }
std::span<const std::string_view> Randoms::currencies() { return kCurrencies; }
std::span<const std::string_view> Randoms::webAddresses() { return kWebAddresses; }

std::string Faker::Name::firstName() const { return pick(firstNames()); }
std::span<const std::string_view> Faker::Name::firstNames() { return kPaletteFirstNames; }
