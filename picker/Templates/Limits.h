#pragma once
// Bounds that keep a hostile or mistaken template from exhausting the stack
// or memory. Going past one is a TemplateSyntaxError that says which.

#include <cstdint>

namespace Templates {

// Tags nested inside each other in one template.
inline constexpr int kMaxTagNesting = 256;
// Templates rendering inside each other through include and extends.
inline constexpr int kMaxTemplateDepth = 64;
// Node lists rendering inside each other, across included templates.
inline constexpr int kMaxRenderDepth = 1024;
// Subscripts inside subscripts of one variable, and operators nested in one condition.
inline constexpr int kMaxExpressionNesting = 256;
// Integers a range may hold.
inline constexpr std::int64_t kMaxRangeSize = 1'000'000;
// The widest indent of the indent filter.
inline constexpr std::int64_t kMaxIndentWidth = 10'000;

}  // namespace Templates
