#include "picker/Library/LibraryStore.h"

#include "Platform/Foundation/Text.h"
#include "picker/Library/ZNLColorsLibrary.h"

void configureLibraryStore() {
    ObjectStore::Configuration config;
    config.path = ObjectStore::Configuration::defaultPath("default.realm");
    config.schemaVersion = kLibrarySchemaVersion;
    config.migrationBlock = libraryMigration;
    ObjectStore::Configuration::setDefaultConfiguration(std::move(config));
}

void libraryMigration(ObjectStore::Migration& migration, std::uint64_t oldSchemaVersion) {
    using ObjectRef = std::shared_ptr<ObjectStore::Object>;
    if (oldSchemaVersion <= 7) {
        migration.enumerateObjects("ZNLColorItem", [](const ObjectRef&, const ObjectRef& newObject) {
            if (newObject) newObject->setValue("id", Foundation::makeUUIDString());
        });
        // Only the first "History" folder gets the fixed id: a second one
        // with it would make the primary key clash and the migration fail.
        bool historyTaken = false;
        migration.enumerateObjects("ZNLColorFolder", [&](const ObjectRef& oldObject, const ObjectRef& newObject) {
            if (!newObject) return;
            auto name = oldObject ? oldObject->valueForKey("folderName") : Foundation::Value();
            if (!historyTaken && name == Foundation::Value("History")) {
                historyTaken = true;
                newObject->setValue("id", "history");
            } else {
                newObject->setValue("id", Foundation::makeUUIDString());
            }
        });
    }
    if (oldSchemaVersion <= 9) {
        migration.enumerateObjects("ZNLColorItem", [](const ObjectRef& oldObject, const ObjectRef& newObject) {
            if (!oldObject || !newObject) return;
            auto created = oldObject->valueForKey("creationDate");
            if (created.isDate()) newObject->setValue("created", created);
        });
    }
    if (oldSchemaVersion <= 13) {
        std::int64_t order = 0;
        migration.enumerateObjects("ZNLColorItem", [&](const ObjectRef&, const ObjectRef& newObject) {
            if (newObject) newObject->setValue("order", order++);
        });
    }
}

void repairItemOwners() {
    auto folders = ZNLColorsLibrary::allFolders();
    if (!folders) return;
    auto& service = ZNLColorsLibrary::shared().colorService();
    for (auto& folder : folders->objects()) {
        auto items = folder->items();
        std::vector<std::shared_ptr<ZNLColorItem>> colours;
        for (std::size_t i = 0; i < items.count(); ++i) colours.push_back(items.at<ZNLColorItem>(i));
        for (auto& item : colours)
            if (item) service.update(item, [&](ZNLColorItem& i) { i.setOwner(folder); });
    }
}
