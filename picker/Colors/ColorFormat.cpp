#include "picker/Colors/ColorFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Colors/NSColorAdditions.h"

namespace {

constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";

[[noreturn]] void throwDecodingError(const std::string& detail) {
    Foundation::Error error{kCocoaErrorDomain, 4864,
                            "The data couldn\u2019t be read because it isn\u2019t in the correct format.",
                            Foundation::Dictionary{{"NSDebugDescription", detail}}};
    throw FormatListDecodingError(std::move(error), "formats.json: " + detail);
}

[[noreturn]] void throwReadError(const std::string& path, int err) {
    const std::size_t slash = path.find_last_of('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    long code = 256;
    std::string why;
    if (err == ENOENT) {
        code = 260;
        why = " because there is no such file";
    } else if (err == EACCES || err == EPERM) {
        code = 257;
        why = " because you don\u2019t have permission to view it";
    }
    Foundation::Error error{kCocoaErrorDomain, code,
                            "The file \u201c" + file + "\u201d couldn\u2019t be opened" + why + ".",
                            Foundation::Dictionary{{"NSFilePath", path}}};
    throw FormatListReadError(std::move(error), path + ": " + std::strerror(err));
}

Foundation::Data readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwReadError(path, errno);
    Foundation::Data bytes;
    std::uint8_t buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throwReadError(path, err);
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

const std::string& requireString(const Foundation::Dictionary& entry, const char* key, std::size_t index) {
    const Foundation::Value* value = entry.find(key);
    const std::string where = "formats[" + std::to_string(index) + "]";
    if (value == nullptr) throwDecodingError(where + " has no \"" + key + "\"");
    if (!value->isString()) throwDecodingError(where + ".\"" + key + "\" is not a string");
    return value->asString();
}

ColorFormat decodeEntry(const Foundation::Value& value, std::size_t index) {
    const std::string where = "formats[" + std::to_string(index) + "]";
    const Foundation::Dictionary* entry = value.dictionaryOrNull();
    if (entry == nullptr) throwDecodingError(where + " is not an object");
    const Foundation::Value* id = entry->find("id");
    if (id == nullptr) throwDecodingError(where + " has no \"id\"");
    if (!id->isInt()) throwDecodingError(where + ".\"id\" is not an integer");
    ColorFormat format;
    format.id = id->asInt();
    format.name = requireString(*entry, "name", index);
    format.format = requireString(*entry, "format", index);
    format.image = requireString(*entry, "image", index);
    return format;
}

void replaceAll(std::string& text, std::string_view token, std::string_view replacement) {
    std::size_t at = text.find(token);
    while (at != std::string::npos) {
        text.replace(at, token.size(), replacement);
        at = text.find(token, at + replacement.size());
    }
}

std::string fraction(double x) { return Foundation::format("%.3f", x); }

}  // namespace

ColorFormat ColorFormat::builtIn() { return {0, "CSS Hex", "hex", "css"}; }

ColorFormat ColorFormat::pickerFormat() { return {299, "pickerFormat", "%r %g %b", ""}; }

Formats Formats::decode(const Foundation::Data& json) {
    Foundation::Error parseError;
    const auto root = Foundation::valueFromJSON(json, &parseError);
    if (!root) throwDecodingError("the data is not valid JSON (" + parseError.description + ")");
    const Foundation::Dictionary* top = root->dictionaryOrNull();
    if (top == nullptr) throwDecodingError("the top level is not an object");
    Formats result;
    const Foundation::Value* list = top->find("formats");
    if (list == nullptr || list->isNull()) return result;
    const Foundation::Array* entries = list->arrayOrNull();
    if (entries == nullptr) throwDecodingError("\"formats\" is not an array");
    result.formats.emplace();
    result.formats->reserve(entries->size());
    for (std::size_t i = 0; i < entries->size(); ++i) result.formats->push_back(decodeEntry((*entries)[i], i));
    return result;
}

std::string Formats::encode() const {
    nlohmann::ordered_json root = nlohmann::ordered_json::object();
    if (formats) {
        auto list = nlohmann::ordered_json::array();
        for (const auto& f : *formats) {
            nlohmann::ordered_json entry;
            entry["id"] = f.id;
            entry["name"] = f.name;
            entry["format"] = f.format;
            entry["image"] = f.image;
            list.push_back(std::move(entry));
        }
        root["formats"] = std::move(list);
    }
    return root.dump();
}

std::optional<ColorFormat> loadColorFormat(std::int64_t id) {
    const auto path = Foundation::Bundle::main().pathForResource("formats", "json");
    if (!path) return std::nullopt;
    const Formats list = Formats::decode(readWholeFile(*path));
    std::optional<ColorFormat> found;
    if (list.formats) {
        for (const auto& format : *list.formats) {
            if (format.id == id) found = format;
        }
    }
    return found;
}

ColorFormat currentColorFormat() {
    const std::int64_t id = Foundation::UserDefaults::standard().integerForKey("colorFormat");
    try {
        if (auto format = loadColorFormat(id)) return *format;
    } catch (const FormatListError&) {
        // A broken list leaves the built-in format in charge.
    }
    return ColorFormat::builtIn();
}

std::string formatted(const AppKit::NSColor& color, const ColorFormat& format, std::string_view name) {
    if (format.format == "hex") {
        const auto& defaults = Foundation::UserDefaults::standard();
        std::string text = hexRGB(color);
        if (!defaults.boolForKey("hexWithHashtag")) replaceAll(text, "#", "");
        if (defaults.boolForKey("capitalizedHex")) {
            for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return text;
    }

    // The conversion follows the format's name, not its template.
    AppKit::NSColorRef converted;
    if (format.name.find("device") != std::string::npos) {
        converted = deviceRGBColor(color);
    } else if (format.name.find("calibrated") != std::string::npos) {
        converted = calibratedRGBColor(color);
    }
    const AppKit::NSColor& measured = converted ? *converted : color;

    const HSBAComponents hsb = hsbComponents(measured);
    const RGBAComponents rgba = rgbaComponents(measured);
    const double hueAngle = measured.hueComponent() * 360;
    // CSS names the HSL saturation; the HSB one would name another colour.
    const double saturationPercent = hslSaturation(measured) * 100;
    const double lightnessPercent = hslLightness(measured) * 100;

    // One pass over the template: an inserted value (a colour's name holding
    // "hex" or "%r", a percentage before "s") is never read as a token again.
    // Where tokens start alike the longest one wins.
    const std::pair<std::string_view, std::string> tokens[] = {
        {"%saturation", Foundation::format("%.0f%%", saturationPercent)},
        {"%lightness", Foundation::format("%.0f%%", lightnessPercent)},
        {"%hue", Foundation::format("%.0f", hueAngle)},
        {"%[b]", fraction(hsb.brightness)},
        {"%.r", fraction(rgba.red)},
        {"%.g", fraction(rgba.green)},
        {"%.b", fraction(rgba.blue)},
        {"%.a", fraction(rgba.alpha)},
        {"%r", std::to_string(channelByte(rgba.red))},
        {"%g", std::to_string(channelByte(rgba.green))},
        {"%b", std::to_string(channelByte(rgba.blue))},
        {"%a", fraction(rgba.alpha)},
        {"%h", fraction(hsb.hue)},
        {"%s", fraction(hsb.saturation)},
        {"color_name", std::string(name)},
        {"hex", hexRGB(color)},
        {"argb", hexARGB(color)},
    };
    const std::string_view pattern = format.format;
    std::string text;
    text.reserve(pattern.size() + name.size() + 32);
    std::size_t at = 0;
    while (at < pattern.size()) {
        const std::pair<std::string_view, std::string>* match = nullptr;
        for (const auto& token : tokens) {
            if (pattern.substr(at, token.first.size()) == token.first) {
                match = &token;
                break;
            }
        }
        if (match != nullptr) {
            text += match->second;
            at += match->first.size();
        } else {
            text += pattern[at++];
        }
    }
    return text;
}
