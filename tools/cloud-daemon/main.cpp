// vexil-cloud-daemon: a loopback cloud database shared by application
// processes. Point each process at it with VEXIL_CLOUD_URL.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Platform/CloudKit/Daemon.h"

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vexil-cloud-daemon [--host ADDRESS] [--port PORT] [--batch-limit N]\n"
                 "  --host         address to listen on (default 127.0.0.1)\n"
                 "  --port         port to listen on (default 8741; 0 picks a free one)\n"
                 "  --batch-limit  most changes per fetch reply (default 200)\n"
                 "Clients read the daemon's address from VEXIL_CLOUD_URL and the user from\n"
                 "VEXIL_CLOUD_USER (default \"local-user\").\n");
}

bool parseNumber(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!end || *end || end == text || value < min || value > max) return false;
    out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    long port = 8741;
    long batchLimit = 200;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vexil-cloud-daemon: %s needs a value\n", arg.c_str());
            usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        if (arg == "--host") {
            host = value;
        } else if (arg == "--port") {
            if (!parseNumber(value, 0, 65535, port)) {
                std::fprintf(stderr, "vexil-cloud-daemon: bad port %s\n", value);
                return 2;
            }
        } else if (arg == "--batch-limit") {
            if (!parseNumber(value, 1, 100000, batchLimit)) {
                std::fprintf(stderr, "vexil-cloud-daemon: bad batch limit %s\n", value);
                return 2;
            }
        } else {
            std::fprintf(stderr, "vexil-cloud-daemon: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    // Signals are taken by sigwait below, not by a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto server = std::make_shared<CloudKit::CloudServer>();
    server->setBatchLimit(static_cast<std::size_t>(batchLimit));
    CloudKit::CloudDaemon daemon(server);
    if (daemon.bind(host, static_cast<int>(port)) < 0) {
        std::fprintf(stderr, "vexil-cloud-daemon: cannot listen on %s:%ld\n", host.c_str(), port);
        return 1;
    }
    daemon.start();
    std::printf("vexil-cloud-daemon listening on %s\n", daemon.url().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    daemon.stop();
    std::printf("vexil-cloud-daemon stopped\n");
    return 0;
}
