// nameForColor: lookups per second, beside a floor loop that computes the
// same 958 single-precision distances over a flat array in the same run.
// Prints both rates and their ratio (the lookup should stay within 1.5x).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/ColorNameTable.h"
#include "picker/Colors/NSColorAdditions.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double perSecond(F&& body, int rounds) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) body(i);
    const std::chrono::duration<double> spent = Clock::now() - start;
    return rounds / spent.count();
}

}  // namespace

int main() {
    const auto& names = sharedColorNames();

    // A spread of inputs that do not sit on table entries.
    std::vector<AppKit::NSColorRef> inputs;
    std::vector<RGBAComponents> inputComponents;
    for (int i = 0; i < 64; ++i) {
        inputs.push_back(AppKit::NSColor::colorWithRed((i * 37 % 256) / 255.0, (i * 91 % 256) / 255.0,
                                                       (i * 53 % 256) / 255.0, 1.0));
        inputComponents.push_back(rgbaComponents(*inputs.back()));
    }
    std::vector<float> flat;  // r, g, b per entry
    for (const auto& row : kColorNameTable) {
        flat.push_back(static_cast<float>(((row.value >> 16) & 0xFF) / 255.0));
        flat.push_back(static_cast<float>(((row.value >> 8) & 0xFF) / 255.0));
        flat.push_back(static_cast<float>((row.value & 0xFF) / 255.0));
    }

    std::size_t sink = 0;
    const auto lookup = [&](int i) { sink += names.nameForColor(*inputs[i % inputs.size()])->size(); };
    const auto floor = [&](int i) {
        const auto& c = inputComponents[i % inputComponents.size()];
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
        sink += bestIndex;
    };

    const int rounds = 20000;
    perSecond(lookup, rounds / 10);  // warm up
    perSecond(floor, rounds / 10);
    double lookups = 0, floors = 0;
    for (int pass = 0; pass < 3; ++pass) {  // best of three each
        lookups = std::max(lookups, perSecond(lookup, rounds));
        floors = std::max(floors, perSecond(floor, rounds));
    }
    std::printf("nameForColor: %.0f lookups/s\n", lookups);
    std::printf("floor loop:   %.0f lookups/s\n", floors);
    std::printf("ratio (floor rate / lookup rate): %.2fx\n", floors / lookups);
    return sink == 0 ? 1 : 0;
}
