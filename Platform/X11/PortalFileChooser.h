#pragma once
// A save panel answered by the desktop portal's FileChooser
// (org.freedesktop.portal.FileChooser.SaveFile on the session bus): the
// panel's title, proposed name, a filter per allowed type and its folder go
// out; the chosen file comes back as a URI in the Request's Response signal,
// which is subscribed before the call. The main run loop keeps serving the
// display in the modal-panel mode while the portal's dialog is up.

#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSSavePanel.h"

namespace X11Display {

// The portal's answer: OK with the chosen path, or a cancel. Nothing when no
// portal answered (none on the bus, the call refused, or the dialog ended
// some other way), with `why` set: the caller shows a panel of its own.
std::optional<AppKit::NSSavePanel::Answer> portalSaveFile(const AppKit::NSSavePanel& panel, std::string* why = nullptr);

// The SaveFile filters: one per allowed type, named by it, matching "*.<type>".
struct PortalFilter {
    std::string name;
    std::string glob;
};
std::vector<PortalFilter> portalFilters(const std::vector<std::string>& allowedFileTypes);

// The path of a file:// URI (%XX escapes undone); empty for other URIs.
std::string pathOfFileURI(const std::string& uri);

}  // namespace X11Display
