#pragma once
// The stored shortcuts use the other platform's virtual key codes and
// modifier masks; X grabs take keysyms and X modifier masks. One fixed table
// maps between them (Command = Super).

#include <cstdint>
#include <optional>

#include "Platform/AppKit/AppKitTypes.h"

namespace X11Display {

// The keysym of a virtual key code; none for a code the table does not know.
std::optional<std::uint32_t> keysymForKeyCode(std::uint16_t keyCode);
// The virtual key code of a keysym (letters in either case); none when unknown.
std::optional<std::uint16_t> keyCodeForKeysym(std::uint32_t keysym);

// X core modifier bits: Shift, Lock, Control, Mod1 (Alt), Mod2 (NumLock), Mod4 (Super).
inline constexpr std::uint16_t kXShift = 1 << 0, kXLock = 1 << 1, kXControl = 1 << 2, kXMod1 = 1 << 3, kXMod2 = 1 << 4,
                               kXMod4 = 1 << 6;

std::uint16_t xModifiers(AppKit::NSEventModifierFlags modifiers);
// Lock and NumLock are left out: they must not change what a shortcut means.
AppKit::NSEventModifierFlags modelModifiers(std::uint16_t xState);

}  // namespace X11Display
