#include "Platform/CloudKit/Types.h"

#include <algorithm>
#include <mutex>

namespace CloudKit {

std::string CKRecordZoneID::description() const {
    return "<CKRecordZoneID: zoneName=" + zoneName + ", ownerName=" + ownerName + ">";
}

std::string CKRecordID::description() const {
    return "<CKRecordID: " + recordName + ":(" + zoneID.zoneName + ":" + zoneID.ownerName + ")>";
}

std::shared_ptr<const CKReference> CKReference::from(const Value& value) {
    if (!value.isObject()) return nullptr;
    return std::dynamic_pointer_cast<const CKReference>(value.asObject());
}

Value CKReference::valueForKey(const std::string& key) const {
    if (key == "recordName") return recordID_.recordName;
    if (key == "zoneName") return recordID_.zoneID.zoneName;
    if (key == "action") return static_cast<int>(action_);
    return {};
}

std::shared_ptr<const CKAsset> CKAsset::from(const Value& value) {
    if (!value.isObject()) return nullptr;
    return std::dynamic_pointer_cast<const CKAsset>(value.asObject());
}

Value CKAsset::valueForKey(const std::string& key) const {
    if (key == "fileURL") return fileURL_;
    return {};
}

Value CKServerChangeToken::valueForKey(const std::string& key) const {
    if (key == "opaque") return opaque_;
    return {};
}

void CKServerChangeToken::encodeWithCoder(Foundation::KeyedArchiver& coder) const { coder.encode("opaque", opaque_); }

void CKServerChangeToken::registerCoding() {
    static std::once_flag once;
    std::call_once(once, [] {
        Foundation::registerCodingClass("CKServerChangeToken",
                                        [](Foundation::KeyedUnarchiver& coder) -> std::shared_ptr<Foundation::Coding> {
                                            auto opaque = coder.decodeStringForKey("opaque");
                                            if (!opaque) return nullptr;
                                            return std::make_shared<CKServerChangeToken>(*opaque);
                                        });
    });
}

void CKRecord::setObject(const std::string& key, Value value) {
    if (value.isBool()) value = Value(value.asBool() ? 1 : 0);
    if (value.isNull()) {
        fields_.erase(key);
    } else {
        fields_.set(key, std::move(value));
    }
    if (std::find(changedKeys_.begin(), changedKeys_.end(), key) == changedKeys_.end()) changedKeys_.push_back(key);
}

void CKRecord::markAllKeysChanged() {
    for (const auto& key : fields_.keys()) {
        if (std::find(changedKeys_.begin(), changedKeys_.end(), key) == changedKeys_.end()) changedKeys_.push_back(key);
    }
}

std::string CKRecord::description() const {
    std::string text = "<CKRecord: recordType=" + recordType_ + ", recordID=" + recordID_.recordName + ", fields={";
    bool first = true;
    for (const auto& [key, value] : fields_) {
        if (!first) text += ", ";
        first = false;
        text += key + "=";
        if (auto ref = CKReference::from(value)) {
            text += "ref(" + ref->recordID().recordName + ")";
        } else if (auto asset = CKAsset::from(value)) {
            text += "asset(" + asset->fileURL() + ")";
        } else {
            text += value.debugDescription();
        }
    }
    return text + "}>";
}

bool fieldValuesEqual(const Value& a, const Value& b) {
    auto ra = CKReference::from(a), rb = CKReference::from(b);
    if (ra || rb) return ra && rb && ra->recordID() == rb->recordID() && ra->action() == rb->action();
    auto aa = CKAsset::from(a), ab = CKAsset::from(b);
    if (aa || ab) return aa && ab && aa->fileURL() == ab->fileURL() && aa->inlineData() == ab->inlineData();
    if (a.isArray() && b.isArray()) {
        const auto& x = a.asArray();
        const auto& y = b.asArray();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!fieldValuesEqual(x[i], y[i])) return false;
        }
        return true;
    }
    return a == b;
}

bool sameContent(const CKRecord& a, const CKRecord& b) {
    if (a.recordType() != b.recordType() || a.recordID() != b.recordID()) return false;
    if (a.fields().size() != b.fields().size()) return false;
    for (const auto& [key, value] : a.fields()) {
        const Value* other = b.fields().find(key);
        if (!other || !fieldValuesEqual(value, *other)) return false;
    }
    return true;
}

// --- errors ------------------------------------------------------------------

namespace {
const char* defaultDescription(long code) {
    switch (code) {
        case CKErrorPartialFailure:
            return "Partial failure";
        case CKErrorNetworkUnavailable:
            return "Network unavailable";
        case CKErrorNetworkFailure:
            return "Network failure";
        case CKErrorServiceUnavailable:
            return "Service unavailable";
        case CKErrorRequestRateLimited:
            return "Request rate limited";
        case CKErrorNotAuthenticated:
            return "No account";
        case CKErrorUnknownItem:
            return "Unknown item";
        case CKErrorInvalidArguments:
            return "Invalid arguments";
        case CKErrorServerRecordChanged:
            return "Server record changed";
        case CKErrorChangeTokenExpired:
            return "Change token expired";
        case CKErrorBatchRequestFailed:
            return "Batch request failed";
        case CKErrorZoneBusy:
            return "Zone busy";
        case CKErrorZoneNotFound:
            return "Zone not found";
        case CKErrorLimitExceeded:
            return "Limit exceeded";
        default:
            return "Cloud error";
    }
}
}  // namespace

CKError makeCKError(long code, std::string description, std::optional<double> retryAfter) {
    if (description.empty()) description = defaultDescription(code);
    Dictionary info;
    if (retryAfter) info.set(CKErrorRetryAfterKey, *retryAfter);
    return Foundation::makeError(CKErrorDomain, code, std::move(description), std::move(info));
}

bool isCKError(const Foundation::Error& error) { return error.domain == CKErrorDomain; }

std::optional<double> retryAfterSeconds(const Foundation::Error& error) {
    const Value& v = error.userInfo[CKErrorRetryAfterKey];
    return v.numberValue();
}

CKError makePartialFailure(const std::map<CKRecordID, CKError>& itemErrors) {
    Dictionary items;
    for (const auto& [id, err] : itemErrors) {
        items.set(id.description(), Dictionary{{"recordName", id.recordName},
                                               {"zoneName", id.zoneID.zoneName},
                                               {"ownerName", id.zoneID.ownerName},
                                               {"code", err.code},
                                               {"description", err.description}});
    }
    CKError error = makeCKError(CKErrorPartialFailure);
    error.userInfo.set(CKPartialErrorsByItemIDKey, std::move(items));
    return error;
}

std::map<CKRecordID, CKError> partialErrors(const Foundation::Error& error) {
    std::map<CKRecordID, CKError> result;
    const auto* items = error.userInfo[CKPartialErrorsByItemIDKey].dictionaryOrNull();
    if (!items) return result;
    for (const auto& [key, entry] : *items) {
        const auto* name = entry["recordName"].stringOrNull();
        const auto* zone = entry["zoneName"].stringOrNull();
        const auto* owner = entry["ownerName"].stringOrNull();
        auto code = entry["code"].integerValue();
        if (!name || !zone || !code) continue;
        const auto* text = entry["description"].stringOrNull();
        result[CKRecordID(*name, CKRecordZoneID(*zone, owner ? *owner : CKCurrentUserDefaultName))] =
            makeCKError(*code, text ? *text : std::string{});
    }
    return result;
}

// --- pushes ------------------------------------------------------------------

std::optional<CKNotification> CKNotification::fromRemoteNotificationDictionary(const Dictionary& userInfo) {
    const Value& ck = userInfo["ck"];
    if (!ck.isDictionary()) return std::nullopt;
    CKNotification n;
    if (const auto* cid = ck["cid"].stringOrNull()) n.containerIdentifier = *cid;
    if (const auto* nid = ck["nid"].stringOrNull()) n.notificationID = *nid;
    const Value& met = ck["met"];
    if (!met.isDictionary()) return std::nullopt;
    if (const auto* sid = met["sid"].stringOrNull()) n.subscriptionID = *sid;
    n.notificationType = Type::database;
    return n;
}

Dictionary CKNotification::remoteNotificationDictionary() const {
    return Dictionary{
        {"aps", Dictionary{{"content-available", 1}}},
        {"ck", Dictionary{{"cid", containerIdentifier},
                          {"nid", notificationID},
                          {"met", Dictionary{{"sid", subscriptionID}, {"dbs", 1}}}}},
    };
}

}  // namespace CloudKit
