#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"

using namespace DAVModelFields;

// After the base log's own fields in the archive and equality. The JSON holds
// none of the base's keys but its timestamp, as "time"; the sampling rate and
// the correlation vector stay out of it.
struct DAVCommonSchemaLog::Fields {
    static constexpr Field<DAVCommonSchemaLog, std::shared_ptr<DAVCSExtensions>, std::shared_ptr<DAVCSData>> table[] = {
        {"ver", &DAVCommonSchemaLog::ver},
        {"name", &DAVCommonSchemaLog::name},
        {"time", &DAVCommonSchemaLog::timestamp_, kInJson},
        {"popSample", &DAVCommonSchemaLog::popSample, kNotInJson},
        {"iKey", &DAVCommonSchemaLog::iKey},
        {"flags", &DAVCommonSchemaLog::flags},
        {"cV", &DAVCommonSchemaLog::cV, kNotInJson},
        {"ext", &DAVCommonSchemaLog::ext},
        {"data", &DAVCommonSchemaLog::data},
    };
};

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

Foundation::Value DAVCommonSchemaLog::serializeToDictionary() const { return fieldsToDictionary(*this, Fields::table); }

bool DAVCommonSchemaLog::isEqual(const DAVAbstractLog& other) const {
    return DAVAbstractLog::isEqual(other) &&
           fieldsEqual(*this, static_cast<const DAVCommonSchemaLog&>(other), Fields::table);
}

void DAVCommonSchemaLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    encodeFields(coder, *this, Fields::table);
}

void DAVCommonSchemaLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    decodeFields(coder, *this, Fields::table);
}
