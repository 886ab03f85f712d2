#include "picker/Templates/Tags.h"

#include "picker/Templates/Extension.h"
#include "picker/Templates/FilterTags.h"
#include "picker/Templates/ForTag.h"
#include "picker/Templates/IfTag.h"
#include "picker/Templates/Inheritance.h"

namespace Templates {

void registerBuiltInTags(Extension& extension) {
    extension.registerTag("for", ForNode::parse);
    extension.registerTag("if", IfNode::parse);
    extension.registerTag("ifnot", IfNode::parseIfNot);
    extension.registerTag("now", NowNode::parse);
    extension.registerTag("include", IncludeNode::parse);
    extension.registerTag("extends", ExtendsNode::parse);
    extension.registerTag("block", BlockNode::parse);
    extension.registerTag("filter", FilterNode::parse);
}

}  // namespace Templates
