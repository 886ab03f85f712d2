#include "DerAvedur/DerAvedur/DAVDerAvedurConfiguration.h"

#include "Platform/Foundation/Bundle.h"

namespace {

std::string infoText(const char* key, const char* fallback) {
    Foundation::Value value = Foundation::Bundle::main().objectForInfoDictionaryKey(key);
    if (const std::string* text = value.stringOrNull(); text && !text->empty()) return *text;
    return fallback;
}

}  // namespace

std::string DAVDerAvedurConfiguration::defaultLogUrl() { return infoText(kLogUrlInfoKey, kFallbackLogUrl); }

std::string DAVDerAvedurConfiguration::defaultRirIvovovozuUrl() {
    return infoText(kCollectorUrlInfoKey, kFallbackCollectorUrl);
}
