#include "Platform/AppKit/NSPasteboard.h"

#include <algorithm>

#include "Platform/AppKit/DisplayBackend.h"

namespace AppKit {

namespace {
// Set while the input door writes another program's copy: that is not ours to announce.
thread_local bool t_otherProgram = false;

void announce(const NSPasteboard& pb) {
    if (!t_otherProgram && pb.name() == NSPasteboardNameGeneral) displayBackend().pasteboardWritten();
}
}  // namespace

void NSPasteboard::writeForOtherProgram(const std::string& text) {
    t_otherProgram = true;
    declareTypes({NSPasteboardTypeString});
    setString(text, NSPasteboardTypeString);
    t_otherProgram = false;
}

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

long NSPasteboard::declareTypes(const std::vector<NSPasteboardType>& types, const std::shared_ptr<void>& owner) {
    long count = declareTypesLocked(types, owner);
    announce(*this);
    return count;
}

long NSPasteboard::declareTypesLocked(const std::vector<NSPasteboardType>& types, const std::shared_ptr<void>&) {
    std::lock_guard lock(mutex_);
    contents_.clear();
    items_.clear();
    declared_.clear();
    for (auto& t : types)
        if (std::find(declared_.begin(), declared_.end(), t) == declared_.end()) declared_.push_back(t);
    anyType_ = false;
    return ++changeCount_;
}

long NSPasteboard::clearContents() {
    long count;
    {
        std::lock_guard lock(mutex_);
        contents_.clear();
        items_.clear();
        declared_.clear();
        anyType_ = true;
        count = ++changeCount_;
    }
    announce(*this);
    return count;
}

bool NSPasteboard::setData(const Foundation::Data& data, const NSPasteboardType& type) {
    {
        std::lock_guard lock(mutex_);
        bool isDeclared = std::find(declared_.begin(), declared_.end(), type) != declared_.end();
        if (!isDeclared) {
            if (!anyType_) return false;
            declared_.push_back(type);
        }
        contents_[type] = data;
    }
    announce(*this);
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

long NSPasteboard::writeObjects(const std::vector<std::shared_ptr<NSPasteboardWriting>>& objects) {
    std::vector<std::map<std::string, Foundation::Value>> items;
    for (auto& o : objects) {
        if (!o) continue;
        std::map<std::string, Foundation::Value> item;
        for (auto& t : o->writableTypesForPasteboard()) item[t] = o->pasteboardPropertyListForType(t);
        items.push_back(std::move(item));
    }
    long count;
    {
        std::lock_guard lock(mutex_);
        contents_.clear();
        declared_.clear();
        anyType_ = false;
        for (auto& item : items)
            for (auto& [t, v] : item) {
                if (std::find(declared_.begin(), declared_.end(), t) == declared_.end()) declared_.push_back(t);
                if (v.isData() && !contents_.count(t)) contents_[t] = v.asData();
                if (v.isString() && !contents_.count(t))
                    contents_[t] = Foundation::Data(v.asString().begin(), v.asString().end());
            }
        items_ = std::move(items);
        count = ++changeCount_;
    }
    announce(*this);
    return count;
}

std::vector<std::shared_ptr<void>> NSPasteboard::readObjectsForClasses(
    const std::vector<NSPasteboardReadable>& classes) const {
    std::vector<std::map<std::string, Foundation::Value>> items;
    {
        std::lock_guard lock(mutex_);
        items = items_;
        if (items.empty() && !contents_.empty()) {
            // Contents written by type (setData/setString) read as one item of data.
            std::map<std::string, Foundation::Value> item;
            for (auto& [t, d] : contents_) item[t] = Foundation::Value(d);
            items.push_back(std::move(item));
        }
    }
    std::vector<std::shared_ptr<void>> out;
    for (auto& item : items)
        for (auto& c : classes) {
            bool made = false;
            for (auto& t : c.types) {
                auto it = item.find(t);
                if (it == item.end() || !c.make) continue;
                if (auto obj = c.make(it->second, t)) {
                    out.push_back(std::move(obj));
                    made = true;
                    break;
                }
            }
            if (made) break;
        }
    return out;
}

bool NSPasteboard::canReadItemWithDataConformingToTypes(const std::vector<std::string>& types) const {
    std::lock_guard lock(mutex_);
    for (auto& t : types)
        if (std::find(declared_.begin(), declared_.end(), t) != declared_.end()) return true;
    return false;
}

std::size_t NSPasteboard::itemCount() const {
    std::lock_guard lock(mutex_);
    return items_.empty() ? (contents_.empty() ? 0 : 1) : items_.size();
}

}  // namespace AppKit
