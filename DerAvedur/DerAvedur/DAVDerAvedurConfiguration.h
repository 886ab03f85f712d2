#pragma once
// Where the SDK sends by default. Both endpoints are configuration: the
// application's Info dictionary may name them ("DerAvedurLogUrl",
// "DerAvedurCollectorUrl"); without it they are hosts under ".invalid",
// which no real server can answer, so that an unconfigured build keeps its
// logs stored and retries them rather than sending them anywhere.

#include <string>

class DAVDerAvedurConfiguration {
public:
    static constexpr const char* kLogUrlInfoKey = "DerAvedurLogUrl";
    static constexpr const char* kCollectorUrlInfoKey = "DerAvedurCollectorUrl";
    static constexpr const char* kFallbackLogUrl = "https://ingestion.invalid";
    static constexpr const char* kFallbackCollectorUrl = "https://collector.invalid";

    // The Der Avedur ingestion's base URL ("/logs" is added to it).
    static std::string defaultLogUrl();
    // The collector's base URL ("/RirIvovovozu/1.0" is added to it).
    static std::string defaultRirIvovovozuUrl();
};
