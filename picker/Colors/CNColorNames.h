#pragma once
// The table of 958 named reference colours and the nearest-name lookup.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSColor.h"
#include "picker/Colors/NSColorAdditions.h"

class CNColorNames {
public:
    // One name with its "colorId" value, 0xRRGGBB.
    struct Entry {
        std::string name;
        std::int32_t colorId = 0;
    };
    // The map, in a fixed iteration order; its names are distinct.
    using ColorMap = std::vector<Entry>;

    // Builds the map (`setupColorMap`).
    CNColorNames();

    // The 958 rows of the table, in table order; replaces any map held before.
    void setupColorMap();
    const ColorMap& colorMap() const { return colorMap_; }
    void setColorMap(ColorMap map);

    // Red, green and blue from bits 16-23, 8-15 and 0-7 over 255; alpha 1;
    // the top byte is ignored.
    static AppKit::NSColorRef colorFromRGBFloat(std::int32_t value);

    // The capitalised name of the entry nearest to the colour by
    // `distanceFrom:`, the first of equally near entries winning; alpha is
    // ignored. Nothing when the map is empty. Allocates nothing per entry.
    std::optional<std::string> nameForColor(const AppKit::NSColor& color) const;

private:
    ColorMap colorMap_;
    // Per entry of the map, what a lookup needs, measured once when the map
    // is set: its components (kept apart so a scan touches only them) and
    // its capitalised name.
    std::vector<RGBAComponents> components_;
    std::vector<std::string> displayNames_;
};

// The one program-wide table, made on first use.
const CNColorNames& sharedColorNames();
