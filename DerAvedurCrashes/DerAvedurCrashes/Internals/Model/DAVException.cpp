#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelFields;
using DAVErrorModelSupport::checkRequired;
using DAVErrorModelSupport::hasElements;
using DAVErrorModelSupport::RequiredField;

namespace {

using ExceptionField = Field<DAVException, ObjectArray<DAVStackFrame>, ObjectArray<DAVException>>;
const ExceptionField kExceptionFields[] = {
    {"type", &DAVException::type},
    {"message", &DAVException::message},
    {"stackTrace", &DAVException::stackTrace},
    {"wrapperSdkName", &DAVException::wrapperSdkName},
    {"frames", &DAVException::frames},
    {"innerExceptions", &DAVException::innerExceptions},
};

}  // namespace

Foundation::Value DAVException::serializeToDictionary() const { return fieldsToDictionary(*this, kExceptionFields); }

bool DAVException::isValid() const {
    const RequiredField fields[] = {{"type", type.has_value()}, {"frames", hasElements(frames)}};
    return checkRequired(className(), fields);
}

bool DAVException::isEqual(const DAVException& other) const { return fieldsEqual(*this, other, kExceptionFields); }

void DAVException::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kExceptionFields);
}

void DAVException::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kExceptionFields); }
