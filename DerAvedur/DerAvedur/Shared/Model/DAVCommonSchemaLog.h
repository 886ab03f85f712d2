#pragma once
#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCSModel.h"

// A log in the collector's Common Schema form, addressed to one target token.
class DAVCommonSchemaLog : public DAVAbstractLog, public DAVModel {
public:
    std::optional<std::string> ver;
    std::optional<std::string> name;
    double popSample = 100;
    std::optional<std::string> iKey;
    std::int64_t flags = 0;
    std::optional<std::string> cV;
    std::shared_ptr<DAVCSExtensions> ext;
    std::shared_ptr<DAVCSData> data;

    std::string className() const override { return "DAVCommonSchemaLog"; }
    // Timestamp, then "ver", then "name"; no device needed.
    bool isValid() const override;
    // "ver", "name", "time", "iKey", "flags" (when not 0), "ext", "data".
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;

private:
    struct Fields;
};
