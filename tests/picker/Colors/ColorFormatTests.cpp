#include "picker/Colors/ColorFormat.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Colors/NSColorAdditions.h"

using AppKit::NSColor;
namespace fs = std::filesystem;

namespace {

// Points the bundle at a scratch folder of its own and clears the settings
// the renderer reads; both are restored afterwards.
class ColorFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedResources_ = Foundation::Bundle::main().resourcePath();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(::testing::TempDir()) / "colors-formats" / info->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Foundation::Bundle::main().setResourcePath(dir_.string());
        clearDefaults();
    }
    void TearDown() override {
        Foundation::Bundle::main().setResourcePath(savedResources_);
        clearDefaults();
        fs::remove_all(dir_);
    }
    static void clearDefaults() {
        auto& defaults = Foundation::UserDefaults::standard();
        for (const char* key : {"hexWithHashtag", "capitalizedHex", "colorFormat"}) defaults.removeObjectForKey(key);
    }
    void writeFormats(const std::string& json) { std::ofstream(dir_ / "formats.json") << json; }
    static std::string render(const std::string& templ, const std::string& name = "Format",
                              const AppKit::NSColorRef& color = NSColor::colorWithRed(1.0, 0.5, 0.0, 1.0),
                              const std::string& colorName = "Orange") {
        return formatted(*color, ColorFormat{99, name, templ, "css"}, colorName);
    }

    fs::path dir_;
    std::string savedResources_;
};

const char* kList = R"json({"formats": [
    {"id": 1, "name": "CSS Hex", "format": "hex", "image": "css"},
    {"id": 2, "name": "CSS RGB", "format": "rgb(%r, %g, %b)", "image": "css", "extra": true},
    {"id": 3, "name": "First three", "format": "one", "image": "a"},
    {"id": 3, "name": "Second three", "format": "two", "image": "b"}
]})json";

}  // namespace

TEST_F(ColorFormatTest, HexFormatFollowsTheTwoSettings) {
    struct Case {
        std::optional<bool> hashtag, capitals;
        std::string text;
    };
    const std::vector<Case> cases = {
        {true, true, "#FF7F00"},
        {false, false, "ff7f00"},
        {true, false, "#ff7f00"},
        {false, true, "FF7F00"},
        {std::nullopt, std::nullopt, "ff7f00"},  // unset reads as false
    };
    auto& defaults = Foundation::UserDefaults::standard();
    for (const auto& c : cases) {
        clearDefaults();
        if (c.hashtag) defaults.set("hexWithHashtag", *c.hashtag);
        if (c.capitals) defaults.set("capitalizedHex", *c.capitals);
        EXPECT_EQ(render("hex"), c.text);
    }
}

TEST_F(ColorFormatTest, TemplateTokens) {
    auto& defaults = Foundation::UserDefaults::standard();
    defaults.set("hexWithHashtag", false);
    defaults.set("capitalizedHex", true);
    struct Case {
        std::string templ, text;
    };
    const std::vector<Case> cases = {
        {"%r %g %b", "255 127 0"},
        {"%a|%.r|%.g|%.b|%.a", "1.000|1.000|0.500|0.000|1.000"},
        {"%hue %h", "30 0.083"},  // longer token first
        {"%saturation %lightness %s %[b]", "100% 50% 1.000 1.000"},
        {"%saturations", "100%s"},          // an inserted "%" never starts a token
        {"hex argb", "#ff7f00 #ffff7f00"},  // lower case with "#" whatever the settings
        {"Hex", "Hex"},                     // not the special format, not a token
        {" hex", " #ff7f00"},
        {"color_name", "Orange"},
        {"100% %x %", "100% %x %"},
    };
    for (const auto& c : cases) EXPECT_EQ(render(c.templ), c.text) << c.templ;
}

// A name made of format words goes in exactly as written, in every shipped
// format: whatever else the format prints does not change with the name.
TEST_F(ColorFormatTest, NamesAreKeptExactlyInEveryFormat) {
    Foundation::Bundle::main().setResourcePath(std::getenv("VEXIL_RESOURCES"));
    const auto list = Formats::decode([] {
        std::ifstream in(*Foundation::Bundle::main().pathForResource("formats", "json"), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return Foundation::Data(text.begin(), text.end());
    }());
    ASSERT_TRUE(list.formats);
    const auto color = NSColor::colorWithRed(0x1a / 255.0, 0x2b / 255.0, 0x3c / 255.0, 1);
    const std::string names[] = {"hexagon blue", "argb",   "color_name", "%r %g %b", "a */ b", "hex",
                                 "%saturation", "%[b]%a", "%%hue",      "",         "\\1 $1 &"};
    bool sawName = false;
    for (const auto& format : *list.formats) {
        const std::string plain = formatted(*color, format, "Plain");
        const std::size_t at = plain.find("Plain");
        sawName = sawName || at != std::string::npos;
        for (const auto& name : names) {
            std::string expected = plain;
            if (at != std::string::npos) expected.replace(at, 5, name);
            EXPECT_EQ(formatted(*color, format, name), expected) << format.name << " / " << name;
        }
    }
    EXPECT_TRUE(sawName);
    const ColorFormat withName{6, "CSS Hex with Name", "hex /* color_name */", "css"};
    EXPECT_EQ(formatted(*color, withName, "hexagon blue"), "#1a2b3c /* hexagon blue */");
}

TEST_F(ColorFormatTest, CssHslPrintsTheHslSaturation) {
    Foundation::Bundle::main().setResourcePath(std::getenv("VEXIL_RESOURCES"));
    struct Case {
        std::string hex, hsl, hsla;
    };
    const std::vector<Case> cases = {
        {"#368135", "hsl(119, 42%, 36%)", "hsla(119, 42%, 36%, 1.000)"},  // HSB saturation would be 59%
        {"#ff8000", "hsl(30, 100%, 50%)", "hsla(30, 100%, 50%, 1.000)"},
        {"#808080", "hsl(0, 0%, 50%)", "hsla(0, 0%, 50%, 1.000)"},
        {"#e0f0ff80", "hsl(209, 100%, 94%)", "hsla(209, 100%, 94%, 0.502)"},
    };
    for (const auto& c : cases) {
        auto color = colorWithHex(c.hex);
        ASSERT_TRUE(color) << c.hex;
        EXPECT_EQ(formatted(*color, *loadColorFormat(4), ""), c.hsl) << c.hex;
        EXPECT_EQ(formatted(*color, *loadColorFormat(5), ""), c.hsla) << c.hex;
    }
}

TEST_F(ColorFormatTest, NamePicksTheConversion) {
    // Without colour management the conversion shows on colours that are not
    // RGB: their raw components read as grey (2) or as black (5), their RGB
    // conversion as what they are.
    const auto cmykWhite = NSColor::colorWithDeviceCyan(0, 0, 0, 0, 1);
    EXPECT_EQ(render("%r %g %b", "Swift device", cmykWhite), "255 255 255");
    EXPECT_EQ(render("%r %g %b", "Swift calibrated", cmykWhite), "255 255 255");
    EXPECT_EQ(render("%r %g %b", "Swift Device", cmykWhite), "0 0 0");  // case-sensitive
    EXPECT_EQ(render("%r %g %b", "Swift", cmykWhite), "0 0 0");
    // "hex" and "argb" always print the colour as given.
    EXPECT_EQ(render("hex argb", "Swift device", cmykWhite), "#000000 #ff000000");

    const auto grey = NSColor::colorWithCalibratedWhite(0.5, 1);
    EXPECT_EQ(render("%r %[b]", "NSColor device", grey), "127 0.500");
    EXPECT_EQ(render("%r %[b]", "NSColor Device", grey), "127 0.000");  // no HSB for two components
}

TEST_F(ColorFormatTest, LoadColorFormatFromTheList) {
    writeFormats(kList);
    EXPECT_EQ(loadColorFormat(1), (ColorFormat{1, "CSS Hex", "hex", "css"}));
    EXPECT_EQ(loadColorFormat(2), (ColorFormat{2, "CSS RGB", "rgb(%r, %g, %b)", "css"}));
    EXPECT_EQ(loadColorFormat(3), (ColorFormat{3, "Second three", "two", "b"}));  // later wins
    EXPECT_EQ(loadColorFormat(4), std::nullopt);

    Foundation::UserDefaults::standard().set("colorFormat", 2);
    EXPECT_EQ(currentColorFormat().id, 2);
    Foundation::UserDefaults::standard().set("colorFormat", 42);
    EXPECT_EQ(currentColorFormat(), ColorFormat::builtIn());
    Foundation::UserDefaults::standard().removeObjectForKey("colorFormat");
    EXPECT_EQ(currentColorFormat(), ColorFormat::builtIn());  // 0 is not in the list
}

TEST_F(ColorFormatTest, MissingListGivesNothingAndTheBuiltIn) {
    EXPECT_EQ(loadColorFormat(1), std::nullopt);
    Foundation::UserDefaults::standard().set("colorFormat", 1);
    EXPECT_EQ(currentColorFormat(), (ColorFormat{0, "CSS Hex", "hex", "css"}));

    for (const char* json : {"{}", R"({"formats": null})", R"({"formats": []})"}) {
        writeFormats(json);
        EXPECT_EQ(loadColorFormat(1), std::nullopt) << json;
    }
}

TEST_F(ColorFormatTest, MalformedListIsHandedToTheCaller) {
    const std::vector<std::string> broken = {
        "",
        "{\"formats\": [",
        "[]",
        R"({"formats": {}})",
        R"({"formats": [1]})",
        R"({"formats": [{"id": 1, "name": "a", "format": "hex"}]})",
        R"({"formats": [{"id": "1", "name": "a", "format": "hex", "image": "css"}]})",
        R"({"formats": [{"id": 1.5, "name": "a", "format": "hex", "image": "css"}]})",
        R"({"formats": [{"id": 1, "name": null, "format": "hex", "image": "css"}]})",
        R"({"formats": [{"ID": 1, "name": "a", "format": "hex", "image": "css"}]})",
        // One bad entry spoils the whole list, even when the wanted one is fine.
        R"({"formats": [{"id": 1, "name": "a", "format": "hex", "image": "css"}, {"id": 2}]})",
    };
    Foundation::UserDefaults::standard().set("colorFormat", 1);
    for (const auto& json : broken) {
        writeFormats(json);
        try {
            loadColorFormat(1);
            ADD_FAILURE() << "no error for " << json;
        } catch (const FormatListDecodingError& e) {
            EXPECT_EQ(e.error().domain, "NSCocoaErrorDomain");
            EXPECT_EQ(e.error().code, 4864);
        }
        EXPECT_EQ(currentColorFormat(), ColorFormat::builtIn()) << json;
    }
}

TEST_F(ColorFormatTest, UnreadableListIsAReadError) {
    fs::create_directory(dir_ / "formats.json");
    EXPECT_THROW(loadColorFormat(1), FormatListReadError);
    EXPECT_EQ(currentColorFormat(), ColorFormat::builtIn());
}

TEST_F(ColorFormatTest, EncodeWritesKeysInOrder) {
    EXPECT_EQ(Formats{}.encode(), "{}");
    Formats list{std::vector<ColorFormat>{{7, "N", "F", "I"}}};
    EXPECT_EQ(list.encode(), R"({"formats":[{"id":7,"name":"N","format":"F","image":"I"}]})");
    const std::string text = list.encode();
    EXPECT_EQ(Formats::decode(Foundation::Data(text.begin(), text.end())).formats, list.formats);
}

// The list the application ships: id 1 is the hex format, ids are distinct
// (they are menu tags), every image is in the bundle and every template
// leaves no token behind.
TEST_F(ColorFormatTest, ShippedList) {
    const char* resources = std::getenv("VEXIL_RESOURCES");
    ASSERT_NE(resources, nullptr);
    Foundation::Bundle::main().setResourcePath(resources);
    const auto path = Foundation::Bundle::main().pathForResource("formats", "json");
    ASSERT_TRUE(path);
    std::ifstream in(*path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto list = Formats::decode(Foundation::Data(text.begin(), text.end()));
    ASSERT_TRUE(list.formats && !list.formats->empty());

    EXPECT_EQ(loadColorFormat(1)->format, "hex");
    std::set<std::int64_t> ids;
    const std::regex leftover("%[a-z.\\[]");
    for (const auto& format : *list.formats) {
        EXPECT_TRUE(ids.insert(format.id).second) << "duplicate id " << format.id;
        EXPECT_TRUE(fs::is_regular_file(fs::path(resources) / (format.image + ".png"))) << format.image;
        const std::string out = formatted(*NSColor::colorWithRed(1, 0.5, 0, 1), format, "Orange");
        EXPECT_FALSE(std::regex_search(out, leftover)) << format.name << ": " << out;
    }
}
