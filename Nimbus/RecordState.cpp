#include "Nimbus/RecordState.h"

#include <nlohmann/json.hpp>

#include "Platform/CloudKit/Wire.h"

namespace Nimbus {

using ObjectStore::Property;
using ObjectStore::PropertyType;

namespace {
ObjectStore::ObjectTypeRegistration<NimbusRecordState> registration;

enum Column { kId, kRecordType, kRecordName, kRecord, kTombstone, kDeletePending };
}  // namespace

ObjectStore::SchemaRef NimbusRecordState::objectSchema() {
    static const ObjectStore::SchemaRef schema = [] {
        auto s = std::make_shared<ObjectStore::ObjectSchema>();
        s->className = "NimbusRecordState";
        s->properties = {Property::make("id", PropertyType::String, ""),
                         Property::make("recordType", PropertyType::String, ""),
                         Property::make("recordName", PropertyType::String, ""),
                         Property::make("record", PropertyType::String, ""),
                         Property::make("tombstone", PropertyType::Bool, false),
                         Property::make("deletePending", PropertyType::Bool, false)};
        s->primaryKey = "id";
        return s;
    }();
    return schema;
}

NimbusRecordState::NimbusRecordState() : ObjectStore::Object(objectSchema()) {}
NimbusRecordState::NimbusRecordState(ObjectStore::Binding binding) : ObjectStore::Object(std::move(binding)) {}

std::string NimbusRecordState::keyFor(const std::string& recordType, const std::string& recordName) {
    return recordType + "/" + recordName;
}

std::string NimbusRecordState::id() const { return getString(kId); }
void NimbusRecordState::setId(const std::string& id) { set(kId, id); }
std::string NimbusRecordState::recordType() const { return getString(kRecordType); }
void NimbusRecordState::setRecordType(const std::string& type) { set(kRecordType, type); }
std::string NimbusRecordState::recordName() const { return getString(kRecordName); }
void NimbusRecordState::setRecordName(const std::string& name) { set(kRecordName, name); }
bool NimbusRecordState::tombstone() const { return getBool(kTombstone); }
void NimbusRecordState::setTombstone(bool deleted) { set(kTombstone, deleted); }
bool NimbusRecordState::deletePending() const { return getBool(kDeletePending); }
void NimbusRecordState::setDeletePending(bool pending) { set(kDeletePending, pending); }

std::optional<CloudKit::CKRecord> NimbusRecordState::record() const { return decodeRecord(getString(kRecord)); }

std::string NimbusRecordState::recordText() const { return getString(kRecord); }

std::optional<CloudKit::CKRecord> NimbusRecordState::decodeRecord(const std::string& text) {
    if (text.empty()) return std::nullopt;
    try {
        return CloudKit::wire::decodeRecord(CloudKit::wire::Json::parse(text));
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable: treated as never acknowledged
    }
}

void NimbusRecordState::setRecord(const std::optional<CloudKit::CKRecord>& record) {
    if (!record) {
        set(kRecord, std::string());
        return;
    }
    CloudKit::CKRecord stored = *record;
    stored.clearChangedKeys();
    set(kRecord, CloudKit::wire::encodeRecord(stored).dump());
}

std::shared_ptr<NimbusRecordState> recordState(ObjectStore::Realm& realm, const std::string& recordType,
                                               const std::string& recordName) {
    return realm.object<NimbusRecordState>(Foundation::Value(NimbusRecordState::keyFor(recordType, recordName)));
}

std::shared_ptr<NimbusRecordState> makeRecordState(ObjectStore::Realm& realm, const std::string& recordType,
                                                   const std::string& recordName) {
    if (auto state = recordState(realm, recordType, recordName)) return state;
    auto state = std::make_shared<NimbusRecordState>();
    state->setId(NimbusRecordState::keyFor(recordType, recordName));
    state->setRecordType(recordType);
    state->setRecordName(recordName);
    realm.add(state);
    return state;
}

}  // namespace Nimbus
