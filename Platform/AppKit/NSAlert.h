#pragma once
// Modal alerts. There is no screen: an alert is handed to the installed
// presenter, which answers it. Without one (a headless run) the alert is
// printed to standard error and answered with its first button. Tests install
// an `AlertScript`, which records every alert and answers from a script.

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace AppKit {

enum class NSAlertStyle { warning, informational, critical };

using NSModalResponse = long;
inline constexpr NSModalResponse NSAlertFirstButtonReturn = 1000;
inline constexpr NSModalResponse NSAlertSecondButtonReturn = 1001;
inline constexpr NSModalResponse NSAlertThirdButtonReturn = 1002;

class NSAlert {
public:
    NSAlertStyle alertStyle = NSAlertStyle::warning;
    std::string messageText;
    std::string informativeText;

    void addButtonWithTitle(std::string title) { buttons_.push_back(std::move(title)); }
    const std::vector<std::string>& buttons() const { return buttons_; }

    // Shows the alert and waits for the answer (the first button is
    // NSAlertFirstButtonReturn; an alert without buttons gets an "OK").
    NSModalResponse runModal();

    using Presenter = std::function<NSModalResponse(const NSAlert&)>;
    // Replaces the presenter; an empty one restores the headless default.
    static void setPresenter(Presenter presenter);

private:
    std::vector<std::string> buttons_;
};

// Test helper: records the alerts shown while it lives and answers each with
// the next scripted response (the first button when the script is empty).
class AlertScript {
public:
    struct Shown {
        NSAlertStyle style;
        std::string messageText;
        std::string informativeText;
        std::vector<std::string> buttons;
    };

    AlertScript();
    ~AlertScript();
    AlertScript(const AlertScript&) = delete;
    AlertScript& operator=(const AlertScript&) = delete;

    void answer(NSModalResponse response) { answers_.push_back(response); }
    const std::vector<Shown>& shown() const { return shown_; }
    std::vector<std::string> messages() const;
    void clear() { shown_.clear(); }

private:
    std::vector<Shown> shown_;
    std::deque<NSModalResponse> answers_;
};

}  // namespace AppKit
