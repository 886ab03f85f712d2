#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore::detail {

enum class CompareOp { Eq, Ne, Lt, Le, Gt, Ge };

struct PredicateNode {
    enum class Kind { And, Or, Not, Compare, Constant };
    Kind kind = Kind::Constant;
    std::vector<PredicateRef> children;
    bool constant = true;
    KeyPath path;
    CompareOp op = CompareOp::Eq;
    Value value;
};

namespace {

[[noreturn]] void invalid(const std::string& format, const std::string& why) {
    throw InvalidPredicate("Invalid predicate '" + format + "': " + why);
}

struct Token {
    enum class Kind {
        End,
        LParen,
        RParen,
        Op,
        And,
        Or,
        Not,
        Identifier,
        Constant,
        Placeholder,
        TruePredicate,
        FalsePredicate
    };
    Kind kind = Kind::End;
    std::string text;  // identifier, operator or placeholder spec
    Value value;       // constants
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<Token> tokenize(const std::string& f) {
    std::vector<Token> out;
    std::size_t i = 0;
    auto push = [&](Token::Kind k, std::string text = {}, Value v = {}) {
        out.push_back({k, std::move(text), std::move(v)});
    };
    while (i < f.size()) {
        char c = f[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '(') {
            push(Token::Kind::LParen);
            ++i;
            continue;
        }
        if (c == ')') {
            push(Token::Kind::RParen);
            ++i;
            continue;
        }
        auto two = f.substr(i, 2);
        if (two == "&&") {
            push(Token::Kind::And);
            i += 2;
            continue;
        }
        if (two == "||") {
            push(Token::Kind::Or);
            i += 2;
            continue;
        }
        if (two == "==" || two == "!=" || two == "<>" || two == "<=" || two == "=<" || two == ">=" || two == "=>") {
            push(Token::Kind::Op, two == "<>" ? "!=" : two == "=<" ? "<=" : two == "=>" ? ">=" : two);
            i += 2;
            continue;
        }
        if (c == '=') {
            push(Token::Kind::Op, "==");
            ++i;
            continue;
        }
        if (c == '<' || c == '>') {
            push(Token::Kind::Op, std::string(1, c));
            ++i;
            continue;
        }
        if (c == '!') {
            push(Token::Kind::Not);
            ++i;
            continue;
        }
        if (c == '\'' || c == '"') {
            std::string s;
            std::size_t j = i + 1;
            for (; j < f.size() && f[j] != c; ++j) {
                if (f[j] == '\\' && j + 1 < f.size()) {
                    ++j;
                    s += f[j] == 'n' ? '\n' : f[j] == 't' ? '\t' : f[j];
                } else {
                    s += f[j];
                }
            }
            if (j >= f.size()) invalid(f, "unterminated text");
            push(Token::Kind::Constant, {}, Value(s));
            i = j + 1;
            continue;
        }
        if (c == '%') {
            std::size_t j = i + 1;
            while (j < f.size() && (f[j] == 'l' || f[j] == 'h' || f[j] == 'q')) ++j;
            if (j >= f.size() || !std::strchr("@KdiufgD", f[j])) invalid(f, "unknown placeholder");
            push(Token::Kind::Placeholder, std::string(1, f[j]));
            i = j + 1;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '-' && i + 1 < f.size() && std::isdigit(static_cast<unsigned char>(f[i + 1])))) {
            std::size_t j = i + 1;
            bool isReal = false;
            while (j < f.size() &&
                   (std::isdigit(static_cast<unsigned char>(f[j])) || f[j] == '.' || f[j] == 'e' || f[j] == 'E' ||
                    ((f[j] == '-' || f[j] == '+') && (f[j - 1] == 'e' || f[j - 1] == 'E')))) {
                if (!std::isdigit(static_cast<unsigned char>(f[j]))) isReal = true;
                ++j;
            }
            std::string num = f.substr(i, j - i);
            char* end = nullptr;
            if (isReal) {
                double d = std::strtod(num.c_str(), &end);
                if (*end) invalid(f, "malformed number '" + num + "'");
                push(Token::Kind::Constant, {}, Value(d));
            } else {
                errno = 0;
                long long v = std::strtoll(num.c_str(), &end, 10);
                if (*end || errno) invalid(f, "malformed number '" + num + "'");
                push(Token::Kind::Constant, {}, Value(static_cast<std::int64_t>(v)));
            }
            i = j;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t j = i;
            while (j < f.size() && (std::isalnum(static_cast<unsigned char>(f[j])) || f[j] == '_' || f[j] == '.')) ++j;
            std::string word = f.substr(i, j - i);
            i = j;
            if (equalsIgnoringCase(word, "AND"))
                push(Token::Kind::And);
            else if (equalsIgnoringCase(word, "OR"))
                push(Token::Kind::Or);
            else if (equalsIgnoringCase(word, "NOT"))
                push(Token::Kind::Not);
            else if (equalsIgnoringCase(word, "TRUE") || equalsIgnoringCase(word, "YES"))
                push(Token::Kind::Constant, {}, Value(true));
            else if (equalsIgnoringCase(word, "FALSE") || equalsIgnoringCase(word, "NO"))
                push(Token::Kind::Constant, {}, Value(false));
            else if (equalsIgnoringCase(word, "NIL") || equalsIgnoringCase(word, "NULL"))
                push(Token::Kind::Constant, {}, Value());
            else if (equalsIgnoringCase(word, "TRUEPREDICATE"))
                push(Token::Kind::TruePredicate);
            else if (equalsIgnoringCase(word, "FALSEPREDICATE"))
                push(Token::Kind::FalsePredicate);
            else
                push(Token::Kind::Identifier, word);
            continue;
        }
        invalid(f, std::string("unexpected character '") + c + "'");
    }
    push(Token::Kind::End);
    return out;
}

class Parser {
public:
    Parser(const Predicate& p, const Graph& g, const ObjectSchema& s)
        : format_(p.format()), args_(p.arguments()), graph_(g), schema_(s), tokens_(tokenize(p.format())) {}

    PredicateRef parse() {
        auto node = parseOr();
        if (peek().kind != Token::Kind::End) invalid(format_, "unexpected text after the end");
        return node;
    }

private:
    struct Operand {
        bool isKeyPath = false;
        std::string keyPath;
        Value value;
    };

    const Token& peek() const { return tokens_[pos_]; }
    Token next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

    PredicateRef combine(PredicateNode::Kind kind, PredicateRef a, PredicateRef b) {
        auto n = std::make_shared<PredicateNode>();
        n->kind = kind;
        n->children = {std::move(a), std::move(b)};
        return n;
    }

    PredicateRef parseOr() {
        auto left = parseAnd();
        while (peek().kind == Token::Kind::Or) {
            next();
            left = combine(PredicateNode::Kind::Or, left, parseAnd());
        }
        return left;
    }

    PredicateRef parseAnd() {
        auto left = parseNot();
        while (peek().kind == Token::Kind::And) {
            next();
            left = combine(PredicateNode::Kind::And, left, parseNot());
        }
        return left;
    }

    PredicateRef parseNot() {
        if (peek().kind == Token::Kind::Not) {
            next();
            auto n = std::make_shared<PredicateNode>();
            n->kind = PredicateNode::Kind::Not;
            n->children = {parseNot()};
            return n;
        }
        return parsePrimary();
    }

    PredicateRef parsePrimary() {
        const Token& t = peek();
        if (t.kind == Token::Kind::LParen) {
            next();
            auto inner = parseOr();
            if (next().kind != Token::Kind::RParen) invalid(format_, "missing ')'");
            return inner;
        }
        if (t.kind == Token::Kind::TruePredicate || t.kind == Token::Kind::FalsePredicate) {
            auto n = std::make_shared<PredicateNode>();
            n->constant = t.kind == Token::Kind::TruePredicate;
            next();
            return n;
        }
        Operand left = parseOperand();
        Token op = next();
        if (op.kind != Token::Kind::Op) invalid(format_, "expected a comparison operator");
        Operand right = parseOperand();
        return bindComparison(std::move(left), op.text, std::move(right));
    }

    Value argument() {
        if (argIndex_ >= args_.size()) invalid(format_, "too few arguments");
        return args_[argIndex_++];
    }

    Operand parseOperand() {
        Token t = next();
        Operand o;
        switch (t.kind) {
            case Token::Kind::Identifier:
                o.isKeyPath = true;
                o.keyPath = t.text;
                return o;
            case Token::Kind::Constant:
                o.value = t.value;
                return o;
            case Token::Kind::Placeholder: {
                Value a = argument();
                const std::string& spec = t.text;
                if (spec == "K") {
                    if (!a.isString()) invalid(format_, "%K needs a key path text");
                    o.isKeyPath = true;
                    o.keyPath = a.asString();
                } else if (spec == "d" || spec == "i" || spec == "u" || spec == "D") {
                    if (!a.isInt() && !a.isBool()) invalid(format_, "%" + spec + " needs an integer argument");
                    o.value = a.isBool() ? Value(std::int64_t{a.asBool()}) : a;
                } else if (spec == "f" || spec == "g") {
                    if (!a.isNumber()) invalid(format_, "%" + spec + " needs a number argument");
                    o.value = Value(*a.numberValue());
                } else {
                    o.value = a;
                }
                return o;
            }
            default:
                invalid(format_, "expected a key path or a value");
        }
    }

    PredicateRef bindComparison(Operand left, std::string op, Operand right) {
        if (left.isKeyPath == right.isKeyPath) invalid(format_, "a comparison needs one key path and one value");
        if (!left.isKeyPath) {
            std::swap(left, right);
            if (op == "<")
                op = ">";
            else if (op == ">")
                op = "<";
            else if (op == "<=")
                op = ">=";
            else if (op == ">=")
                op = "<=";
        }
        auto n = std::make_shared<PredicateNode>();
        n->kind = PredicateNode::Kind::Compare;
        try {
            n->path = resolveKeyPath(graph_, schema_, left.keyPath);
        } catch (const InvalidPredicate& e) {
            invalid(format_, e.what());
        }
        n->op = op == "=="   ? CompareOp::Eq
                : op == "!=" ? CompareOp::Ne
                : op == "<"  ? CompareOp::Lt
                : op == "<=" ? CompareOp::Le
                : op == ">"  ? CompareOp::Gt
                             : CompareOp::Ge;
        auto& [lastSchema, lastIndex] = n->path.steps.back();
        const Property& p = lastSchema->properties[static_cast<std::size_t>(lastIndex)];
        bool equality = n->op == CompareOp::Eq || n->op == CompareOp::Ne;
        Value v = right.value;
        auto mismatch = [&] {
            invalid(format_, "cannot compare '" + left.keyPath + "' (" + std::string(propertyTypeName(p.type)) +
                                 ") with " + v.debugDescription());
        };
        if (v.isNull()) {
            if (!equality) mismatch();
        } else {
            switch (p.type) {
                case PropertyType::Int:
                case PropertyType::Float:
                case PropertyType::Double:
                    if (!v.isNumber() || v.isBool()) mismatch();
                    break;
                case PropertyType::Bool:
                    if (!equality) mismatch();
                    if (v.isInt()) v = Value(v.asInt() != 0);
                    if (!v.isBool()) mismatch();
                    break;
                case PropertyType::String:
                    if (!v.isString()) mismatch();
                    if (!equality) mismatch();
                    break;
                case PropertyType::Date:
                    if (!v.isDate()) mismatch();
                    break;
                case PropertyType::Data:
                    if (!v.isData() || !equality) mismatch();
                    break;
                case PropertyType::Object: {
                    auto obj = v.isObject() ? std::dynamic_pointer_cast<Object>(v.asObject()) : nullptr;
                    if (!obj || !equality || obj->className() != p.objectClassName) mismatch();
                    // An object of no store (or deleted) matches nothing.
                    v = (obj->record()->graph == &graph_ && !obj->record()->invalidated) ? Value(obj->record()->key)
                                                                                         : Value(std::int64_t{-1});
                    break;
                }
                default:
                    mismatch();
            }
        }
        n->value = std::move(v);
        return n;
    }

    std::string format_;
    const Foundation::Array& args_;
    std::size_t argIndex_ = 0;
    const Graph& graph_;
    const ObjectSchema& schema_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

bool equalValues(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
    if (a.isNumber() && b.isNumber() && !a.isBool() && !b.isBool()) return *a.numberValue() == *b.numberValue();
    return a == b;
}

}  // namespace

KeyPath resolveKeyPath(const Graph& graph, const ObjectSchema& schema, const std::string& path) {
    KeyPath kp;
    const ObjectSchema* current = &schema;
    SchemaRef currentRef;
    if (const Table* t = graph.table(schema.className)) currentRef = t->schema;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = path.find('.', start);
        std::string name = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        int index = current->indexOf(name);
        if (index < 0) throw InvalidPredicate("key path '" + path + "' not found in class '" + schema.className + "'");
        const Property& p = current->properties[static_cast<std::size_t>(index)];
        if (p.isArray || p.type == PropertyType::LinkingObjects)
            throw InvalidPredicate("key path '" + path + "' goes through a list, which is not supported");
        if (!currentRef) {
            auto copy = std::make_shared<ObjectSchema>(*current);
            currentRef = copy;
        }
        kp.steps.emplace_back(currentRef, index);
        if (dot == std::string::npos) break;
        if (p.type != PropertyType::Object)
            throw InvalidPredicate("key path '" + path + "': '" + name + "' is not a link");
        const Table* next = graph.table(p.objectClassName);
        if (!next) throw InvalidPredicate("key path '" + path + "': class '" + p.objectClassName + "' is not stored");
        current = next->schema.get();
        currentRef = next->schema;
        start = dot + 1;
    }
    return kp;
}

Value valueAtKeyPath(const KeyPath& keyPath, const Record& record, const Graph& graph) {
    const Record* rec = &record;
    std::shared_ptr<Record> hold;
    for (std::size_t i = 0; i + 1 < keyPath.steps.size(); ++i) {
        auto& [schema, index] = keyPath.steps[i];
        const Value link = rec->value(static_cast<std::size_t>(index));
        if (!link.isInt()) return {};
        hold = graph.lookup(schema->properties[static_cast<std::size_t>(index)].objectClassName, link.asInt());
        if (!hold) return {};
        rec = hold.get();
    }
    return rec->value(static_cast<std::size_t>(keyPath.steps.back().second));
}

int compareValues(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return a.isNull() == b.isNull() ? 0 : a.isNull() ? -1 : 1;
    if (a.isNumber() && b.isNumber()) {
        double x = *a.numberValue(), y = *b.numberValue();
        if (a.isInt() && b.isInt()) return a.asInt() < b.asInt() ? -1 : a.asInt() > b.asInt() ? 1 : 0;
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (a.isString() && b.isString()) {
        int c = a.asString().compare(b.asString());
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (a.isDate() && b.isDate()) return a.asDate() < b.asDate() ? -1 : b.asDate() < a.asDate() ? 1 : 0;
    if (a.isData() && b.isData()) return a.asData() < b.asData() ? -1 : b.asData() < a.asData() ? 1 : 0;
    return 0;
}

PredicateRef compilePredicate(const Predicate& predicate, const Graph& graph, const ObjectSchema& schema) {
    return Parser(predicate, graph, schema).parse();
}

bool evaluatePredicate(const PredicateNode& n, const Record& record, const Graph& graph) {
    switch (n.kind) {
        case PredicateNode::Kind::Constant:
            return n.constant;
        case PredicateNode::Kind::And:
            return evaluatePredicate(*n.children[0], record, graph) && evaluatePredicate(*n.children[1], record, graph);
        case PredicateNode::Kind::Or:
            return evaluatePredicate(*n.children[0], record, graph) || evaluatePredicate(*n.children[1], record, graph);
        case PredicateNode::Kind::Not:
            return !evaluatePredicate(*n.children[0], record, graph);
        case PredicateNode::Kind::Compare:
            break;
    }
    Value v = valueAtKeyPath(n.path, record, graph);
    switch (n.op) {
        case CompareOp::Eq:
            return equalValues(v, n.value);
        case CompareOp::Ne:
            return !equalValues(v, n.value);
        default:
            break;
    }
    if (v.isNull() || n.value.isNull()) return false;
    int c = compareValues(v, n.value);
    switch (n.op) {
        case CompareOp::Lt:
            return c < 0;
        case CompareOp::Le:
            return c <= 0;
        case CompareOp::Gt:
            return c > 0;
        case CompareOp::Ge:
            return c >= 0;
        default:
            return false;
    }
}

}  // namespace ObjectStore::detail
