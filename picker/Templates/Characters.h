#pragma once
// Walking text by user-perceived characters (grapheme clusters), as the
// template language counts them.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Templates {

// The characters of the text in order, each as its UTF-8 bytes.
std::vector<std::string_view> characters(std::string_view text);
// The Unicode scalars of the text; an invalid byte reads as U+FFFD.
std::vector<char32_t> scalars(std::string_view text);

}  // namespace Templates
