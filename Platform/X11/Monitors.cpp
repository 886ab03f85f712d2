#include "Platform/X11/Monitors.h"

#include <xcb/randr.h>

#include "Platform/X11/Atoms.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace X11Display {

namespace {

xcb_atom_t existingAtom(xcb_connection_t* c, const char* name) { return internAtom(c, name, true); }

bool spans(int start, int end, int from, int length) { return start <= from + length - 1 && end >= from; }

}  // namespace

std::optional<Strut> strutFromValues(const std::vector<std::uint32_t>& v, int rootWidth, int rootHeight) {
    if (v.size() < 4) return std::nullopt;
    auto at = [&](std::size_t i) { return static_cast<int>(std::min<std::uint32_t>(v[i], 1u << 20)); };
    Strut s;
    s.left = at(0), s.right = at(1), s.top = at(2), s.bottom = at(3);
    if (v.size() >= 12) {
        s.leftStartY = at(4), s.leftEndY = at(5), s.rightStartY = at(6), s.rightEndY = at(7);
        s.topStartX = at(8), s.topEndX = at(9), s.bottomStartX = at(10), s.bottomEndX = at(11);
    } else {
        s.leftEndY = s.rightEndY = rootHeight - 1;
        s.topEndX = s.bottomEndX = rootWidth - 1;
    }
    return s;
}

std::vector<Monitor> queryMonitors(xcb_connection_t* c, xcb_window_t root, int rootWidth, int rootHeight) {
    std::vector<Monitor> out;
    if (const auto* ext = xcb_get_extension_data(c, &xcb_randr_id); ext && ext->present) {
        auto* v = xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr);
        const bool hasMonitors = v && (v->major_version > 1 || v->minor_version >= 5);
        std::free(v);
        if (hasMonitors)
            if (auto* r = xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr)) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(r); it.rem; xcb_randr_monitor_info_next(&it)) {
                    const auto* m = it.data;
                    if (m->width == 0 || m->height == 0) continue;
                    out.push_back({{m->x, m->y, m->width, m->height}, m->primary != 0});
                }
                std::free(r);
            }
    }
    if (out.empty()) out.push_back({{0, 0, rootWidth, rootHeight}, true});
    std::stable_partition(out.begin(), out.end(), [](const Monitor& m) { return m.primary; });
    return out;
}

std::vector<Strut> queryStruts(xcb_connection_t* c, xcb_window_t root) {
    const xcb_atom_t partial = existingAtom(c, "_NET_WM_STRUT_PARTIAL");
    const xcb_atom_t whole = existingAtom(c, "_NET_WM_STRUT");
    const xcb_atom_t clientList = existingAtom(c, "_NET_CLIENT_LIST");
    if (partial == XCB_NONE && whole == XCB_NONE) return {};
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr);
    const int rootWidth = geometry ? geometry->width : 0, rootHeight = geometry ? geometry->height : 0;
    std::free(geometry);

    // Mapped top-level windows (panels without a manager) and the manager's clients (panels inside frames).
    std::vector<xcb_window_t> candidates;
    if (auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr)) {
        const auto* kids = xcb_query_tree_children(tree);
        std::vector<xcb_get_window_attributes_cookie_t> asks;
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
            asks.push_back(xcb_get_window_attributes(c, kids[i]));
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            auto* a = xcb_get_window_attributes_reply(c, asks[static_cast<std::size_t>(i)], nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE) candidates.push_back(kids[i]);
            std::free(a);
        }
        std::free(tree);
    }
    if (clientList != XCB_NONE)
        if (auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 4096),
                                             nullptr)) {
            const auto* w = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
            const int n = xcb_get_property_value_length(r) / 4;
            for (int i = 0; i < n; ++i)
                if (std::find(candidates.begin(), candidates.end(), w[i]) == candidates.end())
                    candidates.push_back(w[i]);
            std::free(r);
        }

    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> asks;
    for (auto w : candidates)
        asks.push_back({xcb_get_property(c, 0, w, partial, XCB_ATOM_CARDINAL, 0, 12),
                        xcb_get_property(c, 0, w, whole, XCB_ATOM_CARDINAL, 0, 4)});
    std::vector<Strut> out;
    for (auto& [p, s] : asks) {
        std::vector<std::uint32_t> values;
        for (auto cookie : {p, s}) {
            auto* r = xcb_get_property_reply(c, cookie, nullptr);
            if (r && values.empty() && r->format == 32) {
                const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
                values.assign(v, v + xcb_get_property_value_length(r) / 4);
            }
            std::free(r);
        }
        if (auto strut = strutFromValues(values, rootWidth, rootHeight)) out.push_back(*strut);
    }
    return out;
}

std::vector<RootRect> usableAreas(const std::vector<Monitor>& monitors, const std::vector<Strut>& struts, int rootWidth,
                                  int rootHeight) {
    std::vector<RootRect> out;
    for (const auto& m : monitors) {
        const RootRect r = m.rect;
        int left = r.x, top = r.y, right = r.x + r.width, bottom = r.y + r.height;
        for (const auto& s : struts) {
            if (s.top > r.y && spans(s.topStartX, s.topEndX, r.x, r.width)) top = std::max(top, s.top);
            if (s.bottom > 0 && rootHeight - s.bottom < r.y + r.height &&
                spans(s.bottomStartX, s.bottomEndX, r.x, r.width))
                bottom = std::min(bottom, rootHeight - s.bottom);
            if (s.left > r.x && spans(s.leftStartY, s.leftEndY, r.y, r.height)) left = std::max(left, s.left);
            if (s.right > 0 && rootWidth - s.right < r.x + r.width && spans(s.rightStartY, s.rightEndY, r.y, r.height))
                right = std::min(right, rootWidth - s.right);
        }
        out.push_back({left, top, std::max(0, right - left), std::max(0, bottom - top)});
    }
    return out;
}

int monitorNear(const std::vector<Monitor>& monitors, int x, int y) {
    int best = -1;
    long bestDistance = std::numeric_limits<long>::max();
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const RootRect& r = monitors[i].rect;
        if (r.contains(x, y)) return static_cast<int>(i);
        const long dx = x < r.x ? r.x - x : x >= r.x + r.width ? x - (r.x + r.width - 1) : 0;
        const long dy = y < r.y ? r.y - y : y >= r.y + r.height ? y - (r.y + r.height - 1) : 0;
        if (dx * dx + dy * dy < bestDistance) bestDistance = dx * dx + dy * dy, best = static_cast<int>(i);
    }
    return best;
}

RootRect iconPlaceAround(int x, int y, int side, const std::vector<Monitor>& monitors,
                         const std::vector<RootRect>& usable) {
    const int i = monitorNear(monitors, x, y);
    if (i >= 0 && static_cast<std::size_t>(i) < usable.size()) {
        const RootRect m = monitors[static_cast<std::size_t>(i)].rect, u = usable[static_cast<std::size_t>(i)];
        const int uBottom = u.y + u.height, uRight = u.x + u.width;
        if (y < u.y) return {x - (u.y - m.y) / 2, m.y, u.y - m.y, u.y - m.y};
        if (y >= uBottom) {
            const int band = m.y + m.height - uBottom;
            return {x - band / 2, uBottom, band, band};
        }
        if (x < u.x) return {m.x, y - (u.x - m.x) / 2, u.x - m.x, u.x - m.x};
        if (x >= uRight) {
            const int band = m.x + m.width - uRight;
            return {uRight, y - band / 2, band, band};
        }
    }
    return {x - side / 2, y - side / 2, side, side};
}

RootRect guessedIconPlace(int side, const std::vector<Monitor>& monitors, const std::vector<RootRect>& usable) {
    if (monitors.empty()) return {0, 0, side, side};
    const RootRect m = monitors.front().rect;
    const RootRect u = usable.empty() ? m : usable.front();
    const int topBand = u.y - m.y, bottomBand = m.y + m.height - (u.y + u.height);
    if (topBand > 0) return {m.x + m.width - topBand, m.y, topBand, topBand};
    if (bottomBand > 0) return {m.x + m.width - bottomBand, u.y + u.height, bottomBand, bottomBand};
    return {m.x + m.width - side, m.y, side, side};
}

}  // namespace X11Display
