// What a stored folder exports: live colours in store order.

#include <gtest/gtest.h>

#include "picker/Library/LibraryTestSupport.h"
#include "picker/Export/RYPaletteExporter.h"

namespace {

class ExportedItemsTest : public librarytest::LibraryTest {};

TEST_F(ExportedItemsTest, LiveColoursInStoreOrder) {
    auto folder = addFolder("Shelf", 7);
    addItem(folder, "#030303", 3);
    addItem(folder, "#010101", 1);
    addItem(folder, "#dddddd", 0, /*deleted=*/true);
    addItem(folder, "#020202", 2);
    addItem(addFolder("Other", 8), "#999999", 0);
    std::vector<std::string> hexes;
    for (const auto& item : RYPaletteExporter::exportedItems(*folder)) hexes.push_back(item->color());
    EXPECT_EQ(hexes, (std::vector<std::string>{"#030303", "#010101", "#020202"}));

    const auto text = RYPaletteExporter::renderFolder(RYPaletteExporter::exportedItems(*folder),
                                                      ExportFormat::nscolorExtension, *folder);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("NSColor+Shelf.swift"), std::string::npos);
    EXPECT_LT(text->find("#030303"), text->find("#010101"));
}

}  // namespace
