#include "Platform/CloudKit/Operations.h"

#include <nlohmann/json.hpp>

#include "Platform/CloudKit/Container.h"
#include "Platform/Foundation/Text.h"

namespace CloudKit {

using wire::Json;

namespace {

OptionalError replyError(const Json& reply) {
    if (!reply.is_object() || !reply.contains("error")) return std::nullopt;
    try {
        return wire::decodeError(reply["error"]);
    } catch (const std::exception& e) {
        return makeCKError(CKErrorServerRejectedRequest, e.what());
    }
}

CKError malformedReply(const std::exception& e) {
    return makeCKError(CKErrorServerRejectedRequest, std::string("malformed reply: ") + e.what());
}

}  // namespace

CKOperation::CKOperation() : operationID_(Foundation::makeUUIDString()) {}

void CKFetchDatabaseChangesOperation::run(ClientCore& client) {
    CKServerChangeTokenPtr token = previousServerChangeToken;
    for (;;) {
        auto reply = client.call("fetchDatabaseChanges", Json{{"token", wire::encodeToken(token)}});
        if (!reply) return;
        if (auto error = replyError(*reply)) {
            if (fetchDatabaseChangesCompletionBlock) fetchDatabaseChangesCompletionBlock(nullptr, false, error);
            return;
        }
        std::vector<CKRecordZoneID> changed, deleted;
        bool more = false;
        try {
            for (const auto& z : wire::member(*reply, "changed")) changed.push_back(wire::decodeZoneID(z));
            for (const auto& z : wire::member(*reply, "deleted")) deleted.push_back(wire::decodeZoneID(z));
            token = wire::decodeToken(wire::member(*reply, "token"));
            more = reply->value("moreComing", false);
        } catch (const std::exception& e) {
            if (fetchDatabaseChangesCompletionBlock)
                fetchDatabaseChangesCompletionBlock(nullptr, false, malformedReply(e));
            return;
        }
        for (const auto& z : changed)
            if (recordZoneWithIDChangedBlock) recordZoneWithIDChangedBlock(z);
        for (const auto& z : deleted)
            if (recordZoneWithIDWasDeletedBlock) recordZoneWithIDWasDeletedBlock(z);
        if (more && fetchAllChanges) {
            if (changeTokenUpdatedBlock) changeTokenUpdatedBlock(token);
            continue;
        }
        if (fetchDatabaseChangesCompletionBlock) fetchDatabaseChangesCompletionBlock(token, more, std::nullopt);
        return;
    }
}

void CKFetchRecordZoneChangesOperation::run(ClientCore& client) {
    bool anyFailed = false;
    for (const auto& zoneID : recordZoneIDs) {
        CKServerChangeTokenPtr token;
        if (auto it = optionsByRecordZoneID.find(zoneID); it != optionsByRecordZoneID.end())
            token = it->second.previousServerChangeToken;
        for (;;) {
            auto reply = client.call("fetchZoneChanges",
                                     Json{{"zone", wire::encodeZoneID(zoneID)}, {"token", wire::encodeToken(token)}});
            if (!reply) return;
            OptionalError error = replyError(*reply);
            std::vector<CKRecord> records;
            std::vector<std::pair<CKRecordID, std::string>> deleted;
            bool more = false;
            if (!error) {
                try {
                    for (const auto& r : wire::member(*reply, "records"))
                        records.push_back(wire::decodeRecord(r, client.assetStore()));
                    for (const auto& d : wire::member(*reply, "deleted"))
                        deleted.emplace_back(wire::decodeRecordID(wire::member(d, "id")),
                                             wire::stringMember(d, "type"));
                    token = wire::decodeToken(wire::member(*reply, "token"));
                    more = reply->value("moreComing", false);
                } catch (const std::exception& e) {
                    error = malformedReply(e);
                }
            }
            if (error) {
                anyFailed = true;
                if (recordZoneFetchCompletionBlock)
                    recordZoneFetchCompletionBlock(zoneID, token, std::nullopt, false, error);
                break;
            }
            for (const auto& r : records)
                if (recordChangedBlock) recordChangedBlock(r);
            for (const auto& [id, type] : deleted)
                if (recordWithIDWasDeletedBlock) recordWithIDWasDeletedBlock(id, type);
            if (more && fetchAllChanges) {
                if (recordZoneChangeTokensUpdatedBlock) recordZoneChangeTokensUpdatedBlock(zoneID, token, std::nullopt);
                continue;
            }
            if (recordZoneFetchCompletionBlock)
                recordZoneFetchCompletionBlock(zoneID, token, std::nullopt, more, std::nullopt);
            break;
        }
    }
    if (fetchRecordZoneChangesCompletionBlock)
        fetchRecordZoneChangesCompletionBlock(anyFailed ? OptionalError(makeCKError(CKErrorPartialFailure))
                                                        : std::nullopt);
}

void CKModifyRecordZonesOperation::run(ClientCore& client) {
    Json save = Json::array(), remove = Json::array();
    for (const auto& z : recordZonesToSave) save.push_back(wire::encodeZoneID(z.zoneID));
    for (const auto& z : recordZoneIDsToDelete) remove.push_back(wire::encodeZoneID(z));
    auto reply = client.call("modifyZones", Json{{"save", std::move(save)}, {"delete", std::move(remove)}});
    if (!reply) return;
    if (!modifyRecordZonesCompletionBlock) return;
    if (auto error = replyError(*reply)) {
        modifyRecordZonesCompletionBlock({}, {}, error);
        return;
    }
    std::vector<CKRecordZone> saved;
    std::vector<CKRecordZoneID> deleted;
    try {
        for (const auto& z : wire::member(*reply, "saved")) saved.emplace_back(wire::decodeZoneID(z));
        for (const auto& z : wire::member(*reply, "deleted")) deleted.push_back(wire::decodeZoneID(z));
    } catch (const std::exception& e) {
        modifyRecordZonesCompletionBlock({}, {}, malformedReply(e));
        return;
    }
    modifyRecordZonesCompletionBlock(saved, deleted, std::nullopt);
}

void CKModifySubscriptionsOperation::run(ClientCore& client) {
    Json save = Json::array();
    for (const auto& s : subscriptionsToSave)
        save.push_back(
            Json{{"id", s.subscriptionID}, {"contentAvailable", s.notificationInfo.shouldSendContentAvailable}});
    auto reply =
        client.call("modifySubscriptions", Json{{"save", std::move(save)}, {"delete", subscriptionIDsToDelete}});
    if (!reply) return;
    if (!modifySubscriptionsCompletionBlock) return;
    if (auto error = replyError(*reply)) {
        modifySubscriptionsCompletionBlock({}, {}, error);
        return;
    }
    std::vector<CKDatabaseSubscription> saved;
    std::vector<std::string> deleted;
    try {
        for (const auto& s : wire::member(*reply, "saved")) {
            CKDatabaseSubscription sub(wire::stringMember(s, "id"));
            sub.notificationInfo.shouldSendContentAvailable = s.value("contentAvailable", false);
            saved.push_back(sub);
        }
        for (const auto& s : wire::member(*reply, "deleted")) deleted.push_back(s.get<std::string>());
    } catch (const std::exception& e) {
        modifySubscriptionsCompletionBlock({}, {}, malformedReply(e));
        return;
    }
    modifySubscriptionsCompletionBlock(saved, deleted, std::nullopt);
}

std::shared_ptr<CKModifyRecordsOperation> CKModifyRecordsOperation::resumed(const std::string& operationID,
                                                                            std::vector<CKRecord> save,
                                                                            std::vector<CKRecordID> remove,
                                                                            CKSavePolicy policy, bool atomic) {
    auto op = std::make_shared<CKModifyRecordsOperation>(std::move(save), std::move(remove));
    op->operationID_ = operationID;
    op->savePolicy = policy;
    op->atomic = atomic;
    op->configuration.longLived = true;
    op->resumed_ = true;
    return op;
}

void CKModifyRecordsOperation::run(ClientCore& client) {
    auto complete = [&](const std::vector<CKRecord>& saved, const std::vector<CKRecordID>& deleted,
                        const OptionalError& error) {
        if (modifyRecordsCompletionBlock) modifyRecordsCompletionBlock(saved, deleted, error);
        if (isLongLived()) client.call("finishLongLived", Json{{"id", operationID_}});
    };
    std::optional<Json> reply;
    if (resumed_) {
        reply = client.call("runLongLived", Json{{"id", operationID_}});
    } else {
        Json body{{"policy", static_cast<int>(savePolicy)}, {"atomic", atomic}};
        try {
            Json save = Json::array(), remove = Json::array();
            for (const auto& r : recordsToSave) save.push_back(wire::encodeRecord(r));
            for (const auto& id : recordIDsToDelete) remove.push_back(wire::encodeRecordID(id));
            body["save"] = std::move(save);
            body["delete"] = std::move(remove);
        } catch (const wire::UnsendableError& e) {
            complete({}, {}, makeCKError(e.code, e.what()));
            return;
        }
        if (isLongLived()) body["longLivedID"] = operationID_;
        reply = client.call("modifyRecords", body);
    }
    if (!reply) return;
    std::vector<CKRecord> saved;
    std::vector<CKRecordID> deleted;
    OptionalError error = replyError(*reply);
    try {
        if (reply->contains("saved"))
            for (const auto& r : (*reply)["saved"]) saved.push_back(wire::decodeRecord(r, client.assetStore()));
        if (reply->contains("deleted"))
            for (const auto& id : (*reply)["deleted"]) deleted.push_back(wire::decodeRecordID(id));
    } catch (const std::exception& e) {
        if (!error) error = malformedReply(e);
    }
    complete(saved, deleted, error);
}

}  // namespace CloudKit
