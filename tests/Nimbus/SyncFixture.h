#pragma once
// Simulated devices of one user sharing one in-process cloud server on the
// manual clock. Each device has its own store file, user defaults and
// notification centre, launches its engine as the application does (zone and
// subscription flags cleared first) and re-posts its pushes as
// "cloudKitDataDidChangeRemotely".

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Nimbus/Keys.h"
#include "Nimbus/SyncEngine.h"
#include "Nimbus/SyncObject.h"
#include "Platform/CloudKit/Container.h"
#include "Platform/Foundation/Directories.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/LibrarySync/LibrarySync.h"

namespace synctest {

using namespace CloudKit;
using Nimbus::SyncEngine;
using Nimbus::SyncObject;

struct Device {
    std::string name;
    std::shared_ptr<CloudServer> server;
    std::shared_ptr<Foundation::UserDefaults> defaults;
    std::shared_ptr<Foundation::NotificationCenter> center = std::make_shared<Foundation::NotificationCenter>();
    std::shared_ptr<ObjectStore::Realm> realm;
    std::shared_ptr<CKContainer> container;
    std::shared_ptr<SyncObject<ZNLColorFolder>> folders;
    std::shared_ptr<SyncObject<ZNLColorItem>> items;
    std::shared_ptr<SyncEngine> engine;
    // While set, this device's pushes arrive but are not heard (a missed notice).
    std::shared_ptr<bool> deaf = std::make_shared<bool>(false);

    Device(std::string deviceName, std::shared_ptr<CloudServer> cloud)
        : name(std::move(deviceName)), server(std::move(cloud)) {
        const std::string dir = Foundation::temporaryDirectory();
        defaults = std::make_shared<Foundation::UserDefaults>(dir + "/preferences.plist");
        ObjectStore::Configuration config;
        config.path = dir + "/default.realm";
        config.schemaVersion = kLibrarySchemaVersion;
        config.migrationBlock = libraryMigration;
        realm = ObjectStore::Realm::open(config);
    }

    Nimbus::SyncEnvironment environment() const {
        return Nimbus::SyncEnvironment{defaults, center, Foundation::DispatchQueue::main()};
    }

    // As the application's start-up does it.
    void launch(bool clearFlags = true) {
        if (clearFlags) {
            defaults->removeObjectForKey(Nimbus::value(Nimbus::NimbusKey::subscriptionIsLocallyCachedKey));
            defaults->set("ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey", false);
            defaults->set("ZNLColorItemnimbus.keys.hasCustomZoneCreatedKey", false);
        }
        container = CKContainer::make(std::make_shared<InProcessTransport>(server, "user", name));
        auto objects = librarysync::makeSyncObjects(realm, environment());
        folders = objects.folders;
        items = objects.items;
        engine = SyncEngine::make({folders, items}, container, realm, environment());
        auto poster = center;
        container->registerForRemoteNotifications([poster, deaf = deaf](const Dictionary& userInfo) {
            if (*deaf) return;
            auto n = CKNotification::fromRemoteNotificationDictionary(userInfo);
            if (n && n->subscriptionID == Nimbus::NimbusConstant::subscriptionID)
                poster->post(Nimbus::name(Nimbus::Notifications::cloudKitDataDidChangeRemotely));
        });
        engine->start();
    }

    void quit() {
        engine.reset();
        folders.reset();
        items.reset();
        container.reset();
    }

    template <class F>
    void write(F&& change) {
        realm->write([&] { change(*realm); });
    }

    std::shared_ptr<ZNLColorFolder> addFolder(const std::string& folderName) {
        auto folder = std::make_shared<ZNLColorFolder>();
        folder->setFolderName(folderName);
        write([&](ObjectStore::Realm& r) { r.add(folder); });
        return folder;
    }

    std::shared_ptr<ZNLColorItem> addColour(const std::string& hex,
                                            const std::shared_ptr<ZNLColorFolder>& folder = nullptr) {
        auto item = std::make_shared<ZNLColorItem>();
        item->setColor(hex);
        item->setOwner(folder);
        write([&](ObjectStore::Realm& r) { r.add(item); });
        return item;
    }

    std::shared_ptr<ZNLColorItem> colour(const std::string& id) const { return realm->object<ZNLColorItem>(id); }
    std::shared_ptr<ZNLColorFolder> folder(const std::string& id) const { return realm->object<ZNLColorFolder>(id); }
    std::size_t colourCount() const { return realm->objects<ZNLColorItem>().count(); }

    std::size_t requests(const std::string& method) const { return server->requestCount(method, name); }
    std::vector<CloudServer::RequestLogEntry> log(const std::string& method) const {
        std::vector<CloudServer::RequestLogEntry> out;
        for (const auto& e : server->requestLog())
            if (e.deviceId == name && e.method == method) out.push_back(e);
        return out;
    }
};

class TwoDevices : public ::testing::Test {
protected:
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<CloudServer> server = std::make_shared<CloudServer>();
    Device a{"A", server};
    Device b{"B", server};

    void TearDown() override {
        a.quit();
        b.quit();
        exec->drain();
    }

    void launchBoth() {
        a.launch();
        exec->drain();
        b.launch();
        exec->drain();
    }
};

}  // namespace synctest
