#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVLogContainer.h"

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Json.h"

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

std::optional<std::string> DAVLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    try {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& log : logs) {
            auto serializable = std::dynamic_pointer_cast<DAVSerializableObject>(log);
            if (!serializable) throw std::invalid_argument("a log cannot be serialized");
            array.push_back(Foundation::toJSON(serializable->serializeToDictionary()));
        }
        nlohmann::ordered_json root = nlohmann::ordered_json::object();
        root["logs"] = std::move(array);
        std::string text =
            root.dump(prettyPrint ? 2 : -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        replaceAll(text, "\\/", "/");
        return text;
    } catch (const std::exception& error) {
        DAVLogError(kDAVDerAvedurLogTag, "Couldn't serialize log container to json: %s", error.what());
        return std::nullopt;
    }
}

bool DAVLogContainer::isValid() const {
    if (logs.empty()) {
        DAVLogError(kDAVDerAvedurLogTag, "%s: there are no logs in container.", "DAVLogContainer");
        return false;
    }
    for (const auto& log : logs)
        if (!log || !log->isValid()) return false;
    return true;
}
