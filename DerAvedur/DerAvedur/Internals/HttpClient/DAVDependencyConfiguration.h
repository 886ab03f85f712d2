#pragma once
#include <memory>

#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClientProtocol.h"

// The HTTP client the channel group is built with, when one is set before
// configuration (tests, wrapper SDKs); otherwise the SDK makes its own.
class DAVDependencyConfiguration {
public:
    static std::shared_ptr<DAVHttpClientProtocol> httpClient();
    static void setHttpClient(std::shared_ptr<DAVHttpClientProtocol> httpClient);
};
