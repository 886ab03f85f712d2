#include "picker/Templates/Inheritance.h"

#include "picker/Templates/Context.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/FilterTags.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/Template.h"
#include "picker/Templates/TokenParser.h"

namespace Templates {

// Shared by include and extends: the name must resolve to text.
std::string resolveTemplateName(const Variable& name, Context& context) {
    Value value = name.resolve(context);
    if (!value.isString()) throw TemplateSyntaxError("'" + name.description() + "' could not be resolved as a string");
    return value.asString();
}

// Renders a loaded template's tokens in the context with the context's
// environment; stops templates that include or extend themselves.
std::string renderLoadedTemplate(const Template& loaded, const std::string& name, const char* tag, Context& context) {
    std::string out;
    {
        Output output(out);
        renderLoadedTemplateTo(loaded, name, tag, context, output);
    }
    return out;
}

void renderLoadedTemplateTo(const Template& loaded, const std::string& name, const char* tag, Context& context,
                            Output& out) {
    Context::DepthGuard guard(context.templateDepth(), kMaxTemplateDepth, [&] {
        return "'" + std::string(tag) + "' of '" + name + "' goes more than " + std::to_string(kMaxTemplateDepth) +
               " templates deep; a template probably " + (std::string(tag) == "include" ? "includes" : "extends") +
               " itself";
    });
    auto nodes = context.parsedNodes(loaded.sharedTokens());
    if (!nodes) {
        TokenParser parser(loaded.sharedTokens(), context.environment());
        nodes = std::make_shared<const NodeList>(parser.parse());
        context.rememberParsedNodes(loaded.sharedTokens(), nodes);
    }
    renderNodesTo(*nodes, context, out);
}

std::shared_ptr<NodeType> ExtendsNode::parse(TokenParser& parser, const Token& token) {
    const auto& words = token.components();
    if (words.size() != 2) throw TemplateSyntaxError("'extends' takes one argument, the template file to be extended");
    NodeList nodes = parser.parse();
    std::map<std::string, std::shared_ptr<BlockNode>> blocks;
    for (const auto& node : nodes) {
        if (dynamic_cast<const ExtendsNode*>(node.get()))
            throw TemplateSyntaxError("'extends' cannot appear more than once in the same template");
        if (auto block = std::dynamic_pointer_cast<BlockNode>(node)) blocks[block->name()] = block;
    }
    return std::make_shared<ExtendsNode>(Variable(words[1]), std::move(blocks));
}

std::string ExtendsNode::render(Context& context) const {
    std::string name = resolveTemplateName(templateName_, context);
    auto parent = context.environment().loadTemplate(name);

    std::shared_ptr<BlockContext> blockContext;
    Value existing = context.value(BlockContext::contextKey);
    if (existing.isObject()) blockContext = std::dynamic_pointer_cast<BlockContext>(existing.asObject());
    if (blockContext) {
        for (const auto& [blockName, block] : blocks_) blockContext->push(block, blockName);
    } else {
        blockContext = std::make_shared<BlockContext>(blocks_);
    }
    Dictionary scope{{BlockContext::contextKey, Value(blockContext)}};
    return context.push(std::move(scope), [&] { return renderLoadedTemplate(*parent, name, "extends", context); });
}

std::shared_ptr<NodeType> BlockNode::parse(TokenParser& parser, const Token& token) {
    const auto& words = token.components();
    if (words.size() != 2) throw TemplateSyntaxError("'block' tag takes one argument, the block name");
    NodeList nodes = parser.parse(endTagPredicate({"endblock"}));
    parser.nextToken();  // the end tag; a block may also run to the end of the template
    return std::make_shared<BlockNode>(words[1], std::move(nodes));
}

std::string BlockNode::render(Context& context) const {
    Value stored = context.value(BlockContext::contextKey);
    std::shared_ptr<BlockContext> blockContext;
    if (stored.isObject()) blockContext = std::dynamic_pointer_cast<BlockContext>(stored.asObject());
    if (blockContext) {
        if (auto replacement = blockContext->popBlock(name_)) {
            // The text this override replaces: the next pending override, or our own content.
            std::string superText = render(context);
            Dictionary scope{{BlockContext::contextKey, stored},
                             {"block", Value(Dictionary{{"super", Value(std::move(superText))}})}};
            return context.push(std::move(scope), [&] { return replacement->render(context); });
        }
    }
    return renderNodes(nodes_, context);
}

}  // namespace Templates
