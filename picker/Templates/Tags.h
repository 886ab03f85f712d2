#pragma once
// Registers the built-in tags (for, if, ifnot, now, include, extends, block,
// filter) on an extension, in that order.

namespace Templates {

class Extension;
void registerBuiltInTags(Extension& extension);

}  // namespace Templates
