// vexil-sync-soak: two copies of the application (vexil-sync-driver, each its
// own home, the same cloud user) against a loopback cloud daemon. Per seed:
// rounds of random edits on both copies under the daemon's faults (retry-after,
// dropped replies, service unavailable without a delay, expired tokens, a copy
// offline, a copy killed and restarted), then both settle, both relaunch and
// settle again; both libraries are compared field by field with each other
// and with the server. Exit status 0 only when every run ends identical with
// nothing lost, nothing resurrected and no folder number used twice.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/CloudKit/Daemon.h"
#include "Platform/CloudKit/Wire.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using CloudKit::CloudServer;

namespace {

struct Options {
    int seeds = 10;
    unsigned firstSeed = 1;
    int rounds = 6;
    int edits = 8;
    double settleSeconds = 120;
    std::optional<double> relaunchSettleSeconds;
    bool forcedPulls = true;
    std::string driver;
    bool verbose = false;
};

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: vexil-sync-soak [--seeds N] [--first-seed S] [--rounds R] [--edits E]\n"
                 "                       [--settle SECONDS] [--relaunch-settle SECONDS] [--no-pulls]\n"
                 "                       [--driver PATH] [--verbose]\n"
                 "  --seeds       runs, one per seed (default 10)\n"
                 "  --first-seed  seed of the first run (default 1)\n"
                 "  --rounds      rounds of edits and faults per run (default 6)\n"
                 "  --edits       edits per copy and round (default 8)\n"
                 "  --settle      longest wait for both copies to agree, in seconds (default 120)\n"
                 "  --relaunch-settle  the same after both relaunch (default: --settle)\n"
                 "  --no-pulls    never ask a copy to pull: they must find changes themselves\n"
                 "  --driver      the application driver (default: vexil-sync-driver beside this program)\n");
}

bool parseInt(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end || end == text || v < min || v > max) return false;
    out = v;
    return true;
}

// One application process with a line protocol on its standard input and output.
class Copy {
public:
    Copy(std::string name, std::string driver, std::string home, std::string url)
        : name_(std::move(name)), driver_(std::move(driver)), home_(std::move(home)), url_(std::move(url)) {}
    ~Copy() { kill(); }

    bool start() {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            setenv("VEXIL_HOME", home_.c_str(), 1);
            setenv("VEXIL_CLOUD_URL", url_.c_str(), 1);
            setenv("VEXIL_CLOUD_USER", "soak-user", 1);
            setenv("VEXIL_CLOUD_DEVICE", name_.c_str(), 1);
            execl(driver_.c_str(), driver_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
        buffer_.clear();
        auto ready = readLine(60);
        return ready && ready->value("ready", false);
    }

    std::optional<Json> ask(const std::string& command, double timeout = 60) {
        if (pid_ <= 0) return std::nullopt;
        std::string line = command + "\n";
        if (write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return std::nullopt;
        return readLine(timeout);
    }

    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        closePipes();
    }

    void quit() {
        if (pid_ <= 0) return;
        ask("quit", 30);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid_ > 0) kill();
        closePipes();
    }

    const std::string& name() const { return name_; }

private:
    void closePipes() {
        if (toChild_ >= 0) close(toChild_);
        if (fromChild_ >= 0) close(fromChild_);
        toChild_ = fromChild_ = -1;
        pid_ = -1;
    }

    std::optional<Json> readLine(double timeout) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        for (;;) {
            auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                if (line.empty() || line[0] != '{') continue;  // the application's own diagnostics
                try {
                    return Json::parse(line);
                } catch (const std::exception&) {
                    continue;
                }
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fromChild_, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(left.count()));
            if (r <= 0) continue;
            char chunk[65536];
            ssize_t n = read(fromChild_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    std::string name_, driver_, home_, url_;
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    std::string buffer_;
};

// What the edits promise: added objects, deletions, and per field the last
// value each copy wrote.
struct Expectations {
    std::map<std::string, std::string> added;  // id -> type
    std::set<std::string> deleted;
    std::map<std::pair<std::string, std::string>, std::map<std::string, Json>> lastValues;

    void record(const std::string& copy, const Json& edits) {
        for (const auto& e : edits) {
            std::string op = e.value("op", "");
            std::string id = e.value("id", "");
            if (op == "add") added[id] = e.value("type", "");
            if (op == "delete") deleted.insert(id);
            if (op == "set") lastValues[{id, e.value("field", "")}][copy] = Json{{"string", e.value("value", "")}};
        }
    }
};

// A colour whose folder was deleted keeps a reference to it on the server
// while no copy can show it: such a reference does not count.
Json comparable(Json objects) {
    std::set<std::string> folders;
    for (const auto& [id, fields] : objects.items())
        if (fields.contains("folderId")) folders.insert(id);
    for (auto& [id, fields] : objects.items())
        if (fields.contains("owner") && !folders.count(fields["owner"]["ref"].value("name", ""))) fields.erase("owner");
    return objects;
}

Json serverLibrary(CloudServer& server) {
    Json objects = Json::object();
    for (const char* zone : {"ZNLColorFoldersZone", "ZNLColorItemsZone"})
        for (const auto& r : server.records("soak-user", zone)) {
            Json fields = Json::object();
            for (const auto& key : r.allKeys()) fields[key] = CloudKit::wire::encodeValue(r.objectForKey(key));
            if (fields.contains("isDeleted") && fields["isDeleted"] == Json{{"int", 1}}) continue;
            objects[r.recordID().recordName] = fields;
        }
    return comparable(objects);
}

struct RunResult {
    bool identicalAfterSettling = false;
    bool identicalAfterRelaunch = false;
    int lostEdits = 0;
    int resurrected = 0;
    int duplicateNumbers = 0;
    int extraHistories = 0;  // "History" folders beyond one, per library
    std::string notes;
};

class Run {
public:
    Run(unsigned seed, const Options& options) : seed_(seed), options_(options), rng_(seed) {}

    RunResult go() {
        RunResult result;
        auto server = std::make_shared<CloudServer>();
        CloudKit::CloudDaemon daemon(server);
        int port = daemon.bind("127.0.0.1", 0);
        if (port < 0) {
            result.notes = "no port for the daemon";
            return result;
        }
        daemon.start();
        fs::path dir =
            fs::temp_directory_path() / ("vexil-sync-soak-" + std::to_string(getpid()) + "-" + std::to_string(seed_));
        fs::remove_all(dir);
        fs::create_directories(dir / "A");
        fs::create_directories(dir / "B");
        std::vector<std::unique_ptr<Copy>> copies;
        for (const char* name : {"A", "B"})
            copies.push_back(std::make_unique<Copy>(name, options_.driver, (dir / name).string(), daemon.url()));
        for (auto& c : copies)
            if (!c->start()) {
                result.notes = "copy " + c->name() + " did not start";
                return finish(result, daemon, dir);
            }

        for (int round = 0; round < options_.rounds; ++round) {
            const int fault = static_cast<int>(rng_() % 9);
            const std::string victim = rng_() % 2 ? "A" : "B";
            switch (fault) {
                case 1:
                    server->injectError({"modifyRecords", CloudKit::CKErrorRequestRateLimited, 0.5, 2});
                    break;
                case 2:
                    server->dropReplies("modifyRecords", 1 + static_cast<int>(rng_() % 2));
                    break;
                case 3:
                    server->injectError({"modifyRecords", CloudKit::CKErrorServiceUnavailable, std::nullopt, 3});
                    break;
                case 4:
                    if (rng_() % 2)
                        server->expireZoneTokens("soak-user");
                    else
                        server->expireDatabaseTokens("soak-user");
                    break;
                case 5:
                    server->setOffline(victim, true);
                    break;
                case 7:
                    server->injectError({"fetchZoneChanges", CloudKit::CKErrorServiceUnavailable, std::nullopt, 2});
                    break;
                case 8:
                    server->dropReplies("fetchZoneChanges", 1);
                    break;
                default:
                    break;
            }
            for (auto& c : copies) {
                auto answer = c->ask("edit " + std::to_string(rng_()) + " " + std::to_string(options_.edits));
                if (!answer) {
                    result.notes += "copy " + c->name() + " did not answer edits; ";
                    continue;
                }
                expect_.record(c->name(), (*answer)["edits"]);
            }
            if (fault == 6) {  // killed right after its edits were committed
                Copy& c = *copies[victim == "A" ? 0 : 1];
                std::this_thread::sleep_for(std::chrono::milliseconds(rng_() % 50));
                c.kill();
                if (!c.start()) result.notes += "copy " + victim + " did not restart; ";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng_() % 200));
            if (fault == 5) server->setOffline(victim, false);
        }

        server->clearFaults();
        server->setOffline("A", false);
        server->setOffline("B", false);
        Json a, b;
        result.identicalAfterSettling = settle(copies, *server, a, b, result, options_.settleSeconds);
        for (auto& c : copies) c->quit();
        for (auto& c : copies)
            if (!c->start()) result.notes += "copy " + c->name() + " did not relaunch; ";
        result.identicalAfterRelaunch =
            settle(copies, *server, a, b, result, options_.relaunchSettleSeconds.value_or(options_.settleSeconds));
        evaluate(a, b, serverLibrary(*server), result);
        for (auto& c : copies) c->quit();
        return finish(result, daemon, dir);
    }

private:
    RunResult finish(RunResult result, CloudKit::CloudDaemon& daemon, const fs::path& dir) {
        daemon.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
        return result;
    }

    bool settle(std::vector<std::unique_ptr<Copy>>& copies, CloudServer& server, Json& a, Json& b, RunResult& result,
                double seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (options_.forcedPulls)
                for (auto& c : copies) c->ask("sync");
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.forcedPulls ? 400 : 200));
            auto sa = copies[0]->ask("state"), sb = copies[1]->ask("state");
            if (!sa || !sb) continue;
            a = *sa;
            b = *sb;
            a["objects"] = comparable(a["objects"]);
            b["objects"] = comparable(b["objects"]);
            if (a["pending"] == 0 && b["pending"] == 0 && a["objects"] == b["objects"] &&
                a["objects"] == serverLibrary(server))
                return true;
        }
        if (options_.verbose) {
            result.notes += "not settled: pending " + a["pending"].dump() + "/" + b["pending"].dump() + "; ";
            Json cloud = serverLibrary(server);
            int shown = 0;
            for (const Json* lib : {&a["objects"], &b["objects"], &cloud})
                for (const auto& [id, fields] : lib->items()) {
                    std::string where;
                    if (!a["objects"].contains(id) || a["objects"][id] != fields) where += "A ";
                    if (!b["objects"].contains(id) || b["objects"][id] != fields) where += "B ";
                    if (!cloud.contains(id) || cloud[id] != fields) where += "server ";
                    if (!where.empty() && shown++ < 6)
                        result.notes += id + " differs on " + where + fields.dump() + "; ";
                    if (!where.empty() && shown == 1) {
                        std::string type = fields.contains("folderId") ? "ZNLColorFolder" : "ZNLColorItem";
                        for (auto& c : copies)
                            if (auto e = c->ask("explain " + type + " " + id))
                                result.notes += "\n  " + c->name() + " knows " + e->dump();
                        if (fields.contains("owner")) {
                            std::string folder = fields["owner"]["ref"]["name"];
                            for (auto& c : copies)
                                if (auto e = c->ask("explain ZNLColorFolder " + folder))
                                    result.notes += "\n  " + c->name() + " knows its folder " + e->dump();
                        }
                        result.notes += "\n";
                    }
                }
        }
        return false;
    }

    void evaluate(const Json& a, const Json& b, const Json& cloud, RunResult& result) {
        const Json* libraries[] = {&a["objects"], &b["objects"], &cloud};
        for (const auto& [id, type] : expect_.added) {
            if (expect_.deleted.count(id)) continue;
            for (const Json* lib : libraries)
                if (!lib->contains(id)) {
                    ++result.lostEdits;
                    if (options_.verbose) result.notes += "missing " + type + " " + id + "; ";
                    break;
                }
        }
        for (const auto& [key, byCopy] : expect_.lastValues) {
            const auto& [id, field] = key;
            if (expect_.deleted.count(id)) continue;
            for (const Json* lib : libraries) {
                if (!lib->contains(id)) continue;  // counted above when it was promised
                const Json& value = (*lib)[id].contains(field) ? (*lib)[id][field] : Json();
                bool known = false;
                for (const auto& [copy, last] : byCopy) known = known || last == value;
                if (!known) {
                    ++result.lostEdits;
                    if (options_.verbose) {
                        result.notes += "lost " + field + " of " + id + ": holds " + value.dump() + ", last written";
                        for (const auto& [copy, last] : byCopy) result.notes += " by " + copy + " " + last.dump();
                        result.notes += "; ";
                    }
                    break;
                }
            }
        }
        for (const auto& id : expect_.deleted)
            for (const Json* lib : libraries)
                if (lib->contains(id)) {
                    ++result.resurrected;
                    if (options_.verbose) result.notes += "resurrected " + id + "; ";
                    break;
                }
        for (const Json* lib : libraries) {
            int histories = 0;
            for (const auto& [id, fields] : lib->items())
                if (fields.contains("folderId") && fields.value("folderName", Json()) == Json{{"string", "History"}}) ++histories;
            if (histories > 1) {
                result.extraHistories += histories - 1;
                if (options_.verbose) result.notes += std::to_string(histories) + " History folders; ";
            }
        }
        for (const Json* lib : libraries) {
            std::map<Json, int> numbers;
            for (const auto& [id, fields] : lib->items())
                if (fields.contains("folderId")) ++numbers[fields["folderId"]];
            for (const auto& [number, count] : numbers)
                if (count > 1) result.duplicateNumbers += count - 1;
        }
    }

    unsigned seed_;
    const Options& options_;
    std::mt19937 rng_;
    Expectations expect_;
};

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (arg == "--no-pulls") {
            options.forcedPulls = false;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vexil-sync-soak: %s needs a value\n", arg.c_str());
            usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--seeds" && parseInt(value, 1, 100000, n))
            options.seeds = static_cast<int>(n);
        else if (arg == "--first-seed" && parseInt(value, 0, 1L << 31, n))
            options.firstSeed = static_cast<unsigned>(n);
        else if (arg == "--rounds" && parseInt(value, 1, 1000, n))
            options.rounds = static_cast<int>(n);
        else if (arg == "--edits" && parseInt(value, 1, 1000, n))
            options.edits = static_cast<int>(n);
        else if (arg == "--settle" && parseInt(value, 1, 3600, n))
            options.settleSeconds = static_cast<double>(n);
        else if (arg == "--relaunch-settle" && parseInt(value, 1, 3600, n))
            options.relaunchSettleSeconds = static_cast<double>(n);
        else if (arg == "--driver")
            options.driver = value;
        else {
            std::fprintf(stderr, "vexil-sync-soak: bad argument %s %s\n", arg.c_str(), value);
            usage(stderr);
            return 2;
        }
    }
    if (options.driver.empty())
        options.driver = (fs::canonical("/proc/self/exe").parent_path() / "vexil-sync-driver").string();
    if (access(options.driver.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "vexil-sync-soak: no driver at %s\n", options.driver.c_str());
        return 2;
    }

    int settled = 0, relaunched = 0, lost = 0, resurrected = 0, duplicates = 0, histories = 0;
    for (int i = 0; i < options.seeds; ++i) {
        unsigned seed = options.firstSeed + static_cast<unsigned>(i);
        RunResult r = Run(seed, options).go();
        settled += r.identicalAfterSettling;
        relaunched += r.identicalAfterRelaunch;
        lost += r.lostEdits;
        resurrected += r.resurrected;
        duplicates += r.duplicateNumbers;
        histories += r.extraHistories;
        std::printf(
            "seed %u: identical after settling %s, after relaunch %s, lost edits %d, resurrected %d, "
            "duplicate folder numbers %d, extra History folders %d%s%s\n",
            seed, r.identicalAfterSettling ? "yes" : "NO", r.identicalAfterRelaunch ? "yes" : "NO", r.lostEdits,
            r.resurrected, r.duplicateNumbers, r.extraHistories, r.notes.empty() ? "" : " — ", r.notes.c_str());
        std::fflush(stdout);
    }
    std::printf(
        "%d seeds: identical after settling %d, identical after relaunch %d, lost edits %d, "
        "resurrected deletions %d, duplicate folder numbers %d, extra History folders %d\n",
        options.seeds, settled, relaunched, lost, resurrected, duplicates, histories);
    const bool clean = settled == options.seeds && relaunched == options.seeds && lost == 0 && resurrected == 0 &&
                       duplicates == 0 && histories == 0;
    return clean ? 0 : 1;
}
