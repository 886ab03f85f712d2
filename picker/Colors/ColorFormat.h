#pragma once
// Colour text formats: the format list of the bundle ("formats" of type
// "json"), the current format and the renderer every place uses to show or
// copy a colour as text.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/AppKit/NSColor.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

struct ColorFormat {
    std::int64_t id = 0;
    std::string name;    // menu title; "device" or "calibrated" in it picks the conversion
    std::string format;  // "hex", or a template of placeholder tokens
    std::string image;   // the menu image beside the format

    // The fallback when the list has no current format: 0, "CSS Hex", "hex", "css".
    static ColorFormat builtIn();
    // The magnifier's label: 299, "pickerFormat", "%r %g %b", no image.
    static ColorFormat pickerFormat();

    friend bool operator==(const ColorFormat&, const ColorFormat&) = default;
};

// Why the format list could not be used; `error()` is what an alert shows.
class FormatListError : public std::runtime_error {
public:
    FormatListError(Foundation::Error error, const std::string& detail)
        : std::runtime_error(detail), error_(std::move(error)) {}
    const Foundation::Error& error() const { return error_; }

private:
    Foundation::Error error_;
};

// The file exists but cannot be read (NSCocoaErrorDomain 256, 257 or 260).
class FormatListReadError : public FormatListError {
    using FormatListError::FormatListError;
};

// The bytes are not JSON of the list's form (NSCocoaErrorDomain 4864).
class FormatListDecodingError : public FormatListError {
    using FormatListError::FormatListError;
};

// The list: {"formats": [{"id": 1, "name": "...", "format": "...", "image": "..."}, ...]}.
// "formats" may be absent; every entry needs all four keys, "id" a JSON
// integer and the others strings; other keys are ignored.
struct Formats {
    std::optional<std::vector<ColorFormat>> formats;

    // Throws FormatListDecodingError.
    static Formats decode(const Foundation::Data& json);
    // Keys in the order id, name, format, image; "formats" only when present.
    std::string encode() const;
};

// The format with that id from the bundle's list (the last one when ids
// repeat); nothing when the resource is missing or has no such id. Throws
// FormatListReadError or FormatListDecodingError. Reads the file on every call.
std::optional<ColorFormat> loadColorFormat(std::int64_t id);

// The format whose id is the user default "colorFormat", else the built-in
// one. Never fails.
ColorFormat currentColorFormat();

// The colour as text in the format. "hex" follows the user defaults
// "hexWithHashtag" and "capitalizedHex"; any other format is a template whose
// tokens are replaced in a fixed order. `name` is used only by "color_name".
std::string formatted(const AppKit::NSColor& color, const ColorFormat& format, std::string_view name);
