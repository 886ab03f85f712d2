#include "picker/LibrarySync/LibrarySync.h"

#include <algorithm>
#include <limits>
#include <string>

#include "Nimbus/Keys.h"
#include "Platform/ObjectStore/Predicate.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLDataService.h"
#include "picker/Library/ZNLColorsLibrary.h"

namespace librarysync {

void prepareLibraryAtLaunch(Foundation::UserDefaults& defaults) {
    defaults.removeObjectForKey(Nimbus::value(Nimbus::NimbusKey::subscriptionIsLocallyCachedKey));
    defaults.set("ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey", false);
    defaults.set("ZNLColorItemnimbus.keys.hasCustomZoneCreatedKey", false);
    if (defaults.objectForKey("useCloudKit").isNull()) defaults.set("useCloudKit", true);
    configureLibraryStore();
    repairItemOwners();
    ZNLColorsLibrary::createDefaultFolder();
}

void keepFolderNumbersUnique(ObjectStore::Realm& realm, ZNLColorFolder& arrived,
                             const std::optional<std::int64_t>& previousNumber, Foundation::UserDefaults& defaults) {
    auto selected = [&]() -> std::optional<std::int64_t> {
        auto text = defaults.stringForKey("selectedFolder");
        if (!text) return std::nullopt;
        try {
            std::size_t used = 0;
            long long number = std::stoll(*text, &used);
            if (used != text->size()) return std::nullopt;
            return static_cast<std::int64_t>(number);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    // The arrived folder's own number changed (another device moved it).
    if (previousNumber && *previousNumber != arrived.folderId() && selected() == *previousNumber) {
        bool otherHasIt = false;
        for (const auto& f : realm.objects<ZNLColorFolder>().filter("isDeleted == false").objects())
            if (f->id() != arrived.id() && f->folderId() == *previousNumber) otherHasIt = true;
        if (!otherHasIt) defaults.set("selectedFolder", std::to_string(arrived.folderId()));
    }
    if (arrived.isDeleted()) return;
    std::shared_ptr<ZNLColorFolder> other;
    std::int64_t largest = std::numeric_limits<std::int64_t>::min();
    for (const auto& f : realm.objects<ZNLColorFolder>().objects()) {
        largest = std::max(largest, f->folderId());
        if (f->id() != arrived.id() && !f->isDeleted() && f->folderId() == arrived.folderId() && !other) other = f;
    }
    if (!other || largest == std::numeric_limits<std::int64_t>::max()) return;
    const std::int64_t number = arrived.folderId();
    const std::int64_t next = largest + 1;
    if (other->id() > arrived.id()) {
        other->setFolderId(next);
        // The selected number named the folder that was here before.
        if (selected() == number) defaults.set("selectedFolder", std::to_string(next));
    } else {
        arrived.setFolderId(next);
    }
}

void mergeHistoryFolders(ObjectStore::Realm& realm, const std::shared_ptr<ZNLColorFolder>& arrived,
                         Foundation::UserDefaults& defaults) {
    if (!arrived || arrived->isDeleted() || arrived->folderName() != "History") return;
    // The winner is the same on every device: the shared id, else the id
    // that sorts first.
    std::vector<std::shared_ptr<ZNLColorFolder>> histories;
    for (const auto& f : realm.objects<ZNLColorFolder>().filter("isDeleted == false").objects())
        if (f->folderName() == "History") histories.push_back(f);
    if (histories.size() < 2) return;
    auto winner = histories[0];
    for (const auto& f : histories) {
        const bool shared = f->id() == kHistoryFolderID, winnerShared = winner->id() == kHistoryFolderID;
        if ((shared && !winnerShared) || (shared == winnerShared && f->id() < winner->id())) winner = f;
    }
    const auto selected = defaults.stringForKey("selectedFolder");
    for (const auto& other : histories) {
        if (other->id() == winner->id()) continue;
        std::vector<std::shared_ptr<ZNLColorItem>> colours;
        for (const auto& item : realm.objects<ZNLColorItem>().objects()) {
            auto owner = item->owner();
            if (owner && owner->id() == other->id()) colours.push_back(item);
        }
        for (const auto& item : colours) libraryservice::placeInFolder(winner, *item);
        other->setIsDeleted(true);
        if (selected && *selected == std::to_string(other->folderId()))
            defaults.set("selectedFolder", std::to_string(winner->folderId()));
    }
}

SyncObjects makeSyncObjects(const std::shared_ptr<ObjectStore::Realm>& realm, Nimbus::SyncEnvironment environment) {
    SyncObjects objects;
    objects.folders = Nimbus::SyncObject<ZNLColorFolder>::make(realm, environment);
    objects.items = Nimbus::SyncObject<ZNLColorItem>::make(realm, environment);
    auto defaults = objects.folders->environment().defaults;
    objects.folders->setAppliedRecordHook([defaults](ObjectStore::Realm& store,
                                                     const std::shared_ptr<ObjectStore::Object>& object,
                                                     const std::optional<CloudKit::CKRecord>& previous) {
        auto folder = std::dynamic_pointer_cast<ZNLColorFolder>(object);
        if (!folder) folder = store.object<ZNLColorFolder>(object->value("id"));
        if (!folder) return;
        std::optional<std::int64_t> previousNumber;
        if (previous) {
            auto v = previous->objectForKey("folderId");
            if (v.isInt()) previousNumber = v.asInt();
        }
        keepFolderNumbersUnique(store, *folder, previousNumber, *defaults);
        mergeHistoryFolders(store, folder, *defaults);
    });
    return objects;
}

std::shared_ptr<Nimbus::SyncEngine> startCloudSync(std::shared_ptr<CloudKit::CKContainer> container,
                                                   Nimbus::SyncEnvironment environment) {
    auto& defaults = environment.defaults ? *environment.defaults : Foundation::UserDefaults::standard();
    if (!defaults.boolForKey("useCloudKit")) return nullptr;
    std::shared_ptr<ObjectStore::Realm> realm;
    try {
        realm = ObjectStore::Realm::open();
    } catch (const ObjectStore::RealmError&) {
        return nullptr;
    }
    if (!container) container = CloudKit::CKContainer::defaultContainer();
    auto objects = makeSyncObjects(realm, environment);
    auto engine = Nimbus::SyncEngine::make({objects.folders, objects.items}, container, realm, environment);
    engine->start();
    return engine;
}

}  // namespace librarysync
