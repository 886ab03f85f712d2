#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVThread.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

nlohmann::ordered_json DAVThread::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "id", threadId);
    setIfPresent(json, "name", name);
    setArrayIfPresent(json, "frames", frames);
    if (exception) json["exception"] = exception->serializeToDictionary();
    return json;
}

bool DAVThread::isValid() const {
    const RequiredField fields[] = {{"threadId", threadId.has_value()}, {"frames", hasElements(frames)}};
    return checkRequired(className(), fields);
}

bool DAVThread::isEqual(const DAVThread& other) const {
    return threadId == other.threadId && name == other.name && arraysEqual(frames, other.frames) &&
           objectEqual(exception, other.exception);
}

void DAVThread::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "id", threadId);
    encodeIfPresent(coder, "name", name);
    encodeArrayIfPresent(coder, "frames", frames);
    if (exception) coder.encode("exception", Foundation::Value(exception));
}

void DAVThread::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    threadId = decodeOptionalInteger(coder, "id");
    name = coder.decodeStringForKey("name");
    frames = decodeArray<DAVStackFrame>(coder, "frames");
    exception = coder.decodeObjectOfClass<DAVException>("exception");
}
