#include "Platform/X11/X11Backend.h"

#include <cairo-xcb.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xfixes.h>
#include <xcb/randr.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/AppKit/NSView.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/CoreGraphics/Cairo.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/QuartzCore/CALayer.h"
#include "Platform/X11/IconLook.h"
#include "Platform/X11/Atoms.h"
#include "Platform/X11/Dialogs.h"
#include "Platform/X11/KeyTable.h"
#include "Platform/X11/Monitors.h"
#include "Platform/X11/PortalScreenshot.h"
#include "Platform/X11/StatusNotifier.h"
#include "Platform/X11/SystemTray.h"
#include "Platform/X11/WindowManager.h"

namespace X11Display {

using AppKit::CGRect;

namespace {

template <typename T>
struct Freed {
    T* p;
    explicit Freed(T* ptr) : p(ptr) {}
    ~Freed() { std::free(p); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// The variants of a grab that Lock and NumLock add, so a shortcut works with either on.
constexpr std::uint16_t kLockVariants[] = {0, kXLock, kXMod2, kXLock | kXMod2};

// What the root tells us of: panels mapping and moving (struts), a window
// manager starting (its check property), a tray starting (MANAGER).
constexpr std::uint32_t kRootMask =
    XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
constexpr int kTitleBar = static_cast<int>(AppKit::NSWindow::kTitleBarHeight);

struct Shot {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // xRGB, rows top first
};

}  // namespace

struct X11Backend::State {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_visualtype_t* visual = nullptr;
    xcb_key_symbols_t* keysyms = nullptr;
    xcb_window_t clipboardOwner = 0;
    xcb_atom_t CLIPBOARD = 0, UTF8_STRING = 0, TARGETS = 0, VEXIL_SELECTION = 0, WM_DELETE_WINDOW = 0, WM_PROTOCOLS = 0,
               NET_WM_WINDOW_TYPE = 0, NET_WM_WINDOW_TYPE_NORMAL = 0, NET_WM_STATE = 0, NET_WM_STATE_ABOVE = 0,
               NET_WM_NAME = 0;
    std::uint8_t xfixesEvent = 0;
    bool hasXFixes = false, hasShape = false, hasShm = false;

    struct Win {
        xcb_window_t id = 0;
        std::weak_ptr<AppKit::NSWindow> model;
        bool mapped = false, dirty = true, overrideRedirect = false, shaped = false;
        // The manager draws its title bar: the X window is the content only.
        bool decorated = false;
        CGRect frame{};
        std::string title;
        int contentHeight() const {
            return std::max(1, static_cast<int>(std::lround(frame.height())) - (decorated ? kTitleBar : 0));
        }
    };
    std::map<long, Win> windows;  // by model window number
    std::map<xcb_window_t, long> numberOfXWindow;
    std::set<std::pair<std::uint16_t, AppKit::NSEventModifierFlags>> hotKeys;
    std::string clipboardText;
    bool ownsClipboard = false;
    Shot beforeMap;  // the screen as it was before our last window mapped
    Foundation::RunLoop::SourceId source = 0, hook = 0;
    int buttonDown = -1;
    std::uint32_t lastClickTime = 0;
    int lastClickButton = -1;
    long clickCount = 0;
    xcb_cursor_t blankCursor = 0;
    std::uint8_t xinputOpcode = 0;
    bool hasXInput2 = false;
    bool grabbing = false;
    std::unique_ptr<StatusNotifier> statusNotifier;
    bool statusTried = false;
    std::string statusProblem;
    std::weak_ptr<AppKit::NSStatusItem> statusItem;
    int screenNumber = 0;
    // Without a watcher: an icon docked in the system tray, following its manager.
    bool followingTray = false;
    xcb_window_t trayIcon = 0, trayManager = 0;
    bool trayDocked = false;
    int traySide = 0, iconWidth = 0, iconHeight = 0;
    xcb_atom_t TRAY_SELECTION = 0, TRAY_OPCODE = 0, MANAGER = 0, XEMBED_INFO = 0;
    bool menuGrab = false;  // a menu of ours is open: clicks elsewhere close it
    WindowManagerAtoms wm;
    bool wmRunning = false;
    // Monitors and the room panels leave on them, read again after the root says something changed.
    bool hasRandr = false;
    std::uint8_t randrEvent = 0;
    std::vector<Monitor> monitors;
    std::vector<RootRect> usable;
    bool layoutStale = true;
    std::optional<RootRect> sniPlace;  // where the panel last said it clicked the item
    void refreshLayout() {
        if (!layoutStale) return;
        monitors = queryMonitors(c, screen->root, screen->width_in_pixels, screen->height_in_pixels);
        usable = usableAreas(monitors, queryStruts(c, screen->root), screen->width_in_pixels, screen->height_in_pixels);
        layoutStale = false;
    }
    CGRect modelRect(const RootRect& r) const {
        return AppKit::CGRectMake(r.x, screenHeight() - r.y - r.height, r.width, r.height);
    }
    // A point of an event: relative to the window of ours it came to (the
    // manager may have put that window elsewhere than the model asked), else on the root.
    AppKit::CGPoint eventPoint(xcb_window_t event, int eventX, int eventY, int rootX, int rootY) {
        if (auto n = numberOfXWindow.find(event); n != numberOfXWindow.end()) {
            const Win& w = windows[n->second];
            return {w.frame.minX() + eventX, w.frame.minY() + (w.contentHeight() - eventY)};
        }
        return modelPoint(rootX, rootY);
    }
    void followManagedWindow(const xcb_configure_notify_event_t& ev, bool synthetic);
    std::optional<RootRect> trayIconPlace();
    bool lost = false;      // the connection broke: nothing more is read or drawn
    std::string displayName;
    std::function<void()> onConnectionLost;

    ~State() {
        statusNotifier.reset();
        if (hook) Foundation::RunLoop::main().removeBeforeWaitHook(hook);
        if (source) Foundation::RunLoop::main().removeSource(source);
        if (keysyms) xcb_key_symbols_free(keysyms);
        if (shmAddr) {
            xcb_shm_detach(c, shmSeg);
            xcb_flush(c);
            shmdt(shmAddr);
        }
        if (c) xcb_disconnect(c);
    }

    double screenHeight() const { return screen->height_in_pixels; }
    // Model y grows upwards from the bottom of the screen; X's downwards.
    AppKit::CGPoint modelPoint(double x, double y) const { return {x, screenHeight() - y}; }
    int xTop(const CGRect& frame) const { return static_cast<int>(std::lround(screenHeight() - frame.maxY())); }

    xcb_atom_t atom(const char* name) { return internAtom(c, name); }

    bool attachShm();
    // The root cannot be read (XWayland): the portal's picture of the whole
    // screen, kept as the picture from before our windows mapped.
    bool portalSnapshot() {
        if (!beforeMap.pixels.empty() && beforeMapFromPortal) return true;
        std::string why;
        auto image = portalScreenshot(&why);
        if (!image) {
            captureProblem = "Vexil cannot see the screen: the display cannot be read and " + why + ".";
            return false;
        }
        beforeMap = Shot{0, 0, image->width(), image->height(), {}};
        beforeMap.pixels.resize(static_cast<std::size_t>(image->width()) * image->height());
        for (std::size_t i = 0; i < beforeMap.pixels.size(); ++i) {
            const auto* p = &image->bytes()[i * 4];
            beforeMap.pixels[i] = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        }
        beforeMapFromPortal = true;
        return true;
    }
    bool beforeMapFromPortal = false;
    std::string captureProblem;
    bool shmSnapshot(int x, int y, int w, int h, Shot& out);
    void* shmAddr = nullptr;
    std::size_t shmBytes = 0;
    xcb_shm_seg_t shmSeg = 0;
    void draw(Win& win, AppKit::NSWindow& window);
    void dispatch(xcb_generic_event_t* e);
    // The status item could not go on the panel's watcher: dock in the tray
    // if there is one, else say so once; either way, follow trays that come later.
    void followTray(const std::string& why);
    void dockTrayIcon();
    void undockTrayIcon();
    void drawTrayIcon();
    void trayIconClicked(int button);
    void serveSelection(const xcb_selection_request_event_t& r);
};

bool X11Backend::State::attachShm() {
    if (shmAddr) return true;
    if (!hasShm) return false;
    // One segment the size of the screen, attached once: small reads then cost one request.
    shmBytes = static_cast<std::size_t>(screen->width_in_pixels) * screen->height_in_pixels * 4;
    const int id = shmget(IPC_PRIVATE, shmBytes, IPC_CREAT | 0600);
    if (id < 0) return false;
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(c);
    xcb_generic_error_t* err = xcb_request_check(c, xcb_shm_attach_checked(c, seg, id, 0));
    shmctl(id, IPC_RMID, nullptr);  // freed once both sides detach
    if (err) {
        std::free(err);
        shmdt(addr);
        hasShm = false;  // a remote display: no shared memory
        return false;
    }
    shmSeg = seg;
    shmAddr = addr;
    return true;
}

bool X11Backend::State::shmSnapshot(int x, int y, int w, int h, Shot& out) {
    out = Shot{x, y, w, h, {}};
    if (w <= 0 || h <= 0) return true;
    if (!attachShm()) return false;
    xcb_generic_error_t* err = nullptr;
    Freed r(xcb_shm_get_image_reply(
        c, xcb_shm_get_image(c, screen->root, x, y, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shmSeg, 0), &err));
    std::free(err);
    if (!r) return false;
    const auto* px = static_cast<const std::uint32_t*>(shmAddr);
    out.pixels.assign(px, px + static_cast<std::size_t>(w) * h);
    return true;
}

void X11Backend::State::draw(Win& win, AppKit::NSWindow& window) {
    const int w = std::max(1, static_cast<int>(std::lround(win.frame.width())));
    // Where the manager draws the title bar the window is the content only: the bar falls outside.
    const int h = win.contentHeight();
    cairo_surface_t* surface = cairo_xcb_surface_create(c, win.id, visual, w, h);
    cairo_t* cr = cairo_create(surface);
    {
        CoreGraphics::CairoContext ctx(cr, h);
        // Drawn off screen first, then put up at once: no flicker of half a frame.
        cairo_push_group(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
        window.draw(ctx);
        cairo_pop_group_to_source(cr);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    win.dirty = false;
    window.viewsNeedDisplay = false;
}

std::shared_ptr<X11Backend> X11Backend::open(const std::string& display, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
    if (!name || !*name) return fail("DISPLAY is not set");
    int screenNumber = 0;
    auto s = std::make_unique<State>();
    s->c = xcb_connect(name, &screenNumber);
    if (!s->c || xcb_connection_has_error(s->c)) return fail(std::string("cannot connect to display ") + name);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(s->c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return fail("the display has no such screen");
    s->screen = it.data;
    s->screenNumber = screenNumber;
    s->displayName = name;
    for (auto d = xcb_screen_allowed_depths_iterator(s->screen); d.rem && !s->visual; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == s->screen->root_visual) {
                s->visual = v.data;
                break;
            }
    if (!s->visual) return fail("no visual for the root window");
    s->keysyms = xcb_key_symbols_alloc(s->c);

    s->CLIPBOARD = s->atom("CLIPBOARD");
    s->UTF8_STRING = s->atom("UTF8_STRING");
    s->TARGETS = s->atom("TARGETS");
    s->VEXIL_SELECTION = s->atom("VEXIL_SELECTION");
    s->WM_PROTOCOLS = s->atom("WM_PROTOCOLS");
    s->WM_DELETE_WINDOW = s->atom("WM_DELETE_WINDOW");
    s->NET_WM_WINDOW_TYPE = s->atom("_NET_WM_WINDOW_TYPE");
    s->NET_WM_WINDOW_TYPE_NORMAL = s->atom("_NET_WM_WINDOW_TYPE_NORMAL");
    s->NET_WM_STATE = s->atom("_NET_WM_STATE");
    s->NET_WM_STATE_ABOVE = s->atom("_NET_WM_STATE_ABOVE");
    s->NET_WM_NAME = s->atom("_NET_WM_NAME");
    s->TRAY_SELECTION = s->atom(traySelectionName(screenNumber).c_str());
    s->TRAY_OPCODE = s->atom("_NET_SYSTEM_TRAY_OPCODE");
    s->MANAGER = s->atom("MANAGER");
    s->XEMBED_INFO = s->atom("_XEMBED_INFO");
    s->wm.intern(s->c);
    s->wmRunning = X11Display::windowManagerRunning(s->c, s->screen->root, s->wm);
    const std::uint32_t rootMask[] = {kRootMask};
    xcb_change_window_attributes(s->c, s->screen->root, XCB_CW_EVENT_MASK, rootMask);
    if (const auto* ext = xcb_get_extension_data(s->c, &xcb_randr_id); ext && ext->present) {
        s->hasRandr = true;
        s->randrEvent = ext->first_event;
        xcb_randr_select_input(s->c, s->screen->root, XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
    }

    if (const auto* ext = xcb_get_extension_data(s->c, &xcb_shm_id); ext && ext->present) s->hasShm = true;
    if (const auto* ext = xcb_get_extension_data(s->c, &xcb_shape_id); ext && ext->present) s->hasShape = true;
    if (const auto* ext = xcb_get_extension_data(s->c, &xcb_input_id); ext && ext->present) {
        Freed v(xcb_input_xi_query_version_reply(s->c, xcb_input_xi_query_version(s->c, 2, 0), nullptr));
        s->hasXInput2 = v && v->major_version >= 2;
        s->xinputOpcode = ext->major_opcode;
    }
    if (const auto* ext = xcb_get_extension_data(s->c, &xcb_xfixes_id); ext && ext->present) {
        std::free(xcb_xfixes_query_version_reply(s->c, xcb_xfixes_query_version(s->c, 5, 0), nullptr));
        s->hasXFixes = true;
        s->xfixesEvent = ext->first_event;
    }

    // An unmapped window of our own owns the clipboard and hears of other owners.
    s->clipboardOwner = xcb_generate_id(s->c);
    const std::uint32_t ownerMask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(s->c, XCB_COPY_FROM_PARENT, s->clipboardOwner, s->screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, ownerMask);
    if (s->hasXFixes)
        xcb_xfixes_select_selection_input(s->c, s->clipboardOwner, s->CLIPBOARD,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    xcb_flush(s->c);

    std::shared_ptr<X11Backend> backend(new X11Backend(std::move(s)));
    X11Backend* self = backend.get();
    auto& loop = Foundation::RunLoop::main();
    backend->s_->source = loop.addSource(xcb_get_file_descriptor(backend->s_->c), POLLIN,
                                         [self](short) { self->processPendingEvents(); });
    backend->s_->hook = loop.addBeforeWaitHook([self] { self->processPendingEvents(); });
    return backend;
}

X11Backend::X11Backend(std::unique_ptr<State> state) : s_(std::move(state)) {}
X11Backend::~X11Backend() = default;

std::vector<CGRect> X11Backend::screenFrames() const {
    s_->refreshLayout();
    std::vector<CGRect> out;
    for (const auto& m : s_->monitors) out.push_back(s_->modelRect(m.rect));
    return out;
}

std::vector<CGRect> X11Backend::visibleScreenFrames() const {
    // No bar of ours: each monitor less what the panels on it reserve.
    s_->refreshLayout();
    std::vector<CGRect> out;
    for (const auto& u : s_->usable) out.push_back(s_->modelRect(u));
    return out;
}

std::optional<std::size_t> X11Backend::mainScreenIndex() const {
    State& s = *s_;
    s.refreshLayout();
    // The monitor with the status item's panel, else the one with the pointer.
    int x = 0, y = 0;
    if (auto place = s.trayIcon && s.trayDocked ? s.trayIconPlace() : s.sniPlace) {
        x = place->x + place->width / 2;
        y = place->y + place->height / 2;
    } else if (Freed q(xcb_query_pointer_reply(s.c, xcb_query_pointer(s.c, s.screen->root), nullptr)); q) {
        x = q->root_x;
        y = q->root_y;
    }
    const int i = monitorNear(s.monitors, x, y);
    if (i < 0) return std::nullopt;
    return static_cast<std::size_t>(i);
}

std::optional<CGRect> X11Backend::statusItemFrame(const AppKit::NSStatusItem& item) const {
    State& s = *s_;
    if (s.statusItem.lock().get() != &item) return std::nullopt;
    if (s.trayIcon && s.trayDocked) {
        if (auto place = s.trayIconPlace()) return s.modelRect(*place);
        return std::nullopt;
    }
    if (!s.statusNotifier) return std::nullopt;
    if (s.sniPlace) return s.modelRect(*s.sniPlace);
    // The panel has not said where the item is yet: the likeliest place on it.
    s.refreshLayout();
    return s.modelRect(
        guessedIconPlace(static_cast<int>(AppKit::NSStatusBar::systemStatusBar().thickness()), s.monitors, s.usable));
}

std::optional<RootRect> X11Backend::State::trayIconPlace() {
    Freed t(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, trayIcon, screen->root, 0, 0), nullptr));
    if (!t) return std::nullopt;
    return RootRect{t->dst_x, t->dst_y, iconWidth, iconHeight};
}

void X11Backend::State::followManagedWindow(const xcb_configure_notify_event_t& ev, bool synthetic) {
    auto n = numberOfXWindow.find(ev.window);
    if (n == numberOfXWindow.end()) return;
    Win& win = windows[n->second];
    if (win.overrideRedirect || !wmRunning) return;  // unmanaged windows are where we put them
    // A synthetic notice from the manager gives root coordinates; a real one is relative to the manager's frame.
    int x = ev.x, y = ev.y;
    if (!synthetic) {
        Freed t(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, win.id, screen->root, 0, 0), nullptr));
        if (!t) return;
        x = t->dst_x;
        y = t->dst_y;
    }
    const double top = win.decorated ? kTitleBar : 0;
    const CGRect frame = AppKit::CGRectMake(x, screenHeight() - y - ev.height, ev.width, ev.height + top);
    if (frame == win.frame) return;
    if (frame.size != win.frame.size) win.dirty = true;
    win.frame = frame;  // already there: the model's move asks nothing of the server
    if (auto w = win.model.lock()) w->setFrame(frame);
}

std::uint32_t X11Backend::xWindowFor(long windowNumber) const {
    auto it = s_->windows.find(windowNumber);
    return it != s_->windows.end() && it->second.mapped ? it->second.id : 0;
}

namespace {
// The status bar's own windows: on X11 the item lives in the panel only.
bool isStatusBarWindow(const AppKit::NSWindow& window) {
    for (const auto& item : AppKit::NSStatusBar::systemStatusBar().items())
        if (item->button() && item->button()->window().get() == &window) return true;
    return false;
}
}  // namespace

void X11Backend::windowChanged(AppKit::NSWindow& window) {
    State& s = *s_;
    if (isStatusBarWindow(window)) return;
    const long number = window.windowNumber();
    auto it = s.windows.find(number);
    const bool show = window.isVisible() && window.alphaValue() > 0 && !window.frame().isEmpty();
    if (!show) {
        if (it != s.windows.end() && it->second.mapped) {
            xcb_unmap_window(s.c, it->second.id);
            it->second.mapped = false;
            xcb_flush(s.c);
        }
        return;
    }
    if (it == s.windows.end()) {
        State::Win win;
        win.id = xcb_generate_id(s.c);
        win.model = window.self();
        // Dialogs (our modal panels) are managed by the window manager like titled windows.
        const bool titled = (window.styleMask() & AppKit::NSWindowStyleMaskTitled) != 0;
        const bool dialog = isDialogWindow(window);
        win.overrideRedirect = !titled && !dialog;
        win.decorated = titled && s.wmRunning;
        win.frame = window.frame();
        const CGRect f = win.frame;
        // With the manager's default gravity a position asked for is its frame's top left, title bar included.
        const int top = s.xTop(f);
        const std::uint32_t mask = XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
        const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE, win.overrideRedirect ? 1u : 0u,
                                        XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                            XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                            XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                            XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        const auto width = std::max<uint16_t>(1, std::lround(f.width()));
        const auto height = static_cast<std::uint16_t>(win.contentHeight());
        xcb_create_window(s.c, XCB_COPY_FROM_PARENT, win.id, s.screen->root, static_cast<int16_t>(f.minX()),
                          static_cast<int16_t>(top), width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          s.screen->root_visual, mask, values);
        if (!win.overrideRedirect) {
            ManagedWindowHints hints;
            hints.title = win.title = window.title;
            if (dynamic_cast<const AppKit::NSPanel*>(&window)) {
                // A panel belongs to the program's main window: the manager keeps it with that one.
                hints.role = WindowRole::utility;
                auto& app = AppKit::NSApplication::shared();
                for (const auto& owner : {app.mainWindow(), app.keyWindow()})
                    if (owner && owner.get() != &window && !hints.transientFor)
                        hints.transientFor = xWindowFor(owner->windowNumber());
            }
            hints.keepAbove = window.level() > AppKit::NSNormalWindowLevel;
            hints.x = static_cast<int>(f.minX());
            hints.y = top;
            hints.width = width;
            hints.height = height;
            setManagedWindowHints(s.c, win.id, s.wm, hints);
        }
        if (dialog)
            markDialogWindow(s.c, win.id, static_cast<int>(f.minX()), s.xTop(f),
                             static_cast<int>(std::lround(f.width())), static_cast<int>(std::lround(f.height())));
        it = s.windows.emplace(number, win).first;
        s.numberOfXWindow[win.id] = number;
    }
    State::Win& win = it->second;
    if (!win.overrideRedirect && window.title != win.title) setWindowTitle(s.c, win.id, s.wm, win.title = window.title);
    const CGRect f = window.frame();
    if (f != win.frame || !win.mapped) {
        if (f.size != win.frame.size) win.dirty = true;
        win.frame = f;
        const std::uint32_t geometry[] = {static_cast<std::uint32_t>(static_cast<int32_t>(std::lround(f.minX()))),
                                          static_cast<std::uint32_t>(static_cast<int32_t>(s.xTop(f))),
                                          static_cast<std::uint32_t>(std::max(1L, std::lround(f.width()))),
                                          static_cast<std::uint32_t>(win.contentHeight())};
        xcb_configure_window(
            s.c, win.id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
            geometry);
        // A round window (a layer whose corner radius is half its side) is cut to its circle.
        const auto& content = window.contentView();
        const auto layer = content ? content->layer() : nullptr;
        const double side = std::min(f.width(), f.height());
        const bool round = layer && side > 0 && layer->cornerRadius * 2 >= side - 0.5;
        if (s.hasShape && (round || win.shaped)) {
            const xcb_pixmap_t mask = xcb_generate_id(s.c);
            const auto w = static_cast<std::uint16_t>(geometry[2]), h = static_cast<std::uint16_t>(geometry[3]);
            xcb_create_pixmap(s.c, 1, mask, win.id, w, h);
            const xcb_gcontext_t gc = xcb_generate_id(s.c);
            const std::uint32_t fg[] = {0};
            xcb_create_gc(s.c, gc, mask, XCB_GC_FOREGROUND, fg);
            xcb_rectangle_t all{0, 0, w, h};
            xcb_poly_fill_rectangle(s.c, mask, gc, 1, &all);
            const std::uint32_t on[] = {1};
            xcb_change_gc(s.c, gc, XCB_GC_FOREGROUND, on);
            if (round) {
                xcb_arc_t arc{0, 0, w, h, 0, 360 * 64};
                xcb_poly_fill_arc(s.c, mask, gc, 1, &arc);
            } else {
                xcb_poly_fill_rectangle(s.c, mask, gc, 1, &all);
            }
            xcb_shape_mask(s.c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, win.id, 0, 0, mask);
            xcb_free_gc(s.c, gc);
            xcb_free_pixmap(s.c, mask);
            win.shaped = round;
        }
    }
    if (!win.mapped) {
        // The screen as it is without this window: captures that leave it out read this picture.
        xcb_flush(s.c);
        if (Shot fresh; s.shmSnapshot(0, 0, s.screen->width_in_pixels, s.screen->height_in_pixels, fresh)) {
            s.beforeMap = std::move(fresh);
            s.beforeMapFromPortal = false;
        }
        xcb_map_window(s.c, win.id);
        win.mapped = true;
        win.dirty = true;
    }
    // Stacking: every mapped window in the model's screen order, back to front.
    xcb_window_t below = XCB_NONE;
    for (const auto& w : AppKit::NSApplication::shared().windowsInScreenOrder()) {
        auto found = s.windows.find(w->windowNumber());
        if (found == s.windows.end() || !found->second.mapped) continue;
        if (below != XCB_NONE) {
            const std::uint32_t v[] = {below, XCB_STACK_MODE_ABOVE};
            xcb_configure_window(s.c, found->second.id, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, v);
        } else {
            const std::uint32_t v[] = {XCB_STACK_MODE_ABOVE};
            xcb_configure_window(s.c, found->second.id, XCB_CONFIG_WINDOW_STACK_MODE, v);
        }
        below = found->second.id;
    }
    xcb_flush(s.c);
}

void X11Backend::windowNeedsDisplay(AppKit::NSWindow& window) {
    auto it = s_->windows.find(window.windowNumber());
    if (it != s_->windows.end()) it->second.dirty = true;
}

void X11Backend::windowClosed(AppKit::NSWindow& window) {
    auto it = s_->windows.find(window.windowNumber());
    if (it == s_->windows.end()) return;
    xcb_destroy_window(s_->c, it->second.id);
    s_->numberOfXWindow.erase(it->second.id);
    s_->windows.erase(it);
    // A dialog closed over another (a "Replace?" over the save panel): the keys go back to that one.
    const auto order = AppKit::NSApplication::shared().windowsInScreenOrder();
    for (auto w = order.rbegin(); w != order.rend(); ++w)
        if (&**w != &window && isDialogWindow(**w))
            if (const auto id = xWindowFor((*w)->windowNumber())) {
                focusDialogWindow(s_->c, s_->screen->root, id);
                break;
            }
    xcb_flush(s_->c);
}

void X11Backend::cursorHiddenChanged(bool hidden) {
    State& s = *s_;
    // The pointer is hidden while the program picks: it takes the pointer and
    // the keyboard (motion, clicks, Escape reach it wherever the pointer is)
    // and shows a blank cursor; XFixes hides the pointer for the rest.
    if (hidden) {
        if (!s.blankCursor) {
            const xcb_pixmap_t pixmap = xcb_generate_id(s.c);
            xcb_create_pixmap(s.c, 1, pixmap, s.screen->root, 1, 1);
            s.blankCursor = xcb_generate_id(s.c);
            xcb_create_cursor(s.c, s.blankCursor, pixmap, pixmap, 0, 0, 0, 0, 0, 0, 0, 0);
            xcb_free_pixmap(s.c, pixmap);
        }
        Freed pointer(xcb_grab_pointer_reply(
            s.c,
            xcb_grab_pointer(
                s.c, 0, s.screen->root,
                XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, s.blankCursor, XCB_CURRENT_TIME),
            nullptr));
        Freed keyboard(xcb_grab_keyboard_reply(
            s.c, xcb_grab_keyboard(s.c, 0, s.screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
        s.grabbing = (pointer && pointer->status == XCB_GRAB_STATUS_SUCCESS) ||
                     (keyboard && keyboard->status == XCB_GRAB_STATUS_SUCCESS);
        if (s.hasXFixes) xcb_xfixes_hide_cursor(s.c, s.screen->root);
    } else {
        if (s.grabbing) {
            xcb_ungrab_pointer(s.c, XCB_CURRENT_TIME);
            xcb_ungrab_keyboard(s.c, XCB_CURRENT_TIME);
            s.grabbing = false;
        }
        if (s.hasXFixes) xcb_xfixes_show_cursor(s.c, s.screen->root);
    }
    xcb_flush(s.c);
}

void X11Backend::globalMonitorMaskChanged(AppKit::NSEventMask mask) {
    State& s = *s_;
    if (!s.hasXInput2) return;
    // Raw events tell of motion and clicks over other programs' windows too.
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
             mask ? std::uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                                  XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE}
                  : 0u};
    xcb_input_xi_select_events(s.c, s.screen->root, 1, &select.head);
    xcb_flush(s.c);
}

bool X11Backend::pointerGrabbed() const { return s_->grabbing; }
bool X11Backend::windowManagerRunning() const { return s_->wmRunning; }

void X11Backend::statusItemChanged(AppKit::NSStatusItem& item) {
    State& s = *s_;
    if (s.statusNotifier) {
        s.statusNotifier->changed();
        return;
    }
    if (s.followingTray && s.statusItem.lock().get() == &item) {
        const auto& items = AppKit::NSStatusBar::systemStatusBar().items();
        const bool onBar = std::any_of(items.begin(), items.end(), [&](const auto& i) { return i.get() == &item; });
        if (!onBar) {
            // Removed from the bar: off the tray too, and no more following.
            s.undockTrayIcon();
            s.followingTray = false;
            return;
        }
        if (s.trayIcon) s.dockTrayIcon();  // a new image may want a new size; docking again is harmless
        return;
    }
    if (s.statusTried) return;
    s.statusTried = true;
    s.statusItem = item.shared_from_this();
    std::string why;
    s.statusNotifier = StatusNotifier::start(item.shared_from_this(), &why);
    if (!s.statusNotifier) {
        s.followTray(why);
        return;
    }
    s.statusNotifier->onActivatedAt([&s](int x, int y) {
        // The panel clicked the item there: its place is the panel's band at that point.
        s.refreshLayout();
        s.sniPlace = iconPlaceAround(x, y, static_cast<int>(AppKit::NSStatusBar::systemStatusBar().thickness()),
                                     s.monitors, s.usable);
    });
}

void X11Backend::State::followTray(const std::string& why) {
    followingTray = true;
    // A tray that starts later says so with a MANAGER message on the root.
    const std::uint32_t rootMask[] = {kRootMask};
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, rootMask);
    Freed owner(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, TRAY_SELECTION), nullptr));
    trayManager = owner ? owner->owner : XCB_NONE;
    if (chooseStatusRoute(false, trayManager != XCB_NONE) == StatusRoute::trayIcon) {
        dockTrayIcon();
        return;
    }
    // Said once: the program stays reachable through its global shortcuts.
    statusProblem = noStatusAreaLine(why);
    std::fprintf(stderr, "%s\n", statusProblem.c_str());
}

void X11Backend::State::dockTrayIcon() {
    auto item = statusItem.lock();
    if (!item || trayManager == XCB_NONE) return;
    const auto image = item->button() ? item->button()->image() : nullptr;
    const AppKit::CGSize imageSize = image ? image->size() : AppKit::CGSize{16, 16};
    const int side = trayIconSide(imageSize.width, imageSize.height);
    if (!trayIcon) {
        trayIcon = xcb_generate_id(c);
        iconWidth = iconHeight = side;
        // The panel's own background shows around the image.
        const std::uint32_t values[] = {XCB_BACK_PIXMAP_PARENT_RELATIVE,
                                        XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                            XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, trayIcon, screen->root, 0, 0, static_cast<std::uint16_t>(side),
                          static_cast<std::uint16_t>(side), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP | XCB_CW_EVENT_MASK, values);
        const auto info = xembedInfo(true);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, trayIcon, XEMBED_INFO, XEMBED_INFO, 32, info.size(), info.data());
        static const char kClass[] = "vexil\0Vexil";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, trayIcon, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass,
                            kClass);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, trayIcon, NET_WM_NAME, UTF8_STRING, 8, 5, "Vexil");
    }
    if (side != traySide) {
        traySide = side;
        const auto hints = minimumSizeHints(side, side);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, trayIcon, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                            hints.size(), hints.data());
    }
    if (!trayDocked) {
        // Hear when this manager goes away (its window is destroyed).
        const std::uint32_t managerMask[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_change_window_attributes(c, trayManager, XCB_CW_EVENT_MASK, managerMask);
        const auto request = dockRequest(trayManager, TRAY_OPCODE, trayIcon, XCB_CURRENT_TIME);
        xcb_send_event(c, 0, trayManager, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
        trayDocked = true;
        statusProblem.clear();
    }
    drawTrayIcon();
    xcb_flush(c);
}

void X11Backend::State::undockTrayIcon() {
    if (auto item = statusItem.lock()) item->panelFrame.reset();
    if (trayIcon) xcb_destroy_window(c, trayIcon);
    trayIcon = XCB_NONE;
    trayDocked = false;
    traySide = 0;
    xcb_flush(c);
}

void X11Backend::State::drawTrayIcon() {
    auto item = statusItem.lock();
    if (!trayIcon || !item || iconWidth <= 0 || iconHeight <= 0) return;
    xcb_clear_area(c, 0, trayIcon, 0, 0, 0, 0);  // back to the panel's background
    cairo_surface_t* surface = cairo_xcb_surface_create(c, trayIcon, visual, iconWidth, iconHeight);
    cairo_t* cr = cairo_create(surface);
    {
        CoreGraphics::CairoContext ctx(cr, iconHeight);
        const CGRect bounds = AppKit::CGRectMake(0, 0, iconWidth, iconHeight);
        if (item->menu && item->menu->isOpen())
            ctx.fillRoundedRect(CoreGraphics::CGRectInset(bounds, 1, 1), 4, CoreGraphics::RGBA{0, 0, 0, 0.15});
        const auto& button = item->button();
        if (auto image = button ? button->image() : nullptr) {
            // The image at its own size, smaller only when the panel gives less room; with a light
            // outline, so a dark image reads on a dark panel too.
            if (auto bitmap = image->bitmap(); bitmap && !bitmap->empty())
                image = std::make_shared<AppKit::NSImage>(
                    std::make_shared<CoreGraphics::Image>(withLightOutline(*bitmap)),
                    AppKit::CGSize{image->size().width * (bitmap->width() + 2) / bitmap->width(),
                                   image->size().height * (bitmap->height() + 2) / bitmap->height()});
            AppKit::CGSize size = image->size();
            const double room = std::max(1, std::min(iconWidth, iconHeight) - 2);
            if (const double most = std::max(size.width, size.height); most > room) {
                size.width *= room / most;
                size.height *= room / most;
            }
            image->drawInRect(ctx, AppKit::CGRectMake((iconWidth - size.width) / 2, (iconHeight - size.height) / 2,
                                                      size.width, size.height));
        } else if (button && !button->title().empty()) {
            const auto s = button->font->sizeOfString(button->title());
            ctx.drawText(button->title(), AppKit::CGRectMake(1, (iconHeight - s.height) / 2, iconWidth - 2, s.height),
                         button->font->spec(), CoreGraphics::RGBA{0, 0, 0, 0.85});
        }
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
}

void X11Backend::State::trayIconClicked(int button) {
    auto item = statusItem.lock();
    if (!item) return;
    // Where the panel put the icon: the menu opens under it (above, on a bottom panel).
    Freed t(xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, trayIcon, screen->root, 0, 0), nullptr));
    if (t)
        item->panelFrame = AppKit::CGRectMake(t->dst_x, screenHeight() - t->dst_y - iconHeight, iconWidth, iconHeight);
    AppKit::NSApplication::shared().inputStatusItemClicked(item, button);
    drawTrayIcon();
}

void X11Backend::menuOpened(AppKit::NSMenu&) {
    State& s = *s_;
    if (s.trayIcon) s.drawTrayIcon();
    if (s.menuGrab || s.grabbing) return;
    // Our menus are windows of ours: holding the pointer and keys, a click
    // elsewhere or Escape reaches the menu and closes it, as a panel's would.
    Freed pointer(xcb_grab_pointer_reply(
        s.c,
        xcb_grab_pointer(s.c, 1, s.screen->root,
                         XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE,
                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr));
    std::free(xcb_grab_keyboard_reply(
        s.c, xcb_grab_keyboard(s.c, 1, s.screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    s.menuGrab = pointer && pointer->status == XCB_GRAB_STATUS_SUCCESS;
    xcb_flush(s.c);
}

void X11Backend::menuClosed(AppKit::NSMenu&) {
    State& s = *s_;
    if (AppKit::MenuTracker::shared().isTracking()) return;  // a submenu closed; the menu is still open
    if (s.menuGrab && !s.grabbing) {
        xcb_ungrab_pointer(s.c, XCB_CURRENT_TIME);
        xcb_ungrab_keyboard(s.c, XCB_CURRENT_TIME);
    }
    s.menuGrab = false;
    if (s.trayIcon) s.drawTrayIcon();
    xcb_flush(s.c);
}

std::uint32_t X11Backend::trayIconWindow() const { return s_->trayDocked ? s_->trayIcon : 0; }

std::string X11Backend::statusItemService() const {
    return s_->statusNotifier ? s_->statusNotifier->serviceName() : std::string();
}

const std::string& X11Backend::statusItemProblem() const { return s_->statusProblem; }
const std::string& X11Backend::captureProblem() const { return s_->captureProblem; }

bool X11Backend::registerHotKey(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifiers) {
    const auto sym = keysymForKeyCode(keyCode);
    if (!sym) return false;
    Freed<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(s_->keysyms, *sym));
    if (!codes || codes.p[0] == XCB_NO_SYMBOL) return false;
    const std::uint16_t base = xModifiers(modifiers);
    std::vector<xcb_void_cookie_t> cookies;
    for (const auto extra : kLockVariants)
        cookies.push_back(xcb_grab_key_checked(s_->c, 1, s_->screen->root, base | extra, codes.p[0],
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    for (auto cookie : cookies)
        if (xcb_generic_error_t* e = xcb_request_check(s_->c, cookie)) {
            refused = true;  // BadAccess: another program holds the combination
            std::free(e);
        }
    if (refused) {
        for (const auto extra : kLockVariants) xcb_ungrab_key(s_->c, codes.p[0], s_->screen->root, base | extra);
        xcb_flush(s_->c);
        return false;
    }
    s_->hotKeys.insert({keyCode, AppKit::HotKeyBinder::normalized(modifiers)});
    return true;
}

void X11Backend::unregisterHotKey(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifiers) {
    const auto sym = keysymForKeyCode(keyCode);
    if (!sym || !s_->hotKeys.erase({keyCode, AppKit::HotKeyBinder::normalized(modifiers)})) return;
    Freed<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(s_->keysyms, *sym));
    if (!codes || codes.p[0] == XCB_NO_SYMBOL) return;
    for (const auto extra : kLockVariants)
        xcb_ungrab_key(s_->c, codes.p[0], s_->screen->root, xModifiers(modifiers) | extra);
    xcb_flush(s_->c);
}

void X11Backend::pasteboardWritten() {
    const auto text = AppKit::NSPasteboard::generalPasteboard()->stringForType(AppKit::NSPasteboardTypeString);
    s_->clipboardText = text.value_or("");
    xcb_set_selection_owner(s_->c, s_->clipboardOwner, s_->CLIPBOARD, XCB_CURRENT_TIME);
    s_->ownsClipboard = true;
    xcb_flush(s_->c);
}

void X11Backend::openURL(const std::string& url) {
    // xdg-open in a child of its own; the URL is one argument, never shell text.
    const pid_t pid = fork();
    if (pid == 0) {
        if (fork() == 0) {
            execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    if (pid > 0) waitpid(pid, nullptr, 0);  // the grandchild runs on, adopted by init
}

void X11Backend::beep() {
    xcb_bell(s_->c, 0);
    xcb_flush(s_->c);
}

std::shared_ptr<CoreGraphics::Image> X11Backend::captureScreen(CGRect rect, long excludeWindowsFrom) {
    State& s = *s_;
    const int w = static_cast<int>(std::lround(rect.width())), h = static_cast<int>(std::lround(rect.height()));
    if (w <= 0 || h <= 0) return nullptr;
    const int x0 = static_cast<int>(std::floor(rect.minX())), y0 = static_cast<int>(std::floor(rect.minY()));
    const int sw = s.screen->width_in_pixels, sh = s.screen->height_in_pixels;
    // Our windows at or above the excluded one are on screen: read the picture from before they mapped.
    bool useSnapshot = false;
    if (excludeWindowsFrom != 0) {
        bool from = false;
        for (const auto& win : AppKit::NSApplication::shared().windowsInScreenOrder()) {
            if (win->windowNumber() == excludeWindowsFrom) from = true;
            if (from && xWindowFor(win->windowNumber())) useSnapshot = true;
        }
    }
    Shot live;
    const Shot* shot = &s.beforeMap;
    if (!useSnapshot) {
        const int cx = std::clamp(x0, 0, sw), cy = std::clamp(y0, 0, sh);
        const int cw = std::clamp(x0 + w, 0, sw) - cx, ch = std::clamp(y0 + h, 0, sh) - cy;
        if (s.shmSnapshot(cx, cy, cw, ch, live))
            shot = &live;
        else if (!s.portalSnapshot())
            return nullptr;
    } else if (s.beforeMap.pixels.empty() && !s.portalSnapshot()) {
        return nullptr;
    }
    auto out = std::make_shared<CoreGraphics::Image>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int px = x0 + x - shot->x, py = y0 + y - shot->y;
            CoreGraphics::RGBA p{0, 0, 0, 1};  // off screen: black, as an empty desktop
            if (px >= 0 && py >= 0 && px < shot->width && py < shot->height) {
                const std::uint32_t v = shot->pixels[static_cast<std::size_t>(py) * shot->width + px];
                p = {((v >> 16) & 0xff) / 255.0, ((v >> 8) & 0xff) / 255.0, (v & 0xff) / 255.0, 1};
            }
            out->setPixel(x, y, p);
        }
    return out;
}

void X11Backend::State::serveSelection(const xcb_selection_request_event_t& r) {
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.requestor = r.requestor;
    n.selection = r.selection;
    n.target = r.target;
    n.time = r.time;
    n.property = XCB_NONE;
    const xcb_atom_t property = r.property != XCB_NONE ? r.property : r.target;
    if (r.selection == CLIPBOARD && ownsClipboard) {
        if (r.target == TARGETS) {
            const xcb_atom_t targets[] = {TARGETS, UTF8_STRING};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, XCB_ATOM_ATOM, 32, 2, targets);
            n.property = property;
        } else if (r.target == UTF8_STRING) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, property, UTF8_STRING, 8, clipboardText.size(),
                                clipboardText.data());
            n.property = property;
        }
    }
    xcb_send_event(c, 0, r.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
}

void X11Backend::State::dispatch(xcb_generic_event_t* e) {
    auto& app = AppKit::NSApplication::shared();
    const std::uint8_t type = e->response_type & 0x7f;
    switch (type) {
        case XCB_EXPOSE: {
            auto* ev = reinterpret_cast<xcb_expose_event_t*>(e);
            if (trayIcon && ev->window == trayIcon && ev->count == 0) drawTrayIcon();
            if (auto n = numberOfXWindow.find(ev->window); n != numberOfXWindow.end()) windows[n->second].dirty = true;
            break;
        }
        case XCB_MOTION_NOTIFY: {
            auto* ev = reinterpret_cast<xcb_motion_notify_event_t*>(e);
            const auto p = eventPoint(ev->event, ev->event_x, ev->event_y, ev->root_x, ev->root_y);
            if (buttonDown >= 0)
                app.inputMouseDragged(p, buttonDown, modelModifiers(ev->state));
            else
                app.inputMouseMoved(p, modelModifiers(ev->state));
            break;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE: {
            auto* ev = reinterpret_cast<xcb_button_press_event_t*>(e);
            if (trayIcon && ev->event == trayIcon) {
                // The icon is the status item: a press clicks it; its release belongs to that click.
                if (type == XCB_BUTTON_PRESS && (ev->detail == 1 || ev->detail == 3))
                    trayIconClicked(ev->detail == 3 ? 1 : 0);
                break;
            }
            const auto p = eventPoint(ev->event, ev->event_x, ev->event_y, ev->root_x, ev->root_y);
            if (ev->detail >= 4 && ev->detail <= 7) {  // wheel: press only
                if (type == XCB_BUTTON_PRESS) {
                    const double dy = ev->detail == 4 ? 1 : ev->detail == 5 ? -1 : 0;
                    const double dx = ev->detail == 6 ? 1 : ev->detail == 7 ? -1 : 0;
                    app.inputScrollWheel(p, dx, dy, modelModifiers(ev->state));
                }
                break;
            }
            const int button = ev->detail == 1 ? 0 : ev->detail == 3 ? 1 : 2;
            if (type == XCB_BUTTON_PRESS) {
                // Double-click time as most desktops set it.
                clickCount = (button == lastClickButton && ev->time - lastClickTime < 400) ? clickCount + 1 : 1;
                lastClickTime = ev->time;
                lastClickButton = button;
                buttonDown = button;
                app.inputMouseDown(p, button, clickCount, modelModifiers(ev->state));
            } else {
                buttonDown = -1;
                app.inputMouseUp(p, button, clickCount, modelModifiers(ev->state));
            }
            break;
        }
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE: {
            auto* ev = reinterpret_cast<xcb_key_press_event_t*>(e);
            const xcb_keysym_t sym = xcb_key_symbols_get_keysym(keysyms, ev->detail, 0);
            const auto code = keyCodeForKeysym(sym);
            if (!code) break;
            const auto mods = modelModifiers(ev->state);
            if (ev->event == screen->root && hotKeys.count({*code, AppKit::HotKeyBinder::normalized(mods)})) {
                if (type == XCB_KEY_PRESS) app.inputHotKeyPressed(*code, mods);
                break;
            }
            const xcb_keysym_t shown = xcb_key_symbols_get_keysym(keysyms, ev->detail, (ev->state & kXShift) ? 1 : 0);
            std::string chars;
            if (shown >= 0x20 && shown < 0x7f)
                chars = std::string(1, static_cast<char>(shown));
            else if (shown == 0xff0d)
                chars = "\r";
            else if (shown == 0xff1b)
                chars = "\x1b";
            else if (shown == 0xff09)
                chars = "\t";
            else if (shown == 0xff08)
                chars = "\x7f";
            if (type == XCB_KEY_PRESS)
                app.inputKeyDown(*code, chars, mods);
            else
                app.inputKeyUp(*code, chars, mods);
            break;
        }
        case XCB_CLIENT_MESSAGE: {
            auto* ev = reinterpret_cast<xcb_client_message_event_t*>(e);
            if (ev->type == MANAGER && followingTray && ev->data.data32[1] == TRAY_SELECTION &&
                ev->data.data32[2] != trayManager) {
                // A tray started (or replaced the one we were in): dock there.
                trayManager = ev->data.data32[2];
                trayDocked = false;
                dockTrayIcon();
                break;
            }
            if (ev->type == WM_PROTOCOLS && ev->data.data32[0] == WM_DELETE_WINDOW)
                if (auto n = numberOfXWindow.find(ev->window); n != numberOfXWindow.end())
                    if (auto w = windows[n->second].model.lock()) w->performClose();
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            auto* ev = reinterpret_cast<xcb_configure_notify_event_t*>(e);
            if (ev->event == screen->root) {
                // The root resized, or a window on it moved: panels may have too.
                if (ev->window == screen->root || !numberOfXWindow.count(ev->window)) layoutStale = true;
                break;
            }
            if (ev->event == ev->window && numberOfXWindow.count(ev->window))
                followManagedWindow(*ev, (e->response_type & 0x80) != 0);
            if (trayIcon && ev->window == trayIcon && (ev->width != iconWidth || ev->height != iconHeight)) {
                iconWidth = ev->width;  // the size the panel gave the icon
                iconHeight = ev->height;
                drawTrayIcon();
            }
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* ev = reinterpret_cast<xcb_destroy_notify_event_t*>(e);
            if (ev->event == screen->root) {
                layoutStale = true;
                // The manager's check window went with it.
                if (wmRunning) wmRunning = X11Display::windowManagerRunning(c, screen->root, wm);
            }
            if (trayManager == XCB_NONE || ev->window != trayManager) break;
            // The tray ended: its save-set put the icon on the root; keep it out
            // of sight until a tray asks for icons again.
            trayManager = XCB_NONE;
            trayDocked = false;
            if (auto item = statusItem.lock()) item->panelFrame.reset();
            if (trayIcon) xcb_unmap_window(c, trayIcon);
            Freed owner(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, TRAY_SELECTION), nullptr));
            if (owner && owner->owner != XCB_NONE && owner->owner != ev->window) {
                trayManager = owner->owner;
                dockTrayIcon();
            }
            break;
        }
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY: {
            // A panel came or went (its struts with it).
            const auto* ev = reinterpret_cast<xcb_map_notify_event_t*>(e);
            if (type == XCB_MAP_NOTIFY)
                if (auto n = numberOfXWindow.find(ev->window); n != numberOfXWindow.end())
                    if (auto w = windows[n->second].model.lock(); w && isDialogWindow(*w))
                        focusDialogWindow(c, screen->root, ev->window);
            if (ev->event != screen->root || numberOfXWindow.count(ev->window) || ev->window == clipboardOwner) break;
            layoutStale = true;
            if (type == XCB_MAP_NOTIFY) {
                // A panel may set its struts once mapped: hear of its properties.
                const std::uint32_t mask[] = {XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
                xcb_change_window_attributes(c, ev->window, XCB_CW_EVENT_MASK, mask);
            }
            break;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* ev = reinterpret_cast<xcb_property_notify_event_t*>(e);
            if (ev->window != screen->root) {
                if (!numberOfXWindow.count(ev->window) && ev->window != clipboardOwner) layoutStale = true;
                break;
            }
            layoutStale = true;  // the manager's client list or work area
            if (ev->atom == wm.supportingCheck) wmRunning = X11Display::windowManagerRunning(c, screen->root, wm);
            break;
        }
        case XCB_SELECTION_REQUEST:
            serveSelection(*reinterpret_cast<xcb_selection_request_event_t*>(e));
            break;
        case XCB_SELECTION_CLEAR:
            ownsClipboard = false;
            break;
        case XCB_SELECTION_NOTIFY: {
            auto* ev = reinterpret_cast<xcb_selection_notify_event_t*>(e);
            if (ev->property == XCB_NONE || ev->requestor != clipboardOwner) break;
            Freed r(xcb_get_property_reply(
                c, xcb_get_property(c, 1, clipboardOwner, ev->property, XCB_ATOM_ANY, 0, 1 << 22), nullptr));
            if (r && r->type == UTF8_STRING) {
                const auto* data = static_cast<const char*>(xcb_get_property_value(r.p));
                app.inputPasteboardChangedByOtherProgram(std::string(data, xcb_get_property_value_length(r.p)));
            }
            break;
        }
        case XCB_MAPPING_NOTIFY:
            xcb_refresh_keyboard_mapping(keysyms, reinterpret_cast<xcb_mapping_notify_event_t*>(e));
            break;
        case XCB_GE_GENERIC: {
            auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(e);
            // While we hold the pointer its clicks come as core events already.
            if (!hasXInput2 || ge->extension != xinputOpcode || grabbing || menuGrab) break;
            const auto kind = ge->event_type;
            if (kind != XCB_INPUT_RAW_MOTION && kind != XCB_INPUT_RAW_BUTTON_PRESS &&
                kind != XCB_INPUT_RAW_BUTTON_RELEASE)
                break;
            // Over a window of ours the core events already tell the model.
            Freed q(xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr));
            if (!q || numberOfXWindow.count(q->child)) break;
            const auto p = modelPoint(q->root_x, q->root_y);
            const auto mods = modelModifiers(q->mask);
            if (kind == XCB_INPUT_RAW_MOTION) {
                app.inputMouseMoved(p, mods);
                break;
            }
            const auto detail = reinterpret_cast<xcb_input_raw_button_press_event_t*>(e)->detail;
            if (detail >= 4 && detail <= 7) break;
            const int button = detail == 1 ? 0 : detail == 3 ? 1 : 2;
            if (kind == XCB_INPUT_RAW_BUTTON_PRESS)
                app.inputMouseDown(p, button, 1, mods);
            else
                app.inputMouseUp(p, button, 1, mods);
            break;
        }
        default:
            if (hasRandr && type == randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY) layoutStale = true;
            if (hasXFixes && type == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
                auto* ev = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(e);
                if (ev->selection == CLIPBOARD && ev->owner != XCB_NONE && ev->owner != clipboardOwner)
                    xcb_convert_selection(c, clipboardOwner, CLIPBOARD, UTF8_STRING, VEXIL_SELECTION,
                                          ev->selection_timestamp);
            }
            break;
    }
}

void X11Backend::processPendingEvents() {
    State& s = *s_;
    if (s.lost) return;
    if (s.statusNotifier) {
        s.statusNotifier->process();
        if (!s.statusNotifier->problem().empty()) {
            const std::string why = s.statusNotifier->problem();
            s.statusNotifier.reset();
            s.followTray(why);
        }
    }
    while (xcb_generic_event_t* e = xcb_poll_for_event(s.c)) {
        s.dispatch(e);
        std::free(e);
    }
    if (xcb_connection_has_error(s.c)) {
        connectionLost();
        return;
    }
    for (auto& [number, win] : s.windows) {
        auto window = win.model.lock();
        if (!win.mapped || !window) continue;
        if (win.dirty || window->viewsNeedDisplay) s.draw(win, *window);
    }
    xcb_flush(s.c);
}

std::optional<AppKit::CGPoint> X11Backend::pointerLocation() const {
    if (s_->lost) return std::nullopt;
    Freed q(xcb_query_pointer_reply(s_->c, xcb_query_pointer(s_->c, s_->screen->root), nullptr));
    if (!q) return std::nullopt;
    return s_->modelPoint(q->root_x, q->root_y);
}

void X11Backend::setConnectionLostHandler(std::function<void()> handler) { s_->onConnectionLost = std::move(handler); }

bool X11Backend::connectionLostAlready() const { return s_->lost; }

void X11Backend::connectionLost() {
    State& s = *s_;
    if (s.lost) return;
    s.lost = true;
    // Nothing more comes from this descriptor: off the run loop, so it cannot spin there.
    auto& loop = Foundation::RunLoop::main();
    if (s.source) loop.removeSource(s.source);
    if (s.hook) loop.removeBeforeWaitHook(s.hook);
    s.source = s.hook = 0;
    std::fprintf(stderr, "%s\n", lostDisplayLine(s.displayName, xcb_connection_has_error(s.c)).c_str());
    std::fflush(stderr);
    if (s.onConnectionLost)
        s.onConnectionLost();
    else
        AppKit::NSApplication::shared().terminate();
}

std::string lostDisplayLine(const std::string& display, int xcbError) {
    std::string why;
    switch (xcbError) {
        case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
            why = "an extension it needs is missing";
            break;
        case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
            why = "out of memory";
            break;
        case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
            why = "a request was too long";
            break;
        case XCB_CONN_CLOSED_PARSE_ERR:
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            why = "the display name is not valid";
            break;
        default:
            why = "the X server closed it or went away";
            break;
    }
    return "vexil: lost the connection to the X display " + display + " (" + why + "); quitting.";
}

}  // namespace X11Display
