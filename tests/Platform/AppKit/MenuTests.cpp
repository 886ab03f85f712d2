// Menus: tracking switches the run loop's mode, delegate order, choosing,
// cancelling, submenus, view items.

#include <gtest/gtest.h>

#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

struct Log : NSMenuDelegate {
    std::vector<std::string>* events;
    explicit Log(std::vector<std::string>* e) : events(e) {}
    void menuWillOpen(NSMenu& m) override { events->push_back("open " + m.title); }
    void menuDidClose(NSMenu& m) override { events->push_back("close " + m.title); }
};

class MenuFixture : public ::testing::Test {
protected:
    Harness::UIHarness h;
    std::vector<std::string> events;
    std::shared_ptr<Log> log = std::make_shared<Log>(&events);
    NSMenuRef menu = NSMenu::make("status");
    NSMenuRef formats = NSMenu::make("formats");
    std::shared_ptr<NSStatusItem> item;

    void SetUp() override {
        menu->delegate = log;
        formats->delegate = log;
        for (std::string t : {"Pick Color", "Library"})
            menu->addItemWithTitle(
                t, [this, t](NSMenuItem&) { events.push_back("action " + t); }, "");
        menu->addItem(NSMenuItem::separatorItem());
        auto sub = menu->addItemWithTitle("Formats", nullptr, "");
        sub->setSubmenu(formats);
        for (std::string t : {"CSS Hex", "Swift"}) {
            auto i = formats->addItemWithTitle(
                t, [this, t](NSMenuItem&) { events.push_back("action " + t); }, "");
            i->tag = static_cast<long>(formats->numberOfItems());
        }
        auto disabled = menu->addItemWithTitle(
            "Disabled", [this](NSMenuItem&) { events.push_back("action Disabled"); }, "");
        disabled->enabled = false;
        item = NSStatusBar::systemStatusBar().statusItemWithLength(NSSquareStatusItemLength);
        item->menu = menu;
    }
};

TEST_F(MenuFixture, TrackingSwitchesTimersToTheEventTrackingMode) {
    int plain = 0, tracking = 0;
    auto t1 = Foundation::Timer::scheduled(0.1, true, [&](Foundation::Timer&) { ++plain; });
    auto t2 = Foundation::Timer::scheduled(0.1, true, [&](Foundation::Timer&) { ++tracking; },
                                           {Foundation::RunLoopMode::Default, Foundation::RunLoopMode::EventTracking});
    h.clickStatusItem(item);
    ASSERT_TRUE(menu->isOpen());
    EXPECT_EQ(Foundation::RunLoop::main().currentMode(), Foundation::RunLoopMode::EventTracking);
    h.advance(0.35);
    EXPECT_EQ(plain, 0);
    EXPECT_EQ(tracking, 3);
    h.closeMenu();
    EXPECT_EQ(Foundation::RunLoop::main().currentMode(), Foundation::RunLoopMode::Default);
    h.drain();
    EXPECT_EQ(plain, 1) << "a timer that fell due while tracking fires once when its mode is back";
    t1->invalidate();
    t2->invalidate();
}

TEST_F(MenuFixture, ChoosingClosesTheMenuBeforeTheActionRuns) {
    h.clickStatusItem(item);
    EXPECT_EQ(h.openMenuTitles(), (std::vector<std::string>{"Pick Color", "Library", "-", "Formats", "Disabled"}));
    auto chosen = h.chooseMenuItem({"Library"});
    ASSERT_TRUE(chosen);
    EXPECT_FALSE(menu->isOpen());
    EXPECT_EQ(events, (std::vector<std::string>{"open status", "close status", "action Library"}));
}

TEST_F(MenuFixture, SubmenusOpenOnHoverAndCloseInnermostFirst) {
    ASSERT_TRUE(h.chooseStatusMenuItem({"Formats", "Swift"}));
    EXPECT_EQ(events, (std::vector<std::string>{"open status", "open formats", "close formats", "close status",
                                                "action Swift"}));
}

TEST_F(MenuFixture, ClickingOutsideEscapeAndDisabledItemsChooseNothing) {
    h.clickStatusItem(item);
    h.click({10, 10});
    EXPECT_FALSE(h.isMenuOpen());
    h.clickStatusItem(item);
    h.chooseMenuItem({"Disabled"});
    EXPECT_TRUE(h.isMenuOpen());
    h.closeMenu();
    h.clickStatusItem(item);
    menu->cancelTracking();
    EXPECT_EQ(events, (std::vector<std::string>{"open status", "close status", "open status", "close status",
                                                "open status", "close status"}));
}

TEST_F(MenuFixture, TheMenuOpensUnderTheStatusItemAsAWindowOfPopUpLevel) {
    h.clickStatusItem(item);
    auto w = menu->menuWindow();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->level(), NSPopUpMenuWindowLevel);
    EXPECT_EQ(w->frame().maxY(), item->frame().minY());
    EXPECT_EQ(w->frame().minX(), std::min(item->frame().minX(), 1440 - w->frame().width()));
    auto order = h.app().windowsInScreenOrder();
    EXPECT_EQ(order.back(), w);
    h.closeMenu();
    EXPECT_FALSE(w->isVisible());
}

// A tray icon's place, as the display reports it: the menu hangs under it, or
// stands above it when the panel runs along the bottom of the screen.
TEST_F(MenuFixture, OnAPanelTheMenuFollowsThePanelsPlaceAndFlipsAboveNearTheBottom) {
    const struct {
        CGRect icon;
        bool above;
    } cases[] = {{CGRectMake(300, 876, 24, 24), false}, {CGRectMake(300, 0, 24, 24), true}};
    for (const auto& c : cases) {
        item->panelFrame = c.icon;
        EXPECT_EQ(item->frame(), c.icon);
        h.app().inputStatusItemClicked(item);
        auto w = menu->menuWindow();
        ASSERT_TRUE(w);
        EXPECT_EQ(w->frame().minX(), 300);
        if (c.above)
            EXPECT_EQ(w->frame().minY(), c.icon.maxY());
        else
            EXPECT_EQ(w->frame().maxY(), c.icon.minY());
        h.app().inputStatusItemClicked(item);  // a second click on the item closes it
        EXPECT_FALSE(menu->isOpen());
    }
}

TEST_F(MenuFixture, KeysMoveTheHighlightAndReturnChooses) {
    h.clickStatusItem(item);
    h.pressKey(kVK_DownArrow);
    h.pressKey(kVK_DownArrow);
    EXPECT_EQ(menu->highlightedItem()->title, "Library");
    h.pressKey(kVK_Return, "\r");
    EXPECT_EQ(events.back(), "action Library");
}

TEST_F(MenuFixture, ViewItemsGetTheirOwnClicks) {
    int clicks = 0;
    auto row = std::make_shared<NSView>(CGRectMake(0, 0, 180, 30));
    auto button = NSButton::buttonWithTitle("Red", [&](NSControl&) { ++clicks; });
    button->setFrame(CGRectMake(10, 5, 40, 20));
    row->addSubview(button);
    auto viewItem = NSMenuItem::make("");
    viewItem->view = row;
    menu->addItem(viewItem);
    h.clickStatusItem(item);
    h.clickView(*button);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(menu->isOpen()) << "a click inside a view item does not choose";
}

TEST_F(MenuFixture, ItemsKeepOrderAndIndexesThroughInsertAndRemove) {
    auto sep = NSMenuItem::separatorItem();
    menu->insertItem(sep, 2);
    EXPECT_EQ(menu->indexOfItem(sep), 2);
    menu->insertItem(NSMenuItem::make("end"), 99);
    EXPECT_EQ(menu->itemAtIndex(menu->numberOfItems() - 1)->title, "end");
    menu->removeItem(sep);
    EXPECT_EQ(menu->indexOfItem(sep), -1);
    EXPECT_EQ(formats->itemWithTag(2)->title, "Swift");
    EXPECT_EQ(formats->supermenu(), menu.get());
}

}  // namespace

namespace {

TEST_F(MenuFixture, TheDisplaysOwnMenuAndPanelEnterThroughTheDoor) {
    // A panel's status menu (not drawn by us) reports the item chosen and the item clicked.
    h.app().inputStatusItemClicked(item);
    EXPECT_TRUE(menu->isOpen());
    h.app().inputMenuItemChosen(formats->itemWithTag(1));
    EXPECT_FALSE(menu->isOpen());
    h.app().inputMenuItemChosen(menu->itemWithTitle("Disabled"));
    h.app().inputMenuItemChosen(menu->itemWithTitle("Pick Color"));
    EXPECT_EQ(events, (std::vector<std::string>{"open status", "close status", "action CSS Hex", "action Pick Color"}));
}

}  // namespace
