// The alert, pasteboard, host and colour-list stand-ins.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSColorList.h"
#include "Platform/AppKit/NSHost.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/Directories.h"

namespace {

using namespace AppKit;
using ::testing::ElementsAre;

TEST(NSAlertTest, ScriptRecordsAlertsAndAnswersInOrder) {
    AlertScript script;
    script.answer(NSAlertSecondButtonReturn);
    NSAlert a;
    a.messageText = "Store failed";
    a.addButtonWithTitle("Ok");
    a.addButtonWithTitle("Cancel");
    EXPECT_EQ(a.runModal(), NSAlertSecondButtonReturn);
    NSAlert b;
    b.alertStyle = NSAlertStyle::critical;
    b.messageText = "Again";
    EXPECT_EQ(b.runModal(), NSAlertFirstButtonReturn);
    ASSERT_EQ(script.shown().size(), 2u);
    EXPECT_EQ(script.shown()[0].style, NSAlertStyle::warning);
    EXPECT_THAT(script.shown()[0].buttons, ElementsAre("Ok", "Cancel"));
    EXPECT_THAT(script.shown()[1].buttons, ElementsAre("OK"));
    EXPECT_THAT(script.messages(), ElementsAre("Store failed", "Again"));
}

TEST(NSAlertTest, HeadlessRunPrintsTheAlertAndTakesTheFirstButton) {
    NSAlert a;
    a.messageText = "Headless message";
    a.addButtonWithTitle("Ok");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(a.runModal(), NSAlertFirstButtonReturn);
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("[alert warning] Headless message"), std::string::npos);
    EXPECT_NE(printed.find("[Ok]"), std::string::npos);
}

TEST(NSPasteboardTest, DeclaringTypesClearsAndCountsChanges) {
    auto pb = NSPasteboard::pasteboardWithName("test-board");
    EXPECT_EQ(pb, NSPasteboard::pasteboardWithName("test-board"));
    EXPECT_NE(pb, NSPasteboard::generalPasteboard());
    long start = pb->changeCount();
    EXPECT_TRUE(pb->setString("before", NSPasteboardTypeString));
    EXPECT_EQ(pb->declareTypes({NSPasteboardTypeString}), start + 1);
    EXPECT_EQ(pb->stringForType(NSPasteboardTypeString), std::nullopt);
    EXPECT_TRUE(pb->setString("#ff0000", NSPasteboardTypeString));
    EXPECT_FALSE(pb->setString("x", "com.example.other"));  // not declared
    EXPECT_EQ(pb->stringForType(NSPasteboardTypeString), "#ff0000");
    EXPECT_THAT(pb->types(), ElementsAre(NSPasteboardTypeString));
    EXPECT_EQ(pb->clearContents(), start + 2);
    EXPECT_TRUE(pb->setString("any", "com.example.other"));
    EXPECT_EQ(pb->changeCount(), start + 2);
}

TEST(NSHostTest, LocalizedNameCanBeSetEmptyOrAbsentAndReset) {
    auto machine = NSHost::currentHost()->localizedName();
    NSHost::setLocalizedName("");
    EXPECT_EQ(NSHost::currentHost()->localizedName(), "");
    NSHost::setLocalizedName(std::nullopt);
    EXPECT_EQ(NSHost::currentHost()->localizedName(), std::nullopt);
    NSHost::resetLocalizedName();
    EXPECT_EQ(NSHost::currentHost()->localizedName(), machine);
}

TEST(NSColorListTest, RepeatedKeyReplacesTheColourInPlace) {
    NSColorList list;
    list.setColor(NSColor::colorWithRed(1, 0, 0, 1), "Red");
    list.setColor(NSColor::colorWithRed(0, 1, 0, 1), "Green");
    list.setColor(NSColor::colorWithRed(0.5, 0, 0, 1), "Red");
    EXPECT_THAT(list.allKeys(), ElementsAre("Red", "Green"));
    EXPECT_EQ(*list.colorWithKey("Red"), *NSColor::colorWithRed(0.5, 0, 0, 1));
    EXPECT_EQ(list.colorWithKey("Blue"), nullptr);
}

TEST(NSColorListTest, FileReadsBackTheSameListInEveryColourSpace) {
    std::string dir = Foundation::temporaryDirectory();
    NSColorList list(std::string("Tab\there"));
    list.setColor(NSColor::colorWithRed(0.1, 0.2, 1.0 / 3.0, 0.5), "plain");
    list.setColor(NSColor::colorWithCalibratedRed(1, 0.5, 0, 1), "with\ttab and \\ back\nslash");
    list.setColor(NSColor::colorWithDeviceRed(0, 0, 0, 0), "");
    list.setColor(NSColor::colorWithCalibratedWhite(0.2, 1), "grey");
    list.setColor(NSColor::colorWithDeviceWhite(0.7, 0.25), "device grey");
    list.setColor(NSColor::colorWithDeviceCyan(0.1, 0.2, 0.3, 0.4, 1), "cmyk");
    list.setColor(NSColor::colorWithPatternImageNamed("stripes"), "pattern");
    std::string path = dir + "/palette.clr";
    Foundation::Error error;
    ASSERT_TRUE(list.writeToFile(path, &error)) << error.description;
    auto back = NSColorList::listWithContentsOfFile(path, &error);
    ASSERT_TRUE(back) << error.description;
    EXPECT_EQ(back->name(), list.name());
    EXPECT_EQ(back->allKeys(), list.allKeys());
    for (auto& key : list.allKeys()) EXPECT_EQ(*back->colorWithKey(key), *list.colorWithKey(key)) << key;
    EXPECT_EQ(NSColorList::parse(NSColorList().serialized())->name(), std::nullopt);
    std::filesystem::remove_all(dir);
}

TEST(NSColorListTest, UnwritableOrMalformedFilesAreErrors) {
    std::string dir = Foundation::temporaryDirectory();
    NSColorList list;
    Foundation::Error error;
    EXPECT_FALSE(list.writeToFile(dir + "/missing/dir/list.clr", &error));
    EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
    EXPECT_EQ(error.code, 4);
    EXPECT_FALSE(std::filesystem::exists(dir + "/missing"));
    for (std::string bad :
         {"", "VexilColorList 2\nname\n", "VexilColorList 1\nname\nsRGB\t1 0\tshort\n",
          "VexilColorList 1\nname\nnoSpace\t1 0 0 1\tk\n", "VexilColorList 1\nname\nsRGB\t1 0 0 x\tk\n",
          "VexilColorList 1\nname\nsRGB\t1 0 0 1\tk\nsRGB\t1 0 0 1\tk\n"}) {
        std::ofstream(dir + "/bad.clr", std::ios::binary) << bad;
        EXPECT_EQ(NSColorList::listWithContentsOfFile(dir + "/bad.clr", &error), nullptr) << bad;
    }
    EXPECT_EQ(NSColorList::listWithContentsOfFile(dir + "/none.clr", &error), nullptr);
    std::filesystem::remove_all(dir);
}

}  // namespace
