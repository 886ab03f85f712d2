#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelFields;
using DAVErrorModelSupport::checkRequired;
using DAVErrorModelSupport::RequiredField;

namespace {

// After the error log's own fields, which its table holds.
using AppleErrorLogField =
    Field<DAVAppleErrorLog, ObjectArray<DAVThread>, ObjectArray<DAVBinary>, std::shared_ptr<DAVException>>;
const AppleErrorLogField kAppleErrorLogFields[] = {
    {"primaryArchitectureId", &DAVAppleErrorLog::primaryArchitectureId},
    {"architectureVariantId", &DAVAppleErrorLog::architectureVariantId},
    {"applicationPath", &DAVAppleErrorLog::applicationPath},
    {"osExceptionType", &DAVAppleErrorLog::osExceptionType},
    {"osExceptionCode", &DAVAppleErrorLog::osExceptionCode},
    {"osExceptionAddress", &DAVAppleErrorLog::osExceptionAddress},
    {"exceptionType", &DAVAppleErrorLog::exceptionType},
    {"exceptionReason", &DAVAppleErrorLog::exceptionReason},
    {"selectorRegisterValue", &DAVAppleErrorLog::selectorRegisterValue},
    {"threads", &DAVAppleErrorLog::threads},
    {"binaries", &DAVAppleErrorLog::binaries},
    {"registers", &DAVAppleErrorLog::registers},
    {"exception", &DAVAppleErrorLog::exception},
};

}  // namespace

DAVAppleErrorLog::DAVAppleErrorLog() { setType("appleError"); }

Foundation::Value DAVAppleErrorLog::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractErrorLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    appendFields(json, *this, kAppleErrorLogFields);
    return value;
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
    return DAVAbstractErrorLog::isEqual(other) &&
           fieldsEqual(*this, static_cast<const DAVAppleErrorLog&>(other), kAppleErrorLogFields);
}

void DAVAppleErrorLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractErrorLog::encodeWithCoder(coder);
    encodeFields(coder, *this, kAppleErrorLogFields);
}

void DAVAppleErrorLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractErrorLog::decodeWithCoder(coder);
    decodeFields(coder, *this, kAppleErrorLogFields);
}
