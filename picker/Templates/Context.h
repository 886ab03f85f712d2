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

    // Newest dictionary last. A key stored with a null value is present
    // without a value: it hides the key in older dictionaries.
    std::vector<Dictionary>& dictionaries() { return dictionaries_; }
    const std::vector<Dictionary>& dictionaries() const { return dictionaries_; }
    const Environment& environment() const { return borrowed_ ? *borrowed_ : *environment_; }

    // The value of the newest dictionary that has the key; null otherwise.
    Value value(std::string_view key) const;
    // The same without a copy: the stored value, or nullptr when no
    // dictionary has the key. Valid until the stack changes.
    const Value* find(std::string_view key) const;
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
    std::map<const std::vector<Token>*, Parsed> parsed_;
    std::vector<Dictionary> dictionaries_;
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
