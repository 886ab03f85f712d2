#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVBinary.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

nlohmann::ordered_json DAVBinary::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "id", binaryId);
    setIfPresent(json, "startAddress", startAddress);
    setIfPresent(json, "endAddress", endAddress);
    setIfPresent(json, "name", name);
    setIfPresent(json, "path", path);
    setIfPresent(json, "architecture", architecture);
    setIfPresent(json, "primaryArchitectureId", primaryArchitectureId);
    setIfPresent(json, "architectureVariantId", architectureVariantId);
    return json;
}

bool DAVBinary::isValid() const {
    const RequiredField fields[] = {{"binaryId", binaryId.has_value()},
                                    {"startAddress", startAddress.has_value()},
                                    {"endAddress", endAddress.has_value()},
                                    {"name", name.has_value()},
                                    {"path", path.has_value()}};
    return checkRequired(className(), fields);
}

bool DAVBinary::isEqual(const DAVBinary& other) const {
    return binaryId == other.binaryId && startAddress == other.startAddress && endAddress == other.endAddress &&
           name == other.name && path == other.path && architecture == other.architecture &&
           primaryArchitectureId == other.primaryArchitectureId && architectureVariantId == other.architectureVariantId;
}

void DAVBinary::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "id", binaryId);
    encodeIfPresent(coder, "startAddress", startAddress);
    encodeIfPresent(coder, "endAddress", endAddress);
    encodeIfPresent(coder, "name", name);
    encodeIfPresent(coder, "path", path);
    encodeIfPresent(coder, "architecture", architecture);
    encodeIfPresent(coder, "primaryArchitectureId", primaryArchitectureId);
    encodeIfPresent(coder, "architectureVariantId", architectureVariantId);
}

void DAVBinary::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    binaryId = coder.decodeStringForKey("id");
    startAddress = coder.decodeStringForKey("startAddress");
    endAddress = coder.decodeStringForKey("endAddress");
    name = coder.decodeStringForKey("name");
    path = coder.decodeStringForKey("path");
    architecture = coder.decodeStringForKey("architecture");
    primaryArchitectureId = decodeOptionalInteger(coder, "primaryArchitectureId");
    architectureVariantId = decodeOptionalInteger(coder, "architectureVariantId");
}
