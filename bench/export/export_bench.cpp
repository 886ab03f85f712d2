// Renders a 1,000-colour folder through each export template, and the same
// text through a hand-written snprintf loop, in one run on the same items.
// Both sides start from the stored items: the colour records (with the name
// table's lookup for unnamed colours, one in four) and the per-format text
// preparation are shared code, so the comparison is the template engine,
// its reading of the template file and its records against plain printing.
// A second set names every colour; "engineOnly" cases make the records and
// context beforehand, so only the file read and the engine's render are
// timed against printing alone.
// The outputs are checked equal before timing; at the end the ratio
// template / loop is printed per format (the aim is at most 3).
//
// Run from the build tree (the bundle's Resources directory is found beside
// the binary). Takes Google Benchmark's own options only.

#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <functional>
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include "Platform/Foundation/Text.h"
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

RYPaletteExporter::Category loopCategory(ExportFormat format, const Prepared& d) {
    const Platform& p = format == ExportFormat::nscolorCategory ? kAppKit : kUIKit;
    RYPaletteExporter::Category out;
    out.header.reserve(100 * d.colors.size());
    fileHeader(out.header, p, d, "h");
    appendf(out.header, "#import <%s/%s.h>\n\nNS_ASSUME_NONNULL_BEGIN\n\n@interface %s (VexilPalette)\n\n", p.kit,
            p.kit, p.cls);
    for (const auto& c : d.colors)
        appendf(out.header, "/// %s (%s)\n+ (%s *)%s;\n", c.name.c_str(), c.hex.c_str(), p.cls, c.flatName.c_str());
    out.header += "\n@end\n\nNS_ASSUME_NONNULL_END\n";

    out.implementation.reserve(200 * d.colors.size());
    fileHeader(out.implementation, p, d, "m");
    appendf(out.implementation, "#import <%s/%s.h>\n\n@implementation %s (VexilPalette)\n\n", p.kit, p.kit, p.cls);
    for (const auto& c : d.colors)
        appendf(out.implementation,
                "/// %s (%s)\n+ (%s *)%s {\n    return [%s %s:%s green:%s blue:%s alpha:%s];\n}\n\n", c.name.c_str(),
                c.hex.c_str(), p.cls, c.flatName.c_str(), p.cls, p.objcInit, c.red.c_str(), c.green.c_str(),
                c.blue.c_str(), c.alpha.c_str());
    out.implementation += "@end\n";
    return out;
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

// The engine alone: the template file read and rendered against a context
// made beforehand, as the exporter does inside.
std::string engineRender(const std::string& path, const Foundation::Dictionary& context) {
    const Templates::Environment environment(std::make_shared<Templates::FileSystemLoader>(
        std::vector<std::filesystem::path>{RYPaletteExporter::templateDirectory()}));
    return environment.templateClass(Templates::readTextFile(path), environment, std::nullopt)->render(context);
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

struct Case {
    std::string name;
    std::function<std::size_t()> viaTemplate;
    std::function<std::size_t()> viaLoop;
};

std::vector<Case> cases(const std::string& prefix) {
    std::vector<Case> out;
    for (auto [name, format] : {std::pair{"NSColorExtension", ExportFormat::nscolorExtension},
                                std::pair{"UIColorExtension", ExportFormat::uicolorExtension}}) {
        const ExportFormat f = format;
        if (templateExtension(f) != loopExtension(f)) {
            std::cerr << name << ": the template and the loop disagree\n";
            std::exit(1);
        }
        out.push_back(
            {prefix + name, [f] { return templateExtension(f).size(); }, [f] { return loopExtension(f).size(); }});
    }
    for (auto [name, format] : {std::pair{"NSColorCategory", ExportFormat::nscolorCategory},
                                std::pair{"UIColorCategory", ExportFormat::uicolorCategory}}) {
        const ExportFormat f = format;
        if (!(templateCategory(f) == loopCategory(f))) {
            std::cerr << name << ": the templates and the loop disagree\n";
            std::exit(1);
        }
        out.push_back({prefix + name, [f] { return templateCategory(f).header.size(); },
                       [f] { return loopCategory(f).header.size(); }});
    }
    // The HTML side prepares the records as its caller does, inside the timing.
    if (templateHTML() != loopHTML()) {
        std::cerr << "html: the template and the loop disagree\n";
        std::exit(1);
    }
    out.push_back({prefix + "html", [] { return templateHTML().size(); }, [] { return loopHTML().size(); }});
    if (!prefix.empty()) return out;

    // Records and context made once, outside the timing: the engine against printf alone.
    for (auto [name, format, html] : {std::tuple{"NSColorExtension", ExportFormat::nscolorExtension, false},
                                      std::tuple{"html", ExportFormat::html, true}}) {
        auto d = std::make_shared<Prepared>(prepare(format, html));
        std::vector<RYColor> raw;
        for (const auto& item : items())
            raw.push_back(html ? RYColor::htmlRecord(*item) : RYColor::fromColorItem(*item));
        auto context = std::make_shared<Foundation::Dictionary>(
            RYPaletteExporter::makeContext(std::move(raw), folder().folderName(), format));
        const std::string path = *templateName(format);
        const ExportFormat f = format;
        auto viaLoop = [f, d, html] { return html ? loopHTML(*d) : loopExtension(f, *d); };
        if (engineRender(path, *context) != viaLoop()) {
            std::cerr << name << " (engine only): the template and the loop disagree\n";
            std::exit(1);
        }
        out.push_back({std::string("engineOnly/") + name,
                       [path, context] { return engineRender(path, *context).size(); },
                       [viaLoop] { return viaLoop().size(); }});
    }
    return out;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nratio template / loop (aim: at most 3.0)\n");
        for (const auto& [name, time] : times_) {
            if (name.rfind("template/", 0) != 0) continue;
            const auto loop = times_.find("loop/" + name.substr(9));
            if (loop != times_.end() && loop->second > 0)
                std::printf("  %-30s %.2f\n", name.substr(9).c_str(), time / loop->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    static const RYPaletteExporter::Items mixed = makeItems(true), named = makeItems(false);
    for (const auto* set : {&mixed, &named}) {
        selected = set;
        for (const auto& c : cases(set == &mixed ? "" : "allNamed/")) {
            benchmark::RegisterBenchmark(("template/" + c.name).c_str(), [set, f = c.viaTemplate](benchmark::State& s) {
                selected = set;
                for (auto _ : s) benchmark::DoNotOptimize(f());
            })->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("loop/" + c.name).c_str(), [set, f = c.viaLoop](benchmark::State& s) {
                selected = set;
                for (auto _ : s) benchmark::DoNotOptimize(f());
            })->Unit(benchmark::kMillisecond);
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
