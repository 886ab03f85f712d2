#pragma once
// Values shared by every piece of the telemetry SDK core.

#include <cstdint>

// Passed with every log. The low eight bits are the storage priority.
using DAVFlags = std::uint64_t;
inline constexpr DAVFlags DAVFlagsNone = 0;
inline constexpr DAVFlags DAVFlagsNormal = 1;
inline constexpr DAVFlags DAVFlagsCritical = 2;
inline constexpr DAVFlags DAVFlagsDefault = DAVFlagsNormal;
inline constexpr DAVFlags DAVFlagsPersistenceMask = 0xFF;

// The SDK's error domain and its codes.
inline constexpr const char* kDAVDerAvedurErrorDomain = "com.Vaveruvav.DerAvedur.ErrorDomain";
inline constexpr long DAVLogInvalidContainerErrorCode = 1;
inline constexpr long DAVCanceledErrorCode = 100;

// The core's log tag.
inline constexpr const char* kDAVDerAvedurLogTag = "DerAvedur";
