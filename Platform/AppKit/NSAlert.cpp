#include "Platform/AppKit/NSAlert.h"

#include <cstdio>
#include <mutex>

namespace AppKit {

namespace {
std::mutex gMutex;
NSAlert::Presenter& presenter() {
    static NSAlert::Presenter p;
    return p;
}

const char* styleName(NSAlertStyle style) {
    switch (style) {
        case NSAlertStyle::warning:
            return "warning";
        case NSAlertStyle::informational:
            return "informational";
        case NSAlertStyle::critical:
            return "critical";
    }
    return "";
}
}  // namespace

NSModalResponse NSAlert::runModal() {
    if (buttons_.empty()) buttons_.push_back("OK");
    NSAlert::Presenter p;
    {
        std::lock_guard lock(gMutex);
        p = presenter();
    }
    if (p) return p(*this);
    std::string text = std::string("[alert ") + styleName(alertStyle) + "] " + messageText;
    if (!informativeText.empty()) text += "\n  " + informativeText;
    text += "\n  buttons:";
    for (auto& b : buttons_) text += " [" + b + "]";
    std::fprintf(stderr, "%s\n", text.c_str());
    return NSAlertFirstButtonReturn;
}

void NSAlert::setPresenter(Presenter p) {
    std::lock_guard lock(gMutex);
    presenter() = std::move(p);
}

AlertScript::AlertScript() {
    NSAlert::setPresenter([this](const NSAlert& alert) {
        shown_.push_back({alert.alertStyle, alert.messageText, alert.informativeText, alert.buttons()});
        if (answers_.empty()) return NSAlertFirstButtonReturn;
        NSModalResponse r = answers_.front();
        answers_.pop_front();
        return r;
    });
}

AlertScript::~AlertScript() { NSAlert::setPresenter(nullptr); }

std::vector<std::string> AlertScript::messages() const {
    std::vector<std::string> out;
    for (auto& s : shown_) out.push_back(s.messageText);
    return out;
}

}  // namespace AppKit
