#pragma once
// One folder (palette) of the library, with the folder-level operations.

#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/NSColorList.h"
#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Object.h"
#include "Platform/ObjectStore/Results.h"
#include "picker/Library/ZNLColorItem.h"

class ZNLColorFolder : public ObjectStore::Object {
public:
    enum PropertyIndex {
        kId,
        kFolderName,
        kFormatId,
        kIsDefault,
        kFolderId,
        kColor,
        kOrder,
        kIsDeleted,
        kItems,
        kObjects
    };

    static ObjectStore::SchemaRef objectSchema();

    // A fresh UUID, empty name, format 1, folder number 0, no colour, order 1.
    ZNLColorFolder();
    explicit ZNLColorFolder(ObjectStore::Binding binding) : Object(std::move(binding)) {}

    std::string id() const { return getString(kId); }
    void setId(std::string v) { set(kId, std::move(v)); }
    std::string folderName() const { return getString(kFolderName); }
    void setFolderName(std::string v) { set(kFolderName, std::move(v)); }
    std::int64_t formatId() const { return getInt(kFormatId); }
    void setFormatId(std::int64_t v) { set(kFormatId, v); }
    bool isDefault() const { return getBool(kIsDefault); }
    void setIsDefault(bool v) { set(kIsDefault, v); }
    std::int64_t folderId() const { return getInt(kFolderId); }
    void setFolderId(std::int64_t v) { set(kFolderId, v); }
    std::optional<std::string> color() const { return getOptionalString(kColor); }
    void setColor(std::optional<std::string> v) { set(kColor, v ? Foundation::Value(*v) : Foundation::Value()); }
    std::int64_t order() const { return getInt(kOrder); }
    void setOrder(std::int64_t v) { set(kOrder, v); }
    bool isDeleted() const { return getBool(kIsDeleted); }
    void setIsDeleted(bool v) { set(kIsDeleted, v); }
    // The older list of the folder's colours, read only by the owner repair.
    ObjectStore::List items() const { return getList(kItems); }
    // The colours whose owner is this folder.
    ObjectStore::Results<ZNLColorItem> objects() const;

    // The number for a new folder: the last stored folder's number plus one
    // (1 for an empty store); when that number is already taken, the largest
    // number plus one. Nothing when the store cannot be opened (after the
    // store error alert) or no larger number exists.
    static std::optional<std::int64_t> nextFolderId();

    // Moves the live colour at `source` to `destination` (both counted among
    // the live colours sorted by order) by handing the order values round.
    // False, with nothing changed and no alert, when the store cannot be
    // opened or written, or a position is out of range.
    virtual bool moveItems(std::int64_t source, std::int64_t destination);

    // The folder's live colours in store order, keyed by name; a name met
    // again gets " 2", " 3", ... so every colour keeps its own entry.
    virtual std::shared_ptr<AppKit::NSColorList> colorList() const;
    // Writes `colorList` to the file; the write's error when it fails.
    virtual std::optional<Foundation::Error> writeColorList(const std::string& path) const;
};
