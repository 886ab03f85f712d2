// The tag colour row: dots give the folder their colour and close the menu on success.
#include <gtest/gtest.h>

#include "Platform/Harness/Harness.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Views/TabBar/ZNLTagMenuItem.h"

using namespace AppKit;
using namespace Vexil::Views;

namespace {

struct Tab : ZNLTagMenuItemDelegate {
    bool answer = true, has = true;
    std::vector<std::string> stored;
    int closed = 0;
    bool didChangeFolderColor(const NSColorRef& c) override {
        stored.push_back(hexRGB(*c));
        return answer;
    }
    void cancelMenuTracking() override { ++closed; }
    bool hasDelegate() const override { return has; }
};

TEST(TagMenuItem, FourthDotStoresYellowAndCloses) {
    auto row = ZNLTagMenuItem::loadFromNib();
    auto tab = std::make_shared<Tab>();
    row->delegate = tab;
    for (long i = 0; i < 5; ++i) EXPECT_EQ(row->buttons[std::size_t(i)].lock()->tag, i);
    auto fourth = row->buttons[3].lock();
    fourth->action(*fourth);
    EXPECT_EQ(tab->stored, (std::vector<std::string>{"#ffff00"}));
    EXPECT_EQ(tab->closed, 1);
    tab->answer = false;  // not stored: the menu stays open
    fourth->action(*fourth);
    EXPECT_EQ(tab->closed, 1);
}

TEST(TagMenuItem, NoDelegateOrForeignTagDoesNothing) {
    auto row = ZNLTagMenuItem::loadFromNib();
    auto button = row->buttons[0].lock();
    button->action(*button);  // no tab
    auto tab = std::make_shared<Tab>();
    row->delegate = tab;
    tab->has = false;
    button->action(*button);
    tab->has = true;
    for (long tag : {-1L, 5L, 99L}) {
        button->tag = tag;
        button->action(*button);
    }
    EXPECT_TRUE(tab->stored.empty());
    EXPECT_EQ(tab->closed, 0);
    // The row does not keep its tab alive.
    std::weak_ptr<Tab> weak = tab;
    tab.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(TagMenuItem, EachDotShowsItsColour) {
    auto row = ZNLTagMenuItem::loadFromNib();
    const char* expected[] = {"#ff0000", "#00ff00", "#0000ff", "#ffff00", "#800080"};
    for (std::size_t i = 0; i < 5; ++i) {
        auto image = row->buttons[i].lock()->image();
        ASSERT_TRUE(image) << i;
        auto centre = NSBitmapImageRep::imageRepWithImage(*image)->colorAtX(8, 8);
        EXPECT_EQ(hexRGB(*centre), expected[i]) << i;
        EXPECT_FALSE(image->isTemplate);
    }
}

TEST(TagMenuItem, RowsShareTheColourList) {
    auto a = &ZNLTagMenuItem::tagColors();
    auto b = &ZNLTagMenuItem::tagColors();
    EXPECT_EQ(a, b);
    EXPECT_EQ((*a)[0], (*b)[0]);
    EXPECT_NEAR((*a)[4]->redComponent(), 0.5, 1e-9);
}

}  // namespace

#include "picker/Views/TabBar/FolderExportActions.h"

namespace {

struct ExportRecorder : Vexil::Views::FolderExportActions {
    std::vector<int> formats;
    void exportColorList(const std::optional<std::string>&) override {}
    void exportSwatchExchange(const std::optional<std::string>&) override {}
    void exportFolder(ExportFormat f) override { formats.push_back(int(f)); }
};

TEST(FolderExport, OnlyFormatOrdinalsExport) {
    ExportRecorder rec;
    for (long tag : {-1L, 0L, 3L, 5L, 6L, 1L << 40}) Vexil::Views::exportWithTag(rec, tag);
    EXPECT_EQ(rec.formats, (std::vector<int>{0, 3, 5}));
}

}  // namespace
