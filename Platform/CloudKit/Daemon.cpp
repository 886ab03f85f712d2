#include "Platform/CloudKit/Daemon.h"
#include "Platform/Foundation/ThreadSignalStack.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <system_error>

namespace CloudKit {

using wire::Json;

struct CloudDaemon::Impl {
    httplib::Server http;
    std::string host;
    int port = -1;
    std::string bindError;
    std::thread thread;
};

namespace {

Json parseBody(const httplib::Request& req) {
    if (req.body.empty()) return Json::object();
    Json body = Json::parse(req.body, nullptr, false);
    return body.is_discarded() ? Json() : body;
}

void reply(httplib::Response& res, const Json& json, int status = 200) {
    res.status = status;
    res.set_content(json.dump(), "application/json");
}

// httplib's bind says only whether it worked; a socket bound the same way
// says why not.
std::string bindFailureCause(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return "cannot resolve \"" + host + "\": " + gai_strerror(rc);
    std::string cause = "unknown error";
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            cause = std::system_category().message(errno);
            continue;
        }
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        bool bound = ::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 1) == 0;
        if (!bound) cause = std::system_category().message(errno);
        ::close(fd);
        if (bound) break;
    }
    freeaddrinfo(found);
    return cause;
}

}  // namespace

bool CloudDaemon::isLoopbackAddress(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

CloudDaemon::CloudDaemon(std::shared_ptr<CloudServer> server)
    : server_(std::move(server)), impl_(std::make_unique<Impl>()) {
    auto& http = impl_->http;
    CloudServer* srv = server_.get();

    // httplib's default sets SO_REUSEPORT, which lets a second daemon bind a
    // port in use; SO_REUSEADDR alone only allows a restart over TIME_WAIT.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    http.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.path.rfind("/admin/", 0) != 0 || isLoopbackAddress(req.remote_addr))
            return httplib::Server::HandlerResponse::Unhandled;
        reply(res, Json{{"message", "the /admin endpoints answer only on loopback"}}, 403);
        return httplib::Server::HandlerResponse::Handled;
    });

    http.Get("/health", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });

    http.Post("/v1/pushes", [srv](const httplib::Request& req, httplib::Response& res) {
        Json body = parseBody(req);
        double wait =
            body.is_object() && body.contains("wait") && body["wait"].is_number() ? body["wait"].get<double>() : 20;
        wait = std::clamp(wait, 0.0, 30.0);
        Json pushes = Json::array();
        for (const auto& p : srv->takePushes(req.get_header_value("X-Vexil-Device"), wait))
            pushes.push_back(wire::encodeValue(Value(p)));
        reply(res, Json{{"pushes", std::move(pushes)}});
    });

    http.Post(R"(/v1/([A-Za-z]+))", [srv](const httplib::Request& req, httplib::Response& res) {
        std::string user = req.get_header_value("X-Vexil-User");
        std::string device = req.get_header_value("X-Vexil-Device");
        if (user.empty() || device.empty()) {
            reply(res, Json{{"message", "X-Vexil-User and X-Vexil-Device are required"}}, 400);
            return;
        }
        Json body = parseBody(req);
        if (!body.is_object()) {
            reply(res, Json{{"error",
                             wire::encodeError(makeCKError(CKErrorInvalidArguments, "body is not a JSON object"))}});
            return;
        }
        reply(res, srv->handle(user, device, req.matches[1].str(), body));
    });

    auto admin = [&http, srv](const char* path, std::function<void(const Json&)> action) {
        http.Post(std::string("/admin/") + path, [srv, action](const httplib::Request& req, httplib::Response& res) {
            Json body = parseBody(req);
            try {
                action(body.is_object() ? body : Json::object());
                reply(res, Json{{"ok", true}});
            } catch (const std::exception& e) {
                reply(res, Json{{"message", e.what()}}, 400);
            }
        });
    };
    admin("inject", [srv](const Json& b) {
        CloudServer::Fault f;
        f.method = wire::stringMember(b, "method");
        f.code = b.value("code", static_cast<long>(CKErrorServiceUnavailable));
        if (b.contains("retryAfter") && b["retryAfter"].is_number()) f.retryAfter = b["retryAfter"].get<double>();
        f.times = b.value("times", 1);
        f.deviceId = b.value("device", "");
        f.zoneName = b.value("zone", "");
        srv->injectError(f);
    });
    admin("drop", [srv](const Json& b) {
        srv->dropReplies(wire::stringMember(b, "method"), b.value("times", 1), b.value("device", ""));
    });
    admin("account", [srv](const Json& b) {
        int status = b.value("status", 1);
        if (status < 0 || status > 4) throw std::runtime_error("status is 0 to 4");
        srv->setAccountStatus(wire::stringMember(b, "device"), static_cast<CKAccountStatus>(status));
    });
    admin("offline",
          [srv](const Json& b) { srv->setOffline(wire::stringMember(b, "device"), b.value("offline", true)); });
    admin("hold", [srv](const Json&) { srv->holdPushes(); });
    admin("release", [srv](const Json&) { srv->releasePushes(); });
    admin("expire", [srv](const Json& b) {
        std::string user = wire::stringMember(b, "user");
        if (b.value("database", false)) {
            srv->expireDatabaseTokens(user);
        } else {
            srv->expireZoneTokens(user, b.value("zone", ""));
        }
    });
    admin("batch-limit", [srv](const Json& b) { srv->setBatchLimit(b.value("limit", 200u)); });
    http.Get("/admin/log", [srv](const httplib::Request&, httplib::Response& res) {
        Json log = Json::array();
        for (const auto& e : srv->requestLog())
            log.push_back(Json{{"user", e.userId},
                               {"device", e.deviceId},
                               {"method", e.method},
                               {"saves", e.saves},
                               {"deletes", e.deletes},
                               {"zone", e.zoneName},
                               {"error", e.errorCode}});
        reply(res, log);
    });
}

CloudDaemon::~CloudDaemon() { stop(); }

int CloudDaemon::bind(const std::string& host, int port) {
    impl_->host = host;
    impl_->bindError.clear();
    if (port == 0) {
        impl_->port = impl_->http.bind_to_any_port(host.c_str());
    } else {
        impl_->port = impl_->http.bind_to_port(host.c_str(), port) ? port : -1;
    }
    if (impl_->port < 0) impl_->bindError = bindFailureCause(host, port);
    return impl_->port;
}

const std::string& CloudDaemon::bindError() const { return impl_->bindError; }

void CloudDaemon::run() { impl_->http.listen_after_bind(); }

void CloudDaemon::start() {
    if (impl_->port < 0) return;
    impl_->thread = std::thread([this] {
        Foundation::ThreadSignalStack signalStack;
        impl_->http.listen_after_bind();
    });
    // stop() only reaches a server that is already listening.
    while (!impl_->http.is_running()) std::this_thread::yield();
}

void CloudDaemon::stop() {
    server_->stopWaiting();
    impl_->http.stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

std::string CloudDaemon::url() const {
    // An IPv6 literal needs brackets in a URL.
    bool v6 = impl_->host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + impl_->host + "]" : impl_->host) + ":" + std::to_string(impl_->port);
}

}  // namespace CloudKit
