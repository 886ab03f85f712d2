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
#include "picker/Shell/MainInterface.h"

namespace vexil {

void launchApplication(const std::shared_ptr<AppDelegate>& delegate) {
    auto& app = AppKit::NSApp();
    app.strongDelegate = delegate;
    app.finishLaunching();
}

namespace {
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
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        AppKit::NSApp().terminate();
    });
    return fd;
}
}  // namespace

int runApplication() {
    // Only the headless display exists yet: say so rather than sit unseen.
    Foundation::systemLog(
        "vexil: the X11 display backend is not built yet; Vexil runs on the headless display, where its status "
        "item cannot be seen; the tour (vexil-tour) shows it in pictures.");
    const int signals = watchTerminationSignals();
    launchApplication(makeAppDelegate());
    Foundation::RunLoop::main().run();
    if (signals >= 0) ::close(signals);
    return 0;
}

}  // namespace vexil
