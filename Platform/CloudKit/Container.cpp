#include "Platform/CloudKit/Container.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/Text.h"

namespace CloudKit {

using wire::Json;
namespace fs = std::filesystem;

ClientCore::ClientCore(std::shared_ptr<CKTransport> transport, std::string assetDirectory)
    : transport_(std::move(transport)) {
    assets_ = [dir = std::move(assetDirectory)](const Data& bytes) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        std::string path = dir + "/" + Foundation::makeUUIDString();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    };
}

std::optional<Json> ClientCore::call(const std::string& methodName, const Json& body) {
    Json reply = transport_->send(methodName, body);
    if (reply.is_object() && reply.value("dropped", false)) return std::nullopt;
    return reply;
}

void CKDatabase::add(std::shared_ptr<CKOperation> operation) {
    if (auto container = container_.lock()) container->add(std::move(operation));
}

namespace {

std::mutex defaultMutex;
std::shared_ptr<CKContainer> defaultInstance;

std::string persistedDeviceId() {
    if (const char* env = std::getenv(kCloudDeviceVariable); env && *env) return env;
    std::string path = Foundation::applicationSupportDirectory() + "/cloud-device-id";
    {
        std::ifstream in(path);
        std::string id;
        if (in && std::getline(in, id) && !id.empty()) return id;
    }
    std::string id = Foundation::makeUUIDString();
    // Whole or not at all: a torn file would make this copy a new device.
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    Foundation::writeFileAtomically(path, id + "\n");
    return id;
}

}  // namespace

std::shared_ptr<CKContainer> CKContainer::make(std::shared_ptr<CKTransport> transport, std::string identifier) {
    std::shared_ptr<CKContainer> container(new CKContainer(std::move(transport), std::move(identifier)));
    container->privateDatabase_ = std::shared_ptr<CKDatabase>(new CKDatabase(container));
    return container;
}

std::shared_ptr<CKContainer> CKContainer::defaultContainer() {
    std::lock_guard lock(defaultMutex);
    if (!defaultInstance) {
        std::shared_ptr<CKTransport> transport;
        if (const char* url = std::getenv(kCloudURLVariable); url && *url) {
            const char* user = std::getenv(kCloudUserVariable);
            transport = std::make_shared<HTTPTransport>(url, user && *user ? user : "local-user", persistedDeviceId());
        } else {
            transport = std::make_shared<NoCloudTransport>();
        }
        defaultInstance = make(std::move(transport));
    }
    return defaultInstance;
}

namespace {
// Downloaded assets, in the application's own cache folder; older versions
// used "CloudKit" directly in the cache base, which is left once emptied.
std::string assetCacheDirectory() {
    const std::string directory = Foundation::cachesDirectory() + "/CloudKit/Assets";
    const std::string old = Foundation::sharedCachesBase() + "/CloudKit";
    Foundation::moveOldFolder(old + "/Assets", directory);
    std::error_code ec;
    std::filesystem::remove(old, ec);  // only when empty
    return directory;
}
}  // namespace

void CKContainer::setDefaultContainer(std::shared_ptr<CKContainer> container) {
    std::lock_guard lock(defaultMutex);
    defaultInstance = std::move(container);
}

CKContainer::CKContainer(std::shared_ptr<CKTransport> transport, std::string identifier)
    : identifier_(std::move(identifier)),
      transport_(std::move(transport)),
      core_(std::make_shared<ClientCore>(transport_, assetCacheDirectory())),
      queue_(Foundation::DispatchQueue::makeSerial("CloudKit " + transport_->deviceId())) {}

CKContainer::~CKContainer() {
    transport_->setPushSink({});
    transport_->setConnectedSink({});
}

void CKContainer::enqueue(std::function<void(ClientCore&)> work) {
    queue_->async([core = core_, work = std::move(work)] { work(*core); });
}

void CKContainer::add(std::shared_ptr<CKOperation> operation) {
    if (!operation) return;
    enqueue([operation](ClientCore& core) { operation->run(core); });
}

void CKContainer::accountStatus(std::function<void(CKAccountStatus, const OptionalError&)> completion) {
    enqueue([completion = std::move(completion)](ClientCore& core) {
        auto reply = core.call("accountStatus", Json::object());
        if (!reply || !completion) return;
        if (reply->contains("error")) {
            OptionalError error;
            try {
                error = wire::decodeError((*reply)["error"]);
            } catch (const std::exception& e) {
                error = makeCKError(CKErrorServerRejectedRequest, e.what());
            }
            completion(CKAccountStatus::couldNotDetermine, error);
            return;
        }
        int status = reply->value("status", 0);
        if (status < 0 || status > 4) status = 0;
        completion(static_cast<CKAccountStatus>(status), std::nullopt);
    });
}

void CKContainer::fetchAllLongLivedOperationIDs(
    std::function<void(const std::optional<std::vector<std::string>>&, const OptionalError&)> completion) {
    enqueue([completion = std::move(completion)](ClientCore& core) {
        auto reply = core.call("longLivedIDs", Json::object());
        if (!reply || !completion) return;
        try {
            if (reply->contains("error")) {
                completion(std::nullopt, wire::decodeError((*reply)["error"]));
                return;
            }
            std::vector<std::string> ids;
            for (const auto& id : wire::member(*reply, "ids")) ids.push_back(id.get<std::string>());
            completion(ids, std::nullopt);
        } catch (const std::exception& e) {
            completion(std::nullopt, makeCKError(CKErrorServerRejectedRequest, e.what()));
        }
    });
}

void CKContainer::fetchLongLivedOperation(
    const std::string& operationID,
    std::function<void(std::shared_ptr<CKOperation>, const OptionalError&)> completion) {
    enqueue([operationID, completion = std::move(completion)](ClientCore& core) {
        auto reply = core.call("longLivedOperation", Json{{"id", operationID}});
        if (!reply || !completion) return;
        try {
            if (reply->contains("error")) {
                completion(nullptr, wire::decodeError((*reply)["error"]));
                return;
            }
            const Json& request = wire::member(*reply, "request");
            std::vector<CKRecord> save;
            std::vector<CKRecordID> remove;
            if (request.contains("save"))
                for (const auto& r : request["save"]) save.push_back(wire::decodeRecord(r, core.assetStore()));
            if (request.contains("delete"))
                for (const auto& id : request["delete"]) remove.push_back(wire::decodeRecordID(id));
            int policy = request.value("policy", 0);
            auto op = CKModifyRecordsOperation::resumed(
                operationID, std::move(save), std::move(remove),
                static_cast<CKSavePolicy>(policy < 0 || policy > 2 ? 0 : policy), request.value("atomic", true));
            completion(op, std::nullopt);
        } catch (const std::exception& e) {
            completion(nullptr, makeCKError(CKErrorServerRejectedRequest, e.what()));
        }
    });
}

void CKContainer::registerForRemoteNotifications(RemoteNotificationHandler handler) {
    {
        std::lock_guard lock(handlerMutex_);
        handler_ = std::make_shared<RemoteNotificationHandler>(std::move(handler));
    }
    std::weak_ptr<CKContainer> weak = weak_from_this();
    transport_->setPushSink([weak](const Dictionary& userInfo) {
        auto self = weak.lock();
        if (!self) return;
        std::shared_ptr<RemoteNotificationHandler> handler;
        {
            std::lock_guard lock(self->handlerMutex_);
            handler = self->handler_;
        }
        if (!handler) return;
        Foundation::DispatchQueue::main()->async([handler, userInfo] {
            if (*handler) (*handler)(userInfo);
        });
    });
    transport_->setConnectedSink([weak] {
        if (auto self = weak.lock()) self->pushChannelConnected();
    });
    registerForPushes();
}

void CKContainer::registerForPushes() {
    std::weak_ptr<CKContainer> weak = weak_from_this();
    enqueue([weak](ClientCore& core) {
        auto reply = core.call("registerForPushes", Json::object());
        auto self = weak.lock();
        if (!self) return;
        if (reply && !reply->contains("error")) {
            self->pushChannelConnected();
            return;
        }
        // Unregistered, this device hears no notice at all: ask again.
        self->queue_->after(5.0, [weak] {
            auto later = weak.lock();
            if (!later) return;
            std::lock_guard lock(later->handlerMutex_);
            if (later->handler_) later->registerForPushes();
        });
    });
}

void CKContainer::pushChannelConnected() {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard lock(handlerMutex_);
        channelConnected_ = true;
        handler = connectedHandler_;
    }
    if (!handler) return;
    Foundation::DispatchQueue::main()->async([handler] {
        if (*handler) (*handler)();
    });
}

void CKContainer::setPushChannelConnectedHandler(std::function<void()> handler) {
    auto shared = std::make_shared<std::function<void()>>(std::move(handler));
    bool connected = false;
    {
        std::lock_guard lock(handlerMutex_);
        connectedHandler_ = shared;
        connected = channelConnected_;
    }
    if (connected)
        Foundation::DispatchQueue::main()->async([shared] {
            if (*shared) (*shared)();
        });
}

void CKContainer::unregisterForRemoteNotifications() {
    transport_->setPushSink({});
    transport_->setConnectedSink({});
    std::lock_guard lock(handlerMutex_);
    handler_.reset();
}

}  // namespace CloudKit
