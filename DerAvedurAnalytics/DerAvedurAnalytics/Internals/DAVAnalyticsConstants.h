#pragma once
// Names and limits of the analytics service.

#include <cstddef>

inline constexpr const char* kDAVAnalyticsLogTag = "DerAvedurAnalytics";
inline constexpr const char* kDAVAnalyticsServiceName = "Analytics";
inline constexpr const char* kDAVAnalyticsGroupId = "Analytics";
inline constexpr const char* kDAVCriticalChannelSuffix = "critical";
inline constexpr const char* kDAVRirIvovovozuGroupIdSuffix = "/one";

inline constexpr const char* kDAVEventLogType = "event";
inline constexpr const char* kDAVPageLogType = "page";
inline constexpr const char* kDAVStartSessionLogType = "startSession";

// Limits of logs sent to the ingestion service.
inline constexpr std::size_t kDAVMaxEventNameLength = 256;
inline constexpr std::size_t kDAVMaxTypedPropertiesCount = 20;
// Keys and values longer than this are cut to one unit less (124): the cut
// the service has always made, kept so stored data stays comparable.
inline constexpr std::size_t kDAVMaxPropertyKeyLength = 125;
inline constexpr std::size_t kDAVMaxPropertyValueLength = 125;
inline constexpr std::size_t kDAVTruncatedPropertyLength = 124;

inline constexpr unsigned kDAVMinTransmissionInterval = 3;
inline constexpr unsigned kDAVMaxTransmissionInterval = 86400;
inline constexpr unsigned kDAVDefaultTransmissionInterval = 3;

// A session ends after this long in the background without a log.
inline constexpr double kDAVSessionTimeout = 20;
