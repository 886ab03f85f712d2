#include "Platform/CloudKit/Server.h"

#include <algorithm>
#include <chrono>
#include <random>

#include <nlohmann/json.hpp>

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"

namespace CloudKit {

using wire::Json;

namespace {

struct StoredRecord {
    CKRecord record;
    std::uint64_t seq = 0;
};

struct Tombstone {
    std::uint64_t seq = 0;
    std::string recordType;
};

struct Zone {
    std::uint64_t epoch = 0;
    std::uint64_t seq = 0;        // last change number of the zone's log
    std::uint64_t changedAt = 0;  // database log number of the zone's last change
    std::map<std::string, StoredRecord> records;
    std::map<std::string, Tombstone> tombstones;
};

struct UserDatabase {
    std::uint64_t epoch = 0;
    std::uint64_t seq = 0;
    std::map<std::string, Zone> zones;
    std::map<std::string, std::uint64_t> deletedZones;
    std::vector<CKDatabaseSubscription> subscriptions;
};

struct LongLived {
    std::string id;
    Json request;
    std::optional<Json> reply;
};

struct Device {
    std::string userId;
    CKAccountStatus status = CKAccountStatus::available;
    bool offline = false;
    bool registered = false;
    std::vector<Dictionary> pending;
    CloudServer::PushSink sink;
    std::vector<LongLived> longLived;
    std::size_t delivered = 0;
    std::uint64_t polls = 0;  // long polls begun; only the newest takes pushes
};

struct DropRule {
    std::string method;
    int times = 0;
    std::string deviceId;
};

// Thrown inside a request: answered as {"error": ...}.
struct RequestFailure {
    CKError error;
};

[[noreturn]] void fail(long code, std::string description = {}) {
    throw RequestFailure{makeCKError(code, std::move(description))};
}

Json errorReply(const CKError& error) { return Json{{"error", wire::encodeError(error)}}; }

struct Token {
    std::string kind;  // "z" or "db"
    std::uint64_t epoch = 0;
    std::uint64_t seq = 0;
    std::string zoneName;
};

std::optional<std::uint64_t> parseNumber(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

}  // namespace

struct CloudServer::State {
    mutable std::mutex mutex;
    std::condition_variable pushReady;
    std::map<std::string, UserDatabase> users;
    std::map<std::string, Device> devices;
    std::deque<Fault> faults;
    std::vector<DropRule> drops;
    bool held = false;
    bool stopWaiting = false;
    std::size_t batchLimit = 200;
    std::uint64_t nextEpoch = 1;
    std::uint64_t tagCounter = 0;
    std::string serverId;
    std::vector<RequestLogEntry> log;

    using Deliveries = std::vector<std::pair<PushSink, std::vector<Dictionary>>>;

    std::string makeToken(const char* kind, std::uint64_t epoch, std::uint64_t seq,
                          const std::string& zone = {}) const {
        return serverId + ":" + kind + ":" + std::to_string(epoch) + ":" + std::to_string(seq) + ":" + zone;
    }

    std::optional<Token> parseToken(const std::string& text) const {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            auto colon = text.find(':', start);
            if (colon == std::string::npos) return std::nullopt;
            parts.push_back(text.substr(start, colon - start));
            start = colon + 1;
        }
        if (parts[0] != serverId) return std::nullopt;
        auto epoch = parseNumber(parts[2]);
        auto seq = parseNumber(parts[3]);
        if (!epoch || !seq) return std::nullopt;
        return Token{parts[1], *epoch, *seq, text.substr(start)};
    }

    UserDatabase& database(const std::string& userId) {
        auto [it, inserted] = users.try_emplace(userId);
        if (inserted) it->second.epoch = nextEpoch++;
        return it->second;
    }

    bool deliverable(const Device& d) const { return !held && !d.offline; }

    // Moves a device's deliverable pushes to a sink, or wakes its long poll.
    void flush(Device& d, Deliveries& out) {
        if (d.pending.empty() || !deliverable(d)) return;
        if (d.sink) {
            d.delivered += d.pending.size();
            out.emplace_back(d.sink, std::move(d.pending));
            d.pending.clear();
        } else {
            pushReady.notify_all();
        }
    }

    void notifyChange(const std::string& userId, const std::string& writer, Deliveries& out) {
        const auto& subs = database(userId).subscriptions;
        if (subs.empty()) return;
        for (auto& [id, device] : devices) {
            if (id == writer || device.userId != userId || !device.registered) continue;
            for (const auto& sub : subs) {
                bool waiting = std::any_of(device.pending.begin(), device.pending.end(), [&](const Dictionary& p) {
                    auto n = CKNotification::fromRemoteNotificationDictionary(p);
                    return n && n->subscriptionID == sub.subscriptionID;
                });
                if (waiting) continue;
                CKNotification n;
                n.subscriptionID = sub.subscriptionID;
                n.notificationID = Foundation::makeUUIDString();
                n.containerIdentifier = kContainerIdentifier;
                device.pending.push_back(n.remoteNotificationDictionary());
            }
            flush(device, out);
        }
    }

    void checkFault(const std::string& method, const std::string& deviceId, const std::string& zoneName) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->method != method) continue;
            if (!it->deviceId.empty() && it->deviceId != deviceId) continue;
            if (!it->zoneName.empty() && it->zoneName != zoneName) continue;
            CKError error = makeCKError(it->code, {}, it->retryAfter);
            if (--it->times <= 0) faults.erase(it);
            throw RequestFailure{error};
        }
    }

    static void checkZoneID(const CKRecordZoneID& id) {
        if (id.zoneName.empty() || id.ownerName != CKCurrentUserDefaultName)
            fail(CKErrorInvalidArguments, "bad zone ID");
    }

    // --- methods -------------------------------------------------------------

    Json fetchDatabaseChanges(const std::string& userId, const Json& body) {
        UserDatabase& db = database(userId);
        struct Item {
            std::uint64_t seq;
            std::string zone;
            bool deleted;
        };
        std::vector<Item> items;
        const Json& tokenJson = body.contains("token") ? body["token"] : Json();
        if (tokenJson.is_null()) {
            for (const auto& [name, zone] : db.zones) items.push_back({zone.changedAt, name, false});
        } else {
            auto token = tokenJson.is_string() ? parseToken(tokenJson.get<std::string>()) : std::nullopt;
            if (!token || token->kind != "db" || token->epoch != db.epoch || token->seq > db.seq)
                fail(CKErrorChangeTokenExpired);
            for (const auto& [name, zone] : db.zones)
                if (zone.changedAt > token->seq) items.push_back({zone.changedAt, name, false});
            for (const auto& [name, seq] : db.deletedZones)
                if (seq > token->seq) items.push_back({seq, name, true});
        }
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.seq < b.seq; });
        bool more = items.size() > batchLimit;
        if (more) items.resize(batchLimit);
        Json changed = Json::array(), deleted = Json::array();
        for (const auto& item : items)
            (item.deleted ? deleted : changed).push_back(wire::encodeZoneID(CKRecordZoneID(item.zone)));
        std::uint64_t position = more ? items.back().seq : db.seq;
        return Json{{"changed", std::move(changed)},
                    {"deleted", std::move(deleted)},
                    {"token", makeToken("db", db.epoch, position)},
                    {"moreComing", more}};
    }

    Json fetchZoneChanges(const std::string& userId, const CKRecordZoneID& zoneID, const Json& body) {
        UserDatabase& db = database(userId);
        checkZoneID(zoneID);
        auto zit = db.zones.find(zoneID.zoneName);
        if (zit == db.zones.end()) fail(CKErrorZoneNotFound);
        Zone& zone = zit->second;
        struct Item {
            std::uint64_t seq;
            const std::string* name;
            const StoredRecord* record;
            const Tombstone* tomb;
        };
        std::vector<Item> items;
        const Json& tokenJson = body.contains("token") ? body["token"] : Json();
        if (tokenJson.is_null()) {
            for (const auto& [name, rec] : zone.records) items.push_back({rec.seq, &name, &rec, nullptr});
        } else {
            auto token = tokenJson.is_string() ? parseToken(tokenJson.get<std::string>()) : std::nullopt;
            if (!token || token->kind != "z" || token->zoneName != zoneID.zoneName || token->epoch != zone.epoch ||
                token->seq > zone.seq)
                fail(CKErrorChangeTokenExpired);
            for (const auto& [name, rec] : zone.records)
                if (rec.seq > token->seq) items.push_back({rec.seq, &name, &rec, nullptr});
            for (const auto& [name, tomb] : zone.tombstones)
                if (tomb.seq > token->seq) items.push_back({tomb.seq, &name, nullptr, &tomb});
        }
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.seq < b.seq; });
        bool more = items.size() > batchLimit;
        if (more) items.resize(batchLimit);
        Json records = Json::array(), deleted = Json::array();
        for (const auto& item : items) {
            if (item.record) {
                records.push_back(wire::encodeRecord(item.record->record));
            } else {
                deleted.push_back(Json{{"id", wire::encodeRecordID(CKRecordID(*item.name, zoneID))},
                                       {"type", item.tomb->recordType}});
            }
        }
        std::uint64_t position = more ? items.back().seq : zone.seq;
        return Json{{"records", std::move(records)},
                    {"deleted", std::move(deleted)},
                    {"token", makeToken("z", zone.epoch, position, zoneID.zoneName)},
                    {"moreComing", more}};
    }

    Json modifyZones(const std::string& userId, const std::string& deviceId, const Json& body, Deliveries& out) {
        std::vector<CKRecordZoneID> saves, deletes;
        if (body.contains("save"))
            for (const auto& z : body["save"]) saves.push_back(wire::decodeZoneID(z));
        if (body.contains("delete"))
            for (const auto& z : body["delete"]) deletes.push_back(wire::decodeZoneID(z));
        for (const auto& z : saves) checkZoneID(z);
        for (const auto& z : deletes) checkZoneID(z);
        UserDatabase& db = database(userId);
        bool changed = false;
        Json saved = Json::array(), deleted = Json::array();
        for (const auto& z : saves) {
            if (!db.zones.count(z.zoneName)) {
                Zone zone;
                zone.epoch = nextEpoch++;
                zone.changedAt = ++db.seq;
                db.zones.emplace(z.zoneName, std::move(zone));
                db.deletedZones.erase(z.zoneName);
                changed = true;
            }
            saved.push_back(wire::encodeZoneID(z));
        }
        for (const auto& z : deletes) {
            if (db.zones.erase(z.zoneName)) {
                db.deletedZones[z.zoneName] = ++db.seq;
                changed = true;
            }
            deleted.push_back(wire::encodeZoneID(z));
        }
        if (changed) notifyChange(userId, deviceId, out);
        return Json{{"saved", std::move(saved)}, {"deleted", std::move(deleted)}};
    }

    Json modifySubscriptions(const std::string& userId, const Json& body) {
        UserDatabase& db = database(userId);
        std::vector<CKDatabaseSubscription> saves;
        std::vector<std::string> deletes;
        if (body.contains("save")) {
            for (const auto& s : body["save"]) {
                CKDatabaseSubscription sub(wire::stringMember(s, "id"));
                if (sub.subscriptionID.empty()) fail(CKErrorInvalidArguments, "empty subscription ID");
                sub.notificationInfo.shouldSendContentAvailable = s.value("contentAvailable", false);
                saves.push_back(std::move(sub));
            }
        }
        if (body.contains("delete")) {
            for (const auto& s : body["delete"]) {
                if (!s.is_string()) throw wire::MalformedError("subscription ID");
                deletes.push_back(s.get<std::string>());
            }
        }
        Json saved = Json::array(), deleted = Json::array();
        for (auto& sub : saves) {
            auto it = std::find_if(db.subscriptions.begin(), db.subscriptions.end(),
                                   [&](const auto& s) { return s.subscriptionID == sub.subscriptionID; });
            if (it != db.subscriptions.end()) {
                *it = sub;
            } else {
                db.subscriptions.push_back(sub);
            }
            saved.push_back(Json{{"id", sub.subscriptionID},
                                 {"contentAvailable", sub.notificationInfo.shouldSendContentAvailable}});
        }
        for (const auto& id : deletes) {
            std::erase_if(db.subscriptions, [&](const auto& s) { return s.subscriptionID == id; });
            deleted.push_back(id);
        }
        return Json{{"saved", std::move(saved)}, {"deleted", std::move(deleted)}};
    }

    Json modifyRecords(const std::string& userId, const std::string& deviceId, const Json& body, RequestLogEntry& entry,
                       Deliveries& out) {
        std::vector<CKRecord> saves;
        std::vector<CKRecordID> deletes;
        if (body.contains("save"))
            for (const auto& r : body["save"]) saves.push_back(wire::decodeRecord(r));
        if (body.contains("delete"))
            for (const auto& r : body["delete"]) deletes.push_back(wire::decodeRecordID(r));
        entry.saves = saves.size();
        entry.deletes = deletes.size();
        int policyNumber = body.value("policy", static_cast<int>(CKSavePolicy::ifServerRecordUnchanged));
        if (policyNumber < 0 || policyNumber > 2) fail(CKErrorInvalidArguments, "bad save policy");
        auto policy = static_cast<CKSavePolicy>(policyNumber);
        bool atomic = body.value("atomic", true);

        if (saves.size() + deletes.size() > kModifyItemLimit) fail(CKErrorLimitExceeded);
        std::set<CKRecordID> seen;
        for (const auto& r : saves)
            if (!seen.insert(r.recordID()).second) fail(CKErrorInvalidArguments, "a record is named twice");
        for (const auto& id : deletes)
            if (!seen.insert(id).second) fail(CKErrorInvalidArguments, "a record is named twice");

        UserDatabase& db = database(userId);
        std::map<CKRecordID, CKError> itemErrors;
        auto zoneOf = [&](const CKRecordID& id) -> Zone* {
            if (id.zoneID.ownerName != CKCurrentUserDefaultName) return nullptr;
            auto it = db.zones.find(id.zoneID.zoneName);
            return it == db.zones.end() ? nullptr : &it->second;
        };
        for (const auto& r : saves) {
            Zone* zone = zoneOf(r.recordID());
            if (r.recordID().recordName.empty() || r.recordType().empty()) {
                itemErrors[r.recordID()] = makeCKError(CKErrorInvalidArguments, "a record needs a name and a type");
            } else if (!zone) {
                itemErrors[r.recordID()] = makeCKError(CKErrorZoneNotFound);
            }
            if (itemErrors.count(r.recordID())) continue;
            auto it = zone->records.find(r.recordID().recordName);
            if (it != zone->records.end() && it->second.record.recordType() != r.recordType()) {
                itemErrors[r.recordID()] = makeCKError(CKErrorInvalidArguments, "record type cannot change");
            } else if (policy == CKSavePolicy::ifServerRecordUnchanged) {
                if (it != zone->records.end() && it->second.record.recordChangeTag() != r.recordChangeTag()) {
                    itemErrors[r.recordID()] = makeCKError(CKErrorServerRecordChanged);
                } else if (it == zone->records.end() && r.recordChangeTag()) {
                    itemErrors[r.recordID()] = makeCKError(CKErrorUnknownItem);
                }
            }
        }
        for (const auto& id : deletes)
            if (!zoneOf(id)) itemErrors[id] = makeCKError(CKErrorZoneNotFound);

        if (!itemErrors.empty() && atomic) {
            for (const auto& r : saves) itemErrors.try_emplace(r.recordID(), makeCKError(CKErrorBatchRequestFailed));
            for (const auto& id : deletes) itemErrors.try_emplace(id, makeCKError(CKErrorBatchRequestFailed));
            return Json{{"saved", Json::array()},
                        {"deleted", Json::array()},
                        {"error", wire::encodeError(makePartialFailure(itemErrors))}};
        }

        const Date now{Foundation::clock().now()};
        std::set<std::string> touched;
        Json saved = Json::array(), deleted = Json::array();
        for (const auto& r : saves) {
            if (itemErrors.count(r.recordID())) continue;
            Zone& zone = *zoneOf(r.recordID());
            auto it = zone.records.find(r.recordID().recordName);
            CKRecord merged(r.recordType(), r.recordID());
            std::optional<Date> created = now;
            if (it == zone.records.end() || policy == CKSavePolicy::allKeys) {
                for (const auto& [key, value] : r.fields()) merged.setObject(key, value);
                if (it != zone.records.end()) created = it->second.record.creationDate();
            } else {
                merged = it->second.record;
                created = merged.creationDate();
                for (const auto& key : r.changedKeys()) merged.setObject(key, r.objectForKey(key));
            }
            merged.clearChangedKeys();
            char tag[32];
            std::snprintf(tag, sizeof tag, "%llx", static_cast<unsigned long long>(++tagCounter));
            merged.setServerState(std::string(tag), created, now);
            std::uint64_t seq = ++zone.seq;
            zone.tombstones.erase(r.recordID().recordName);
            saved.push_back(wire::encodeRecord(merged));
            zone.records[r.recordID().recordName] = StoredRecord{std::move(merged), seq};
            touched.insert(r.recordID().zoneID.zoneName);
        }
        for (const auto& id : deletes) {
            if (itemErrors.count(id)) continue;
            Zone& zone = *zoneOf(id);
            auto it = zone.records.find(id.recordName);
            if (it != zone.records.end()) {
                std::string type = it->second.record.recordType();
                zone.records.erase(it);
                zone.tombstones[id.recordName] = Tombstone{++zone.seq, std::move(type)};
                touched.insert(id.zoneID.zoneName);
            }
            deleted.push_back(wire::encodeRecordID(id));
        }
        for (const auto& name : touched) db.zones[name].changedAt = ++db.seq;
        if (!touched.empty()) notifyChange(userId, deviceId, out);
        Json reply{{"saved", std::move(saved)}, {"deleted", std::move(deleted)}};
        if (!itemErrors.empty()) reply["error"] = wire::encodeError(makePartialFailure(itemErrors));
        return reply;
    }

    LongLived* findLongLived(Device& d, const std::string& id) {
        for (auto& op : d.longLived)
            if (op.id == id) return &op;
        return nullptr;
    }

    Json dispatch(const std::string& userId, const std::string& deviceId, Device& device, const std::string& m,
                  const Json& body, RequestLogEntry& entry, Deliveries& out) {
        std::string zoneName;
        if (m == method::fetchZoneChanges && body.contains("zone") && body["zone"].is_object())
            zoneName = body["zone"].value("zone", "");
        entry.zoneName = zoneName;
        checkFault(m, deviceId, zoneName);

        if (m == method::accountStatus) return Json{{"status", static_cast<int>(device.status)}};
        if (m == method::longLivedIDs) {
            Json ids = Json::array();
            for (const auto& op : device.longLived) ids.push_back(op.id);
            return Json{{"ids", std::move(ids)}};
        }
        if (m == method::longLivedOperation) {
            LongLived* op = findLongLived(device, wire::stringMember(body, "id"));
            if (!op) fail(CKErrorUnknownItem, "no such long-lived operation");
            return Json{{"request", op->request}};
        }
        if (m == method::finishLongLived) {
            std::string id = wire::stringMember(body, "id");
            std::erase_if(device.longLived, [&](const LongLived& op) { return op.id == id; });
            return Json::object();
        }

        if (device.offline) fail(CKErrorNetworkUnavailable);
        if (m == method::registerForPushes) {
            device.registered = true;
            return Json::object();
        }
        if (device.status != CKAccountStatus::available) fail(CKErrorNotAuthenticated);

        if (m == method::fetchDatabaseChanges) return fetchDatabaseChanges(userId, body);
        if (m == method::fetchZoneChanges)
            return fetchZoneChanges(userId, wire::decodeZoneID(wire::member(body, "zone")), body);
        if (m == method::modifyZones) return modifyZones(userId, deviceId, body, out);
        if (m == method::modifySubscriptions) return modifySubscriptions(userId, body);
        if (m == method::modifyRecords) {
            std::string longLivedID = body.value("longLivedID", "");
            if (!longLivedID.empty()) {
                if (LongLived* op = findLongLived(device, longLivedID); op && op->reply) return *op->reply;
            }
            Json reply = runModify(userId, deviceId, body, entry, out);
            if (!longLivedID.empty()) {
                if (LongLived* op = findLongLived(device, longLivedID)) {
                    op->reply = reply;
                } else {
                    device.longLived.push_back(LongLived{longLivedID, body, reply});
                }
            }
            return reply;
        }
        if (m == method::runLongLived) {
            LongLived* op = findLongLived(device, wire::stringMember(body, "id"));
            if (!op) fail(CKErrorUnknownItem, "no such long-lived operation");
            if (!op->reply) {
                Json request = op->request;
                Json reply = runModify(userId, deviceId, request, entry, out);
                op = findLongLived(device, wire::stringMember(body, "id"));
                if (op) op->reply = reply;
                return reply;
            }
            return *op->reply;
        }
        fail(CKErrorServerRejectedRequest, "unknown method " + m);
    }

    // A modify request's failure is part of its reply, so long-lived
    // operations remember it too.
    Json runModify(const std::string& userId, const std::string& deviceId, const Json& body, RequestLogEntry& entry,
                   Deliveries& out) {
        try {
            return modifyRecords(userId, deviceId, body, entry, out);
        } catch (const RequestFailure& f) {
            return errorReply(f.error);
        }
    }
};

CloudServer::CloudServer() : s_(std::make_unique<State>()) {
    std::random_device rd;
    std::mt19937_64 gen(rd());
    char id[24];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(gen()));
    s_->serverId = id;
    s_->nextEpoch = (gen() % 1000000) * 1000 + 1;
}

CloudServer::~CloudServer() = default;

wire::Json CloudServer::handle(const std::string& userId, const std::string& deviceId, const std::string& methodName,
                               const Json& body) {
    State::Deliveries deliveries;
    Json reply;
    {
        std::lock_guard lock(s_->mutex);
        RequestLogEntry entry;
        entry.userId = userId;
        entry.deviceId = deviceId;
        entry.method = methodName;
        Device& device = s_->devices[deviceId];
        if (device.userId.empty()) device.userId = userId;
        try {
            if (device.userId != userId) fail(CKErrorPermissionFailure, "device belongs to another user");
            reply = s_->dispatch(userId, deviceId, device, methodName, body, entry, deliveries);
        } catch (const RequestFailure& f) {
            reply = errorReply(f.error);
        } catch (const wire::UnsendableError& e) {
            reply = errorReply(makeCKError(e.code, e.what()));
        } catch (const wire::MalformedError& e) {
            reply = errorReply(makeCKError(CKErrorInvalidArguments, e.what()));
        } catch (const nlohmann::json::exception& e) {
            reply = errorReply(makeCKError(CKErrorInvalidArguments, e.what()));
        }
        if (reply.is_object() && reply.contains("error") && reply["error"].is_object())
            entry.errorCode = reply["error"].value("code", 0L);
        s_->log.push_back(entry);
        for (auto d = s_->drops.begin(); d != s_->drops.end(); ++d) {
            if (d->method != methodName || (!d->deviceId.empty() && d->deviceId != deviceId)) continue;
            if (--d->times <= 0) s_->drops.erase(d);
            reply = Json{{"dropped", true}};
            break;
        }
    }
    for (auto& [sink, pushes] : deliveries)
        for (const auto& push : pushes) sink(push);
    return reply;
}

void CloudServer::setPushSink(const std::string& deviceId, PushSink sink) {
    State::Deliveries deliveries;
    {
        std::lock_guard lock(s_->mutex);
        Device& device = s_->devices[deviceId];
        device.sink = std::move(sink);
        s_->flush(device, deliveries);
    }
    for (auto& [sink, pushes] : deliveries)
        for (const auto& push : pushes) sink(push);
}

std::vector<Dictionary> CloudServer::takePushes(const std::string& deviceId, double waitSeconds) {
    std::unique_lock lock(s_->mutex);
    // A poll of a copy that has gone (killed, relaunched) may still wait here:
    // a newer poll of the device ends it, so it never takes pushes nobody reads.
    const std::uint64_t poll = ++s_->devices[deviceId].polls;
    s_->pushReady.notify_all();
    auto newest = [&] { return s_->devices[deviceId].polls == poll; };
    auto ready = [&] {
        const Device& d = s_->devices[deviceId];
        return !d.pending.empty() && s_->deliverable(d);
    };
    s_->pushReady.wait_for(lock, std::chrono::duration<double>(std::max(0.0, waitSeconds)),
                           [&] { return s_->stopWaiting || !newest() || ready(); });
    if (!newest() || !ready()) return {};
    Device& d = s_->devices[deviceId];
    std::vector<Dictionary> pushes = std::move(d.pending);
    d.pending.clear();
    d.delivered += pushes.size();
    return pushes;
}

void CloudServer::stopWaiting() {
    std::lock_guard lock(s_->mutex);
    s_->stopWaiting = true;
    s_->pushReady.notify_all();
}

void CloudServer::injectError(Fault fault) {
    std::lock_guard lock(s_->mutex);
    if (fault.times > 0) s_->faults.push_back(std::move(fault));
}

void CloudServer::dropReplies(const std::string& methodName, int times, const std::string& deviceId) {
    std::lock_guard lock(s_->mutex);
    if (times > 0) s_->drops.push_back(DropRule{methodName, times, deviceId});
}

void CloudServer::clearFaults() {
    std::lock_guard lock(s_->mutex);
    s_->faults.clear();
    s_->drops.clear();
}

void CloudServer::setAccountStatus(const std::string& deviceId, CKAccountStatus status) {
    std::lock_guard lock(s_->mutex);
    s_->devices[deviceId].status = status;
}

void CloudServer::setOffline(const std::string& deviceId, bool offline) {
    State::Deliveries deliveries;
    {
        std::lock_guard lock(s_->mutex);
        Device& device = s_->devices[deviceId];
        device.offline = offline;
        s_->flush(device, deliveries);
    }
    for (auto& [sink, pushes] : deliveries)
        for (const auto& push : pushes) sink(push);
}

void CloudServer::holdPushes() {
    std::lock_guard lock(s_->mutex);
    s_->held = true;
}

void CloudServer::releasePushes() {
    State::Deliveries deliveries;
    {
        std::lock_guard lock(s_->mutex);
        s_->held = false;
        for (auto& [id, device] : s_->devices) s_->flush(device, deliveries);
    }
    for (auto& [sink, pushes] : deliveries)
        for (const auto& push : pushes) sink(push);
}

void CloudServer::expireZoneTokens(const std::string& userId, const std::string& zoneName) {
    std::lock_guard lock(s_->mutex);
    for (auto& [name, zone] : s_->database(userId).zones)
        if (zoneName.empty() || name == zoneName) zone.epoch = s_->nextEpoch++;
}

void CloudServer::expireDatabaseTokens(const std::string& userId) {
    std::lock_guard lock(s_->mutex);
    s_->database(userId).epoch = s_->nextEpoch++;
}

void CloudServer::setBatchLimit(std::size_t limit) {
    std::lock_guard lock(s_->mutex);
    s_->batchLimit = std::max<std::size_t>(1, limit);
}

std::vector<CloudServer::RequestLogEntry> CloudServer::requestLog() const {
    std::lock_guard lock(s_->mutex);
    return s_->log;
}

std::size_t CloudServer::requestCount(const std::string& methodName, const std::string& deviceId) const {
    std::lock_guard lock(s_->mutex);
    return static_cast<std::size_t>(std::count_if(s_->log.begin(), s_->log.end(), [&](const RequestLogEntry& e) {
        return e.method == methodName && (deviceId.empty() || e.deviceId == deviceId);
    }));
}

void CloudServer::clearRequestLog() {
    std::lock_guard lock(s_->mutex);
    s_->log.clear();
}

std::vector<std::string> CloudServer::zoneNames(const std::string& userId) const {
    std::lock_guard lock(s_->mutex);
    std::vector<std::string> names;
    if (auto it = s_->users.find(userId); it != s_->users.end())
        for (const auto& [name, zone] : it->second.zones) names.push_back(name);
    return names;
}

std::vector<CKRecord> CloudServer::records(const std::string& userId, const std::string& zoneName) const {
    std::lock_guard lock(s_->mutex);
    std::vector<const StoredRecord*> stored;
    if (auto u = s_->users.find(userId); u != s_->users.end())
        if (auto z = u->second.zones.find(zoneName); z != u->second.zones.end())
            for (const auto& [name, rec] : z->second.records) stored.push_back(&rec);
    std::sort(stored.begin(), stored.end(), [](auto* a, auto* b) { return a->seq < b->seq; });
    std::vector<CKRecord> result;
    for (auto* rec : stored) result.push_back(rec->record);
    return result;
}

std::optional<CKRecord> CloudServer::record(const std::string& userId, const CKRecordID& id) const {
    std::lock_guard lock(s_->mutex);
    auto u = s_->users.find(userId);
    if (u == s_->users.end()) return std::nullopt;
    auto z = u->second.zones.find(id.zoneID.zoneName);
    if (z == u->second.zones.end()) return std::nullopt;
    auto r = z->second.records.find(id.recordName);
    if (r == z->second.records.end()) return std::nullopt;
    return r->second.record;
}

std::vector<std::string> CloudServer::subscriptionIDs(const std::string& userId) const {
    std::lock_guard lock(s_->mutex);
    std::vector<std::string> ids;
    if (auto u = s_->users.find(userId); u != s_->users.end())
        for (const auto& sub : u->second.subscriptions) ids.push_back(sub.subscriptionID);
    return ids;
}

std::vector<std::string> CloudServer::longLivedOperationIDs(const std::string& deviceId) const {
    std::lock_guard lock(s_->mutex);
    std::vector<std::string> ids;
    if (auto d = s_->devices.find(deviceId); d != s_->devices.end())
        for (const auto& op : d->second.longLived) ids.push_back(op.id);
    return ids;
}

std::size_t CloudServer::pushesDelivered(const std::string& deviceId) const {
    std::lock_guard lock(s_->mutex);
    auto d = s_->devices.find(deviceId);
    return d == s_->devices.end() ? 0 : d->second.delivered;
}

}  // namespace CloudKit
