#pragma once
// The host: the computer's name as the user knows it. Taken from
// PRETTY_HOSTNAME in /etc/machine-info when set, else the host name. Tests
// set the answer.

#include <memory>
#include <optional>
#include <string>

namespace AppKit {

class NSHost {
public:
    static std::shared_ptr<NSHost> currentHost();

    // The computer's name; nothing when it has none.
    std::optional<std::string> localizedName() const;

    // Tests: what localizedName answers from now on (nothing: no name).
    static void setLocalizedName(std::optional<std::string> name);
    // Back to the machine's own name.
    static void resetLocalizedName();
};

}  // namespace AppKit
