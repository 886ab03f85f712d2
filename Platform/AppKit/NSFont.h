#pragma once
// Fonts and attributed strings, measured as the renderer draws them.

#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"

namespace AppKit {

class NSFont {
public:
    explicit NSFont(CoreGraphics::FontSpec spec) : spec_(std::move(spec)) {}
    static std::shared_ptr<NSFont> systemFontOfSize(double size);
    static std::shared_ptr<NSFont> boldSystemFontOfSize(double size);
    static std::shared_ptr<NSFont> monospacedSystemFontOfSize(double size);
    static std::shared_ptr<NSFont> monospacedDigitSystemFontOfSize(double size);
    // A family by name at a size; unknown families fall back as fontconfig does.
    static std::shared_ptr<NSFont> fontWithName(const std::string& name, double size);
    static double systemFontSize() { return 13; }
    static double smallSystemFontSize() { return 11; }

    double pointSize() const { return spec_.size; }
    const std::string& familyName() const { return spec_.family; }
    std::string fontName() const { return spec_.family + (spec_.bold ? "-Bold" : ""); }
    const CoreGraphics::FontSpec& spec() const { return spec_; }
    std::shared_ptr<NSFont> withSize(double size) const;
    double ascender() const;
    double descender() const;  // negative, as the platform gives it
    // Width and height of a line of text in this font.
    CGSize sizeOfString(const std::string& text) const;
    bool operator==(const NSFont& other) const { return spec_ == other.spec_; }

private:
    CoreGraphics::FontSpec spec_;
};

using NSFontRef = std::shared_ptr<NSFont>;

// Text with runs of attributes (font, colour). Line feeds break lines.
class NSAttributedString {
public:
    struct Run {
        std::string text;
        NSFontRef font;    // none: the system font
        NSColorRef color;  // none: the text colour
    };
    NSAttributedString() = default;
    explicit NSAttributedString(std::string text, NSFontRef font = nullptr, NSColorRef color = nullptr) {
        append(std::move(text), std::move(font), std::move(color));
    }
    void append(std::string text, NSFontRef font = nullptr, NSColorRef color = nullptr) {
        runs_.push_back({std::move(text), std::move(font), std::move(color)});
    }
    void append(const NSAttributedString& other) { runs_.insert(runs_.end(), other.runs_.begin(), other.runs_.end()); }
    const std::vector<Run>& runs() const { return runs_; }
    std::string string() const;
    std::size_t length() const { return string().size(); }
    bool empty() const { return runs_.empty() || string().empty(); }
    // The laid-out size: lines stacked, each as wide as its runs together.
    CGSize size() const;
    // Draws the text with its top-left at the top-left of `rect`.
    void drawInRect(CoreGraphics::DrawingContext& ctx, CGRect rect, RGBA defaultColor) const;

private:
    std::vector<Run> runs_;
};

}  // namespace AppKit
