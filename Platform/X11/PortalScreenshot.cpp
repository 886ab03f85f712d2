#include "Platform/X11/PortalScreenshot.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace X11Display {
namespace {

struct Answer {
    bool done = false;
    std::uint32_t response = 2;
    std::string uri;
};

int onResponse(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* a = static_cast<Answer*>(userdata);
    a->done = true;
    if (sd_bus_message_read(m, "u", &a->response) < 0) return 0;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(m, "s", &key);
        if (key && std::string(key) == "uri") {
            const char* uri = nullptr;
            if (sd_bus_message_read(m, "v", "s", &uri) >= 0 && uri) a->uri = uri;
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    return 0;
}

// file:// URIs with %XX escapes, as the portal writes them.
std::string pathOfUri(const std::string& uri) {
    const std::string prefix = "file://";
    if (uri.rfind(prefix, 0) != 0) return {};
    std::string out;
    for (std::size_t i = prefix.size(); i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            out += static_cast<char>(std::strtol(uri.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    return out;
}

}  // namespace

std::shared_ptr<CoreGraphics::Image> portalScreenshot(std::string* error, double timeoutSeconds) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) return fail("no session bus");
    struct Closer {
        sd_bus* b;
        ~Closer() { sd_bus_flush_close_unref(b); }
    } closer{bus};
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(bus, &unique) < 0 || !unique) return fail("no name on the session bus");
    // The request object's path is known before the call: subscribe first, so the answer cannot be missed.
    std::string sender = unique + 1;
    for (auto& ch : sender)
        if (ch == '.') ch = '_';
    static int counter = 0;
    const std::string token = "vexil" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    Answer answer;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus, &slot, "org.freedesktop.portal.Desktop", path.c_str(),
                            "org.freedesktop.portal.Request", "Response", onResponse, &answer) < 0)
        return fail("cannot listen for the portal's answer");
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                     "org.freedesktop.portal.Screenshot", "Screenshot", &err, &reply, "sa{sv}", "", 2,
                                     "handle_token", "s", token.c_str(), "interactive", "b", 0);
    sd_bus_message_unref(reply);
    if (r < 0) {
        const std::string why = std::string("no screenshot portal (") + (err.name ? err.name : "?") + ")";
        sd_bus_error_free(&err);
        sd_bus_slot_unref(slot);
        return fail(why);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!answer.done && std::chrono::steady_clock::now() < end) {
        if (sd_bus_process(bus, nullptr) > 0) continue;
        sd_bus_wait(bus, 50000);  // 50 ms at most, then the deadline is checked again
    }
    sd_bus_slot_unref(slot);
    if (!answer.done) return fail("the screenshot portal did not answer");
    if (answer.response != 0) return fail("the screenshot portal refused");
    const std::string file = pathOfUri(answer.uri);
    auto image = file.empty() ? nullptr : CoreGraphics::Image::readPNG(file);
    if (!file.empty()) std::remove(file.c_str());
    if (!image) return fail("the screenshot portal gave no readable picture");
    return image;
}

}  // namespace X11Display
