#pragma once
// The JSON form of requests and replies between the client and the server.
// Both transports use it (the in-process one too), so what works in tests is
// what travels over HTTP.
//
// Field values: {"int": n}, {"double": x | "nan" | "inf" | "-inf"},
// {"string": s}, {"data": base64}, {"date": seconds since 1970},
// {"bool": b}, {"list": [values]}, {"dict": [[key, value], ...]},
// {"ref": {"zone", "owner", "name", "action"}}, {"asset": base64}.
// A record: {"type", "id": {"name", "zone", "owner"}, "fields": [[key, value], ...],
// "changed": [keys], "tag", "created", "modified"}.

#include <functional>
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "Platform/CloudKit/Types.h"

namespace CloudKit::wire {

using Json = nlohmann::json;

// A request or reply that does not have the expected form.
struct MalformedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A value that cannot be sent (an asset whose file cannot be read).
struct UnsendableError : std::runtime_error {
    long code;
    UnsendableError(long c, const std::string& what) : std::runtime_error(what), code(c) {}
};

// Where decoded asset bytes go: returns the local file path for them. Without
// one, assets keep their bytes inline (the server side).
using AssetStore = std::function<std::string(const Data&)>;

Json encodeValue(const Value& value);
Value decodeValue(const Json& json, const AssetStore& assets = {});

Json encodeZoneID(const CKRecordZoneID& id);
CKRecordZoneID decodeZoneID(const Json& json);
Json encodeRecordID(const CKRecordID& id);
CKRecordID decodeRecordID(const Json& json);
Json encodeRecord(const CKRecord& record);
CKRecord decodeRecord(const Json& json, const AssetStore& assets = {});

Json encodeToken(const CKServerChangeTokenPtr& token);
CKServerChangeTokenPtr decodeToken(const Json& json);

Json encodeError(const Foundation::Error& error);
Foundation::Error decodeError(const Json& json);

// Member access that throws MalformedError instead of asserting.
const Json& member(const Json& object, const char* key);
std::string stringMember(const Json& object, const char* key);

}  // namespace CloudKit::wire
