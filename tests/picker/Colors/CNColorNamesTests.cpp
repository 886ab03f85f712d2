#include "picker/Colors/CNColorNames.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "picker/Colors/NSColorAdditions.h"

using AppKit::NSColor;

namespace {

std::int32_t valueOf(const CNColorNames& names, const std::string& name) {
    for (const auto& entry : names.colorMap()) {
        if (entry.name == name) return entry.colorId;
    }
    ADD_FAILURE() << "no row " << name;
    return -1;
}

}  // namespace

TEST(CNColorNames, TheTable) {
    const CNColorNames names;
    const auto& map = names.colorMap();
    ASSERT_EQ(map.size(), 958u);
    std::set<std::string> distinctNames;
    std::set<std::int32_t> distinctValues;
    const std::regex shape("[a-z /']{3,26}");
    for (const auto& entry : map) {
        distinctNames.insert(entry.name);
        distinctValues.insert(entry.colorId);
        EXPECT_TRUE(std::regex_match(entry.name, shape)) << entry.name;
        EXPECT_EQ(entry.colorId & ~0xFFFFFF, 0) << entry.name;
    }
    EXPECT_EQ(distinctNames.size(), 958u);
    EXPECT_EQ(distinctValues.size(), 957u);  // "cyan" and "turqoise" share 0x00ffff

    const std::vector<std::pair<std::size_t, CNColorNames::Entry>> rows = {
        {1, {"cloudy blue", 0xacc2d9}}, {830, {"white", 0xffffff}},    {912, {"black", 0x000000}},
        {925, {"cyan", 0x00ffff}},      {942, {"red", 0xe50000}},      {945, {"blue", 0x0343df}},
        {946, {"green", 0x15b01a}},     {948, {"cayenne", 0x800000}},  {953, {"marascino", 0xff0000}},
        {955, {"turqoise", 0x00ffff}},  {958, {"tungsten", 0x333333}},
    };
    for (const auto& [row, entry] : rows) {
        EXPECT_EQ(map[row - 1].name, entry.name) << "row " << row;
        EXPECT_EQ(map[row - 1].colorId, entry.colorId) << "row " << row;
    }
}

TEST(CNColorNames, NamesOfTellingColours) {
    const auto& names = sharedColorNames();
    EXPECT_EQ(&names, &sharedColorNames());
    struct Case {
        std::int32_t value;
        std::string name;
    };
    const std::vector<Case> cases = {
        {0xffffff, "White"},  {0x000000, "Black"},     {0x333333, "Tungsten"}, {0x7f7f7f, "Tin"},
        {0x808080, "Nickel"}, {0xff0000, "Marascino"}, {0x00ff00, "Spring"},   {0xacc2d9, "Cloudy Blue"},
        {0xe50000, "Red"},    {0x00ffff, "Cyan"},  // equally near: the first row wins
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names.nameForColor(*CNColorNames::colorFromRGBFloat(c.value)), c.name) << std::hex << c.value;
    }
    // Nearest, not only exact.
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(1, 1, 0.999, 1)), "White");
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(1, 0.003, 0, 1)), "Marascino");
}

TEST(CNColorNames, CapitalisesAfterBlanksOnly) {
    const auto& names = sharedColorNames();
    struct Case {
        std::string row, shown;
    };
    const std::vector<Case> cases = {
        {"blue with a hint of purple", "Blue With A Hint Of Purple"},
        {"green/yellow", "Green/yellow"},
        {"robin's egg blue", "Robin's Egg Blue"},
        {"macaroni and cheese", "Macaroni And Cheese"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names.nameForColor(*CNColorNames::colorFromRGBFloat(valueOf(names, c.row))), c.shown);
    }
}

TEST(CNColorNames, LookupIgnoresAlphaAndConversion) {
    const auto& names = sharedColorNames();
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(1, 0, 0, 0)), "Marascino");
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(0.2, 0.3, 0.9, 0)),
              names.nameForColor(*NSColor::colorWithRed(0.2, 0.3, 0.9, 1)));
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithCalibratedWhite(0.2, 1)), "Tungsten");  // raw grey
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithDeviceCyan(0, 0, 0, 0, 1)), "Black");   // raw CMYK: black
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithPatternImageNamed("stripes")), "Black");
    // A distance that is not a number never wins.
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(std::nan(""), 0, 0, 1)), std::nullopt);
}

TEST(CNColorNames, ColorFromRGBFloatIgnoresTheTopByte) {
    EXPECT_EQ(*CNColorNames::colorFromRGBFloat(0x7fff8000), *NSColor::colorWithRed(1, 128 / 255.0, 0, 1));
    EXPECT_EQ(*CNColorNames::colorFromRGBFloat(static_cast<std::int32_t>(0xff000000)),
              *NSColor::colorWithRed(0, 0, 0, 1));
}

TEST(CNColorNames, EmptyMapGivesNothing) {
    CNColorNames names;
    names.setColorMap({});
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(1, 1, 1, 1)), std::nullopt);
    names.setColorMap({{"only one", 0x123456}});
    EXPECT_EQ(names.nameForColor(*NSColor::colorWithRed(1, 1, 1, 1)), "Only One");
    names.setupColorMap();
    EXPECT_EQ(names.colorMap().size(), 958u);
}
