#include "Platform/AppKit/NSColorList.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Platform/Foundation/FileWriting.h"

namespace AppKit {

namespace {

constexpr const char* kHeader = "VexilColorList 1";
constexpr const char* kErrorDomain = "NSCocoaErrorDomain";

struct SpaceName {
    NSColor::Space space;
    const char* name;
    std::size_t count;
};
constexpr SpaceName kSpaces[] = {
    {NSColor::Space::sRGB, "sRGB", 4},
    {NSColor::Space::calibratedRGB, "calibratedRGB", 4},
    {NSColor::Space::deviceRGB, "deviceRGB", 4},
    {NSColor::Space::calibratedWhite, "calibratedWhite", 2},
    {NSColor::Space::deviceWhite, "deviceWhite", 2},
    {NSColor::Space::deviceCMYK, "deviceCMYK", 5},
    {NSColor::Space::pattern, "pattern", 0},
};

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i >= s.size()) return std::nullopt;
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        auto pos = s.find(sep, start);
        parts.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) return parts;
        start = pos + 1;
    }
}

std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

NSColorRef makeColor(NSColor::Space space, const std::vector<double>& c, const std::string& pattern) {
    switch (space) {
        case NSColor::Space::sRGB:
            return NSColor::colorWithRed(c[0], c[1], c[2], c[3]);
        case NSColor::Space::calibratedRGB:
            return NSColor::colorWithCalibratedRed(c[0], c[1], c[2], c[3]);
        case NSColor::Space::deviceRGB:
            return NSColor::colorWithDeviceRed(c[0], c[1], c[2], c[3]);
        case NSColor::Space::calibratedWhite:
            return NSColor::colorWithCalibratedWhite(c[0], c[1]);
        case NSColor::Space::deviceWhite:
            return NSColor::colorWithDeviceWhite(c[0], c[1]);
        case NSColor::Space::deviceCMYK:
            return NSColor::colorWithDeviceCyan(c[0], c[1], c[2], c[3], c[4]);
        case NSColor::Space::pattern:
            return NSColor::colorWithPatternImageNamed(pattern);
    }
    return nullptr;
}

Foundation::Error fileError(long code, const std::string& description, const std::string& path) {
    return Foundation::Error{kErrorDomain, code, description, Foundation::Dictionary{{"NSFilePath", path}}};
}

}  // namespace

NSColorRef NSColorList::colorWithKey(const std::string& key) const {
    auto it = std::find(keys_.begin(), keys_.end(), key);
    return it == keys_.end() ? nullptr : colors_[static_cast<std::size_t>(it - keys_.begin())];
}

void NSColorList::setColor(NSColorRef color, const std::string& key) {
    auto it = std::find(keys_.begin(), keys_.end(), key);
    if (it != keys_.end()) {
        colors_[static_cast<std::size_t>(it - keys_.begin())] = std::move(color);
        return;
    }
    keys_.push_back(key);
    colors_.push_back(std::move(color));
}

void NSColorList::insertColor(NSColorRef color, const std::string& key, std::size_t index) {
    removeColorWithKey(key);
    index = std::min(index, keys_.size());
    keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(index), key);
    colors_.insert(colors_.begin() + static_cast<std::ptrdiff_t>(index), std::move(color));
}

void NSColorList::removeColorWithKey(const std::string& key) {
    auto it = std::find(keys_.begin(), keys_.end(), key);
    if (it == keys_.end()) return;
    colors_.erase(colors_.begin() + (it - keys_.begin()));
    keys_.erase(it);
}

std::string NSColorList::serialized() const {
    std::string out = std::string(kHeader) + "\n";
    out += name_ ? "name\t" + escape(*name_) + "\n" : "name\n";
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const NSColor& c = *colors_[i];
        const SpaceName* sn = nullptr;
        for (auto& s : kSpaces)
            if (s.space == c.space()) sn = &s;
        std::string components;
        if (c.space() == NSColor::Space::pattern) {
            components = escape(c.patternImageName());
        } else {
            for (std::size_t k = 0; k < c.cgNumberOfComponents(); ++k)
                components += (k ? " " : "") + number(c.cgComponents()[k]);
        }
        out += std::string(sn ? sn->name : "sRGB") + "\t" + components + "\t" + escape(keys_[i]) + "\n";
    }
    return out;
}

std::shared_ptr<NSColorList> NSColorList::parse(const std::string& text) {
    auto lines = split(text, '\n');
    if (lines.size() < 2 || lines[0] != kHeader) return nullptr;
    std::shared_ptr<NSColorList> list;
    if (lines[1] == "name") {
        list = std::make_shared<NSColorList>();
    } else if (lines[1].rfind("name\t", 0) == 0) {
        auto name = unescape(lines[1].substr(5));
        if (!name) return nullptr;
        list = std::make_shared<NSColorList>(*name);
    } else {
        return nullptr;
    }
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (lines[i].empty() && i + 1 == lines.size()) break;  // the final line end
        auto fields = split(lines[i], '\t');
        if (fields.size() != 3) return nullptr;
        const SpaceName* sn = nullptr;
        for (auto& s : kSpaces)
            if (fields[0] == s.name) sn = &s;
        auto key = unescape(fields[2]);
        if (!sn || !key) return nullptr;
        NSColorRef color;
        if (sn->space == NSColor::Space::pattern) {
            auto image = unescape(fields[1]);
            if (!image) return nullptr;
            color = makeColor(sn->space, {}, *image);
        } else {
            std::vector<double> values;
            for (auto& part : split(fields[1], ' ')) {
                char* end = nullptr;
                errno = 0;
                double v = std::strtod(part.c_str(), &end);
                if (part.empty() || *end || errno == ERANGE) return nullptr;
                values.push_back(v);
            }
            if (values.size() != sn->count) return nullptr;
            color = makeColor(sn->space, values, {});
        }
        if (list->colorWithKey(*key)) return nullptr;  // keys are unique in a list
        list->setColor(color, *key);
    }
    return list;
}

bool NSColorList::writeToFile(const std::string& path, Foundation::Error* error) const {
    return Foundation::writeFileAtomically(path, serialized(), error);
}

std::shared_ptr<NSColorList> NSColorList::listWithContentsOfFile(const std::string& path, Foundation::Error* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = fileError(260, "The file '" + path + "' couldn't be opened.", path);
        return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    auto list = parse(ss.str());
    if (!list && error) *error = fileError(259, "The file '" + path + "' is not a colour list.", path);
    return list;
}

}  // namespace AppKit
