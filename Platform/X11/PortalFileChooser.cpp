#include "Platform/X11/PortalFileChooser.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "Platform/AppKit/ModalPanels.h"
#include "Platform/Foundation/Dispatch.h"

namespace X11Display {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr std::uint64_t kCallTimeoutUsec = 10'000'000;  // time for the bus to start the portal

struct Exchange {
    sd_bus* bus = nullptr;
    bool replied = false;  // the call was answered (with a request handle or an error)
    bool done = false;     // a Response came, or the portal went away
    bool answered = false;
    std::string error;
    std::string expectedPath;
    std::uint32_t response = 2;
    std::string uri;
    sd_bus_slot* responseSlot = nullptr;
    sd_bus_slot* handleSlot = nullptr;
    sd_bus_slot* ownerSlot = nullptr;
    sd_bus_slot* callSlot = nullptr;
    ~Exchange() {
        sd_bus_slot_unref(responseSlot);
        sd_bus_slot_unref(handleSlot);
        sd_bus_slot_unref(ownerSlot);
        sd_bus_slot_unref(callSlot);
        if (bus) sd_bus_flush_close_unref(bus);
    }
};

int onResponse(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* x = static_cast<Exchange*>(userdata);
    if (x->done) return 0;
    x->done = true;
    x->answered = true;
    if (sd_bus_message_read(m, "u", &x->response) < 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(m, "s", &key);
        if (key && std::string(key) == "uris" && sd_bus_message_enter_container(m, 'v', "as") > 0) {
            if (sd_bus_message_enter_container(m, 'a', "s") > 0) {
                const char* uri = nullptr;
                while (sd_bus_message_read(m, "s", &uri) > 0)
                    if (uri && x->uri.empty()) x->uri = uri;
                sd_bus_message_exit_container(m);
            }
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    AppKit::modalConditionChanged();
    return 0;
}

int onOwnerChanged(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto* x = static_cast<Exchange*>(userdata);
    if (!x->done) {
        x->done = true;
        x->error = "the portal went away";
        AppKit::modalConditionChanged();
    }
    return 0;
}

int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* x = static_cast<Exchange*>(userdata);
    x->replied = true;
    if (const sd_bus_error* e = sd_bus_message_get_error(m)) {
        x->done = true;
        x->error = std::string("no file chooser portal (") + (e->name ? e->name : "?") + ")";
        AppKit::modalConditionChanged();
        return 0;
    }
    const char* handle = nullptr;
    if (sd_bus_message_read(m, "o", &handle) >= 0 && handle && x->expectedPath != handle) {
        // An older portal chose the request path itself: listen there too.
        sd_bus_match_signal(x->bus, &x->handleSlot, nullptr, handle, "org.freedesktop.portal.Request", "Response",
                            onResponse, x);
    }
    // The portal ending without an answer must not leave the program waiting.
    if (const char* owner = sd_bus_message_get_sender(m)) {
        const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',") +
                                 "arg0='" + owner + "'";
        sd_bus_add_match(x->bus, &x->ownerSlot, rule.c_str(), onOwnerChanged, x);
    }
    return 0;
}

int appendFilter(sd_bus_message* m, const PortalFilter& f) {
    int r = sd_bus_message_open_container(m, 'r', "sa(us)");
    if (r >= 0) r = sd_bus_message_append(m, "s", f.name.c_str());
    if (r >= 0) r = sd_bus_message_append(m, "a(us)", 1, 0u, f.glob.c_str());
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
}

}  // namespace

std::vector<PortalFilter> portalFilters(const std::vector<std::string>& allowedFileTypes) {
    std::vector<PortalFilter> out;
    for (const auto& type : allowedFileTypes) {
        if (type.empty()) continue;
        std::string upper;
        for (char c : type) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.push_back({upper + " file (*." + type + ")", "*." + type});
    }
    return out;
}

std::string pathOfFileURI(const std::string& uri) {
    const std::string prefix = "file://";
    if (uri.rfind(prefix, 0) != 0) return {};
    std::size_t i = prefix.size();
    // "file://host/path": only the local host's files are ours to write.
    if (i < uri.size() && uri[i] != '/') {
        const auto slash = uri.find('/', i);
        if (slash == std::string::npos || uri.substr(i, slash - i) != "localhost") return {};
        i = slash;
    }
    std::string out;
    for (; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            out += static_cast<char>(std::strtol(uri.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    if (out.find('\0') != std::string::npos) return {};
    return out;
}

std::optional<AppKit::NSSavePanel::Answer> portalSaveFile(const AppKit::NSSavePanel& panel, std::string* why) {
    auto fail = [&](const std::string& reason) -> std::optional<AppKit::NSSavePanel::Answer> {
        if (why) *why = reason;
        return std::nullopt;
    };
    auto x = std::make_unique<Exchange>();
    if (sd_bus_open_user(&x->bus) < 0) {
        x->bus = nullptr;
        return fail("no session bus");
    }
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(x->bus, &unique) < 0 || !unique) return fail("no name on the session bus");
    // The request's path follows from our name and the token: subscribe first, so the answer cannot be missed.
    std::string sender = unique + 1;
    for (auto& ch : sender)
        if (ch == '.') ch = '_';
    static int counter = 0;
    const std::string token = "vexil_save" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    x->expectedPath = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    if (sd_bus_match_signal(x->bus, &x->responseSlot, nullptr, x->expectedPath.c_str(),
                            "org.freedesktop.portal.Request", "Response", onResponse, x.get()) < 0)
        return fail("cannot listen for the portal's answer");

    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(x->bus, &m, kPortal, kPortalPath, "org.freedesktop.portal.FileChooser",
                                           "SaveFile");
    const std::string title = panel.title.empty() ? "Save" : panel.title;
    if (r >= 0) r = sd_bus_message_append(m, "ss", "", title.c_str());
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    auto entry = [&](const char* key, const char* type, auto&&... values) {
        if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(m, "s", key);
        if (r >= 0) r = sd_bus_message_open_container(m, 'v', type);
        if (r >= 0) r = sd_bus_message_append(m, type, values...);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
    };
    entry("handle_token", "s", token.c_str());
    entry("modal", "b", 1);
    if (!panel.nameFieldStringValue.empty()) entry("current_name", "s", panel.nameFieldStringValue.c_str());
    if (!panel.prompt.empty()) entry("accept_label", "s", panel.prompt.c_str());
    const auto filters = portalFilters(panel.allowedFileTypes);
    if (!filters.empty() && r >= 0) {
        r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(m, "s", "filters");
        if (r >= 0) r = sd_bus_message_open_container(m, 'v', "a(sa(us))");
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "(sa(us))");
        for (const auto& f : filters)
            if (r >= 0) r = appendFilter(m, f);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(m, "s", "current_filter");
        if (r >= 0) r = sd_bus_message_open_container(m, 'v', "(sa(us))");
        if (r >= 0) r = appendFilter(m, filters.front());
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
    }
    if (panel.directory && !panel.directory->empty() && r >= 0) {
        // A byte string with its terminating zero, as the portal wants folders.
        r = sd_bus_message_open_container(m, 'e', "sv");
        if (r >= 0) r = sd_bus_message_append(m, "s", "current_folder");
        if (r >= 0) r = sd_bus_message_open_container(m, 'v', "ay");
        if (r >= 0) r = sd_bus_message_append_array(m, 'y', panel.directory->c_str(), panel.directory->size() + 1);
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
    }
    if (r >= 0) r = sd_bus_message_close_container(m);
    if (r >= 0) r = sd_bus_call_async(x->bus, &x->callSlot, m, onReply, x.get(), kCallTimeoutUsec);
    sd_bus_message_unref(m);
    if (r < 0) return fail("cannot ask the portal");

    // The bus is a source of the main run loop while the portal's dialog is up.
    auto& loop = Foundation::RunLoop::main();
    sd_bus* bus = x->bus;
    auto pump = [bus] {
        while (sd_bus_process(bus, nullptr) > 0) {}
        sd_bus_flush(bus);
    };
    bool lost = false;
    const auto source =
        loop.addSource(sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), [&lost, pump](short revents) {
            if (revents & (POLLERR | POLLHUP | POLLNVAL)) lost = true;
            pump();
        });
    pump();
    AppKit::runModalUntil([&] {
        pump();  // timeouts of the call, and what came while another source ran
        if (lost && !x->done) {
            x->done = true;
            x->error = "the session bus went away";
        }
        if (const int events = sd_bus_get_events(bus); events >= 0)
            loop.setSourceEvents(source, static_cast<short>(events));
        return x->done;
    });
    loop.removeSource(source);
    if (!x->answered) return fail(x->error.empty() ? "the portal did not answer" : x->error);
    if (x->response == 1) return AppKit::NSSavePanel::Answer{};
    if (x->response != 0) return fail("the portal's dialog ended without an answer");
    const std::string path = pathOfFileURI(x->uri);
    if (path.empty()) return fail("the portal chose no local file (" + x->uri + ")");
    return AppKit::NSSavePanel::Answer{AppKit::NSModalResponseOK, path};
}

}  // namespace X11Display
