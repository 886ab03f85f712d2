#include "Platform/CloudKit/Wire.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Text.h"

namespace CloudKit::wire {

const Json& member(const Json& object, const char* key) {
    if (!object.is_object()) throw MalformedError(std::string("expected an object holding \"") + key + "\"");
    auto it = object.find(key);
    if (it == object.end()) throw MalformedError(std::string("missing \"") + key + "\"");
    return *it;
}

std::string stringMember(const Json& object, const char* key) {
    const Json& v = member(object, key);
    if (!v.is_string()) throw MalformedError(std::string("\"") + key + "\" is not text");
    return v.get<std::string>();
}

namespace {

Data readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UnsendableError(CKErrorAssetFileNotFound, "asset file not found: " + path);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Data decodeBase64(const Json& json) {
    if (!json.is_string()) throw MalformedError("base64 value is not text");
    auto data = Foundation::base64DecodeStrict(json.get<std::string>());
    if (!data) throw MalformedError("bad base64");
    return *data;
}

}  // namespace

Json encodeValue(const Value& value) {
    using T = Value::Type;
    switch (value.type()) {
        case T::Null:
            return nullptr;
        case T::Bool:
            return Json{{"bool", value.asBool()}};
        case T::Int:
            return Json{{"int", value.asInt()}};
        case T::Double: {
            double d = value.asDouble();
            if (std::isnan(d)) return Json{{"double", "nan"}};
            if (std::isinf(d)) return Json{{"double", d > 0 ? "inf" : "-inf"}};
            return Json{{"double", d}};
        }
        case T::String:
            return Json{{"string", value.asString()}};
        case T::Data:
            return Json{{"data", Foundation::base64Encode(value.asData())}};
        case T::Date:
            return Json{{"date", value.asDate().secondsSince1970}};
        case T::Array: {
            Json list = Json::array();
            for (const auto& item : value.asArray()) list.push_back(encodeValue(item));
            return Json{{"list", std::move(list)}};
        }
        case T::Dictionary: {
            Json entries = Json::array();
            for (const auto& [key, item] : value.asDictionary())
                entries.push_back(Json::array({key, encodeValue(item)}));
            return Json{{"dict", std::move(entries)}};
        }
        case T::Object: {
            if (auto ref = CKReference::from(value)) {
                return Json{{"ref",
                             {{"zone", ref->recordID().zoneID.zoneName},
                              {"owner", ref->recordID().zoneID.ownerName},
                              {"name", ref->recordID().recordName},
                              {"action", static_cast<int>(ref->action())}}}};
            }
            if (auto asset = CKAsset::from(value)) {
                const Data bytes = asset->inlineData() ? *asset->inlineData() : readFile(asset->fileURL());
                return Json{{"asset", Foundation::base64Encode(bytes)}};
            }
            throw UnsendableError(
                CKErrorInvalidArguments,
                "a record cannot hold a " + (value.asObject() ? value.asObject()->className() : "nil"));
        }
    }
    return nullptr;
}

Value decodeValue(const Json& json, const AssetStore& assets) {
    if (json.is_null()) return {};
    if (!json.is_object() || json.size() != 1) throw MalformedError("a value is an object with one member");
    const auto entry = json.begin();
    const std::string kind = entry.key();
    const Json& v = entry.value();
    if (kind == "bool") {
        if (!v.is_boolean()) throw MalformedError("bool");
        return v.get<bool>();
    }
    if (kind == "int") {
        if (!v.is_number_integer()) throw MalformedError("int");
        return v.get<std::int64_t>();
    }
    if (kind == "double") {
        if (v.is_number()) return v.get<double>();
        if (v == "nan") return std::numeric_limits<double>::quiet_NaN();
        if (v == "inf") return std::numeric_limits<double>::infinity();
        if (v == "-inf") return -std::numeric_limits<double>::infinity();
        throw MalformedError("double");
    }
    if (kind == "string") {
        if (!v.is_string()) throw MalformedError("string");
        return v.get<std::string>();
    }
    if (kind == "data") return decodeBase64(v);
    if (kind == "date") {
        if (!v.is_number()) throw MalformedError("date");
        return Date{v.get<double>()};
    }
    if (kind == "list") {
        if (!v.is_array()) throw MalformedError("list");
        Foundation::Array items;
        for (const auto& item : v) items.push_back(decodeValue(item, assets));
        return items;
    }
    if (kind == "dict") {
        if (!v.is_array()) throw MalformedError("dict");
        Dictionary dict;
        for (const auto& entry : v) {
            if (!entry.is_array() || entry.size() != 2 || !entry[0].is_string()) throw MalformedError("dict entry");
            dict.set(entry[0].get<std::string>(), decodeValue(entry[1], assets));
        }
        return dict;
    }
    if (kind == "ref") {
        if (!v.is_object()) throw MalformedError("ref");
        auto it = v.find("action");
        int action = it != v.end() && it->is_number_integer() ? it->get<int>() : 0;
        return CKReference::make(
            CKRecordID(stringMember(v, "name"), CKRecordZoneID(stringMember(v, "zone"), stringMember(v, "owner"))),
            action == 1 ? CKReferenceAction::deleteSelf : CKReferenceAction::none);
    }
    if (kind == "asset") {
        Data bytes = decodeBase64(v);
        if (assets) return std::make_shared<CKAsset>(assets(bytes));
        return std::make_shared<CKAsset>(std::string{}, std::move(bytes));
    }
    throw MalformedError("unknown value kind " + kind);
}

Json encodeZoneID(const CKRecordZoneID& id) { return Json{{"zone", id.zoneName}, {"owner", id.ownerName}}; }

CKRecordZoneID decodeZoneID(const Json& json) {
    return CKRecordZoneID(stringMember(json, "zone"), stringMember(json, "owner"));
}

Json encodeRecordID(const CKRecordID& id) {
    return Json{{"name", id.recordName}, {"zone", id.zoneID.zoneName}, {"owner", id.zoneID.ownerName}};
}

CKRecordID decodeRecordID(const Json& json) {
    return CKRecordID(stringMember(json, "name"),
                      CKRecordZoneID(stringMember(json, "zone"), stringMember(json, "owner")));
}

Json encodeRecord(const CKRecord& record) {
    Json fields = Json::array();
    for (const auto& [key, value] : record.fields()) fields.push_back(Json::array({key, encodeValue(value)}));
    Json json{{"type", record.recordType()},
              {"id", encodeRecordID(record.recordID())},
              {"fields", std::move(fields)},
              {"changed", record.changedKeys()}};
    if (record.recordChangeTag()) json["tag"] = *record.recordChangeTag();
    if (record.creationDate()) json["created"] = record.creationDate()->secondsSince1970;
    if (record.modificationDate()) json["modified"] = record.modificationDate()->secondsSince1970;
    return json;
}

CKRecord decodeRecord(const Json& json, const AssetStore& assets) {
    CKRecord record(stringMember(json, "type"), decodeRecordID(member(json, "id")));
    const Json& fields = member(json, "fields");
    if (!fields.is_array()) throw MalformedError("fields");
    for (const auto& entry : fields) {
        if (!entry.is_array() || entry.size() != 2 || !entry[0].is_string()) throw MalformedError("field entry");
        record.setObject(entry[0].get<std::string>(), decodeValue(entry[1], assets));
    }
    std::vector<std::string> changed;
    if (auto it = json.find("changed"); it != json.end()) {
        if (!it->is_array()) throw MalformedError("changed");
        for (const auto& key : *it) {
            if (!key.is_string()) throw MalformedError("changed key");
            changed.push_back(key.get<std::string>());
        }
    }
    record.setChangedKeys(std::move(changed));
    std::optional<std::string> tag;
    std::optional<Date> created, modified;
    if (auto it = json.find("tag"); it != json.end() && it->is_string()) tag = it->get<std::string>();
    if (auto it = json.find("created"); it != json.end() && it->is_number()) created = Date{it->get<double>()};
    if (auto it = json.find("modified"); it != json.end() && it->is_number()) modified = Date{it->get<double>()};
    record.setServerState(tag, created, modified);
    return record;
}

Json encodeToken(const CKServerChangeTokenPtr& token) {
    if (!token) return nullptr;
    return token->opaque();
}

CKServerChangeTokenPtr decodeToken(const Json& json) {
    if (json.is_null()) return nullptr;
    if (!json.is_string()) throw MalformedError("token");
    return std::make_shared<CKServerChangeToken>(json.get<std::string>());
}

Json encodeError(const Foundation::Error& error) {
    return Json{{"domain", error.domain},
                {"code", error.code},
                {"description", error.description},
                {"userInfo", encodeValue(Value(error.userInfo))}};
}

Foundation::Error decodeError(const Json& json) {
    Foundation::Error error;
    error.domain = stringMember(json, "domain");
    const Json& code = member(json, "code");
    if (!code.is_number_integer()) throw MalformedError("error code");
    error.code = code.get<long>();
    error.description = stringMember(json, "description");
    if (auto it = json.find("userInfo"); it != json.end()) {
        Value info = decodeValue(*it);
        if (const auto* dict = info.dictionaryOrNull()) error.userInfo = *dict;
    }
    return error;
}

}  // namespace CloudKit::wire
