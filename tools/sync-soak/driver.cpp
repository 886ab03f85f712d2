// vexil-sync-driver: one copy of the application for tools/sync-soak. It
// starts the library and its cloud sync the way start-up does, then reads
// commands on standard input and answers each with one JSON line:
//   edit <seed> <count>  random edits through the library facade, as the
//                        application's actions make them; answers what changed
//   sync                 a pull, as on a remote change notice (the push of
//                        pending changes follows it)
//   state                the live library, flagged objects and pending changes
//   quit                 terminates as the application does
// Environment: VEXIL_HOME (this copy's home), VEXIL_CLOUD_URL, VEXIL_CLOUD_USER,
// VEXIL_CLOUD_DEVICE.

#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "Nimbus/Keys.h"
#include "Nimbus/RecordMapping.h"
#include "Nimbus/RecordState.h"
#include "Platform/CloudKit/Wire.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/LibrarySync/LibrarySync.h"

namespace {

using Json = nlohmann::json;

std::shared_ptr<Nimbus::SyncEngine> gEngine;

void reply(const Json& json) { std::cout << json.dump() << std::endl; }

std::string randomHex(std::mt19937& rng) {
    static const char* digits = "0123456789abcdef";
    std::string hex = "#";
    for (int i = 0; i < 6; ++i) hex += digits[rng() % 16];
    return hex + "ff";
}

std::string randomName(std::mt19937& rng) {
    static const char* words[] = {"Dawn", "Dusk", "Moss", "Ink", "Slate", "Fog", "Rust", "Sand", "Plum", "Teal"};
    return std::string(words[rng() % 10]) + " " + std::to_string(rng() % 1000);
}

template <class T>
std::vector<std::shared_ptr<T>> live(ZNLDataService<T>& service) {
    auto results = service.filter(ObjectStore::Predicate("isDeleted == false"));
    return results ? results->objects() : std::vector<std::shared_ptr<T>>{};
}

Json edit(unsigned seed, int count) {
    std::mt19937 rng(seed);
    auto& library = ZNLColorsLibrary::shared();
    Json edits = Json::array();
    auto set = [&](const std::string& id, const char* field, const std::string& value) {
        edits.push_back({{"op", "set"}, {"id", id}, {"field", field}, {"value", value}});
    };
    for (int i = 0; i < count; ++i) {
        auto colours = live(library.colorService());
        auto folders = live(library.folderService());
        switch (rng() % 10) {
            case 0:
            case 1: {  // a picked colour, then the push after a pick
                auto item = library.addColor(randomHex(rng), ZNLColorsLibrary::historyFolder());
                if (item) edits.push_back({{"op", "add"}, {"id", item->id()}, {"type", "ZNLColorItem"}});
                if (gEngine) gEngine->pushAll();
                break;
            }
            case 2: {  // a colour saved into a folder
                if (folders.empty()) break;
                auto item = library.addColor(randomHex(rng), folders[rng() % folders.size()]);
                if (item) edits.push_back({{"op", "add"}, {"id", item->id()}, {"type", "ZNLColorItem"}});
                break;
            }
            case 3: {
                if (colours.empty()) break;
                auto item = colours[rng() % colours.size()];
                std::string name = randomName(rng);
                if (library.colorService().renameColor(item, name)) set(item->id(), "colorName", name);
                break;
            }
            case 4: {
                if (colours.empty()) break;
                auto item = colours[rng() % colours.size()];
                auto color = colorWithHex(randomHex(rng));
                if (color && library.colorService().setColorHexWithAlpha(item, *color))
                    set(item->id(), "color", item->color());
                break;
            }
            case 5: {
                if (colours.empty()) break;
                auto item = colours[rng() % colours.size()];
                if (library.colorService().update(item, [](ZNLColorItem& c) { markDeleted(c); }))
                    edits.push_back({{"op", "delete"}, {"id", item->id()}});
                break;
            }
            case 6: {
                auto number = ZNLColorFolder::nextFolderId();
                if (!number) break;
                auto folder = std::make_shared<ZNLColorFolder>();
                folder->setFolderName(randomName(rng));
                folder->setFolderId(*number);
                folder->setOrder(static_cast<std::int64_t>(rng() % 5));
                if (library.folderService().create(folder))
                    edits.push_back({{"op", "add"}, {"id", folder->id()}, {"type", "ZNLColorFolder"}});
                break;
            }
            case 7:
            case 8: {
                if (folders.empty()) break;
                auto folder = folders[rng() % folders.size()];
                std::string name = randomName(rng);
                if (library.folderService().renameFolder(folder, name)) set(folder->id(), "folderName", name);
                break;
            }
            case 9: {
                if (folders.size() < 3) break;
                auto folder = folders[rng() % folders.size()];
                if (folder->folderName() == "History") break;
                if (library.folderService().update(folder, [](ZNLColorFolder& f) { markDeleted(f); }))
                    edits.push_back({{"op", "delete"}, {"id", folder->id()}});
                break;
            }
        }
    }
    return edits;
}

Json state() {
    auto& library = ZNLColorsLibrary::shared();
    Json objects = Json::object(), flagged = Json::array();
    auto add = [&](const ObjectStore::Object& object, bool deleted) {
        auto record = Nimbus::recordOf(object);
        if (deleted) {
            flagged.push_back(record.recordID().recordName);
            return;
        }
        Json fields = Json::object();
        for (const auto& key : record.allKeys()) fields[key] = CloudKit::wire::encodeValue(record.objectForKey(key));
        objects[record.recordID().recordName] = fields;
    };
    if (auto all = library.folderService().all())
        for (const auto& f : all->objects()) add(*f, f->isDeleted());
    if (auto all = library.colorService().all())
        for (const auto& c : all->objects()) add(*c, c->isDeleted());
    std::size_t pending = 0;
    if (gEngine)
        for (const auto& o : gEngine->syncObjects()) {
            auto p = o->pendingChanges();
            pending += p.recordsToSave.size() + p.recordIDsToDelete.size();
        }
    auto selected = Foundation::UserDefaults::standard().stringForKey("selectedFolder");
    return Json{{"objects", objects},
                {"flagged", flagged},
                {"pending", pending},
                {"selected", selected ? *selected : std::string()},
                {"engine", gEngine != nullptr}};
}

void handle(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "edit") {
        unsigned seed = 0;
        int count = 0;
        in >> seed >> count;
        reply(Json{{"edits", edit(seed, count)}});
    } else if (command == "sync") {
        if (gEngine) gEngine->pull();
        reply(Json{{"ok", true}});
    } else if (command == "state") {
        reply(state());
    } else if (command == "explain") {  // what this copy knows of one record
        std::string type, id;
        in >> type >> id;
        Json out = Json::object();
        auto realm = ObjectStore::Realm::open();
        if (auto object = realm->object(type, Foundation::Value(id))) {
            auto record = Nimbus::recordOf(*object);
            for (const auto& key : record.allKeys())
                out["local"][key] = CloudKit::wire::encodeValue(record.objectForKey(key));
        }
        if (auto state = Nimbus::recordState(*realm, type, id)) {
            out["tombstone"] = state->tombstone();
            out["deletePending"] = state->deletePending();
            if (auto base = state->record()) out["base"] = CloudKit::wire::encodeRecord(*base);
        }
        reply(out);
    } else if (command == "quit") {
        Foundation::NotificationCenter::defaultCenter().post(Nimbus::kApplicationWillTerminateNotification);
        gEngine.reset();
        reply(Json{{"ok", true}});
        std::fflush(nullptr);
        std::_Exit(0);
    } else {
        reply(Json{{"error", "unknown command " + command}});
    }
}

}  // namespace

int main() {
    librarysync::prepareLibraryAtLaunch();
    auto container = CloudKit::CKContainer::defaultContainer();
    container->registerForRemoteNotifications([](const CloudKit::Dictionary& userInfo) {
        auto notification = CloudKit::CKNotification::fromRemoteNotificationDictionary(userInfo);
        if (notification && notification->subscriptionID == Nimbus::NimbusConstant::subscriptionID)
            Foundation::NotificationCenter::defaultCenter().post(
                Nimbus::name(Nimbus::Notifications::cloudKitDataDidChangeRemotely));
    });
    gEngine = librarysync::startCloudSync(container);

    std::thread reader([] {
        std::string line;
        while (std::getline(std::cin, line)) Foundation::DispatchQueue::main()->async([line] { handle(line); });
        Foundation::DispatchQueue::main()->async([] { handle("quit"); });
    });
    reader.detach();
    reply(Json{{"ready", true}});
    Foundation::RunLoop::main().run();
    return 0;
}
