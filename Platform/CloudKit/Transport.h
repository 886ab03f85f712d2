#pragma once
// How a client reaches the server: in process (tests, one server shared by
// simulated devices) or over HTTP to the loopback daemon (two application
// processes).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/CloudKit/Server.h"
#include "Platform/CloudKit/Wire.h"

namespace CloudKit {

class CKTransport {
public:
    using PushSink = std::function<void(const Dictionary& userInfo)>;
    virtual ~CKTransport() = default;
    // One request and its reply (see CloudServer::handle). A server that
    // cannot be reached answers {"error": 4 network failure}.
    virtual wire::Json send(const std::string& methodName, const wire::Json& body) = 0;
    // Delivers this device's pushes to `sink` (on a transport thread); an empty
    // sink stops delivery.
    virtual void setPushSink(PushSink sink) = 0;
    // Told (on a transport thread) when the push channel reaches the server
    // again after losing it; pushes sent meanwhile may be lost.
    using ConnectedSink = std::function<void()>;
    virtual void setConnectedSink(ConnectedSink) {}
    virtual const std::string& deviceId() const = 0;
};

class InProcessTransport : public CKTransport {
public:
    InProcessTransport(std::shared_ptr<CloudServer> server, std::string userId, std::string deviceId);
    ~InProcessTransport() override;
    wire::Json send(const std::string& methodName, const wire::Json& body) override;
    void setPushSink(PushSink sink) override;
    const std::string& deviceId() const override { return deviceId_; }

private:
    std::shared_ptr<CloudServer> server_;
    std::string userId_, deviceId_;
};

// Requests are POST <base>/v1/<method> with the headers "X-Vexil-User" and
// "X-Vexil-Device" and a JSON body; pushes come from a long poll of
// POST <base>/v1/pushes on a thread of the transport.
class HTTPTransport : public CKTransport {
public:
    HTTPTransport(std::string baseURL, std::string userId, std::string deviceId);
    ~HTTPTransport() override;
    wire::Json send(const std::string& methodName, const wire::Json& body) override;
    void setPushSink(PushSink sink) override;
    void setConnectedSink(ConnectedSink sink) override;
    const std::string& deviceId() const override { return deviceId_; }

    struct Shared;

private:
    std::string baseURL_, userId_, deviceId_;
    std::shared_ptr<Shared> shared_;
    std::thread poller_;
};

// Environment variables the default container reads.
inline constexpr const char* kCloudURLVariable = "VEXIL_CLOUD_URL";
inline constexpr const char* kCloudUserVariable = "VEXIL_CLOUD_USER";
inline constexpr const char* kCloudDeviceVariable = "VEXIL_CLOUD_DEVICE";

// The transport of a machine with no cloud configured: no account, and every
// database request fails with 9 (not authenticated).
class NoCloudTransport : public CKTransport {
public:
    wire::Json send(const std::string& methodName, const wire::Json& body) override;
    void setPushSink(PushSink) override {}
    const std::string& deviceId() const override { return deviceId_; }

private:
    std::string deviceId_ = "local";
};

}  // namespace CloudKit
