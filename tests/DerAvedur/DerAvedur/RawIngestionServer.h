#pragma once
// A loopback ingestion server on plain sockets, for what an HTTP library
// will not do: it reads each request whole (headers, then a Content-Length
// body), records it, and then either answers 200 and keeps the connection
// for the next request, or closes the connection without a byte of answer,
// as a server that took the body and then failed looks to the client.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>

#include "IngestionServer.h"

namespace DAVTest {

class RawIngestionServer {
public:
    enum class Action { Answer, Close };

    RawIngestionServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 64) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error(std::string("cannot listen on loopback: ") + std::strerror(errno));
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~RawIngestionServer() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stopping_ = true;
            for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
        }
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        for (std::thread& thread : connections_) thread.join();
        ::close(listener_);
    }
    RawIngestionServer(const RawIngestionServer&) = delete;
    RawIngestionServer& operator=(const RawIngestionServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // The next requests meet these actions in turn; later ones are answered.
    void script(std::vector<Action> actions) {
        std::lock_guard<std::mutex> guard(mutex_);
        script_.insert(script_.end(), actions.begin(), actions.end());
    }
    // Called on the connection's thread for every request, with what it meets.
    void onRequest(std::function<void(const RecordedRequest&, Action)> hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        hook_ = std::move(hook);
    }
    std::vector<RecordedRequest> requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    std::size_t requestCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_.size();
    }
    void keepRequests(bool keep) {
        std::lock_guard<std::mutex> guard(mutex_);
        keep_ = keep;
    }

private:
    void acceptLoop() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard<std::mutex> guard(mutex_);
            if (fd < 0) {
                if (stopping_ || (errno != EINTR && errno != ECONNABORTED)) return;
                continue;
            }
            if (stopping_) {
                ::close(fd);
                return;
            }
            open_.insert(fd);
            connections_.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd) {
        std::string buffer;
        while (auto request = readRequest(fd, buffer)) {
            Action action = Action::Answer;
            std::function<void(const RecordedRequest&, Action)> hook;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (!script_.empty()) {
                    action = script_.front();
                    script_.pop_front();
                }
                hook = hook_;
            }
            if (hook) hook(*request, action);
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (keep_) requests_.push_back(*request);
                else requests_.emplace_back();
            }
            if (action == Action::Close) break;
            static const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
            if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) break;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        open_.erase(fd);
        ::close(fd);
    }

    // One request from the connection; nothing when it closed or broke off.
    static std::optional<RecordedRequest> readRequest(int fd, std::string& buffer) {
        std::size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!receive(fd, buffer)) return std::nullopt;
        RecordedRequest request;
        std::istringstream head(buffer.substr(0, end));
        std::string line;
        std::getline(head, line);
        std::istringstream requestLine(line);
        std::string target;
        requestLine >> request.method >> target;
        const auto mark = target.find('?');
        request.path = target.substr(0, mark);
        if (mark != std::string::npos) request.query = target.substr(mark + 1);
        while (std::getline(head, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            request.headers.emplace_back(line.substr(0, colon), value);
        }
        request.wireLength = std::stoul(request.header("Content-Length").value_or("0"));
        buffer.erase(0, end + 4);
        while (buffer.size() < request.wireLength)
            if (!receive(fd, buffer)) return std::nullopt;
        request.body = buffer.substr(0, request.wireLength);
        buffer.erase(0, request.wireLength);
        if (request.header("Content-Encoding") == std::optional<std::string>("gzip"))
            request.body = gunzip(request.body).value_or("<not gzip>");
        return request;
    }

    static bool receive(int fd, std::string& buffer) {
        char chunk[16384];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    bool keep_ = true;
    std::set<int> open_;
    std::vector<std::thread> connections_;
    std::deque<Action> script_;
    std::function<void(const RecordedRequest&, Action)> hook_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace DAVTest
