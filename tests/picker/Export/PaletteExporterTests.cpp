// The palette exporter: records, identifiers, the seven bundle templates
// against golden files, and the failures handed back to the caller.
//
// VEXIL_UPDATE_GOLDEN=1 rewrites the golden files from the current output.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Text.h"
#include "picker/Export/RYPaletteExporter.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"

namespace {

namespace fs = std::filesystem;

std::shared_ptr<ZNLColorItem> item(const std::string& hex, const std::string& name = "") {
    auto i = std::make_shared<ZNLColorItem>();
    i->setColor(hex);
    i->setColorName(name);
    return i;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void expectGolden(const std::string& name, const std::string& actual) {
    const fs::path path = fs::path(EXPORT_GOLDEN_DIR) / name;
    if (std::getenv("VEXIL_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(readFile(path), actual) << "golden " << name;
}

// A folder whose names try every rule: an apostrophe, a slash, a digit
// first, letters outside ASCII, HTML metacharacters, a line break, a
// reserved word, a name with nothing identifier-like, a name from the table
// and two names that make the same identifier.
class ExporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.setFolderName("Spring & <Summer>");
        items = {
            item("#66ff66", "Screamin' Green"),
            item("#808080", "Black/White"),
            item("#ff8000", "3 Wise Men"),
            item("#fffdd0", "Crème Brûlée"),
            item("#a52a2a", "<b>\"Tom & Jerry's\"</b>"),
            item("#ff0000"),  // named by the table
            item("#ee0000", "MARASCINO"),
            item("#123456", "Default"),
            item("#abcdef80", "Line\nBreak"),
            item("#000000", "\xF0\x9F\x8E\xA8"),  // an emoji alone
        };
    }

    ZNLColorFolder folder;
    RYPaletteExporter::Items items;
};

TEST(RYColorTest, FlatNamesAreIdentifiers) {
    const std::pair<const char*, const char*> cases[] = {
        {"Deep Sky Blue", "deepSkyBlue"},
        {"ALICE  blue", "aliceBlue"},
        {"  leading and trailing  ", "leadingAndTrailing"},
        {"Screamin' Green", "screaminGreen"},
        {"Blue-Green", "bluegreen"},
        {"Black/White", "blackwhite"},
        {"3 Wise Men", "_3WiseMen"},
        {"Crème Brûlée", "cremeBrulee"},
        {"Straße", "strasse"},
        {"tab\tinside", "tabinside"},
        {"under_score", "under_score"},
        {"Default", "_default"},
        {"class", "_class"},
        {"Black", "_black"},
        {"Label Color", "_labelColor"},
        {"Black Olive", "blackOlive"},
        {"", ""},
        {"   ", ""},
        {"\xF0\x9F\x8E\xA8", ""},
    };
    for (const auto& [name, flat] : cases) EXPECT_EQ(RYColor::makeFlatName(name), flat) << name;
}

TEST(RYColorTest, CollidingIdentifiersGetNumbers) {
    std::vector<RYColor> colors(6);
    const char* flats[] = {"red", "red", "red2", "", "", "red"};
    for (std::size_t i = 0; i < colors.size(); ++i) colors[i].flatName = flats[i];
    makeFlatNamesUnique(colors);
    std::vector<std::string> got;
    for (const auto& c : colors) got.push_back(c.flatName);
    EXPECT_EQ(got, (std::vector<std::string>{"red", "red2", "red22", "color", "color2", "red3"}));
}

TEST(RYColorTest, RecordNumbersAndHex) {
    const RYColor orange = RYColor::fromColorItem(*item("#ff8000", "Orange"));
    EXPECT_EQ(orange.red + " " + orange.green + " " + orange.blue + " " + orange.alpha + " " + orange.hex,
              "1.0000000000 0.5019607843 0.0000000000 1.00 #ff8000");
    // Alpha digits are dropped, upper case becomes lower case.
    const RYColor withAlpha = RYColor::fromColorItem(*item("#ABCDEF00", "x"));
    EXPECT_EQ(withAlpha.hex, "#abcdef");
    EXPECT_EQ(withAlpha.alpha, "1.00");
    // An empty name takes the table's; a name of spaces is kept as it is.
    EXPECT_EQ(RYColor::fromColorItem(*item("#ff0000")).name, "Marascino");
    const RYColor spaces = RYColor::fromColorItem(*item("#ff0000", "  "));
    EXPECT_EQ(spaces.name, "  ");
    EXPECT_EQ(spaces.flatName, "");
}

TEST(RYColorTest, HTMLNumbersThroughTheTemplate) {
    const RYColor c = RYColor::htmlRecord(*item("#ff800000", "Orange"));  // alpha digits dropped
    EXPECT_EQ(c, (RYColor{"Orange", "255", "128", "0", "255", "_orange", "#ff8000"}));
    const auto text = RYPaletteExporter::renderColors({c}, ExportFormat::html, "P");
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(">255 128 0 255<"), std::string::npos) << *text;
}

TEST_F(ExporterTest, GoldenSingleTemplates) {
    for (auto [format, golden] : {std::pair{ExportFormat::nscolorExtension, "NSColorExtension.swift"},
                                  std::pair{ExportFormat::uicolorExtension, "UIColorExtension.swift"}}) {
        Foundation::Error error;
        const auto text = RYPaletteExporter::renderFolder(items, format, folder, &error);
        ASSERT_TRUE(text) << error.description;
        expectGolden(golden, *text);
    }
}

TEST_F(ExporterTest, GoldenCategories) {
    for (auto [format, base] : {std::pair{ExportFormat::nscolorCategory, "NSColorCategory"},
                                std::pair{ExportFormat::uicolorCategory, "UIColorCategory"}}) {
        const auto category = RYPaletteExporter::renderCategory(items, format, folder);
        ASSERT_TRUE(category);
        expectGolden(std::string(base) + ".h", category->header);
        expectGolden(std::string(base) + ".m", category->implementation);
    }
}

TEST_F(ExporterTest, GoldenHTML) {
    // As the library window prepares them: whole numbers 0..255.
    std::vector<RYColor> colors;
    for (const auto& i : items) colors.push_back(RYColor::htmlRecord(*i));
    const auto text = RYPaletteExporter::renderColors(colors, ExportFormat::html, folder.folderName());
    ASSERT_TRUE(text);
    expectGolden("palette.html", *text);
    // Nothing of a name reaches the page unescaped.
    EXPECT_EQ(text->find("<b>"), std::string::npos);
    EXPECT_EQ(text->find("<Summer>"), std::string::npos);
    EXPECT_NE(text->find("&lt;b&gt;&quot;Tom &amp; Jerry&#39;s&quot;&lt;/b&gt;"), std::string::npos);
}

TEST_F(ExporterTest, EmptyFolderStillRenders) {
    const auto text = RYPaletteExporter::renderFolder({}, ExportFormat::nscolorExtension, folder);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("extension NSColor {\n}"), std::string::npos) << *text;
    const auto html = RYPaletteExporter::renderColors({}, ExportFormat::html, "Empty");
    ASSERT_TRUE(html);
    EXPECT_NE(html->find("no colours"), std::string::npos);
}

TEST_F(ExporterTest, FormatsWithoutTheirTemplateGiveNothingQuietly) {
    Foundation::DiagnosticsCapture capture;
    EXPECT_FALSE(RYPaletteExporter::renderFolder(items, ExportFormat::nscolorCategory, folder));
    EXPECT_FALSE(RYPaletteExporter::renderCategory(items, ExportFormat::html, folder));
    EXPECT_FALSE(RYPaletteExporter::renderColors({}, ExportFormat::uicolorCategory, "x"));
    EXPECT_TRUE(capture.stdoutLines().empty());
    EXPECT_EQ(templateName(ExportFormat::pdf), templateName(ExportFormat::html));
    EXPECT_FALSE(templateName(ExportFormat::uicolorCategory));
    const auto paths = categoryTemplateNames(ExportFormat::uicolorCategory);
    ASSERT_TRUE(paths.implementation && paths.header);
    EXPECT_EQ(fs::path(*paths.implementation).filename(), "UIColorCategory_m");
    EXPECT_EQ(fs::path(*paths.header).filename(), "UIColorCategory_h");
}

// A bundle of our own making, restored afterwards.
class ScratchBundleTest : public ExporterTest {
protected:
    void SetUp() override {
        ExporterTest::SetUp();
        saved_ = Foundation::Bundle::main().resourcePath();
        dir_ = fs::path(Foundation::temporaryDirectory()) / "bundle";
        fs::create_directories(dir_ / "templates");
        Foundation::Bundle::main().setResourcePath(dir_.string());
    }
    void TearDown() override {
        Foundation::Bundle::main().setResourcePath(saved_);
        fs::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / "templates" / name, std::ios::binary) << text;
    }

    fs::path dir_;
    std::string saved_;
};

TEST_F(ScratchBundleTest, CategoryNeedsBothTemplates) {
    write("NSColorCategory_h", "header");
    Foundation::Error error;
    EXPECT_FALSE(RYPaletteExporter::renderCategory(items, ExportFormat::nscolorCategory, folder, &error));
    EXPECT_EQ(error.code, kExportTemplateMissing);

    write("NSColorCategory_m", "{% for color in colors %}{{ color.flatName }} {% endfor %}");
    const auto both = RYPaletteExporter::renderCategory(items, ExportFormat::nscolorCategory, folder);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->header, "header");
    EXPECT_EQ(
        both->implementation,
        "screaminGreen blackwhite _3WiseMen cremeBrulee btomJerrysb marascino marascino2 _default linebreak color ");

    // A broken implementation gives no half result.
    write("NSColorCategory_m", "{% if %}");
    EXPECT_FALSE(RYPaletteExporter::renderCategory(items, ExportFormat::nscolorCategory, folder));
}

TEST_F(ScratchBundleTest, ErrorsArePrintedOnceAndHandedBack) {
    write("NSColorExtension", "{{ paletteName|nosuchfilter }}");
    Foundation::DiagnosticsCapture capture;
    Foundation::Error error;
    EXPECT_FALSE(RYPaletteExporter::renderFolder(items, ExportFormat::nscolorExtension, folder, &error));
    EXPECT_EQ(error.domain, kPaletteExportErrorDomain);
    EXPECT_EQ(error.code, kExportTemplateSyntax);
    ASSERT_EQ(capture.stdoutLines().size(), 1u);
    EXPECT_EQ(capture.stdoutLines()[0], error.description);
    EXPECT_NE(error.description.find("nosuchfilter"), std::string::npos);

    // A template missing from the bundle: handed back, nothing printed.
    capture.clear();
    error = {};
    EXPECT_FALSE(RYPaletteExporter::renderFolder(items, ExportFormat::uicolorExtension, folder, &error));
    EXPECT_EQ(error.code, kExportTemplateMissing);
    EXPECT_TRUE(capture.stdoutLines().empty());

    // A file that is not UTF-8.
    write("html", "\xff\xfe bad");
    error = {};
    EXPECT_FALSE(RYPaletteExporter::renderColors({}, ExportFormat::html, "x", &error));
    EXPECT_EQ(error.domain, Foundation::kCocoaErrorDomain);
    EXPECT_EQ(capture.stdoutLines().size(), 1u);
}

TEST_F(ScratchBundleTest, IncludesResolveInTheBundleWhateverTheWorkingDirectory) {
    write("row", "[{{ color.name }}]");
    write("UIColorExtension", "{{ paletteName }}:{% for color in colors %}{% include \"row\" %}{% endfor %}");
    const auto cwd = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    const auto text = RYPaletteExporter::renderFolder({item("#010203", "A b"), item("#040506", "C\td")},
                                                      ExportFormat::uicolorExtension, folder);
    fs::current_path(cwd);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "Spring & <Summer>:[A b][C d]");
}

}  // namespace
