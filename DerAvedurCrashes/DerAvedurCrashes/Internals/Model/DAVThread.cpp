#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVThread.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelFields;
using DAVErrorModelSupport::checkRequired;
using DAVErrorModelSupport::hasElements;
using DAVErrorModelSupport::RequiredField;

namespace {

using ThreadField = Field<DAVThread, ObjectArray<DAVStackFrame>, std::shared_ptr<DAVException>>;
const ThreadField kThreadFields[] = {
    {"id", &DAVThread::threadId},
    {"name", &DAVThread::name},
    {"frames", &DAVThread::frames},
    {"exception", &DAVThread::exception},
};

}  // namespace

Foundation::Value DAVThread::serializeToDictionary() const { return fieldsToDictionary(*this, kThreadFields); }

bool DAVThread::isValid() const {
    const RequiredField fields[] = {{"threadId", threadId.has_value()}, {"frames", hasElements(frames)}};
    return checkRequired(className(), fields);
}

bool DAVThread::isEqual(const DAVThread& other) const { return fieldsEqual(*this, other, kThreadFields); }

void DAVThread::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeFields(coder, *this, kThreadFields); }

void DAVThread::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kThreadFields); }
