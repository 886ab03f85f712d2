#pragma once
// The payload of a colour dragged from the library: the stored colour text,
// the folder it came from and its position there, under the app's private type.
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/KeyedArchiver.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Vexil::Views {

inline const std::string kColorDragType = "com.tarnwick.vexil";

class ZNLPasteboardItem : public Foundation::Coding {
public:
    ZNLPasteboardItem(std::string colorString, std::int64_t folderId, std::int64_t colorIndex)
        : colorString(std::move(colorString)), folderId(folderId), colorIndex(colorIndex) {}
    std::optional<std::string> colorString;
    std::optional<std::int64_t> folderId;
    std::optional<std::int64_t> colorIndex;

    std::string className() const override { return "ZNLPasteboardItem"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    // Registers the decoder (once per process; the first use does it).
    static void registerClass();

    // The archive under our type; nothing under any other.
    std::optional<Foundation::Data> pasteboardPropertyList(const std::string& type) const;
    // The item from an archive of ours. Other types, bytes that are no archive,
    // archives of any other class and archives missing a field give nothing.
    static std::shared_ptr<ZNLPasteboardItem> fromPasteboardPropertyList(const Foundation::Data& data,
                                                                         const std::string& type);
    // How a pasteboard reads the item back (objects of this class under our type).
    static AppKit::NSPasteboardReadable readable();
};

}  // namespace Vexil::Views
