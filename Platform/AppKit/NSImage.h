#pragma once
// Images: a bitmap (CoreGraphics::Image) or a drawing handler run on demand,
// with a size in points and a template flag. Named images come from the
// bundle's resources ("<name>.png") or from the few system images the
// interface uses, drawn here.

#include <functional>
#include <memory>
#include <string>

#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"

namespace AppKit {

inline const std::string NSImageNameAddTemplate = "NSAddTemplate";
inline const std::string NSImageNameRemoveTemplate = "NSRemoveTemplate";
inline const std::string NSImageNameStopProgressTemplate = "NSStopProgressTemplate";
inline const std::string NSImageNameLockUnlockedTemplate = "NSLockUnlockedTemplate";
inline const std::string NSImageNameLockLockedTemplate = "NSLockLockedTemplate";
inline const std::string NSImageNamePreferencesGeneral = "NSPreferencesGeneral";
// The grey status dot (the folder tabs tint it with a tag colour).
inline const std::string NSImageNameStatusNone = "NSStatusNone";

class NSImage {
public:
    using DrawingHandler = std::function<bool(CGRect dstRect, CoreGraphics::DrawingContext& ctx)>;

    NSImage() = default;
    explicit NSImage(CGSize size) : size_(size) {}
    // A bitmap shown at `size` points (zero size: one point per pixel).
    NSImage(std::shared_ptr<const CoreGraphics::Image> bitmap, CGSize size = {});
    static std::shared_ptr<NSImage> imageWithSize(CGSize size, bool flipped, DrawingHandler handler);
    // nullptr when there is no such image.
    static std::shared_ptr<NSImage> imageNamed(const std::string& name);
    // Forgets cached named images (tests changing the resource folder).
    static void clearNamedCache();

    CGSize size() const { return size_; }
    void setSize(CGSize size) { size_ = size; }
    bool isTemplate = false;
    std::string name() const { return name_; }
    bool isFlipped() const { return flipped_; }
    bool isValid() const { return bitmap_ || handler_; }

    // The pixels, one per point (a drawing handler is run for them); nullptr
    // for an empty image.
    std::shared_ptr<const CoreGraphics::Image> bitmap() const;
    // Draws the image scaled into `rect`.
    void drawInRect(CoreGraphics::DrawingContext& ctx, CGRect rect, double fraction = 1, bool smooth = true) const;
    // A copy whose pixels keep their alpha and take the colour (source-atop
    // fill over the whole image); the copy is not a template.
    std::shared_ptr<NSImage> tintedCopy(const NSColorRef& color) const;
    std::shared_ptr<NSImage> copy() const { return std::make_shared<NSImage>(*this); }

    // Drawing into the image: lockFocus gives a context on a transparent
    // bitmap of the image's size (one pixel per point; its current pixels
    // first), unlockFocus makes that bitmap the image. Nested locks are not kept.
    CoreGraphics::DrawingContext& lockFocus();
    void unlockFocus();
    const DrawingHandler& drawingHandler() const { return handler_; }

private:
    std::shared_ptr<const CoreGraphics::Image> bitmap_;
    DrawingHandler handler_;
    CGSize size_{};
    bool flipped_ = false;
    std::string name_;
    std::shared_ptr<CoreGraphics::DrawingContext> focus_;
};

// The pixels of an image, as the picker reads them: colours at pixel
// positions counted from the top-left, in sRGB.
class NSBitmapImageRep {
public:
    // Nothing for an image without pixels.
    static std::shared_ptr<NSBitmapImageRep> imageRepWithImage(const NSImage& image);
    explicit NSBitmapImageRep(std::shared_ptr<const CoreGraphics::Image> pixels) : pixels_(std::move(pixels)) {}
    long pixelsWide() const { return pixels_->width(); }
    long pixelsHigh() const { return pixels_->height(); }
    // nullptr outside the bitmap.
    NSColorRef colorAtX(long x, long y) const;

private:
    std::shared_ptr<const CoreGraphics::Image> pixels_;
};

using NSImageRef = std::shared_ptr<NSImage>;

}  // namespace AppKit
