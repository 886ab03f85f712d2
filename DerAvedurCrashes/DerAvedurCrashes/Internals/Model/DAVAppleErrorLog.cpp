#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

DAVAppleErrorLog::DAVAppleErrorLog() { setType("appleError"); }

nlohmann::ordered_json DAVAppleErrorLog::serializeToDictionary() const {
    nlohmann::ordered_json json = DAVAbstractErrorLog::serializeToDictionary();
    setIfPresent(json, "primaryArchitectureId", primaryArchitectureId);
    setIfPresent(json, "architectureVariantId", architectureVariantId);
    setIfPresent(json, "applicationPath", applicationPath);
    setIfPresent(json, "osExceptionType", osExceptionType);
    setIfPresent(json, "osExceptionCode", osExceptionCode);
    setIfPresent(json, "osExceptionAddress", osExceptionAddress);
    setIfPresent(json, "exceptionType", exceptionType);
    setIfPresent(json, "exceptionReason", exceptionReason);
    setIfPresent(json, "selectorRegisterValue", selectorRegisterValue);
    setArrayIfPresent(json, "threads", threads);
    setArrayIfPresent(json, "binaries", binaries);
    if (registers) {
        nlohmann::ordered_json values = nlohmann::ordered_json::object();
        for (const auto& [name, value] : *registers)
            if (value.isString()) values[name] = value.asString();
        json["registers"] = std::move(values);
    }
    if (exception) json["exception"] = exception->serializeToDictionary();
    return json;
}

bool DAVAppleErrorLog::isValid() const {
    if (!DAVAbstractErrorLog::isValid()) return false;
    const RequiredField fields[] = {{"primaryArchitectureId", primaryArchitectureId.has_value()},
                                    {"applicationPath", applicationPath.has_value()},
                                    {"osExceptionType", osExceptionType.has_value()},
                                    {"osExceptionCode", osExceptionCode.has_value()},
                                    {"osExceptionAddress", osExceptionAddress.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVAppleErrorLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVAbstractErrorLog::isEqual(other)) return false;
    const auto& log = static_cast<const DAVAppleErrorLog&>(other);
    return primaryArchitectureId == log.primaryArchitectureId && architectureVariantId == log.architectureVariantId &&
           applicationPath == log.applicationPath && osExceptionType == log.osExceptionType &&
           osExceptionCode == log.osExceptionCode && osExceptionAddress == log.osExceptionAddress &&
           exceptionType == log.exceptionType && exceptionReason == log.exceptionReason &&
           selectorRegisterValue == log.selectorRegisterValue && arraysEqual(threads, log.threads) &&
           arraysEqual(binaries, log.binaries) && registers == log.registers && objectEqual(exception, log.exception);
}

void DAVAppleErrorLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractErrorLog::encodeWithCoder(coder);
    encodeIfPresent(coder, "primaryArchitectureId", primaryArchitectureId);
    encodeIfPresent(coder, "architectureVariantId", architectureVariantId);
    encodeIfPresent(coder, "applicationPath", applicationPath);
    encodeIfPresent(coder, "osExceptionType", osExceptionType);
    encodeIfPresent(coder, "osExceptionCode", osExceptionCode);
    encodeIfPresent(coder, "osExceptionAddress", osExceptionAddress);
    encodeIfPresent(coder, "exceptionType", exceptionType);
    encodeIfPresent(coder, "exceptionReason", exceptionReason);
    encodeIfPresent(coder, "selectorRegisterValue", selectorRegisterValue);
    encodeArrayIfPresent(coder, "threads", threads);
    encodeArrayIfPresent(coder, "binaries", binaries);
    if (registers) coder.encode("registers", Foundation::Value(*registers));
    if (exception) coder.encode("exception", Foundation::Value(exception));
}

void DAVAppleErrorLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractErrorLog::decodeWithCoder(coder);
    primaryArchitectureId = decodeOptionalInteger(coder, "primaryArchitectureId");
    architectureVariantId = decodeOptionalInteger(coder, "architectureVariantId");
    applicationPath = coder.decodeStringForKey("applicationPath");
    osExceptionType = coder.decodeStringForKey("osExceptionType");
    osExceptionCode = coder.decodeStringForKey("osExceptionCode");
    osExceptionAddress = coder.decodeStringForKey("osExceptionAddress");
    exceptionType = coder.decodeStringForKey("exceptionType");
    exceptionReason = coder.decodeStringForKey("exceptionReason");
    selectorRegisterValue = coder.decodeStringForKey("selectorRegisterValue");
    threads = decodeArray<DAVThread>(coder, "threads");
    binaries = decodeArray<DAVBinary>(coder, "binaries");
    registers.reset();
    Foundation::Value values = coder.decodeObjectForKey("registers");
    if (const auto* dictionary = values.dictionaryOrNull()) {
        registers.emplace();
        for (const auto& [name, value] : *dictionary)
            if (value.isString()) registers->set(name, value);
    }
    exception = coder.decodeObjectOfClass<DAVException>("exception");
}
