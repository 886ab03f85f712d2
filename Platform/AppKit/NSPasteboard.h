#pragma once
// Pasteboards: the general pasteboard (the clipboard) and named ones. A
// pasteboard holds, per declared type, the data written for it; every
// declaration or clearing starts new contents and raises the change count.
// Safe to use from several threads.

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

    explicit NSPasteboard(std::string name) : name_(std::move(name)) {}

private:
    std::string name_;
    mutable std::mutex mutex_;
    long changeCount_ = 0;
    bool anyType_ = true;
    std::vector<NSPasteboardType> declared_;
    std::map<NSPasteboardType, Foundation::Data> contents_;
};

}  // namespace AppKit
