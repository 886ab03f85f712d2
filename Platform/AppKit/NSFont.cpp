#include "Platform/AppKit/NSFont.h"

#include <algorithm>

#include "Platform/AppKit/NSView.h"

namespace AppKit {

std::shared_ptr<NSFont> NSFont::systemFontOfSize(double size) {
    CoreGraphics::FontSpec s;
    s.size = size > 0 ? size : systemFontSize();
    return std::make_shared<NSFont>(s);
}

std::shared_ptr<NSFont> NSFont::boldSystemFontOfSize(double size) {
    auto f = systemFontOfSize(size);
    f->spec_.bold = true;
    return f;
}

std::shared_ptr<NSFont> NSFont::monospacedSystemFontOfSize(double size) {
    auto f = systemFontOfSize(size);
    f->spec_.monospaced = true;
    f->spec_.family = "DejaVu Sans Mono";
    return f;
}

std::shared_ptr<NSFont> NSFont::monospacedDigitSystemFontOfSize(double size) { return systemFontOfSize(size); }

std::shared_ptr<NSFont> NSFont::fontWithName(const std::string& name, double size) {
    auto f = systemFontOfSize(size);
    if (!name.empty()) f->spec_.family = name;
    return f;
}

std::shared_ptr<NSFont> NSFont::withSize(double size) const {
    auto f = std::make_shared<NSFont>(spec_);
    f->spec_.size = size;
    return f;
}

double NSFont::ascender() const { return CoreGraphics::measureText("Ag", spec_).ascent; }
double NSFont::descender() const { return -CoreGraphics::measureText("Ag", spec_).descent; }

CGSize NSFont::sizeOfString(const std::string& text) const { return CoreGraphics::measureText(text, spec_).size; }

// --- attributed strings ---------------------------------------------------------------

std::string NSAttributedString::string() const {
    std::string s;
    for (auto& r : runs_) s += r.text;
    return s;
}

namespace {
struct Piece {
    std::string text;
    NSFontRef font;
    NSColorRef color;
};
// Runs split at line feeds into lines of pieces.
std::vector<std::vector<Piece>> lines(const std::vector<NSAttributedString::Run>& runs) {
    std::vector<std::vector<Piece>> out(1);
    for (auto& r : runs) {
        auto font = r.font ? r.font : NSFont::systemFontOfSize(13);
        std::size_t start = 0;
        for (;;) {
            auto nl = r.text.find('\n', start);
            std::string part = r.text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
            if (!part.empty()) out.back().push_back({part, font, r.color});
            if (nl == std::string::npos) break;
            out.back().push_back({"", font, r.color});  // keeps the line's height when empty
            out.emplace_back();
            start = nl + 1;
        }
    }
    if (out.size() > 1 && out.back().empty()) out.pop_back();
    return out;
}

CGSize lineSize(const std::vector<Piece>& line) {
    double w = 0, h = 0;
    for (auto& p : line) {
        CGSize s = p.font->sizeOfString(p.text.empty() ? " " : p.text);
        if (!p.text.empty()) w += s.width;
        h = std::max(h, s.height);
    }
    return {w, h};
}
}  // namespace

CGSize NSAttributedString::size() const {
    double w = 0, h = 0;
    for (auto& line : lines(runs_)) {
        CGSize s = lineSize(line);
        w = std::max(w, s.width);
        h += s.height;
    }
    return {w, h};
}

void NSAttributedString::drawInRect(CoreGraphics::DrawingContext& ctx, CGRect rect, RGBA defaultColor) const {
    double top = rect.maxY();
    for (auto& line : lines(runs_)) {
        CGSize ls = lineSize(line);
        double x = rect.minX();
        for (auto& p : line) {
            if (p.text.empty()) continue;
            CGSize s = p.font->sizeOfString(p.text);
            RGBA c = p.color ? toRGBA(p.color) : defaultColor;
            ctx.drawText(p.text, CGRectMake(x, top - ls.height, s.width + 1, ls.height), p.font->spec(), c);
            x += s.width;
        }
        top -= ls.height;
    }
}

}  // namespace AppKit
