#include "picker/Library/ZNLDataService.h"

#include "picker/Library/ZNLErrorHandler.h"

namespace libraryservice {

std::shared_ptr<ObjectStore::Realm> open() {
    try {
        return ObjectStore::Realm::open();
    } catch (const ObjectStore::RealmError& e) {
        ZNLErrorHandler::shared().handle(e.error());
        return nullptr;
    }
}

bool write(const std::function<void(ObjectStore::Realm&)>& change) {
    auto realm = open();
    if (!realm) return false;
    try {
        realm->beginWrite();
    } catch (const ObjectStore::RealmError& e) {
        ZNLErrorHandler::shared().handle(e.error());
        return false;
    }
    try {
        change(*realm);
        realm->commitWrite({});
    } catch (const ObjectStore::RealmError& e) {
        if (realm->isInWriteTransaction()) realm->cancelWrite();
        ZNLErrorHandler::shared().handle(e.error());
        return false;
    } catch (...) {
        if (realm->isInWriteTransaction()) realm->cancelWrite();
        throw;
    }
    return true;
}

std::optional<Foundation::Error> remove(const std::shared_ptr<ObjectStore::Object>& object) {
    std::shared_ptr<ObjectStore::Realm> realm;
    try {
        realm = ObjectStore::Realm::open();
    } catch (const ObjectStore::RealmError& e) {
        // Reported to the user and to the caller: nothing was removed.
        ZNLErrorHandler::shared().handle(e.error());
        return e.error();
    }
    try {
        realm->beginWrite();
        realm->remove(object);
        realm->commitWrite({});
    } catch (const ObjectStore::RealmError& e) {
        if (realm->isInWriteTransaction()) realm->cancelWrite();
        return e.error();
    }
    return std::nullopt;
}

}  // namespace libraryservice
