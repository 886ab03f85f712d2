#pragma once
// Operands of variable tags and tag arguments: literals and key paths,
// filter chains and integer ranges.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Foundation/Value.h"

namespace Templates {

using Foundation::Value;
class Context;
class Output;
class TokenParser;
class FilterType;

class Resolvable {
public:
    virtual ~Resolvable() = default;
    virtual Value resolve(Context& context) const = 0;
    // Plain text form, used in expression descriptions.
    virtual std::string description() const = 0;
    // The resolved value without a copy where it is stored: in the context,
    // in an object's storage, in the resolvable itself, or in `holder` for a
    // value made on the way; nullptr for null. Valid while `holder` lives
    // and the context's stack is unchanged.
    virtual const Value* locate(Context& context, Value& holder) const;
    // The same with the made value kept in `held`, which is left empty
    // (and costs nothing) when the value is found where it is stored.
    using Held = std::optional<Value>;
    virtual const Value* locateHeld(Context& context, Held& held) const;
    // Appends the resolved value as a variable tag writes it.
    virtual void renderInto(Context& context, std::string& out) const;
    // The same into a render's output; by default through renderInto.
    virtual void renderTo(Context& context, Output& out) const;
};

// Appends a value as a variable tag writes it (see stringify); nothing for nullptr.
void appendRendered(const Value* value, std::string& out);
void appendRendered(const Value* value, Output& out);

// One component of a key path, with what a lookup asks of it read once.
struct KeyPathComponent {
    enum class Word : unsigned char { other, count, first, last };
    explicit KeyPathComponent(std::string text);
    std::string text;
    std::optional<std::int64_t> index;  // the text is a base-10 integer
    Word word = Word::other;
};

class Variable : public Resolvable {
public:
    explicit Variable(std::string variable);
    const std::string& variable() const { return variable_; }
    Value resolve(Context& context) const override;
    // The value of a literal (text, number, true or false), or nullptr for a key path.
    const Value* literal() const { return kind_ == Kind::literal ? &literal_ : nullptr; }
    // The record form: Variable(variable: "name").
    std::string description() const override;
    friend bool operator==(const Variable& a, const Variable& b) { return a.variable_ == b.variable_; }

    const Value* locate(Context& context, Value& holder) const override { return locate(context, holder, 0); }
    const Value* locateHeld(Context& context, Held& held) const override { return locateHeld(context, held, 0); }

    // Resolution at a subscript depth (subscripts resolve variables of their own).
    Value resolve(Context& context, int depth) const;
    const Value* locate(Context& context, Value& holder, int depth) const;
    const Value* locateHeld(Context& context, Held& held, int depth) const;

private:
    // A found value as the variable gives it: objects that resolve or render
    // themselves do so, dictionaries lose their null entries.
    const Value* finish(const Value* current, Context& context, Held& held) const;

    enum class Kind { literal, keyPath };
    std::string variable_;
    Kind kind_ = Kind::keyPath;
    Value literal_;
    // Components known without a context (no subscripts, no syntax errors).
    std::optional<std::vector<KeyPathComponent>> components_;
};

class FilterExpression : public Resolvable {
public:
    using FilterCall = std::pair<std::shared_ptr<FilterType>, std::vector<Variable>>;

    // Throws TemplateSyntaxError for an empty expression or an unknown filter.
    FilterExpression(const std::string& token, TokenParser& parser);
    const std::vector<FilterCall>& filters() const { return filters_; }
    const Variable& variable() const { return variable_; }
    Value resolve(Context& context) const override;
    const Value* locate(Context& context, Value& holder) const override;
    const Value* locateHeld(Context& context, Held& held) const override;
    // The last filter writes straight into the output where it can.
    void renderInto(Context& context, std::string& out) const override;
    void renderTo(Context& context, Output& out) const override;
    // What renderTo does for a FilterExpression itself (not a subclass).
    void renderOwn(Context& context, Output& out) const;
    std::string description() const override { return text_; }

private:
    // Runs the filters from `first` on, on a value of its own.
    Value applyFilters(Value value, size_t first, size_t end, Context& context) const;
    // The last filter's own writing into the output, when it has one.
    bool appendLast(const Value& value, Output& out) const;

    std::vector<FilterCall> filters_;
    Variable variable_;
    std::string text_;
    // The last filter takes no arguments and is a plain Filter, whose
    // writing into the output (when it has one) is this function.
    bool lastIsPlainFilter_ = false;
    bool (*lastAppendTo_)(const Value&, std::string&) = nullptr;
    bool (*lastAppendToOutput_)(const Value&, Output&) = nullptr;
};

class RangeVariable : public Resolvable {
public:
    RangeVariable(std::shared_ptr<Resolvable> from, std::shared_ptr<Resolvable> to)
        : from_(std::move(from)), to_(std::move(to)) {}
    // A range when the text is two operands joined by "...", otherwise nullptr.
    static std::shared_ptr<RangeVariable> make(const std::string& token, TokenParser& parser);
    const std::shared_ptr<Resolvable>& from() const { return from_; }
    const std::shared_ptr<Resolvable>& to() const { return to_; }
    // The integers from `from` to `to`, both included, counting down when from > to.
    Value resolve(Context& context) const override;
    std::string description() const override { return from_->description() + "..." + to_->description(); }

private:
    std::shared_ptr<Resolvable> from_;
    std::shared_ptr<Resolvable> to_;
};

// One-shot parser of a key path into lookup components; subscripts are
// resolved in the context as it goes.
class KeyPath {
public:
    KeyPath(std::string variable, Context* context, int depth = 0)
        : variable_(std::move(variable)), context_(context), depth_(depth) {}
    std::vector<std::string> parse();

private:
    void character(const std::string& c);
    void foundSeparator();
    void openBracket();
    void closeBracket();
    [[noreturn]] void fail(const std::string& what) const;

    std::vector<std::string> components_;
    std::string current_;
    std::vector<std::string> partialComponents_;
    int subscriptLevel_ = 0;
    std::string variable_;
    Context* context_;
    int depth_;
};

// Dictionaries lose their null entries (recursively through nested
// dictionaries); everything else is returned unchanged.
Value normalize(const Value& value);
Value normalize(Value&& value);

// Text made of an optional sign and decimal digits that fits 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

}  // namespace Templates
