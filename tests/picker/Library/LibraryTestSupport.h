#pragma once
// A library on a fresh store file, with scripted alerts, a fixed host name,
// a recorder in place of the shell's recent-colours refresh and the manual
// executor.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSHost.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorsLibrary.h"

namespace librarytest {

// A folder or colour stored in the shared library, for fixtures of any kind.
inline std::shared_ptr<ZNLColorFolder> addFolder(const std::string& name, std::int64_t folderId, std::int64_t order = 1,
                                                 const std::optional<std::string>& color = std::nullopt) {
    auto f = std::make_shared<ZNLColorFolder>();
    f->setFolderName(name);
    f->setFolderId(folderId);
    f->setOrder(order);
    if (color) f->setColor(*color);
    return ZNLColorsLibrary::shared().folderService().create(f);
}

inline std::shared_ptr<ZNLColorItem> addItem(const std::shared_ptr<ZNLColorFolder>& folder, const std::string& hex,
                                             std::int64_t order, bool deleted = false) {
    auto item = std::make_shared<ZNLColorItem>();
    item->setColor(hex);
    item->setOrder(order);
    item->setIsDeleted(deleted);
    item->setOwner(folder);
    return ZNLColorsLibrary::shared().colorService().create(item);
}

using ObjectStore::Configuration;
using ObjectStore::Realm;

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        executor = Foundation::TestExecutor::install();
        dir = Foundation::temporaryDirectory();
        configureLibraryStore();
        useStoreAt(dir + "/default.realm");
        auto& defaults = Foundation::UserDefaults::standard();
        for (auto key : {"selectedFolder", "colorFormat"}) defaults.removeObjectForKey(key);
        defaults.set("hexWithHashtag", true);
        defaults.set("capitalizedHex", true);
        alerts = std::make_unique<AppKit::AlertScript>();
        AppKit::NSHost::setLocalizedName("Test Mac");
        ZNLColorsLibrary::setRecentItemsRefresher([this] { ++refreshes; });
    }

    void TearDown() override {
        ZNLColorsLibrary::setRecentItemsRefresher(nullptr);
        ObjectStore::testing::failNextCommits(0);
        alerts.reset();
        AppKit::NSHost::resetLocalizedName();
        executor.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static void useStoreAt(const std::string& path) {
        auto c = Configuration::defaultConfiguration();
        c.path = path;
        Configuration::setDefaultConfiguration(c);
    }
    // Every later open fails: the store's directory does not exist.
    void breakStore() { useStoreAt(dir + "/missing/default.realm"); }

    static ZNLColorsLibrary& library() { return ZNLColorsLibrary::shared(); }

    static std::shared_ptr<ZNLColorFolder> addFolder(const std::string& name, std::int64_t folderId,
                                                     std::int64_t order = 1) {
        return librarytest::addFolder(name, folderId, order);
    }

    static std::shared_ptr<ZNLColorItem> addItem(const std::shared_ptr<ZNLColorFolder>& folder, const std::string& hex,
                                                 std::int64_t order, bool deleted = false) {
        return librarytest::addItem(folder, hex, order, deleted);
    }

    std::string clipboard() const {
        return AppKit::NSPasteboard::generalPasteboard()
            ->stringForType(AppKit::NSPasteboardTypeString)
            .value_or("<none>");
    }

    std::unique_ptr<Foundation::TestExecutor> executor;
    std::unique_ptr<AppKit::AlertScript> alerts;
    std::string dir;
    int refreshes = 0;
};

}  // namespace librarytest
