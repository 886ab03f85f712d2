#pragma once
// The registry of tags and filters. DefaultExtension holds the built-ins and
// is always the last extension of an environment.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "picker/Templates/Node.h"

namespace Templates {

using Foundation::Value;
class Token;
class TokenParser;
class Context;

class FilterType {
public:
    virtual ~FilterType() = default;
    virtual Value invoke(const Value& value, const std::vector<Value>& arguments) const = 0;
    // The same for a value the caller gives up, which a filter may change in
    // place instead of copying.
    virtual Value invoke(Value&& value, const std::vector<Value>& arguments) const {
        return invoke(static_cast<const Value&>(value), arguments);
    }
    // Appends the result as a variable tag writes it and answers true, where
    // the filter can do so without a value of its own; false (nothing
    // written) where the caller must invoke it.
    virtual bool invokeInto(const Value&, const std::vector<Value>&, std::string&) const { return false; }
};

class Filter : public FilterType {
public:
    using Simple = std::function<Value(const Value&)>;
    using WithArguments = std::function<Value(const Value&, const std::vector<Value>&)>;

    // A simple filter that can also work on a value it is given: `inPlace`
    // must give what `function` gives.
    using InPlace = Value (*)(Value&& value);
    // A simple filter that can also append its result, as rendered, to the
    // output: false (nothing written) for values it leaves to `function`.
    using AppendTo = bool (*)(const Value& value, std::string& out);
    // The same appending into a render's output.
    using AppendToOutput = bool (*)(const Value& value, Output& out);

    static std::shared_ptr<Filter> simple(Simple function, InPlace inPlace = nullptr, AppendTo appendTo = nullptr,
                                          AppendToOutput appendToOutput = nullptr);
    static std::shared_ptr<Filter> arguments(WithArguments function);
    // A simple filter given any argument fails with "cannot invoke filter with an argument".
    Value invoke(const Value& value, const std::vector<Value>& arguments) const override;
    Value invoke(Value&& value, const std::vector<Value>& arguments) const override;
    bool invokeInto(const Value& value, const std::vector<Value>& arguments, std::string& out) const override;
    // What invokeInto calls for a call without arguments, or nullptr; and
    // its form for a render's output, or nullptr.
    AppendTo appendTo() const { return appendTo_; }
    AppendToOutput appendToOutput() const { return appendToOutput_; }

private:
    Simple simple_;
    InPlace inPlace_ = nullptr;
    AppendTo appendTo_ = nullptr;
    AppendToOutput appendToOutput_ = nullptr;
    WithArguments withArguments_;
};

using TagParser = std::function<std::shared_ptr<NodeType>(TokenParser&, const Token&)>;

// A table keyed by name that remembers the order in which names arrived;
// registering a name again replaces its entry in place.
template <class T>
class OrderedTable {
public:
    void set(const std::string& name, T value) {
        auto it = index_.find(name);
        if (it != index_.end()) {
            entries_[it->second].second = std::move(value);
            return;
        }
        index_.emplace(name, entries_.size());
        entries_.emplace_back(name, std::move(value));
    }
    const T* find(const std::string& name) const {
        auto it = index_.find(name);
        return it == index_.end() ? nullptr : &entries_[it->second].second;
    }
    const std::vector<std::pair<std::string, T>>& entries() const { return entries_; }
    size_t size() const { return entries_.size(); }

private:
    std::vector<std::pair<std::string, T>> entries_;
    std::unordered_map<std::string, size_t> index_;
};

class Extension {
public:
    Extension() = default;
    virtual ~Extension() = default;

    const OrderedTable<TagParser>& tags() const { return tags_; }
    const OrderedTable<std::shared_ptr<Filter>>& filters() const { return filters_; }

    // Changes with every registration, so that a parse kept from an earlier
    // render can tell whether the tables it was made from are unchanged.
    std::uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }
    // A tag the engine registered itself and nobody replaced since: its
    // parser reads only the tokens and the tables and changes nothing.
    bool isBuiltInTag(const std::string& name) const { return builtInTags_.count(name) != 0; }

    void registerTag(const std::string& name, TagParser parser);
    // A tag that renders as whatever the handler returns.
    void registerSimpleTag(const std::string& name, std::function<std::string(Context&)> handler);
    void registerFilter(const std::string& name, Filter::Simple function, Filter::InPlace inPlace = nullptr,
                        Filter::AppendTo appendTo = nullptr, Filter::AppendToOutput appendToOutput = nullptr);
    void registerFilterWithArguments(const std::string& name, Filter::WithArguments function);

protected:
    // Set while DefaultExtension registers the built-in tags.
    bool registeringBuiltIns_ = false;

private:
    OrderedTable<TagParser> tags_;
    OrderedTable<std::shared_ptr<Filter>> filters_;
    std::atomic<std::uint64_t> generation_{0};
    std::unordered_set<std::string> builtInTags_;
};

class DefaultExtension : public Extension {
public:
    DefaultExtension();
};

}  // namespace Templates
