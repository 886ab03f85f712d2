#include "picker/Templates/FilterTags.h"

#include <typeinfo>

#include "Platform/Foundation/Dispatch.h"
#include "picker/Templates/Context.h"
#include "picker/Templates/DateFormatter.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Template.h"
#include "picker/Templates/TokenParser.h"

namespace Templates {

std::shared_ptr<NodeType> FilterNode::parse(TokenParser& parser, const Token& token) {
    const auto& words = token.components();
    if (words.size() != 2) throw TemplateSyntaxError("'filter' tag takes one argument, the filter expression");
    NodeList nodes = parser.parse(endTagPredicate({"endfilter"}));
    if (!parser.nextToken()) throw TemplateSyntaxError("`endfilter` was not found.");
    auto resolvable = std::make_shared<FilterExpression>("filter_value|" + words[1], parser);
    return std::make_shared<FilterNode>(std::move(resolvable), std::move(nodes));
}

std::string FilterNode::render(Context& context) const {
    std::string value = renderNodes(nodes_, context);
    Dictionary scope{{"filter_value", Value(std::move(value))}};
    return context.push(std::move(scope), [&] { return stringify(resolvable_->resolve(context)); });
}

std::shared_ptr<NodeType> IncludeNode::parse(TokenParser&, const Token& token) {
    const auto& words = token.components();
    if (words.size() != 2 && words.size() != 3)
        throw TemplateSyntaxError(
            "'include' tag requires one argument, the template file to be included. A second optional argument can be "
            "used to specify the context that will be passed to the included file");
    std::optional<std::string> includeContext;
    if (words.size() == 3) includeContext = words[2];
    return std::make_shared<IncludeNode>(Variable(words[1]), std::move(includeContext));
}

std::string IncludeNode::render(Context& context) const {
    std::string out;
    {
        Output output(out);
        renderOwn(context, output);
    }
    return out;
}

void IncludeNode::renderTo(Context& context, Output& out) const {
    if (typeid(*this) != typeid(IncludeNode)) {
        NodeType::renderTo(context, out);  // a subclass may write itself otherwise
        return;
    }
    renderOwn(context, out);
}

void IncludeNode::renderOwn(Context& context, Output& out) const {
    std::string name = resolveTemplateName(templateName_, context);
    auto loaded = context.environment().loadTemplate(name);
    Dictionary scope;
    if (includeContext_) {
        Value value = context.value(*includeContext_);
        if (const auto* d = value.dictionaryOrNull()) scope = *d;
    }
    context.push(std::move(scope), [&] { renderLoadedTemplateTo(*loaded, name, "include", context, out); });
}

std::shared_ptr<NodeType> NowNode::parse(TokenParser&, const Token& token) {
    const auto& words = token.components();
    if (words.size() > 2)
        throw TemplateSyntaxError("'now' tags may only have one argument: the format string `" + token.contents() +
                                  "`.");
    return std::make_shared<NowNode>(Variable(words.size() == 2 ? words[1] : "\"yyyy-MM-dd 'at' HH:mm\""));
}

std::string NowNode::render(Context& context) const {
    Foundation::Date now{Foundation::clock().now()};
    Value format = format_.resolve(context);
    if (format.isObject()) {
        if (auto formatter = std::dynamic_pointer_cast<DateFormatter>(format.asObject()))
            return formatter->stringFromDate(now);
        return "";
    }
    if (const auto* pattern = format.stringOrNull()) return DateFormatter(*pattern).stringFromDate(now);
    return "";
}

}  // namespace Templates
