#pragma once
// The display's monitors (RandR) and the panels along their edges. Monitors
// are the screens the model sees; a panel's strut (_NET_WM_STRUT_PARTIAL, or
// the older _NET_WM_STRUT) keeps our windows off the band it reserves, and
// tells whether a place on a monitor is on a top or a bottom panel. All in
// root coordinates (y down).

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace X11Display {

struct RootRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
    bool operator==(const RootRect&) const = default;
};

struct Monitor {
    RootRect rect;
    bool primary = false;
};

// The space a panel reserves along the root's edges: widths, and the span
// along the edge each one covers (start, end inclusive).
struct Strut {
    int left = 0, right = 0, top = 0, bottom = 0;
    int leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
    int topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
};
// From the property's CARDINALs: 12 (partial) or 4 (whole edges of a root of that size).
std::optional<Strut> strutFromValues(const std::vector<std::uint32_t>& values, int rootWidth, int rootHeight);

// The monitors, primary first (then as RandR lists them); one covering the
// root where RandR gives none.
std::vector<Monitor> queryMonitors(xcb_connection_t* c, xcb_window_t root, int rootWidth, int rootHeight);
// The struts of every mapped top-level window and every window the manager lists.
std::vector<Strut> queryStruts(xcb_connection_t* c, xcb_window_t root);

// Each monitor less the bands the struts reserve on it (a panel along the
// root's top edge takes its band only from the monitors it spans).
std::vector<RootRect> usableAreas(const std::vector<Monitor>& monitors, const std::vector<Strut>& struts, int rootWidth,
                                  int rootHeight);

// The monitor holding the point, else the nearest one (-1: no monitors).
int monitorNear(const std::vector<Monitor>& monitors, int x, int y);

// The status item's place on a panel from a click at (x, y) that the panel
// reports: a side-by-side square across the reserved band the point is in,
// else a square of `side` around the point.
RootRect iconPlaceAround(int x, int y, int side, const std::vector<Monitor>& monitors,
                         const std::vector<RootRect>& usable);
// Where the item most likely sits before the panel has said: the right end
// of the primary monitor's panel band (bottom if only a bottom one is
// reserved), else its top right corner.
RootRect guessedIconPlace(int side, const std::vector<Monitor>& monitors, const std::vector<RootRect>& usable);

}  // namespace X11Display
