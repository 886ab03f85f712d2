#include "DerAvedur/DerAvedur/Shared/Context/DAVHistoryInfo.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"

using namespace DAVModelSupport;

void DAVHistoryInfo::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    coder.encode("timestamp", Foundation::Value(timestamp));
}

void DAVHistoryInfo::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    Foundation::Value value = coder.decodeObjectForKey("timestamp");
    if (value.isDate()) timestamp = value.asDate();
}

void DAVDeviceHistoryInfo::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVHistoryInfo::encodeWithCoder(coder);
    if (device) coder.encode("device", Foundation::Value(device));
}

void DAVDeviceHistoryInfo::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVHistoryInfo::decodeWithCoder(coder);
    device = coder.decodeObjectOfClass<DAVDevice>("device");
}

void DAVSessionHistoryInfo::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVHistoryInfo::encodeWithCoder(coder);
    encodeIfPresent(coder, "sessionId", sessionId);
}

void DAVSessionHistoryInfo::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVHistoryInfo::decodeWithCoder(coder);
    sessionId = coder.decodeStringForKey("sessionId");
}

void DAVUserIdHistoryInfo::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVHistoryInfo::encodeWithCoder(coder);
    encodeIfPresent(coder, "userId", userId);
}

void DAVUserIdHistoryInfo::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVHistoryInfo::decodeWithCoder(coder);
    userId = coder.decodeStringForKey("userId");
}
