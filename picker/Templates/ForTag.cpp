#include "picker/Templates/ForTag.h"

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
    bool shaped = words.size() >= 4 && words[2] == "in" &&
                  (words.size() == 4 || (words.size() > 5 && words[4] == "where"));
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
            for (const auto& field : object->fieldNames()) out.push_back(Item{object->valueForKey(field), {}, false});
        }
        break;
    default:
        break;  // text, numbers, dates, data and null give nothing to repeat
    }
    return out;
}

Foundation::Dictionary ForNode::loopScope(const Item& item) const {
    Foundation::Dictionary scope;
    if (loopVariables_.empty()) return scope;
    if (item.isTuple) {
        if (item.tuple.size() < loopVariables_.size()) {
            std::string text = "(";
            for (size_t i = 0; i < item.tuple.size(); ++i) {
                if (i) text += ", ";
                text += debugForm(item.tuple[i]);
            }
            throw TemplateSyntaxError("Tuple '" + text + ")' has less values than loop variables");
        }
        for (size_t i = 0; i < loopVariables_.size(); ++i) {
            if (loopVariables_[i] != "_") scope.set(loopVariables_[i], item.tuple[i]);
        }
        return scope;
    }
    scope.set(loopVariables_[0], item.value);
    return scope;
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

void ForNode::renderInto(Context& context, std::string& out) const {
    std::vector<Item> all = items(resolvable_->resolve(context));
    if (where_) {
        std::vector<Item> kept;
        for (auto& item : all) {
            if (bindLoopVariables(item, context, [&] { return where_->evaluate(context); })) kept.push_back(std::move(item));
        }
        all = std::move(kept);
    }
    if (all.empty()) {
        context.push(Foundation::Dictionary{}, [&] { renderNodesInto(emptyNodes_, context, out); });
        return;
    }
    const auto count = static_cast<std::int64_t>(all.size());
    // Filled in place for each item: copying a built dictionary is cheaper
    // than building one key by key.
    static const Foundation::Dictionary prototype{
        {"first", Value(false)}, {"last", Value(false)}, {"counter", Value(0)}, {"counter0", Value(0)},
        {"length", Value(0)}};
    for (std::int64_t i = 0; i < count; ++i) {
        Foundation::Dictionary forloop = prototype;
        auto entry = forloop.begin();
        (entry++)->second = Value(i == 0);
        (entry++)->second = Value(i == count - 1);
        (entry++)->second = Value(i + 1);
        (entry++)->second = Value(i);
        entry->second = Value(count);
        context.push(Foundation::Dictionary{{"forloop", Value(std::move(forloop))}}, [&] {
            bindLoopVariables(all[static_cast<size_t>(i)], context, [&] { renderNodesInto(nodes_, context, out); });
        });
    }
}

}  // namespace Templates
