#include "picker/Templates/Node.h"

#include <charconv>

#include "picker/Templates/Context.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/TextForms.h"
#include "picker/Templates/Variable.h"

namespace Templates {

void NodeType::renderTo(Context& context, Output& out) const {
    out.withString([&](std::string& text) { renderInto(context, text); });
}

void renderNodesTo(const NodeList& nodes, Context& context, Output& out) {
    Context::DepthGuard guard(context.renderDepth(), kMaxRenderDepth, [] {
        return "Template rendering is nested more than " + std::to_string(kMaxRenderDepth) + " levels deep";
    });
    for (const auto& node : nodes) node->renderTo(context, out);
}

PreparedNodes::PreparedNodes(const NodeList& nodes) {
    steps_.reserve(nodes.size());
    for (const auto& node : nodes) {
        const NodeType& n = *node;
        if (typeid(n) == typeid(TextNode))
            steps_.push_back({Step::Kind::text, &static_cast<const TextNode&>(n).text()});
        else if (typeid(n) == typeid(VariableNode) && static_cast<const VariableNode&>(n).expression_)
            steps_.push_back({Step::Kind::expression, static_cast<const VariableNode&>(n).expression_});
        else if (typeid(n) == typeid(VariableNode))
            steps_.push_back({Step::Kind::variable, &n});
        else
            steps_.push_back({Step::Kind::node, &n});
    }
}

void PreparedNodes::renderTo(Context& context, Output& out) const {
    Context::DepthGuard guard(context.renderDepth(), kMaxRenderDepth, [] {
        return "Template rendering is nested more than " + std::to_string(kMaxRenderDepth) + " levels deep";
    });
    for (const Step& step : steps_) {
        switch (step.kind) {
            case Step::Kind::text:
                out.append(*static_cast<const std::string*>(step.target));
                break;
            case Step::Kind::expression:
                static_cast<const FilterExpression*>(step.target)->renderOwn(context, out);
                break;
            case Step::Kind::variable:
                static_cast<const VariableNode*>(step.target)->renderOwn(context, out);
                break;
            case Step::Kind::node:
                static_cast<const NodeType*>(step.target)->renderTo(context, out);
                break;
        }
    }
}

void renderNodesInto(const NodeList& nodes, Context& context, std::string& out) {
    Output output(out);
    renderNodesTo(nodes, context, output);
}

std::string renderNodes(const NodeList& nodes, Context& context) {
    std::string out;
    renderNodesInto(nodes, context, out);
    return out;
}

Foundation::Array unwrap(const Foundation::Array& list) {
    Foundation::Array out;
    out.reserve(list.size());
    for (const auto& v : list) {
        if (const auto* inner = v.arrayOrNull())
            out.emplace_back(unwrap(*inner));
        else
            out.push_back(v);
    }
    return out;
}

std::string stringify(const Value& value) {
    switch (value.type()) {
        case Value::Type::String:
            return value.asString();
        case Value::Type::Null:
            return "";
        default:
            return textualForm(value);
    }
}

}  // namespace Templates
