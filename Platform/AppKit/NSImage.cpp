#include "Platform/AppKit/NSImage.h"

#include <cmath>
#include <map>
#include <mutex>

#include "Platform/AppKit/NSView.h"
#include "Platform/CoreGraphics/Cairo.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/QuartzCore/CALayer.h"

namespace AppKit {

NSImage::NSImage(std::shared_ptr<const CoreGraphics::Image> bitmap, CGSize size)
    : bitmap_(std::move(bitmap)), size_(size) {
    if (bitmap_ && (size_.width <= 0 || size_.height <= 0))
        size_ = {static_cast<double>(bitmap_->width()), static_cast<double>(bitmap_->height())};
}

std::shared_ptr<NSImage> NSImage::imageWithSize(CGSize size, bool flipped, DrawingHandler handler) {
    auto img = std::make_shared<NSImage>(size);
    img->flipped_ = flipped;
    img->handler_ = std::move(handler);
    return img;
}

namespace {
const RGBA kBlack{0, 0, 0, 1};

std::shared_ptr<NSImage> systemImage(const std::string& name) {
    using CoreGraphics::DrawingContext;
    NSImage::DrawingHandler draw;
    if (name == NSImageNameAddTemplate) {
        draw = [](CGRect r, DrawingContext& c) {
            c.strokeLine({r.midX(), r.minY() + 2}, {r.midX(), r.maxY() - 2}, kBlack, 2);
            c.strokeLine({r.minX() + 2, r.midY()}, {r.maxX() - 2, r.midY()}, kBlack, 2);
            return true;
        };
    } else if (name == NSImageNameRemoveTemplate) {
        draw = [](CGRect r, DrawingContext& c) {
            c.strokeLine({r.minX() + 2, r.midY()}, {r.maxX() - 2, r.midY()}, kBlack, 2);
            return true;
        };
    } else if (name == NSImageNameStopProgressTemplate) {
        draw = [](CGRect r, DrawingContext& c) {
            c.strokeLine({r.minX() + 3, r.minY() + 3}, {r.maxX() - 3, r.maxY() - 3}, kBlack, 2);
            c.strokeLine({r.minX() + 3, r.maxY() - 3}, {r.maxX() - 3, r.minY() + 3}, kBlack, 2);
            return true;
        };
    } else if (name == NSImageNameLockLockedTemplate || name == NSImageNameLockUnlockedTemplate) {
        const bool open = name == NSImageNameLockUnlockedTemplate;
        draw = [open](CGRect r, DrawingContext& c) {
            c.fillRoundedRect(CGRectMake(r.minX() + 2, r.minY() + 1, r.width() - 4, r.height() * 0.5), 1.5, kBlack);
            CGRect shackle = CGRectMake(r.minX() + 4 + (open ? 3 : 0), r.minY() + r.height() * 0.35, r.width() - 8,
                                        r.height() * 0.6);
            c.strokeRoundedRect(shackle, shackle.width() / 2, kBlack, 1.5);
            return true;
        };
    } else if (name == NSImageNameStatusNone) {
        draw = [](CGRect r, DrawingContext& c) {
            c.fillEllipse(CoreGraphics::CGRectInset(r, 2, 2), RGBA{0.6, 0.6, 0.6, 1});
            return true;
        };
        return NSImage::imageWithSize({16, 16}, false, draw);
    } else {
        return nullptr;
    }
    auto img = NSImage::imageWithSize({14, 14}, false, draw);
    img->isTemplate = true;
    return img;
}

std::mutex g_namedMutex;
std::map<std::string, std::shared_ptr<NSImage>> g_named;
}  // namespace

std::shared_ptr<NSImage> NSImage::imageNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(g_namedMutex);
    auto it = g_named.find(name);
    if (it != g_named.end()) return it->second;
    std::shared_ptr<NSImage> img;
    if (auto path = Foundation::Bundle::main().pathForResource(name, "png")) {
        if (auto bitmap = CoreGraphics::Image::readPNG(*path)) {
            img = std::make_shared<NSImage>(std::shared_ptr<const CoreGraphics::Image>(bitmap));
            // "Template" names mark template images, as the platform's asset catalogue does.
            img->isTemplate = name.size() >= 8 && name.compare(name.size() - 8, 8, "Template") == 0;
        }
    }
    if (!img) img = systemImage(name);
    if (img) img->name_ = name;
    if (img) g_named[name] = img;
    return img;
}

void NSImage::clearNamedCache() {
    std::lock_guard<std::mutex> lock(g_namedMutex);
    g_named.clear();
}

std::shared_ptr<const CoreGraphics::Image> NSImage::bitmap() const {
    if (bitmap_) return bitmap_;
    if (!handler_) return nullptr;
    const int w = static_cast<int>(std::ceil(size_.width)), h = static_cast<int>(std::ceil(size_.height));
    if (w <= 0 || h <= 0) return nullptr;
    CoreGraphics::ImageContext ctx(w, h);
    if (flipped_) {
        ctx.translate(0, size_.height);
        ctx.scale(1, -1);
    }
    handler_({{0, 0}, size_}, ctx);
    return std::make_shared<CoreGraphics::Image>(ctx.image());
}

void NSImage::drawInRect(CoreGraphics::DrawingContext& ctx, CGRect rect, double fraction, bool smooth) const {
    if (fraction <= 0) return;
    ctx.save();
    if (fraction < 1) ctx.setAlpha(fraction);
    if (bitmap_) {
        ctx.drawImage(*bitmap_, rect, smooth);
    } else if (handler_ && size_.width > 0 && size_.height > 0) {
        ctx.translate(rect.minX(), rect.minY());
        ctx.scale(rect.width() / size_.width, rect.height() / size_.height);
        if (flipped_) {
            ctx.translate(0, size_.height);
            ctx.scale(1, -1);
        }
        handler_({{0, 0}, size_}, ctx);
    }
    ctx.restore();
}

std::shared_ptr<NSImage> NSImage::tintedCopy(const NSColorRef& color) const {
    auto pixels = bitmap();
    auto out = std::make_shared<NSImage>(*this);
    out->isTemplate = false;
    out->handler_ = nullptr;
    if (pixels) out->bitmap_ = QuartzCore::tintedImage(*pixels, toRGBA(color));
    return out;
}

CoreGraphics::DrawingContext& NSImage::lockFocus() {
    const int w = std::max(1, static_cast<int>(std::ceil(size_.width)));
    const int h = std::max(1, static_cast<int>(std::ceil(size_.height)));
    auto ctx = std::make_shared<CoreGraphics::ImageContext>(w, h);
    if (auto pixels = bitmap()) ctx->drawImage(*pixels, {{0, 0}, size_});
    focus_ = ctx;
    return *focus_;
}

void NSImage::unlockFocus() {
    auto ctx = std::dynamic_pointer_cast<CoreGraphics::ImageContext>(focus_);
    focus_.reset();
    if (!ctx) return;
    bitmap_ = std::make_shared<CoreGraphics::Image>(ctx->image());
    handler_ = nullptr;
}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::imageRepWithImage(const NSImage& image) {
    auto pixels = image.bitmap();
    if (!pixels || pixels->empty()) return nullptr;
    return std::make_shared<NSBitmapImageRep>(pixels);
}

NSColorRef NSBitmapImageRep::colorAtX(long x, long y) const {
    if (x < 0 || y < 0 || x >= pixelsWide() || y >= pixelsHigh()) return nullptr;
    RGBA p = pixels_->pixel(static_cast<int>(x), static_cast<int>(y));
    // Eight bits per channel, as the bitmap holds them.
    auto q = [](double v) { return std::round(v * 255) / 255; };
    return NSColor::colorWithRed(q(p.r), q(p.g), q(p.b), q(p.a));
}

}  // namespace AppKit
