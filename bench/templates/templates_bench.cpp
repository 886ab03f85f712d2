// Renders a 1,000-colour palette through a template with a for loop, a where
// clause, filters and an include, and the same output through the kainjow
// mustache engine in the same run. Prints renders per second of both and the
// ratio (ours / mustache; at least 1.0 is the aim).
//
// Mustache has no filters or conditions, so its data carries the filtered
// list and the case-mapped texts ready-made; building them is not timed. Our
// engine parses its template on every render, as the export does.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <kainjow/mustache.hpp>

#include "picker/Templates/Templates.h"

namespace {

using Clock = std::chrono::steady_clock;
using Foundation::Array;
using Foundation::Dictionary;
using Foundation::Value;

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

std::vector<Colour> palette() {
    std::vector<Colour> colours;
    for (int i = 0; i < 1000; ++i) {
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

template <class F>
double rendersPerSecond(F&& render, double seconds) {
    int rounds = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> spent{};
    do {
        render();
        ++rounds;
        spent = Clock::now() - start;
    } while (spent.count() < seconds);
    return rounds / spent.count();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const auto colours = palette();

    // Ours.
    auto loader = std::make_shared<Templates::DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{
        {"swatch", "<li class=\"{{ c.name|lowercase }}\">{{ forloop.counter }}. {{ c.name }} {{ c.hex|uppercase }}</li>\n"}});
    Templates::Environment environment(loader);
    Templates::Template page(
        "<h1>{{ paletteName|uppercase }}</h1>\n<ul>\n"
        "{% for c in colors where c.alpha > 0 %}{% include 'swatch' %}{% endfor %}</ul>\n",
        environment);
    Array records;
    for (const auto& c : colours) records.emplace_back(std::make_shared<ColourRecord>(c));
    Dictionary context{{"colors", Value(records)}, {"paletteName", Value("Benchmark Palette")}};

    // Mustache, with the same output.
    using kainjow::mustache::data;
    kainjow::mustache::mustache mustachePage(
        "<h1>{{paletteName}}</h1>\n<ul>\n{{#colors}}{{> swatch}}{{/colors}}</ul>\n");
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
    data mustacheData;
    mustacheData.set("paletteName", upper("Benchmark Palette"));
    mustacheData.set("colors", list);
    mustacheData.set("swatch", data{kainjow::mustache::partial{[] {
        return std::string("<li class=\"{{lowerName}}\">{{counter}}. {{name}} {{upperHex}}</li>\n");
    }}});

    const std::string ours = page.render(context);
    const std::string theirs = mustachePage.render(mustacheData);
    if (ours != theirs) {
        std::fprintf(stderr, "outputs differ:\n--- ours (%zu bytes)\n%.400s\n--- mustache (%zu bytes)\n%.400s\n",
                     ours.size(), ours.c_str(), theirs.size(), theirs.c_str());
        return 1;
    }

    std::size_t sink = 0;
    if (argc > 2 && std::string(argv[2]) == "ours") {  // for profiling
        std::printf("%.1f renders/s\n", rendersPerSecond([&] { sink += page.render(context).size(); }, seconds));
        return 0;
    }
    const double oursRate = rendersPerSecond([&] { sink += page.render(context).size(); }, seconds);
    const double theirsRate = rendersPerSecond([&] { sink += mustachePage.render(mustacheData).size(); }, seconds);
    std::printf("templates: 1000-colour palette (%zu bytes of output)\n", ours.size());
    std::printf("  Vexil templates  %10.1f renders/s\n", oursRate);
    std::printf("  kainjow mustache %10.1f renders/s\n", theirsRate);
    std::printf("  ratio (ours / mustache) %.2f\n", oursRate / theirsRate);
    return sink == 0 ? 1 : 0;
}
