#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVHandledErrorLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVErrorModelSupport.h"

using namespace DAVModelSupport;
using namespace DAVErrorModelSupport;

DAVHandledErrorLog::DAVHandledErrorLog() { setType("handledError"); }

Foundation::Value DAVHandledErrorLog::serializeToDictionary() const {
    Foundation::Value value = DAVLogWithProperties::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    setIfPresent(json, "id", errorId);
    if (exception) json.set("exception", exception->serializeToDictionary());
    return value;
}

bool DAVHandledErrorLog::isValid() const {
    if (!DAVAbstractLog::isValid()) return false;
    const RequiredField fields[] = {{"errorId", errorId.has_value()}, {"exception", exception != nullptr}};
    return checkRequired(className(), fields);
}

bool DAVHandledErrorLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVLogWithProperties::isEqual(other)) return false;
    const auto& log = static_cast<const DAVHandledErrorLog&>(other);
    return errorId == log.errorId && objectEqual(exception, log.exception);
}

void DAVHandledErrorLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVLogWithProperties::encodeWithCoder(coder);
    encodeIfPresent(coder, "id", errorId);
    if (exception) coder.encode("exception", Foundation::Value(exception));
}

void DAVHandledErrorLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVLogWithProperties::decodeWithCoder(coder);
    errorId = coder.decodeStringForKey("id");
    exception = coder.decodeObjectOfClass<DAVException>("exception");
}
