#pragma once
// Template inheritance: "extends" renders a parent template in place of the
// child, and each "block" of the parent renders the most derived override.

#include <map>
#include <memory>
#include <string>

#include "picker/Templates/Node.h"
#include "picker/Templates/Variable.h"

namespace Templates {

class Token;
class TokenParser;

class BlockNode : public NodeType {
public:
    BlockNode(std::string name, NodeList nodes) : name_(std::move(name)), nodes_(std::move(nodes)) {}
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);

    const std::string& name() const { return name_; }
    const NodeList& nodes() const { return nodes_; }
    std::string render(Context& context) const override;

private:
    std::string name_;
    NodeList nodes_;
};

class ExtendsNode : public NodeType {
public:
    ExtendsNode(Variable templateName, std::map<std::string, std::shared_ptr<BlockNode>> blocks)
        : templateName_(std::move(templateName)), blocks_(std::move(blocks)) {}
    // Consumes the rest of the template; only its top-level blocks count.
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);

    const Variable& templateName() const { return templateName_; }
    const std::map<std::string, std::shared_ptr<BlockNode>>& blocks() const { return blocks_; }
    std::string render(Context& context) const override;

private:
    Variable templateName_;
    std::map<std::string, std::shared_ptr<BlockNode>> blocks_;
};

}  // namespace Templates
