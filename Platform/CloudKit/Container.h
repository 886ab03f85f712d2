#pragma once
// The container and its private database: the client side of the cloud
// database. Every reply, completion and operation block is called on the
// container's cloud queue (a serial queue of its own, never the main one);
// remote notifications reach the application's handler on the main queue.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/CloudKit/Operations.h"
#include "Platform/CloudKit/Transport.h"
#include "Platform/Foundation/Dispatch.h"

namespace CloudKit {

// What operations run against: the transport and where assets land.
class ClientCore {
public:
    ClientCore(std::shared_ptr<CKTransport> transport, std::string assetDirectory);
    // The reply, or nullopt when the server dropped it (the operation then
    // ends without calling any block).
    std::optional<wire::Json> call(const std::string& methodName, const wire::Json& body);
    // Decoded asset bytes go to a file of their own here.
    const wire::AssetStore& assetStore() const { return assets_; }

private:
    std::shared_ptr<CKTransport> transport_;
    wire::AssetStore assets_;
};

class CKContainer;

class CKDatabase {
public:
    enum class Scope { publicScope = 1, privateScope = 2, sharedScope = 3 };
    Scope databaseScope() const { return Scope::privateScope; }
    // Queues the operation on the container's cloud queue.
    void add(std::shared_ptr<CKOperation> operation);

private:
    friend class CKContainer;
    explicit CKDatabase(std::weak_ptr<CKContainer> container) : container_(std::move(container)) {}
    std::weak_ptr<CKContainer> container_;
};

class CKContainer : public std::enable_shared_from_this<CKContainer> {
public:
    using RemoteNotificationHandler = std::function<void(const Dictionary& userInfo)>;

    static std::shared_ptr<CKContainer> make(std::shared_ptr<CKTransport> transport,
                                             std::string identifier = kContainerIdentifier);
    // The process's container: the one set with setDefaultContainer, else one
    // talking to the daemon at $VEXIL_CLOUD_URL (user $VEXIL_CLOUD_USER or
    // "local-user", device $VEXIL_CLOUD_DEVICE or an id kept in the
    // application-support directory), else one without an account.
    static std::shared_ptr<CKContainer> defaultContainer();
    static void setDefaultContainer(std::shared_ptr<CKContainer> container);

    ~CKContainer();

    const std::string& containerIdentifier() const { return identifier_; }
    std::shared_ptr<CKDatabase> privateCloudDatabase() const { return privateDatabase_; }
    const std::shared_ptr<Foundation::DispatchQueue>& cloudQueue() const { return queue_; }

    void accountStatus(std::function<void(CKAccountStatus, const OptionalError&)> completion);
    void fetchAllLongLivedOperationIDs(
        std::function<void(const std::optional<std::vector<std::string>>&, const OptionalError&)> completion);
    void fetchLongLivedOperation(const std::string& operationID,
                                 std::function<void(std::shared_ptr<CKOperation>, const OptionalError&)> completion);
    // Runs the operation against the private database.
    void add(std::shared_ptr<CKOperation> operation);

    // Registers this device for pushes; each push is handed to `handler` on
    // the main queue as a remote-notification dictionary.
    void registerForRemoteNotifications(RemoteNotificationHandler handler);
    void unregisterForRemoteNotifications();
    // Called on the main queue each time the push channel (re)connects: the
    // registration succeeded (it is retried until it does), or the transport
    // reached the server again after losing it. Pushes sent meanwhile may be
    // lost, so the owner fetches. A handler set after the channel connected
    // is called once at once.
    void setPushChannelConnectedHandler(std::function<void()> handler);

private:
    CKContainer(std::shared_ptr<CKTransport> transport, std::string identifier);
    void enqueue(std::function<void(ClientCore&)> work);

    std::string identifier_;
    std::shared_ptr<CKTransport> transport_;
    std::shared_ptr<ClientCore> core_;
    std::shared_ptr<Foundation::DispatchQueue> queue_;
    std::shared_ptr<CKDatabase> privateDatabase_;
    void registerForPushes();
    void pushChannelConnected();

    std::shared_ptr<RemoteNotificationHandler> handler_;
    std::shared_ptr<std::function<void()>> connectedHandler_;
    bool channelConnected_ = false;
    std::mutex handlerMutex_;
};

}  // namespace CloudKit
