// The folder exports against a fresh store, with scripted save panels and a
// fake library window as host.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/AppKit/NSSavePanel.h"
#include "picker/Export/RPCAdobeSwatchExchange.h"
#include "picker/Export/RYPaletteExporter.h"
#include "picker/Library/LibraryTestSupport.h"
#include "picker/Views/ExportActions/LibraryExportActions.h"

using namespace Vexil::Views;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

namespace {

class FakeHost : public FolderExportHost {
public:
    std::shared_ptr<ZNLColorFolder> folder;
    ProgressViews views{std::make_shared<AppKit::NSView>(), std::make_shared<AppKit::NSTextField>(),
                        std::make_shared<AppKit::NSProgressIndicator>()};
    std::vector<std::string> calls;  // "reload" and "toggle", in order

    std::shared_ptr<ZNLColorFolder> selectedFolder() override { return folder; }
    ProgressViews progressViews() override { return views; }
    void reloadCollectionView() override { calls.push_back("reload"); }
    void toggleLibrary() override { calls.push_back("toggle"); }
};

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ExportActionsTest : public librarytest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        panels = std::make_unique<AppKit::SavePanelScript>();
        host = std::make_shared<FakeHost>();
        actions = std::make_unique<LibraryExportActions>(host);
        out = dir + "/out";
        fs::create_directories(out);
        host->folder = addFolder("Brand", 1);
        addItem(host->folder, "#11223380", 1);
        addItem(host->folder, "#ff0000", 2);
        addItem(host->folder, "#00ff00", 3, true);
    }
    void TearDown() override {
        panels.reset();
        LibraryTest::TearDown();
    }
    std::vector<std::string> written() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<AppKit::SavePanelScript> panels;
    std::shared_ptr<FakeHost> host;
    std::unique_ptr<LibraryExportActions> actions;
    std::string out;
};

TEST_F(ExportActionsTest, PdfDoesNothing) {
    actions->exportFolder(ExportFormat::pdf);
    executor->drain();
    EXPECT_THAT(panels->shown(), IsEmpty());
    EXPECT_THAT(host->calls, IsEmpty());
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(ExportActionsTest, CodeFormatsAskForTheirFilesInOrderUnderOneName) {
    struct Case {
        ExportFormat format;
        std::string name;
        std::vector<std::string> types;  // a category asks "h" then "m"
    };
    const auto items = RYPaletteExporter::exportedItems(*host->folder);
    for (const auto& c : {Case{ExportFormat::nscolorCategory, "NSColor+Brand", {"h", "m"}},
                          Case{ExportFormat::uicolorCategory, "UIColor+Brand", {"h", "m"}},
                          Case{ExportFormat::nscolorExtension, "NSColor+Brand", {"swift"}},
                          Case{ExportFormat::uicolorExtension, "UIColor+Brand", {"swift"}}}) {
        SCOPED_TRACE(c.name + " " + c.types.back());
        panels.reset();  // one script at a time: a script's end removes the presenter
        panels = std::make_unique<AppKit::SavePanelScript>();
        host->calls.clear();
        for (std::size_t i = 0; i < c.types.size(); ++i) panels->saveAs(out + "/" + c.name);
        actions->exportFolder(c.format);

        ASSERT_EQ(panels->shown().size(), c.types.size());
        for (std::size_t i = 0; i < c.types.size(); ++i) {
            const auto& p = panels->shown()[i];
            EXPECT_EQ(p.title, "Export");
            EXPECT_THAT(p.allowedFileTypes, ElementsAre(c.types[i]));
            EXPECT_EQ(p.nameFieldStringValue, c.name);
            EXPECT_TRUE(p.showsResizeIndicator);
            EXPECT_FALSE(p.showsHiddenFiles);
            EXPECT_TRUE(p.canCreateDirectories);
            EXPECT_FALSE(p.extensionHidden);
        }
        if (c.types.size() == 2) {
            auto texts = RYPaletteExporter::renderCategory(items, c.format, *host->folder);
            ASSERT_TRUE(texts);
            EXPECT_EQ(contents(out + "/" + c.name + ".h"), texts->header);
            EXPECT_EQ(contents(out + "/" + c.name + ".m"), texts->implementation);
        } else {
            EXPECT_EQ(contents(out + "/" + c.name + ".swift"),
                      RYPaletteExporter::renderFolder(items, c.format, *host->folder));
        }
        EXPECT_THAT(host->calls, ElementsAre("toggle"));
    }
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(ExportActionsTest, CancelWritesNothingAndTheSecondPanelStillComes) {
    panels->cancel();
    panels->saveAs(out + "/only");
    actions->exportFolder(ExportFormat::nscolorCategory);
    EXPECT_EQ(panels->shown().size(), 2u);
    EXPECT_THAT(written(), ElementsAre("only.m"));

    panels->cancel();
    panels->cancel();
    actions->exportFolder(ExportFormat::uicolorCategory);
    panels->cancel();
    actions->exportFolder(ExportFormat::html);
    executor->drain();
    EXPECT_EQ(panels->shown().size(), 5u);
    EXPECT_THAT(written(), ElementsAre("only.m"));
    EXPECT_THAT(host->calls, ElementsAre("toggle", "toggle", "reload", "toggle"));
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(ExportActionsTest, UnwritablePathGivesOneErrorAndStillTogglesTheLibrary) {
    const std::string blocked = out + "/plain-file";
    std::ofstream(blocked) << "kept";
    panels->saveAs(blocked + "/Colors");  // a file where a folder should be
    actions->exportFolder(ExportFormat::nscolorExtension);
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].style, AppKit::NSAlertStyle::warning);
    EXPECT_THAT(alerts->shown()[0].messageText, HasSubstr(blocked + "/Colors.swift"));
    EXPECT_THAT(host->calls, ElementsAre("toggle"));
    EXPECT_THAT(written(), ElementsAre("plain-file"));
    EXPECT_EQ(contents(blocked), "kept");
}

TEST_F(ExportActionsTest, HtmlShowsProgressRendersOffTheMainQueueThenRestoresAndReloads) {
    actions->exportFolder(ExportFormat::html);
    const auto& v = host->views;
    EXPECT_TRUE(v.collectionView->isHidden());
    EXPECT_EQ(v.emptyFolderLabel->stringValue(), "Generating html\u2026");
    EXPECT_FALSE(v.emptyFolderLabel->isHidden());
    EXPECT_FALSE(v.progress->isHidden());
    EXPECT_TRUE(v.progress->isAnimating());
    EXPECT_THAT(panels->shown(), IsEmpty());

    panels->saveAs(out + "/page");
    executor->drain();
    ASSERT_EQ(panels->shown().size(), 1u);
    EXPECT_EQ(panels->shown()[0].nameFieldStringValue, "NSColor+Brand");
    EXPECT_THAT(panels->shown()[0].allowedFileTypes, ElementsAre("html"));
    EXPECT_FALSE(v.collectionView->isHidden());
    EXPECT_EQ(v.emptyFolderLabel->stringValue(), "Folder Is Empty");
    EXPECT_TRUE(v.emptyFolderLabel->isHidden());
    EXPECT_TRUE(v.progress->isHidden());
    EXPECT_FALSE(v.progress->isAnimating());
    EXPECT_THAT(host->calls, ElementsAre("reload", "toggle"));

    // Alpha digits are dropped: the components come from six digits, alpha is 255.
    const std::string page = contents(out + "/page.html");
    EXPECT_THAT(page, HasSubstr("<p class=\"rgba\">17 34 51 255</p>"));
    EXPECT_THAT(page, HasSubstr("<p class=\"rgba\">255 0 0 255</p>"));
    EXPECT_THAT(page, ::testing::Not(HasSubstr("0 255 0")));  // the deleted colour
}

TEST_F(ExportActionsTest, HtmlOfAnEmptyFolderStillOffersThePanelAndReloads) {
    host->folder = addFolder("Empty", 2);
    panels->saveAs(out + "/empty");
    actions->exportFolder(ExportFormat::html);
    executor->drain();
    EXPECT_EQ(panels->shown().size(), 1u);
    EXPECT_THAT(contents(out + "/empty.html"), HasSubstr("This palette has no colours."));
    EXPECT_THAT(host->calls, ElementsAre("reload", "toggle"));
}

TEST_F(ExportActionsTest, ColorListWritesEveryColourOrPresentsTheError) {
    actions->exportColorList(std::nullopt);
    EXPECT_THAT(written(), IsEmpty());

    actions->exportColorList(out + "/Brand.clr");
    auto list = AppKit::NSColorList::listWithContentsOfFile(out + "/Brand.clr");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->allKeys().size(), 2u);
    EXPECT_THAT(alerts->shown(), IsEmpty());

    actions->exportColorList(out + "/missing/Brand.clr");
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_THAT(alerts->shown()[0].messageText, HasSubstr("missing/Brand.clr"));
    EXPECT_THAT(host->calls, IsEmpty());
    EXPECT_THAT(panels->shown(), IsEmpty());
}

TEST_F(ExportActionsTest, SwatchFileNeverReplacesAFileAndSaysSo) {
    actions->exportSwatchExchange(std::nullopt);
    EXPECT_THAT(written(), IsEmpty());

    const std::string path = out + "/Brand.ase";
    actions->exportSwatchExchange(path);
    RPCAdobeSwatchExchange reader;
    ASSERT_TRUE(reader.readFromFile(path, "Brand"));
    EXPECT_EQ(reader.colorList.size(), 2u);
    EXPECT_THAT(alerts->shown(), IsEmpty());

    std::ofstream(path, std::ios::trunc) << "someone else's file";
    actions->exportSwatchExchange(path);
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].style, AppKit::NSAlertStyle::warning);
    EXPECT_EQ(alerts->shown()[0].messageText, "\"Brand.ase\" already exists.");
    EXPECT_EQ(contents(path), "someone else's file");

    actions->exportSwatchExchange(out + "/missing/Brand.ase");
    ASSERT_EQ(alerts->shown().size(), 2u);
    EXPECT_THAT(alerts->shown()[1].messageText, HasSubstr("missing/Brand.ase"));
    EXPECT_THAT(written(), ElementsAre("Brand.ase"));
}

TEST_F(ExportActionsTest, AnExportFinishingAfterTheWindowWentAwayStillOffersThePanel) {
    panels->saveAs(out + "/late");
    actions->exportFolder(ExportFormat::html);
    host.reset();
    executor->drain();
    EXPECT_EQ(panels->shown().size(), 1u);
    EXPECT_THAT(written(), ElementsAre("late.html"));
}

}  // namespace
