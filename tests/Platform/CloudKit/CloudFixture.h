#pragma once
// One in-process cloud server on the manual clock, with helpers that run an
// operation and collect what its blocks reported.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/CloudKit/Container.h"
#include "Platform/CloudKit/Server.h"
#include "Platform/Foundation/Dispatch.h"

namespace cloudtest {

using namespace CloudKit;

inline CKRecord colourRecord(const std::string& name, const std::string& hex) {
    CKRecord r("ZNLColorItem", CKRecordID(name, CKRecordZoneID("ZNLColorItemsZone")));
    r.setObject("color", hex);
    return r;
}

struct ZoneFetch {
    std::vector<CKRecord> records;
    std::vector<CKRecordID> deleted;
    CKServerChangeTokenPtr token;
    OptionalError error;
    int tokenUpdates = 0;
    bool completed = false;
};

struct ModifyResult {
    std::vector<CKRecord> saved;
    std::vector<CKRecordID> deleted;
    OptionalError error;
    bool completed = false;
};

class CloudFixture : public ::testing::Test {
protected:
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<CloudServer> server = std::make_shared<CloudServer>();

    std::shared_ptr<CKContainer> device(const std::string& id, const std::string& user = "user") {
        return CKContainer::make(std::make_shared<InProcessTransport>(server, user, id));
    }

    OptionalError createZones(const std::shared_ptr<CKContainer>& c, const std::vector<std::string>& names) {
        std::vector<CKRecordZone> zones;
        for (const auto& n : names) zones.emplace_back(CKRecordZoneID(n));
        auto op = std::make_shared<CKModifyRecordZonesOperation>(zones, std::vector<CKRecordZoneID>{});
        OptionalError result;
        bool done = false;
        op->modifyRecordZonesCompletionBlock = [&](auto&, auto&, const OptionalError& e) {
            result = e;
            done = true;
        };
        c->privateCloudDatabase()->add(op);
        exec->drain();
        EXPECT_TRUE(done);
        return result;
    }

    ModifyResult modify(const std::shared_ptr<CKContainer>& c, std::vector<CKRecord> save,
                        std::vector<CKRecordID> remove = {}, CKSavePolicy policy = CKSavePolicy::changedKeys,
                        bool atomic = true) {
        auto op = std::make_shared<CKModifyRecordsOperation>(std::move(save), std::move(remove));
        op->savePolicy = policy;
        op->atomic = atomic;
        ModifyResult result;
        op->modifyRecordsCompletionBlock = [&](auto& saved, auto& deleted, const OptionalError& e) {
            result = {saved, deleted, e, true};
        };
        c->privateCloudDatabase()->add(op);
        exec->drain();
        return result;
    }

    ZoneFetch fetchZone(const std::shared_ptr<CKContainer>& c, const std::string& zone, CKServerChangeTokenPtr token,
                        bool fetchAll = true) {
        CKRecordZoneID id(zone);
        std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions> options;
        options[id].previousServerChangeToken = std::move(token);
        auto op = std::make_shared<CKFetchRecordZoneChangesOperation>(std::vector<CKRecordZoneID>{id}, options);
        op->fetchAllChanges = fetchAll;
        ZoneFetch result;
        op->recordChangedBlock = [&](const CKRecord& r) { result.records.push_back(r); };
        op->recordWithIDWasDeletedBlock = [&](const CKRecordID& rid, const std::string&) {
            result.deleted.push_back(rid);
        };
        op->recordZoneChangeTokensUpdatedBlock = [&](auto&, auto&, auto&) { ++result.tokenUpdates; };
        op->recordZoneFetchCompletionBlock = [&](auto&, const CKServerChangeTokenPtr& t, auto&, bool,
                                                 const OptionalError& e) {
            result.token = t;
            result.error = e;
            result.completed = true;
        };
        c->privateCloudDatabase()->add(op);
        exec->drain();
        return result;
    }
};

}  // namespace cloudtest
