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

    // Binds the address; port 0 picks a free port. The bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop() (blocks).
    void run();
    // Serves on a thread of its own.
    void start();
    void stop();
    std::string url() const;
    CloudServer& server() { return *server_; }

private:
    struct Impl;
    std::shared_ptr<CloudServer> server_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace CloudKit
