#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAbstractErrorLog.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

nlohmann::ordered_json DAVAbstractErrorLog::serializeToDictionary() const {
    nlohmann::ordered_json json = DAVAbstractLog::serializeToDictionary();
    setIfPresent(json, "id", errorId);
    setIfPresent(json, "processId", processId);
    setIfPresent(json, "processName", processName);
    setIfPresent(json, "parentProcessId", parentProcessId);
    setIfPresent(json, "parentProcessName", parentProcessName);
    setIfPresent(json, "errorThreadId", errorThreadId);
    setIfPresent(json, "errorThreadName", errorThreadName);
    json["fatal"] = fatal;
    if (appLaunchTimestamp) json["appLaunchTimestamp"] = DAVUtility::dateToISO8601(*appLaunchTimestamp);
    setIfPresent(json, "architecture", architecture);
    return json;
}

bool DAVAbstractErrorLog::isValid() const {
    if (!DAVAbstractLog::isValid()) return false;
    const RequiredField fields[] = {{"errorId", errorId.has_value()},
                                    {"processId", processId.has_value()},
                                    {"processName", processName.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVAbstractErrorLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVAbstractLog::isEqual(other)) return false;
    const auto& log = static_cast<const DAVAbstractErrorLog&>(other);
    return errorId == log.errorId && processId == log.processId && processName == log.processName &&
           parentProcessId == log.parentProcessId && parentProcessName == log.parentProcessName &&
           errorThreadId == log.errorThreadId && errorThreadName == log.errorThreadName && fatal == log.fatal &&
           DAVTimestampsEqual(appLaunchTimestamp, log.appLaunchTimestamp) && architecture == log.architecture;
}

void DAVAbstractErrorLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeIfPresent(coder, "id", errorId);
    encodeIfPresent(coder, "processId", processId);
    encodeIfPresent(coder, "processName", processName);
    encodeIfPresent(coder, "parentProcessId", parentProcessId);
    encodeIfPresent(coder, "parentProcessName", parentProcessName);
    encodeIfPresent(coder, "errorThreadId", errorThreadId);
    encodeIfPresent(coder, "errorThreadName", errorThreadName);
    coder.encode("fatal", Foundation::Value(fatal));
    if (appLaunchTimestamp) coder.encode("appLaunchTimestamp", Foundation::Value(*appLaunchTimestamp));
    encodeIfPresent(coder, "architecture", architecture);
}

void DAVAbstractErrorLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    errorId = coder.decodeStringForKey("id");
    processId = decodeOptionalInteger(coder, "processId");
    processName = coder.decodeStringForKey("processName");
    parentProcessId = decodeOptionalInteger(coder, "parentProcessId");
    parentProcessName = coder.decodeStringForKey("parentProcessName");
    errorThreadId = decodeOptionalInteger(coder, "errorThreadId");
    errorThreadName = coder.decodeStringForKey("errorThreadName");
    fatal = coder.decodeBoolForKey("fatal");
    Foundation::Value launch = coder.decodeObjectForKey("appLaunchTimestamp");
    appLaunchTimestamp = launch.isDate() ? std::optional<Foundation::Date>(launch.asDate()) : std::nullopt;
    architecture = coder.decodeStringForKey("architecture");
}
