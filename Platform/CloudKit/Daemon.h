#pragma once
// The loopback HTTP face of a CloudServer, so that application processes can
// share one cloud database (tools/cloud-daemon runs it).
//
//   POST /v1/<method>   a request of the wire protocol; headers "X-Vexil-User"
//                       and "X-Vexil-Device"; JSON body; JSON reply
//   POST /v1/pushes     {"wait": seconds} long poll; {"pushes": [userInfo...]}
//   GET  /health        "ok"
//   POST /admin/inject  {"method", "code", "retryAfter"?, "times"?, "device"?, "zone"?}
//   POST /admin/drop    {"method", "times"?, "device"?}
//   POST /admin/account {"device", "status"}
//   POST /admin/offline {"device", "offline"}
//   POST /admin/hold, /admin/release
//   POST /admin/expire  {"user", "zone"?} zone tokens, or {"user", "database": true}
//   POST /admin/batch-limit {"limit"}
//   GET  /admin/log     the request log
//
// The /admin endpoints have no authentication, so they answer only requests
// from a loopback address (403 otherwise), whatever address the daemon is
// bound to. The listening socket never shares its port (no SO_REUSEPORT), so
// a second daemon on a port in use fails to bind instead of splitting the
// requests between two databases.

#include <memory>
#include <string>
#include <thread>

#include "Platform/CloudKit/Server.h"

namespace CloudKit {

class CloudDaemon {
public:
    explicit CloudDaemon(std::shared_ptr<CloudServer> server);
    ~CloudDaemon();
    CloudDaemon(const CloudDaemon&) = delete;
    CloudDaemon& operator=(const CloudDaemon&) = delete;

    // Binds the address; port 0 picks a free port. The bound port, or -1 with
    // the cause in bindError() ("Address already in use", a host that does
    // not resolve, ...).
    int bind(const std::string& host, int port);
    const std::string& bindError() const;
    // Serves until stop() (blocks).
    void run();
    // Serves on a thread of its own.
    void start();
    void stop();
    std::string url() const;
    CloudServer& server() { return *server_; }

    // 127.0.0.0/8, ::1 and IPv4-mapped loopback addresses, as text.
    static bool isLoopbackAddress(const std::string& address);

private:
    struct Impl;
    std::shared_ptr<CloudServer> server_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace CloudKit
