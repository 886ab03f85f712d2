#pragma once
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVLogWithNameAndProperties.h"

// A page (window or pane) the user saw.
class DAVPageLog : public DAVLogWithNameAndProperties {
public:
    DAVPageLog() { setType("page"); }
    std::string className() const override { return "DAVPageLog"; }
};
