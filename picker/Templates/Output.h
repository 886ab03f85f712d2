#pragma once
// The text a render writes. It is appended to a string that keeps room
// beyond what was written, so that an append is an inline copy and a length
// (a string's own append is a library call, and its copy another); the
// string is cut to the text when the Output ends.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace Templates {

class Output {
public:
    // Appends after what `text` holds.
    explicit Output(std::string& text) : text_(text), length_(text.size()) {}
    ~Output() { text_.resize(length_); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void append(const char* data, size_t size) {
        copy(room(size), data, size);
        length_ += size;
    }
    void append(std::string_view text) { append(text.data(), text.size()); }

    // Room for `size` bytes at the end, to be written and then kept with
    // commit; valid until the next append.
    char* room(size_t size) {
        if (size > text_.size() - length_) grow(size);
        return text_.data() + length_;
    }
    void commit(size_t size) { length_ += size; }

    // Runs `f` with the string cut to the text, for code that appends to a
    // string (a caller's node, say); what it appends is kept.
    template <class F>
    decltype(auto) withString(F&& f) {
        text_.resize(length_);
        struct Resume {
            Output& output;
            ~Resume() {
                output.length_ = output.text_.size();
                output.chunk_ = kFirstChunk;
                output.handedOut_ = true;
            }
        } resume{*this};
        return f(text_);
    }

private:
    // Room grows into the string's capacity at once, which its owner
    // reserved; once the string was handed out (and cut), by a chunk at a
    // time (the string fills what it adds), each twice the last.
    static constexpr size_t kFirstChunk = 256;
    static constexpr size_t kLastChunk = size_t{1} << 20;
    void grow(size_t size);

    // Short texts (most of a template's) are copied in a few moves.
    static void copy(char* to, const char* from, size_t size) {
        if (size > 16) {
            std::memcpy(to, from, size);
        } else if (size >= 8) {
            std::uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + size - 8, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + size - 8, &tail, 8);
        } else if (size >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + size - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + size - 4, &tail, 4);
        } else if (size > 0) {
            to[0] = from[0];
            to[size / 2] = from[size / 2];
            to[size - 1] = from[size - 1];
        }
    }

    std::string& text_;
    size_t length_;  // the text; what lies beyond in `text_` is room
    size_t chunk_ = kFirstChunk;
    bool handedOut_ = false;
};

}  // namespace Templates
