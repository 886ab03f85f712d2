#include "picker/Templates/Context.h"

#include <cstring>

#include "picker/Templates/Errors.h"

namespace Templates {

Context::Context(std::optional<Dictionary> dictionary, std::optional<Environment> environment)
    : environment_(environment ? std::move(*environment) : Environment()) {
    if (dictionary) dictionaries_.push_back(std::move(*dictionary));
}

Context::Context(std::optional<Dictionary> dictionary, const Environment& environment, Borrowing)
    : borrowed_(&environment) {
    dictionaries_.reserve(8);  // a render's loops and includes push a few more
    if (dictionary) dictionaries_.push_back(std::move(*dictionary));
}

Context::Context(const Dictionary* dictionary, const Environment& environment, Borrowing,
                 std::vector<Dictionary> storage)
    : dictionaries_(std::move(storage)), root_(dictionary), borrowed_(&environment) {
    dictionaries_.clear();
    dictionaries_.reserve(8);  // a render's loops and includes push a few more
}

void Context::ownRootSlow() const {
    dictionaries_.insert(dictionaries_.begin(), *root_);
    root_ = nullptr;
    if (bound_ != kUnbound) ++bound_;
}

void Context::settleBindingSlow() const {
    // What pushing {key: value} would have left there; a dictionary that
    // has just that key already keeps its place and room.
    Dictionary& d = dictionaries_[bound_];
    bound_ = kUnbound;
    if (d.size() == 1 && sameText(d.begin()->first, *boundKey_)) {
        d.begin()->second = *boundValue_;
        return;
    }
    d = Dictionary();
    d.set(*boundKey_, *boundValue_);
}

std::vector<Dictionary> Context::takeStorage() {
    bound_ = kUnbound;
    dictionaries_.clear();
    root_ = nullptr;
    return std::move(dictionaries_);
}

Value Context::value(std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : Value();
}

void Context::setValue(const std::string& key, Value value) {
    if (dictionaries_.empty()) {
        if (!root_) return;
        ownRoot();
    }
    if (bound_ == dictionaries_.size() - 1) settleBinding();
    dictionaries_.back().set(key, std::move(value));
}

void Context::push(Dictionary dictionary) { dictionaries_.push_back(std::move(dictionary)); }

std::optional<Dictionary> Context::pop() {
    if (dictionaries_.empty()) {
        if (!root_) return std::nullopt;
        Dictionary root = *root_;
        root_ = nullptr;
        return root;
    }
    if (bound_ == dictionaries_.size() - 1) settleBinding();
    Dictionary top = std::move(dictionaries_.back());
    dictionaries_.pop_back();
    return top;
}

Dictionary Context::flatten() const {
    settleBinding();
    Dictionary out;
    if (root_) {
        for (const auto& [k, v] : *root_) {
            if (!v.isNull()) out.set(k, v);
        }
    }
    for (const auto& d : dictionaries_) {
        for (const auto& [k, v] : d) {
            if (!v.isNull()) out.set(k, v);
        }
    }
    return out;
}

std::shared_ptr<const NodeList> Context::parsedNodes(const std::shared_ptr<const std::vector<Token>>& tokens) const {
    auto it = parsed_.find(tokens.get());
    return it == parsed_.end() ? nullptr : it->second.nodes;
}

void Context::rememberParsedNodes(const std::shared_ptr<const std::vector<Token>>& tokens,
                                  std::shared_ptr<const NodeList> nodes) {
    parsed_[tokens.get()] = Parsed{tokens, std::move(nodes)};
}

void Context::DepthGuard::throwTooDeep(const std::string& message) { throw TemplateSyntaxError(message); }

BlockContext::BlockContext(const std::map<std::string, std::shared_ptr<BlockNode>>& blocks) {
    for (const auto& [name, block] : blocks) blocks_[name] = {block};
}

void BlockContext::push(std::shared_ptr<BlockNode> block, const std::string& name) {
    blocks_[name].push_back(std::move(block));
}

std::shared_ptr<BlockNode> BlockContext::popBlock(const std::string& name) {
    auto it = blocks_.find(name);
    if (it == blocks_.end()) return nullptr;
    auto block = it->second.front();
    it->second.erase(it->second.begin());
    if (it->second.empty()) blocks_.erase(it);
    return block;
}

}  // namespace Templates
