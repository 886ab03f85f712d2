#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {
constexpr std::size_t kMaxPropertiesCount = 20;
constexpr std::size_t kMaxPropertyKeyLength = 125;
constexpr std::size_t kMaxPropertyValueLength = 125;
}  // namespace

Foundation::Dictionary DAVUtility::validateProperties(const Foundation::Dictionary& properties,
                                                      const std::string& logName, const std::string& logType) {
    Foundation::Dictionary result;
    for (const auto& [originalKey, value] : properties) {
        if (result.size() >= kMaxPropertiesCount) {
            DAVLogWarning(kDAVDerAvedurLogTag,
                          "%s '%s' : properties cannot contain more than %d items. Skipping other properties.",
                          logType.c_str(), logName.c_str(), static_cast<int>(kMaxPropertiesCount));
            return result;
        }
        if (!value.isString()) continue;
        if (originalKey.empty()) {
            DAVLogWarning(kDAVDerAvedurLogTag,
                          "%s '%s' : a property key cannot be null or empty. Property will be skipped.",
                          logType.c_str(), logName.c_str());
            continue;
        }
        // Lengths count UTF-16 units, as the service does; a cut never splits a character.
        std::string key = originalKey;
        if (Foundation::utf16Length(key) > kMaxPropertyKeyLength) {
            DAVLogWarning(kDAVDerAvedurLogTag,
                          "%s '%s' : property %s : property key length cannot be longer than %d characters. "
                          "Property key will be truncated.",
                          logType.c_str(), logName.c_str(), key.c_str(), static_cast<int>(kMaxPropertyKeyLength));
            key = Foundation::utf16Prefix(key, kMaxPropertyKeyLength);
        }
        std::string text = value.asString();
        if (Foundation::utf16Length(text) > kMaxPropertyValueLength) {
            DAVLogWarning(kDAVDerAvedurLogTag,
                          "%s '%s' : property '%s' : property value cannot be longer than %d characters. "
                          "Property value will be truncated.",
                          logType.c_str(), logName.c_str(), key.c_str(), static_cast<int>(kMaxPropertyValueLength));
            text = Foundation::utf16Prefix(text, kMaxPropertyValueLength);
        }
        result.set(std::move(key), Foundation::Value(std::move(text)));
    }
    return result;
}
