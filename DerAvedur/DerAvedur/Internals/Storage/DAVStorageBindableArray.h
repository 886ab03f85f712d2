#pragma once
// Values bound to a statement's parameters, in order.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class DAVStorageBindableType {
public:
    virtual ~DAVStorageBindableType() = default;
    // An SQLite result code.
    virtual int bindWithStatement(sqlite3_stmt* statement, int index) const = 0;
};

class DAVStorageTextType : public DAVStorageBindableType {
public:
    explicit DAVStorageTextType(std::optional<std::string> value) : value(std::move(value)) {}
    std::optional<std::string> value;  // nothing binds NULL
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;
};

class DAVStorageNumberType : public DAVStorageBindableType {
public:
    explicit DAVStorageNumberType(std::int64_t value) : value(value) {}
    std::int64_t value;
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;
};

class DAVStorageBindableArray {
public:
    std::vector<std::shared_ptr<DAVStorageBindableType>> array;

    void addString(std::optional<std::string> value);
    void addNumber(std::int64_t value);
    // Binds at 1, 2, ...; logs and returns the first failure.
    int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* db) const;
};
