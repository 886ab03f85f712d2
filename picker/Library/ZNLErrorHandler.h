#pragma once
// The store error alert: a modal warning with the failed operation's error
// description and one button "Ok".

#include "Platform/Foundation/Error.h"

class ZNLErrorHandler {
public:
    static ZNLErrorHandler& shared();
    void handle(const Foundation::Error& error) const;
};

// A warning alert with the message and one button "Ok".
void showWarningAlert(const std::string& message);
