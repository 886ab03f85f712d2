#pragma once
// One exported colour as the export templates see it: seven texts.

#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Value.h"

class ZNLColorItem;

struct RYColor {
    std::string name;  // colorName, else the name table's name
    std::string red;   // code exports "%.10f" of 0..1; HTML "%.0f" of 0..255
    std::string green;
    std::string blue;
    std::string alpha;     // code exports "%.2f"; HTML "%.0f" of 0..255
    std::string flatName;  // `name` as a lowerCamelCase identifier
    std::string hex;       // "#rrggbb", lower case

    // The code-export record of a stored colour: only the first six hex
    // digits count (alpha digits are dropped, alpha is 1).
    static RYColor fromColorItem(const ZNLColorItem& item);
    // The HTML page's record, made on the main thread before the render: the
    // colour of the first seven characters of the stored text, the four
    // numbers as whole values 0..255 ("%.0f"), so alpha is always "255".
    static RYColor htmlRecord(const ZNLColorItem& item);

    // Words split at spaces (U+0020 only); the first lower-cased, the others
    // capitalised; joined. So that the result compiles as an identifier,
    // letters outside ASCII are transliterated ("Crème" gives "creme"), every
    // character but ASCII letters, digits and "_" is dropped ("Screamin'
    // Green" gives "screaminGreen"), and a leading digit, a reserved word of
    // the two languages or a class member the colour classes already have
    // ("black", "labelColor", "alloc") gets a leading "_". Empty or all-space names and
    // names with nothing left give the empty text.
    static std::string makeFlatName(std::string_view name);

    friend bool operator==(const RYColor&, const RYColor&) = default;
};

// The identifiers of one export: an empty flatName becomes "color", and a
// flatName met before gets "2", "3", ... (the first free one), so every
// colour of the export has its own identifier.
void makeFlatNamesUnique(std::vector<RYColor>& colors);

// The record as templates read it: an object whose fields are the seven
// texts by their names.
Foundation::Value templateValue(RYColor color);
