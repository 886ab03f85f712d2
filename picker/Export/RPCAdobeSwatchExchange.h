#pragma once
// Adobe Swatch Exchange files (ase): the writer puts a colour list into one
// group of RGB colours; the reader takes any file's colour entries into one
// colour list.
//
// Layout, all numbers big-endian: "ASEF", version 1.0 (two UInt16), the block
// count (UInt32), then blocks of type (UInt16) and length (UInt32, the bytes
// after these six). Group start 0xC001: name; group end 0xC002: empty; colour
// entry 0x0001: name, model ("RGB ", "CMYK", "LAB ", "Gray"), that many
// singles (3, 4, 3, 1), colour type (UInt16). A name is its length in UTF-16
// units with the terminator (UInt16), then UTF-16BE units ending in 0x0000.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Platform/AppKit/NSColorList.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

enum class SwatchWriteResult {
    written,       // the only success
    noColorList,   // nothing to write
    fileExists,    // refused: a file is already at the path (left untouched)
    cannotCreate,  // the file could not be created
    writeFailed,   // a write failed; the partial file has been removed
};

class RPCAdobeSwatchExchange {
public:
    // Group name of a list without one.
    static constexpr const char* kUnnamedGroup = "Imported Mac Colorlist";
    // Names are cut to this many UTF-16 units (never inside a surrogate pair).
    static constexpr std::size_t kMaxNameUnits = 512;

    // The bytes the writer writes for the list.
    static Foundation::Data encode(const AppKit::NSColorList& list);

    // Creates the file (never replacing one) and writes the list; each
    // refusal or failure is logged and answered by its own result, with the
    // error when asked for.
    static SwatchWriteResult writeColorList(const std::shared_ptr<AppKit::NSColorList>& list, const std::string& path,
                                            Foundation::Error* error = nullptr);

    // Reads a file into a new list named `listName` (held in `colors`),
    // appending to `colorNames` and `colorList`. False, with the error, for
    // a file that cannot be read, is not a swatch file, or is truncated or
    // corrupt (what was read before the fault stays in the lists).
    bool readFromFile(const std::string& path, const std::string& listName, Foundation::Error* error = nullptr);
    bool readFromData(std::span<const std::uint8_t> bytes, const std::string& listName,
                      Foundation::Error* error = nullptr);

    Foundation::Dictionary colorGroups;  // kept for shape; nothing reads or writes it
    std::string listName;                // likewise
    std::shared_ptr<AppKit::NSColorList> colors;
    std::vector<std::string> colorNames;
    std::vector<AppKit::NSColorRef> colorList;

private:
    struct Reader;
    // One block at the reader; false, with the error, when it does not fit.
    bool readBlock(Reader& reader, Foundation::Error* error);
    std::string freeName(std::string name);

    std::unordered_set<std::string> takenNames_;
    std::unordered_map<std::string, long> nextSuffix_;
};
