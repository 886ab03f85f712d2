#pragma once
// The filter, include and now tags.

#include <memory>
#include <optional>
#include <string>

#include "picker/Templates/Node.h"
#include "picker/Templates/Variable.h"

namespace Templates {

class Token;
class TokenParser;

// Feeds the rendered section into a filter chain as "filter_value".
class FilterNode : public NodeType {
public:
    FilterNode(std::shared_ptr<Resolvable> resolvable, NodeList nodes)
        : resolvable_(std::move(resolvable)), nodes_(std::move(nodes)) {}
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);
    std::string render(Context& context) const override;

private:
    std::shared_ptr<Resolvable> resolvable_;
    NodeList nodes_;
};

// Renders another template in place, optionally with a context dictionary in front.
class IncludeNode : public NodeType {
public:
    IncludeNode(Variable templateName, std::optional<std::string> includeContext)
        : templateName_(std::move(templateName)), includeContext_(std::move(includeContext)) {}
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);
    std::string render(Context& context) const override;
    void renderTo(Context& context, Output& out) const override;

private:
    void renderOwn(Context& context, Output& out) const;

    Variable templateName_;
    std::optional<std::string> includeContext_;
};

// The current date and time of the process clock, in a pattern or through a
// DateFormatter from the context.
class NowNode : public NodeType {
public:
    explicit NowNode(Variable format) : format_(std::move(format)) {}
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);
    std::string render(Context& context) const override;

private:
    Variable format_;
};

// Shared with the inheritance tags.
std::string resolveTemplateName(const Variable& name, Context& context);
class Template;
std::string renderLoadedTemplate(const Template& loaded, const std::string& name, const char* tag, Context& context);
void renderLoadedTemplateTo(const Template& loaded, const std::string& name, const char* tag, Context& context,
                            Output& out);

}  // namespace Templates
