// The picker's two costs per frame on a real X display (run under
// `xvfb-run -a -s "-screen 0 1280x800x24"`), each against the 16 ms budget of
// a 60 Hz frame:
// - capture_11x11: the screen source reading the 11x11 pixels under the
//   pointer (MIT-SHM), beside the core protocol's GetImage of the same
//   region; both must give the same pixels first.
// - magnifier_frame: that capture enlarged into a round 165x165 window and put
//   on screen through the backend (cairo-xcb, then a round trip so the server
//   has drawn it), beside the same drawing into a memory image (no X); the
//   window read back must show the memory image's pixels.
// Counters: budget_ratio = our time per frame / 16 ms (aim: below 0.1);
// time_ratio = ours / the reference's (the reference does less work in the
// frame case: it never reaches the server, which favours it).

#include <xcb/xcb.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSView.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/CoreGraphics/Cairo.h"
#include "Platform/QuartzCore/CALayer.h"
#include "Platform/X11/X11Backend.h"
#include "bench/support/SideBySide.h"

namespace {

using namespace AppKit;

constexpr double kFrameBudget = 0.016;
constexpr int kGrid = 11, kZoom = 15, kSide = kGrid * kZoom;
bool gFailed = false;
std::shared_ptr<X11Display::X11Backend> gBackend;
xcb_connection_t* gOther = nullptr;
xcb_screen_t* gScreen = nullptr;

std::uint32_t patternAt(int x, int y) {
    return (static_cast<std::uint32_t>(x & 0xff) << 16) | ((y & 0xff) << 8) | ((x * 3 + y) & 0xff);
}

// A pattern over the whole screen in a window of another client.
void showPattern() {
    const int w = gScreen->width_in_pixels, h = gScreen->height_in_pixels;
    const xcb_window_t win = xcb_generate_id(gOther);
    const std::uint32_t values[] = {1};
    xcb_create_window(gOther, XCB_COPY_FROM_PARENT, win, gScreen->root, 0, 0, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      gScreen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(gOther, win);
    const xcb_gcontext_t gc = xcb_generate_id(gOther);
    xcb_create_gc(gOther, gc, win, 0, nullptr);
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(w) * 16);
    for (int y0 = 0; y0 < h; y0 += 16) {
        const int n = std::min(16, h - y0);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < w; ++x) rows[static_cast<std::size_t>(y) * w + x] = patternAt(x, y0 + y);
        xcb_put_image(gOther, XCB_IMAGE_FORMAT_Z_PIXMAP, win, gc, w, n, 0, y0, 0, 24,
                      static_cast<std::uint32_t>(w * n * 4), reinterpret_cast<const std::uint8_t*>(rows.data()));
    }
    std::free(xcb_get_input_focus_reply(gOther, xcb_get_input_focus(gOther), nullptr));
}

void roundTrip(xcb_connection_t* c) { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

std::uint32_t rgb(const CoreGraphics::RGBA& p) {
    auto c = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 255)); };
    return (c(p.r) << 16) | (c(p.g) << 8) | c(p.b);
}

std::vector<std::uint32_t> coreGetImage(int x, int y) {
    auto* r = xcb_get_image_reply(
        gOther, xcb_get_image(gOther, XCB_IMAGE_FORMAT_Z_PIXMAP, gScreen->root, x, y, kGrid, kGrid, ~0u), nullptr);
    std::vector<std::uint32_t> out;
    if (r) {
        const auto* px = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(r));
        for (int i = 0; i < kGrid * kGrid; ++i) out.push_back(px[i] & 0xffffff);
        std::free(r);
    }
    return out;
}

template <class F>
double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void reportBudget(benchmark::State& state, double oursSeconds) {
    if (state.iterations() > 0)
        state.counters["budget_ratio"] =
            benchmark::Counter(oursSeconds / static_cast<double>(state.iterations()) / kFrameBudget);
}

void capture11x11(benchmark::State& state) {
    const CGRect rect = CGRectMake(400, 300, kGrid, kGrid);
    auto first = gBackend->captureScreen(rect, 0);
    const auto reference = coreGetImage(400, 300);
    if (!first || reference.size() != static_cast<std::size_t>(kGrid * kGrid)) {
        state.SkipWithError("the screen cannot be read");
        gFailed = true;
        return;
    }
    for (int i = 0; i < kGrid * kGrid; ++i)
        if (rgb(first->pixel(i % kGrid, i / kGrid)) != reference[static_cast<std::size_t>(i)]) {
            state.SkipWithError("the two captures differ");
            gFailed = true;
            return;
        }
    bench::SideBySide sides(state);
    std::size_t sink = 0;
    double ours = 0;
    for (auto _ : state)
        sides.iteration([&] { ours += timed([&] { sink += gBackend->captureScreen(rect, 0)->bytes().size(); }); },
                        [&] { sink += coreGetImage(400, 300).size(); });
    benchmark::DoNotOptimize(sink);
    sides.report(1, "core_get_image", true);
    reportBudget(state, ours);
}

// The enlarged pixels, as the magnifier shows them.
class Loupe : public NSView {
public:
    using NSView::NSView;
    std::shared_ptr<CoreGraphics::Image> pixels;
    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override {
        if (pixels) ctx.drawImage(*pixels, CGRectMake(0, 0, kSide, kSide), false);
    }
};

void magnifierFrame(benchmark::State& state) {
    const double H = gScreen->height_in_pixels;
    auto window = NSWindow::make(CGRectMake(600, H - 200 - kSide, kSide, kSide), NSWindowStyleMaskBorderless);
    auto loupe = NSView::make<Loupe>(CGRectMake(0, 0, kSide, kSide));
    loupe->setWantsLayer(true);
    loupe->layer()->cornerRadius = kSide / 2.0;
    window->setContentView(loupe);
    const CGRect rect = CGRectMake(400, 300, kGrid, kGrid);
    loupe->pixels = gBackend->captureScreen(rect, 0);
    window->orderFront();
    auto frame = [&] {
        loupe->pixels = gBackend->captureScreen(rect, window->windowNumber());
        loupe->setNeedsDisplay(true);
        gBackend->processPendingEvents();
        roundTrip(gOther);
    };
    CoreGraphics::ImageContext memory(kSide, kSide);
    auto reference = [&] { window->draw(memory); };
    frame();
    reference();
    // The window on screen shows what the memory drawing holds (its centre, inside the circle).
    const auto shown = gBackend->captureScreen(CGRectMake(600 + kSide / 2, 200 + kSide / 2, 1, 1), 0);
    const auto drawn = memory.image();
    if (!shown || rgb(shown->pixel(0, 0)) != rgb(drawn.pixel(kSide / 2, kSide / 2)) ||
        rgb(drawn.pixel(kSide / 2, kSide / 2)) != patternAt(405, 305)) {
        state.SkipWithError("the window does not show the magnified pixels");
        gFailed = true;
        window->close();
        return;
    }
    bench::SideBySide sides(state);
    double ours = 0;
    for (auto _ : state) sides.iteration([&] { ours += timed(frame); }, reference);
    sides.report(1, "memory_drawing", true);
    reportBudget(state, ours);
    window->close();
    gBackend->processPendingEvents();
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--benchmark_", 0) != 0 && std::string(argv[i]) != "--help") {
            std::fprintf(stderr,
                         "%s: unrecognized argument '%s' (only --benchmark_... flags are understood; see --help)\n",
                         argv[0], argv[i]);
            return 2;
        }
    std::string error;
    gBackend = X11Display::X11Backend::open("", &error);
    if (!gBackend) {
        std::fprintf(stderr, "%s: needs an X display (%s); run it under xvfb-run -a -s \"-screen 0 1280x800x24\"\n",
                     argv[0], error.c_str());
        return 2;
    }
    setDisplayBackend(gBackend);
    gOther = xcb_connect(nullptr, nullptr);
    gScreen = xcb_setup_roots_iterator(xcb_get_setup(gOther)).data;
    showPattern();
    benchmark::RegisterBenchmark("capture_11x11", capture11x11)->UseManualTime()->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("magnifier_frame", magnifierFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);
    const int status = bench::runBenchmarks(argc, argv, gFailed);
    gBackend.reset();
    xcb_disconnect(gOther);
    return status;
}
