#include "Platform/X11/StatusNotifier.h"

#include <cairo.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <vector>

#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/X11/IconLook.h"

namespace X11Display {

namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

std::vector<std::uint8_t> pngOf(const CoreGraphics::Image& image) {
    std::vector<std::uint8_t> out;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width(), image.height());
    auto* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    cairo_surface_flush(s);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = &image.bytes()[(static_cast<std::size_t>(y) * image.width() + x) * 4];
            const std::uint32_t a = p[3];
            auto premul = [a](std::uint8_t v) { return static_cast<std::uint32_t>((v * a + 127) / 255); };
            *reinterpret_cast<std::uint32_t*>(data + y * stride + x * 4) =
                (a << 24) | (premul(p[0]) << 16) | (premul(p[1]) << 8) | premul(p[2]);
        }
    cairo_surface_mark_dirty(s);
    cairo_surface_write_to_png_stream(
        s,
        [](void* closure, const unsigned char* d, unsigned n) {
            auto* v = static_cast<std::vector<std::uint8_t>*>(closure);
            v->insert(v->end(), d, d + n);
            return CAIRO_STATUS_SUCCESS;
        },
        &out);
    cairo_surface_destroy(s);
    return out;
}

// The key equivalent as dbusmenu writes shortcuts: [["Control", "Super", "o"]].
std::vector<std::string> shortcutOf(const AppKit::NSMenuItem& item) {
    if (item.keyEquivalent.empty()) return {};
    auto keys = AppKit::modifierKeyNames(item.keyEquivalentModifierMask);
    keys.push_back(item.keyEquivalent);
    return keys;
}

}  // namespace

struct StatusNotifier::State {
    sd_bus* bus = nullptr;
    sd_bus_slot* itemSlot = nullptr;
    sd_bus_slot* menuSlot = nullptr;
    std::string name;
    std::weak_ptr<AppKit::NSStatusItem> item;
    std::uint32_t revision = 1;
    // Ids given to the model's items; 0 is the root. Stable while an item lives.
    std::map<const AppKit::NSMenuItem*, int> ids;
    std::map<int, std::weak_ptr<AppKit::NSMenuItem>> byId;
    int nextId = 1;
    Foundation::RunLoop::SourceId source = 0, hook = 0;
    bool registered = false;
    std::string problem;  // set when the watcher refused the item
    std::function<void(int, int)> activatedAt;
    // What panels were last told: each item's properties and each menu's children, by id.
    std::map<int, std::string> shownProps;
    std::map<int, std::vector<int>> shownChildren;
    bool shownOnce = false;

    ~State() {
        if (hook) Foundation::RunLoop::main().removeBeforeWaitHook(hook);
        if (source) Foundation::RunLoop::main().removeSource(source);
        sd_bus_slot_unref(itemSlot);
        sd_bus_slot_unref(menuSlot);
        if (bus) sd_bus_flush_close_unref(bus);
    }

    int idOf(const std::shared_ptr<AppKit::NSMenuItem>& item) {
        auto [it, added] = ids.emplace(item.get(), nextId);
        if (added || byId[it->second].expired()) {
            if (!added && byId[it->second].lock() != item) it->second = nextId;  // an old address reused
            if (it->second == nextId) ++nextId;
            byId[it->second] = item;
        }
        return it->second;
    }

    std::shared_ptr<AppKit::NSMenu> rootMenu() const {
        auto i = item.lock();
        return i ? i->menu : nullptr;
    }
    std::shared_ptr<AppKit::NSMenu> menuOf(int id) {
        if (id == 0) return rootMenu();
        auto it = byId.find(id);
        auto i = it != byId.end() ? it->second.lock() : nullptr;
        return i ? i->submenu() : nullptr;
    }

    void appendProps(sd_bus_message* r, const std::shared_ptr<AppKit::NSMenuItem>& mi) {
        sd_bus_message_open_container(r, 'a', "{sv}");
        auto sv = [&](const char* key, const char* sig, auto v) { sd_bus_message_append(r, "{sv}", key, sig, v); };
        if (mi) {
            if (mi->isSeparatorItem()) {
                sv("type", "s", "separator");
            } else {
                sv("label", "s", mi->displayTitle().c_str());
                if (!mi->enabled) sv("enabled", "b", 0);
                if (mi->state != AppKit::NSControlStateValueOff) {
                    sv("toggle-type", "s", "checkmark");
                    sv("toggle-state", "i", mi->state == AppKit::NSControlStateValueOn ? 1 : -1);
                }
                if (mi->hasSubmenu()) sv("children-display", "s", "submenu");
                if (const auto keys = shortcutOf(*mi); !keys.empty()) {
                    sd_bus_message_open_container(r, 'e', "sv");
                    sd_bus_message_append(r, "s", "shortcut");
                    sd_bus_message_open_container(r, 'v', "aas");
                    sd_bus_message_open_container(r, 'a', "as");
                    sd_bus_message_open_container(r, 'a', "s");
                    for (const auto& k : keys) sd_bus_message_append(r, "s", k.c_str());
                    sd_bus_message_close_container(r);
                    sd_bus_message_close_container(r);
                    sd_bus_message_close_container(r);
                    sd_bus_message_close_container(r);
                }
                if (mi->image)
                    if (auto bitmap = mi->image->bitmap(); bitmap && !bitmap->empty()) {
                        const auto png = pngOf(*bitmap);
                        sd_bus_message_open_container(r, 'e', "sv");
                        sd_bus_message_append(r, "s", "icon-data");
                        sd_bus_message_open_container(r, 'v', "ay");
                        sd_bus_message_append_array(r, 'y', png.data(), png.size());
                        sd_bus_message_close_container(r);
                        sd_bus_message_close_container(r);
                    }
            }
            if (mi->hidden) sv("visible", "b", 0);
        } else {
            sv("children-display", "s", "submenu");
        }
        sd_bus_message_close_container(r);
    }

    void appendNode(sd_bus_message* r, int id, const std::shared_ptr<AppKit::NSMenuItem>& mi, int depth) {
        sd_bus_message_open_container(r, 'r', "ia{sv}av");
        sd_bus_message_append(r, "i", id);
        appendProps(r, mi);
        sd_bus_message_open_container(r, 'a', "v");
        if (depth != 0)
            if (auto menu = mi ? mi->submenu() : rootMenu())
                for (const auto& child : menu->itemArray()) {
                    sd_bus_message_open_container(r, 'v', "(ia{sv}av)");
                    appendNode(r, idOf(child), child, depth - 1);
                    sd_bus_message_close_container(r);
                }
        sd_bus_message_close_container(r);
        sd_bus_message_close_container(r);
    }

    // A fingerprint of what appendProps would send for the item.
    static std::string propsKey(const std::shared_ptr<AppKit::NSMenuItem>& mi) {
        if (!mi) return "root";
        std::ostringstream k;
        k << mi->isSeparatorItem() << '\x1f' << mi->displayTitle() << '\x1f' << mi->enabled << '\x1f'
          << static_cast<int>(mi->state) << '\x1f' << mi->hasSubmenu() << '\x1f' << mi->hidden << '\x1f'
          << mi->keyEquivalent << '\x1f' << mi->keyEquivalentModifierMask << '\x1f' << mi->image.get();
        return k.str();
    }
    void walk(int id, const std::shared_ptr<AppKit::NSMenuItem>& mi, std::map<int, std::string>& props,
              std::map<int, std::vector<int>>& children, int depth) {
        props[id] = propsKey(mi);
        auto menu = mi ? mi->submenu() : rootMenu();
        if (!menu || depth > 16) return;
        auto& kids = children[id];
        for (const auto& child : menu->itemArray()) {
            const int childId = idOf(child);
            kids.push_back(childId);
            walk(childId, child, props, children, depth + 1);
        }
    }
    // Panels cache the layout and are never told the menu closed: whenever
    // the model's menu differs from what they were last told, say so.
    void announceChanges() {
        std::map<int, std::string> props;
        std::map<int, std::vector<int>> children;
        walk(0, nullptr, props, children, 0);
        const bool first = !shownOnce;
        shownOnce = true;
        if (props == shownProps && children == shownChildren) return;
        std::vector<int> updated;
        for (const auto& [id, key] : props)
            if (auto old = shownProps.find(id); old != shownProps.end() && old->second != key) updated.push_back(id);
        const bool layoutChanged = children != shownChildren;
        shownProps = std::move(props);
        shownChildren = std::move(children);
        if (first) return;
        ++revision;
        if (!updated.empty()) {
            sd_bus_message* m = nullptr;
            if (sd_bus_message_new_signal(bus, &m, kMenuPath, kMenuInterface, "ItemsPropertiesUpdated") >= 0) {
                sd_bus_message_open_container(m, 'a', "(ia{sv})");
                for (int id : updated) {
                    std::shared_ptr<AppKit::NSMenuItem> mi;
                    if (id != 0) {
                        auto it = byId.find(id);
                        mi = it != byId.end() ? it->second.lock() : nullptr;
                        if (!mi) continue;
                    }
                    sd_bus_message_open_container(m, 'r', "ia{sv}");
                    sd_bus_message_append(m, "i", id);
                    appendProps(m, mi);
                    sd_bus_message_close_container(m);
                }
                sd_bus_message_close_container(m);
                sd_bus_message_append(m, "a(ias)", 0);
                sd_bus_send(bus, m, nullptr);
                sd_bus_message_unref(m);
            }
        }
        (void)layoutChanged;  // hosts that merge only properties still refetch the whole tree
        sd_bus_emit_signal(bus, kMenuPath, kMenuInterface, "LayoutUpdated", "ui", revision, 0);
    }

    void clicked(int id) {
        auto it = byId.find(id);
        auto mi = it != byId.end() ? it->second.lock() : nullptr;
        if (!mi || !mi->enabled || mi->isSeparatorItem() || mi->hasSubmenu()) return;
        AppKit::NSApplication::shared().inputMenuItemChosen(mi);
    }
};

namespace {

using State = StatusNotifier::State;

int propString(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*, sd_bus_error*) {
    const std::string p = property;
    const char* v = p == "Category"   ? "ApplicationStatus"
                    : p == "Id"       ? "vexil"
                    : p == "Title"    ? "Vexil"
                    : p == "Status"   ? "Active"
                    : p == "IconName" ? "color-picker"
                                      : "";
    return sd_bus_message_append(reply, "s", v);
}
int propMenuPath(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "o", kMenuPath);
}
int propFalse(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 0);
}
int propIconPixmap(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                   sd_bus_error*) {
    auto* s = static_cast<State*>(userdata);
    sd_bus_message_open_container(reply, 'a', "(iiay)");
    auto item = s->item.lock();
    auto image = item && item->button() ? item->button()->image() : nullptr;
    if (auto plain = image ? image->bitmap() : nullptr; plain && !plain->empty()) {
        // With a light outline: the panel may be dark.
        const auto outlined = withLightOutline(*plain);
        const auto* bitmap = &outlined;
        // ARGB32 in network byte order.
        std::vector<std::uint8_t> px(static_cast<std::size_t>(bitmap->width()) * bitmap->height() * 4);
        for (std::size_t i = 0; i < px.size(); i += 4) {
            px[i] = bitmap->bytes()[i + 3];
            px[i + 1] = bitmap->bytes()[i];
            px[i + 2] = bitmap->bytes()[i + 1];
            px[i + 3] = bitmap->bytes()[i + 2];
        }
        sd_bus_message_open_container(reply, 'r', "iiay");
        sd_bus_message_append(reply, "ii", bitmap->width(), bitmap->height());
        sd_bus_message_append_array(reply, 'y', px.data(), px.size());
        sd_bus_message_close_container(reply);
    }
    return sd_bus_message_close_container(reply);
}
int propToolTip(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, "Vexil", "");
}
int onActivate(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* s = static_cast<State*>(userdata);
    int x = 0, y = 0;
    sd_bus_message_read(m, "ii", &x, &y);
    if (auto item = s->item.lock()) {
        const int button = std::string(sd_bus_message_get_member(m)) == "Activate" ? 0 : 1;
        // Panels that do not know the point send 0, 0.
        if ((x != 0 || y != 0) && s->activatedAt) s->activatedAt(x, y);
        AppKit::NSApplication::shared().inputStatusItemClicked(item, button);
    }
    return sd_bus_reply_method_return(m, "");
}
int onScroll(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, ""); }

const sd_bus_vtable kItemVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", propString, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", propString, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", propString, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", propString, 0, 0),
    SD_BUS_PROPERTY("IconName", "s", propString, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", propIconPixmap, 0, 0),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", propToolTip, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", propFalse, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", propMenuPath, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("Activate", "ii", "", onActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", onActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ContextMenu", "ii", "", onActivate, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", onScroll, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END};

int onGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* s = static_cast<State*>(userdata);
    int parent = 0, depth = -1;
    if (int r = sd_bus_message_read(m, "ii", &parent, &depth); r < 0) return r;
    std::shared_ptr<AppKit::NSMenuItem> mi;
    if (parent != 0) {
        auto it = s->byId.find(parent);
        mi = it != s->byId.end() ? it->second.lock() : nullptr;
        if (!mi) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "no such menu item");
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_append(reply, "u", s->revision);
    s->appendNode(reply, parent, mi, depth);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}
int onEvent(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* s = static_cast<State*>(userdata);
    int id = 0;
    const char* what = nullptr;
    sd_bus_message_read(m, "is", &id, &what);
    const std::string kind = what ? what : "";
    sd_bus_message_skip(m, "vu");
    // Reply first: the action may run a modal piece of the program.
    const int r = sd_bus_reply_method_return(m, "");
    if (kind == "clicked") s->clicked(id);
    return r;
}
int onEventGroup(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* s = static_cast<State*>(userdata);
    std::vector<int> clicks;
    sd_bus_message_enter_container(m, 'a', "(isvu)");
    while (sd_bus_message_enter_container(m, 'r', "isvu") > 0) {
        int id = 0;
        const char* what = nullptr;
        sd_bus_message_read(m, "is", &id, &what);
        if (what && std::string(what) == "clicked") clicks.push_back(id);
        sd_bus_message_skip(m, "vu");
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    const int r = sd_bus_reply_method_return(m, "ai", 0);
    for (int id : clicks) s->clicked(id);
    return r;
}
int onAboutToShow(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "b", 0); }
int onAboutToShowGroup(sd_bus_message* m, void*, sd_bus_error*) { return sd_bus_reply_method_return(m, "aiai", 0, 0); }
int onGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* s = static_cast<State*>(userdata);
    std::vector<int> wanted;
    sd_bus_message_enter_container(m, 'a', "i");
    int id = 0;
    while (sd_bus_message_read(m, "i", &id) > 0) wanted.push_back(id);
    sd_bus_message_exit_container(m);
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "(ia{sv})");
    for (int i : wanted) {
        std::shared_ptr<AppKit::NSMenuItem> mi;
        if (i != 0) {
            auto it = s->byId.find(i);
            mi = it != s->byId.end() ? it->second.lock() : nullptr;
            if (!mi) continue;
        }
        sd_bus_message_open_container(reply, 'r', "ia{sv}");
        sd_bus_message_append(reply, "i", i);
        s->appendProps(reply, mi);
        sd_bus_message_close_container(reply);
    }
    sd_bus_message_close_container(reply);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}
int onGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    (void)m;
    (void)userdata;
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "use GetGroupProperties");
}
int propVersion(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "u", 3);
}
int propMenuStatus(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "s", "normal");
}

const sd_bus_vtable kMenuVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Version", "u", propVersion, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", propMenuStatus, 0, 0),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", onGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", onGetGroupProperties, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetProperty", "is", "v", onGetProperty, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", onEvent, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", onEventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", onAboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", onAboutToShowGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_VTABLE_END};

}  // namespace

std::unique_ptr<StatusNotifier> StatusNotifier::start(const std::shared_ptr<AppKit::NSStatusItem>& item,
                                                      std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    auto s = std::make_unique<State>();
    s->item = item;
    if (sd_bus_open_user(&s->bus) < 0) return fail("no session bus");
    static int counter = 0;
    s->name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (sd_bus_request_name(s->bus, s->name.c_str(), 0) < 0) return fail("cannot take the bus name " + s->name);
    State* raw = s.get();
    sd_bus_add_object_vtable(s->bus, &s->itemSlot, kItemPath, kItemInterface, kItemVtable, raw);
    sd_bus_add_object_vtable(s->bus, &s->menuSlot, kMenuPath, kMenuInterface, kMenuVtable, raw);
    // Asked of the bus daemon, never of the watcher itself: a watcher in this
    // very program (tests) could not answer a blocking call.
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* owner = nullptr;
    int hasOwner = 0;
    if (sd_bus_call_method(s->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", &err, &owner, "s", "org.kde.StatusNotifierWatcher") >= 0)
        sd_bus_message_read(owner, "b", &hasOwner);
    sd_bus_message_unref(owner);
    sd_bus_error_free(&err);
    if (!hasOwner) return fail("no status area on the panel (no StatusNotifierWatcher)");
    const int r = sd_bus_call_method_async(
        s->bus, nullptr, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
        "RegisterStatusNotifierItem",
        [](sd_bus_message* reply, void* userdata, sd_bus_error*) {
            auto* st = static_cast<State*>(userdata);
            if (const sd_bus_error* e = sd_bus_message_get_error(reply))
                st->problem = std::string("the panel refused the status item (") + (e->name ? e->name : "?") + ")";
            else
                st->registered = true;
            return 0;
        },
        raw, "s", s->name.c_str());
    if (r < 0) return fail("cannot reach the panel's StatusNotifierWatcher");
    std::unique_ptr<StatusNotifier> notifier(new StatusNotifier(std::move(s)));
    StatusNotifier* self = notifier.get();
    auto& loop = Foundation::RunLoop::main();
    raw->source = loop.addSource(sd_bus_get_fd(raw->bus), POLLIN, [self](short) { self->process(); });
    raw->hook = loop.addBeforeWaitHook([self] { self->process(); });
    return notifier;
}

StatusNotifier::StatusNotifier(std::unique_ptr<State> state) : s_(std::move(state)) {}
StatusNotifier::~StatusNotifier() = default;

const std::string& StatusNotifier::serviceName() const { return s_->name; }
bool StatusNotifier::registered() const { return s_->registered; }
const std::string& StatusNotifier::problem() const { return s_->problem; }

void StatusNotifier::onActivatedAt(std::function<void(int, int)> handler) { s_->activatedAt = std::move(handler); }

void StatusNotifier::changed() {
    ++s_->revision;
    sd_bus_emit_signal(s_->bus, kMenuPath, kMenuInterface, "LayoutUpdated", "ui", s_->revision, 0);
    sd_bus_emit_signal(s_->bus, kItemPath, kItemInterface, "NewIcon", "");
    sd_bus_flush(s_->bus);
}

void StatusNotifier::process() {
    while (sd_bus_process(s_->bus, nullptr) > 0) {}
    s_->announceChanges();
    sd_bus_flush(s_->bus);
}

}  // namespace X11Display
