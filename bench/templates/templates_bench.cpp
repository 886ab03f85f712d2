// Renders a palette of N colours through a template with a for loop, a where
// clause and filters, beside two references producing the same output on the
// same colours in the same run (checked equal before timing):
//
//   inline/N    the kainjow mustache engine, the item markup written inside
//               the loop in both engines
//   partial/N   the same with the markup in an included template
//               ({% include %}) and a mustache partial
//   loop/N      a hand-written loop doing the template's work on the same
//               context: it reads each record through the object interface
//               the engine uses, skips the transparent ones, counts, maps
//               case and appends to one string
//   ours/N      our engine alone (for profiling and peak-memory runs)
//
// Each iteration runs both sides, taking turns about which goes first.
// Counters: items/s is colours per second of ours, <reference>_items/s the
// reference's, speed_ratio = our speed / the reference's (above 1: ours is
// faster). Equal items/s across N shows that rendering grows linearly.
//
// What the mustache side does: its template is compiled once, outside the
// timing; each render walks a tree of its own data values (a list of
// string maps, built outside the timing) and hands every text it makes to a
// callback that writes it into a string stream, whose text it returns. Its
// variables are written unescaped ({{{name}}}), since ours does not escape
// either; with mustache's default HTML escaping ({{name}}) it would check
// and copy every character once more, about a third slower in our runs.
//
// Where a comparison could still favour one side:
//  - mustache has no filters or conditions, so its data carries the filtered
//    list, the counter and the case-mapped texts ready-made; making them is
//    not timed, and it never sees the transparent colours. This favours
//    mustache.
//  - our engine keeps, from one render of a template to the next, its parse,
//    its loop dictionaries and the room of its dictionary stack, and
//    reserves its output from the last render's length; mustache starts
//    every render with a new stream. This favours us, most at 10 colours.
//  - partial/N: mustache compiles its partial again for every item, while
//    ours parses the included template once per render. This favours us.
//  - the loop reserves its output from the last length, as our engine does,
//    reads the records' stored values without copies, as our engine does,
//    and writes the counter with std::to_chars, as our engine does; it knows
//    the field names and their types in advance, which the engine must look
//    up. This favours the loop.
//
// Takes Google Benchmark's own flags only; anything else is refused.

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
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

// A colour record as the exporter hands them to templates: stored values,
// read in place by name.
class ColourRecord : public Foundation::Object {
public:
    explicit ColourRecord(const Colour& c) : name_(c.name), hex_(c.hex), alpha_(c.alpha) {}
    std::string className() const override { return "RYColor"; }
    Value valueForKey(const std::string& key) const override {
        const Value* v = storedValueForKey(key);
        return v ? *v : Value();
    }
    const Value* storedValueForKey(std::string_view key) const override {
        if (key == "name") return &name_;
        if (key == "hex") return &hex_;
        if (key == "alpha") return &alpha_;
        return nullptr;
    }
    std::vector<std::string> fieldNames() const override { return {"name", "hex", "alpha"}; }

private:
    Value name_, hex_, alpha_;
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
const char* const kMustacheItem = "<li class=\"{{{lowerName}}}\">{{{counter}}}. {{{name}}} {{{upperHex}}}</li>\n";

enum class Mode { inlined, partial, loop };

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
        : page(std::string("<h1>{{{paletteName}}}</h1>\n<ul>\n{{#colors}}") +
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

// The hand-written loop over the same context our engine renders.
struct Loop {
    explicit Loop(const Dictionary& context) : context(context) {}
    std::string render() {
        std::string out;
        out.reserve(last);
        const auto& colours = context["colors"].asArray();
        out += "<h1>";
        out += upper(context["paletteName"].asString());
        out += "</h1>\n<ul>\n";
        std::int64_t counter = 0;
        for (const auto& value : colours) {
            const auto& record = *value.asObject();
            if (record.storedValueForKey("alpha")->asInt() <= 0) continue;
            const std::string& name = record.storedValueForKey("name")->asString();
            out += "<li class=\"";
            const size_t at = out.size();
            out += name;
            for (size_t i = at; i < out.size(); ++i)
                out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
            out += "\">";
            char digits[24];
            out.append(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, ++counter).ptr - digits));
            out += ". ";
            out += name;
            out += ' ';
            const size_t hexAt = out.size();
            out += record.storedValueForKey("hex")->asString();
            for (size_t i = hexAt; i < out.size(); ++i)
                out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
            out += "</li>\n";
        }
        out += "</ul>\n";
        last = out.size();
        return out;
    }

    const Dictionary& context;
    size_t last = 0;
};

void compare(benchmark::State& state, Mode mode) {
    const int count = static_cast<int>(state.range(0));
    const auto colours = palette(count);
    Ours ours(colours, mode == Mode::partial ? Mode::partial : Mode::inlined);
    Mustache mustache(colours, mode);
    Loop loop(ours.context);
    const std::string name = mode == Mode::loop ? "loop" : "mustache";
    auto reference = [&] { return mode == Mode::loop ? loop.render() : mustache.render(); };
    const std::string a = ours.render(), b = reference();
    if (a != b) {
        std::fprintf(stderr, "outputs differ:\n--- ours (%zu bytes)\n%.400s\n--- %s (%zu bytes)\n%.400s\n", a.size(),
                     a.c_str(), name.c_str(), b.size(), b.c_str());
        gFailed = true;
        state.SkipWithError("the two sides' outputs differ");
        return;
    }
    bench::SideBySide sides(state);
    for (auto _ : state) {
        sides.iteration([&] { benchmark::DoNotOptimize(ours.render()); },
                        [&] { benchmark::DoNotOptimize(reference()); });
    }
    sides.report(count, name, false);
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
    for (auto [name, mode] :
         {std::pair{"inline", Mode::inlined}, std::pair{"partial", Mode::partial}, std::pair{"loop", Mode::loop}}) {
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
