#pragma once
// Save panels. Like alerts, a panel is handed to the installed presenter,
// which answers with a file path or a cancel. Without one (a headless run)
// the panel is reported on standard error and cancelled, so nothing is
// written anywhere unasked. Tests and tools install a `SavePanelScript`.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSAlert.h"

namespace AppKit {

inline constexpr NSModalResponse NSModalResponseOK = 1;
inline constexpr NSModalResponse NSModalResponseCancel = 0;

class NSSavePanel {
public:
    static NSSavePanel savePanel() { return {}; }
    std::string title;
    std::string message;
    std::string prompt;
    bool showsResizeIndicator = true;
    bool showsHiddenFiles = false;
    bool canCreateDirectories = true;
    bool extensionHidden = false;
    std::vector<std::string> allowedFileTypes;  // extensions without the dot
    std::string nameFieldStringValue;
    std::optional<std::string> directory;

    // OK with URL() set to the chosen path, or Cancel. A path chosen without
    // one of the allowed extensions gets the first one appended.
    NSModalResponse runModal();
    const std::optional<std::string>& URL() const { return url_; }

    struct Answer {
        NSModalResponse response = NSModalResponseCancel;
        std::string path;
    };
    using Presenter = std::function<Answer(const NSSavePanel&)>;
    static void setPresenter(Presenter presenter);

private:
    std::optional<std::string> url_;
};

// Records the panels shown while it lives, with the settings each was shown
// with, and answers each with the next scripted answer (cancel when the
// script is empty).
class SavePanelScript {
public:
    struct Shown {
        std::string title;
        std::vector<std::string> allowedFileTypes;
        std::string nameFieldStringValue;
        std::string message;
        std::string prompt;
        std::optional<std::string> directory;
        bool showsResizeIndicator = true;
        bool showsHiddenFiles = false;
        bool canCreateDirectories = true;
        bool extensionHidden = false;
    };
    SavePanelScript();
    ~SavePanelScript();
    SavePanelScript(const SavePanelScript&) = delete;
    SavePanelScript& operator=(const SavePanelScript&) = delete;
    void saveAs(std::string path) { answers_.push_back({NSModalResponseOK, std::move(path)}); }
    void cancel() { answers_.push_back({NSModalResponseCancel, {}}); }
    const std::vector<Shown>& shown() const { return shown_; }

private:
    std::vector<Shown> shown_;
    std::deque<NSSavePanel::Answer> answers_;
};

}  // namespace AppKit
