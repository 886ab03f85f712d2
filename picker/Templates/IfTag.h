#pragma once
// if / elif / else, ifnot, and the condition parser that for ... where also uses.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picker/Templates/Expression.h"
#include "picker/Templates/Node.h"

namespace Templates {

class Token;
class TokenParser;

// One entry of the operator table.
struct Operator {
    enum class Kind { infix, prefix };
    Kind kind;
    std::string name;
    int bindingPower;
    std::function<std::shared_ptr<Expression>(std::shared_ptr<Expression>, std::shared_ptr<Expression>)> infix;
    std::function<std::shared_ptr<Expression>(std::shared_ptr<Expression>)> prefix;
};
// in (5), or (6), and (7), not (8), then ==, !=, >, >=, <, <= (10), in that order.
const std::vector<Operator>& operators();

struct IfToken {
    enum class Kind { infix, prefix, variable, end };
    Kind kind = Kind::end;
    const Operator* op = nullptr;          // infix and prefix
    std::shared_ptr<Resolvable> variable;  // variable
    int bindingPower() const { return op ? op->bindingPower : 0; }
};

class IfExpressionParser {
public:
    // Throws what compiling a word throws.
    IfExpressionParser(const std::vector<std::string>& components, TokenParser& parser);
    std::shared_ptr<Expression> parse();

private:
    std::shared_ptr<Expression> expression(int rightBindingPower);
    const IfToken& currentToken() const;
    const IfToken& nextToken();
    std::shared_ptr<Expression> nullDenotation(const IfToken& token);
    std::shared_ptr<Expression> leftDenotation(const IfToken& token, std::shared_ptr<Expression> left);

    std::vector<IfToken> tokens_;
    size_t position_ = 0;
    int depth_ = 0;
};

class IfCondition {
public:
    IfCondition(std::shared_ptr<Expression> expression, NodeList nodes)
        : expression_(std::move(expression)), nodes_(std::move(nodes)), prepared_(nodes_) {}
    const std::shared_ptr<Expression>& expression() const { return expression_; }
    const NodeList& nodes() const { return nodes_; }
    // Renders the branch in a new empty scope.
    void render(Context& context, std::string& out) const;
    void render(Context& context, Output& out) const;

private:
    std::shared_ptr<Expression> expression_;  // none for else
    NodeList nodes_;
    PreparedNodes prepared_;
};

class IfNode : public NodeType {
public:
    explicit IfNode(std::vector<IfCondition> conditions) : conditions_(std::move(conditions)) {}
    static std::shared_ptr<NodeType> parse(TokenParser& parser, const Token& token);
    static std::shared_ptr<NodeType> parseIfNot(TokenParser& parser, const Token& token);

    const std::vector<IfCondition>& conditions() const { return conditions_; }
    std::string render(Context& context) const override;
    void renderInto(Context& context, std::string& out) const override;
    void renderTo(Context& context, Output& out) const override;

private:
    void renderOwn(Context& context, Output& out) const;

    std::vector<IfCondition> conditions_;
};

}  // namespace Templates
