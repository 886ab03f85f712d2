#pragma once
// Checks for the fields of one model class: each field counts for equality,
// survives the archive, and its JSON key goes when it is unset; and the keys
// of the archive records in the order they are written.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Json.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/PropertyList.h"

namespace DAVTest {

template <class T>
std::shared_ptr<T> archiveRoundTrip(const std::shared_ptr<T>& object) {
    auto data = DAVUtility::archiveKeyedData(Foundation::Value(object));
    EXPECT_TRUE(data);
    if (!data) return nullptr;
    Foundation::Value back = DAVUtility::unarchiveKeyedData(*data);
    EXPECT_TRUE(back.isObject());
    return back.isObject() ? std::dynamic_pointer_cast<T>(back.asObject()) : nullptr;
}

// The keys of each record of the archive of `object`, "$class" left out, by
// class name (of several records of one class, the last).
inline std::map<std::string, std::vector<std::string>> archivedRecordKeys(const Foundation::Value& object) {
    std::map<std::string, std::vector<std::string>> recordKeys;
    auto data = DAVUtility::archiveKeyedData(object);
    EXPECT_TRUE(data);
    if (!data) return recordKeys;
    auto plist = Foundation::valueFromPropertyList(*data);
    EXPECT_TRUE(plist && plist->isDictionary());
    if (!plist || !plist->isDictionary()) return recordKeys;
    for (const auto& record : plist->asDictionary()["$objects"].asArray()) {
        std::vector<std::string> keys = record.asDictionary().keys();
        EXPECT_FALSE(keys.empty());
        if (keys.empty() || keys.front() != "$class") continue;
        recordKeys[record.asDictionary()["$class"].asString()] = {keys.begin() + 1, keys.end()};
    }
    return recordKeys;
}

// One field of a full object changed to another value (most often unset).
template <class T>
struct FieldChange {
    const char* field;
    std::function<void(T&)> change;
    const char* goneFromJson;  // the JSON key the change removes; nullptr when the JSON keeps its keys
};

// Each change alone: the changed object differs from the full one both ways,
// loses its JSON key, and comes back from the archive equal to itself with
// the same JSON -- not to the full one, so the changed value survived.
template <class T>
void checkFieldChanges(const std::function<std::shared_ptr<T>()>& makeFull,
                       const std::vector<FieldChange<T>>& changes) {
    auto full = makeFull();
    auto fullBack = archiveRoundTrip(full);
    ASSERT_TRUE(fullBack);
    EXPECT_TRUE(fullBack->isEqual(*full));
    EXPECT_EQ(Foundation::toJSON(fullBack->serializeToDictionary()).dump(),
              Foundation::toJSON(full->serializeToDictionary()).dump());
    for (const auto& [field, change, goneFromJson] : changes) {
        SCOPED_TRACE(field);
        auto changed = makeFull();
        change(*changed);
        EXPECT_FALSE(changed->isEqual(*full));
        EXPECT_FALSE(full->isEqual(*changed));
        if (goneFromJson) {
            EXPECT_TRUE(full->serializeToDictionary().asDictionary().contains(goneFromJson));
            EXPECT_FALSE(changed->serializeToDictionary().asDictionary().contains(goneFromJson));
        }
        auto back = archiveRoundTrip(changed);
        ASSERT_TRUE(back);
        EXPECT_TRUE(back->isEqual(*changed));
        EXPECT_FALSE(back->isEqual(*full));
        EXPECT_EQ(Foundation::toJSON(back->serializeToDictionary()).dump(),
                  Foundation::toJSON(changed->serializeToDictionary()).dump());
    }
}

}  // namespace DAVTest
