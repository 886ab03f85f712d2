#include "picker/Colors/CNColorNames.h"

#include <cmath>
#include <limits>

#include "Platform/Foundation/Text.h"
#include "picker/Colors/ColorNameTable.h"

namespace {

RGBAComponents componentsOf(std::int32_t value) {
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0, 1.0};
}

}  // namespace

CNColorNames::CNColorNames() { setupColorMap(); }

void CNColorNames::setupColorMap() {
    ColorMap map;
    map.reserve(kColorNameTable.size());
    for (const auto& row : kColorNameTable) map.push_back({row.name, row.value});
    setColorMap(std::move(map));
}

void CNColorNames::setColorMap(ColorMap map) {
    colorMap_ = std::move(map);
    components_.clear();
    displayNames_.clear();
    components_.reserve(colorMap_.size());
    displayNames_.reserve(colorMap_.size());
    for (const auto& entry : colorMap_) {
        components_.push_back(componentsOf(entry.colorId));
        displayNames_.push_back(Foundation::capitalized(entry.name));
    }
}

AppKit::NSColorRef CNColorNames::colorFromRGBFloat(std::int32_t value) {
    const auto c = componentsOf(value);
    return AppKit::NSColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
}

std::optional<std::string> CNColorNames::nameForColor(const AppKit::NSColor& color) const {
    const RGBAComponents target = rgbaComponents(color);
    std::size_t best = components_.size();
    double bestDistance = std::numeric_limits<double>::max();
    float bestSquare = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < components_.size(); ++i) {
        // The table's colour is the receiver of the distance.
        const float square = colorDistanceSquared(components_[i], target);
        // The root never falls as the square grows, so an entry whose square
        // is not below the best one's cannot win; only the others need it.
        if (!(square < bestSquare)) continue;
        const double d = std::sqrt(square);
        if (bestDistance > d) {  // equal never replaces; not-a-number never wins
            best = i;
            bestDistance = d;
            bestSquare = square;
        }
    }
    if (best == components_.size()) return std::nullopt;
    return displayNames_[best];
}

const CNColorNames& sharedColorNames() {
    static CNColorNames names;  // initialised once, thread-safe
    return names;
}
