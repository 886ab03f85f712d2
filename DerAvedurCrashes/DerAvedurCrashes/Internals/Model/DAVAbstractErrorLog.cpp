#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAbstractErrorLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelFields;
using DAVErrorModelSupport::checkRequired;
using DAVErrorModelSupport::RequiredField;

namespace {

// After the base log's own fields, which its table holds.
const Field<DAVAbstractErrorLog> kErrorLogFields[] = {
    {"id", &DAVAbstractErrorLog::errorId},
    {"processId", &DAVAbstractErrorLog::processId},
    {"processName", &DAVAbstractErrorLog::processName},
    {"parentProcessId", &DAVAbstractErrorLog::parentProcessId},
    {"parentProcessName", &DAVAbstractErrorLog::parentProcessName},
    {"errorThreadId", &DAVAbstractErrorLog::errorThreadId},
    {"errorThreadName", &DAVAbstractErrorLog::errorThreadName},
    {"fatal", &DAVAbstractErrorLog::fatal},
    {"appLaunchTimestamp", &DAVAbstractErrorLog::appLaunchTimestamp},
    {"architecture", &DAVAbstractErrorLog::architecture},
};

}  // namespace

Foundation::Value DAVAbstractErrorLog::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    appendFields(json, *this, kErrorLogFields);
    return value;
}

bool DAVAbstractErrorLog::isValid() const {
    if (!DAVAbstractLog::isValid()) return false;
    const RequiredField fields[] = {{"errorId", errorId.has_value()},
                                    {"processId", processId.has_value()},
                                    {"processName", processName.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVAbstractErrorLog::isEqual(const DAVAbstractLog& other) const {
    return DAVAbstractLog::isEqual(other) &&
           fieldsEqual(*this, static_cast<const DAVAbstractErrorLog&>(other), kErrorLogFields);
}

void DAVAbstractErrorLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeFields(coder, *this, kErrorLogFields);
}

void DAVAbstractErrorLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    decodeFields(coder, *this, kErrorLogFields);
}
