#pragma once
// One saved colour of the library.

#include <memory>
#include <optional>
#include <string>

#include "Platform/ObjectStore/Object.h"

class ZNLColorFolder;

class ZNLColorItem : public ObjectStore::Object {
public:
    enum PropertyIndex { kId, kColor, kSelectedShade, kCreated, kColorName, kIsDeleted, kOwner, kOrder };

    static ObjectStore::SchemaRef objectSchema();

    // A fresh UUID, "#ffffff", created now, no owner, order 0.
    ZNLColorItem();
    explicit ZNLColorItem(ObjectStore::Binding binding) : Object(std::move(binding)) {}

    std::string id() const { return getString(kId); }
    void setId(std::string v) { set(kId, std::move(v)); }
    std::string color() const { return getString(kColor); }
    void setColor(std::string v) { set(kColor, std::move(v)); }
    std::string selectedShade() const { return getString(kSelectedShade); }
    void setSelectedShade(std::string v) { set(kSelectedShade, std::move(v)); }
    Foundation::Date created() const { return getDate(kCreated); }
    void setCreated(Foundation::Date v) { set(kCreated, v); }
    std::string colorName() const { return getString(kColorName); }
    void setColorName(std::string v) { set(kColorName, std::move(v)); }
    bool isDeleted() const { return getBool(kIsDeleted); }
    void setIsDeleted(bool v) { set(kIsDeleted, v); }
    std::shared_ptr<ZNLColorFolder> owner() const;
    void setOwner(const std::shared_ptr<ZNLColorFolder>& folder);
    std::int64_t order() const { return getInt(kOrder); }
    void setOrder(std::int64_t v) { set(kOrder, v); }

    // `colorName` when it is not empty, else the colour-name table's nearest
    // name for `color` (empty when the table has none).
    virtual std::string displayName() const;
};
