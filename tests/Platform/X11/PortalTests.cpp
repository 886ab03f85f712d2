// The screenshot portal source against a fake portal on the session bus
// (dbus-run-session gives a private one), run on a thread of its own since
// the source waits for the answer.

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "Platform/X11/PortalScreenshot.h"

namespace {

class FakePortal {
public:
    // `answer`: the response code to send (0 success, 1 cancelled); `picture`: the file offered.
    FakePortal(std::uint32_t answer, std::string picture) : answer_(answer), picture_(std::move(picture)) {
        if (sd_bus_open_user(&bus_) < 0) return;
        sd_bus_add_object_vtable(bus_, &slot_, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Screenshot",
                                 kVtable, this);
        if (sd_bus_request_name(bus_, "org.freedesktop.portal.Desktop", 0) < 0) return;
        ready_ = true;
        thread_ = std::thread([this] {
            while (!stop_) {
                if (sd_bus_process(bus_, nullptr) > 0) continue;
                sd_bus_wait(bus_, 20000);  // wakes for traffic; checks stop_ at least every 20 ms
            }
        });
    }
    ~FakePortal() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        sd_bus_slot_unref(slot_);
        if (bus_) sd_bus_flush_close_unref(bus_);
    }
    bool ready() const { return ready_; }
    std::atomic<int> calls{0};
    std::atomic<bool> interactiveAsked{false};

private:
    static int onScreenshot(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<FakePortal*>(userdata);
        ++self->calls;
        const char* parent = nullptr;
        sd_bus_message_read(m, "s", &parent);
        std::string token = "t";
        sd_bus_message_enter_container(m, 'a', "{sv}");
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* key = nullptr;
            sd_bus_message_read(m, "s", &key);
            const std::string k = key;
            if (k == "handle_token") {
                const char* t = nullptr;
                sd_bus_message_read(m, "v", "s", &t);
                token = t;
            } else if (k == "interactive") {
                int b = 0;
                sd_bus_message_read(m, "v", "b", &b);
                self->interactiveAsked = b != 0;
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        std::string sender = sd_bus_message_get_sender(m) + 1;
        for (auto& ch : sender)
            if (ch == '.') ch = '_';
        const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
        const int r = sd_bus_reply_method_return(m, "o", path.c_str());
        std::string uri = "file://";  // escaped as a portal writes it
        for (char ch : self->picture_) uri += ch == ' ' ? std::string("%20") : std::string(1, ch);
        sd_bus_emit_signal(self->bus_, path.c_str(), "org.freedesktop.portal.Request", "Response", "ua{sv}",
                           self->answer_, 1, "uri", "s", uri.c_str());
        return r;
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Screenshot", "sa{sv}", "o", onScreenshot, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::uint32_t answer_;
    std::string picture_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string scratch(const std::string& name) {
    const char* home = std::getenv("VEXIL_HOME");
    return (std::filesystem::path(home ? home : "/tmp") / name).string();
}

TEST(PortalScreenshot, ReadsThePortalsPictureAndRemovesTheFile) {
    const std::string file = scratch("portal shot 1.png");  // the space comes escaped in the URI
    CoreGraphics::Image picture(7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) picture.setPixel(x, y, {x / 6.0, y / 4.0, 0.5, 1});
    ASSERT_TRUE(picture.writePNG(file));
    FakePortal portal(0, file);
    if (!portal.ready()) GTEST_SKIP() << "no session bus of our own";
    std::string error;
    auto shot = X11Display::portalScreenshot(&error, 5);
    ASSERT_TRUE(shot) << error;
    EXPECT_EQ(portal.calls, 1);
    EXPECT_FALSE(portal.interactiveAsked);
    ASSERT_EQ(shot->width(), 7);
    ASSERT_EQ(shot->height(), 5);
    EXPECT_EQ(shot->bytes(), picture.bytes());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(PortalScreenshot, ARefusalOrNoPortalIsAClearError) {
    {
        FakePortal portal(1, scratch("none.png"));
        if (!portal.ready()) GTEST_SKIP() << "no session bus of our own";
        std::string error;
        EXPECT_FALSE(X11Display::portalScreenshot(&error, 5));
        EXPECT_EQ(error, "the screenshot portal refused");
    }
    std::string error;
    EXPECT_FALSE(X11Display::portalScreenshot(&error, 5));
    EXPECT_NE(error.find("no screenshot portal"), std::string::npos) << error;
}

}  // namespace
