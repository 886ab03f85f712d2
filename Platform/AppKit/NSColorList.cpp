#include "Platform/AppKit/NSColorList.h"

#include <plist/plist.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cctype>
#include <memory>
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

namespace {

std::shared_ptr<NSColorList> parseText(const std::string& text) {
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

// Keyed archives through libplist. Every node made here is owned by the tree
// it is put in; `Plist` owns a root.
struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

constexpr std::uint64_t kArchiveVersion = 100000;
constexpr std::uint64_t kSRGBSpaceID = 7;
constexpr const char* kPatternKey = "VXPatternImageName";

std::string shortest(double v) {
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

// "0.25 0.5 1" plus the NUL the platform ends these strings with.
plist_t componentData(const double* values, std::size_t count, bool nul) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? " " : "") + shortest(values[i]);
    if (nul) text.push_back('\0');
    return plist_new_data(text.data(), text.size());
}

plist_t classRecord(std::initializer_list<const char*> chain) {
    plist_t record = plist_new_dict();
    plist_t classes = plist_new_array();
    for (const char* name : chain) plist_array_append_item(classes, plist_new_string(name));
    plist_dict_set_item(record, "$classes", classes);
    plist_dict_set_item(record, "$classname", plist_new_string(*chain.begin()));
    return record;
}

class ArchiveWriter {
public:
    ArchiveWriter() : objects_(plist_new_array()) { plist_array_append_item(objects_, plist_new_string("$null")); }
    ~ArchiveWriter() {
        if (objects_) plist_free(objects_);
    }

    // Reserves a place so that references can be made before the object is.
    std::uint64_t reserve() {
        plist_array_append_item(objects_, plist_new_bool(0));
        return plist_array_get_size(objects_) - 1;
    }
    void fill(std::uint64_t index, plist_t object) {
        plist_array_set_item(objects_, object, static_cast<std::uint32_t>(index));
    }
    std::uint64_t add(plist_t object) {
        plist_array_append_item(objects_, object);
        return plist_array_get_size(objects_) - 1;
    }
    std::uint64_t classIndex(std::initializer_list<const char*> chain) {
        const std::string name = *chain.begin();
        for (auto& [known, index] : classes_)
            if (known == name) return index;
        const std::uint64_t index = add(classRecord(chain));
        classes_.emplace_back(name, index);
        return index;
    }
    plist_t object(std::initializer_list<const char*> chain) {
        plist_t record = plist_new_dict();
        plist_dict_set_item(record, "$class", plist_new_uid(classIndex(chain)));
        return record;
    }

    std::string finish(std::uint64_t root) {
        plist_t archive = plist_new_dict();
        plist_dict_set_item(archive, "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_dict_set_item(archive, "$version", plist_new_uint(kArchiveVersion));
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(root));
        plist_dict_set_item(archive, "$top", top);
        plist_dict_set_item(archive, "$objects", objects_);
        objects_ = nullptr;
        Plist owner(archive);
        char* bytes = nullptr;
        std::uint32_t length = 0;
        plist_to_bin(archive, &bytes, &length);
        std::string out(bytes ? bytes : "", bytes ? length : 0);
        plist_to_bin_free(bytes);
        return out;
    }

private:
    plist_t objects_;
    std::vector<std::pair<std::string, std::uint64_t>> classes_;
};

std::uint64_t archiveColor(ArchiveWriter& writer, const NSColor& color) {
    const std::initializer_list<const char*> colorClass = {"NSColor", "NSObject"};
    plist_t record = writer.object(colorClass);
    const double* c = color.cgComponents();
    const std::size_t n = color.cgNumberOfComponents();
    std::uint64_t space = 1;
    const char* key = "NSRGB";
    switch (color.space()) {
        case NSColor::Space::sRGB:
        case NSColor::Space::calibratedRGB:
            break;
        case NSColor::Space::deviceRGB:
            space = 2;
            break;
        case NSColor::Space::calibratedWhite:
            space = 3;
            key = "NSWhite";
            break;
        case NSColor::Space::deviceWhite:
            space = 4;
            key = "NSWhite";
            break;
        case NSColor::Space::deviceCMYK:
            space = 5;
            key = "NSCYMK";
            break;
        case NSColor::Space::pattern:
            space = 10;
            key = nullptr;
            break;
    }
    plist_dict_set_item(record, "NSColorSpace", plist_new_uint(space));
    if (key) {
        plist_dict_set_item(record, key, componentData(c, n, true));
    } else {
        plist_dict_set_item(record, kPatternKey, plist_new_string(color.patternImageName().c_str()));
    }
    if (color.space() == NSColor::Space::sRGB) {
        plist_dict_set_item(record, "NSComponents", componentData(c, n, false));
        plist_t colorSpace = writer.object({"NSColorSpace", "NSObject"});
        plist_dict_set_item(colorSpace, "NSID", plist_new_uint(kSRGBSpaceID));
        plist_dict_set_item(record, "NSCustomColorSpace", plist_new_uid(writer.add(colorSpace)));
    }
    return writer.add(record);
}

// ---- reading

struct ArchiveReader {
    plist_t objects = nullptr;

    // A reference: a UID, or in XML archives the dictionary {"CF$UID": n}.
    plist_t at(plist_t uid) const {
        if (!uid) return nullptr;
        std::uint64_t index = 0;
        if (plist_get_node_type(uid) == PLIST_UID) {
            plist_get_uid_val(uid, &index);
        } else if (plist_get_node_type(uid) == PLIST_DICT && plist_dict_get_size(uid) == 1) {
            plist_t value = plist_dict_get_item(uid, "CF$UID");
            if (!value || plist_get_node_type(value) != PLIST_UINT) return nullptr;
            plist_get_uint_val(value, &index);
        } else {
            return nullptr;
        }
        if (index >= plist_array_get_size(objects)) return nullptr;
        return plist_array_get_item(objects, static_cast<std::uint32_t>(index));
    }
    // The object a key of a record refers to; nullptr for none or "$null".
    plist_t member(plist_t record, const char* key) const {
        plist_t object = at(plist_dict_get_item(record, key));
        if (object && plist_get_node_type(object) == PLIST_STRING) {
            const char* text = plist_get_string_ptr(object, nullptr);
            if (text && std::strcmp(text, "$null") == 0 &&
                object == plist_array_get_item(objects, 0))
                return nullptr;
        }
        return object;
    }
    bool isA(plist_t record, const char* className) const {
        if (!record || plist_get_node_type(record) != PLIST_DICT) return false;
        plist_t cls = at(plist_dict_get_item(record, "$class"));
        if (!cls || plist_get_node_type(cls) != PLIST_DICT) return false;
        plist_t classes = plist_dict_get_item(cls, "$classes");
        if (classes && plist_get_node_type(classes) == PLIST_ARRAY) {
            for (std::uint32_t i = 0; i < plist_array_get_size(classes); ++i) {
                const char* name = plist_get_string_ptr(plist_array_get_item(classes, i), nullptr);
                if (name && std::strcmp(name, className) == 0) return true;
            }
        }
        plist_t name = plist_dict_get_item(cls, "$classname");
        const char* text = name ? plist_get_string_ptr(name, nullptr) : nullptr;
        return text && std::strcmp(text, className) == 0;
    }
    std::optional<std::string> string(plist_t node) const {
        if (!node) return std::nullopt;
        if (plist_get_node_type(node) == PLIST_STRING) {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return std::string(text, length);
        }
        // A string archived as an object.
        if (plist_get_node_type(node) == PLIST_DICT && isA(node, "NSString"))
            return string(plist_dict_get_item(node, "NS.string"));
        return std::nullopt;
    }
    std::optional<std::vector<plist_t>> array(plist_t node) const {
        if (!node || plist_get_node_type(node) != PLIST_DICT || !isA(node, "NSArray")) return std::nullopt;
        plist_t items = plist_dict_get_item(node, "NS.objects");
        if (!items || plist_get_node_type(items) != PLIST_ARRAY) return std::nullopt;
        std::vector<plist_t> out;
        for (std::uint32_t i = 0; i < plist_array_get_size(items); ++i) out.push_back(at(plist_array_get_item(items, i)));
        return out;
    }
};

std::optional<std::int64_t> integer(plist_t node) {
    if (!node) return std::nullopt;
    if (plist_get_node_type(node) == PLIST_UINT) {
        std::uint64_t v = 0;
        plist_get_uint_val(node, &v);
        if (v > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(v);
    }
    return std::nullopt;
}

// Numbers of an ASCII component string; a NUL ends it.
std::optional<std::vector<double>> numbers(plist_t node) {
    if (!node) return std::nullopt;
    std::string text;
    if (plist_get_node_type(node) == PLIST_DATA) {
        std::uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        text.assign(bytes, length);
    } else if (plist_get_node_type(node) == PLIST_STRING) {
        std::uint64_t length = 0;
        text.assign(plist_get_string_ptr(node, &length), length);
    } else {
        return std::nullopt;
    }
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    std::vector<double> values;
    std::size_t at = 0;
    while (at < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        const std::string part = text.substr(at, end - at);
        char* stop = nullptr;
        errno = 0;
        const double v = std::strtod(part.c_str(), &stop);
        if (*stop || errno == ERANGE || !std::isfinite(v)) return std::nullopt;
        values.push_back(v);
        at = end;
    }
    return values;
}

NSColorRef unarchiveColor(const ArchiveReader& reader, plist_t record) {
    if (!reader.isA(record, "NSColor")) return nullptr;
    const auto space = integer(plist_dict_get_item(record, "NSColorSpace"));
    if (!space) return nullptr;
    auto read = [&](const char* key, std::size_t count) -> std::optional<std::vector<double>> {
        auto values = numbers(plist_dict_get_item(record, key));
        // Alpha may be left out when it is 1.
        if (values && values->size() == count - 1) values->push_back(1);
        if (!values || values->size() != count) return std::nullopt;
        return values;
    };
    switch (*space) {
        case 1:
        case 2: {
            auto c = read("NSRGB", 4);
            if (!c) return nullptr;
            if (*space == 2) return NSColor::colorWithDeviceRed((*c)[0], (*c)[1], (*c)[2], (*c)[3]);
            plist_t custom = reader.member(record, "NSCustomColorSpace");
            if (custom && plist_get_node_type(custom) == PLIST_DICT &&
                integer(plist_dict_get_item(custom, "NSID")) == static_cast<std::int64_t>(kSRGBSpaceID))
                return NSColor::colorWithRed((*c)[0], (*c)[1], (*c)[2], (*c)[3]);
            return NSColor::colorWithCalibratedRed((*c)[0], (*c)[1], (*c)[2], (*c)[3]);
        }
        case 3:
        case 4: {
            auto c = read("NSWhite", 2);
            if (!c) return nullptr;
            return *space == 3 ? NSColor::colorWithCalibratedWhite((*c)[0], (*c)[1])
                               : NSColor::colorWithDeviceWhite((*c)[0], (*c)[1]);
        }
        case 5: {
            auto c = read(plist_dict_get_item(record, "NSCYMK") ? "NSCYMK" : "NSCMYK", 5);
            if (!c) return nullptr;
            return NSColor::colorWithDeviceCyan((*c)[0], (*c)[1], (*c)[2], (*c)[3], (*c)[4]);
        }
        case 10: {
            plist_t name = plist_dict_get_item(record, kPatternKey);
            auto text = reader.string(name);
            if (!text) return nullptr;
            return NSColor::colorWithPatternImageNamed(*text);
        }
        default:
            return nullptr;
    }
}

std::shared_ptr<NSColorList> parseArchive(const std::string& bytes) {
    plist_t root = nullptr;
    if (bytes.size() > UINT32_MAX) return nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    Plist owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) return nullptr;
    plist_t archiver = plist_dict_get_item(root, "$archiver");
    const char* archiverName = archiver ? plist_get_string_ptr(archiver, nullptr) : nullptr;
    if (!archiverName || std::strcmp(archiverName, "NSKeyedArchiver") != 0) return nullptr;
    ArchiveReader reader;
    reader.objects = plist_dict_get_item(root, "$objects");
    plist_t top = plist_dict_get_item(root, "$top");
    if (!reader.objects || plist_get_node_type(reader.objects) != PLIST_ARRAY || !top ||
        plist_get_node_type(top) != PLIST_DICT)
        return nullptr;
    plist_t list = reader.at(plist_dict_get_item(top, "root"));
    if (!reader.isA(list, "NSColorList")) return nullptr;

    std::optional<std::string> name;
    if (plist_t nameNode = reader.member(list, "NSName")) {
        name = reader.string(nameNode);
        if (!name) return nullptr;
    }
    const auto keys = reader.array(reader.member(list, "NSKeys"));
    const auto colors = reader.array(reader.member(list, "NSColors"));
    if (!keys || !colors || keys->size() != colors->size()) return nullptr;
    auto result = std::make_shared<NSColorList>(name);
    for (std::size_t i = 0; i < keys->size(); ++i) {
        const auto key = reader.string((*keys)[i]);
        NSColorRef color = unarchiveColor(reader, (*colors)[i]);
        if (!key || !color || result->colorWithKey(*key)) return nullptr;
        result->setColor(std::move(color), *key);
    }
    return result;
}

}  // namespace

std::string NSColorList::serialized() const {
    ArchiveWriter writer;
    const std::uint64_t root = writer.reserve();
    plist_t list = writer.object({"NSColorList", "NSObject"});
    if (name_) plist_dict_set_item(list, "NSName", plist_new_uid(writer.add(plist_new_string(name_->c_str()))));
    const std::initializer_list<const char*> arrayClass = {"NSMutableArray", "NSArray", "NSObject"};
    plist_t keys = writer.object(arrayClass);
    plist_t keyItems = plist_new_array();
    for (const auto& key : keys_) plist_array_append_item(keyItems, plist_new_uid(writer.add(plist_new_string(key.c_str()))));
    plist_dict_set_item(keys, "NS.objects", keyItems);
    plist_dict_set_item(list, "NSKeys", plist_new_uid(writer.add(keys)));
    plist_t colors = writer.object(arrayClass);
    plist_t colorItems = plist_new_array();
    for (const auto& color : colors_) plist_array_append_item(colorItems, plist_new_uid(archiveColor(writer, *color)));
    plist_dict_set_item(colors, "NS.objects", colorItems);
    plist_dict_set_item(list, "NSColors", plist_new_uid(writer.add(colors)));
    writer.fill(root, list);
    return writer.finish(root);
}

std::shared_ptr<NSColorList> NSColorList::parse(const std::string& bytes) {
    if (bytes.rfind(kHeader, 0) == 0) return parseText(bytes);
    return parseArchive(bytes);
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
