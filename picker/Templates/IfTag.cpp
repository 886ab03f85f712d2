#include "picker/Templates/IfTag.h"

#include <typeinfo>

#include "picker/Templates/Context.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Limits.h"
#include "picker/Templates/TokenParser.h"
#include "picker/Templates/Variable.h"

namespace Templates {

namespace {

template <class T>
Operator infixOperator(const char* name, int power) {
    Operator op{Operator::Kind::infix, name, power, {}, {}};
    op.infix = [](std::shared_ptr<Expression> l, std::shared_ptr<Expression> r) -> std::shared_ptr<Expression> {
        return std::make_shared<T>(std::move(l), std::move(r));
    };
    return op;
}

Operator notOperator() {
    Operator op{Operator::Kind::prefix, "not", 8, {}, {}};
    op.prefix = [](std::shared_ptr<Expression> e) -> std::shared_ptr<Expression> {
        return std::make_shared<NotExpression>(std::move(e));
    };
    return op;
}

const IfToken& endToken() {
    static const IfToken end;
    return end;
}

}  // namespace

const std::vector<Operator>& operators() {
    static const std::vector<Operator> table{
        infixOperator<InExpression>("in", 5),        infixOperator<OrExpression>("or", 6),
        infixOperator<AndExpression>("and", 7),      notOperator(),
        infixOperator<EqualityExpression>("==", 10), infixOperator<InequalityExpression>("!=", 10),
        infixOperator<MoreThanExpression>(">", 10),  infixOperator<MoreThanEqualExpression>(">=", 10),
        infixOperator<LessThanExpression>("<", 10),  infixOperator<LessThanEqualExpression>("<=", 10),
    };
    return table;
}

// --- condition parser ----------------------------------------------------------

IfExpressionParser::IfExpressionParser(const std::vector<std::string>& components, TokenParser& parser) {
    for (const auto& word : components) {
        IfToken token;
        for (const auto& op : operators()) {
            if (op.name == word) {
                token.kind = op.kind == Operator::Kind::infix ? IfToken::Kind::infix : IfToken::Kind::prefix;
                token.op = &op;
                break;
            }
        }
        if (!token.op) {
            token.kind = IfToken::Kind::variable;
            token.variable = parser.compileResolvable(word);
        }
        tokens_.push_back(std::move(token));
    }
}

const IfToken& IfExpressionParser::currentToken() const {
    return position_ < tokens_.size() ? tokens_[position_] : endToken();
}

const IfToken& IfExpressionParser::nextToken() {
    const IfToken& token = currentToken();
    ++position_;
    return token;
}

std::shared_ptr<Expression> IfExpressionParser::parse() {
    auto expression = this->expression(0);
    if (currentToken().kind != IfToken::Kind::end) throw TemplateSyntaxError("'if' expression error: dangling token");
    return expression;
}

std::shared_ptr<Expression> IfExpressionParser::expression(int rightBindingPower) {
    if (depth_ >= kMaxExpressionNesting)
        throw TemplateSyntaxError("'if' expression error: operators nested more than " +
                                  std::to_string(kMaxExpressionNesting) + " levels deep");
    ++depth_;
    struct Undepth {
        int& d;
        ~Undepth() { --d; }
    } undepth{depth_};

    auto left = nullDenotation(nextToken());
    while (currentToken().bindingPower() > rightBindingPower) left = leftDenotation(nextToken(), std::move(left));
    return left;
}

std::shared_ptr<Expression> IfExpressionParser::nullDenotation(const IfToken& token) {
    switch (token.kind) {
        case IfToken::Kind::variable:
            return std::make_shared<VariableExpression>(token.variable);
        case IfToken::Kind::prefix:
            return token.op->prefix(expression(token.op->bindingPower));
        case IfToken::Kind::infix:
            throw TemplateSyntaxError("'if' expression error: infix operator '" + token.op->name +
                                      "' doesn't have a left hand side");
        case IfToken::Kind::end:
            break;
    }
    throw TemplateSyntaxError("'if' expression error: end");
}

std::shared_ptr<Expression> IfExpressionParser::leftDenotation(const IfToken& token, std::shared_ptr<Expression> left) {
    if (token.kind == IfToken::Kind::infix) return token.op->infix(std::move(left), expression(token.op->bindingPower));
    throw TemplateSyntaxError("'if' expression error: prefix operator '" + (token.op ? token.op->name : "") +
                              "' was called with a left hand side");
}

// --- if and ifnot ------------------------------------------------------------------

void IfCondition::render(Context& context, std::string& out) const {
    Output output(out);
    render(context, output);
}

void IfCondition::render(Context& context, Output& out) const {
    context.push(Dictionary{}, [&] { prepared_.renderTo(context, out); });
}

namespace {

std::vector<std::string> conditionWords(const Token& token) {
    const auto& words = token.components();
    if (words.empty()) return {};
    return std::vector<std::string>(words.begin() + 1, words.end());
}

[[noreturn]] void endifNotFound() { throw TemplateSyntaxError("`endif` was not found."); }

}  // namespace

std::shared_ptr<NodeType> IfNode::parse(TokenParser& parser, const Token& token) {
    static const EndTagPredicate branchEnd = endTagPredicate({"endif", "elif", "else"});
    static const EndTagPredicate ifEnd = endTagPredicate({"endif"});

    std::vector<IfCondition> conditions;
    auto expression = IfExpressionParser(conditionWords(token), parser).parse();
    conditions.emplace_back(std::move(expression), parser.parse(branchEnd));

    auto next = parser.nextToken();
    if (!next) endifNotFound();
    while (next->contents().starts_with("elif")) {
        auto elifExpression = IfExpressionParser(conditionWords(*next), parser).parse();
        conditions.emplace_back(std::move(elifExpression), parser.parse(branchEnd));
        next = parser.nextToken();
        if (!next) endifNotFound();
    }
    if (next->contents() == "else") {
        conditions.emplace_back(nullptr, parser.parse(ifEnd));
        next = parser.nextToken();
        if (!next) endifNotFound();
    }
    if (next->contents() != "endif") endifNotFound();
    return std::make_shared<IfNode>(std::move(conditions));
}

std::shared_ptr<NodeType> IfNode::parseIfNot(TokenParser& parser, const Token& token) {
    static const EndTagPredicate branchEnd = endTagPredicate({"endif", "else"});
    static const EndTagPredicate ifEnd = endTagPredicate({"endif"});

    const auto& words = token.components();
    if (words.size() != 2)
        throw TemplateSyntaxError("'ifnot' statements should use the following 'ifnot condition' `" + token.contents() +
                                  "`.");
    NodeList whenFalse = parser.parse(branchEnd);
    auto next = parser.nextToken();
    if (!next) endifNotFound();
    NodeList whenTrue;
    if (next->contents() == "else") {
        whenTrue = parser.parse(ifEnd);
        parser.nextToken();  // the endif; a missing one is accepted here
    }
    auto expression = IfExpressionParser({words[1]}, parser).parse();
    std::vector<IfCondition> conditions;
    conditions.emplace_back(std::move(expression), std::move(whenTrue));
    conditions.emplace_back(nullptr, std::move(whenFalse));
    return std::make_shared<IfNode>(std::move(conditions));
}

std::string IfNode::render(Context& context) const {
    std::string out;
    renderInto(context, out);
    return out;
}

void IfNode::renderInto(Context& context, std::string& out) const {
    Output output(out);
    renderOwn(context, output);
}

void IfNode::renderTo(Context& context, Output& out) const {
    if (typeid(*this) != typeid(IfNode)) {
        NodeType::renderTo(context, out);  // a subclass may write itself with renderInto
        return;
    }
    renderOwn(context, out);
}

void IfNode::renderOwn(Context& context, Output& out) const {
    for (const auto& condition : conditions_) {
        if (!condition.expression() || condition.expression()->evaluate(context)) {
            condition.render(context, out);
            return;
        }
    }
}

}  // namespace Templates
