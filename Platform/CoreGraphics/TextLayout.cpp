#include "Platform/CoreGraphics/TextLayout.h"

#include <cmath>

namespace CoreGraphics {
namespace {

struct FontOptionsDeleter {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};

const cairo_font_options_t* pinnedFontOptions() {
    static thread_local std::unique_ptr<cairo_font_options_t, FontOptionsDeleter> options = [] {
        std::unique_ptr<cairo_font_options_t, FontOptionsDeleter> o(cairo_font_options_create());
        cairo_font_options_set_antialias(o.get(), CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(o.get(), CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(o.get(), CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_subpixel_order(o.get(), CAIRO_SUBPIXEL_ORDER_DEFAULT);
        return o;
    }();
    return options.get();
}

constexpr double kResolution = 72.0;  // one point is one pixel at scale 1

std::string familyList(const FontSpec& font) {
    std::string family = font.family.empty() ? FontSpec{}.family : font.family;
    if (font.monospaced) {
        // The default face's monospaced sibling, then whatever fontconfig calls monospace.
        if (family == FontSpec{}.family) return "DejaVu Sans Mono,monospace";
        return family + ",monospace";
    }
    return family + ",DejaVu Sans,sans-serif";
}

}  // namespace

PangoLayoutPtr makeTextLayout(const std::string& text, const FontSpec& font, cairo_t* cr) {
    // The per-thread default font map: pango's font maps are not shared across threads.
    PangoFontMap* fontMap = pango_cairo_font_map_get_default();
    std::unique_ptr<PangoContext, GObjectDeleter> context(pango_font_map_create_context(fontMap));
    pango_cairo_context_set_resolution(context.get(), kResolution);
    pango_cairo_context_set_font_options(context.get(), pinnedFontOptions());
    if (cr) pango_cairo_update_context(cr, context.get());
    // update_context may take options from the surface; ours win.
    pango_cairo_context_set_font_options(context.get(), pinnedFontOptions());
    pango_context_set_round_glyph_positions(context.get(), FALSE);

    PangoLayoutPtr layout(pango_layout_new(context.get()));
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, familyList(font).c_str());
    const double size = font.size > 0 && std::isfinite(font.size) ? font.size : FontSpec{}.size;
    pango_font_description_set_absolute_size(description, size * PANGO_SCALE);
    pango_font_description_set_weight(description, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), description);
    pango_font_description_free(description);
    // Invalid UTF-8 would be refused by pango with a warning; draw what is valid.
    const char* end = nullptr;
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end)) {
        pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    } else {
        gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        pango_layout_set_text(layout.get(), valid, -1);
        g_free(valid);
    }
    return layout;
}

TextMetrics layoutMetrics(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    TextMetrics m;
    m.size = {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
    if (PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0)) {
        PangoRectangle lineLogical;
        pango_layout_line_get_extents(line, nullptr, &lineLogical);
        m.ascent = static_cast<double>(-lineLogical.y) / PANGO_SCALE;
        m.descent = static_cast<double>(lineLogical.height + lineLogical.y) / PANGO_SCALE;
    }
    return m;
}

TextMetrics measureText(const std::string& text, const FontSpec& font) {
    return layoutMetrics(makeTextLayout(text, font).get());
}

}  // namespace CoreGraphics

#if defined(__SANITIZE_ADDRESS__)
#define VEXIL_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXIL_LEAK_CHECKS 1
#endif
#endif
#ifdef VEXIL_LEAK_CHECKS
// Pango keeps the font patterns fontconfig prepares for the life of the process
// in caches the leak checker cannot follow; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
