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

// Files from elsewhere: our earlier text format, and an XML archive as other
// writers make it (alpha left out when 1, a string object, no sRGB marker).
TEST(NSColorListTest, ReadsEarlierTextAndForeignArchives) {
    auto text = NSColorList::parse("VexilColorList 1\nname\tOld\nsRGB\t1 0.5 0 1\tor\\tange\ndeviceWhite\t0.5 1\tg\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->name(), "Old");
    EXPECT_THAT(text->allKeys(), ElementsAre("or\tange", "g"));
    EXPECT_EQ(*text->colorWithKey("or\tange"), *NSColor::colorWithRed(1, 0.5, 0, 1));

    const std::string uid = "<dict><key>CF$UID</key><integer>";
    auto ref = [&](int n) { return uid + std::to_string(n) + "</integer></dict>"; };
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>$archiver</key><string>NSKeyedArchiver</string><key>$version</key><integer>100000</integer>"
        "<key>$top</key><dict><key>root</key>" + ref(1) + "</dict><key>$objects</key><array>"
        "<string>$null</string>"
        "<dict><key>$class</key>" + ref(9) + "<key>NSName</key>" + ref(2) + "<key>NSKeys</key>" + ref(3) +
        "<key>NSColors</key>" + ref(5) + "</dict>"
        "<dict><key>$class</key>" + ref(10) + "<key>NS.string</key><string>Brand</string></dict>"
        "<dict><key>$class</key>" + ref(6) + "<key>NS.objects</key><array>" + ref(4) + ref(4) + "</array></dict>"
        "<string>k</string>"
        "<dict><key>$class</key>" + ref(6) + "<key>NS.objects</key><array>" + ref(7) + ref(8) + "</array></dict>"
        "<dict><key>$classname</key><string>NSArray</string><key>$classes</key><array><string>NSArray</string>"
        "<string>NSObject</string></array></dict>"
        "<dict><key>$class</key>" + ref(11) + "<key>NSColorSpace</key><integer>1</integer>"
        "<key>NSRGB</key><data>MC4yNSAwLjUgMQA=</data></dict>"
        "<dict><key>$class</key>" + ref(11) + "<key>NSColorSpace</key><integer>5</integer>"
        "<key>NSCYMK</key><data>MC4xIDAuMiAwLjMgMC40</data></dict>"
        "<dict><key>$classname</key><string>NSColorList</string></dict>"
        "<dict><key>$classname</key><string>NSString</string></dict>"
        "<dict><key>$classname</key><string>NSColor</string></dict>"
        "</array></dict></plist>";
    // Two colours under one key: refused, a list holds one colour per key.
    EXPECT_EQ(NSColorList::parse(xml), nullptr);
    std::string distinct = xml;
    distinct.replace(distinct.find(ref(4) + ref(4)), 2 * ref(4).size(), ref(4) + ref(12));
    distinct.replace(distinct.rfind("</array></dict></plist>"), 0, "<string>l</string>");
    auto foreign = NSColorList::parse(distinct);
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->name(), "Brand");
    EXPECT_THAT(foreign->allKeys(), ElementsAre("k", "l"));
    EXPECT_EQ(*foreign->colorWithKey("k"), *NSColor::colorWithCalibratedRed(0.25, 0.5, 1, 1));
    EXPECT_EQ(*foreign->colorWithKey("l"), *NSColor::colorWithDeviceCyan(0.1, 0.2, 0.3, 0.4, 1));

    // Every cut of one of our own files is refused, never half read.
    NSColorList list(std::string("Cut"));
    list.setColor(NSColor::colorWithRed(0.1, 0.2, 0.3, 1), "a");
    const std::string bytes = list.serialized();
    ASSERT_TRUE(NSColorList::parse(bytes));
    for (std::size_t n = 0; n < bytes.size(); n += 7) EXPECT_EQ(NSColorList::parse(bytes.substr(0, n)), nullptr) << n;
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
         {"", "bplist00", "<plist><dict/></plist>", "VexilColorList 2\nname\n", "VexilColorList 1\nname\nsRGB\t1 0\tshort\n",
          "VexilColorList 1\nname\nnoSpace\t1 0 0 1\tk\n", "VexilColorList 1\nname\nsRGB\t1 0 0 x\tk\n",
          "VexilColorList 1\nname\nsRGB\t1 0 0 1\tk\nsRGB\t1 0 0 1\tk\n"}) {
        std::ofstream(dir + "/bad.clr", std::ios::binary) << bad;
        EXPECT_EQ(NSColorList::listWithContentsOfFile(dir + "/bad.clr", &error), nullptr) << bad;
    }
    EXPECT_EQ(NSColorList::listWithContentsOfFile(dir + "/none.clr", &error), nullptr);
    std::filesystem::remove_all(dir);
}

}  // namespace
