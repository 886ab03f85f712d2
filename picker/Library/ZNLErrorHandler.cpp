#include "picker/Library/ZNLErrorHandler.h"

#include "Platform/AppKit/NSAlert.h"

namespace {
thread_local ZNLErrorHandler::Held* gHeld = nullptr;
}

ZNLErrorHandler& ZNLErrorHandler::shared() {
    static ZNLErrorHandler handler;
    return handler;
}

ZNLErrorHandler::Held::Held() : outer_(gHeld) { gHeld = this; }
ZNLErrorHandler::Held::~Held() { gHeld = outer_; }

void ZNLErrorHandler::handle(const Foundation::Error& error) const { showWarningAlert(error.localizedDescription()); }

void showWarningAlert(const std::string& message) {
    if (gHeld) {
        if (gHeld->first_.empty()) gHeld->first_ = message.empty() ? std::string("unknown error") : message;
        return;
    }
    AppKit::NSAlert alert;
    alert.alertStyle = AppKit::NSAlertStyle::warning;
    alert.messageText = message;
    alert.addButtonWithTitle("Ok");
    alert.runModal();
}
