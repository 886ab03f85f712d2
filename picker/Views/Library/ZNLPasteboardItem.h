#pragma once
// The drag payload lives with the folder tabs, which read it on a drop.
#include "picker/Views/TabBar/ZNLPasteboardItem.h"
