#include "picker/Templates/ForTag.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <typeinfo>

#include "picker/Templates/Context.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/IfTag.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/TextForms.h"
#include "picker/Templates/TokenParser.h"
#include "picker/Templates/Variable.h"

namespace Templates {

std::shared_ptr<NodeType> ForNode::parse(TokenParser& parser, const Token& token) {
    static const EndTagPredicate bodyEnd = endTagPredicate({"endfor", "empty"});
    static const EndTagPredicate emptyEnd = endTagPredicate({"endfor"});

    const auto& words = token.components();
    bool shaped =
        words.size() >= 4 && words[2] == "in" && (words.size() == 4 || (words.size() > 5 && words[4] == "where"));
    if (!shaped)
        throw TemplateSyntaxError("'for' statements should use the syntax: `for <x> in <y> [where <condition>]");

    std::vector<std::string> loopVariables;
    const std::string& names = words[1];
    size_t start = 0;
    while (start <= names.size()) {
        size_t comma = names.find(',', start);
        if (comma == std::string::npos) comma = names.size();
        if (comma > start) loopVariables.push_back(trim(std::string_view(names).substr(start, comma - start), ' '));
        start = comma + 1;
    }

    NodeList nodes = parser.parse(bodyEnd);
    auto next = parser.nextToken();
    if (!next) throw TemplateSyntaxError("`endfor` was not found.");
    NodeList emptyNodes;
    if (next->contents() == "empty") {
        emptyNodes = parser.parse(emptyEnd);
        parser.nextToken();  // the endfor; the empty branch may also run to the end
    }

    auto resolvable = parser.compileResolvable(words[3]);
    std::shared_ptr<Expression> where;
    if (words.size() > 5) {
        std::vector<std::string> condition(words.begin() + 5, words.end());
        where = IfExpressionParser(condition, parser).parse();
    }
    return std::make_shared<ForNode>(std::move(resolvable), std::move(loopVariables), std::move(nodes),
                                     std::move(emptyNodes), std::move(where));
}

std::vector<ForNode::Item> ForNode::items(const Value& value) {
    std::vector<Item> out;
    switch (value.type()) {
        case Value::Type::Dictionary:
            for (const auto& [key, v] : value.asDictionary()) out.push_back(Item{Value(), {Value(key), v}, true});
            break;
        case Value::Type::Array:
            out.reserve(value.asArray().size());
            for (const auto& v : value.asArray()) out.push_back(Item{v, {}, false});
            break;
        case Value::Type::Object:
            // An object's stored members, in declaration order.
            if (const auto& object = value.asObject()) {
                for (const auto& field : object->fieldNames())
                    out.push_back(Item{object->valueForKey(field), {}, false});
            }
            break;
        default:
            break;  // text, numbers, dates, data and null give nothing to repeat
    }
    return out;
}

Foundation::Dictionary ForNode::loopScope(const Item& item) const {
    Foundation::Dictionary scope;
    fillScope(scope, item.isTuple ? nullptr : &item.value, item.isTuple ? &item.tuple : nullptr);
    return scope;
}

namespace {

// The loop variables a tuple binds, in the order the scope holds them.
bool holdsTupleNames(const Foundation::Dictionary& scope, const std::vector<std::string>& names) {
    auto entry = scope.begin();
    size_t count = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "_" || std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), names[i]) !=
                                   names.begin() + static_cast<std::ptrdiff_t>(i))
            continue;
        if (entry == scope.end() || entry->first != names[i]) return false;
        ++entry;
        ++count;
    }
    return count == scope.size();
}

}  // namespace

void ForNode::fillScope(Foundation::Dictionary& scope, const Value* value, const std::vector<Value>* tuple) const {
    // A scope that still has the keys of the last item only takes new values;
    // setting a key that is there keeps its place, so it ends as a new one would.
    if (loopVariables_.empty()) {
        if (!scope.empty()) scope = Foundation::Dictionary();
        return;
    }
    if (tuple) {
        if (tuple->size() < loopVariables_.size()) {
            std::string text = "(";
            for (size_t i = 0; i < tuple->size(); ++i) {
                if (i) text += ", ";
                text += debugForm((*tuple)[i]);
            }
            throw TemplateSyntaxError("Tuple '" + text + ")' has less values than loop variables");
        }
        if (!holdsTupleNames(scope, loopVariables_)) scope = Foundation::Dictionary();
        for (size_t i = 0; i < loopVariables_.size(); ++i) {
            if (loopVariables_[i] != "_") scope.set(loopVariables_[i], (*tuple)[i]);
        }
        return;
    }
    if (scope.size() == 1 && sameText(scope.begin()->first, loopVariables_[0])) {
        scope.begin()->second = *value;
        return;
    }
    scope = Foundation::Dictionary();
    scope.set(loopVariables_[0], *value);
}

template <class Body>
auto ForNode::bindLoopVariables(const Item& item, Context& context, Body&& body) const -> decltype(body()) {
    return context.push(loopScope(item), std::forward<Body>(body));
}

std::string ForNode::render(Context& context) const {
    std::string out;
    renderInto(context, out);
    return out;
}

namespace {

// The dictionaries a loop binds for each item stay on the stack from one
// item to the next and are refilled where they are. After an item that left
// the stack at another depth (a caller's tag pushed or popped), they are
// popped into their slots and pushed again, as if each item pushed its own
// and popped whatever was on top; so it is, too, when the body throws.
template <size_t N>
class LoopFrames {
public:
    LoopFrames(Context& context, std::array<Foundation::Dictionary, N>& slots)
        : context_(context), base_(context.depth()), slots_(slots) {}
    ~LoopFrames() { release(); }
    LoopFrames(const LoopFrames&) = delete;
    LoopFrames& operator=(const LoopFrames&) = delete;

    // The position of the first frame for the next item on the stack, the
    // others following it.
    size_t next() {
        if (pushed_ && context_.depth() != base_ + N) release();
        if (!pushed_) {
            base_ = context_.depth();
            for (auto& slot : slots_) context_.push(std::move(slot));
            pushed_ = true;
        }
        return base_;
    }

private:
    void release() {
        if (!pushed_) return;
        pushed_ = false;
        // A loop variable bound to the item becomes a stored value now, as
        // it would have been all along; unless the frames taken off are the
        // loop's own, which go back to their slots unseen.
        if (context_.depth() == base_ + N)
            context_.dropBinding();
        else
            context_.settleBinding();
        for (size_t k = N; k-- > 0;)
            if (auto popped = context_.pop()) slots_[k] = std::move(*popped);
    }

    Context& context_;
    size_t base_;
    bool pushed_ = false;
    std::array<Foundation::Dictionary, N>& slots_;
};

// Equality with a literal, compared inline.
template <size_t N>
bool is(const std::string& text, const char (&literal)[N]) {
    return text.size() == N - 1 && sameBytes(text.data(), literal, N - 1);
}

[[gnu::always_inline]] inline void setBool(Value& slot, bool value) {
    if (!slot.isBool() || slot.asBool() != value) slot = Value(value);
}

[[gnu::always_inline]] inline void setInt(Value& slot, std::int64_t value) {
    if (!slot.isInt() || slot.asInt() != value) slot = Value(value);
}

// {"forloop": {first, last, counter, counter0, length}} for item i of count,
// filled in place when the dictionary still has that shape.
void fillForloop(Foundation::Dictionary& outer, std::int64_t i, std::int64_t count) {
    if (outer.size() == 1 && is(outer.begin()->first, "forloop") && outer.begin()->second.isDictionary()) {
        // Copies first when the loop's dictionary was kept by someone.
        auto& forloop = outer.begin()->second.mutableDictionary();
        auto it = forloop.begin();
        if (forloop.size() == 5 && is(it[0].first, "first") && is(it[1].first, "last") && is(it[2].first, "counter") &&
            is(it[3].first, "counter0") && is(it[4].first, "length")) {
            // Only what differs from the last item is written.
            setBool(it[0].second, i == 0);
            setBool(it[1].second, i == count - 1);
            setInt(it[2].second, i + 1);
            setInt(it[3].second, i);
            setInt(it[4].second, count);
            return;
        }
    }
    Foundation::Dictionary forloop;
    forloop.reserve(5);
    forloop.set("first", Value(i == 0));
    forloop.set("last", Value(i == count - 1));
    forloop.set("counter", Value(i + 1));
    forloop.set("counter0", Value(i));
    forloop.set("length", Value(count));
    outer = Foundation::Dictionary();
    outer.set("forloop", Value(std::move(forloop)));
}

// Whether a dictionary left in a loop's slot may be kept for the next
// render: a few entries of plain numbers, flags and nulls (one level of
// nesting, which is the forloop dictionary). Anything else would keep a
// caller's values alive, or much memory, past the render.
bool keepable(const Foundation::Dictionary& dictionary, bool nested = false) {
    if (dictionary.size() > 5) return false;
    for (const auto& [key, value] : dictionary) {
        switch (value.type()) {
            case Value::Type::Null:
            case Value::Type::Bool:
            case Value::Type::Int:
                break;
            case Value::Type::Dictionary:
                if (nested || !keepable(value.asDictionary(), true)) return false;
                break;
            default:
                return false;
        }
    }
    return true;
}

void keepOrClear(Foundation::Dictionary& slot) {
    if (!keepable(slot)) slot = Foundation::Dictionary();
}

// Index lists longer than this are not kept between renders.
constexpr size_t kMaxKeptIndexes = 4096;

}  // namespace

struct ForNode::Scratch {
    std::array<Foundation::Dictionary, 1> whereSlots;
    std::array<Foundation::Dictionary, 2> slots;  // forloop, then the loop variables
    std::vector<size_t> kept;

    // Drops what refers to the render's values, keeping the shapes.
    void clear() {
        for (auto* scope : {&whereSlots[0], &slots[1]})
            for (auto& entry : *scope) entry.second = Value();
        keepOrClear(whereSlots[0]);
        keepOrClear(slots[0]);
        keepOrClear(slots[1]);
        kept.clear();
        if (kept.capacity() > kMaxKeptIndexes) kept = std::vector<size_t>();
    }
};

ForNode::~ForNode() { delete spare_.load(std::memory_order_acquire); }

namespace {

// The scratch of one render of a loop: taken from the node, given back.
template <class Scratch>
class TakenScratch {
public:
    explicit TakenScratch(std::atomic<Scratch*>& slot) : slot_(slot), scratch_(slot.exchange(nullptr, std::memory_order_acquire)) {
        if (!scratch_) scratch_ = new Scratch();
    }
    ~TakenScratch() {
        scratch_->clear();
        Scratch* expected = nullptr;
        if (!slot_.compare_exchange_strong(expected, scratch_, std::memory_order_release, std::memory_order_relaxed))
            delete scratch_;
    }
    TakenScratch(const TakenScratch&) = delete;
    TakenScratch& operator=(const TakenScratch&) = delete;
    Scratch* operator->() const { return scratch_; }

private:
    std::atomic<Scratch*>& slot_;
    Scratch* scratch_;
};

}  // namespace

void ForNode::renderInto(Context& context, std::string& out) const {
    Output output(out);
    renderOwn(context, output);
}

void ForNode::renderTo(Context& context, Output& out) const {
    if (typeid(*this) != typeid(ForNode)) {
        NodeType::renderTo(context, out);  // a subclass may write itself with renderInto
        return;
    }
    renderOwn(context, out);
}

void ForNode::renderOwn(Context& context, Output& out) const {
    const Value iterated = resolvable_->resolve(context);
    // An array is walked where it is; other values give their items once.
    const Foundation::Array* array = iterated.arrayOrNull();
    std::vector<Item> owned;
    if (!array) owned = items(iterated);
    const size_t total = array ? array->size() : owned.size();
    // A single value is bound to the first loop variable where it lies (in
    // the iterated array, which `iterated` keeps), so lookups read it
    // without a copy; a tuple fills the dictionary.
    auto fill = [&](size_t at, size_t i) {
        const Value* value = array ? &(*array)[i] : owned[i].isTuple ? nullptr : &owned[i].value;
        if (value && !loopVariables_.empty())
            context.bind(at, loopVariables_[0], *value);
        else
            fillScope(context.dictionaryAt(at), value, value ? nullptr : &owned[i].tuple);
    };

    TakenScratch<Scratch> scratch(spare_);
    std::vector<size_t>& kept = scratch->kept;
    if (where_) {
        kept.reserve(total);
        LoopFrames<1> frames(context, scratch->whereSlots);
        for (size_t i = 0; i < total; ++i) {
            fill(frames.next(), i);
            if (where_->evaluate(context)) kept.push_back(i);
        }
    }
    const size_t count = where_ ? kept.size() : total;
    if (count == 0) {
        context.push(Foundation::Dictionary{}, [&] { renderNodesTo(emptyNodes_, context, out); });
        return;
    }
    LoopFrames<2> frames(context, scratch->slots);
    for (size_t i = 0; i < count; ++i) {
        const size_t base = frames.next();
        fillForloop(context.dictionaryAt(base), static_cast<std::int64_t>(i), static_cast<std::int64_t>(count));
        fill(base + 1, where_ ? kept[i] : i);
        body_.renderTo(context, out);
    }
}

}  // namespace Templates
