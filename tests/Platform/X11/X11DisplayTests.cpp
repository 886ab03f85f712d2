// Against a real X server: each case waits for a condition with a bounded
// timeout, never a fixed sleep.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <systemd/sd-bus.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/X11/SystemTray.h"
#include "Platform/X11/X11Backend.h"

using namespace AppKit;
using X11Display::X11Backend;

namespace {

// A program run beside the test; its output collected while the test pumps events.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string output;
    Child(std::vector<std::string> argv, const std::string& input = {}) {
        int inPipe[2], outPipe[2];
        if (pipe(inPipe) || pipe(outPipe)) return;
        pid = fork();
        if (pid == 0) {
            dup2(inPipe[0], 0);
            dup2(outPipe[1], 1);
            close(inPipe[1]);
            close(outPipe[0]);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(inPipe[0]);
        close(outPipe[1]);
        if (!input.empty() && write(inPipe[1], input.data(), input.size()) < 0) {}
        close(inPipe[1]);
        out = outPipe[0];
        fcntl(out, F_SETFL, O_NONBLOCK);
    }
    // True once the program has ended (output read to the end).
    bool finished(int* status = nullptr) {
        char buf[4096];
        ssize_t n;
        while ((n = read(out, buf, sizeof buf)) > 0) output.append(buf, static_cast<std::size_t>(n));
        int st = 0;
        if (pid > 0 && waitpid(pid, &st, WNOHANG) == pid) {
            while ((n = read(out, buf, sizeof buf)) > 0) output.append(buf, static_cast<std::size_t>(n));
            pid = -1;
            exitStatus = st;
        }
        if (status) *status = exitStatus;
        return pid < 0;
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
    }
    int exitStatus = 0;
};

bool programAvailable(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct TestWatcher;

class X11Display : public testing::Test {
protected:
    // Xvfb resets when its last client leaves and refuses connections meanwhile: one stays for the whole run.
    static void SetUpTestSuite() {
        if (std::getenv("DISPLAY") && !keeper) keeper = xcb_connect(nullptr, nullptr);
    }
    static inline xcb_connection_t* keeper = nullptr;

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        NSApplication::resetForTests();
        HotKeyBinder::shared().resetForTests();
        std::string error;
        backend = X11Backend::open("", &error);
        ASSERT_TRUE(backend) << error;
        setDisplayBackend(backend);
        other = xcb_connect(nullptr, nullptr);
        ASSERT_FALSE(xcb_connection_has_error(other));
        screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    }
    void TearDown() override {
        for (auto& w : windows) w->close();
        windows.clear();
        HotKeyBinder::shared().resetForTests();
        if (backend) {
            setDisplayBackend(std::make_shared<HeadlessBackend>());
            backend.reset();
        }
        if (other) xcb_disconnect(other);
    }

public:
    bool waitForAnswer(const std::function<bool()>& done) { return waitFor(done); }

protected:
    // Pumps the backend until `done` holds or 5 s pass.
    bool waitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (true) {
            // The production run loop: the X connection and the bus are its sources.
            Foundation::RunLoop::main().runFor(0.005);
            xcb_flush(other);
            while (auto* e = xcb_poll_for_event(other)) std::free(e);
            if (pump) pump();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
        }
    }

    std::shared_ptr<NSWindow> show(CGRect frame, double r, double g, double b) {
        auto w = NSWindow::make(frame, NSWindowStyleMaskBorderless);
        w->setBackgroundColor(NSColor::colorWithRed(r, g, b, 1));
        w->orderFront();
        windows.push_back(w);
        return w;
    }

    // A pattern over the whole screen, in a window of another client: each
    // pixel's colour says where it is.
    static std::uint32_t patternAt(int x, int y) {
        return (static_cast<std::uint32_t>(x & 0xff) << 16) | ((y & 0xff) << 8) | ((x + y) & 0xff);
    }
    xcb_window_t showPattern() {
        const int w = screen->width_in_pixels, h = screen->height_in_pixels;
        const xcb_window_t win = xcb_generate_id(other);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(other, XCB_COPY_FROM_PARENT, win, screen->root, 0, 0, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(other, win);
        const xcb_gcontext_t gc = xcb_generate_id(other);
        xcb_create_gc(other, gc, win, 0, nullptr);
        std::vector<std::uint32_t> row(static_cast<std::size_t>(w) * 16);
        for (int y0 = 0; y0 < h; y0 += 16) {
            const int rows = std::min(16, h - y0);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < w; ++x) row[static_cast<std::size_t>(y) * w + x] = patternAt(x, y0 + y);
            xcb_put_image(other, XCB_IMAGE_FORMAT_Z_PIXMAP, win, gc, w, rows, 0, y0, 0, 24,
                          static_cast<std::uint32_t>(w * rows * 4), reinterpret_cast<const std::uint8_t*>(row.data()));
        }
        xcb_free_gc(other, gc);
        std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));  // round trip: drawn
        return win;
    }
    static std::uint32_t rgb(const CoreGraphics::RGBA& p) {
        auto c = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 255)); };
        return (c(p.r) << 16) | (c(p.g) << 8) | c(p.b);
    }

    std::shared_ptr<X11Backend> backend;
    xcb_connection_t* other = nullptr;
    xcb_screen_t* screen = nullptr;
    std::vector<std::shared_ptr<NSWindow>> windows;
    std::function<void()> pump;  // more to run while waiting (a test's own bus)
};

TEST_F(X11Display, WindowMapsAtTheModelsPositionWithTheModelsPixels) {
    const double H = screen->height_in_pixels;
    auto w = show(CGRectMake(100, 200, 60, 40), 1, 0, 0);
    // X's y runs down from the top: the window's top edge is at H - (200 + 40).
    ASSERT_TRUE(waitFor([&] {
        const xcb_window_t id = backend->xWindowFor(w->windowNumber());
        if (!id) return false;
        auto* t =
            xcb_translate_coordinates_reply(other, xcb_translate_coordinates(other, id, screen->root, 0, 0), nullptr);
        const bool placed = t && t->dst_x == 100 && t->dst_y == H - 240;
        std::free(t);
        if (!placed) return false;
        auto img = backend->captureScreen(CGRectMake(100, H - 240, 60, 40), 0);
        return img && rgb(img->pixel(0, 0)) == 0xff0000 && rgb(img->pixel(59, 39)) == 0xff0000;
    }));
}

TEST_F(X11Display, PickOverAPatternGivesTheExactPixelAtTheEdgesToo) {
    const int W = screen->width_in_pixels, H = screen->height_in_pixels;
    const xcb_window_t pattern = showPattern();
    ASSERT_TRUE(waitFor([&] {
        auto img = backend->captureScreen(CGRectMake(300, 200, 1, 1), 0);
        return img && rgb(img->pixel(0, 0)) == patternAt(300, 200);
    }));
    struct Corner {
        int x, y;
    };
    for (const Corner c : {Corner{0, 0}, Corner{W - 1, 0}, Corner{0, H - 1}, Corner{W - 1, H - 1}, Corner{517, 333}}) {
        // An 11x11 region centred on the pixel: the off-screen part is padded with black.
        auto img = backend->captureScreen(CGRectMake(c.x - 5, c.y - 5, 11, 11), 0);
        ASSERT_TRUE(img);
        EXPECT_EQ(rgb(img->pixel(5, 5)), patternAt(c.x, c.y)) << c.x << "," << c.y;
        for (int dy = -5; dy <= 5; ++dy)
            for (int dx = -5; dx <= 5; ++dx) {
                const int x = c.x + dx, y = c.y + dy;
                const bool on = x >= 0 && y >= 0 && x < W && y < H;
                ASSERT_EQ(rgb(img->pixel(dx + 5, dy + 5)), on ? patternAt(x, y) : 0u) << x << "," << y;
            }
    }
    xcb_destroy_window(other, pattern);
}

TEST_F(X11Display, TheMagnifierNeverReadsItself) {
    const double H = screen->height_in_pixels;
    const xcb_window_t pattern = showPattern();
    ASSERT_TRUE(waitFor([&] {
        auto img = backend->captureScreen(CGRectMake(150, 150, 1, 1), 0);
        return img && rgb(img->pixel(0, 0)) == patternAt(150, 150);
    }));
    // A magenta window right over the point read: model y up, so its X top is H - 250.
    auto magnifier = show(CGRectMake(100, H - 250, 100, 100), 1, 0, 1);
    ASSERT_TRUE(waitFor([&] {
        auto img = backend->captureScreen(CGRectMake(150, 200, 1, 1), 0);
        return img && rgb(img->pixel(0, 0)) == 0xff00ff;  // it is on screen
    }));
    auto img = backend->captureScreen(CGRectMake(145, 195, 11, 11), magnifier->windowNumber());
    ASSERT_TRUE(img);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 11; ++x) ASSERT_EQ(rgb(img->pixel(x, y)), patternAt(145 + x, 195 + y));
    xcb_destroy_window(other, pattern);
}

TEST_F(X11Display, WhileTheCursorIsHiddenPointerAndKeysComeToUsWherever) {
    if (!programAvailable("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    const double H = screen->height_in_pixels;
    std::vector<std::uint16_t> keys;
    auto monitor =
        NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMaskKeyDown, [&](const std::shared_ptr<NSEvent>& e) {
            keys.push_back(e->keyCode);
            return e;
        });
    NSApplication::shared().activateIgnoringOtherApps(true);  // as the picker does
    NSCursor::hide();
    EXPECT_TRUE(backend->pointerGrabbed());
    Child move({"xdotool", "mousemove", "321", "123"});
    ASSERT_TRUE(waitFor([&] { return NSEvent::mouseLocation() == CGPoint{321, H - 123}; }));
    Child escape({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitFor([&] { return !keys.empty() && keys.back() == 53; }));
    NSCursor::unhide();
    EXPECT_FALSE(backend->pointerGrabbed());
    NSEvent::removeMonitor(monitor);
    EXPECT_TRUE(waitFor([&] { return move.finished() && escape.finished(); }));
}

TEST_F(X11Display, AClickOverAnotherProgramReachesTheGlobalMonitors) {
    if (!programAvailable("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    const double H = screen->height_in_pixels;
    std::vector<CGPoint> clicks;
    auto monitor = NSEvent::addGlobalMonitorForEventsMatchingMask(
        NSEventMaskLeftMouseDown, [&](const NSEvent&) { clicks.push_back(NSEvent::mouseLocation()); });
    backend->processPendingEvents();
    Child click({"xdotool", "mousemove", "40", "60", "click", "1"});
    EXPECT_TRUE(waitFor([&] { return !clicks.empty(); }));
    if (!clicks.empty()) {
        EXPECT_EQ(clicks.back(), (CGPoint{40, H - 60}));
    }
    NSEvent::removeMonitor(monitor);
    EXPECT_TRUE(waitFor([&] { return click.finished(); }));
}

TEST_F(X11Display, AHotKeySentByXdotoolReachesTheBinder) {
    if (!programAvailable("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    int pressed = 0;
    const auto mods = NSEventModifierFlagControl | NSEventModifierFlagCommand;
    auto result = HotKeyBinder::shared().registerHotKey(31, mods, [&] { ++pressed; });
    ASSERT_TRUE(result.id) << result.error;
    Child xdotool({"xdotool", "key", "ctrl+super+o"});
    ASSERT_TRUE(waitFor([&] { return pressed == 1; }));
    EXPECT_TRUE(waitFor([&] { return xdotool.finished(); }));
    // With NumLock on too (a Lock variant of the grab).
    Child withNumLock({"xdotool", "keydown", "Num_Lock", "keyup", "Num_Lock", "key", "ctrl+super+o", "keydown",
                       "Num_Lock", "keyup", "Num_Lock"});
    EXPECT_TRUE(waitFor([&] { return pressed == 2; }));
    EXPECT_TRUE(waitFor([&] { return withNumLock.finished(); }));
}

TEST_F(X11Display, AHotKeyAnotherProgramHoldsIsReported) {
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(other);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, 'i');
    ASSERT_TRUE(codes);
    const std::uint16_t controlSuper = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_4;
    xcb_generic_error_t* e = xcb_request_check(
        other,
        xcb_grab_key_checked(other, 1, screen->root, controlSuper, codes[0], XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(e, nullptr);
    auto result =
        HotKeyBinder::shared().registerHotKey(34, NSEventModifierFlagControl | NSEventModifierFlagCommand, [] {});
    EXPECT_FALSE(result.id);
    EXPECT_FALSE(result.error.empty());
    // Another combination is still had.
    auto free =
        HotKeyBinder::shared().registerHotKey(34, NSEventModifierFlagControl | NSEventModifierFlagOption, [] {});
    EXPECT_TRUE(free.id) << free.error;
    xcb_ungrab_key(other, codes[0], screen->root, controlSuper);
    std::free(codes);
    xcb_key_symbols_free(syms);
}

TEST_F(X11Display, TextCopiedByVexilIsReadByXclip) {
    if (!programAvailable("xclip")) GTEST_SKIP() << "xclip is not installed";
    NSPasteboard::generalPasteboard()->clearContents();
    NSPasteboard::generalPasteboard()->setString("#1E90FF ünïcode", NSPasteboardTypeString);
    Child xclip({"xclip", "-o", "-selection", "clipboard", "-target", "UTF8_STRING"});
    ASSERT_TRUE(waitFor([&] { return xclip.finished(); }));
    EXPECT_EQ(xclip.output, "#1E90FF ünïcode");
    Child targets({"xclip", "-o", "-selection", "clipboard", "-target", "TARGETS"});
    ASSERT_TRUE(waitFor([&] { return targets.finished(); }));
    EXPECT_NE(targets.output.find("UTF8_STRING"), std::string::npos);
}

TEST_F(X11Display, TextCopiedByXclipReachesThePasteboard) {
    if (!programAvailable("xclip")) GTEST_SKIP() << "xclip is not installed";
    auto pb = NSPasteboard::generalPasteboard();
    const long before = pb->changeCount();
    Child xclip({"xclip", "-i", "-quiet", "-loops", "1", "-selection", "clipboard"}, "rgb(12, 34, 56)");
    ASSERT_TRUE(waitFor([&] { return pb->changeCount() > before; }));
    EXPECT_EQ(pb->stringForType(NSPasteboardTypeString), "rgb(12, 34, 56)");
}

// The panel's part: a StatusNotifierWatcher on the session bus that records registrations.
struct TestWatcher {
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;
    std::vector<std::string> items;
    bool ready = false;

    static int onRegister(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        static_cast<TestWatcher*>(userdata)->items.push_back(name ? name : "");
        return sd_bus_reply_method_return(m, "");
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", onRegister, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    TestWatcher() {
        if (sd_bus_open_user(&bus) < 0) return;
        sd_bus_add_object_vtable(bus, &slot, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", kVtable, this);
        ready = sd_bus_request_name(bus, "org.kde.StatusNotifierWatcher", 0) >= 0;
    }
    ~TestWatcher() {
        sd_bus_slot_unref(slot);
        if (bus) {
            sd_bus_release_name(bus, "org.kde.StatusNotifierWatcher");
            sd_bus_flush_close_unref(bus);
        }
    }
    void process() {
        while (bus && sd_bus_process(bus, nullptr) > 0) {}
    }
    // A call to the item, answered while the test's run loop turns.
    sd_bus_message* call(X11Display& test, const std::string& service, const char* path, const char* interface,
                         const char* member, const std::function<void(sd_bus_message*)>& args);
};

}  // namespace

namespace {

sd_bus_message* TestWatcher::call(X11Display& test, const std::string& service, const char* path, const char* interface,
                                  const char* member, const std::function<void(sd_bus_message*)>& args) {
    sd_bus_message* m = nullptr;
    sd_bus_message_new_method_call(bus, &m, service.c_str(), path, interface, member);
    args(m);
    struct Answer {
        sd_bus_message* reply = nullptr;
        bool done = false;
    } answer;
    sd_bus_call_async(
        bus, nullptr, m,
        [](sd_bus_message* reply, void* userdata, sd_bus_error*) {
            auto* a = static_cast<Answer*>(userdata);
            a->reply = sd_bus_message_ref(reply);
            a->done = true;
            return 0;
        },
        &answer, 0);
    sd_bus_message_unref(m);
    test.waitForAnswer([&] { return answer.done; });
    return answer.reply;
}

}  // namespace

namespace {

// Reads a layout node into "id label [props]" lines, children indented.
void readNode(sd_bus_message* m, int indent, std::vector<std::string>& out, std::map<std::string, int>& idByLabel) {
    int id = 0;
    sd_bus_message_enter_container(m, 'r', "ia{sv}av");
    sd_bus_message_read(m, "i", &id);
    std::string line(static_cast<std::size_t>(indent), ' ');
    std::string label;
    sd_bus_message_enter_container(m, 'a', "{sv}");
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(m, "s", &key);
        const char* contents = nullptr;
        char type = 0;
        sd_bus_message_peek_type(m, &type, &contents);
        const std::string k = key, c = contents;
        if (c == "s") {
            const char* v = nullptr;
            sd_bus_message_read(m, "v", "s", &v);
            if (k == "label")
                label = v;
            else
                line += " " + k + "=" + v;
        } else if (c == "i") {
            int v = 0;
            sd_bus_message_read(m, "v", "i", &v);
            line += " " + k + "=" + std::to_string(v);
        } else if (c == "ay") {
            sd_bus_message_enter_container(m, 'v', "ay");
            const void* d = nullptr;
            std::size_t n = 0;
            sd_bus_message_read_array(m, 'y', &d, &n);
            sd_bus_message_exit_container(m);
            line += " " + k + (n > 8 && std::memcmp(static_cast<const char*>(d) + 1, "PNG", 3) == 0 ? "=png" : "=?");
        } else if (c == "aas") {
            sd_bus_message_enter_container(m, 'v', "aas");
            sd_bus_message_enter_container(m, 'a', "as");
            sd_bus_message_enter_container(m, 'a', "s");
            std::string keys;
            const char* key2 = nullptr;
            while (sd_bus_message_read(m, "s", &key2) > 0) keys += (keys.empty() ? "" : "+") + std::string(key2);
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
            line += " " + k + "=" + keys;
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    out.push_back(line.substr(0, static_cast<std::size_t>(indent)) + label +
                  line.substr(static_cast<std::size_t>(indent)));
    idByLabel[label] = id;
    sd_bus_message_enter_container(m, 'a', "v");
    while (sd_bus_message_enter_container(m, 'v', "(ia{sv}av)") > 0) {
        readNode(m, indent + 2, out, idByLabel);
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    sd_bus_message_exit_container(m);
}

TEST_F(X11Display, TheStatusItemRegistersExportsItsMenuAndAMenuClickArrives) {
    TestWatcher watcher;
    if (!watcher.ready) GTEST_SKIP() << "no session bus";
    pump = [&] { watcher.process(); };
    int picks = 0, copies = 0;
    auto menu = std::make_shared<NSMenu>("Status");
    auto pick = NSMenuItem::make(
        "Pick Color", [&](NSMenuItem&) { ++picks; }, "o");
    pick->keyEquivalentModifierMask = NSEventModifierFlagControl | NSEventModifierFlagCommand;
    menu->addItem(pick);
    menu->addItem(NSMenuItem::separatorItem());
    auto swatch = std::make_shared<CoreGraphics::Image>(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) swatch->setPixel(x, y, {0x41 / 255.0, 0x66 / 255.0, 0xF5 / 255.0, 1});
    auto colour = NSMenuItem::make("Ultramarine", [&](NSMenuItem&) { ++copies; });
    colour->image = std::make_shared<NSImage>(swatch);
    colour->state = NSControlStateValueOn;
    menu->addItem(colour);
    auto formats = NSMenuItem::make("Formats");
    auto sub = std::make_shared<NSMenu>("Formats");
    sub->addItem(NSMenuItem::make("CSS Hex"));
    formats->setSubmenu(sub);
    menu->addItem(formats);
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(-1);
    item->menu = menu;
    backend->statusItemChanged(*item);

    const std::string service = backend->statusItemService();
    ASSERT_FALSE(service.empty()) << backend->statusItemProblem();
    ASSERT_TRUE(waitFor([&] { return !watcher.items.empty(); }));
    EXPECT_EQ(watcher.items[0], service);

    sd_bus_message* layout = watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                                          [](sd_bus_message* m) { sd_bus_message_append(m, "iias", 0, -1, 0); });
    ASSERT_TRUE(layout);
    ASSERT_FALSE(sd_bus_message_is_method_error(layout, nullptr));
    std::uint32_t revision = 0;
    sd_bus_message_read(layout, "u", &revision);
    std::vector<std::string> lines;
    std::map<std::string, int> ids;
    readNode(layout, 0, lines, ids);
    sd_bus_message_unref(layout);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " children-display=submenu",
                         "  Pick Color shortcut=Control+Super+o",
                         "   type=separator",
                         "  Ultramarine toggle-type=checkmark toggle-state=1 icon-data=png",
                         "  Formats children-display=submenu",
                         "    CSS Hex",
                     }));

    // Real panels send clicks in groups.
    sd_bus_message* reply =
        watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "EventGroup", [&](sd_bus_message* m) {
            sd_bus_message_open_container(m, 'a', "(isvu)");
            sd_bus_message_append(m, "(isvu)", ids["Ultramarine"], "clicked", "i", 0, 0u);
            sd_bus_message_close_container(m);
        });
    ASSERT_TRUE(reply);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(waitFor([&] { return copies == 1; }));
    reply = watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "Event", [&](sd_bus_message* m) {
        sd_bus_message_append(m, "isvu", ids["Pick Color"], "clicked", "i", 0, 0u);
    });
    ASSERT_TRUE(reply);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(waitFor([&] { return picks == 1; }));

    // Group properties, as panels ask for them when a menu opens.
    reply = watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "GetGroupProperties",
                         [&](sd_bus_message* m) {
                             sd_bus_message_append(m, "ai", 1, ids["Pick Color"]);
                             sd_bus_message_append(m, "as", 0);
                         });
    ASSERT_TRUE(reply);
    ASSERT_FALSE(sd_bus_message_is_method_error(reply, nullptr));
    sd_bus_message_enter_container(reply, 'a', "(ia{sv})");
    int groups = 0;
    while (sd_bus_message_enter_container(reply, 'r', "ia{sv}") > 0) {
        ++groups;
        sd_bus_message_skip(reply, "ia{sv}");
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_unref(reply);
    EXPECT_EQ(groups, 1);

    // A change of the model's menu (a new format ticked) reaches the panel
    // by itself: the panel is never told the menu closed, so it caches.
    struct Heard {
        std::vector<std::uint32_t> revisions;
        std::vector<int> updatedIds;
    } heard;
    sd_bus_slot* layoutSlot = nullptr;
    sd_bus_slot* propsSlot = nullptr;
    sd_bus_match_signal(
        watcher.bus, &layoutSlot, service.c_str(), "/MenuBar", "com.canonical.dbusmenu", "LayoutUpdated",
        [](sd_bus_message* m, void* userdata, sd_bus_error*) {
            std::uint32_t r = 0;
            sd_bus_message_read(m, "u", &r);
            static_cast<Heard*>(userdata)->revisions.push_back(r);
            return 0;
        },
        &heard);
    sd_bus_match_signal(
        watcher.bus, &propsSlot, service.c_str(), "/MenuBar", "com.canonical.dbusmenu", "ItemsPropertiesUpdated",
        [](sd_bus_message* m, void* userdata, sd_bus_error*) {
            sd_bus_message_enter_container(m, 'a', "(ia{sv})");
            while (sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
                int id = 0;
                sd_bus_message_read(m, "i", &id);
                sd_bus_message_skip(m, "a{sv}");
                sd_bus_message_exit_container(m);
                static_cast<Heard*>(userdata)->updatedIds.push_back(id);
            }
            return 0;
        },
        &heard);
    colour->state = NSControlStateValueOff;
    sub->itemArray()[0]->state = NSControlStateValueOn;
    ASSERT_TRUE(waitFor([&] { return !heard.revisions.empty() && heard.updatedIds.size() >= 2; }));
    EXPECT_GT(heard.revisions.back(), revision);
    EXPECT_NE(std::find(heard.updatedIds.begin(), heard.updatedIds.end(), ids["Ultramarine"]), heard.updatedIds.end());
    layout = watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                          [](sd_bus_message* m) { sd_bus_message_append(m, "iias", 0, -1, 0); });
    ASSERT_TRUE(layout);
    std::uint32_t newRevision = 0;
    sd_bus_message_read(layout, "u", &newRevision);
    lines.clear();
    readNode(layout, 0, lines, ids);
    sd_bus_message_unref(layout);
    EXPECT_EQ(newRevision, heard.revisions.back());
    EXPECT_EQ(lines[3], "  Ultramarine icon-data=png");
    EXPECT_EQ(lines[5], "    CSS Hex toggle-type=checkmark toggle-state=1");
    // Nothing changed, nothing said (two calls answered: the item has looked again in between).
    const std::size_t said = heard.revisions.size();
    for (int i = 0; i < 2; ++i)
        sd_bus_message_unref(watcher.call(*this, service, "/MenuBar", "com.canonical.dbusmenu", "AboutToShow",
                                          [](sd_bus_message* m) { sd_bus_message_append(m, "i", 0); }));
    EXPECT_EQ(heard.revisions.size(), said);
    sd_bus_slot_unref(layoutSlot);
    sd_bus_slot_unref(propsSlot);

    // The panel says where it clicked the item: the item is there, on the panel's band.
    const double H = screen->height_in_pixels;
    reply = watcher.call(*this, service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                         [](sd_bus_message* m) { sd_bus_message_append(m, "ii", 1000, 12); });
    ASSERT_TRUE(reply);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(item->frame().contains({1000, H - 12})) << item->frame().minX() << "," << item->frame().minY();
    EXPECT_EQ(backend->xWindowFor(item->button()->window()->windowNumber()), 0u);
    NSStatusBar::systemStatusBar().removeStatusItem(item);
}

// The panel's part in the older way: a system tray manager on a connection of
// its own that owns the selection, takes dock requests and embeds the icon.
struct FakeTray {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t panel = 0;
    xcb_atom_t selection = 0, opcode = 0, manager = 0, xembedInfo = 0;
    xcb_window_t icon = 0;
    int requests = 0;
    std::vector<std::uint32_t> sizeHints, xembed;
    static constexpr int kX = 900, kY = 0;  // the panel along the top of the screen

    xcb_atom_t atom(const std::string& name) {
        auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name.c_str()), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }
    std::vector<std::uint32_t> property(xcb_window_t w, xcb_atom_t name) {
        auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, XCB_ATOM_ANY, 0, 64), nullptr);
        std::vector<std::uint32_t> out;
        if (r && r->format == 32) {
            const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
            out.assign(v, v + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
        return out;
    }
    // Takes the selection and tells the screen, as a starting tray does. False when another tray holds it.
    bool start() {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) return false;
        screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        selection = atom(::X11Display::traySelectionName(0));
        opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
        manager = atom("MANAGER");
        xembedInfo = atom("_XEMBED_INFO");
        auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        const bool taken = owner && owner->owner != XCB_NONE;
        std::free(owner);
        if (taken) return false;
        panel = xcb_generate_id(c);
        const std::uint32_t values[] = {0x203040, 1, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, panel, screen->root, kX, kY, 200, 30, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, panel);
        xcb_set_selection_owner(c, panel, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = screen->root;
        m.type = manager;
        m.data.data32[0] = XCB_CURRENT_TIME;
        m.data.data32[1] = selection;
        m.data.data32[2] = panel;
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&m));
        return running(c);  // a round trip: the server holds all of it before the test goes on
    }
    // Whether some tray owns the selection of screen 0.
    static bool running(xcb_connection_t* conn) {
        const std::string name = ::X11Display::traySelectionName(0);
        auto* a = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, name.size(), name.c_str()), nullptr);
        const xcb_atom_t sel = a ? a->atom : 0;
        std::free(a);
        auto* owner = xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, sel), nullptr);
        const bool taken = owner && owner->owner != XCB_NONE;
        std::free(owner);
        return taken;
    }
    void process() {
        while (auto* e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                if (m->type == opcode && m->data.data32[1] == ::X11Display::kSystemTrayRequestDock) {
                    ++requests;
                    icon = m->data.data32[2];
                    sizeHints = property(icon, XCB_ATOM_WM_NORMAL_HINTS);
                    xembed = property(icon, xembedInfo);
                    // Embedding: into the panel, kept alive by the save set, mapped as _XEMBED_INFO asks.
                    xcb_change_save_set(c, XCB_SET_MODE_INSERT, icon);
                    xcb_reparent_window(c, icon, panel, 4, 3);
                    const std::uint32_t size[] = {sizeHints.size() > 6 ? sizeHints[5] : 1,
                                                  sizeHints.size() > 6 ? sizeHints[6] : 1};
                    xcb_configure_window(c, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                    if (xembed.size() == 2 && (xembed[1] & ::X11Display::kXEmbedMapped)) xcb_map_window(c, icon);
                    xcb_flush(c);
                }
            }
            std::free(e);
        }
    }
    ~FakeTray() {
        if (c) xcb_disconnect(c);
    }
};

class X11Tray : public X11Display {
protected:
    void SetUp() override {
        X11Display::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // A watcher on the bus would take the item first.
        sd_bus* bus = nullptr;
        int hasWatcher = 0;
        if (sd_bus_open_user(&bus) >= 0) {
            sd_bus_message* reply = nullptr;
            if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                   "NameHasOwner", nullptr, &reply, "s", "org.kde.StatusNotifierWatcher") >= 0)
                sd_bus_message_read(reply, "b", &hasWatcher);
            sd_bus_message_unref(reply);
            sd_bus_flush_close_unref(bus);
        }
        if (hasWatcher) GTEST_SKIP() << "a panel's watcher is on this bus";
        pump = [this] {
            for (auto& t : trays)
                if (t) t->process();
        };
    }
    std::unique_ptr<FakeTray>& startTray() {
        auto tray = std::make_unique<FakeTray>();
        if (!tray->start()) tray.reset();
        trays.push_back(std::move(tray));
        return trays.back();
    }
    xcb_window_t parentOf(xcb_window_t w) {
        auto* t = xcb_query_tree_reply(other, xcb_query_tree(other, w), nullptr);
        const xcb_window_t parent = t ? t->parent : 0;
        std::free(t);
        return parent;
    }
    bool viewable(xcb_window_t w) {
        auto* a = xcb_get_window_attributes_reply(other, xcb_get_window_attributes(other, w), nullptr);
        const bool v = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return v;
    }
    bool docked(FakeTray& tray) {
        const xcb_window_t icon = backend->trayIconWindow();
        return icon && tray.icon == icon && parentOf(icon) == tray.panel && viewable(icon);
    }
    static std::shared_ptr<NSImage> filled(int side, double r, double g, double b) {
        auto bitmap = std::make_shared<CoreGraphics::Image>(side, side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) bitmap->setPixel(x, y, {r, g, b, 1});
        return std::make_shared<NSImage>(bitmap);
    }
    void click(int x, int y) {
        xcb_flush(other);  // an ungrab still queued here would take the click
        Child xdotool({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
        ASSERT_TRUE(waitFor([&] { return xdotool.finished(); }));
    }
    std::vector<std::unique_ptr<FakeTray>> trays;
};

TEST_F(X11Tray, TheIconDocksWithItsSizeHintAndItsOwnMenuWindowChoosesInTheModel) {
    if (!programAvailable("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    auto& tray = startTray();
    if (!tray) GTEST_SKIP() << "a system tray runs on this display";
    int picks = 0, copies = 0;
    auto menu = std::make_shared<NSMenu>("Status");
    auto pick = NSMenuItem::make(
        "Pick Color", [&](NSMenuItem&) { ++picks; }, "o");
    menu->addItem(pick);
    menu->addItem(NSMenuItem::separatorItem());
    auto colour = NSMenuItem::make("Ultramarine", [&](NSMenuItem&) { ++copies; });
    colour->image = filled(8, 0x41 / 255.0, 0x66 / 255.0, 0xF5 / 255.0);
    colour->state = NSControlStateValueOn;
    menu->addItem(colour);
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(-1);
    item->menu = menu;
    item->button()->setImage(filled(16, 1, 0, 0));

    ASSERT_TRUE(waitFor([&] { return docked(*tray); })) << backend->statusItemProblem();
    EXPECT_TRUE(backend->statusItemProblem().empty());
    EXPECT_EQ(tray->requests, 1);
    ASSERT_EQ(tray->sizeHints.size(), 18u);
    EXPECT_TRUE(tray->sizeHints[0] & ::X11Display::kSizeHintMinSize);
    EXPECT_EQ(tray->sizeHints[5], 20u);
    EXPECT_EQ(tray->sizeHints[6], 20u);
    EXPECT_EQ(tray->xembed, (std::vector<std::uint32_t>{0, ::X11Display::kXEmbedMapped}));

    // The status item's image, drawn into the icon where the panel put it.
    const int iconX = FakeTray::kX + 4, iconY = FakeTray::kY + 3;
    ASSERT_TRUE(waitFor([&] {
        auto img = backend->captureScreen(CGRectMake(iconX + 10, iconY + 10, 1, 1), 0);
        return img && rgb(img->pixel(0, 0)) == 0xff0000;
    }));

    // A click on the icon opens the model's menu in a window of ours, under the icon.
    click(iconX + 10, iconY + 10);
    ASSERT_TRUE(waitFor([&] {
        auto w = menu->menuWindow();
        return menu->isOpen() && w && backend->xWindowFor(w->windowNumber()) != 0;
    }));
    auto window = menu->menuWindow();
    const xcb_window_t menuX = backend->xWindowFor(window->windowNumber());
    auto* t =
        xcb_translate_coordinates_reply(other, xcb_translate_coordinates(other, menuX, screen->root, 0, 0), nullptr);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->dst_x, iconX);
    EXPECT_EQ(t->dst_y, iconY + 20);
    std::free(t);
    // The items drawn are the model's: the swatch shows in the colour's row.
    const CGRect row = menu->rectOfItemAtIndex(2);
    const double menuTop = iconY + 20, menuHeight = window->frame().height();
    const double rowY = menuTop + menuHeight - row.midY();
    EXPECT_TRUE(waitFor([&] {
        auto img = backend->captureScreen(CGRectMake(iconX, rowY, row.width(), 1), 0);
        if (!img) return false;
        for (int x = 0; x < img->width(); ++x)
            if (rgb(img->pixel(x, 0)) == 0x4166F5) return true;
        return false;
    }));

    // A click on an item arrives at the model: the menu closes, then its action runs.
    click(iconX + static_cast<int>(row.midX()), static_cast<int>(rowY));
    EXPECT_TRUE(
        waitFor([&] { return copies == 1 && !menu->isOpen() && backend->xWindowFor(window->windowNumber()) == 0; }));
    EXPECT_EQ(picks, 0);

    // Open again; a click outside every window of ours closes it without a choice
    // and lets the pointer go.
    click(iconX + 10, iconY + 10);
    ASSERT_TRUE(waitFor([&] { return menu->isOpen(); }));
    click(300, 500);
    EXPECT_TRUE(waitFor([&] { return !menu->isOpen(); }));
    EXPECT_EQ(copies + picks, 1);
    auto* grab = xcb_grab_pointer_reply(other,
                                        xcb_grab_pointer(other, 0, screen->root, 0, XCB_GRAB_MODE_ASYNC,
                                                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                        nullptr);
    ASSERT_TRUE(grab);
    EXPECT_EQ(grab->status, XCB_GRAB_STATUS_SUCCESS);
    std::free(grab);
    xcb_ungrab_pointer(other, XCB_CURRENT_TIME);
    // Escape closes it too: the keys come to us while it is open.
    click(iconX + 10, iconY + 10);
    ASSERT_TRUE(waitFor([&] { return menu->isOpen(); }));
    Child escape({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitFor([&] { return escape.finished() && !menu->isOpen(); }));
    EXPECT_EQ(copies + picks, 1);

    NSStatusBar::systemStatusBar().removeStatusItem(item);
    EXPECT_EQ(backend->trayIconWindow(), 0u);
}

TEST_F(X11Tray, TheIconFollowsATrayThatStartsLaterAndDocksAgainAfterARestart) {
    if (FakeTray::running(other)) GTEST_SKIP() << "a system tray runs on this display";
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(-1);
    item->button()->setImage(filled(16, 0, 0.5, 0));
    EXPECT_EQ(backend->trayIconWindow(), 0u);
    EXPECT_NE(backend->statusItemProblem().find("and no system tray"), std::string::npos)
        << backend->statusItemProblem();

    auto& first = startTray();
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitFor([&] { return docked(*first); }));
    EXPECT_TRUE(backend->statusItemProblem().empty());
    const xcb_window_t icon = backend->trayIconWindow();

    // The tray ends: the icon does not stay behind on the screen.
    first.reset();
    ASSERT_TRUE(waitFor([&] { return backend->trayIconWindow() == 0 && !viewable(icon); }));

    auto& second = startTray();
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitFor([&] { return docked(*second); }));
    EXPECT_EQ(backend->trayIconWindow(), icon);
    EXPECT_EQ(second->requests, 1);
    NSStatusBar::systemStatusBar().removeStatusItem(item);
}

TEST_F(X11Display, WithoutAStatusAreaOneClearLine) {
    if (FakeTray::running(other)) GTEST_SKIP() << "a system tray runs on this display";
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(-1);
    backend->statusItemChanged(*item);
    if (!backend->statusItemService().empty()) GTEST_SKIP() << "a panel's watcher is on this bus";
    const std::string problem = backend->statusItemProblem();
    EXPECT_TRUE(problem ==
                    "Vexil: no status area on the panel (no StatusNotifierWatcher) and no system tray; use the "
                    "global shortcuts to pick colours." ||
                problem == "Vexil: no session bus and no system tray; use the global shortcuts to pick colours.")
        << problem;
    NSStatusBar::systemStatusBar().removeStatusItem(item);
}

// --- living with a window manager, real panels and several monitors ---

xcb_atom_t atomOf(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

std::string propertyText(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name) {
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, XCB_ATOM_ANY, 0, 256), nullptr);
    std::string out;
    if (r) out.assign(static_cast<const char*>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
    std::free(r);
    return out;
}

struct RootPlace {
    int x = 0, y = 0, width = 0, height = 0;
};
RootPlace placeOf(xcb_connection_t* c, xcb_window_t w, xcb_window_t root) {
    RootPlace p;
    auto* t = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr);
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    if (t && g) p = {t->dst_x, t->dst_y, g->width, g->height};
    std::free(t);
    std::free(g);
    return p;
}

TEST_F(X11Display, UnderAWindowManagerAClickOnAControlOfAMovedWindowReachesIt) {
    if (!programAvailable("openbox") || !programAvailable("xdotool")) GTEST_SKIP() << "openbox or xdotool missing";
    std::unique_ptr<Child> openbox;
    if (!backend->windowManagerRunning())
        openbox = std::make_unique<Child>(std::vector<std::string>{"openbox", "--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return backend->windowManagerRunning(); }));
    // A manager announces itself before it has finished starting, and a map
    // request that comes meanwhile can go unanswered: a window of the test's
    // own is framed first, mapped again until it is.
    if (openbox) {
        const xcb_window_t probe = xcb_generate_id(other);
        xcb_create_window(other, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        bool framed = false;
        for (int attempt = 0; attempt < 10 && !framed; ++attempt) {
            xcb_map_window(other, probe);
            xcb_flush(other);
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            while (!framed && std::chrono::steady_clock::now() < until) {
                Foundation::RunLoop::main().runFor(0.005);
                auto* t = xcb_query_tree_reply(other, xcb_query_tree(other, probe), nullptr);
                framed = t && t->parent != screen->root;
                std::free(t);
            }
        }
        xcb_destroy_window(other, probe);
        xcb_flush(other);
        ASSERT_TRUE(framed) << "openbox never framed a window";
    }
    const double H = screen->height_in_pixels;

    auto w = NSWindow::make(CGRectMake(200, 300, 320, 200), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
    w->title = "Préférences";
    w->releasedWhenClosed = false;
    int presses = 0;
    auto button = NSView::make<NSButton>(CGRectMake(150, 40, 100, 40));
    button->action = [&](NSControl&) { ++presses; };
    w->contentView()->addSubview(button);
    w->orderFront();
    windows.push_back(w);

    xcb_window_t id = 0;
    auto managed = [&] {
        id = backend->xWindowFor(w->windowNumber());
        if (!id) return false;
        auto* t = xcb_query_tree_reply(other, xcb_query_tree(other, id), nullptr);
        const bool framed = t && t->parent != screen->root;
        std::free(t);
        return framed;
    };
    ASSERT_TRUE(waitFor(managed));
    // The manager draws the title bar: our window is the content alone, with the hints it reads.
    EXPECT_EQ(w->frame().height(), 200 + 22);
    EXPECT_EQ(placeOf(other, id, screen->root).height, 200);
    EXPECT_EQ(propertyText(other, id, XCB_ATOM_WM_CLASS), std::string("vexil\0Vexil\0", 12));
    EXPECT_EQ(propertyText(other, id, atomOf(other, "_NET_WM_NAME")), "Préférences");
    const std::string type = propertyText(other, id, atomOf(other, "_NET_WM_WINDOW_TYPE"));
    const xcb_atom_t normal = atomOf(other, "_NET_WM_WINDOW_TYPE_NORMAL");
    EXPECT_EQ(type, std::string(reinterpret_cast<const char*>(&normal), 4));

    // The manager moves it (as a user dragging its title bar would): the model follows.
    Child move({"xdotool", "windowmove", "--sync", std::to_string(id), "611", "333"});
    RootPlace real;
    ASSERT_TRUE(waitFor([&] {
        real = placeOf(other, id, screen->root);
        return move.finished() && real.x != 200 && w->frame().minX() == real.x &&
               w->frame().minY() == H - real.y - real.height;
    })) << real.x
        << "," << real.y << " model " << w->frame().minX() << "," << w->frame().minY();
    EXPECT_EQ(w->frame().height(), real.height + 22);

    // A click on the button where it really is reaches it.
    const int cx = real.x + 200, cy = real.y + real.height - 60;
    Child click({"xdotool", "mousemove", "--sync", std::to_string(cx), std::to_string(cy), "click", "1"});
    EXPECT_TRUE(waitFor([&] { return click.finished() && presses == 1; })) << presses;

    // The manager's close button asks through WM_DELETE_WINDOW.
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = id;
    m.type = atomOf(other, "WM_PROTOCOLS");
    m.data.data32[0] = atomOf(other, "WM_DELETE_WINDOW");
    xcb_send_event(other, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
    EXPECT_TRUE(waitFor([&] { return !w->isVisible(); }));
    if (openbox) {
        openbox.reset();
        EXPECT_TRUE(waitFor([&] { return !backend->windowManagerRunning(); }));
    }
}

TEST_F(X11Display, ScreensAreTheMonitorsLessThePanelsOnEach) {
    if (!programAvailable("xrandr") || !programAvailable("xdotool")) GTEST_SKIP() << "xrandr or xdotool missing";
    const int W = screen->width_in_pixels, H = screen->height_in_pixels;
    const std::string half = std::to_string(W / 2);
    // The left one takes the output's place (its own monitor steps aside), as a user splitting a wide screen does.
    Child list({"xrandr", "--listmonitors"});
    ASSERT_TRUE(waitFor([&] { return list.finished(); }));
    const std::string firstLine = list.output.substr(0, list.output.find('\n', list.output.find('\n') + 1));
    const std::string output = firstLine.substr(firstLine.find_last_of(' ') + 1);
    // Whatever happens below, the display gets its own monitors back for the tests that follow.
    struct Undo {
        X11Display* test;
        ~Undo() {
            Child left({"xrandr", "--delmonitor", "vexil-left"});
            Child right({"xrandr", "--delmonitor", "vexil-right"});
            test->waitForAnswer([&] { return left.finished() && right.finished() && NSScreen::screens().size() == 1; });
        }
    } undo{this};
    Child left({"xrandr", "--setmonitor", "vexil-left", half + "/1x" + std::to_string(H) + "/1+0+0", output});
    ASSERT_TRUE(waitFor([&] { return left.finished(); }));
    Child right(
        {"xrandr", "--setmonitor", "vexil-right", half + "/1x" + std::to_string(H) + "/1+" + half + "+0", "none"});
    ASSERT_TRUE(waitFor([&] { return right.finished(); }));
    ASSERT_TRUE(waitFor([&] { return NSScreen::screens().size() == 2; })) << NSScreen::screens().size();

    // A panel 30 high along the bottom of the right monitor only.
    const xcb_window_t panel = xcb_generate_id(other);
    const std::uint32_t values[] = {1};
    xcb_create_window(other, XCB_COPY_FROM_PARENT, panel, screen->root, W / 2, H - 30, W / 2, 30, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
    const std::uint32_t strut[] = {
        0, 0, 0, 30, 0, 0, 0, 0, 0, 0, static_cast<std::uint32_t>(W / 2), static_cast<std::uint32_t>(W - 1)};
    xcb_change_property(other, XCB_PROP_MODE_REPLACE, panel, atomOf(other, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL,
                        32, 12, strut);
    xcb_map_window(other, panel);
    ASSERT_TRUE(waitFor([&] {
        auto s = NSScreen::screens();
        return s.size() == 2 && s[1]->visibleFrame().minY() == 30;
    }));
    auto screens = NSScreen::screens();
    EXPECT_EQ(screens[0]->frame(), CGRectMake(0, 0, W / 2, H));
    EXPECT_EQ(screens[1]->frame(), CGRectMake(W / 2, 0, W / 2, H));
    EXPECT_EQ(screens[0]->visibleFrame(), screens[0]->frame());  // no bar of ours, no panel there
    EXPECT_EQ(screens[1]->visibleFrame(), CGRectMake(W / 2, 30, W / 2, H - 30));

    // Without a status item on a panel, the main screen is the pointer's.
    for (const int x : {W / 4, 3 * W / 4}) {
        Child pointer({"xdotool", "mousemove", "--sync", std::to_string(x), "100"});
        ASSERT_TRUE(waitFor([&] { return pointer.finished(); }));
        EXPECT_EQ(NSScreen::mainScreen()->frame().minX(), x < W / 2 ? 0 : W / 2);
    }
    xcb_destroy_window(other, panel);
}

TEST_F(X11Tray, OnARealTrayTheItemIsInThePanelAndOurWindowsKeepOffIt) {
    if (!programAvailable("trayer")) GTEST_SKIP() << "trayer is not installed";
    if (FakeTray::running(other)) GTEST_SKIP() << "a system tray runs on this display";
    const double H = screen->height_in_pixels;
    for (const std::string edge : {"bottom", "top"}) {
        SCOPED_TRACE(edge);
        // A session of its own per panel, as a fresh start of the program.
        setDisplayBackend(std::make_shared<HeadlessBackend>());
        backend = X11Backend::open("");
        ASSERT_TRUE(backend);
        setDisplayBackend(backend);
        Child trayer({"trayer", "--edge", edge, "--align", "right", "--widthtype", "request", "--height", "30",
                      "--SetDockType", "true", "--SetPartialStrut", "true", "--transparent", "false"});
        ASSERT_TRUE(waitFor([&] { return FakeTray::running(other); }));
        auto menu = std::make_shared<NSMenu>("Status");
        menu->addItem(NSMenuItem::make("Pick Color"));
        auto item = NSStatusBar::systemStatusBar().statusItemWithLength(-1);
        item->menu = menu;
        item->button()->setImage(filled(16, 0.12, 0.12, 0.12));
        ASSERT_TRUE(waitFor([&] {
            const xcb_window_t icon = backend->trayIconWindow();
            return icon && parentOf(icon) != screen->root && viewable(icon) &&
                   NSScreen::screens()[0]->visibleFrame().height() <= H - 30;
        })) << backend->statusItemProblem();
        // The model's own strip is never on the screen; the item is where the panel shows the icon.
        EXPECT_EQ(backend->xWindowFor(item->button()->window()->windowNumber()), 0u);
        const RootPlace icon = placeOf(other, backend->trayIconWindow(), screen->root);
        EXPECT_EQ(item->frame(), CGRectMake(icon.x, H - icon.y - icon.height, icon.width, icon.height));
        const CGRect visible = NSScreen::screens()[0]->visibleFrame();
        EXPECT_EQ(visible.height(), H - 30);
        EXPECT_EQ(visible.minY(), edge == "bottom" ? 30 : 0);
        // The menu opens on the screen's side of the icon, clear of the panel.
        item->click();
        ASSERT_TRUE(waitFor([&] {
            auto w = menu->menuWindow();
            return menu->isOpen() && w && backend->xWindowFor(w->windowNumber());
        }));
        const CGRect m = menu->menuWindow()->frame();
        if (edge == "bottom")
            EXPECT_GE(m.minY(), item->frame().maxY());
        else
            EXPECT_LE(m.maxY(), item->frame().minY());
        EXPECT_GE(m.minY(), visible.minY());
        EXPECT_LE(m.maxY(), visible.maxY());
        menu->cancelTracking();
        NSStatusBar::systemStatusBar().removeStatusItem(item);
    }
}

}  // namespace
