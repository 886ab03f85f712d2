// Application, windows, monitors, cursor, hot keys, controls and animations
// driven through the harness on the manual clock.

#include <gtest/gtest.h>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/HotKeys.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

std::shared_ptr<NSWindow> window(CGRect frame, NSWindowLevel level = NSNormalWindowLevel,
                                 NSWindowStyleMask style = NSWindowStyleMaskBorderless) {
    auto w = NSWindow::make(frame, style);
    w->setLevel(level);
    return w;
}

TEST(Application, WindowsStackByLevelThenByOrderBroughtFront) {
    Harness::UIHarness h;
    auto a = window(CGRectMake(0, 0, 10, 10));
    auto b = window(CGRectMake(0, 0, 10, 10), NSStatusWindowLevel);
    auto c = window(CGRectMake(0, 0, 10, 10));
    auto d = window(CGRectMake(0, 0, 10, 10), NSFloatingWindowLevel);
    for (auto& w : {a, b, c, d}) w->orderFront();
    a->orderFront();  // back to the front of its level
    auto order = h.app().windowsInScreenOrder();
    EXPECT_EQ(order, (std::vector<std::shared_ptr<NSWindow>>{c, a, d, b}));
    c->orderOut();
    EXPECT_EQ(h.app().windowsInScreenOrder().size(), 3u);
    EXPECT_FALSE(c->isVisible());
    EXPECT_EQ(h.app().windowAtScreenPoint({5, 5}), b);
}

TEST(Application, KeyWindowFollowsOrderingAndClosing) {
    Harness::UIHarness h;
    auto titled = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable;
    auto a = window(CGRectMake(0, 0, 100, 100), NSNormalWindowLevel, titled);
    auto b = window(CGRectMake(200, 0, 100, 100), NSNormalWindowLevel, titled);
    auto borderless = window(CGRectMake(400, 0, 100, 100));
    a->makeKeyAndOrderFront();
    b->makeKeyAndOrderFront();
    borderless->makeKeyAndOrderFront();
    EXPECT_EQ(h.app().keyWindow(), b) << "a borderless window cannot become key";
    b->close();
    EXPECT_TRUE(b->isClosed());
    EXPECT_EQ(h.app().keyWindow(), a);
}

TEST(Application, TitledWindowsAreKeptBelowTheMenuBarUnlessTheyOverrideIt) {
    Harness::UIHarness h;
    struct Free : NSWindow {
        using NSWindow::NSWindow;
        CGRect constrainFrameRect(CGRect f, const NSScreen*) const override { return f; }
    };
    auto constrained = NSWindow::make(CGRectMake(0, 880, 100, 100), NSWindowStyleMaskTitled);
    auto free = NSWindow::make<Free>(CGRectMake(0, 880, 100, 100), NSWindowStyleMaskTitled);
    constrained->orderFront();
    free->orderFront();
    EXPECT_EQ(constrained->frame().maxY(), 900 - NSStatusBar::systemStatusBar().thickness());
    EXPECT_EQ(free->frame().minY(), 880);
    EXPECT_EQ(constrained->contentRectForFrameRect(constrained->frame()).height(), constrained->frame().height() - 22);
}

TEST(Application, TerminatePostsWillTerminateAndTellsTheDelegateOnce) {
    Harness::UIHarness h;
    struct Delegate : NSApplicationDelegate {
        int launched = 0, terminating = 0;
        void applicationDidFinishLaunching() override { ++launched; }
        void applicationWillTerminate() override { ++terminating; }
    };
    auto d = std::make_shared<Delegate>();
    int posted = 0;
    auto token = Foundation::NotificationCenter::defaultCenter().addObserver(NSApplicationWillTerminateNotification,
                                                                             [&](const auto&) { ++posted; });
    h.launch(d);
    h.app().terminate();
    h.app().terminate();
    Foundation::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(d->launched, 1);
    EXPECT_EQ(d->terminating, 1);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(h.app().isTerminated());
}

TEST(Application, PresentErrorShowsTheDescriptionInAnAlert) {
    Harness::UIHarness h;
    h.app().presentError(Foundation::makeError("d", 1, "The file could not be written."));
    ASSERT_EQ(h.alerts().shown().size(), 1u);
    EXPECT_EQ(h.alerts().shown()[0].messageText, "The file could not be written.");
    EXPECT_EQ(h.alerts().shown()[0].buttons, std::vector<std::string>{"OK"});
}

TEST(EventMonitors, LocalSeeOwnEventsGlobalSeeOthersAndRemovalStopsThem) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 100, 100));
    w->orderFront();
    std::vector<std::string> seen;
    auto local = NSEvent::addLocalMonitorForEventsMatchingMask(
        NSEventMaskLeftMouseUp | NSEventMaskMouseMoved, [&](const NSEventRef& e) -> NSEventRef {
            seen.push_back("local " + std::to_string(int(e->type)));
            return e;
        });
    auto global = NSEvent::addGlobalMonitorForEventsMatchingMask(
        0x200000a | NSEventMaskMouseMoved,
        [&](const NSEvent& e) { seen.push_back("global " + std::to_string(int(e.type))); });
    EXPECT_EQ(h.backend().globalMask, NSEventMask(0x200000a | NSEventMaskMouseMoved));
    h.click({50, 50});    // ours: moved, (down not in the local mask), up
    h.click({500, 500});  // another program's: moved, down
    h.rightClick({600, 500});
    NSEvent::removeMonitor(local);
    NSEvent::removeMonitor(global);
    NSEvent::removeMonitor(global);
    h.click({50, 50});
    EXPECT_EQ(seen, (std::vector<std::string>{"local 5", "local 2", "global 5", "global 1", "global 5", "global 3"}));
    EXPECT_EQ(h.backend().globalMask, 0u);
}

TEST(EventMonitors, ALocalMonitorCanSwallowAnEvent) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 100, 100));
    int clicks = 0;
    auto button = NSButton::buttonWithTitle("Go", [&](NSControl&) { ++clicks; });
    button->setFrame(CGRectMake(10, 10, 60, 30));
    w->contentView()->addSubview(button);
    w->orderFront();
    auto token = NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskLeftMouseDown,
                                                               [](const NSEventRef&) { return NSEventRef{}; });
    h.clickView(*button);
    EXPECT_EQ(clicks, 0);
    NSEvent::removeMonitor(token);
    h.clickView(*button);
    EXPECT_EQ(clicks, 1);
}

TEST(Cursor, HidesAreCountedAndExtraUnhidesIgnored) {
    Harness::UIHarness h;
    NSCursor::hide();
    NSCursor::hide();
    NSCursor::unhide();
    EXPECT_TRUE(NSCursor::isHidden());
    EXPECT_TRUE(h.backend().cursorHidden);
    NSCursor::unhide();
    NSCursor::unhide();
    EXPECT_FALSE(h.backend().cursorHidden);
    NSCursor::hide();
    EXPECT_EQ(NSCursor::hideCount(), 1);
}

TEST(HotKeys, BoundKeysRunTheirCallbackAndHeldOnesAreReported) {
    Harness::UIHarness h;
    const auto ctrlCmd = NSEventModifierFlagControl | NSEventModifierFlagCommand;
    h.backend().holdByOtherProgram(34, ctrlCmd);
    int magnifier = 0;
    auto ok = HotKeyBinder::shared().registerHotKey(31, ctrlCmd | NSEventModifierFlagCapsLock, [&] { ++magnifier; });
    auto refused = HotKeyBinder::shared().registerHotKey(34, ctrlCmd, [] {});
    auto twice = HotKeyBinder::shared().registerHotKey(31, ctrlCmd, [] {});
    ASSERT_TRUE(ok.id);
    EXPECT_FALSE(refused.id);
    EXPECT_FALSE(refused.error.empty());
    EXPECT_FALSE(twice.id);
    h.pressHotKey(31, ctrlCmd);
    h.pressHotKey(31, NSEventModifierFlagCommand);
    EXPECT_EQ(magnifier, 1);
    HotKeyBinder::shared().unregisterHotKey(*ok.id);
    h.pressHotKey(31, ctrlCmd);
    EXPECT_EQ(magnifier, 1);
    EXPECT_TRUE(h.backend().grabbedHotKeys().empty());
}

TEST(Controls, ButtonsSendOnReleaseInsideAndToggleTheirState) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 200, 100));
    w->orderFront();
    std::vector<long> states;
    auto toggle =
        NSButton::buttonWithTitle("T", [&](NSControl& c) { states.push_back(static_cast<NSButton&>(c).state()); });
    toggle->setButtonType(NSButtonType::pushOnPushOff);
    toggle->setFrame(CGRectMake(10, 10, 50, 30));
    w->contentView()->addSubview(toggle);
    h.clickView(*toggle);
    h.clickView(*toggle);
    h.drag(Harness::UIHarness::centerOnScreen(*toggle), {150, 80});  // released outside: nothing
    EXPECT_EQ(states, (std::vector<long>{NSOnState, NSOffState}));
}

TEST(Controls, TextFieldEditingEndsOnReturnWithDelegateAndAction) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 200, 100), NSNormalWindowLevel, NSWindowStyleMaskTitled);
    w->makeKeyAndOrderFront();
    struct Delegate : NSTextFieldDelegate {
        std::vector<std::string> calls;
        void controlTextDidBeginEditing(NSTextField&) override { calls.push_back("begin"); }
        void controlTextDidEndEditing(NSTextField& f) override { calls.push_back("end " + f.stringValue()); }
    };
    auto d = std::make_shared<Delegate>();
    auto field = NSTextField::textFieldWithString("Untitled");
    field->setFrame(CGRectMake(10, 10, 150, 22));
    field->delegate = d;
    int actions = 0;
    field->action = [&](NSControl&) { ++actions; };
    w->contentView()->addSubview(field);
    h.typeIntoField(*field, "Brand Blues");
    EXPECT_EQ(field->stringValue(), "Brand Blues");
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(d->calls, (std::vector<std::string>{"begin", "end Brand Blues"}));
    EXPECT_EQ(actions, 1);
}

TEST(Controls, NumberFormatterTable) {
    struct Case {
        std::string format;
        double value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {",0.000", 0, "0.000"}, {",0.000", 1234.5, "1,234.500"}, {",0.000", -0.0004, "0.000"}, {"0", 2.5, "2"},
        {"#.##", 0.5, ".50"},   {",0", 1234567, "1,234,567"},
    };
    for (const auto& c : cases) {
        NSNumberFormatter f;
        f.setFormat(c.format);
        EXPECT_EQ(f.stringFromNumber(c.value), c.text) << c.format << " " << c.value;
    }
}

TEST(Animation, ViewAnimationReachesItsEndFrameExactlyAndTellsTheDelegateOnce) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 1440, 280));
    struct Delegate : NSAnimationDelegate {
        int ended = 0;
        void animationDidEnd(NSAnimation&) override { ++ended; }
    };
    auto d = std::make_shared<Delegate>();
    {
        auto slide = NSViewAnimation::make({{w, nullptr, CGRectMake(0, -280, 1440, 280), CGRectMake(0, 0, 1440, 280)}});
        slide->duration = 0.25;
        slide->delegate = d;
        slide->startAnimation();  // not kept: it keeps itself
    }
    EXPECT_EQ(w->frame(), CGRectMake(0, -280, 1440, 280));
    h.advance(0.125);
    EXPECT_GT(w->frame().minY(), -280);
    EXPECT_LT(w->frame().minY(), 0);
    EXPECT_EQ(d->ended, 0);
    h.advance(0.125);
    EXPECT_EQ(w->frame(), CGRectMake(0, 0, 1440, 280));
    EXPECT_EQ(d->ended, 1);
    h.advance(1);
    EXPECT_EQ(d->ended, 1);
}

TEST(Animation, AnimatorChangesInAGroupAnimateAndTheCompletionRunsOnce) {
    Harness::UIHarness h;
    auto w = window(CGRectMake(0, 0, 100, 100));
    w->setAlphaValue(0);
    int completions = 0;
    NSAnimationContext::runAnimationGroup(
        [&](NSAnimationContext& ctx) {
            ctx.duration = 0.2;
            w->animator()->setAlphaValue(0.95);
        },
        [&] { ++completions; });
    h.advance(0.1);
    EXPECT_NEAR(w->alphaValue(), 0.475, 1e-9);
    h.advance(0.1);
    EXPECT_EQ(w->alphaValue(), 0.95);
    EXPECT_EQ(completions, 1);
    // Outside a group the animator animates over the implicit 0.25 s; a zero duration applies at once.
    w->animator()->setAlphaValue(0.45);
    EXPECT_EQ(w->alphaValue(), 0.95);
    h.advance(0.25);
    EXPECT_EQ(w->alphaValue(), 0.45);
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& ctx) {
        ctx.duration = 0;
        w->animator()->setAlphaValue(0.2);
    });
    EXPECT_EQ(w->alphaValue(), 0.2);
}

TEST(Animation, ANewAnimationOfTheSamePropertyReplacesTheRunningOne) {
    Harness::UIHarness h;
    auto view = std::make_shared<NSView>(CGRectMake(0, 0, 10, 10));
    int completions = 0;
    NSAnimationContext::runAnimationGroup(
        [&](NSAnimationContext& c) {
            c.duration = 1;
            view->animator()->setFrameOrigin({100, 0});
        },
        [&] { ++completions; });
    h.advance(0.5);
    NSAnimationContext::runAnimationGroup(
        [&](NSAnimationContext& c) {
            c.duration = 1;
            view->animator()->setFrameOrigin({0, 0});
        },
        [&] { ++completions; });
    h.advance(0.6);
    EXPECT_LT(view->frame().minX(), 50) << "the first no longer pushes it right";
    h.advance(0.4);
    EXPECT_EQ(view->frame().origin, (CGPoint{0, 0}));
    EXPECT_EQ(completions, 2);
}

TEST(StatusBar, ItemsSitAtTheRightOfTheBarInWindowsOfTheirOwn) {
    Harness::UIHarness h;
    auto& bar = NSStatusBar::systemStatusBar();
    auto first = bar.statusItemWithLength(NSVariableStatusItemLength);
    first->button()->setImage(NSImage::imageWithSize({18, 18}, false, [](CGRect, auto&) { return true; }));
    auto second = bar.statusItemWithLength(30);
    EXPECT_EQ(first->frame(), CGRectMake(1440 - 8 - 30, 876, 30, 24));
    EXPECT_EQ(second->frame(), CGRectMake(1440 - 8 - 30 - 30, 876, 30, 24));
    EXPECT_EQ(first->button()->window()->level(), NSStatusWindowLevel);
    EXPECT_EQ(bar.barFrame(), CGRectMake(0, 876, 1440, 24));
    int actions = 0;
    second->button()->action = [&](NSControl&) { ++actions; };
    h.clickStatusItem(second);
    EXPECT_EQ(actions, 1);
}

}  // namespace

namespace {

TEST(Application, HideOrdersWindowsOutAndUnhideBringsThemBackWithDelegateCalls) {
    Harness::UIHarness h;
    struct Delegate : NSApplicationDelegate {
        std::vector<std::string> calls;
        void applicationWillHide() override { calls.push_back("willHide"); }
        void applicationDidHide() override { calls.push_back("didHide"); }
        void applicationWillUnhide() override { calls.push_back("willUnhide"); }
        void applicationDidUnhide() override { calls.push_back("didUnhide"); }
    };
    auto d = std::make_shared<Delegate>();
    h.launch(d);
    auto library = NSWindow::make(CGRectMake(0, 0, 100, 100), NSWindowStyleMaskBorderless);
    library->orderFront();
    auto status = NSStatusBar::systemStatusBar().statusItemWithLength(20);
    h.app().hide();
    h.app().hide();
    EXPECT_TRUE(h.app().isHidden());
    EXPECT_FALSE(library->isVisible());
    EXPECT_TRUE(status->button()->window()->isVisible()) << "the status item stays";
    h.app().unhide();
    EXPECT_TRUE(library->isVisible());
    EXPECT_EQ(d->calls, (std::vector<std::string>{"willHide", "didHide", "willUnhide", "didUnhide"}));
}

}  // namespace

namespace {

TEST(Controllers, ViewsLoadLazilyAndAppearanceCallbacksPairUp) {
    Harness::UIHarness h;
    struct Picker : NSViewController {
        int loads = 0;
        void loadView() override {
            ++loads;
            setView(std::make_shared<NSView>(CGRectMake(0, 0, 110, 130)));
        }
        void viewWillAppear() override { NSCursor::hide(); }
        void viewDidAppear() override { NSCursor::hide(); }
        void viewWillDisappear() override { NSCursor::unhide(); }
    };
    auto picker = std::make_shared<Picker>();
    EXPECT_FALSE(picker->isViewLoaded());
    auto window = NSWindow::windowWithContentViewController(picker);
    EXPECT_EQ(picker->loads, 1);
    EXPECT_EQ(window->contentRectForFrameRect(window->frame()).size, (CGSize{110, 130}));
    auto controller = NSWindowController::make(window);
    controller->showWindow();
    controller->showWindow();  // already on screen: no second appearance
    EXPECT_EQ(NSCursor::hideCount(), 2);
    window->close();
    NSCursor::unhide();  // the picker's own close unhides once more
    EXPECT_EQ(NSCursor::hideCount(), 0);
    EXPECT_EQ(picker->loads, 1);
}

TEST(Controllers, DismissClosesThePresentedWindow) {
    Harness::UIHarness h;
    auto parent = std::make_shared<NSViewController>();
    auto child = std::make_shared<NSViewController>();
    child->preferredContentSize = {200, 100};
    parent->presentViewControllerAsModalWindow(child);
    ASSERT_TRUE(child->view()->window());
    auto w = child->view()->window();
    EXPECT_TRUE(w->isVisible());
    child->dismissController();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(parent->presentedViewControllers().empty());
}

TEST(Windows, FullScreenTakesTheScreenAndComesBackWithDelegateCalls) {
    Harness::UIHarness h;
    struct Delegate : NSWindowDelegate {
        std::vector<std::string> calls;
        void windowWillEnterFullScreen(NSWindow&) override { calls.push_back("willEnter"); }
        void windowDidEnterFullScreen(NSWindow&) override { calls.push_back("didEnter"); }
        void windowWillExitFullScreen(NSWindow&) override { calls.push_back("willExit"); }
        void windowDidExitFullScreen(NSWindow&) override { calls.push_back("didExit"); }
    };
    auto d = std::make_shared<Delegate>();
    auto w = NSWindow::make(CGRectMake(100, 100, 300, 200), NSWindowStyleMaskTitled | NSWindowStyleMaskResizable);
    w->delegate = d;
    w->makeKeyAndOrderFront();
    CGRect before = w->frame();
    w->toggleFullScreen();
    EXPECT_TRUE(w->isFullScreen());
    EXPECT_EQ(w->frame(), CGRectMake(0, 0, 1440, 900));
    w->toggleFullScreen();
    EXPECT_EQ(w->frame(), before);
    EXPECT_EQ(d->calls, (std::vector<std::string>{"willEnter", "didEnter", "willExit", "didExit"}));
    auto close = w->standardWindowButton(NSWindowButton::close);
    ASSERT_TRUE(close);
    close->setHidden(true);
    h.clickView(*close);
    EXPECT_TRUE(w->isVisible()) << "a hidden button takes no click";
    close->setHidden(false);
    h.clickView(*close);
    EXPECT_TRUE(w->isClosed());
}

TEST(ContextMenus, RightClickOpensTheViewsMenuAtThePointer) {
    Harness::UIHarness h;
    auto w = NSWindow::make(CGRectMake(100, 100, 300, 200), NSWindowStyleMaskBorderless);
    auto view = std::make_shared<NSView>(CGRectMake(10, 10, 100, 40));
    w->contentView()->addSubview(view);
    w->orderFront();
    std::vector<std::string> chosen;
    view->menu = NSMenu::make("Menu");
    view->menu->addItemWithTitle(
        "Rename", [&](NSMenuItem& i) { chosen.push_back(i.title); }, "");
    view->menu->addItemWithTitle(
        "Delete", [&](NSMenuItem& i) { chosen.push_back(i.title); }, "");
    h.rightClickView(*view);
    ASSERT_TRUE(view->menu->isOpen());
    auto mw = view->menu->menuWindow();
    EXPECT_EQ(mw->frame().minX(), 160);
    EXPECT_EQ(mw->frame().maxY(), 130);
    h.chooseMenuItem({"Delete"});
    EXPECT_EQ(chosen, std::vector<std::string>{"Delete"});
}

}  // namespace

namespace {

TEST(HotKeys, ShortcutTextsAreWrittenTheLinuxWay) {
    struct Case {
        std::uint16_t key;
        NSEventModifierFlags mods;
        std::string keyText, modsText, whole;
    };
    const auto ctrl = NSEventModifierFlagControl, cmd = NSEventModifierFlagCommand;
    const std::vector<Case> cases = {
        {31, ctrl | cmd, "O", "Ctrl+Super+", "Ctrl+Super+O"},
        {34, ctrl | cmd, "I", "Ctrl+Super+", "Ctrl+Super+I"},
        {45, ctrl, "N", "Ctrl+", "Ctrl+N"},
        {43, ctrl, ",", "Ctrl+", "Ctrl+,"},
        {12, ctrl, "Q", "Ctrl+", "Ctrl+Q"},
        {18, NSEventModifierFlagShift | NSEventModifierFlagOption | cmd, "1", "Alt+Shift+Super+", "Alt+Shift+Super+1"},
        {kVK_Escape, 0, "Esc", "", "Esc"},
        {126, NSEventModifierFlagShift, "Up", "Shift+", "Shift+Up"},
        {96, NSEventModifierFlagCapsLock, "F5", "", "F5"},
        {255, cmd, "", "Super+", "Super+"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyCodeString(c.key), c.keyText) << c.key;
        EXPECT_EQ(modifierFlagsString(c.mods), c.modsText) << c.key;
        EXPECT_EQ(shortcutText(c.mods, keyCodeString(c.key)), c.whole) << c.key;
    }
    // The panel's menu protocol gets the same modifiers under its own names.
    EXPECT_EQ(modifierKeyNames(ctrl | cmd), (std::vector<std::string>{"Control", "Super"}));
    // A menu's own key equivalent is Control's, so "Ctrl+N" is what it answers to.
    auto menu = NSMenu::make("m");
    menu->addItem(NSMenuItem::make("New", [](NSMenuItem&) {}, "n"));
    NSEvent super;
    super.charactersIgnoringModifiers = "n";
    super.modifierFlags = cmd;
    EXPECT_FALSE(menu->performKeyEquivalent(super));
    NSEvent control = super;
    control.modifierFlags = ctrl;
    EXPECT_TRUE(menu->performKeyEquivalent(control));
}

}  // namespace
