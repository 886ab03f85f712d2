// Against a real X server: each case waits for a condition with a bounded
// timeout, never a fixed sleep.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSWindow.h"
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

    // Pumps the backend until `done` holds or 5 s pass.
    bool waitFor(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (true) {
            backend->processPendingEvents();
            xcb_flush(other);
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            pollfd fd{xcb_get_file_descriptor(other), POLLIN, 0};
            poll(&fd, 1, 10);  // wakes early for X traffic; the condition is checked again either way
            while (auto* e = xcb_poll_for_event(other)) std::free(e);
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
    static std::uint32_t patternAt(int x, int y) { return (static_cast<std::uint32_t>(x & 0xff) << 16) | ((y & 0xff) << 8) | ((x + y) & 0xff); }
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
};

TEST_F(X11Display, WindowMapsAtTheModelsPositionWithTheModelsPixels) {
    const double H = screen->height_in_pixels;
    auto w = show(CGRectMake(100, 200, 60, 40), 1, 0, 0);
    // X's y runs down from the top: the window's top edge is at H - (200 + 40).
    ASSERT_TRUE(waitFor([&] {
        const xcb_window_t id = backend->xWindowFor(w->windowNumber());
        if (!id) return false;
        auto* t = xcb_translate_coordinates_reply(other, xcb_translate_coordinates(other, id, screen->root, 0, 0), nullptr);
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
    struct Corner { int x, y; };
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
    xcb_generic_error_t* e = xcb_request_check(other, xcb_grab_key_checked(other, 1, screen->root, controlSuper, codes[0],
                                                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(e, nullptr);
    auto result = HotKeyBinder::shared().registerHotKey(34, NSEventModifierFlagControl | NSEventModifierFlagCommand, [] {});
    EXPECT_FALSE(result.id);
    EXPECT_FALSE(result.error.empty());
    // Another combination is still had.
    auto free = HotKeyBinder::shared().registerHotKey(34, NSEventModifierFlagControl | NSEventModifierFlagOption, [] {});
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

}  // namespace
