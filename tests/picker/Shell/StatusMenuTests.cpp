// The status menu: the recent colours, their clicks, clear history, the
// formats submenu and the menu-open rule.

#include "picker/Colors/CNColorNames.h"
#include "support/Snapshot.h"
#include "ShellTestSupport.h"

namespace shelltest {
namespace {

using AppKit::NSControlStateValueOff;
using AppKit::NSControlStateValueOn;

class StatusMenuTest : public ShellTest {
protected:
    // Twelve colours, the newest last.
    std::vector<std::string> addTwelve() {
        std::vector<std::string> hexes;
        for (int i = 1; i <= 12; ++i) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "#%02x%02x%02xff", i * 10, 255 - i * 10, i * 5);
            hexes.push_back(hex);
            addToHistory(hex);
        }
        return hexes;
    }
    static std::string text(const std::string& hex) { return formatted(*colorWithHex(hex), currentColorFormat(), ""); }
};

TEST_F(StatusMenuTest, EmptyHistoryAddsNothingAndTheFixedItemsKeepTheirPlaces) {
    launch();
    EXPECT_TRUE(app->recentItems.empty());
    std::vector<std::string> fixed(std::begin(kStatusMenuTitles), std::end(kStatusMenuTitles));
    fixed[6] = "CSS Hex";  // the formats item shows the current format
    EXPECT_EQ(menuTitles(), fixed);
}

TEST_F(StatusMenuTest, TenNewestColoursFollowTheSeparatorAtSevenNewestFirst) {
    launch();
    auto hexes = addTwelve();
    // A flagged colour never shows; the next newest takes its place.
    auto flagged = addToHistory("#abcdefff");
    ZNLColorsLibrary::shared().colorService().update(flagged, [](ZNLColorItem& i) { markDeleted(i); });
    app->refreshRecentItems();
    app->refreshRecentItems();  // repeated refreshes leave one section

    auto items = menu()->itemArray();
    EXPECT_TRUE(items[7]->isSeparatorItem());
    EXPECT_EQ(items[8]->title, "Recent Colors");
    ASSERT_EQ(app->recentItems.size(), 11u);
    EXPECT_EQ(app->recentItems[0], items[7]);
    for (long i = 0; i < 10; ++i) {
        auto item = items[static_cast<std::size_t>(9 + i)];
        const std::string& hex = hexes[static_cast<std::size_t>(11 - i)];
        EXPECT_EQ(item->tag, 9 + i);
        EXPECT_EQ(item->title, text(hex));
        EXPECT_EQ(item->actionName, "handleRecentItemClickWithSender:");
        ASSERT_TRUE(item->attributedTitle);
        const auto& runs = item->attributedTitle->runs();
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[0].text, *sharedColorNames().nameForColor(*colorWithHex(hex)) + "\n");
        EXPECT_EQ(runs[1].text, text(hex));
        ASSERT_TRUE(item->image);
        EXPECT_EQ(item->image->size().width, 26.0);
    }
    EXPECT_EQ(items[19]->title, "Clear History");
    long separators = 0;
    for (auto& item : items) separators += item->isSeparatorItem();
    EXPECT_EQ(separators, 5);  // four fixed, one of the section
}

TEST_F(StatusMenuTest, NothingIsRebuiltWhileTheMenuIsOpen) {
    launch();
    addToHistory("#112233ff");
    app->refreshRecentItems();
    ASSERT_EQ(app->recentItems.size(), 2u);
    ui->clickStatusItem(app->statusItem);
    ASSERT_TRUE(app->isMenuVisible);
    ui->clearOutput();
    addToHistory("#445566ff");
    app->refreshRecentItems();
    EXPECT_EQ(ui->outputLines(), std::vector<std::string>{"Update menu"});
    EXPECT_EQ(app->recentItems.size(), 2u);
    ui->closeMenu();
    EXPECT_FALSE(app->isMenuVisible);
    EXPECT_EQ(app->recentItems.size(), 2u);  // nothing catches up on closing
    app->refreshRecentItems();
    EXPECT_EQ(app->recentItems.size(), 3u);
}

TEST_F(StatusMenuTest, ClickingARecentColourCopiesItsTextAndShowsNameAndText) {
    defaults().set("colorFormat", 2);  // CSS RGB
    launch();
    auto hexes = addTwelve();
    app->refreshRecentItems();
    ui->clickStatusItem(app->statusItem);
    auto chosen = ui->chooseMenuItemWithTag(11);
    ASSERT_TRUE(chosen);
    const std::string& hex = hexes[9];  // third newest
    const std::string expected = text(hex);
    EXPECT_EQ(expected.rfind("rgb(", 0), 0u);
    EXPECT_EQ(clipboard(), expected);
    ASSERT_TRUE(app->floatingWindow);
    EXPECT_EQ(app->floatingWindow->infoView()->stringValue(),
              *sharedColorNames().nameForColor(*colorWithHex(hex)) + " - " + expected);
    EXPECT_FALSE(app->floatingWindow->colorView()->isHidden());
    EXPECT_FALSE(app->ignoreLastClipboardItem);
}

TEST_F(StatusMenuTest, AClickOnAnItemOutsideTheCurrentListDoesNothing) {
    launch();
    addToHistory("#112233ff");
    AppKit::NSMenuItem stale;
    stale.tag = 12;
    AppKit::NSPasteboard::generalPasteboard()->clearContents();
    app->handleRecentItemClick(stale);
    EXPECT_EQ(clipboard(), "<none>");
    EXPECT_EQ(app->floatingWindow->infoView()->stringValue(), "Vexil is ready to use");
}

TEST_F(StatusMenuTest, ClearHistoryEmptiesTheSectionAndFlagsTheColoursForSync) {
    launch();
    addTwelve();
    app->refreshRecentItems();
    ASSERT_EQ(app->recentItems.size(), 11u);
    ui->chooseStatusMenuItem({"Clear History"});
    EXPECT_TRUE(app->recentItems.empty());
    EXPECT_FALSE(menu()->itemArray()[7]->isSeparatorItem());
    auto folder = ZNLColorsLibrary::historyFolder();
    EXPECT_EQ(folder->objects().filter(ObjectStore::Predicate("isDeleted == false")).count(), 0u);
    // Flagged, so the sync engine carries the deletions to the other devices.
    EXPECT_EQ(folder->objects().filter(ObjectStore::Predicate("isDeleted == true")).count(), 12u);
    // A cleared colour picked again is stored again.
    EXPECT_TRUE(ZNLColorsLibrary::shared().addColor("#0af505ff", folder));
}

TEST_F(StatusMenuTest, TheFormatsSubmenuTicksTheChoiceAndRetitlesItsItem) {
    launch();
    auto formats = app->formatsMenu.lock();
    ASSERT_EQ(formats->numberOfItems(), 20);
    EXPECT_EQ(formats->itemAtIndex(0)->title, "CSS Hex");
    EXPECT_EQ(formats->itemAtIndex(0)->tag, 1);
    // "colorFormat" never written reads as 0: no list entry has it, the built-in one is shown.
    for (auto& item : formats->itemArray()) EXPECT_EQ(item->state, NSControlStateValueOff);
    EXPECT_EQ(app->formatsMenuItem.lock()->title, "CSS Hex");
    ui->drain();
    EXPECT_TRUE(formats->itemAtIndex(7)->image);  // icons arrive from the global queue

    addToHistory("#336699ff");
    app->refreshRecentItems();
    ui->clickStatusItem(app->statusItem);
    ASSERT_TRUE(ui->chooseMenuItem({"CSS Hex", "Swift NSColor"}));
    EXPECT_EQ(defaults().integerForKey("colorFormat"), 8);
    for (auto& item : formats->itemArray())
        EXPECT_EQ(item->state, item->tag == 8 ? NSControlStateValueOn : NSControlStateValueOff) << item->title;
    auto formatsItem = app->formatsMenuItem.lock();
    EXPECT_EQ(formatsItem->title, "Swift NSColor");
    EXPECT_EQ(formatsItem->image, formats->itemWithTag(8)->image);
    // The recent colours are rebuilt in the new format.
    EXPECT_EQ(app->recentItems[1]->title, formatted(*colorWithHex("#336699ff"), *loadColorFormat(8), ""));
    EXPECT_NE(app->recentItems[1]->title.find("NSColor"), std::string::npos);
}

TEST_F(StatusMenuTest, TheFixedItemsSendTheirActions) {
    launch();
    const std::vector<std::pair<std::string, std::string>> items = {
        {"Pick Color", "showMagnifier"}, {"Show Color Library", "toggleLibrary"}, {"New Color…", "addNewColor"},
        {"New Palette…", "newPalette"},  {"Preferences…", "showPreferences"},     {"Send Feedback…", "getFeedback"},
        {"Community", "gotoCommunity"},
    };
    for (const auto& [title, action] : items) {
        ASSERT_TRUE(ui->chooseStatusMenuItem({title})) << title;
        ASSERT_FALSE(app->actions.empty());
        EXPECT_EQ(app->actions.back(), action);
    }
    EXPECT_EQ(app->actions.size(), items.size());
    EXPECT_EQ(app->magnifierMenuItem.lock()->title, "Pick Color");
    EXPECT_EQ(app->libraryMenuItem.lock()->title, "Show Color Library");
    EXPECT_EQ(menu()->itemAtIndex(0)->actionName, "pickColorItemPressed:");
}

TEST_F(StatusMenuTest, ASavedChoiceIsTickedAtLaunch) {
    defaults().set("colorFormat", 4);
    launch();
    auto formats = app->formatsMenu.lock();
    EXPECT_EQ(formats->itemWithTag(4)->state, NSControlStateValueOn);
    EXPECT_EQ(app->formatsMenuItem.lock()->title, "CSS HSL");
}

}  // namespace
}  // namespace shelltest

namespace shelltest {
namespace {

TEST_F(StatusMenuTest, PictureOfTheOpenMenuWithRecentColours) {
    launch();
    for (const char* hex : {"#e63946ff", "#2a9d8fff", "#f4a261ff", "#264653ff"}) addToHistory(hex);
    app->refreshRecentItems();
    ui->advance(5.0);  // the ready notice has gone
    ui->clickStatusItem(app->statusItem);
    ASSERT_TRUE(ui->isMenuOpen());
    auto window = menu()->menuWindow();
    ASSERT_TRUE(window);
    AppKit::CGRect region = window->frame();
    region.origin.x -= 20;
    region.size.width += 40;
    region.size.height = 900 - region.origin.y;
    region.origin.y -= 20;
    region.size.height += 20;
    EXPECT_TRUE(TestSupport::matchesSnapshot(ui->renderScreen(region), "picker/Shell/snapshots/status-menu.png"));
}

}  // namespace
}  // namespace shelltest
