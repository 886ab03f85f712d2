#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorageBindableArray.h"

#include <sqlite3.h>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

int DAVStorageTextType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    if (!value) return sqlite3_bind_null(statement, index);
    return sqlite3_bind_text64(statement, index, value->data(), value->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int DAVStorageNumberType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    return sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(value));
}

void DAVStorageBindableArray::addString(std::optional<std::string> value) {
    array.push_back(std::make_shared<DAVStorageTextType>(std::move(value)));
}

void DAVStorageBindableArray::addNumber(std::int64_t value) {
    array.push_back(std::make_shared<DAVStorageNumberType>(value));
}

int DAVStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* db) const {
    int position = 1;
    for (const auto& value : array) {
        int result = value->bindWithStatement(statement, position);
        if (result != SQLITE_OK) {
            DAVLogError(kDAVDerAvedurLogTag, "Binding query parameter %d failed with error: %d. Message: %s", position,
                        result, sqlite3_errmsg(db));
            return result;
        }
        ++position;
    }
    return SQLITE_OK;
}
