#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <vector>

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLErrorHandler.h"

using Property = ObjectStore::Property;
using ObjectStore::PropertyType;

namespace {
ObjectStore::ObjectTypeRegistration<ZNLColorItem> itemRegistration;
ObjectStore::ObjectTypeRegistration<ZNLColorFolder> folderRegistration;
}  // namespace

// --- ZNLColorItem -------------------------------------------------------------------

ObjectStore::SchemaRef ZNLColorItem::objectSchema() {
    static ObjectStore::SchemaRef schema = [] {
        auto s = std::make_shared<ObjectStore::ObjectSchema>();
        s->className = "ZNLColorItem";
        s->primaryKey = "id";
        s->properties = {Property::make("id", PropertyType::String),
                         Property::make("color", PropertyType::String, "#ffffff"),
                         Property::make("selectedShade", PropertyType::String, "#ffffff"),
                         Property::make("created", PropertyType::Date),
                         Property::make("colorName", PropertyType::String),
                         Property::make("isDeleted", PropertyType::Bool),
                         Property::makeLink("owner", "ZNLColorFolder"),
                         Property::make("order", PropertyType::Int)};
        return s;
    }();
    return schema;
}

ZNLColorItem::ZNLColorItem() : Object(objectSchema()) {
    set(kId, Foundation::makeUUIDString());
    set(kCreated, Foundation::Date{Foundation::clock().now()});
}

std::shared_ptr<ZNLColorFolder> ZNLColorItem::owner() const {
    return std::dynamic_pointer_cast<ZNLColorFolder>(getLink(kOwner));
}

void ZNLColorItem::setOwner(const std::shared_ptr<ZNLColorFolder>& folder) { setLink(kOwner, folder); }

std::string ZNLColorItem::displayName() const {
    std::string name = colorName();
    if (!name.empty()) return name;
    auto color = colorWithHex(this->color());
    return color ? sharedColorNames().nameForColor(*color).value_or("") : std::string();
}

// --- ZNLColorFolder -------------------------------------------------------------------

ObjectStore::SchemaRef ZNLColorFolder::objectSchema() {
    static ObjectStore::SchemaRef schema = [] {
        auto s = std::make_shared<ObjectStore::ObjectSchema>();
        s->className = "ZNLColorFolder";
        s->primaryKey = "id";
        s->properties = {Property::make("id", PropertyType::String),
                         Property::make("folderName", PropertyType::String),
                         Property::make("formatId", PropertyType::Int, std::int64_t{1}),
                         Property::make("isDefault", PropertyType::Bool),
                         Property::make("folderId", PropertyType::Int),
                         Property::makeOptional("color", PropertyType::String),
                         Property::make("order", PropertyType::Int, std::int64_t{1}),
                         Property::make("isDeleted", PropertyType::Bool),
                         Property::makeList("items", PropertyType::Object, "ZNLColorItem"),
                         Property::makeLinkingObjects("objects", "ZNLColorItem", "owner")};
        return s;
    }();
    return schema;
}

ZNLColorFolder::ZNLColorFolder() : Object(objectSchema()) { set(kId, Foundation::makeUUIDString()); }

ObjectStore::Results<ZNLColorItem> ZNLColorFolder::objects() const {
    return ObjectStore::Results<ZNLColorItem>(getLinkingObjects(kObjects));
}

std::optional<std::int64_t> ZNLColorFolder::nextFolderId() {
    std::shared_ptr<ObjectStore::Realm> realm;
    try {
        realm = ObjectStore::Realm::open();
    } catch (const ObjectStore::RealmError& e) {
        ZNLErrorHandler::shared().handle(e.error());
        return std::nullopt;
    }
    auto folders = realm->objects<ZNLColorFolder>().objects();
    if (folders.empty()) return 1;
    std::int64_t last = folders.back()->folderId();
    std::int64_t largest = last;
    bool taken = false;
    for (auto& f : folders) {
        largest = std::max(largest, f->folderId());
        if (last != std::numeric_limits<std::int64_t>::max() && f->folderId() == last + 1) taken = true;
    }
    // Last plus one keeps numbers growing as folders are added; a number
    // already taken (folders stored out of order) would make two folders
    // answer to it, so then the number after the largest is used.
    std::int64_t base = taken ? largest : last;
    if (base == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return base + 1;
}

bool ZNLColorFolder::moveItems(std::int64_t source, std::int64_t destination) {
    std::shared_ptr<ObjectStore::Realm> realm;
    try {
        realm = ObjectStore::Realm::open();
        realm->beginWrite();
    } catch (const ObjectStore::RealmError&) {
        return false;
    }
    auto sorted = objects().filter("isDeleted == false").sorted("order").objects();
    auto count = static_cast<std::int64_t>(sorted.size());
    if (source < 0 || source >= count || destination < 0 || destination >= count) {
        realm->cancelWrite();
        return false;
    }
    std::vector<std::int64_t> before;
    for (auto& item : sorted) before.push_back(item->order());
    std::vector<std::int64_t> after = before;
    std::int64_t moved = after[static_cast<std::size_t>(source)];
    after.erase(after.begin() + source);
    after.insert(after.begin() + destination, moved);
    std::map<std::int64_t, std::int64_t> mapping;
    for (std::size_t i = 0; i < after.size(); ++i) mapping[after[i]] = before[i];
    try {
        for (auto& item : sorted)
            if (auto it = mapping.find(item->order()); it != mapping.end()) item->setOrder(it->second);
        realm->commitWrite({});
    } catch (const ObjectStore::RealmError&) {
        if (realm->isInWriteTransaction()) realm->cancelWrite();
        return false;
    }
    return true;
}

std::shared_ptr<AppKit::NSColorList> ZNLColorFolder::colorList() const {
    struct Entry {
        AppKit::NSColorRef color;
        std::string name;
    };
    std::vector<Entry> entries;
    std::set<std::string> names;
    for (auto& item : objects().filter("isDeleted == false").objects()) {
        auto color = colorWithHex(item->color());
        std::string name = item->colorName();
        if (name.empty()) name = sharedColorNames().nameForColor(*color).value_or("");
        names.insert(name);
        entries.push_back({color, std::move(name)});
    }
    // A list holds one colour per name: a repeated name becomes "<name> 2",
    // "<name> 3", ... (skipping names the folder uses itself), so no colour
    // of the folder is lost in the file.
    auto list = std::make_shared<AppKit::NSColorList>();
    std::set<std::string> used;
    for (auto& entry : entries) {
        std::string key = entry.name;
        for (long n = 2; used.count(key) || (key != entry.name && names.count(key)); ++n)
            key = entry.name + " " + std::to_string(n);
        used.insert(key);
        list->setColor(entry.color, key);
    }
    return list;
}

std::optional<Foundation::Error> ZNLColorFolder::writeColorList(const std::string& path) const {
    Foundation::Error error;
    if (colorList()->writeToFile(path, &error)) return std::nullopt;
    return error;
}
