#pragma once
// The generic store service of one persistent type: every operation opens
// the default store afresh, does its work in at most one write transaction,
// and turns store errors into the store error alert (so callers see an
// object, a result set, or nothing). `delete_` hands its error back instead.

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "Platform/AppKit/NSColor.h"
#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Library/ZNLSortingDescriptor.h"

namespace libraryservice {
// Runs `change` in one write transaction of the default store, committing
// with no tokens to skip. Store failures show the store error alert; the
// result is false then. A non-store exception cancels and propagates.
bool write(const std::function<void(ObjectStore::Realm&)>& change);
// The default store, or nothing after the store error alert.
std::shared_ptr<ObjectStore::Realm> open();
// Removes the object in one write transaction; the error without an alert
// when the store cannot be written (with the alert when it cannot be opened).
std::optional<Foundation::Error> remove(const std::shared_ptr<ObjectStore::Object>& object);
// Inside a write: the item joins the folder after its last colour (flagged
// ones and the item itself counted).
inline void placeInFolder(const std::shared_ptr<ZNLColorFolder>& folder, ZNLColorItem& item) {
    item.setOwner(folder);
    std::int64_t largest = 0;
    bool any = false;
    for (auto& other : folder->objects().objects()) {
        largest = any ? std::max(largest, other->order()) : other->order();
        any = true;
    }
    item.setOrder((any ? largest : 0) + 1);
}
// The same with the largest order among the folder's other colours already
// known (none for an empty folder); the stored item itself counts too.
inline void placeInFolder(const std::shared_ptr<ZNLColorFolder>& folder, ZNLColorItem& item,
                          std::optional<std::int64_t> largestOther) {
    item.setOwner(folder);
    item.setOrder(std::max(item.order(), largestOther.value_or(item.order())) + 1);
}
}  // namespace libraryservice

// The library window's own change for an edited colour (it reloads the
// colour's cell); `ZNLDataService::updateColor` runs it in its transaction.
class ZNLEditedColorHandler {
public:
    virtual ~ZNLEditedColorHandler() = default;
    virtual void updateEditedColor(ZNLColorItem& item, const AppKit::NSColorRef& color,
                                   const std::optional<std::string>& name) = 0;
};

template <class T>
class ZNLServiceProtocol {
public:
    virtual ~ZNLServiceProtocol() = default;
    virtual std::shared_ptr<T> create(std::shared_ptr<T> object) = 0;
    virtual std::shared_ptr<T> update(std::shared_ptr<T> object, const std::function<void(T&)>& change) = 0;
    virtual std::optional<Foundation::Error> delete_(std::shared_ptr<T> object) = 0;
    virtual std::optional<ObjectStore::Results<T>> all() = 0;
    virtual std::optional<ObjectStore::Results<T>> filter(const ObjectStore::Predicate& predicate) = 0;
    virtual std::optional<ObjectStore::Results<T>> sorted(const ObjectStore::Predicate& predicate,
                                                          const ZNLSortingDescriptor& descriptor) = 0;
};

template <class T>
class ZNLDataService : public ZNLServiceProtocol<T> {
public:
    // Adds the new object with a plain add (an object with the same id is an
    // error, shown as the store error alert).
    std::shared_ptr<T> create(std::shared_ptr<T> object) override {
        if (!object) return nullptr;
        return libraryservice::write([&](ObjectStore::Realm& realm) { realm.add(object); }) ? object : nullptr;
    }

    std::shared_ptr<T> update(std::shared_ptr<T> object, const std::function<void(T&)>& change) override {
        if (!object) return nullptr;
        return libraryservice::write([&](ObjectStore::Realm&) { change(*object); }) ? object : nullptr;
    }

    // C++ reserves the name `delete`.
    std::optional<Foundation::Error> delete_(std::shared_ptr<T> object) override {
        return libraryservice::remove(object);
    }

    std::optional<ObjectStore::Results<T>> all() override {
        auto realm = libraryservice::open();
        if (!realm) return std::nullopt;
        return realm->template objects<T>();
    }

    std::optional<ObjectStore::Results<T>> filter(const ObjectStore::Predicate& predicate) override {
        auto realm = libraryservice::open();
        if (!realm) return std::nullopt;
        return realm->template objects<T>().filter(predicate);
    }

    std::optional<ObjectStore::Results<T>> sorted(const ObjectStore::Predicate& predicate,
                                                  const ZNLSortingDescriptor& descriptor) override {
        auto realm = libraryservice::open();
        if (!realm) return std::nullopt;
        return realm->template objects<T>().filter(predicate).sorted(
            descriptor.sortBy, descriptor.sortingOption == ZNLSortingOptions::ascending);
    }

    // --- specialised updates (each one `update` with a fixed change) ---

    // The item joins the folder after its last colour (flagged ones and the
    // item itself counted). Returns the folder.
    std::shared_ptr<T> addItemToFolder(std::shared_ptr<ZNLColorFolder> folder,
                                       std::shared_ptr<ZNLColorItem> item) requires std::is_same_v<T, ZNLColorFolder> {
        return update(folder, [&](ZNLColorFolder&) { libraryservice::placeInFolder(folder, *item); });
    }

    std::shared_ptr<T> renameColor(std::shared_ptr<ZNLColorItem> item,
                                   const std::string& name) requires std::is_same_v<T, ZNLColorItem> {
        return update(item, [&](ZNLColorItem& i) { i.setColorName(name); });
    }

    std::shared_ptr<T> updateColor(std::shared_ptr<ZNLColorItem> item, const AppKit::NSColorRef& color,
                                   const std::optional<std::string>& name,
                                   ZNLEditedColorHandler& window) requires std::is_same_v<T, ZNLColorItem> {
        return update(item, [&](ZNLColorItem& i) { window.updateEditedColor(i, color, name); });
    }

    std::shared_ptr<T> setColorHex(std::shared_ptr<ZNLColorFolder> folder,
                                   const AppKit::NSColor& color) requires std::is_same_v<T, ZNLColorFolder> {
        return update(folder, [&](ZNLColorFolder& f) { f.setColor(hexRGB(color)); });
    }

    std::shared_ptr<T> setColorHexWithAlpha(std::shared_ptr<ZNLColorItem> item,
                                            const AppKit::NSColor& color) requires std::is_same_v<T, ZNLColorItem> {
        return update(item, [&](ZNLColorItem& i) { i.setColor(hexRGBA(color)); });
    }

    std::shared_ptr<T> setFormatId(std::shared_ptr<ZNLColorFolder> folder,
                                   const ColorFormat& format) requires std::is_same_v<T, ZNLColorFolder> {
        return update(folder, [&](ZNLColorFolder& f) { f.setFormatId(format.id); });
    }

    std::shared_ptr<T> renameFolder(std::shared_ptr<ZNLColorFolder> folder,
                                    const std::string& name) requires std::is_same_v<T, ZNLColorFolder> {
        return update(folder, [&](ZNLColorFolder& f) { f.setFolderName(name); });
    }
};
