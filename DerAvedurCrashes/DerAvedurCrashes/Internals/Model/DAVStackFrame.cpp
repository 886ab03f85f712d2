#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVStackFrame.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"

using namespace DAVModelSupport;

nlohmann::ordered_json DAVStackFrame::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "address", address);
    setIfPresent(json, "code", code);
    setIfPresent(json, "className", frameClassName);
    setIfPresent(json, "methodName", methodName);
    setIfPresent(json, "lineNumber", lineNumber);
    setIfPresent(json, "fileName", fileName);
    return json;
}

bool DAVStackFrame::isEqual(const DAVStackFrame& other) const {
    return address == other.address && code == other.code && frameClassName == other.frameClassName &&
           methodName == other.methodName && lineNumber == other.lineNumber && fileName == other.fileName;
}

void DAVStackFrame::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "address", address);
    encodeIfPresent(coder, "code", code);
    encodeIfPresent(coder, "className", frameClassName);
    encodeIfPresent(coder, "methodName", methodName);
    encodeIfPresent(coder, "lineNumber", lineNumber);
    encodeIfPresent(coder, "fileName", fileName);
}

void DAVStackFrame::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    address = coder.decodeStringForKey("address");
    code = coder.decodeStringForKey("code");
    frameClassName = coder.decodeStringForKey("className");
    methodName = coder.decodeStringForKey("methodName");
    lineNumber = decodeOptionalInteger(coder, "lineNumber");
    fileName = coder.decodeStringForKey("fileName");
}
