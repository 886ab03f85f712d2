#include "picker/Shell/VexilApplication.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/X11/BackendChoice.h"
#include "Platform/X11/Dialogs.h"
#include "Platform/X11/X11Backend.h"
#include "Platform/X11/DesktopNotification.h"
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

constexpr int kNoLock = -1, kHeldElsewhere = -2;

// SIGINT, SIGTERM and SIGHUP (the session or terminal going away) end the
// application as Quit does, from the run loop.
int watchTerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
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

static int holdInstanceLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return kNoLock;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? kHeldElsewhere : kNoLock;
}

int runApplication() {
    // One copy per home: a second one would add a second icon, menu and set of
    // grabs over the same library. The lock dies with its process, so a killed
    // copy never blocks the next start.
    const std::string lockPath = Foundation::applicationSupportDirectory() + "/" + kInstanceLockName;
    const int lock = holdInstanceLock(lockPath);
    if (lock == kHeldElsewhere) {
        std::printf("Vexil is already running\n");
        std::fflush(stdout);
        return 0;
    }
    if (lock == kNoLock)
        Foundation::systemLog("vexil: cannot lock " + lockPath + "; not checking for another copy.");

    auto choice = X11Display::makeDisplayBackend();
    if (!choice.message.empty()) Foundation::systemLog(choice.message);
    if (!choice.backend) {
        // Started from a launcher nobody reads standard error: tell the desktop too.
        X11Display::notifyDesktop("Vexil cannot start", choice.message);
        if (lock >= 0) ::close(lock);
        return 1;
    }
    if (!choice.isX11)
        Foundation::systemLog(
            "vexil: running without a screen (VEXIL_BACKEND=headless): the status item cannot be seen; the "
            "tour (vexil-tour) shows it in pictures.");
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
    if (lock >= 0) ::close(lock);
    return *status;
}

}  // namespace vexil
