#include "Platform/AppKit/NSEvent.h"

#include <algorithm>
#include <vector>

#include "Platform/AppKit/NSApplication.h"

namespace AppKit {

namespace {
struct Monitor {
    NSEventMask mask = 0;
    bool global = false;
    NSEvent::LocalHandler local;
    NSEvent::GlobalHandler globalHandler;
    bool removed = false;
};
std::vector<std::shared_ptr<Monitor>>& monitors() {
    static std::vector<std::shared_ptr<Monitor>> list;
    return list;
}
void globalMaskChanged() { displayBackend().globalMonitorMaskChanged(NSEvent::globalMonitorMask()); }
}  // namespace

long NSEvent::windowNumber() const {
    auto w = window.lock();
    return w ? w->windowNumber() : 0;
}

CGPoint NSEvent::mouseLocation() { return NSApplication::shared().mouseLocation(); }
NSEventModifierFlags NSEvent::currentModifierFlags() { return NSApplication::shared().modifierFlags(); }
unsigned long NSEvent::pressedMouseButtons() { return NSApplication::shared().pressedButtons(); }

NSEvent::MonitorToken NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMask mask, LocalHandler handler) {
    if (!handler) return nullptr;
    auto m = std::make_shared<Monitor>();
    m->mask = mask;
    m->local = std::move(handler);
    monitors().push_back(m);
    return m;
}

NSEvent::MonitorToken NSEvent::addGlobalMonitorForEventsMatchingMask(NSEventMask mask, GlobalHandler handler) {
    if (!handler) return nullptr;
    auto m = std::make_shared<Monitor>();
    m->mask = mask;
    m->global = true;
    m->globalHandler = std::move(handler);
    monitors().push_back(m);
    globalMaskChanged();
    return m;
}

void NSEvent::removeMonitor(const MonitorToken& token) {
    if (!token) return;
    auto& list = monitors();
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& m) { return m.get() == token.get(); });
    if (it == list.end()) return;
    bool global = (*it)->global;
    (*it)->removed = true;
    list.erase(it);
    if (global) globalMaskChanged();
}

std::shared_ptr<NSEvent> NSEvent::runLocalMonitors(std::shared_ptr<NSEvent> event) {
    // A copy: handlers may add or remove monitors; removed ones are skipped.
    auto list = monitors();
    for (const auto& m : list) {
        if (!event) break;
        if (m->global || m->removed || !(m->mask & NSEventMaskFromType(event->type))) continue;
        event = m->local(event);
    }
    return event;
}

void NSEvent::runGlobalMonitors(const NSEvent& event) {
    auto list = monitors();
    for (const auto& m : list) {
        if (!m->global || m->removed || !(m->mask & NSEventMaskFromType(event.type))) continue;
        m->globalHandler(event);
    }
}

std::size_t NSEvent::localMonitorCount() {
    return static_cast<std::size_t>(
        std::count_if(monitors().begin(), monitors().end(), [](const auto& m) { return !m->global; }));
}

std::size_t NSEvent::globalMonitorCount() {
    return static_cast<std::size_t>(
        std::count_if(monitors().begin(), monitors().end(), [](const auto& m) { return m->global; }));
}

NSEventMask NSEvent::globalMonitorMask() {
    NSEventMask mask = 0;
    for (const auto& m : monitors())
        if (m->global) mask |= m->mask;
    return mask;
}

void NSEvent::resetMonitors() {
    for (auto& m : monitors()) m->removed = true;
    monitors().clear();
    globalMaskChanged();
}

}  // namespace AppKit
