#include "picker/Library/ZNLErrorHandler.h"

#include "Platform/AppKit/NSAlert.h"

ZNLErrorHandler& ZNLErrorHandler::shared() {
    static ZNLErrorHandler handler;
    return handler;
}

void ZNLErrorHandler::handle(const Foundation::Error& error) const { showWarningAlert(error.localizedDescription()); }

void showWarningAlert(const std::string& message) {
    AppKit::NSAlert alert;
    alert.alertStyle = AppKit::NSAlertStyle::warning;
    alert.messageText = message;
    alert.addButtonWithTitle("Ok");
    alert.runModal();
}
