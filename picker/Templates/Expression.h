#pragma once
// Condition trees of if, ifnot and for ... where, and the engine's rules of
// truth, equality, membership and numeric comparison.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Templates {

using Foundation::Value;
class Context;
class Resolvable;

class Expression {
public:
    virtual ~Expression() = default;
    virtual bool evaluate(Context& context) const = 0;
    virtual std::string description() const = 0;
};

class VariableExpression;

class InfixOperator : public Expression {
public:
    InfixOperator(std::shared_ptr<Expression> lhs, std::shared_ptr<Expression> rhs);
    const std::shared_ptr<Expression>& lhs() const { return lhs_; }
    const std::shared_ptr<Expression>& rhs() const { return rhs_; }

protected:
    std::string describe(const std::string& symbol) const;
    // Both sides resolved, when both are plain variables.
    bool resolveOperands(Context& context, Value& left, Value& right) const;

    std::shared_ptr<Expression> lhs_;
    std::shared_ptr<Expression> rhs_;
    // The operands as plain variables (found once), or nullptr.
    const VariableExpression* lhsVariable_;
    const VariableExpression* rhsVariable_;
    // An operand that is a literal without filters: its value, which
    // resolving it would always give.
    const Value* lhsLiteral_ = nullptr;
    const Value* rhsLiteral_ = nullptr;
};

class PrefixOperator : public Expression {
public:
    explicit PrefixOperator(std::shared_ptr<Expression> expression) : expression_(std::move(expression)) {}
    const std::shared_ptr<Expression>& expression() const { return expression_; }

protected:
    std::shared_ptr<Expression> expression_;
};

class StaticExpression : public Expression {
public:
    explicit StaticExpression(bool value) : value_(value) {}
    bool evaluate(Context&) const override { return value_; }
    std::string description() const override { return value_ ? "true" : "false"; }

private:
    bool value_;
};

class VariableExpression : public Expression {
public:
    explicit VariableExpression(std::shared_ptr<Resolvable> variable) : variable_(std::move(variable)) {}
    const std::shared_ptr<Resolvable>& variable() const { return variable_; }
    // The truth of the resolved value.
    bool evaluate(Context& context) const override;
    std::string description() const override;

private:
    std::shared_ptr<Resolvable> variable_;
};

class NotExpression : public PrefixOperator {
public:
    using PrefixOperator::PrefixOperator;
    bool evaluate(Context& context) const override { return !expression_->evaluate(context); }
    std::string description() const override { return "not " + expression_->description(); }
};

class InExpression : public InfixOperator {
public:
    using InfixOperator::InfixOperator;
    bool evaluate(Context& context) const override;
    std::string description() const override { return describe("in"); }
};

class OrExpression : public InfixOperator {
public:
    using InfixOperator::InfixOperator;
    bool evaluate(Context& context) const override { return lhs_->evaluate(context) || rhs_->evaluate(context); }
    std::string description() const override { return describe("or"); }
};

class AndExpression : public InfixOperator {
public:
    using InfixOperator::InfixOperator;
    bool evaluate(Context& context) const override { return lhs_->evaluate(context) && rhs_->evaluate(context); }
    std::string description() const override { return describe("and"); }
};

class EqualityExpression : public InfixOperator {
public:
    using InfixOperator::InfixOperator;
    bool evaluate(Context& context) const override;
    std::string description() const override { return describe("=="); }
};

class InequalityExpression : public EqualityExpression {
public:
    using EqualityExpression::EqualityExpression;
    bool evaluate(Context& context) const override { return !EqualityExpression::evaluate(context); }
    std::string description() const override { return describe("!="); }
};

class NumericExpression : public InfixOperator {
public:
    using InfixOperator::InfixOperator;
    bool evaluate(Context& context) const override;
    std::string description() const override { return describe(symbol()); }
    virtual std::string symbol() const { return ""; }
    virtual bool compare(float, float) const { return false; }
    // Two integers compare exactly, not through a float.
    virtual bool compareIntegers(std::int64_t, std::int64_t) const { return false; }
};

class MoreThanExpression : public NumericExpression {
public:
    using NumericExpression::NumericExpression;
    std::string symbol() const override { return ">"; }
    bool compare(float l, float r) const override { return l > r; }
    bool compareIntegers(std::int64_t l, std::int64_t r) const override { return l > r; }
};

class MoreThanEqualExpression : public NumericExpression {
public:
    using NumericExpression::NumericExpression;
    std::string symbol() const override { return ">="; }
    bool compare(float l, float r) const override { return l >= r; }
    bool compareIntegers(std::int64_t l, std::int64_t r) const override { return l >= r; }
};

class LessThanExpression : public NumericExpression {
public:
    using NumericExpression::NumericExpression;
    std::string symbol() const override { return "<"; }
    bool compare(float l, float r) const override { return l < r; }
    bool compareIntegers(std::int64_t l, std::int64_t r) const override { return l < r; }
};

class LessThanEqualExpression : public NumericExpression {
public:
    using NumericExpression::NumericExpression;
    std::string symbol() const override { return "<="; }
    bool compare(float l, float r) const override { return l <= r; }
    bool compareIntegers(std::int64_t l, std::int64_t r) const override { return l <= r; }
};

// Any integer or floating-point value as a 32-bit float; nothing for the rest
// (null, Booleans, text, collections, objects).
std::optional<float> toNumber(const Value& value);
// The truth of one value: non-empty collections and text, true, numbers above 0,
// any other present value; null is false.
bool isTruthy(const Value& value);
// == of two resolved values: numbers by value (integers exactly), text by
// canonical equivalence, Booleans; two nulls are equal.
bool valuesEqual(const Value& lhs, const Value& rhs);
// Text equality under Unicode canonical equivalence.
bool textEquals(const std::string& a, const std::string& b);

}  // namespace Templates
