#include "picker/Templates/Variable.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <typeinfo>

#include "picker/Templates/Characters.h"
#include "picker/Templates/Context.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Extension.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/Node.h"
#include "picker/Templates/TextForms.h"
#include "picker/Templates/TokenParser.h"

namespace Templates {

using Held = Resolvable::Held;

namespace {

locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

// What the C library's string-to-float conversion reads, whole text only.
std::optional<float> parseFloat(const std::string& text) {
    if (text.empty()) return std::nullopt;
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (first == ' ' || (first >= '\t' && first <= '\r')) return std::nullopt;
    char* end = nullptr;
    float f = strtof_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + text.size() || end == text.c_str()) return std::nullopt;
    return f;
}

bool hasNulls(const Foundation::Dictionary& d) {
    for (const auto& [k, v] : d) {
        if (v.isNull()) return true;
        if (const auto* inner = v.dictionaryOrNull(); inner && hasNulls(*inner)) return true;
    }
    return false;
}

Foundation::Dictionary withoutNulls(const Foundation::Dictionary& d) {
    Foundation::Dictionary out;
    for (const auto& [k, v] : d) {
        if (v.isNull()) continue;
        if (const auto* inner = v.dictionaryOrNull())
            out.set(k, Value(withoutNulls(*inner)));
        else
            out.set(k, v);
    }
    return out;
}

std::int64_t countWithoutNulls(const Foundation::Dictionary& d) {
    std::int64_t n = 0;
    for (const auto& [k, v] : d)
        if (!v.isNull()) ++n;
    return n;
}

// An object's value that it does not store: asked for by name, or by
// position among its fields for an integer component.
[[gnu::noinline]] const Value* objectValue(const Foundation::Object& object, const KeyPathComponent& component,
                                           Held& held) {
    Value v = object.valueForKey(component.text);
    if (v.isNull() && component.index) {
        auto fields = object.fieldNames();
        if (*component.index >= 0 && static_cast<std::uint64_t>(*component.index) < fields.size())
            v = object.valueForKey(fields[static_cast<size_t>(*component.index)]);
    }
    held = std::move(v);  // the object may live in `held`; it is not read again
    return &*held;
}

// One step of a key path from a value that is not the context. The lookup
// reads the value as normalized (dictionaries without their null entries)
// without making the normalized copy: a null entry reads as missing either
// way, and the value found is normalized by the next step or at the end.
// Returns the value found, inside `current`'s storage or in `held`, or
// nullptr for none.
const Value* lookup(const Value& current, const KeyPathComponent& component, Held& held) {
    using Word = KeyPathComponent::Word;
    switch (current.type()) {
        case Value::Type::Dictionary: {
            const auto& d = current.asDictionary();
            if (component.word == Word::count) {
                held = Value(countWithoutNulls(d));
                return &*held;
            }
            for (const auto& [key, value] : d)
                if (sameText(key, component.text)) return &value;
            return nullptr;
        }
        case Value::Type::Array: {
            const auto& a = current.asArray();
            if (component.index) {
                const std::int64_t index = *component.index;
                if (index >= 0 && static_cast<std::uint64_t>(index) < a.size()) return &a[static_cast<size_t>(index)];
                return nullptr;
            }
            if (component.word == Word::first) return a.empty() ? nullptr : &a.front();
            if (component.word == Word::last) return a.empty() ? nullptr : &a.back();
            if (component.word == Word::count) {
                held = Value(static_cast<std::int64_t>(a.size()));
                return &*held;
            }
            return &current;  // a name that means nothing to an array leaves it current
        }
        case Value::Type::Object: {
            const auto* object = current.asObject().get();
            if (!object) return nullptr;
            // A value the object stores is read where it is (it lives as long
            // as the object, which the context or `held` keeps).
            if (const Value* stored = object->storedValueForKey(component.text); stored && !stored->isNull())
                return stored;
            return objectValue(*object, component, held);
        }
        default:
            return nullptr;  // plain values have no members a template can reach
    }
}

}  // namespace

std::optional<std::int64_t> parseInteger(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text[0] == '+') {
        text.remove_prefix(1);
        if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    }
    std::int64_t value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

Value normalize(const Value& value) {
    if (const auto* d = value.dictionaryOrNull(); d && hasNulls(*d)) return Value(withoutNulls(*d));
    return value;
}

Value normalize(Value&& value) {
    if (const auto* d = value.dictionaryOrNull(); d && hasNulls(*d)) return Value(withoutNulls(*d));
    return std::move(value);
}

// --- Variable ----------------------------------------------------------------

KeyPathComponent::KeyPathComponent(std::string t) : text(std::move(t)), index(parseInteger(text)) {
    if (text == "count")
        word = Word::count;
    else if (text == "first")
        word = Word::first;
    else if (text == "last")
        word = Word::last;
}

namespace {

std::vector<KeyPathComponent> keyPathComponents(std::vector<std::string> texts) {
    std::vector<KeyPathComponent> out;
    out.reserve(texts.size());
    for (auto& text : texts) out.emplace_back(std::move(text));
    return out;
}

}  // namespace

Variable::Variable(std::string variable) : variable_(std::move(variable)) {
    const std::string& t = variable_;
    if (t.size() >= 2 && ((t.front() == '\'' && t.back() == '\'') || (t.front() == '"' && t.back() == '"'))) {
        kind_ = Kind::literal;
        literal_ = Value(t.substr(1, t.size() - 2));
    } else if (auto i = parseInteger(t)) {
        kind_ = Kind::literal;
        literal_ = Value(*i);
    } else if (auto f = parseFloat(t)) {
        kind_ = Kind::literal;
        literal_ = Value(*f);
    } else if (t == "true" || t == "false") {
        kind_ = Kind::literal;
        literal_ = Value(t == "true");
    } else if (t.find_first_of("[]") == std::string::npos) {
        // Without subscripts the components do not depend on the context; a
        // malformed path is left to fail when it is resolved.
        try {
            components_ = keyPathComponents(KeyPath(t, nullptr).parse());
        } catch (const TemplateSyntaxError&) {}
    }
}

std::string Variable::description() const { return "Variable(variable: " + quotedText(variable_) + ")"; }

Value Variable::resolve(Context& context) const { return resolve(context, 0); }

Value Variable::resolve(Context& context, int depth) const {
    Held held;
    const Value* found = locateHeld(context, held, depth);
    if (!found) return Value();
    if (held && found == &*held) return std::move(*held);
    return *found;
}

namespace {

// Walks the components by pointer: values stay where they are stored (in the
// context, in an object, or in `held` for a value made on the way).
const Value* walk(const std::vector<KeyPathComponent>& components, Context& context, Held& held) {
    if (components.empty()) return nullptr;
    const Value* current = context.find(components[0].text);
    for (size_t i = 1; i < components.size() && current && !current->isNull(); ++i)
        current = lookup(*current, components[i], held);
    return current;
}

// A path with subscripts, whose components depend on the context.
[[gnu::noinline]] const Value* walkParsing(const std::string& variable, Context& context, Held& held, int depth) {
    return walk(keyPathComponents(KeyPath(variable, &context, depth).parse()), context, held);
}

// What a Value holder gives for a value located with `held`: the pointer,
// into the holder when the value was made.
const Value* intoHolder(const Value* found, Held& held, Value& holder) {
    if (!held) return found;
    const bool made = found == &*held;
    holder = std::move(*held);  // also keeps what `found` points into
    return made ? &holder : found;
}

}  // namespace

const Value* Variable::locate(Context& context, Value& holder, int depth) const {
    Held held;
    const Value* found = locateHeld(context, held, depth);
    return intoHolder(found, held, holder);
}

const Value* Variable::locateHeld(Context& context, Held& held, int depth) const {
    if (kind_ == Kind::literal) return &literal_;
    const Value* current =
        components_ ? walk(*components_, context, held) : walkParsing(variable_, context, held, depth);
    if (!current) return nullptr;
    switch (current->type()) {
        case Value::Type::Null:
            return nullptr;
        case Value::Type::Object:
        case Value::Type::Dictionary:
            return finish(current, context, held);
        default:
            return current;  // text, numbers and the rest are given as they are
    }
}

const Value* Variable::finish(const Value* current, Context& context, Held& held) const {
    if (current->isObject() && current->asObject()) {
        const Foundation::Object* object = current->asObject().get();
        if (const auto* r = dynamic_cast<const Resolvable*>(object)) {
            Value keep = *current;  // the object must outlive its own resolution
            Value resolved = normalize(r->resolve(context));
            held = std::move(resolved);
            return held->isNull() ? nullptr : &*held;
        }
        if (const auto* n = dynamic_cast<const NodeType*>(object)) {
            Value keep = *current;
            Value rendered(n->render(context));
            held = std::move(rendered);
            return &*held;
        }
    }
    if (const auto* d = current->dictionaryOrNull(); d && hasNulls(*d)) {
        Value normalized(withoutNulls(*d));
        held = std::move(normalized);
        return &*held;
    }
    return current;
}

const Value* Resolvable::locate(Context& context, Value& holder) const {
    holder = resolve(context);
    return holder.isNull() ? nullptr : &holder;
}

const Value* Resolvable::locateHeld(Context& context, Held& held) const {
    Value holder;
    const Value* found = locate(context, holder);
    if (holder.isNull()) return found;
    const bool made = found == &holder;
    held = std::move(holder);  // also keeps what `found` points into
    return made ? &*held : found;
}

void Resolvable::renderInto(Context& context, std::string& out) const {
    Value holder;
    appendRendered(locate(context, holder), out);
}

void Resolvable::renderTo(Context& context, Output& out) const {
    out.withString([&](std::string& text) { renderInto(context, text); });
}

void appendRendered(const Value* value, std::string& out) {
    Output output(out);
    appendRendered(value, output);
}

void appendRendered(const Value* value, Output& out) {
    if (!value) return;
    if (const auto* s = value->stringOrNull()) {
        out.append(*s);
    } else if (value->isInt()) {
        // The decimal form stringify gives, without a string of its own.
        char* at = out.room(24);
        auto end = std::to_chars(at, at + 24, value->asInt()).ptr;
        out.commit(static_cast<size_t>(end - at));
    } else {
        out.append(stringify(*value));
    }
}

// --- KeyPath -----------------------------------------------------------------

void KeyPath::fail(const std::string& what) const {
    throw TemplateSyntaxError(what + " in variable '" + variable_ + "'");
}

std::vector<std::string> KeyPath::parse() {
    for (std::string_view ch : characters(variable_)) {
        if (ch == ".")
            foundSeparator();
        else if (ch == "[")
            openBracket();
        else if (ch == "]")
            closeBracket();
        else
            character(std::string(ch));
    }
    if (!current_.empty()) partialComponents_.push_back(std::move(current_));
    components_.insert(components_.end(), partialComponents_.begin(), partialComponents_.end());
    if (subscriptLevel_ != 0)
        throw TemplateSyntaxError("Unbalanced subscript brackets in variable '" + variable_ + "'");
    return std::move(components_);
}

void KeyPath::foundSeparator() {
    if (subscriptLevel_ != 0) {
        character(".");
        return;
    }
    if (!current_.empty()) partialComponents_.push_back(current_);
    if (partialComponents_.empty()) fail("Unexpected '.'");
    components_.insert(components_.end(), partialComponents_.begin(), partialComponents_.end());
    current_.clear();
    partialComponents_.clear();
}

void KeyPath::openBracket() {
    if (partialComponents_.empty() && current_.empty()) fail("Unexpected '['");
    if (depth_ + subscriptLevel_ >= kMaxExpressionNesting)
        fail("Subscripts nested more than " + std::to_string(kMaxExpressionNesting) + " levels deep");
    if (subscriptLevel_ == 0) {
        if (!current_.empty()) {
            partialComponents_.push_back(current_);
            current_.clear();
        }
    } else {
        current_ += '[';
    }
    ++subscriptLevel_;
}

void KeyPath::closeBracket() {
    if (subscriptLevel_ < 1) fail("Unbalanced ']'");
    if (subscriptLevel_ > 1) {
        current_ += ']';
        --subscriptLevel_;
        return;
    }
    Value value;
    if (!current_.empty() && context_) value = Variable(current_).resolve(*context_, depth_ + 1);
    if (current_.empty() || value.isNull())
        throw TemplateSyntaxError("Unable to resolve subscript '" + current_ + "' in variable '" + variable_ + "'");
    partialComponents_.push_back(textualForm(value));
    current_.clear();
    subscriptLevel_ = 0;
}

void KeyPath::character(const std::string& c) {
    if (!partialComponents_.empty() && subscriptLevel_ == 0) fail("Unexpected character '" + c + "'");
    current_ += c;
}

// --- FilterExpression --------------------------------------------------------

namespace {

std::vector<std::string> cutAtBars(const std::string& token) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= token.size()) {
        size_t bar = token.find('|', start);
        if (bar == std::string::npos) bar = token.size();
        if (bar > start) pieces.push_back(trim(std::string_view(token).substr(start, bar - start), ' '));
        start = bar + 1;
    }
    return pieces;
}

}  // namespace

FilterExpression::FilterExpression(const std::string& token, TokenParser& parser) : variable_(""), text_(token) {
    auto pieces = cutAtBars(token);
    if (pieces.empty()) throw TemplateSyntaxError("Variable tags must include at least 1 argument");
    variable_ = Variable(pieces[0]);
    for (size_t i = 1; i < pieces.size(); ++i) {
        auto parts = quoteAwareSplit(pieces[i], ':');
        if (parts.empty()) throw TemplateSyntaxError("Missing filter name in '" + token + "'");
        std::string name = trim(parts[0], ' ');
        std::string rest;
        for (size_t p = 1; p < parts.size(); ++p) {
            if (p > 1) rest += ':';
            rest += parts[p];
        }
        std::vector<Variable> arguments;
        for (const auto& argument : quoteAwareSplit(rest, ',')) arguments.emplace_back(trim(argument, ' '));
        filters_.emplace_back(parser.findFilter(name), std::move(arguments));
    }
    if (!filters_.empty() && filters_.back().second.empty()) {
        const FilterType& last = *filters_.back().first;
        if (typeid(last) == typeid(Filter)) {
            lastIsPlainFilter_ = true;
            lastAppendTo_ = static_cast<const Filter&>(last).appendTo();
            lastAppendToOutput_ = static_cast<const Filter&>(last).appendToOutput();
        }
    }
}

bool FilterExpression::appendLast(const Value& value, Output& out) const {
    static const std::vector<Value> none;
    if (lastIsPlainFilter_) {
        if (lastAppendToOutput_) return lastAppendToOutput_(value, out);
        if (!lastAppendTo_) return false;
        return out.withString([&](std::string& text) { return lastAppendTo_(value, text); });
    }
    return out.withString([&](std::string& text) { return filters_.back().first->invokeInto(value, none, text); });
}

Value FilterExpression::applyFilters(Value value, size_t first, size_t end, Context& context) const {
    static const std::vector<Value> none;
    for (size_t i = first; i < end; ++i) {
        const auto& [filter, arguments] = filters_[i];
        if (arguments.empty()) {
            value = filter->invoke(std::move(value), none);
            continue;
        }
        std::vector<Value> values;
        values.reserve(arguments.size());
        for (const auto& argument : arguments) values.push_back(argument.resolve(context));
        value = filter->invoke(std::move(value), values);
    }
    return value;
}

Value FilterExpression::resolve(Context& context) const {
    return applyFilters(variable_.resolve(context), 0, filters_.size(), context);
}

const Value* FilterExpression::locate(Context& context, Value& holder) const {
    if (filters_.empty()) return variable_.locate(context, holder);
    Value result = applyFilters(variable_.resolve(context), 0, filters_.size(), context);
    holder = std::move(result);
    return holder.isNull() ? nullptr : &holder;
}

const Value* FilterExpression::locateHeld(Context& context, Held& held) const {
    if (filters_.empty()) return variable_.locateHeld(context, held);
    Value result = applyFilters(variable_.resolve(context), 0, filters_.size(), context);
    if (result.isNull()) return nullptr;
    held = std::move(result);
    return &*held;
}

void FilterExpression::renderInto(Context& context, std::string& out) const {
    Output output(out);
    renderOwn(context, output);
}

void FilterExpression::renderTo(Context& context, Output& out) const {
    // A subclass that writes itself with renderInto is asked that way.
    if (typeid(*this) != typeid(FilterExpression)) {
        Resolvable::renderTo(context, out);
        return;
    }
    renderOwn(context, out);
}

void FilterExpression::renderOwn(Context& context, Output& out) const {
    if (filters_.empty()) {
        Held held;
        appendRendered(variable_.locateHeld(context, held), out);
        return;
    }
    // A last filter without arguments may write its result into the output
    // itself; when it is the only one, it reads the value where it is stored.
    const auto& [last, arguments] = filters_.back();
    if (arguments.empty()) {
        static const std::vector<Value> none;
        if (filters_.size() == 1) {
            Held held;
            const Value* value = variable_.locateHeld(context, held);
            if (appendLast(value ? *value : Value::null(), out)) return;
            Value own = held && value == &*held ? std::move(*held) : value ? *value : Value();
            Value result = last->invoke(std::move(own), none);
            appendRendered(&result, out);
            return;
        }
        Value value = applyFilters(variable_.resolve(context), 0, filters_.size() - 1, context);
        if (appendLast(value, out)) return;
        Value result = last->invoke(std::move(value), none);
        appendRendered(&result, out);
        return;
    }
    Value result = applyFilters(variable_.resolve(context), 0, filters_.size(), context);
    appendRendered(&result, out);
}

// --- VariableNode --------------------------------------------------------------

VariableNode::VariableNode(std::shared_ptr<Resolvable> variable) : variable_(std::move(variable)) {
    if (const Resolvable* resolvable = variable_.get(); resolvable && typeid(*resolvable) == typeid(FilterExpression))
        expression_ = static_cast<const FilterExpression*>(resolvable);
}

VariableNode::VariableNode(const std::string& variable) : VariableNode(std::make_shared<Variable>(variable)) {}

std::string VariableNode::render(Context& context) const { return stringify(variable_->resolve(context)); }

void VariableNode::renderInto(Context& context, std::string& out) const {
    Output output(out);
    renderOwn(context, output);
}

void VariableNode::renderTo(Context& context, Output& out) const {
    if (typeid(*this) != typeid(VariableNode)) {
        NodeType::renderTo(context, out);  // a subclass may write itself with renderInto
        return;
    }
    renderOwn(context, out);
}

void VariableNode::renderOwn(Context& context, Output& out) const {
    if (expression_)
        expression_->renderOwn(context, out);
    else
        variable_->renderTo(context, out);
}

// --- RangeVariable -----------------------------------------------------------

std::shared_ptr<RangeVariable> RangeVariable::make(const std::string& token, TokenParser& parser) {
    size_t first = token.find("...");
    if (first == std::string::npos) return nullptr;
    if (token.find("...", first + 3) != std::string::npos) return nullptr;
    auto from = std::make_shared<FilterExpression>(token.substr(0, first), parser);
    auto to = std::make_shared<FilterExpression>(token.substr(first + 3), parser);
    return std::make_shared<RangeVariable>(std::move(from), std::move(to));
}

namespace {

std::optional<std::int64_t> rangeBound(const Value& value) {
    if (value.isInt()) return value.asInt();
    if (value.isDouble()) {
        double d = value.asDouble();
        if (std::isfinite(d) && std::floor(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

}  // namespace

Value RangeVariable::resolve(Context& context) const {
    Value fromValue = from_->resolve(context);
    Value toValue = to_->resolve(context);
    auto from = rangeBound(fromValue);
    if (!from) throw TemplateSyntaxError("'from' value is not an Integer (" + textualForm(fromValue) + ")");
    auto to = rangeBound(toValue);
    if (!to) throw TemplateSyntaxError("'to' value is not an Integer (" + textualForm(toValue) + " )");
    // The distance in unsigned arithmetic, which cannot overflow.
    std::uint64_t span = *from <= *to ? static_cast<std::uint64_t>(*to) - static_cast<std::uint64_t>(*from)
                                      : static_cast<std::uint64_t>(*from) - static_cast<std::uint64_t>(*to);
    if (span >= static_cast<std::uint64_t>(kMaxRangeSize))
        throw TemplateSyntaxError("Range " + std::to_string(*from) + "..." + std::to_string(*to) +
                                  " is too large: more than " + std::to_string(kMaxRangeSize) + " values");
    Foundation::Array out;
    out.reserve(static_cast<size_t>(span + 1));
    if (*from <= *to) {
        for (std::int64_t i = *from;; ++i) {
            out.emplace_back(i);
            if (i == *to) break;
        }
    } else {
        for (std::int64_t i = *from;; --i) {
            out.emplace_back(i);
            if (i == *to) break;
        }
    }
    return Value(std::move(out));
}

}  // namespace Templates
