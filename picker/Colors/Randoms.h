#pragma once
// Random values of common kinds (numbers, texts, dates, colours, list
// elements, fake personal data) and the first names palettes are named
// after. Every draw goes through one replaceable random source, so tests
// can seed it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/AppKit/NSColor.h"
#include "Platform/Foundation/Value.h"

// A uniform source of 32-bit numbers (the platform's arc4random) and the
// unbiased bounded draws built on it.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    // Uniform over all 32-bit numbers.
    virtual std::uint32_t next() = 0;
    // Uniform in 0..bound-1; 0 when bound is 0 (arc4random_uniform).
    std::uint32_t uniform(std::uint32_t bound);
    std::uint64_t next64();
    // Uniform in 0..bound-1; 0 when bound is 0.
    std::uint64_t uniform64(std::uint64_t bound);
};

// The system's cryptographic generator (arc4random).
class SystemRandomSource final : public RandomSource {
public:
    std::uint32_t next() override;
};

// A repeatable sequence for a seed (splitmix64). Not for sharing between threads.
class SeededRandomSource final : public RandomSource {
public:
    explicit SeededRandomSource(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next() override;

private:
    std::uint64_t state_;
};

// The process's source: the system one unless another was set (nullptr
// restores it).
std::shared_ptr<RandomSource> randomSource();
void setRandomSource(std::shared_ptr<RandomSource> source);

struct Randoms {
    enum class GravatarStyle { Standard, MM, Identicon, MonsterID, Wavatar, Retro };
    static std::string_view rawValue(GravatarStyle style);
    // An exact raw text gives its case, anything else nothing.
    static std::optional<GravatarStyle> gravatarStyle(std::string_view raw);

    // Whole numbers. Spans up to 2^32 draw 32 bits as the platform does;
    // wider spans draw 64 bits. An inverted range gives `lower`.
    static std::int64_t intInClosedRange(std::int64_t lower, std::int64_t upper);  // lower...upper
    static std::int64_t intInRange(std::int64_t lower, std::int64_t upper);        // lower..<upper; lower when equal
    static std::int32_t int32InRange(std::int32_t lower, std::int32_t upper);

    // lower + r / (2^32 - 1) x (upper - lower): both ends reachable.
    static double doubleInRange(double lower, double upper);
    // lower + fraction x (upper - lower) in single precision, the fraction
    // below 1 (24 random bits, exact in a float), so upper is never
    // produced; with upper > lower a result that rounds up to upper is
    // taken one step below it.
    static float floatInRange(float lower, float upper);
    // The fraction as for floatInRange, the rest in double precision.
    static double cgFloatInRange(double lower, double upper);

    static bool randomBool();                        // draw of 0...100 is even
    static bool boolWithPercentage(int percentage);  // draw of 0...100 >= percentage

    // Empty for a length below 1, or a minimum below 1 or a maximum below it.
    static std::string alphanumericString(std::int64_t length);
    static std::string alphanumericString(std::int64_t minimum, std::int64_t maximum);
    // Drawn by whole characters (grapheme clusters) of `characters`; empty
    // when there are none.
    static std::string stringFromCharacters(std::string_view characters, std::int64_t length);
    static std::string stringFromCharacters(std::string_view characters, std::int64_t minimum, std::int64_t maximum);

    // Dates, whole seconds drawn; a negative or inverted span gives its start.
    static Foundation::Date dateWithinDays(std::int64_t days);
    static Foundation::Date dateBetween(Foundation::Date from, Foundation::Date to);
    static Foundation::Date dateSince1970();

    template <class T>
    static std::optional<T> element(std::span<const T> list) {
        if (list.empty()) return std::nullopt;
        return list[static_cast<std::size_t>(intInRange(0, static_cast<std::int64_t>(list.size())))];
    }
    template <class T>
    static std::optional<T> element(const std::vector<T>& list) {
        return element(std::span<const T>(list));
    }

    // sRGB; each component a 32-bit draw x 2^-32 in single precision.
    static AppKit::NSColorRef color(bool randomAlpha);

    static std::string firstName();
    static std::string lastName();
    static std::string fullName();
    static std::string fullNameWithTitle();
    static std::string gender();  // "Male" or "Female"
    static std::string conversationLine();
    static std::string jobTitle();
    static std::string tag();
    static std::string currency();
    static std::string cityName();
    static std::string webAddress();

    // The fixed lists.
    static std::span<const std::string_view> firstNames();
    static std::span<const std::string_view> lastNames();
    static std::span<const std::string_view> conversationLines();
    static std::span<const std::string_view> jobTitles();
    static std::span<const std::string_view> tags();
    static std::span<const std::string_view> namePrefixes();
    static std::span<const std::string_view> placePrefixes();
    static std::span<const std::string_view> placeSuffixes();
    static std::span<const std::string_view> currencies();
    static std::span<const std::string_view> webAddresses();
};

// Stand-in for the fake-data library's name generator: English first names
// for the default names of saved palettes.
class Faker {
public:
    explicit Faker(std::string locale = "en") : locale_(std::move(locale)) {}
    const std::string& locale() const { return locale_; }

    struct Name {
        std::string firstName() const;
        // The embedded list the first names are drawn from.
        static std::span<const std::string_view> firstNames();
    };
    Name name;

private:
    std::string locale_;
};
