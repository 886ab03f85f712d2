#include "DerAvedur/DerAvedur/Internals/Model/DAVCommonSchemaLog.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVUtility.h"

using namespace DAVModelSupport;

bool DAVCommonSchemaLog::isValid() const {
    if (!timestamp()) {
        logInvalidField("timestamp");
        return false;
    }
    if (!ver) {
        logInvalidField("ver");
        return false;
    }
    if (!name) {
        logInvalidField("name");
        return false;
    }
    return true;
}

nlohmann::ordered_json DAVCommonSchemaLog::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "ver", ver);
    setIfPresent(json, "name", name);
    if (auto time = timestamp()) json["time"] = DAVUtility::dateToISO8601(*time);
    setIfPresent(json, "iKey", iKey);
    if (flags != 0) json["flags"] = flags;
    if (ext) json["ext"] = ext->serializeToDictionary();
    if (data) json["data"] = data->serializeToDictionary();
    return json;
}

bool DAVCommonSchemaLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVAbstractLog::isEqual(other)) return false;
    const auto& log = static_cast<const DAVCommonSchemaLog&>(other);
    return ver == log.ver && name == log.name && popSample == log.popSample && iKey == log.iKey &&
           flags == log.flags && cV == log.cV && objectsEqual(ext, log.ext) && objectsEqual(data, log.data);
}

void DAVCommonSchemaLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeIfPresent(coder, "ver", ver);
    encodeIfPresent(coder, "name", name);
    coder.encode("popSample", Foundation::Value(popSample));
    encodeIfPresent(coder, "iKey", iKey);
    coder.encode("flags", Foundation::Value(flags));
    encodeIfPresent(coder, "cV", cV);
    if (ext) coder.encode("ext", Foundation::Value(ext));
    if (data) coder.encode("data", Foundation::Value(data));
}

void DAVCommonSchemaLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    ver = coder.decodeStringForKey("ver");
    name = coder.decodeStringForKey("name");
    popSample = coder.decodeDoubleForKey("popSample");
    iKey = coder.decodeStringForKey("iKey");
    flags = coder.decodeIntegerForKey("flags");
    cV = coder.decodeStringForKey("cV");
    ext = coder.decodeObjectOfClass<DAVCSExtensions>("ext");
    data = coder.decodeObjectOfClass<DAVCSData>("data");
}
