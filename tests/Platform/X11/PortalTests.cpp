// The screenshot and file chooser portals against a fake portal on the session bus
// (dbus-run-session gives a private one), run on a thread of its own since
// the source waits for the answer.

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/X11/Dialogs.h"
#include "Platform/X11/PortalFileChooser.h"
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

// --- the file chooser's SaveFile ------------------------------------------------------------------

namespace {

// Answers SaveFile as a portal does (the request handle, then the Response
// signal with the chosen URI) and keeps what it was asked.
class FakeFileChooser {
public:
    FakeFileChooser(std::uint32_t answer, std::string uri) : answer_(answer), uri_(std::move(uri)) {
        if (sd_bus_open_user(&bus_) < 0) return;
        sd_bus_add_object_vtable(bus_, &slot_, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.FileChooser",
                                 kVtable, this);
        if (sd_bus_request_name(bus_, "org.freedesktop.portal.Desktop", 0) < 0) return;
        ready_ = true;
        thread_ = std::thread([this] {
            while (!stop_) {
                if (sd_bus_process(bus_, nullptr) > 0) continue;
                sd_bus_wait(bus_, 20000);
            }
        });
    }
    ~FakeFileChooser() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        sd_bus_slot_unref(slot_);
        if (bus_) sd_bus_flush_close_unref(bus_);
    }
    bool ready() const { return ready_; }

    // Written by the portal's thread before it answers; read after the answer came.
    std::string title, currentName, token, currentFilter;
    std::vector<std::pair<std::string, std::string>> filters;  // name, first glob
    bool modal = false;

private:
    static int onSaveFile(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<FakeFileChooser*>(userdata);
        const char* parent = nullptr;
        const char* title = nullptr;
        sd_bus_message_read(m, "ss", &parent, &title);
        self->title = title ? title : "";
        std::string token = "t";
        sd_bus_message_enter_container(m, 'a', "{sv}");
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* key = nullptr;
            sd_bus_message_read(m, "s", &key);
            const std::string k = key;
            const char* text = nullptr;
            if (k == "handle_token" || k == "current_name") {
                sd_bus_message_read(m, "v", "s", &text);
                (k == "handle_token" ? token : self->currentName) = text;
            } else if (k == "modal") {
                int b = 0;
                sd_bus_message_read(m, "v", "b", &b);
                self->modal = b != 0;
            } else if (k == "filters") {
                sd_bus_message_enter_container(m, 'v', "a(sa(us))");
                sd_bus_message_enter_container(m, 'a', "(sa(us))");
                while (sd_bus_message_enter_container(m, 'r', "sa(us)") > 0) {
                    const char* name = nullptr;
                    sd_bus_message_read(m, "s", &name);
                    std::string glob;
                    sd_bus_message_enter_container(m, 'a', "(us)");
                    std::uint32_t kind = 0;
                    const char* pattern = nullptr;
                    while (sd_bus_message_read(m, "(us)", &kind, &pattern) > 0)
                        if (glob.empty() && kind == 0) glob = pattern;
                    sd_bus_message_exit_container(m);
                    sd_bus_message_exit_container(m);
                    self->filters.emplace_back(name, glob);
                }
                sd_bus_message_exit_container(m);
                sd_bus_message_exit_container(m);
            } else if (k == "current_filter") {
                sd_bus_message_enter_container(m, 'v', "(sa(us))");
                sd_bus_message_enter_container(m, 'r', "sa(us)");
                sd_bus_message_read(m, "s", &text);
                self->currentFilter = text;
                sd_bus_message_skip(m, "a(us)");
                sd_bus_message_exit_container(m);
                sd_bus_message_exit_container(m);
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        self->token = token;
        std::string sender = sd_bus_message_get_sender(m) + 1;
        for (auto& ch : sender)
            if (ch == '.') ch = '_';
        const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
        const int r = sd_bus_reply_method_return(m, "o", path.c_str());
        sd_bus_message* signal = nullptr;
        sd_bus_message_new_signal(self->bus_, &signal, path.c_str(), "org.freedesktop.portal.Request", "Response");
        sd_bus_message_append(signal, "u", self->answer_);
        sd_bus_message_open_container(signal, 'a', "{sv}");
        sd_bus_message_open_container(signal, 'e', "sv");
        sd_bus_message_append(signal, "s", "uris");
        sd_bus_message_open_container(signal, 'v', "as");
        sd_bus_message_append(signal, "as", 1, self->uri_.c_str());
        sd_bus_message_close_container(signal);
        sd_bus_message_close_container(signal);
        sd_bus_message_close_container(signal);
        sd_bus_send(self->bus_, signal, nullptr);
        sd_bus_message_unref(signal);
        return r;
    }
    static constexpr sd_bus_vtable kVtable[] = {
        SD_BUS_VTABLE_START(0), SD_BUS_METHOD("SaveFile", "ssa{sv}", "o", onSaveFile, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::uint32_t answer_;
    std::string uri_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

AppKit::NSSavePanel exportPanel() {
    AppKit::NSSavePanel panel;
    panel.title = "Export";
    panel.allowedFileTypes = {"gpl"};
    panel.nameFieldStringValue = "Blues.gpl";
    return panel;
}

TEST(PortalFileChooser, TheRequestCarriesTitleNameAndFiltersAndTheAnswerIsWhereItChose) {
    const std::string chosen = scratch("my exports/Blues.gpl");  // the space comes escaped in the URI
    std::filesystem::create_directories(std::filesystem::path(chosen).parent_path());
    std::string uri = "file://";
    for (char ch : chosen) uri += ch == ' ' ? std::string("%20") : std::string(1, ch);
    FakeFileChooser portal(0, uri);
    if (!portal.ready()) GTEST_SKIP() << "no session bus of our own";
    // Through the save panel, as the export asks for it.
    X11Display::installDialogs();
    auto panel = exportPanel();
    const auto response = panel.runModal();
    X11Display::uninstallDialogs();
    ASSERT_EQ(response, AppKit::NSModalResponseOK);
    EXPECT_EQ(panel.URL(), chosen);
    EXPECT_EQ(portal.title, "Export");
    EXPECT_EQ(portal.currentName, "Blues.gpl");
    EXPECT_TRUE(portal.modal);
    EXPECT_EQ(portal.filters, (std::vector<std::pair<std::string, std::string>>{{"GPL file (*.gpl)", "*.gpl"}}));
    EXPECT_EQ(portal.currentFilter, "GPL file (*.gpl)");
    EXPECT_EQ(portal.token.rfind("vexil_save", 0), 0u);
}

TEST(PortalFileChooser, ACancelIsACancelAndNoPortalLeavesItToOurPanel) {
    {
        FakeFileChooser portal(1, "");
        if (!portal.ready()) GTEST_SKIP() << "no session bus of our own";
        auto answer = X11Display::portalSaveFile(exportPanel());
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->response, AppKit::NSModalResponseCancel);
    }
    {
        // A portal's answer that is no local file is not taken either.
        FakeFileChooser portal(0, "https://example.com/x.gpl");
        std::string why;
        EXPECT_FALSE(X11Display::portalSaveFile(exportPanel(), &why));
        EXPECT_NE(why.find("no local file"), std::string::npos) << why;
    }
    std::string why;
    EXPECT_FALSE(X11Display::portalSaveFile(exportPanel(), &why));
    EXPECT_NE(why.find("no file chooser portal"), std::string::npos) << why;
}

TEST(PortalFileChooser, FileURIsAreDecodedAndOnlyLocalOnesAreTaken) {
    const std::pair<const char*, const char*> cases[] = {
        {"file:///home/a/b%20c.gpl", "/home/a/b c.gpl"},
        {"file://localhost/tmp/x.gpl", "/tmp/x.gpl"},
        {"file:///tmp/%C3%A9t%C3%A9.gpl", "/tmp/\xc3\xa9t\xc3\xa9.gpl"},
        {"file:///tmp/100%.gpl", "/tmp/100%.gpl"},
        {"file://otherhost/tmp/x.gpl", ""},
        {"file:///tmp/a%00b", ""},
        {"https://example.com/x", ""},
    };
    for (const auto& [uri, path] : cases) EXPECT_EQ(X11Display::pathOfFileURI(uri), path) << uri;
}

}  // namespace
