#include "picker/Templates/Expression.h"

#include <typeinfo>

#include "Platform/Foundation/Text.h"
#include "picker/Templates/Context.h"
#include "picker/Templates/Variable.h"

namespace Templates {

namespace {

bool isASCII(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Values the membership test can look for or look among.
bool isHashable(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
        case Value::Type::Array:
        case Value::Type::Dictionary:
            return false;
        default:
            return true;
    }
}

bool sameKindAndValue(const Value& a, const Value& b) {
    if (a.isString() && b.isString()) return textEquals(a.asString(), b.asString());
    return a == b;
}

}  // namespace

std::optional<float> toNumber(const Value& value) {
    if (value.isInt()) return static_cast<float>(value.asInt());
    if (value.isDouble()) return static_cast<float>(value.asDouble());
    return std::nullopt;
}

bool isTruthy(const Value& value) {
    switch (value.type()) {
        case Value::Type::Array:
            return !value.asArray().empty();
        case Value::Type::Dictionary:
            return !value.asDictionary().empty();
        case Value::Type::Bool:
            return value.asBool();
        case Value::Type::String:
            return !value.asString().empty();
        case Value::Type::Int:
            return value.asInt() > 0;
        case Value::Type::Double:
            return value.asDouble() > 0;
        case Value::Type::Null:
            return false;
        case Value::Type::Object:
            return value.asObject() != nullptr;
        default:
            return true;
    }
}

bool textEquals(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return Foundation::normalizedNFC(a) == Foundation::normalizedNFC(b);
}

bool valuesEqual(const Value& lhs, const Value& rhs) {
    if (lhs.isNull() || rhs.isNull()) return lhs.isNull() && rhs.isNull();
    if (lhs.isInt() && rhs.isInt()) return lhs.asInt() == rhs.asInt();
    auto l = toNumber(lhs), r = toNumber(rhs);
    if (l && r) return *l == *r;
    if (lhs.isString() && rhs.isString()) return textEquals(lhs.asString(), rhs.asString());
    if (lhs.isBool() && rhs.isBool()) return lhs.asBool() == rhs.asBool();
    return false;
}

std::string InfixOperator::describe(const std::string& symbol) const {
    return "(" + lhs_->description() + " " + symbol + " " + rhs_->description() + ")";
}

namespace {

const Value* literalOf(const VariableExpression* expression) {
    if (!expression || !expression->variable()) return nullptr;
    const Resolvable& resolvable = *expression->variable();
    if (typeid(resolvable) != typeid(FilterExpression)) return nullptr;
    const auto& filtered = static_cast<const FilterExpression&>(resolvable);
    return filtered.filters().empty() ? filtered.variable().literal() : nullptr;
}

}  // namespace

InfixOperator::InfixOperator(std::shared_ptr<Expression> lhs, std::shared_ptr<Expression> rhs)
    : lhs_(std::move(lhs)),
      rhs_(std::move(rhs)),
      lhsVariable_(dynamic_cast<const VariableExpression*>(lhs_.get())),
      rhsVariable_(dynamic_cast<const VariableExpression*>(rhs_.get())),
      lhsLiteral_(literalOf(lhsVariable_)),
      rhsLiteral_(literalOf(rhsVariable_)) {}

bool InfixOperator::resolveOperands(Context& context, Value& left, Value& right) const {
    if (!lhsVariable_ || !rhsVariable_) return false;
    left = lhsVariable_->variable()->resolve(context);
    right = rhsVariable_->variable()->resolve(context);
    return true;
}

bool VariableExpression::evaluate(Context& context) const { return isTruthy(variable_->resolve(context)); }

std::string VariableExpression::description() const { return "(variable: " + variable_->description() + ")"; }

bool InExpression::evaluate(Context& context) const {
    Value left, right;
    if (!resolveOperands(context, left, right)) return false;
    if (isHashable(left)) {
        if (const auto* array = right.arrayOrNull()) {
            bool allHashable = true;
            for (const auto& e : *array) allHashable = allHashable && isHashable(e);
            if (allHashable) {
                for (const auto& e : *array)
                    if (sameKindAndValue(e, left)) return true;
                return false;
            }
        }
    }
    if (left.isString() && right.isString()) return right.asString().find(left.asString()) != std::string::npos;
    return left.isNull() && right.isNull();
}

bool EqualityExpression::evaluate(Context& context) const {
    Value left, right;
    if (!resolveOperands(context, left, right)) return false;
    return valuesEqual(left, right);
}

bool NumericExpression::evaluate(Context& context) const {
    if (!lhsVariable_ || !rhsVariable_) return false;
    // Numbers are read where they are stored; what the left one says is
    // taken before the right one resolves, which may change the context.
    Resolvable::Held leftHeld, rightHeld;
    const Value* left = lhsLiteral_ ? lhsLiteral_ : lhsVariable_->variable()->locateHeld(context, leftHeld);
    const bool leftPresent = left != nullptr;
    const bool leftIsInt = left && left->isInt();
    const std::int64_t leftInt = leftIsInt ? left->asInt() : 0;
    const std::optional<float> leftOther = left && !leftIsInt ? toNumber(*left) : std::nullopt;
    const Value* right = rhsLiteral_ ? rhsLiteral_ : rhsVariable_->variable()->locateHeld(context, rightHeld);
    if (!leftPresent || !right) return false;
    if (leftIsInt && right->isInt()) return compareIntegers(leftInt, right->asInt());
    const std::optional<float> l = leftIsInt ? std::optional<float>(static_cast<float>(leftInt)) : leftOther;
    auto r = toNumber(*right);
    if (!l || !r) return false;
    return compare(*l, *r);
}

}  // namespace Templates
