// vexil-cloud-daemon: a loopback cloud database shared by application
// processes. Point each process at it with VEXIL_CLOUD_URL.

#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Platform/CloudKit/Daemon.h"
#include "VexilConfig.h"

namespace {

constexpr const char* kName = "vexil-cloud-daemon";

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vexil-cloud-daemon [--host ADDRESS] [--port PORT] [--batch-limit N]\n"
                 "  --host ADDRESS   address to listen on (default 127.0.0.1); any address other\n"
                 "                   than loopback lets other machines reach the database\n"
                 "  --port PORT      port to listen on (default 8741; 0 picks a free one)\n"
                 "  --batch-limit N  most changes per fetch reply (default 200)\n"
                 "  --help           show this text\n"
                 "  --version        show the version\n"
                 "Clients read the daemon's address from VEXIL_CLOUD_URL and the user from\n"
                 "VEXIL_CLOUD_USER (default \"local-user\"). The database lives in memory.\n");
}

int usageError() {
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kName);
    return 2;
}

bool parseNumber(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || !end || *end || end == text || value < min || value > max) return false;
    out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    long port = 8741;
    long batchLimit = 200;

    enum { kHost = 1, kPort, kBatchLimit, kHelp, kVersion };
    const option options[] = {
        {"host", required_argument, nullptr, kHost},
        {"port", required_argument, nullptr, kPort},
        {"batch-limit", required_argument, nullptr, kBatchLimit},
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    // getopt_long prints its own "unrecognized option" / "requires an
    // argument" messages under the program's name.
    argv[0] = const_cast<char*>(kName);
    int choice;
    while ((choice = getopt_long(argc, argv, "+h", options, nullptr)) != -1) {
        switch (choice) {
            case kHost:
                if (!*optarg) {
                    std::fprintf(stderr, "%s: the host is empty\n", kName);
                    return usageError();
                }
                host = optarg;
                break;
            case kPort:
                if (!parseNumber(optarg, 0, 65535, port)) {
                    std::fprintf(stderr, "%s: invalid port '%s' (0 to 65535)\n", kName, optarg);
                    return usageError();
                }
                break;
            case kBatchLimit:
                if (!parseNumber(optarg, 1, 100000, batchLimit)) {
                    std::fprintf(stderr, "%s: invalid batch limit '%s' (1 to 100000)\n", kName, optarg);
                    return usageError();
                }
                break;
            case 'h':
            case kHelp:
                usage(stdout);
                return 0;
            case kVersion:
                std::printf("%s %s\n", kName, VEXIL_VERSION);
                return 0;
            default:
                return usageError();
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\n", kName, argv[optind]);
        return usageError();
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
        std::fprintf(stderr, "%s: cannot listen on %s port %ld: %s\n", kName, host.c_str(), port,
                     daemon.bindError().c_str());
        return 1;
    }
    if (!CloudKit::CloudDaemon::isLoopbackAddress(host) && host != "localhost") {
        std::fprintf(stderr,
                     "%s: warning: listening on %s, not a loopback address: other machines can reach the "
                     "database, which has no authentication (the /admin endpoints still answer only on "
                     "loopback)\n",
                     kName, host.c_str());
    }
    daemon.start();
    std::printf("%s listening on %s\n", kName, daemon.url().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    daemon.stop();
    std::printf("%s stopped\n", kName);
    return 0;
}
