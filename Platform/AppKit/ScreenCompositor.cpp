#include "Platform/AppKit/ScreenCompositor.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/CoreGraphics/Cairo.h"

namespace AppKit {
namespace {

constexpr RGBA kMenuBarColor{0.96, 0.96, 0.96, 0.88};
constexpr RGBA kMenuBarEdge{0, 0, 0, 0.18};

// A soft shadow below and around a window: a few widening translucent outlines.
void drawShadow(CoreGraphics::CairoContext& ctx, CGRect frame, double alpha) {
    constexpr int kSteps = 6;
    for (int i = kSteps; i >= 1; --i) {
        const CGRect r = CoreGraphics::CGRectOffset(CoreGraphics::CGRectInset(frame, -i, -i), 0, -3);
        ctx.fillRoundedRect(r, i + 2.0, RGBA{0, 0, 0, 0.035 * alpha});
    }
}

void drawWindow(CoreGraphics::CairoContext& ctx, NSWindow& window) {
    const CGRect frame = window.frame();
    const double alpha = std::clamp(window.alphaValue(), 0.0, 1.0);
    if (frame.isEmpty() || alpha <= 0) return;
    if (window.hasShadow) drawShadow(ctx, frame, alpha);
    ctx.save();
    ctx.translate(frame.origin.x, frame.origin.y);
    ctx.clipToRect(CGRectMake(0, 0, frame.width(), frame.height()));
    // The window fades as one picture: its overlapping parts do not show through each other.
    cairo_t* cr = ctx.cairo();
    cairo_push_group(cr);
    window.draw(ctx);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
    ctx.restore();
}

}  // namespace

CoreGraphics::Image renderScreen(const ScreenRenderOptions& options) {
    const auto screens = NSScreen::screens();
    if (options.screen >= screens.size()) return {};
    const CGRect region = options.region.value_or(screens[options.screen]->frame());
    const int width = static_cast<int>(std::lround(region.width()));
    const int height = static_cast<int>(std::lround(region.height()));
    if (width <= 0 || height <= 0) return {};

    CoreGraphics::ImageContext ctx(width, height);
    ctx.translate(-region.origin.x, -region.origin.y);  // model coordinates from here on

    for (const auto& screen : screens) {
        const CGRect frame = screen->frame();
        if (CoreGraphics::CGRectIntersection(frame, region).isEmpty()) continue;
        const auto& picture = options.desktopPicture;
        if (picture && !picture->empty()) {
            const bool exact =
                picture->width() == std::lround(frame.width()) && picture->height() == std::lround(frame.height());
            ctx.fillRect(frame, kDesktopColor);  // under a picture with transparent parts
            ctx.drawImage(*picture, frame, !exact);
        } else {
            ctx.fillRect(frame, kDesktopColor);
        }
    }

    const CGRect bar = NSStatusBar::systemStatusBar().barFrame();
    if (!bar.isEmpty()) {
        ctx.fillRect(bar, kMenuBarColor);
        ctx.fillRect(CGRectMake(bar.minX(), bar.minY(), bar.width(), 1), kMenuBarEdge);
    }

    for (const auto& window : NSApplication::shared().windowsInScreenOrder()) {
        if (!window) continue;
        if (options.belowWindowNumber != 0 && window->windowNumber() == options.belowWindowNumber) break;
        drawWindow(ctx, *window);
    }
    return ctx.image();
}

bool writeScreenPNG(const std::string& path, const ScreenRenderOptions& options) {
    const CoreGraphics::Image image = renderScreen(options);
    return !image.empty() && image.writePNG(path);
}

}  // namespace AppKit
