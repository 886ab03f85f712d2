#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

TEST(BackendChoice, WithoutADisplayThereIsNoBackendAndALineSaysWhyUnlessHeadlessIsAsked) {
    struct Case {
        const char* display;  // nullptr: unset
        const char* wayland;
        const char* backend;
        bool hasBackend;
        const char* messagePart;  // nullptr: no message
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false, "no X display (DISPLAY is not set)"},
        {":917", nullptr, nullptr, false, "cannot connect to display :917"},  // no server there
        {nullptr, "wayland-0", nullptr, false, "only a Wayland display is set (WAYLAND_DISPLAY=wayland-0)"},
        {":917", nullptr, "x11", false, "VEXIL_BACKEND=headless"},
        {nullptr, nullptr, "headless", true, nullptr},
    };
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "VEXIL_BACKEND"}) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    auto set = [](const char* name, const char* value) { value ? setenv(name, value, 1) : unsetenv(name); };
    for (const auto& c : cases) {
        set("DISPLAY", c.display);
        set("WAYLAND_DISPLAY", c.wayland);
        set("VEXIL_BACKEND", c.backend);
        const auto choice = makeDisplayBackend();
        EXPECT_FALSE(choice.isX11);
        EXPECT_EQ(choice.backend != nullptr, c.hasBackend) << c.messagePart;
        if (c.hasBackend) {
            EXPECT_NE(dynamic_cast<HeadlessBackend*>(choice.backend.get()), nullptr);
        }
        if (!c.messagePart) {
            EXPECT_TRUE(choice.message.empty()) << choice.message;
            continue;
        }
        EXPECT_NE(choice.message.find(c.messagePart), std::string::npos) << choice.message;
        EXPECT_EQ(choice.message.rfind("Vexil cannot start", 0), 0u) << choice.message;
    }
    for (const auto& [name, value] : saved) set(name, value ? value->c_str() : nullptr);
}
