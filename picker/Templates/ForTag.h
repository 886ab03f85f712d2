#pragma once
// for <names> in <value> [where <condition>] ... [empty] ... endfor

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "picker/Templates/Expression.h"
#include "picker/Templates/Node.h"

namespace Templates {

class Token;
class TokenParser;
class Resolvable;

class ForNode : public NodeType {
public:
    // One item of the iterated value: a plain value, or a tuple (the key and
    // value of a dictionary entry).
    struct Item {
        Value value;
        std::vector<Value> tuple;
        bool isTuple = false;
    };

    ForNode(std::shared_ptr<Resolvable> resolvable, std::vector<std::string> loopVariables, NodeList nodes,
            NodeList emptyNodes, std::shared_ptr<Expression> where)
        : resolvable_(std::move(resolvable)),
          loopVariables_(std::move(loopVariables)),
          nodes_(std::move(nodes)),
          emptyNodes_(std::move(emptyNodes)),
          where_(std::move(where)),
          body_(nodes_) {}
    ~ForNode() override;
    ForNode(const ForNode&) = delete;
    ForNode& operator=(const ForNode&) = delete;
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);

    const std::vector<std::string>& loopVariables() const { return loopVariables_; }
    std::string render(Context& context) const override;
    void renderInto(Context& context, std::string& out) const override;
    void renderTo(Context& context, Output& out) const override;

    // Pushes the item's loop-variable scope, runs the body and pops again.
    template <class Body>
    auto bindLoopVariables(const Item& item, Context& context, Body&& body) const -> decltype(body());

    // The items of a value, by the iteration rules.
    static std::vector<Item> items(const Value& value);

private:
    void renderOwn(Context& context, Output& out) const;
    Foundation::Dictionary loopScope(const Item& item) const;
    // Binds the loop variables to a plain value or a tuple in the scope,
    // reusing its entries where it can.
    void fillScope(Foundation::Dictionary& scope, const Value* value, const std::vector<Value>* tuple) const;

    std::shared_ptr<Resolvable> resolvable_;
    std::vector<std::string> loopVariables_;
    NodeList nodes_;
    NodeList emptyNodes_;
    std::shared_ptr<Expression> where_;
    PreparedNodes body_;  // nodes_, rendered once per item

    // The dictionaries and index list of an earlier render, kept for the
    // next one; a render takes them and gives them back, and one that finds
    // them taken (another thread, or this loop inside itself) makes its own.
    struct Scratch;
    mutable std::atomic<Scratch*> spare_{nullptr};
};

}  // namespace Templates
