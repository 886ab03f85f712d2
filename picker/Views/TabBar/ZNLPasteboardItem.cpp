#include "picker/Views/TabBar/ZNLPasteboardItem.h"

#include <mutex>

namespace Vexil::Views {
using namespace Foundation;

void ZNLPasteboardItem::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encode("colorIndex", colorIndex ? Value(*colorIndex) : Value());
    coder.encode("colorString", colorString ? Value(*colorString) : Value());
    coder.encode("folderId", folderId ? Value(*folderId) : Value());
}

void ZNLPasteboardItem::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerCodingClass("ZNLPasteboardItem", [](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
            // Every field present and of its type, or no item.
            Value index = coder.decodeObjectForKey("colorIndex");
            Value text = coder.decodeObjectForKey("colorString");
            Value folder = coder.decodeObjectForKey("folderId");
            if (!index.isInt() || !text.isString() || !folder.isInt()) return nullptr;
            return std::make_shared<ZNLPasteboardItem>(text.asString(), folder.asInt(), index.asInt());
        });
    });
}

std::optional<Data> ZNLPasteboardItem::pasteboardPropertyList(const std::string& type) const {
    if (type != kColorDragType) return std::nullopt;
    auto self = std::make_shared<ZNLPasteboardItem>(*this);
    return KeyedArchiver::archivedData(Value(std::static_pointer_cast<Object>(self)));
}

std::shared_ptr<ZNLPasteboardItem> ZNLPasteboardItem::fromPasteboardPropertyList(const Data& data,
                                                                                 const std::string& type) {
    if (type != kColorDragType) return nullptr;
    registerClass();
    return KeyedUnarchiver::unarchivedObject<ZNLPasteboardItem>(data);
}

}  // namespace Vexil::Views

namespace Vexil::Views {

AppKit::NSPasteboardReadable ZNLPasteboardItem::readable() {
    return {{kColorDragType}, [](const Value& plist, const std::string& type) -> std::shared_ptr<void> {
                if (!plist.isData()) return nullptr;
                return fromPasteboardPropertyList(plist.asData(), type);
            }};
}

}  // namespace Vexil::Views
