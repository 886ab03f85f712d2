#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/X11/BackendChoice.h"
#include "Platform/X11/KeyTable.h"

using namespace X11Display;
using namespace AppKit;

TEST(KeyTable, StoredKeyCodesMapToKeysymsAndBack) {
    struct Case {
        std::uint16_t code;
        std::uint32_t sym;
    };
    for (const Case c : {Case{31, 'o'}, Case{34, 'i'}, Case{0, 'a'}, Case{29, '0'}, Case{53, 0xff1b}, Case{36, 0xff0d},
                         Case{122, 0xffbe}, Case{126, 0xff52}}) {
        EXPECT_EQ(keysymForKeyCode(c.code), c.sym) << c.code;
        EXPECT_EQ(keyCodeForKeysym(c.sym), c.code) << c.code;
    }
    EXPECT_EQ(keyCodeForKeysym('O'), 31);  // shifted letters are the same key
    EXPECT_FALSE(keysymForKeyCode(10));    // not on this table
    EXPECT_FALSE(keyCodeForKeysym(0x1234567));
}

TEST(KeyTable, ModifierMasksMapBothWaysCommandIsSuper) {
    const NSEventModifierFlags all =
        NSEventModifierFlagControl | NSEventModifierFlagOption | NSEventModifierFlagShift | NSEventModifierFlagCommand;
    EXPECT_EQ(xModifiers(NSEventModifierFlagControl | NSEventModifierFlagCommand), kXControl | kXMod4);
    EXPECT_EQ(xModifiers(all), kXControl | kXMod1 | kXShift | kXMod4);
    EXPECT_EQ(modelModifiers(xModifiers(all)), all);
    // Lock and NumLock do not change the combination.
    EXPECT_EQ(modelModifiers(kXControl | kXLock | kXMod2), NSEventModifierFlagControl);
}

TEST(BackendChoice, NoDisplayGivesHeadlessWithAClearLine) {
    const char* saved = std::getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    unsetenv("VEXIL_BACKEND");
    unsetenv("DISPLAY");
    auto none = makeDisplayBackend();
    EXPECT_FALSE(none.isX11);
    EXPECT_NE(dynamic_cast<HeadlessBackend*>(none.backend.get()), nullptr);
    EXPECT_EQ(none.message, "No X display (DISPLAY is not set); running without a screen.");

    setenv("DISPLAY", ":917", 1);  // no server there
    auto unreachable = makeDisplayBackend();
    EXPECT_FALSE(unreachable.isX11);
    EXPECT_NE(unreachable.message.find("cannot connect to display :917"), std::string::npos);

    setenv("VEXIL_BACKEND", "headless", 1);
    auto forced = makeDisplayBackend();
    EXPECT_FALSE(forced.isX11);
    EXPECT_TRUE(forced.message.empty());
    unsetenv("VEXIL_BACKEND");
    if (saved)
        setenv("DISPLAY", keep.c_str(), 1);
    else
        unsetenv("DISPLAY");
}
