// Our alert and save panels as model windows: where a typed name points, the
// name field's editing, and the keys that answer (on the headless display).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Platform/AppKit/ModalPanels.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

TEST(SavePanelDestination, TypedNamesPathsAndExtensions) {
    struct Case {
        const char* typed;
        std::vector<std::string> types;
        const char* expected;
    };
    const Case cases[] = {
        {"Blues", {"gpl"}, "/docs/Blues.gpl"},
        {"Blues.gpl", {"gpl"}, "/docs/Blues.gpl"},
        {"Blues.txt", {"gpl"}, "/docs/Blues.txt.gpl"},
        {"Blues.ase", {"gpl", "ase"}, "/docs/Blues.ase"},
        {"Blues", {}, "/docs/Blues"},
        {"/tmp/out", {"gpl"}, "/tmp/out.gpl"},  // an absolute path is the whole destination
        {"~/x/out.gpl", {"gpl"}, "/home/u/x/out.gpl"},
        {"sub/out", {"gpl"}, "/docs/sub/out.gpl"},
        {".gpl", {"gpl"}, "/docs/.gpl.gpl"},  // a dot file has no extension
        {"", {"gpl"}, ""},
        {"/tmp/", {"gpl"}, ""},  // a folder, not a file
        {"~", {"gpl"}, ""},
        {"..", {"gpl"}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(savePanelDestination(c.typed, "/docs", c.types, "/home/u"), c.expected) << c.typed;
}

class ModalPanels : public testing::Test {
protected:
    Harness::UIHarness h;
    static void key(NSWindow& w, std::uint16_t code, std::string chars = {}, NSEventModifierFlags mods = 0) {
        NSEvent e;
        e.type = NSEventType::KeyDown;
        e.keyCode = code;
        e.characters = std::move(chars);
        e.modifierFlags = mods;
        w.contentView()->keyDown(e);
    }
};

TEST_F(ModalPanels, TheNameFieldStartsWithTheNameSelectedUpToItsExtensionAndEdits) {
    NSSavePanel panel;
    panel.nameFieldStringValue = "Blues.gpl";
    panel.allowedFileTypes = {"gpl"};
    auto window = SavePanelWindow::make(panel);
    EXPECT_EQ(window->selection(), (std::pair<std::size_t, std::size_t>{0, 5}));
    key(*window, 0, "R");
    key(*window, 0, "\xc3\xa9");  // é, one character of two bytes
    EXPECT_EQ(window->name(), "R\xc3\xa9.gpl");
    key(*window, kVK_Delete);
    EXPECT_EQ(window->name(), "R.gpl");
    key(*window, kVK_RightArrow, {}, NSEventModifierFlagShift);
    key(*window, kVK_RightArrow, {}, NSEventModifierFlagShift);
    EXPECT_EQ(window->selection(), (std::pair<std::size_t, std::size_t>{1, 3}));
    key(*window, 0, "x");
    EXPECT_EQ(window->name(), "Rxpl");
    key(*window, 0, "a", NSEventModifierFlagControl);  // select all
    EXPECT_EQ(window->selection(), (std::pair<std::size_t, std::size_t>{0, 4}));
    // Nothing typed: it says so and stays open.
    key(*window, kVK_Delete);
    window->save();
    EXPECT_FALSE(window->answer());
    EXPECT_FALSE(window->problem().empty());
    // A folder that does not exist is said too.
    window->typeText("/no/such/folder/x");
    window->save();
    EXPECT_FALSE(window->answer());
    EXPECT_NE(window->problem().find("does not exist"), std::string::npos);
    key(*window, kVK_Escape);
    ASSERT_TRUE(window->answer());
    EXPECT_EQ(window->answer()->response, NSModalResponseCancel);
}

TEST_F(ModalPanels, AnExistingFileIsAskedAboutAndKeptUnlessReplaced) {
    const auto dir = std::filesystem::temp_directory_path() / ("vexil-panel-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Blues.gpl") << "x";
    NSSavePanel panel;
    panel.nameFieldStringValue = "Blues.gpl";
    panel.allowedFileTypes = {"gpl"};
    panel.directory = dir.string();
    auto window = SavePanelWindow::make(panel);
    EXPECT_EQ(window->folder(), dir.string());
    h.alerts().answer(NSAlertSecondButtonReturn);  // Cancel: back to the panel
    key(*window, kVK_Return);
    EXPECT_FALSE(window->answer());
    ASSERT_EQ(h.alerts().shown().size(), 1u);
    EXPECT_EQ(h.alerts().shown()[0].buttons, (std::vector<std::string>{"Replace", "Cancel"}));
    EXPECT_NE(h.alerts().shown()[0].messageText.find("Replace?"), std::string::npos);
    key(*window, kVK_Return);  // the script's empty now: the first button, Replace
    ASSERT_TRUE(window->answer());
    EXPECT_EQ(window->answer()->path, (dir / "Blues.gpl").string());
    std::filesystem::remove_all(dir);
}

TEST_F(ModalPanels, AlertKeysAnswerTheDefaultCancelAndTheFocusedButton) {
    NSAlert alert;
    alert.messageText = "Delete the folder?";
    alert.addButtonWithTitle("Delete");
    alert.addButtonWithTitle("Cancel");
    alert.addButtonWithTitle("Keep");
    struct Case {
        std::vector<std::uint16_t> keys;
        NSModalResponse expected;
    };
    const Case cases[] = {
        {{kVK_Return}, NSAlertFirstButtonReturn},
        {{kVK_Escape}, NSAlertSecondButtonReturn},
        {{kVK_Tab, kVK_Tab, 49}, NSAlertThirdButtonReturn},       // Space presses the focused button
        {{kVK_LeftArrow, kVK_Return}, NSAlertFirstButtonReturn},  // Return is always the default
    };
    for (const auto& c : cases) {
        auto panel = AlertPanel::make(alert);
        for (auto k : c.keys) key(*panel, k);
        EXPECT_EQ(panel->response(), c.expected);
    }
    // Without a "Cancel" Escape answers nothing; the buttons run right to left.
    NSAlert plain;
    plain.addButtonWithTitle("OK");
    plain.addButtonWithTitle("Later");
    auto panel = AlertPanel::make(plain);
    key(*panel, kVK_Escape);
    EXPECT_FALSE(panel->response());
    EXPECT_GT(panel->buttonRect(0).minX(), panel->buttonRect(1).maxX());
    // Centred on the screen.
    EXPECT_NEAR(panel->frame().midX(), 720, 1);
}

}  // namespace
