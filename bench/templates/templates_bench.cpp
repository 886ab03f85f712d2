// Renders a palette of N colours through a template with a for loop, a where
// clause and filters, beside the kainjow mustache engine producing the same
// output in the same run (checked before timing).
//
//   inline/N    the item markup written inside the loop in both engines
//   partial/N   the item markup in an included template ({% include %}) and a
//               mustache partial; mustache compiles its partial again for
//               every item, which favours us
//   ours/N      our engine alone (for profiling and peak-memory runs)
//
// Counters: items/s is colours per second of ours, mustache_items/s the
// peer's, speed_ratio = our speed / mustache's (above 1: ours is faster).
// Equal items/s across N shows that rendering grows linearly.
//
// Mustache has no filters or conditions, so its data carries the filtered
// list, the counter and the case-mapped texts ready-made; building them is
// not timed, which favours mustache. Both engines parse once: ours keeps its
// parse between renders, mustache's template is compiled outside the timing.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <kainjow/mustache.hpp>

#include "bench/support/SideBySide.h"
#include "picker/Templates/Templates.h"

namespace {

using Foundation::Array;
using Foundation::Dictionary;
using Foundation::Value;

bool gFailed = false;

struct Colour {
    std::string name;
    std::string hex;
    int alpha;
};

// A colour record as the exporter hands them to templates.
class ColourRecord : public Foundation::Object {
public:
    explicit ColourRecord(const Colour& c) : c_(c) {}
    std::string className() const override { return "RYColor"; }
    Value valueForKey(const std::string& key) const override {
        if (key == "name") return Value(c_.name);
        if (key == "hex") return Value(c_.hex);
        if (key == "alpha") return Value(c_.alpha);
        return Value();
    }
    std::vector<std::string> fieldNames() const override { return {"name", "hex", "alpha"}; }

private:
    Colour c_;
};

std::vector<Colour> palette(int count) {
    std::vector<Colour> colours;
    colours.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%02x%02x%02x", (i * 37) % 256, (i * 91) % 256, (i * 53) % 256);
        colours.push_back({"Colour Number " + std::to_string(i), hex, i % 10 == 0 ? 0 : 255});
    }
    return colours;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const char* const kItem =
    "<li class=\"{{ c.name|lowercase }}\">{{ forloop.counter }}. {{ c.name }} {{ c.hex|uppercase }}</li>\n";
const char* const kMustacheItem = "<li class=\"{{lowerName}}\">{{counter}}. {{name}} {{upperHex}}</li>\n";

enum class Mode { inlined, partial, oursOnly };

// Our engine: the environment, the page template (lexed once) and the context.
struct Ours {
    Ours(const std::vector<Colour>& colours, Mode mode)
        : environment(std::make_shared<Templates::DictionaryLoader>(
              std::vector<std::pair<std::string, std::string>>{{"swatch", kItem}})),
          page(std::string("<h1>{{ paletteName|uppercase }}</h1>\n<ul>\n"
                           "{% for c in colors where c.alpha > 0 %}") +
                   (mode == Mode::partial ? "{% include 'swatch' %}" : kItem) + "{% endfor %}</ul>\n",
               environment) {
        Array records;
        records.reserve(colours.size());
        for (const auto& c : colours) records.emplace_back(std::make_shared<ColourRecord>(c));
        context = Dictionary{{"colors", Value(std::move(records))}, {"paletteName", Value("Benchmark Palette")}};
    }
    std::string render() const { return page.render(context); }

    Templates::Environment environment;
    Templates::Template page;
    Dictionary context;
};

// The peer, compiled once, with data ready-made.
struct Mustache {
    Mustache(const std::vector<Colour>& colours, Mode mode)
        : page(std::string("<h1>{{paletteName}}</h1>\n<ul>\n{{#colors}}") +
               (mode == Mode::partial ? "{{> swatch}}" : kMustacheItem) + "{{/colors}}</ul>\n") {
        using kainjow::mustache::data;
        data list{data::type::list};
        int counter = 0;
        for (const auto& c : colours) {
            if (c.alpha <= 0) continue;
            data item;
            item.set("lowerName", lower(c.name));
            item.set("counter", std::to_string(++counter));
            item.set("name", c.name);
            item.set("upperHex", upper(c.hex));
            list.push_back(item);
        }
        context.set("paletteName", upper("Benchmark Palette"));
        context.set("colors", list);
        context.set("swatch", data{kainjow::mustache::partial{[] { return std::string(kMustacheItem); }}});
    }
    std::string render() { return page.render(context); }

    kainjow::mustache::mustache page;
    kainjow::mustache::data context;
};

void compare(benchmark::State& state, Mode mode) {
    const int count = static_cast<int>(state.range(0));
    const auto colours = palette(count);
    Ours ours(colours, mode);
    Mustache mustache(colours, mode);
    const std::string a = ours.render(), b = mustache.render();
    if (a != b) {
        std::fprintf(stderr, "outputs differ:\n--- ours (%zu bytes)\n%.400s\n--- mustache (%zu bytes)\n%.400s\n",
                     a.size(), a.c_str(), b.size(), b.c_str());
        gFailed = true;
        state.SkipWithError("the two engines' outputs differ");
        return;
    }
    bench::SideBySide sides(state);
    for (auto _ : state) {
        sides.iteration([&] { benchmark::DoNotOptimize(ours.render()); },
                        [&] { benchmark::DoNotOptimize(mustache.render()); });
    }
    sides.report(count, "mustache", false);
    state.counters["bytes_out"] = benchmark::Counter(static_cast<double>(a.size()));
}

void oursOnly(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Ours ours(palette(count), Mode::inlined);
    for (auto _ : state) benchmark::DoNotOptimize(ours.render());
    state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

int main(int argc, char** argv) {
    for (auto [name, mode] : {std::pair{"inline", Mode::inlined}, std::pair{"partial", Mode::partial}}) {
        benchmark::RegisterBenchmark(name, [mode = mode](benchmark::State& s) { compare(s, mode); })
            ->Arg(10)
            ->Arg(1000)
            ->Arg(10000)
            ->Arg(100000)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("ours", oursOnly)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
    return bench::runBenchmarks(argc, argv, gFailed);
}
