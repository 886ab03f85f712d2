#pragma once
// The main interface: the application delegate and the status menu with its
// fixed items and the formats submenu, outlets and actions connected. The
// recent colours go after the seventh item, behind the eighth.

#include <memory>

#include "picker/Shell/AppDelegate.h"

// Titles of the fixed items, in order ("-" is a separator).
inline constexpr const char* kStatusMenuTitles[] = {
    "Pick Color",    "Show Color Library", "-", "New Color…",   "New Palette…",   "-",         "Format",
    "Recent Colors", "Clear History",      "-", "Preferences…", "Send Feedback…", "Community", "-",
    "Quit Vexil"};

// Builds the menus into the delegate's outlets (the delegate keeps them).
void loadMainInterface(AppDelegate& delegate);

// The delegate of the given type with its interface loaded.
template <class T = AppDelegate>
std::shared_ptr<T> makeAppDelegate() {
    auto delegate = std::make_shared<T>();
    loadMainInterface(*delegate);
    return delegate;
}
