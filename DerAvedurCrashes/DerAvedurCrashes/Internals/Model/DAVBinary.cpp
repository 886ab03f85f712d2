#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVBinary.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelFields;
using namespace DAVErrorModelSupport;

namespace {

const Field<DAVBinary> kBinaryFields[] = {
    {"id", &DAVBinary::binaryId},
    {"startAddress", &DAVBinary::startAddress},
    {"endAddress", &DAVBinary::endAddress},
    {"name", &DAVBinary::name},
    {"path", &DAVBinary::path},
    {"architecture", &DAVBinary::architecture},
    {"primaryArchitectureId", &DAVBinary::primaryArchitectureId},
    {"architectureVariantId", &DAVBinary::architectureVariantId},
};

}  // namespace

Foundation::Value DAVBinary::serializeToDictionary() const { return fieldsToDictionary(*this, kBinaryFields); }

bool DAVBinary::isValid() const {
    const RequiredField fields[] = {{"binaryId", binaryId.has_value()},
                                    {"startAddress", startAddress.has_value()},
                                    {"endAddress", endAddress.has_value()},
                                    {"name", name.has_value()},
                                    {"path", path.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVBinary::isEqual(const DAVBinary& other) const { return fieldsEqual(*this, other, kBinaryFields); }

void DAVBinary::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeFields(coder, *this, kBinaryFields); }

void DAVBinary::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kBinaryFields); }
