#pragma once
// The library's store configuration, its migration and the owner repair run
// at start-up.

#include <cstdint>

#include "Platform/ObjectStore/Realm.h"

inline constexpr std::uint64_t kLibrarySchemaVersion = 15;

// Installs the process-wide default configuration: "default.realm" in the
// application-support directory, schema version 15, `libraryMigration`,
// every persistent type.
void configureLibraryStore();

// The library's migration from older schema versions.
void libraryMigration(ObjectStore::Migration& migration, std::uint64_t oldSchemaVersion);

// Moves each folder's `items` onto the items' `owner` link.
void repairItemOwners();
