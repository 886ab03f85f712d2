#include "picker/Shell/VexilApplication.h"

#include <signal.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/X11/BackendChoice.h"
#include "Platform/X11/Dialogs.h"
#include "Platform/X11/X11Backend.h"
#include "picker/Shell/MainInterface.h"
#include "picker/Shell/WindowServices.h"
#include "picker/Views/Editor/ZNLColorChooserViewController.h"
#include "picker/Views/Palettes/RCPalettesViewController.h"

namespace vexil {

void launchApplication(const std::shared_ptr<AppDelegate>& delegate) {
    auto& app = AppKit::NSApp();
    app.strongDelegate = delegate;
    app.finishLaunching();
}

namespace {
// The editor's owner for the shell's new colours: it hands a save to the
// application delegate and closes the editor it was given. Editors do not own
// their owner, so one lives for the process.
class NewColorEditorOwner : public ZNLColorChooserDelegate {
public:
    explicit NewColorEditorOwner(std::weak_ptr<AppDelegate> delegate) : delegate_(std::move(delegate)) {}
    void colorChooserDidCancel(ZNLColorChooserViewController& editor) override { editor.closeWindow(); }
    void colorChooserDidSave(const AppKit::NSColorRef& color, const std::string& name,
                             ZNLColorChooserViewController& editor) override {
        auto close = [&editor] { editor.closeWindow(); };
        if (auto delegate = delegate_.lock())
            delegate->colorChooserDidSave(color, name, close);
        else
            close();
    }

private:
    std::weak_ptr<AppDelegate> delegate_;
};

// The editor, palettes and library windows are linked in: the status menu opens them.
void linkWindows() {
    auto& services = WindowServices::shared();
    services.showNewColorEditor = [](const AppKit::NSColorRef& color, const std::weak_ptr<AppDelegate>& delegate) {
        // One application delegate for the process, so one owner for every editor.
        static const auto owner = std::make_shared<NewColorEditorOwner>(delegate);
        ZNLColorChooserViewController::open(color, nullptr, owner);
    };
    services.showPalettesWindow = [] { openPalettesWindow(); };
    linkLibraryWindow();
}

// SIGINT and SIGTERM end the application as Quit does, from the run loop.
int watchTerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return -1;
    Foundation::RunLoop::main().addSource(fd, POLLIN, [fd](short) {
        signalfd_siginfo info;
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {}
        AppKit::NSApp().terminate();
    });
    return fd;
}
}  // namespace

int runApplication() {
    // X11 when a display opens; otherwise headless, and the user is told why.
    auto choice = X11Display::makeDisplayBackend();
    if (!choice.message.empty()) Foundation::systemLog(choice.message);
    if (!choice.isX11)
        Foundation::systemLog(
            "vexil: without a display the status item cannot be seen; the tour (vexil-tour) "
            "shows it in pictures.");
    AppKit::setDisplayBackend(choice.backend);
    auto status = std::make_shared<int>(0);
    if (choice.isX11) {
        // Alerts and save panels a person answers on the display.
        X11Display::installDialogs();
        // A display that goes away (logout, server restart) ends the program as
        // Quit does, so the store's pending work finishes, but as a failure.
        std::static_pointer_cast<X11Display::X11Backend>(choice.backend)->setConnectionLostHandler([status] {
            *status = 1;
            AppKit::NSApp().terminate();
        });
    }
    const int signals = watchTerminationSignals();
    linkWindows();
    launchApplication(makeAppDelegate());
    Foundation::RunLoop::main().run();
    if (signals >= 0) ::close(signals);
    return *status;
}

}  // namespace vexil
