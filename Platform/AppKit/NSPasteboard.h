#pragma once
// Pasteboards: the general pasteboard (the clipboard) and named ones. A
// pasteboard holds, per declared type, the data written for it; every
// declaration or clearing starts new contents and raises the change count.
// Safe to use from several threads.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Value.h"

namespace AppKit {

using NSPasteboardType = std::string;
inline const NSPasteboardType NSPasteboardTypeString = "public.utf8-plain-text";
inline const std::string NSPasteboardNameGeneral = "Apple CFPasteboard general";
inline const std::string NSPasteboardNameDrag = "Apple CFPasteboard drag";

// An object that puts itself on a pasteboard: its types and, per type, a
// property list (data, a string, ...).
class NSPasteboardWriting {
public:
    virtual ~NSPasteboardWriting() = default;
    virtual std::vector<std::string> writableTypesForPasteboard() const = 0;
    virtual Foundation::Value pasteboardPropertyListForType(const std::string& type) const = 0;
};

// How to read one class of objects back: the types it reads and a factory
// from a property list (nullptr when the property list does not make one).
struct NSPasteboardReadable {
    std::vector<std::string> types;
    std::function<std::shared_ptr<void>(const Foundation::Value&, const std::string&)> make;
};

class NSPasteboard {
public:
    static std::shared_ptr<NSPasteboard> generalPasteboard();
    static std::shared_ptr<NSPasteboard> pasteboardWithName(const std::string& name);

    const std::string& name() const { return name_; }
    long changeCount() const;

    // Empties the pasteboard and declares the types that will be written;
    // returns the new change count. The owner is not kept.
    long declareTypes(const std::vector<NSPasteboardType>& types, const std::shared_ptr<void>& owner = nullptr);
    // Empties the pasteboard (any type may then be written); the new change count.
    long clearContents();

    // False when the type was not declared since the last declaration.
    bool setString(const std::string& string, const NSPasteboardType& type);
    bool setData(const Foundation::Data& data, const NSPasteboardType& type);
    std::optional<std::string> stringForType(const NSPasteboardType& type) const;
    std::optional<Foundation::Data> dataForType(const NSPasteboardType& type) const;
    // The declared types, in declaration order.
    std::vector<NSPasteboardType> types() const;

    // Items: empties the pasteboard and writes one item per object (each
    // with its types and property lists); the new change count.
    long writeObjects(const std::vector<std::shared_ptr<NSPasteboardWriting>>& objects);
    // For each item, the first readable class (in the given order) with a
    // type the item has and a factory that accepts its property list.
    std::vector<std::shared_ptr<void>> readObjectsForClasses(const std::vector<NSPasteboardReadable>& classes) const;
    template <class T>
    std::vector<std::shared_ptr<T>> readObjects(const NSPasteboardReadable& readable) const {
        std::vector<std::shared_ptr<T>> out;
        for (auto& o : readObjectsForClasses({readable})) out.push_back(std::static_pointer_cast<T>(o));
        return out;
    }
    bool canReadItemWithDataConformingToTypes(const std::vector<std::string>& types) const;
    std::size_t itemCount() const;

    explicit NSPasteboard(std::string name) : name_(std::move(name)) {}

    // The input door: another program's text copy (the display is not told
    // the program wrote it). Writes by the program itself to the general
    // pasteboard tell the display (DisplayBackend::pasteboardWritten).
    void writeForOtherProgram(const std::string& text);

private:
    long declareTypesLocked(const std::vector<NSPasteboardType>& types, const std::shared_ptr<void>& owner);
    std::string name_;
    mutable std::mutex mutex_;
    long changeCount_ = 0;
    bool anyType_ = true;
    std::vector<NSPasteboardType> declared_;
    std::map<NSPasteboardType, Foundation::Data> contents_;
    std::vector<std::map<std::string, Foundation::Value>> items_;
};

}  // namespace AppKit
