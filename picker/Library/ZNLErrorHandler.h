#pragma once
// The store error alert: a modal warning with the failed operation's error
// description and one button "Ok".

#include <string>

#include "Platform/Foundation/Error.h"

class ZNLErrorHandler {
public:
    static ZNLErrorHandler& shared();
    void handle(const Foundation::Error& error) const;

    // While one lives (on this thread), store errors and warning alerts are
    // held instead of shown, so a caller that can go on says it once, its own way.
    class Held {
    public:
        Held();
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        bool failed() const { return !first_.empty(); }
        const std::string& firstMessage() const { return first_; }

    private:
        friend class ZNLErrorHandler;
        friend void showWarningAlert(const std::string& message);
        Held* outer_;
        std::string first_;
    };
};

// A warning alert with the message and one button "Ok".
void showWarningAlert(const std::string& message);
