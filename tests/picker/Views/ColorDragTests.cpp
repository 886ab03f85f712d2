// Drag payloads and the library's side of reordering and dropping on a tab.
#include "picker/Library/LibraryTestSupport.h"
#include "picker/Views/Library/LibraryFolders.h"
#include "picker/Views/Library/ZNLPasteboardItem.h"

using namespace Vexil::Views;
using Foundation::Data;

namespace {

class Foreign : public Foundation::Coding {
public:
    std::string className() const override { return "ForeignThing"; }
    void encodeWithCoder(Foundation::KeyedArchiver& c) const override {
        c.encode("colorIndex", 0);
        c.encode("colorString", "#abcdef");
        c.encode("folderId", 3);
    }
};

class Partial : public Foundation::Coding {
public:
    std::string className() const override { return "ZNLPasteboardItem"; }
    void encodeWithCoder(Foundation::KeyedArchiver& c) const override {
        c.encode("colorIndex", 0);
        c.encode("colorString", "#abcdef");
    }
};

TEST(PasteboardItem, RoundTripAndForeignPayloads) {
    ZNLPasteboardItem item("#abcdef", 3, 0);
    auto data = item.pasteboardPropertyList(kColorDragType);
    ASSERT_TRUE(data);
    auto back = ZNLPasteboardItem::fromPasteboardPropertyList(*data, kColorDragType);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->colorString, "#abcdef");
    EXPECT_EQ(back->folderId, 3);
    EXPECT_EQ(back->colorIndex, 0);
    EXPECT_FALSE(item.pasteboardPropertyList("public.utf8-plain-text"));
    EXPECT_FALSE(ZNLPasteboardItem::fromPasteboardPropertyList(*data, "public.utf8-plain-text"));

    ZNLPasteboardItem::registerClass();
    Foundation::registerCodingClass("ForeignThing",
                                    [](Foundation::KeyedUnarchiver&) { return std::make_shared<Foreign>(); });
    const std::string bytes[] = {"", "garbage", std::string("bplist00\xff\x00\x01", 11)};
    for (const auto& b : bytes)
        EXPECT_FALSE(ZNLPasteboardItem::fromPasteboardPropertyList(Data(b.begin(), b.end()), kColorDragType));
    auto foreign = Foundation::KeyedArchiver::archivedData(
        Foundation::Value(std::static_pointer_cast<Foundation::Object>(std::make_shared<Foreign>())));
    ASSERT_TRUE(foreign);
    EXPECT_FALSE(ZNLPasteboardItem::fromPasteboardPropertyList(*foreign, kColorDragType));
    auto partial = Foundation::KeyedArchiver::archivedData(
        Foundation::Value(std::static_pointer_cast<Foundation::Object>(std::make_shared<Partial>())));
    ASSERT_TRUE(partial);
    EXPECT_FALSE(ZNLPasteboardItem::fromPasteboardPropertyList(*partial, kColorDragType));
    // Truncations of a good archive never crash.
    for (std::size_t n = 0; n < data->size(); n += 7)
        ZNLPasteboardItem::fromPasteboardPropertyList(Data(data->begin(), data->begin() + long(n)), kColorDragType);
}

class ColorDragTest : public librarytest::LibraryTest {
protected:
    LibraryFolders lib;
    std::vector<std::string> colors() {
        std::vector<std::string> out;
        for (auto& c : lib.selectedColors()) out.push_back(c->color());
        return out;
    }
};

TEST_F(ColorDragTest, ReorderStoresTheNewOrderAndClampsTheTarget) {
    auto f = addFolder("A", 1);
    addItem(f, "A", 0);
    addItem(f, "B", 1);
    addItem(f, "C", 2);
    lib.selectFolder(1);
    EXPECT_TRUE(lib.moveColor(0, 2));
    EXPECT_EQ(colors(), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_TRUE(lib.moveColor(0, 40));  // past the end: the last place
    EXPECT_EQ(colors(), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_FALSE(lib.moveColor(5, 0));
}

TEST_F(ColorDragTest, DropOnAnotherTabAddsAtItsEndAndFlagsTheSource) {
    auto a = addFolder("A", 1);
    auto b = addFolder("B", 2, 2);
    addItem(a, "#111111", 0);
    addItem(a, "#222222", 1);
    addItem(b, "#333333", 5);
    lib.selectFolder(1);
    EXPECT_TRUE(lib.dropColor("#222222", 1, 2));
    auto target = LibraryFolders::visibleColors(library().folderWithId("2"));
    ASSERT_EQ(target.size(), 2u);
    EXPECT_EQ(target.back()->color(), "#222222");
    EXPECT_EQ(target.back()->order(), 6);
    EXPECT_EQ(colors(), (std::vector<std::string>{"#111111"}));
    // Onto its own folder, or a folder holding the text in other case: nothing moves.
    EXPECT_FALSE(lib.dropColor("#111111", 0, 1));
    addItem(b, "#abcdef", 7);
    addItem(a, "#ABCDEF", 2);
    EXPECT_FALSE(lib.dropColor("#ABCDEF", 1, 2));
    EXPECT_EQ(colors(), (std::vector<std::string>{"#111111", "#ABCDEF"}));
    lib.deleteColor(1);
    EXPECT_EQ(colors(), (std::vector<std::string>{"#111111"}));
    // A stale index (the row changed): the colour is added, the other colour at that index stays.
    EXPECT_TRUE(lib.dropColor("#999999", 0, 2));
    EXPECT_EQ(colors(), (std::vector<std::string>{"#111111"}));
    EXPECT_TRUE(lib.dropColor("#888888", 9, 2));    // out of range: nothing flagged
    EXPECT_FALSE(lib.dropColor("#777777", 0, 42));  // gone folder
}

}  // namespace
