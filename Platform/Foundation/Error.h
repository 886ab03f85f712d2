#pragma once
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

// A failure handed to a caller as a value.
struct Error {
    std::string domain;
    long code = 0;
    std::string description;
    Dictionary userInfo;

    // "localizedDescription" as the callers read it.
    const std::string& localizedDescription() const { return description; }
    friend bool operator==(const Error& a, const Error& b) {
        return a.domain == b.domain && a.code == b.code && a.description == b.description && a.userInfo == b.userInfo;
    }
};

}  // namespace Foundation
