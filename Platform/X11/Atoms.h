#pragma once
// One round trip for one atom, for the places that need a few by name.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace X11Display {

// XCB_NONE when the server does not answer, or when `onlyIfExists` and no
// client has made the atom yet (nothing then carries it).
inline xcb_atom_t internAtom(xcb_connection_t* c, const char* name, bool onlyIfExists = false) {
    auto* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, onlyIfExists ? 1 : 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

}  // namespace X11Display
