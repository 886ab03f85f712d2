#pragma once
// The colour library's cloud sync as start-up builds it: the library steps
// of launch, the two sync objects (folders first, then colours) with the
// library's own rule for fetched folders, and the engine on a container.
// The status-bar shell and tools/sync-soak's driver both build it this way.

#include <cstdint>
#include <memory>
#include <optional>

#include "Nimbus/SyncEngine.h"
#include "Nimbus/SyncObject.h"
#include "Platform/CloudKit/Container.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"

namespace librarysync {

// Launch, in order: the cloud flags are cleared (zones and subscription are
// asked for again), "useCloudKit" is stored true when it has no value, the
// store is configured, item owners are repaired, and the folder named after
// the computer is made when missing.
void prepareLibraryAtLaunch(Foundation::UserDefaults& defaults = Foundation::UserDefaults::standard());

// Inside the write that applies a fetched folder: when another live folder
// has its number, the one whose `id` sorts last takes the number after the
// largest in the store. Every device applies the same rule, so both copies
// agree on which folder moves. The selected folder follows its folder when
// its number changes.
void keepFolderNumbersUnique(ObjectStore::Realm& realm, ZNLColorFolder& arrived,
                             const std::optional<std::int64_t>& previousNumber, Foundation::UserDefaults& defaults);

// Inside the write that applies a fetched folder named "History": when more
// than one live folder is named so, the one with id "history" (else the id
// that sorts first, the same on every device) takes the others' colours and
// they are flagged deleted, so the deletions go through sync. The selected
// folder follows.
void mergeHistoryFolders(ObjectStore::Realm& realm, const std::shared_ptr<ZNLColorFolder>& arrived,
                         Foundation::UserDefaults& defaults);

struct SyncObjects {
    std::shared_ptr<Nimbus::SyncObject<ZNLColorFolder>> folders;
    std::shared_ptr<Nimbus::SyncObject<ZNLColorItem>> items;
};
// The two sync objects on a store, with the folder rule installed (using the
// environment's defaults for the selected folder).
SyncObjects makeSyncObjects(const std::shared_ptr<ObjectStore::Realm>& realm,
                            Nimbus::SyncEnvironment environment = Nimbus::SyncEnvironment::standard());

// With "useCloudKit" on: the engine over both sync objects, on stores of the
// default configuration and the given container (the default one when none),
// started. Nothing when sync is off or the store cannot be opened.
std::shared_ptr<Nimbus::SyncEngine> startCloudSync(
    std::shared_ptr<CloudKit::CKContainer> container = nullptr,
    Nimbus::SyncEnvironment environment = Nimbus::SyncEnvironment::standard());

}  // namespace librarysync
