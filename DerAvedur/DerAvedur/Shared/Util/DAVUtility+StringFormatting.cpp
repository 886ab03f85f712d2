#include <regex>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

// Split as the configuration string has always been split: "a;;b;" gives
// "a", "", "b", "".
std::vector<std::string> components(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::string removingAll(std::string text, const std::string& needle) {
    std::size_t at = 0;
    while ((at = text.find(needle, at)) != std::string::npos) text.erase(at, needle.size());
    return text;
}

bool contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

}  // namespace

std::string DAVUtility::sha256(const std::string& text) { return Foundation::hexString(Foundation::sha256(text)); }

std::optional<std::string> DAVUtility::appSecretFrom(const std::optional<std::string>& string) {
    if (!string || string->empty()) return std::nullopt;
    const bool platformKeyed = contains(*string, "macos=");
    for (const std::string& component : components(*string, ';')) {
        if (component.empty() || contains(component, "target=")) continue;
        std::string candidate;
        if (platformKeyed) {
            if (!contains(component, "macos=")) continue;
            candidate = removingAll(component, "macos=");
        } else {
            candidate = removingAll(component, "appsecret=");
        }
        if (!candidate.empty()) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> DAVUtility::transmissionTargetTokenFrom(const std::optional<std::string>& string) {
    if (!string || string->empty()) return std::nullopt;
    for (const std::string& component : components(*string, ';')) {
        if (component.empty() || !contains(component, "target=")) continue;
        std::string token = removingAll(component, "target=");
        if (token.empty()) return std::nullopt;
        return token;
    }
    return std::nullopt;
}

std::optional<std::string> DAVUtility::targetKeyFromTargetToken(const std::optional<std::string>& token) {
    if (!token) return std::nullopt;
    std::string key = token->substr(0, token->find('-'));
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> DAVUtility::iKeyFromTargetToken(const std::optional<std::string>& token) {
    auto key = targetKeyFromTargetToken(token);
    if (!key) return std::nullopt;
    return "o:" + *key;
}

std::optional<std::string> DAVUtility::prettyPrintJson(const std::optional<Foundation::Data>& data) {
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(text, nullptr, false);
    if (json.is_discarded()) return text;
    // nlohmann never escapes "/", so there is nothing to unescape.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<std::string> DAVUtility::obfuscateString(const std::optional<std::string>& string,
                                                       const std::string& pattern, const std::string& replacement) {
    if (!string) return std::nullopt;
    try {
        std::regex expression(pattern, std::regex::ECMAScript | std::regex::icase);
        return std::regex_replace(*string, expression, replacement);
    } catch (const std::regex_error& error) {
        DAVLogError(kDAVDerAvedurLogTag, "Couldn't create regular expression with pattern\"%s\": %s", pattern.c_str(),
                    error.what());
        return std::nullopt;
    }
}
