#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"

#include <mutex>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace {

std::mutex& migrationLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::string>& migrationMap() {
    static std::map<std::string, std::string> map;
    return map;
}

}  // namespace

std::string DAVUtility::sdkName() { return "deravedur.macos"; }

std::string DAVUtility::sdkVersion() { return "4.1.1"; }

std::optional<Foundation::Data> DAVUtility::archiveKeyedData(const Foundation::Value& object) {
    if (object.isNull()) return std::nullopt;
    Foundation::Error error;
    auto data = Foundation::KeyedArchiver::archivedData(object, &error);
    if (!data) {
        DAVLogError(kDAVDerAvedurLogTag, "Archiving NSData failed with error: %s", error.description.c_str());
        return std::nullopt;
    }
    return data;
}

Foundation::Value DAVUtility::unarchiveKeyedData(const Foundation::Data& data) {
    DAVRegisterCoreCodingClasses();
    Foundation::KeyedUnarchiver unarchiver(data);
    for (const auto& [archivedName, currentName] : migrationClasses())
        unarchiver.setClassNameMapping(archivedName, currentName);
    Foundation::Error error;
    auto root = unarchiver.decodeRoot(&error);
    if (!root || root->isNull()) {
        DAVLogError(kDAVDerAvedurLogTag, "Unarchiving NSData failed with error: %s",
                    root ? "The archive holds no object." : error.description.c_str());
        return Foundation::Value();
    }
    return *root;
}

void DAVUtility::addMigrationClasses(const std::map<std::string, std::string>& migrations) {
    std::lock_guard<std::mutex> guard(migrationLock());
    for (const auto& [archivedName, currentName] : migrations) migrationMap()[archivedName] = currentName;
}

std::map<std::string, std::string> DAVUtility::migrationClasses() {
    std::lock_guard<std::mutex> guard(migrationLock());
    return migrationMap();
}
