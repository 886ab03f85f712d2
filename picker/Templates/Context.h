#pragma once
// The stack of dictionaries a template renders against, and the pending
// block overrides of template inheritance.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "picker/Templates/Environment.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/Node.h"

namespace Templates {

using Foundation::Dictionary;
using Foundation::Value;

// Equality of two texts of `size` bytes, inline: the keys of a render are
// short, and a library call costs more than the compare.
inline bool sameBytes(const char* a, const char* b, size_t size) {
    if (size >= 8) {
        std::uint64_t x, y;
        for (size_t i = 0; i + 8 < size; i += 8) {
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return false;
        }
        std::memcpy(&x, a + size - 8, 8);
        std::memcpy(&y, b + size - 8, 8);
        return x == y;
    }
    if (size >= 4) {
        std::uint32_t x, y, z, w;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        std::memcpy(&z, a + size - 4, 4);
        std::memcpy(&w, b + size - 4, 4);
        return x == y && z == w;
    }
    for (size_t i = 0; i < size; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

inline bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && sameBytes(a.data(), b.data(), a.size());
}

class Context {
public:
    // Without a dictionary the stack is empty; without an environment a new
    // plain one is made.
    explicit Context(std::optional<Dictionary> dictionary = std::nullopt,
                     std::optional<Environment> environment = std::nullopt);
    // A context that reads an environment kept elsewhere, which must outlive
    // it (a template's, for one render) instead of copying it.
    struct Borrowing {};
    Context(std::optional<Dictionary> dictionary, const Environment& environment, Borrowing);
    // The same reading the caller's dictionary (null for none), which must
    // outlive it too, as its oldest dictionary: it is copied only when
    // something asks for the stack itself, writes into it or pops it.
    // `storage` is room for the stack kept from an earlier render.
    Context(const Dictionary* dictionary, const Environment& environment, Borrowing,
            std::vector<Dictionary> storage = {});

    // Newest dictionary last. A key stored with a null value is present
    // without a value: it hides the key in older dictionaries.
    std::vector<Dictionary>& dictionaries() {
        settle();
        return dictionaries_;
    }
    const std::vector<Dictionary>& dictionaries() const {
        settle();
        return dictionaries_;
    }
    const Environment& environment() const { return borrowed_ ? *borrowed_ : *environment_; }

    // The number of dictionaries on the stack, and one of them by position
    // (oldest 0), for tags that keep their own dictionaries on it; reading
    // the stack this way copies neither the caller's dictionary nor a bound
    // value elsewhere on the stack.
    size_t depth() const { return dictionaries_.size() + (root_ ? 1 : 0); }
    Dictionary& dictionaryAt(size_t index) {
        if (root_ && index == 0) ownRoot();
        const size_t at = root_ ? index - 1 : index;
        if (at == bound_) settleBinding();
        return dictionaries_[at];
    }
    // Makes the dictionary at `index` read as {key: *value} without storing
    // the value: lookups find it there, and the dictionary is filled so
    // (replacing what it held) only when something asks for the stack
    // itself, writes into that dictionary or pops it. The key and the value
    // must stay as they are until then, or until settleBinding. One binding
    // at a time: a binding elsewhere is settled first.
    void bind(size_t index, const std::string& key, const Value& value) {
        if (root_ && index == 0) ownRoot();
        const size_t at = root_ ? index - 1 : index;
        if (bound_ != kUnbound && bound_ != at) settleBinding();
        bound_ = at;
        boundKey_ = &key;
        boundValue_ = &value;
    }
    // Fills the bound dictionary with its value.
    void settleBinding() const {
        if (bound_ != kUnbound) settleBindingSlow();
    }
    // Ends the binding without filling the dictionary, which then holds
    // what it held before: for a tag taking its own dictionary off the
    // stack, which nobody else sees.
    void dropBinding() { bound_ = kUnbound; }
    // The stack's room, emptied, for a later render.
    std::vector<Dictionary> takeStorage();

    // The value of the newest dictionary that has the key; null otherwise.
    Value value(std::string_view key) const;
    // The same without a copy: the stored value, or nullptr when no
    // dictionary has the key. Valid until the stack changes.
    const Value* find(std::string_view key) const {
        // Every lookup of a render comes here, mostly for short names: a
        // length check settles most entries, an inline compare the rest.
        const size_t size = key.size();
        for (size_t at = dictionaries_.size(); at-- > 0;) {
            if (at == bound_) {
                if (boundKey_->size() == size && sameBytes(boundKey_->data(), key.data(), size)) return boundValue_;
                continue;
            }
            for (const auto& [k, v] : dictionaries_[at]) {
                if (k.size() == size && sameBytes(k.data(), key.data(), size)) return &v;
            }
        }
        if (root_) {
            for (const auto& [k, v] : *root_) {
                if (k.size() == size && sameBytes(k.data(), key.data(), size)) return &v;
            }
        }
        return nullptr;
    }
    // Sets the key in the newest dictionary; nothing happens on an empty stack.
    void setValue(const std::string& key, Value value);

    void push(Dictionary dictionary);
    std::optional<Dictionary> pop();
    // Pushes, runs the body and pops again whether it returned or threw.
    template <class Body>
    auto push(Dictionary dictionary, Body&& body) -> decltype(body()) {
        push(std::move(dictionary));
        struct Popper {
            Context& c;
            ~Popper() { c.pop(); }
        } popper{*this};
        return body();
    }
    Dictionary flatten() const;

    // Guards against templates that include or extend themselves and against
    // nesting that would exhaust the stack.
    class DepthGuard {
    public:
        template <class Message>
        DepthGuard(int& depth, int limit, Message&& message) : depth_(depth) {
            if (depth_ >= limit) throwTooDeep(message());
            ++depth_;
        }
        ~DepthGuard() { --depth_; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;

    private:
        [[noreturn]] static void throwTooDeep(const std::string& message);
        int& depth_;
    };
    int& templateDepth() { return templateDepth_; }
    int& renderDepth() { return renderDepth_; }

    // Nodes of a token list already parsed in this render (with this
    // context's environment), so a template included in a loop is parsed
    // once per render rather than once per item.
    std::shared_ptr<const NodeList> parsedNodes(const std::shared_ptr<const std::vector<Token>>& tokens) const;
    void rememberParsedNodes(const std::shared_ptr<const std::vector<Token>>& tokens,
                             std::shared_ptr<const NodeList> nodes);

private:
    struct Parsed {
        std::shared_ptr<const std::vector<Token>> tokens;  // keeps the key alive
        std::shared_ptr<const NodeList> nodes;
    };
    // The caller's dictionary becomes a dictionary of the stack's own.
    void ownRoot() const {
        if (root_) ownRootSlow();
    }
    void ownRootSlow() const;
    void settleBindingSlow() const;
    // Every dictionary as stored.
    void settle() const {
        ownRoot();
        settleBinding();
    }

    static constexpr size_t kUnbound = static_cast<size_t>(-1);

    std::map<const std::vector<Token>*, Parsed> parsed_;
    // The stack; with `root_` set, the caller's dictionary lies beneath it.
    mutable std::vector<Dictionary> dictionaries_;
    mutable const Dictionary* root_ = nullptr;
    // The bound dictionary's position in `dictionaries_` (kUnbound for
    // none), and what it reads as.
    mutable size_t bound_ = kUnbound;
    const std::string* boundKey_ = nullptr;
    const Value* boundValue_ = nullptr;
    std::optional<Environment> environment_;
    const Environment* borrowed_ = nullptr;
    int templateDepth_ = 0;
    int renderDepth_ = 0;
};

class BlockNode;

// Stored in a context dictionary under "block_context" while a chain of
// extending templates renders; shared by reference.
class BlockContext : public Foundation::Object {
public:
    static constexpr const char* contextKey = "block_context";

    explicit BlockContext(const std::map<std::string, std::shared_ptr<BlockNode>>& blocks = {});
    std::string className() const override { return "BlockContext"; }

    const std::map<std::string, std::vector<std::shared_ptr<BlockNode>>>& blocks() const { return blocks_; }
    // Appends an override; the more derived ones stay in front.
    void push(std::shared_ptr<BlockNode> block, const std::string& name);
    // Removes and returns the next override of the name, or nullptr.
    std::shared_ptr<BlockNode> popBlock(const std::string& name);

private:
    std::map<std::string, std::vector<std::shared_ptr<BlockNode>>> blocks_;
};

}  // namespace Templates
