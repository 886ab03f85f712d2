#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVDependencyConfiguration.h"

#include <mutex>

namespace {

std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<DAVHttpClientProtocol>& client() {
    static auto* holder = new std::shared_ptr<DAVHttpClientProtocol>;
    return *holder;
}

}  // namespace

std::shared_ptr<DAVHttpClientProtocol> DAVDependencyConfiguration::httpClient() {
    std::lock_guard<std::mutex> guard(lock());
    return client();
}

void DAVDependencyConfiguration::setHttpClient(std::shared_ptr<DAVHttpClientProtocol> httpClient) {
    std::lock_guard<std::mutex> guard(lock());
    client() = std::move(httpClient);
}
