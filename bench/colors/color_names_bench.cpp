// nameForColor beside a floor loop that computes the same 958
// single-precision distances over a flat array, on the same inputs in the
// same run. Before timing, both must pick the same table entry for every
// input.
//
// Counters: items/s is lookups per second of nameForColor, floor_items/s the
// loop's, time_ratio = lookup time / floor time (the lookup should stay
// within 1.5x; the floor allocates nothing and returns only an index, which
// favours it).

#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/support/SideBySide.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/ColorNameTable.h"
#include "picker/Colors/NSColorAdditions.h"

namespace {

bool gFailed = false;

// Inputs spread over the cube that do not sit on table entries.
struct Inputs {
    std::vector<AppKit::NSColorRef> colors;
    std::vector<RGBAComponents> components;
    std::vector<float> flat;  // r, g, b per table entry

    Inputs() {
        for (int i = 0; i < 64; ++i) {
            colors.push_back(AppKit::NSColor::colorWithRed((i * 37 % 256) / 255.0, (i * 91 % 256) / 255.0,
                                                           (i * 53 % 256) / 255.0, 1.0));
            components.push_back(rgbaComponents(*colors.back()));
        }
        for (const auto& row : kColorNameTable) {
            flat.push_back(static_cast<float>(((row.value >> 16) & 0xFF) / 255.0));
            flat.push_back(static_cast<float>(((row.value >> 8) & 0xFF) / 255.0));
            flat.push_back(static_cast<float>((row.value & 0xFF) / 255.0));
        }
    }

    std::size_t floor(std::size_t i) const {
        const auto& c = components[i];
        const float r = static_cast<float>(c.red), g = static_cast<float>(c.green), b = static_cast<float>(c.blue);
        float best = 3.4e38f;
        std::size_t bestIndex = 0;
        for (std::size_t k = 0; k < kColorNameCount; ++k) {
            const float dr = flat[3 * k] - r, dg = flat[3 * k + 1] - g, db = flat[3 * k + 2] - b;
            const float d = std::sqrt((dg * dg + dr * dr) + db * db);
            if (best > d) {
                best = d;
                bestIndex = k;
            }
        }
        return bestIndex;
    }
};

void nameForColor(benchmark::State& state) {
    const auto& names = sharedColorNames();
    const Inputs inputs;
    for (std::size_t i = 0; i < inputs.colors.size(); ++i) {
        auto ours = names.nameForColor(*inputs.colors[i]);
        auto floors = names.nameForColor(*CNColorNames::colorFromRGBFloat(kColorNameTable[inputs.floor(i)].value));
        if (ours != floors) {
            std::fprintf(stderr, "input %zu: nameForColor gives %s, the floor loop the entry named %s\n", i,
                         ours ? ours->c_str() : "nothing", floors ? floors->c_str() : "nothing");
            gFailed = true;
            state.SkipWithError("the two sides pick different entries");
            return;
        }
    }
    const std::size_t n = inputs.colors.size();
    std::size_t sink = 0;
    bench::SideBySide sides(state);
    for (auto _ : state) {
        sides.iteration(
            [&] {
                for (std::size_t i = 0; i < n; ++i) sink += names.nameForColor(*inputs.colors[i])->size();
            },
            [&] {
                for (std::size_t i = 0; i < n; ++i) sink += inputs.floor(i);
            });
    }
    benchmark::DoNotOptimize(sink);
    sides.report(static_cast<std::int64_t>(n), "floor", true);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("name_for_color", nameForColor)->UseManualTime()->Unit(benchmark::kMicrosecond);
    return bench::runBenchmarks(argc, argv, gFailed);
}
