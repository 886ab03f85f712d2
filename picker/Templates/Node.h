#pragma once
// Parsed templates are lists of nodes; rendering joins their texts.

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "picker/Templates/Output.h"

namespace Templates {

using Foundation::Value;
class Context;
class Resolvable;
class FilterExpression;

class NodeType {
public:
    virtual ~NodeType() = default;
    virtual std::string render(Context& context) const = 0;
    // Appends the rendered text; built-in nodes write straight into the output.
    virtual void renderInto(Context& context, std::string& out) const { out += render(context); }
    // The same into a render's output; by default through renderInto.
    virtual void renderTo(Context& context, Output& out) const;
};

using NodeList = std::vector<std::shared_ptr<NodeType>>;

class TextNode : public NodeType {
public:
    explicit TextNode(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    std::string render(Context&) const override { return text_; }
    void renderInto(Context&, std::string& out) const override { out += text_; }
    void renderTo(Context& context, Output& out) const override {
        if (typeid(*this) == typeid(TextNode))
            out.append(text_);
        else
            NodeType::renderTo(context, out);  // a subclass that writes itself with renderInto
    }

private:
    std::string text_;
};

class VariableNode : public NodeType {
public:
    explicit VariableNode(std::shared_ptr<Resolvable> variable);
    // A plain Variable of the text.
    explicit VariableNode(const std::string& variable);
    const std::shared_ptr<Resolvable>& variable() const { return variable_; }
    std::string render(Context& context) const override;
    void renderInto(Context& context, std::string& out) const override;
    void renderTo(Context& context, Output& out) const override;

private:
    friend class PreparedNodes;
    void renderOwn(Context& context, Output& out) const;

    std::shared_ptr<Resolvable> variable_;
    // The variable when it is a filter expression of the engine's own (the
    // usual case), rendered without a virtual call.
    const FilterExpression* expression_ = nullptr;
};

class SimpleNode : public NodeType {
public:
    using Handler = std::function<std::string(Context&)>;
    explicit SimpleNode(Handler handler) : handler_(std::move(handler)) {}
    std::string render(Context& context) const override { return handler_(context); }

private:
    Handler handler_;
};

// A node list made ready to render many times: literal text is appended
// where it lies and the engine's own variable nodes render without a
// virtual call; other nodes as renderNodesTo renders them. The nodes must
// outlive it and stay as they are.
class PreparedNodes {
public:
    PreparedNodes() = default;
    explicit PreparedNodes(const NodeList& nodes);
    // What renderNodesTo does with the nodes.
    void renderTo(Context& context, Output& out) const;

private:
    struct Step {
        enum class Kind : unsigned char { text, expression, variable, node } kind;
        const void* target;  // the text, the filter expression, the variable node, or the node
    };
    std::vector<Step> steps_;
};

std::string renderNodes(const NodeList& nodes, Context& context);
void renderNodesInto(const NodeList& nodes, Context& context, std::string& out);
void renderNodesTo(const NodeList& nodes, Context& context, Output& out);

// The one rule by which a resolved value becomes output: text as is, lists in
// their debug form, other values in their text form, null as the empty text.
std::string stringify(const Value& value);
// Nested lists unwrapped the same way; null elements stay explicit nulls.
Foundation::Array unwrap(const Foundation::Array& list);

}  // namespace Templates
