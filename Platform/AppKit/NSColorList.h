#pragma once
// A colour list: an ordered list of named colours. Setting a colour under a
// key that is already there replaces that entry's colour and keeps its place.
//
// File format: the platform's own colour-list file, a keyed archive (binary
// property list, "$archiver" "NSKeyedArchiver", "$version" 100000,
// "$top" {"root": <list>}). The list is an "NSColorList" object with
// "NSName" (absent for a list without a name), "NSKeys" and "NSColors"
// ("NSMutableArray" objects, "NS.objects" in list order). Each colour is an
// "NSColor" with "NSColorSpace" and its components as ASCII numbers ending
// in a NUL, alpha last: 1 calibrated RGB / 2 device RGB "NSRGB", 3 calibrated
// / 4 device white "NSWhite", 5 device CMYK "NSCYMK" (the platform's own
// spelling). An sRGB colour is calibrated RGB that also carries "NSComponents"
// and an "NSCustomColorSpace" whose "NSID" is 7, so it reads back as sRGB
// here and as RGB everywhere else. A pattern colour (no platform form) is
// space 10 with "VXPatternImageName". Numbers are written shortest-exact.
//
// The reader also takes XML archives, archives without alpha (1), and files
// of the earlier text format ("VexilColorList 1" first line, then "name" TAB
// <name>, then <space> TAB <components> TAB <key> lines with "\\", "\t",
// "\n", "\r" escapes).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSColor.h"
#include "Platform/Foundation/Error.h"

namespace AppKit {

class NSColorList {
public:
    explicit NSColorList(std::optional<std::string> name = std::nullopt) : name_(std::move(name)) {}

    const std::optional<std::string>& name() const { return name_; }
    const std::vector<std::string>& allKeys() const { return keys_; }
    NSColorRef colorWithKey(const std::string& key) const;

    void setColor(NSColorRef color, const std::string& key);
    void insertColor(NSColorRef color, const std::string& key, std::size_t index);
    void removeColorWithKey(const std::string& key);

    // Writes the list to the file (replacing it at once: a temporary file
    // renamed over it). False, with the error, when it cannot be written.
    bool writeToFile(const std::string& path, Foundation::Error* error = nullptr) const;
    // The list a file holds; nothing, with the error, when the file cannot
    // be read or is not a colour list.
    static std::shared_ptr<NSColorList> listWithContentsOfFile(const std::string& path,
                                                               Foundation::Error* error = nullptr);

    // The file's bytes, and the list a file's bytes hold (nothing when they
    // are neither form, are truncated, or repeat a key).
    std::string serialized() const;
    static std::shared_ptr<NSColorList> parse(const std::string& bytes);

private:
    std::optional<std::string> name_;
    std::vector<std::string> keys_;
    std::vector<NSColorRef> colors_;
};

}  // namespace AppKit
