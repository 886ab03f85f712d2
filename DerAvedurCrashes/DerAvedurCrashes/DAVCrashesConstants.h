#pragma once
// Names shared by the crashes service's pieces.

// The crashes service's log tag.
inline constexpr const char* kDAVCrashesLogTag = "DerAvedurCrashes";
