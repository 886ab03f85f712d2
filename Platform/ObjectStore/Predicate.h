#pragma once
// Query predicates in the platform's format-string form:
//
//   "isDeleted == false"
//   "folderName == %@"                       with a text argument
//   "folderId == %d"                         with an integer argument
//   "isDeleted == false AND folderId == %d"
//
// Grammar: comparisons `keyPath op value` (or `value op keyPath`) with the
// operators == (=), != (<>), <, <=, >, >=; combined with AND (&&), OR (||),
// NOT (!) and parentheses. Values: TRUE/YES, FALSE/NO, NIL/NULL, numbers,
// quoted text ('..' or ".."), and the placeholders %@ (any argument), %d / %i /
// %ld / %lld (an integer argument), %f (a number argument) and %K (a key path
// argument). Keywords ignore letter case. A key path may follow links
// ("owner.folderName"). A malformed predicate, or one that does not fit the
// class's schema, throws `InvalidPredicate` when a query uses it.

#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

#include "Platform/Foundation/Value.h"

namespace ObjectStore {

class InvalidPredicate : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class Predicate {
public:
    Predicate(std::string format, Foundation::Array arguments = {})
        : format_(std::move(format)), arguments_(std::move(arguments)) {}
    Predicate(std::string format, std::initializer_list<Foundation::Value> arguments)
        : format_(std::move(format)), arguments_(arguments) {}
    Predicate(const char* format) : format_(format) {}

    const std::string& format() const { return format_; }
    const Foundation::Array& arguments() const { return arguments_; }

private:
    std::string format_;
    Foundation::Array arguments_;
};

}  // namespace ObjectStore
