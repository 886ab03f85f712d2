// Random helpers: the edge table, wide spans, the fixed lists and the
// injectable source.

#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "Platform/Foundation/Dispatch.h"
#include "picker/Colors/Randoms.h"

namespace {

// Always the same number: the extremes of every draw.
class FixedSource : public RandomSource {
public:
    explicit FixedSource(std::uint32_t value) : value_(value) {}
    std::uint32_t next() override { return value_; }

private:
    std::uint32_t value_;
};

class RandomsTest : public ::testing::Test {
protected:
    void SetUp() override { setRandomSource(std::make_shared<SeededRandomSource>(42)); }
    void TearDown() override { setRandomSource(nullptr); }
};

TEST_F(RandomsTest, EdgeTable) {
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(Randoms::intInClosedRange(5, 5), 5);
        EXPECT_EQ(Randoms::intInRange(5, 5), 5);
        EXPECT_EQ(Randoms::alphanumericString(0), "");
        EXPECT_TRUE(Randoms::boolWithPercentage(0));
        EXPECT_FALSE(Randoms::boolWithPercentage(101));
        EXPECT_LT(Randoms::floatInRange(0, 1), 1.0f);
    }
    EXPECT_EQ(Randoms::alphanumericString(0, 5), "");
    EXPECT_EQ(Randoms::alphanumericString(3, 2), "");
    EXPECT_EQ(Randoms::stringFromCharacters("", 4), "");
}

TEST_F(RandomsTest, ExtremeDrawsStayInRange) {
    // The largest 32-bit draw: the float fraction must stay below 1, the
    // double reaches its upper end.
    setRandomSource(std::make_shared<FixedSource>(0xFFFFFFFFu));
    EXPECT_LT(Randoms::floatInRange(0, 1), 1.0f);
    EXPECT_LT(Randoms::floatInRange(10, 10.5f), 10.5f);
    EXPECT_LT(Randoms::cgFloatInRange(0, 1), 1.0);
    EXPECT_EQ(Randoms::doubleInRange(2, 4), 4.0);
    EXPECT_FALSE(Randoms::boolWithPercentage(101));
    // The draw of 0...100 is 0xFFFFFFFF % 101 = 67: true exactly when 67 >= p.
    EXPECT_TRUE(Randoms::boolWithPercentage(67));
    EXPECT_FALSE(Randoms::boolWithPercentage(68));
    setRandomSource(std::make_shared<FixedSource>(0));
    EXPECT_EQ(Randoms::floatInRange(3, 7), 3.0f);
    EXPECT_EQ(Randoms::doubleInRange(2, 4), 2.0);
}

TEST_F(RandomsTest, WideSpansDrawSixtyFourBits) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    bool above32 = false;
    for (int i = 0; i < 100; ++i) {
        const auto v = Randoms::intInClosedRange(0, std::int64_t{1} << 40);
        EXPECT_GE(v, 0);
        EXPECT_LE(v, std::int64_t{1} << 40);
        above32 |= v > 0xFFFFFFFFll;
        (void)Randoms::intInClosedRange(kMin, kMax);
        const auto r = Randoms::intInRange(kMin, kMax);
        EXPECT_LT(r, kMax);
        const auto n = Randoms::intInRange(-5, 5);
        EXPECT_GE(n, -5);
        EXPECT_LT(n, 5);
    }
    EXPECT_TRUE(above32);
    EXPECT_EQ(Randoms::intInClosedRange(9, 3), 9);  // inverted: no crash
    EXPECT_EQ(Randoms::int32InRange(std::numeric_limits<std::int32_t>::max(), 0),
              std::numeric_limits<std::int32_t>::max());
    const double now = Foundation::clock().now();
    const auto d = Randoms::dateWithinDays(std::int64_t{1} << 30);  // a span far beyond 32 bits of seconds
    EXPECT_LE(d.secondsSince1970, Foundation::clock().now());
    EXPECT_GE(d.secondsSince1970, now - 86400.0 * (std::int64_t{1} << 30) - 1);
    (void)Randoms::dateWithinDays(std::numeric_limits<std::int64_t>::max());
    const Foundation::Date from{100}, to{50};
    EXPECT_EQ(Randoms::dateBetween(from, to), from);
}

TEST_F(RandomsTest, TextsAndDatesHaveTheirShapes) {
    const std::string s = Randoms::alphanumericString(2, 6);
    EXPECT_GE(s.size(), 2u);
    EXPECT_LE(s.size(), 6u);
    for (char c : s) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));
    // Whole characters: an accent stays on its letter, a flag stays whole.
    const std::string drawn = Randoms::stringFromCharacters("e\xCC\x81\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 10);
    std::string rest = drawn;
    for (std::string_view piece : {"e\xCC\x81", "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"})
        for (auto pos = rest.find(piece); pos != std::string::npos; pos = rest.find(piece))
            rest.erase(pos, piece.size());
    EXPECT_EQ(rest, "");
    EXPECT_GT(drawn.size(), 0u);
    const auto since = Randoms::dateSince1970();
    EXPECT_GE(since.secondsSince1970, 0);
    EXPECT_LT(since.secondsSince1970, 4294967295.0);
    const Foundation::Date a{1000}, b{1010};
    for (int i = 0; i < 50; ++i) {
        const auto d = Randoms::dateBetween(a, b);
        EXPECT_GE(d.secondsSince1970, 1000);
        EXPECT_LT(d.secondsSince1970, 1010);
    }
}

TEST_F(RandomsTest, ListsAndNames) {
    EXPECT_EQ(Randoms::firstNames().size(), 13u);
    EXPECT_EQ(Randoms::lastNames().size(), 13u);
    EXPECT_EQ(Randoms::conversationLines().size(), 9u);
    EXPECT_EQ(Randoms::jobTitles().size(), 11u);
    EXPECT_EQ(Randoms::placeSuffixes().size(), 19u);
    EXPECT_EQ(Randoms::currencies().size(), 16u);
    EXPECT_EQ(Randoms::webAddresses().size(), 8u);
    const std::string title = Randoms::fullNameWithTitle();
    EXPECT_EQ(std::count(title.begin(), title.end(), ' '), 2);
    const std::string city = Randoms::cityName();
    bool known = false;
    for (auto p : Randoms::placePrefixes())
        for (auto s : Randoms::placeSuffixes()) known |= city == std::string(p) + std::string(s);
    EXPECT_TRUE(known) << city;
    EXPECT_FALSE(Randoms::element(std::vector<int>{}));
    EXPECT_EQ(Randoms::element(std::vector<int>{7}), 7);
    EXPECT_EQ(Randoms::gravatarStyle("MonsterID"), Randoms::GravatarStyle::MonsterID);
    EXPECT_FALSE(Randoms::gravatarStyle("monsterid"));
    const auto c = Randoms::color(false);
    EXPECT_EQ(c->alphaComponent(), 1.0);

    std::set<std::string> names;
    for (int i = 0; i < 300; ++i) names.insert(Faker("en").name.firstName());
    EXPECT_GT(names.size(), 20u);
    for (const auto& n : names) EXPECT_FALSE(n.empty());
}

TEST_F(RandomsTest, SeededSourceRepeats) {
    setRandomSource(std::make_shared<SeededRandomSource>(7));
    const auto first = Randoms::alphanumericString(16) + Randoms::fullName();
    setRandomSource(std::make_shared<SeededRandomSource>(7));
    EXPECT_EQ(Randoms::alphanumericString(16) + Randoms::fullName(), first);
}

}  // namespace
