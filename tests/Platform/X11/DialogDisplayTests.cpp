// Alerts and our own save panel on a real X server, answered with keys sent
// by xdotool as a person would type them. Each case waits for a condition
// with a bounded timeout; a panel still open after it is answered by the test
// (a failure, never a hang).

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/AppKit/ModalPanels.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/X11/Dialogs.h"
#include "Platform/X11/X11Backend.h"

using namespace AppKit;
using X11Display::X11Backend;

namespace {

bool programAvailable(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// xdotool with these arguments, run beside the test.
struct Xdotool {
    pid_t pid = -1;
    explicit Xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    bool finished() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
        return pid < 0;
    }
    // Waited for, not killed: a key pressed and never released would stay down for the next case.
    ~Xdotool() {
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
};

class Dialogs : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::getenv("DISPLAY") && !keeper) keeper = xcb_connect(nullptr, nullptr);
    }
    static inline xcb_connection_t* keeper = nullptr;

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        if (!programAvailable("xdotool")) GTEST_SKIP() << "xdotool is not installed";
        NSApplication::resetForTests();
        std::string error;
        backend = X11Backend::open("", &error);
        ASSERT_TRUE(backend) << error;
        setDisplayBackend(backend);
        other = xcb_connect(nullptr, nullptr);
        X11Display::installDialogs();
        dir = std::filesystem::path(std::getenv("VEXIL_HOME") ? std::getenv("VEXIL_HOME") : "/tmp") / "dialogs";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        X11Display::uninstallDialogs();
        if (backend) {
            setDisplayBackend(std::make_shared<HeadlessBackend>());
            backend.reset();
        }
        if (other) xcb_disconnect(other);
        steps.clear();
    }

    // While a panel runs: each step waits for its condition, then acts; the
    // test's timer looks every 10 ms and gives up after 10 s.
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    void whileModal(std::vector<Step> list) {
        steps = std::move(list);
        next = 0;
        started = std::chrono::steady_clock::now();
        timer = Foundation::Timer::scheduled(
            0.01, true,
            [this](Foundation::Timer& t) {
                if (next < steps.size() && steps[next].ready()) steps[next++].act();
                if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
                    t.invalidate();
                    timedOut = true;
                    for (const auto& w : NSApplication::shared().windowsInScreenOrder()) {
                        if (auto a = std::dynamic_pointer_cast<AlertPanel>(w)) a->answer(-1);
                        if (auto s = std::dynamic_pointer_cast<SavePanelWindow>(w)) {
                            lastName = s->name();
                            s->cancel();
                        }
                    }
                }
            },
            {Foundation::RunLoopMode::ModalPanel});
    }
    void endModalSteps() {
        if (timer) timer->invalidate();
        timer.reset();
        EXPECT_FALSE(timedOut) << "gave up at step " << next << " (the name field held \"" << lastName << "\")";
        EXPECT_EQ(next, steps.size());
    }

    template <class Panel>
    static std::shared_ptr<Panel> shown() {
        for (const auto& w : NSApplication::shared().windowsInScreenOrder())
            if (auto p = std::dynamic_pointer_cast<Panel>(w)) return p;
        return nullptr;
    }
    // The panel is on the display (mapped; the keyboard focus is given on its MapNotify).
    template <class Panel>
    std::function<bool()> onScreen() {
        return [this] {
            auto p = shown<Panel>();
            if (!p || !backend->xWindowFor(p->windowNumber())) return false;
            xcb_get_input_focus_reply_t* f = xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr);
            const bool focused = f && f->focus == backend->xWindowFor(p->windowNumber());
            std::free(f);
            return focused;
        };
    }
    std::function<void()> press(std::vector<std::string> args) {
        return [this, args] { tools.push_back(std::make_unique<Xdotool>(args)); };
    }
    std::string windowType(xcb_window_t w) {
        auto atomNamed = [&](const char* name) {
            auto* r = xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, std::strlen(name), name), nullptr);
            const xcb_atom_t a = r ? r->atom : 0;
            std::free(r);
            return a;
        };
        auto* p = xcb_get_property_reply(
            other, xcb_get_property(other, 0, w, atomNamed("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 0, 1), nullptr);
        std::string name;
        if (p && xcb_get_property_value_length(p) >= 4) {
            const xcb_atom_t a = *static_cast<xcb_atom_t*>(xcb_get_property_value(p));
            auto* n = xcb_get_atom_name_reply(other, xcb_get_atom_name(other, a), nullptr);
            if (n) name.assign(xcb_get_atom_name_name(n), xcb_get_atom_name_name_length(n));
            std::free(n);
        }
        std::free(p);
        return name;
    }

    std::shared_ptr<X11Backend> backend;
    xcb_connection_t* other = nullptr;
    std::filesystem::path dir;
    std::vector<Step> steps;
    std::size_t next = 0;
    std::chrono::steady_clock::time_point started;
    std::shared_ptr<Foundation::Timer> timer;
    bool timedOut = false;
    std::string lastName;
    std::vector<std::unique_ptr<Xdotool>> tools;
};

TEST_F(Dialogs, AnAlertIsAFocusedDialogWithItsTextsAndReturnOrEscapeAnswersIt) {
    struct Case {
        const char* key;
        std::vector<std::string> buttons;
        NSModalResponse expected;
    };
    const Case cases[] = {
        {"Return", {"Replace", "Cancel"}, NSAlertFirstButtonReturn},
        {"Escape", {"Replace", "Cancel"}, NSAlertSecondButtonReturn},
        {"Escape", {"Keep Both", "Stop", "Cancel"}, NSAlertThirdButtonReturn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " with " + c.buttons.front());
        NSAlert alert;
        alert.alertStyle = NSAlertStyle::critical;
        alert.messageText = "The library file cannot be opened";
        alert.informativeText = std::string(120, 'w') + " and a long reason that has to be wrapped over lines.";
        for (const auto& b : c.buttons) alert.addButtonWithTitle(b);
        std::string seenType, seenMessage;
        std::size_t seenLines = 0;
        // A timer of the default mode waits while the alert is up.
        bool defaultTimerFired = false, firedWhileModal = true;
        auto waiting = Foundation::Timer::scheduled(0, false, [&](Foundation::Timer&) { defaultTimerFired = true; });
        whileModal({
            {onScreen<AlertPanel>(),
             [&] {
                 auto panel = shown<AlertPanel>();
                 seenType = windowType(backend->xWindowFor(panel->windowNumber()));
                 seenMessage = panel->alert().messageText;
                 seenLines = panel->wrappedInformativeLines().size();
                 firedWhileModal = defaultTimerFired;
                 press({"key", c.key})();
             }},
        });
        const auto response = alert.runModal();
        endModalSteps();
        EXPECT_EQ(response, c.expected);
        EXPECT_EQ(seenType, "_NET_WM_WINDOW_TYPE_DIALOG");
        EXPECT_EQ(seenMessage, alert.messageText);
        EXPECT_GE(seenLines, 2u);  // wrapped
        EXPECT_FALSE(firedWhileModal);
        waiting->invalidate();
        EXPECT_FALSE(shown<AlertPanel>());
        EXPECT_EQ(Foundation::RunLoop::main().currentMode(), Foundation::RunLoopMode::Default);
    }
}

TEST_F(Dialogs, WithoutAPortalOurSavePanelTakesATypedPathAndAsksBeforeReplacing) {
    // No portal on this bus: our own panel comes up.
    NSSavePanel panel;
    panel.title = "Export";
    panel.allowedFileTypes = {"gpl"};
    panel.nameFieldStringValue = "Blues.gpl";
    const std::string target = (dir / "out").string();

    // The proposed name is selected up to its extension: typing a path keeps ".gpl".
    std::pair<std::size_t, std::size_t> selection;
    whileModal({{onScreen<SavePanelWindow>(),
                 [&] {
                     selection = shown<SavePanelWindow>()->selection();
                     press({"type", "--delay", "2", target})();
                 }},
                {[&] { return shown<SavePanelWindow>()->name() == target + ".gpl"; }, press({"key", "Return"})}});
    const auto typedAnswer = panel.runModal();
    endModalSteps();
    ASSERT_EQ(typedAnswer, NSModalResponseOK);
    EXPECT_EQ(selection, (std::pair<std::size_t, std::size_t>{0, 5}));
    EXPECT_EQ(panel.URL(), target + ".gpl");

    // Escape writes nothing: a cancel.
    whileModal({{onScreen<SavePanelWindow>(), press({"key", "Escape"})}});
    EXPECT_EQ(panel.runModal(), NSModalResponseCancel);
    endModalSteps();
    EXPECT_FALSE(panel.URL());

    // An existing file is asked about first: Escape there goes back to the panel, Return replaces.
    std::ofstream(target + ".gpl") << "GIMP Palette\n";
    whileModal({{onScreen<SavePanelWindow>(), press({"type", "--delay", "2", target})},
                {[&] { return shown<SavePanelWindow>()->name() == target + ".gpl"; }, press({"key", "Return"})},
                {onScreen<AlertPanel>(),
                 [&] {
                     EXPECT_NE(shown<AlertPanel>()->alert().messageText.find("out.gpl"), std::string::npos);
                     press({"key", "Escape"})();
                 }},
                {onScreen<SavePanelWindow>(), press({"key", "Return"})},
                {onScreen<AlertPanel>(), press({"key", "Return"})}});
    const auto replaceAnswer = panel.runModal();
    endModalSteps();
    ASSERT_EQ(replaceAnswer, NSModalResponseOK);
    EXPECT_EQ(panel.URL(), target + ".gpl");
    EXPECT_TRUE(std::filesystem::exists(target + ".gpl"));  // the panel itself writes nothing
}

}  // namespace
