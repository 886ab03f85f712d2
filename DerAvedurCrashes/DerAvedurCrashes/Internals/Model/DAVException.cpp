#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

nlohmann::ordered_json DAVException::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "type", type);
    setIfPresent(json, "message", message);
    setIfPresent(json, "stackTrace", stackTrace);
    setIfPresent(json, "wrapperSdkName", wrapperSdkName);
    setArrayIfPresent(json, "frames", frames);
    setArrayIfPresent(json, "innerExceptions", innerExceptions);
    return json;
}

bool DAVException::isValid() const {
    const RequiredField fields[] = {{"type", type.has_value()}, {"frames", hasElements(frames)}};
    return checkRequired(className(), fields);
}

bool DAVException::isEqual(const DAVException& other) const {
    return type == other.type && message == other.message && stackTrace == other.stackTrace &&
           wrapperSdkName == other.wrapperSdkName && arraysEqual(frames, other.frames) &&
           arraysEqual(innerExceptions, other.innerExceptions);
}

void DAVException::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "type", type);
    encodeIfPresent(coder, "message", message);
    encodeIfPresent(coder, "stackTrace", stackTrace);
    encodeIfPresent(coder, "wrapperSdkName", wrapperSdkName);
    encodeArrayIfPresent(coder, "frames", frames);
    encodeArrayIfPresent(coder, "innerExceptions", innerExceptions);
}

void DAVException::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    type = coder.decodeStringForKey("type");
    message = coder.decodeStringForKey("message");
    stackTrace = coder.decodeStringForKey("stackTrace");
    wrapperSdkName = coder.decodeStringForKey("wrapperSdkName");
    frames = decodeArray<DAVStackFrame>(coder, "frames");
    innerExceptions = decodeArray<DAVException>(coder, "innerExceptions");
}
