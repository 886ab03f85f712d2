#include "Platform/AppKit/NSPasteboard.h"

#include <algorithm>

namespace AppKit {

std::shared_ptr<NSPasteboard> NSPasteboard::generalPasteboard() { return pasteboardWithName(NSPasteboardNameGeneral); }

std::shared_ptr<NSPasteboard> NSPasteboard::pasteboardWithName(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<NSPasteboard>> boards;
    std::lock_guard lock(mutex);
    auto& board = boards[name];
    if (!board) board = std::make_shared<NSPasteboard>(name);
    return board;
}

long NSPasteboard::changeCount() const {
    std::lock_guard lock(mutex_);
    return changeCount_;
}

long NSPasteboard::declareTypes(const std::vector<NSPasteboardType>& types, const std::shared_ptr<void>&) {
    std::lock_guard lock(mutex_);
    contents_.clear();
    declared_.clear();
    for (auto& t : types)
        if (std::find(declared_.begin(), declared_.end(), t) == declared_.end()) declared_.push_back(t);
    anyType_ = false;
    return ++changeCount_;
}

long NSPasteboard::clearContents() {
    std::lock_guard lock(mutex_);
    contents_.clear();
    declared_.clear();
    anyType_ = true;
    return ++changeCount_;
}

bool NSPasteboard::setData(const Foundation::Data& data, const NSPasteboardType& type) {
    std::lock_guard lock(mutex_);
    bool isDeclared = std::find(declared_.begin(), declared_.end(), type) != declared_.end();
    if (!isDeclared) {
        if (!anyType_) return false;
        declared_.push_back(type);
    }
    contents_[type] = data;
    return true;
}

bool NSPasteboard::setString(const std::string& string, const NSPasteboardType& type) {
    return setData(Foundation::Data(string.begin(), string.end()), type);
}

std::optional<Foundation::Data> NSPasteboard::dataForType(const NSPasteboardType& type) const {
    std::lock_guard lock(mutex_);
    auto it = contents_.find(type);
    if (it == contents_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> NSPasteboard::stringForType(const NSPasteboardType& type) const {
    auto data = dataForType(type);
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
}

std::vector<NSPasteboardType> NSPasteboard::types() const {
    std::lock_guard lock(mutex_);
    return declared_;
}

}  // namespace AppKit
