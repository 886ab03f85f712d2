#pragma once
// The SDK's errors beyond the codes of DAVConstants.h, and their texts.

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "Platform/Foundation/Error.h"

// A log that the log store could not save.
inline constexpr long DAVLogNotStoredErrorCode = 2;

inline Foundation::Error DAVInvalidContainerError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVLogInvalidContainerErrorCode, "Invalid log container.");
}
inline Foundation::Error DAVCanceledWithLogDeletionError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVCanceledErrorCode,
                                 "Canceled, connection paused with log deletion.");
}
inline Foundation::Error DAVIngestionDisabledError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVCanceledErrorCode, "Canceled, ingestion is disabled.");
}
inline Foundation::Error DAVLogNotStoredError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVLogNotStoredErrorCode, "The log could not be stored.");
}

// A stored log deleted to make room for newer ones under the store's size limit.
inline constexpr long DAVLogEvictedErrorCode = 3;

inline Foundation::Error DAVLogEvictedError() {
    return Foundation::makeError(kDAVDerAvedurErrorDomain, DAVLogEvictedErrorCode,
                                 "The log was deleted to make room for newer logs.");
}
