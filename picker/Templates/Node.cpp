#include "picker/Templates/Node.h"

#include <charconv>

#include "picker/Templates/Context.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/TextForms.h"
#include "picker/Templates/Variable.h"

namespace Templates {

void renderNodesInto(const NodeList& nodes, Context& context, std::string& out) {
    Context::DepthGuard guard(context.renderDepth(), kMaxRenderDepth, [] {
        return "Template rendering is nested more than " + std::to_string(kMaxRenderDepth) + " levels deep";
    });
    for (const auto& node : nodes) node->renderInto(context, out);
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
