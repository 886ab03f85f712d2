// Renders a 1,000-colour folder through each export template and the same
// text through a hand-written snprintf loop, the two taking turns in every
// iteration on the same items (bench/support/SideBySide.h); the outputs are
// checked equal before timing, and a difference fails the run.
//
//   export/<format>      the whole export: both sides start from the stored
//                        items, make the records (with the name table's
//                        lookup for unnamed colours, one in four) and prepare
//                        the texts, which is shared code; ours reads the
//                        template files and renders them (a category's header
//                        and implementation both, on both sides)
//   allNamed/<format>    the same with every colour named, which leaves the
//                        template engine's share bare
//   engine/<template>    each of the seven templates alone: records and
//                        context made beforehand, the template text read
//                        beforehand; ours makes the template (lexing, parsing)
//                        and renders it, the loop prints the prepared records
//
// Counters: loop_time is the loop's seconds per iteration, time_ratio = our
// time / the loop's (below 1: ours is faster; the aim for engine/ is at most 2).
//
// Where a comparison could still favour one side: the loop knows the output's
// shape and reads the records' fields directly, while the engine looks each
// one up by name; the loop formats into a fixed stack buffer and reserves its
// output from a size guess, the engine reserves from its last output. The
// engine's lexing is shared between templates of the same text, so engine/
// pays for parsing but not for lexing after the first iteration.
//
// Run from the build tree (the bundle's Resources directory is found beside
// the binary). Takes Google Benchmark's own flags only; anything else is refused.

#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Text.h"
#include "bench/support/SideBySide.h"
#include "picker/Export/RYPaletteExporter.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Templates/Templates.h"

namespace {

RYPaletteExporter::Items makeItems(bool someUnnamed) {
    RYPaletteExporter::Items out;
    for (int i = 0; i < 1000; ++i) {
        auto item = std::make_shared<ZNLColorItem>();
        item->setColor(Foundation::format("#%02x%02x%02x", (i * 37) % 256, (i * 91) % 256, (i * 53) % 256));
        if (!someUnnamed || i % 4 != 0) item->setColorName(Foundation::format("Colour Nº %d & Co", i % 700));
        out.push_back(item);
    }
    return out;
}

// The folder being rendered: one in four colours unnamed (the name table is
// asked for them), or all named, which leaves the template engine's share
// bare. Benchmarks run one after another, so each case selects its own.
const RYPaletteExporter::Items* selected = nullptr;
const RYPaletteExporter::Items& items() { return *selected; }

const ZNLColorFolder& folder() {
    static const ZNLColorFolder f = [] {
        ZNLColorFolder x;
        x.setFolderName("Bench <Palette>");
        return x;
    }();
    return f;
}

void appendf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* fmt, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(n));
    } else {
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), fmt, again);
        out.append(big.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
}

// The records and palette name exactly as the exporter hands them to a template.
struct Prepared {
    std::vector<RYColor> colors;
    std::string paletteName;
};

Prepared prepare(ExportFormat format, bool html) {
    std::vector<RYColor> colors;
    colors.reserve(items().size());
    for (const auto& item : items())
        colors.push_back(html ? RYColor::htmlRecord(*item) : RYColor::fromColorItem(*item));
    makeFlatNamesUnique(colors);
    const bool escape = format == ExportFormat::html;
    for (auto& c : colors) {
        if (escape) {
            for (std::string* f : {&c.name, &c.red, &c.green, &c.blue, &c.alpha, &c.flatName, &c.hex})
                *f = htmlEscaped(*f);
        } else {
            c.name = singleLineText(c.name);
        }
    }
    const std::string name = folder().folderName();
    return {std::move(colors), escape ? htmlEscaped(name) : singleLineText(name)};
}

struct Platform {
    const char* cls;
    const char* kit;
    const char* swiftInit;
    const char* objcInit;
};
constexpr Platform kAppKit{"NSColor", "AppKit", "srgbRed", "colorWithSRGBRed"};
constexpr Platform kUIKit{"UIColor", "UIKit", "red", "colorWithRed"};

void fileHeader(std::string& out, const Platform& p, const Prepared& d, const char* ext) {
    appendf(out, "//\n//  %s+%s.%s\n//  The colours of the palette \"%s\", exported from Vexil.\n//\n\n", p.cls,
            d.paletteName.c_str(), ext, d.paletteName.c_str());
}

std::string loopExtension(ExportFormat format, const Prepared& d) {
    const Platform& p = format == ExportFormat::nscolorExtension ? kAppKit : kUIKit;
    std::string out;
    out.reserve(200 * d.colors.size());
    fileHeader(out, p, d, "swift");
    appendf(out, "import %s\n\nextension %s {\n", p.kit, p.cls);
    for (const auto& c : d.colors)
        appendf(out, "    /// %s (%s)\n    static let %s = %s(%s: %s, green: %s, blue: %s, alpha: %s)\n",
                c.name.c_str(), c.hex.c_str(), c.flatName.c_str(), p.cls, p.swiftInit, c.red.c_str(), c.green.c_str(),
                c.blue.c_str(), c.alpha.c_str());
    out += "}\n";
    return out;
}

std::string loopCategoryHeader(ExportFormat format, const Prepared& d) {
    const Platform& p = format == ExportFormat::nscolorCategory ? kAppKit : kUIKit;
    std::string out;
    out.reserve(100 * d.colors.size());
    fileHeader(out, p, d, "h");
    appendf(out, "#import <%s/%s.h>\n\nNS_ASSUME_NONNULL_BEGIN\n\n@interface %s (VexilPalette)\n\n", p.kit, p.kit,
            p.cls);
    for (const auto& c : d.colors)
        appendf(out, "/// %s (%s)\n+ (%s *)%s;\n", c.name.c_str(), c.hex.c_str(), p.cls, c.flatName.c_str());
    out += "\n@end\n\nNS_ASSUME_NONNULL_END\n";
    return out;
}

std::string loopCategoryImplementation(ExportFormat format, const Prepared& d) {
    const Platform& p = format == ExportFormat::nscolorCategory ? kAppKit : kUIKit;
    std::string out;
    out.reserve(200 * d.colors.size());
    fileHeader(out, p, d, "m");
    appendf(out, "#import <%s/%s.h>\n\n@implementation %s (VexilPalette)\n\n", p.kit, p.kit, p.cls);
    for (const auto& c : d.colors)
        appendf(out, "/// %s (%s)\n+ (%s *)%s {\n    return [%s %s:%s green:%s blue:%s alpha:%s];\n}\n\n",
                c.name.c_str(), c.hex.c_str(), p.cls, c.flatName.c_str(), p.cls, p.objcInit, c.red.c_str(),
                c.green.c_str(), c.blue.c_str(), c.alpha.c_str());
    out += "@end\n";
    return out;
}

RYPaletteExporter::Category loopCategory(ExportFormat format, const Prepared& d) {
    return {loopCategoryHeader(format, d), loopCategoryImplementation(format, d)};
}

std::string loopHTML(const Prepared& d) {
    std::string out;
    out.reserve(300 * d.colors.size());
    appendf(out,
            "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>%s</title>\n<style>\n"
            "body { font-family: -apple-system, \"Helvetica Neue\", Arial, sans-serif; margin: 2em; color: #222; }\n"
            ".swatches { display: flex; flex-wrap: wrap; gap: 1em; }\n"
            ".swatch { width: 10em; border: 1px solid #ddd; border-radius: 6px; overflow: hidden; }\n"
            ".chip { height: 6em; }\n"
            ".swatch p { margin: 0.3em 0.6em; font-size: 0.85em; }\n"
            ".name { font-weight: bold; }\n"
            ".hex, .rgba { font-family: Menlo, monospace; }\n"
            "</style>\n</head>\n<body>\n<h1>%s</h1>\n<div class=\"swatches\">\n",
            d.paletteName.c_str(), d.paletteName.c_str());
    for (const auto& c : d.colors)
        appendf(out,
                "<div class=\"swatch\" id=\"%s\">\n<div class=\"chip\" style=\"background-color: %s\"></div>\n"
                "<p class=\"name\">%s</p>\n<p class=\"hex\">%s</p>\n<p class=\"rgba\">%s %s %s %s</p>\n</div>\n",
                c.flatName.c_str(), c.hex.c_str(), c.name.c_str(), c.hex.c_str(), c.red.c_str(), c.green.c_str(),
                c.blue.c_str(), c.alpha.c_str());
    if (d.colors.empty()) out += "<p class=\"empty\">This palette has no colours.</p>\n";
    out += "</div>\n</body>\n</html>\n";
    return out;
}

// What the library window hands the HTML export: whole-number records.
std::vector<RYColor> htmlRecords() {
    std::vector<RYColor> colors;
    for (const auto& item : items()) colors.push_back(RYColor::htmlRecord(*item));
    return colors;
}

std::string loopExtension(ExportFormat format) { return loopExtension(format, prepare(format, false)); }
RYPaletteExporter::Category loopCategory(ExportFormat format) { return loopCategory(format, prepare(format, false)); }
std::string loopHTML() { return loopHTML(prepare(ExportFormat::html, true)); }

// The engine alone: the template made from its text (read beforehand) and
// rendered against a context made beforehand, as the exporter does inside.
std::string engineRender(const std::string& text, const Foundation::Dictionary& context) {
    const Templates::Environment environment(std::make_shared<Templates::FileSystemLoader>(
        std::vector<std::filesystem::path>{RYPaletteExporter::templateDirectory()}));
    return environment.templateClass(text, environment, std::nullopt)->render(context);
}

std::string templateExtension(ExportFormat format) {
    return RYPaletteExporter::renderFolder(items(), format, folder()).value_or("<failed>");
}
RYPaletteExporter::Category templateCategory(ExportFormat format) {
    return RYPaletteExporter::renderCategory(items(), format, folder()).value_or(RYPaletteExporter::Category{});
}
std::string templateHTML() {
    return RYPaletteExporter::renderColors(htmlRecords(), ExportFormat::html, folder().folderName())
        .value_or("<failed>");
}

bool gFailed = false;

// One comparison: both sides give their output, checked equal before timing.
struct Case {
    std::string name;
    const RYPaletteExporter::Items* set;
    std::function<std::string()> ours;
    std::function<std::string()> loop;
};

void run(benchmark::State& state, const Case& c) {
    selected = c.set;
    const std::string a = c.ours(), b = c.loop();
    if (a != b || a.empty()) {
        std::fprintf(stderr, "%s: the template and the loop disagree (%zu and %zu bytes)\n", c.name.c_str(), a.size(),
                     b.size());
        gFailed = true;
        state.SkipWithError("the two sides' outputs differ");
        return;
    }
    bench::SideBySide sides(state);
    for (auto _ : state)
        sides.iteration([&] { benchmark::DoNotOptimize(c.ours()); }, [&] { benchmark::DoNotOptimize(c.loop()); });
    sides.report(static_cast<std::int64_t>(items().size()), "loop", true);
}

std::string joined(const RYPaletteExporter::Category& c) { return c.header + "\n----\n" + c.implementation; }

std::vector<Case> wholeExports(const std::string& prefix, const RYPaletteExporter::Items* set) {
    std::vector<Case> out;
    for (auto [name, format] : {std::pair{"NSColorExtension", ExportFormat::nscolorExtension},
                                std::pair{"UIColorExtension", ExportFormat::uicolorExtension}}) {
        const ExportFormat f = format;
        out.push_back({prefix + name, set, [f] { return templateExtension(f); }, [f] { return loopExtension(f); }});
    }
    for (auto [name, format] : {std::pair{"NSColorCategory", ExportFormat::nscolorCategory},
                                std::pair{"UIColorCategory", ExportFormat::uicolorCategory}}) {
        const ExportFormat f = format;
        out.push_back({prefix + name, set, [f] { return joined(templateCategory(f)); },
                       [f] { return joined(loopCategory(f)); }});
    }
    // The HTML side prepares the records as its caller does, inside the timing.
    out.push_back({prefix + "html", set, [] { return templateHTML(); }, [] { return loopHTML(); }});
    return out;
}

// The seven templates, each against its part of the loop.
std::vector<Case> engineCases(const RYPaletteExporter::Items* set) {
    selected = set;
    std::vector<Case> out;
    struct Template {
        const char* name;
        ExportFormat format;
        std::optional<std::string> path;
        std::string (*loop)(ExportFormat, const Prepared&);
    };
    const auto ns = categoryTemplateNames(ExportFormat::nscolorCategory);
    const auto ui = categoryTemplateNames(ExportFormat::uicolorCategory);
    const Template templates[] = {
        {"NSColorExtension", ExportFormat::nscolorExtension, templateName(ExportFormat::nscolorExtension),
         [](ExportFormat f, const Prepared& d) { return loopExtension(f, d); }},
        {"UIColorExtension", ExportFormat::uicolorExtension, templateName(ExportFormat::uicolorExtension),
         [](ExportFormat f, const Prepared& d) { return loopExtension(f, d); }},
        {"NSColorCategory_h", ExportFormat::nscolorCategory, ns.header, loopCategoryHeader},
        {"NSColorCategory_m", ExportFormat::nscolorCategory, ns.implementation, loopCategoryImplementation},
        {"UIColorCategory_h", ExportFormat::uicolorCategory, ui.header, loopCategoryHeader},
        {"UIColorCategory_m", ExportFormat::uicolorCategory, ui.implementation, loopCategoryImplementation},
        {"html", ExportFormat::html, templateName(ExportFormat::html),
         [](ExportFormat, const Prepared& d) { return loopHTML(d); }},
    };
    for (const auto& t : templates) {
        if (!t.path) {
            std::fprintf(stderr, "%s: the template is missing from the bundle\n", t.name);
            std::exit(1);
        }
        const bool html = t.format == ExportFormat::html;
        auto d = std::make_shared<Prepared>(prepare(t.format, html));
        std::vector<RYColor> raw;
        for (const auto& item : items())
            raw.push_back(html ? RYColor::htmlRecord(*item) : RYColor::fromColorItem(*item));
        auto context = std::make_shared<Foundation::Dictionary>(
            RYPaletteExporter::makeContext(std::move(raw), folder().folderName(), t.format));
        auto text = std::make_shared<std::string>(Templates::readTextFile(*t.path));
        const ExportFormat f = t.format;
        auto loop = t.loop;
        out.push_back({std::string("engine/") + t.name, set, [text, context] { return engineRender(*text, *context); },
                       [f, d, loop] { return loop(f, *d); }});
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    static const RYPaletteExporter::Items mixed = makeItems(true), named = makeItems(false);
    static std::vector<Case> all;
    for (auto& c : wholeExports("export/", &mixed)) all.push_back(std::move(c));
    for (auto& c : wholeExports("allNamed/", &named)) all.push_back(std::move(c));
    for (auto& c : engineCases(&mixed)) all.push_back(std::move(c));
    for (const auto& c : all)
        benchmark::RegisterBenchmark(c.name.c_str(), [&c](benchmark::State& s) { run(s, c); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    return bench::runBenchmarks(argc, argv, gFailed);
}
