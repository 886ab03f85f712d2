#pragma once
// A colour list: an ordered list of named colours. Setting a colour under a
// key that is already there replaces that entry's colour and keeps its place.
//
// File format (ours; UTF-8 text, one record per line, "\n" line ends):
//   line 1:  "VexilColorList 1"
//   line 2:  "name" TAB <name>            or just "name" for a list without a name
//   then one line per entry, in list order:
//            <colour space> TAB <components> TAB <key>
// where <colour space> is one of "sRGB", "calibratedRGB", "deviceRGB",
// "calibratedWhite", "deviceWhite", "deviceCMYK", "pattern"; <components> are
// the colour's numbers separated by single spaces, each printed with 17
// significant digits so that it reads back exactly ("r g b a", "w a",
// "c m y k a"; for a pattern, the image name); and text fields escape
// backslash, tab, line feed and carriage return as "\\", "\t", "\n", "\r".
// Reading back gives the same names, keys, order and colours.

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

    std::string serialized() const;
    static std::shared_ptr<NSColorList> parse(const std::string& text);

private:
    std::optional<std::string> name_;
    std::vector<std::string> keys_;
    std::vector<NSColorRef> colors_;
};

}  // namespace AppKit
