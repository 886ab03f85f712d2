#pragma once
// The status item on a Linux panel: a StatusNotifierItem with its menu
// exported as dbusmenu, on the session bus (sd-bus). Panels show the menu
// themselves and send clicks back; both the single and the grouped dbusmenu
// methods are served, since real panels call only the grouped ones. The bus
// is a source of the main run loop.

#include <functional>
#include <memory>
#include <string>

namespace AppKit {
class NSStatusItem;
}

namespace X11Display {

class StatusNotifier {
public:
    // Registers with the panel's watcher (the answer comes later, through the
    // run loop). nullptr with `error` set when there is no session bus or no
    // watcher (no panel with a status area).
    static std::unique_ptr<StatusNotifier> start(const std::shared_ptr<AppKit::NSStatusItem>& item,
                                                 std::string* error = nullptr);
    ~StatusNotifier();
    // The item's menu or look changed: panels fetch the layout again. (A
    // change of the menu alone is also found by itself before each wait, so
    // every panel shows what the model's menu shows, open or not.)
    void changed();
    // The panel activated the item with a click at that root point (the
    // coordinates Activate and ContextMenu carry), before the click enters.
    void onActivatedAt(std::function<void(int x, int y)> handler);
    // The bus name the item registers as.
    const std::string& serviceName() const;
    // The watcher accepted the item / refused it (why; empty until it answers or when accepted).
    bool registered() const;
    const std::string& problem() const;
    // Runs what the bus holds (the run-loop source does this too).
    void process();

    struct State;

private:
    explicit StatusNotifier(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

}  // namespace X11Display
