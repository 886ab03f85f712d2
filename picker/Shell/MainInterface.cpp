#include "picker/Shell/MainInterface.h"

#include <functional>
#include <string>

using namespace AppKit;

void loadMainInterface(AppDelegate& delegate) {
    auto menu = NSMenu::make("Vexil");
    auto formats = NSMenu::make("Format");
    auto tabBar = NSMenu::make("Tab Bar");
    std::weak_ptr<AppDelegate> weak = delegate.weak_from_this();
    auto send = [weak](void (AppDelegate::*action)()) {
        return [weak, action](NSMenuItem&) {
            if (auto self = weak.lock()) ((*self).*action)();
        };
    };
    struct Fixed {
        NSMenuItem::Action action;
        const char* selector;
        const char* keyEquivalent;
    };
    const Fixed fixed[] = {
        {send(&AppDelegate::showMagnifier), "pickColorItemPressed:", ""},
        {send(&AppDelegate::toggleLibrary), "showPicker:", ""},
        {nullptr, nullptr, nullptr},
        {send(&AppDelegate::addNewColor), "addNewColor:", "n"},
        {send(&AppDelegate::newPalette), "newPalette:", ""},
        {nullptr, nullptr, nullptr},
        {nullptr, "", ""},
        {nullptr, "", ""},
        {send(&AppDelegate::clearHistory), "clearHistory:", ""},
        {nullptr, nullptr, nullptr},
        {send(&AppDelegate::showPreferences), "preferencesItemPressed:", ","},
        {send(&AppDelegate::getFeedback), "getFeedback:", ""},
        {send(&AppDelegate::gotoCommunity), "gotoCommunity:", ""},
        {nullptr, nullptr, nullptr},
        {send(&AppDelegate::quitItemPressed), "quitItemPressed:", "q"},
    };
    std::size_t i = 0;
    for (const char* title : kStatusMenuTitles) {
        const Fixed& f = fixed[i++];
        if (std::string(title) == "-") {
            menu->addItem(NSMenuItem::separatorItem());
            continue;
        }
        auto item = NSMenuItem::make(title, f.action, f.keyEquivalent ? f.keyEquivalent : "");
        if (f.selector) item->actionName = f.selector;
        menu->addItem(item);
    }
    // The header of the recent colours is a label, not an action.
    menu->itemAtIndex(7)->enabled = false;
    auto formatsItem = menu->itemAtIndex(6);
    formatsItem->setSubmenu(formats);

    delegate.statusMenu = menu;
    delegate.formatsMenu = formats;
    delegate.formatsMenuItem = formatsItem;
    delegate.magnifierMenuItem = menu->itemAtIndex(0);
    delegate.libraryMenuItem = menu->itemAtIndex(1);
    delegate.tabBarMenu = tabBar;
    delegate.topLevelObjects = {menu, formats, tabBar};
}
