#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVStackFrame.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"

using namespace DAVModelFields;

namespace {

const Field<DAVStackFrame> kFrameFields[] = {
    {"address", &DAVStackFrame::address},          {"code", &DAVStackFrame::code},
    {"className", &DAVStackFrame::frameClassName}, {"methodName", &DAVStackFrame::methodName},
    {"lineNumber", &DAVStackFrame::lineNumber},    {"fileName", &DAVStackFrame::fileName},
};

}  // namespace

Foundation::Value DAVStackFrame::serializeToDictionary() const { return fieldsToDictionary(*this, kFrameFields); }

bool DAVStackFrame::isEqual(const DAVStackFrame& other) const { return fieldsEqual(*this, other, kFrameFields); }

void DAVStackFrame::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kFrameFields);
}

void DAVStackFrame::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kFrameFields); }
