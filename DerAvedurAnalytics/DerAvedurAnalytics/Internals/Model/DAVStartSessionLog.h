#pragma once
#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

// Opens a session; the session tracker gives it the new session's id itself.
class DAVStartSessionLog : public DAVAbstractLog {
public:
    DAVStartSessionLog() { setType("startSession"); }
    std::string className() const override { return "DAVStartSessionLog"; }
};
