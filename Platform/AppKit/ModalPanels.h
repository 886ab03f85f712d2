#pragma once
// Alerts and save panels as real windows of the model, drawn by the shared
// renderer like every other window, answered from the keyboard or the
// pointer while the main run loop runs in the modal-panel mode (timers of
// other modes wait; sources and the display keep being served). A display
// backend installs these as the presenters of NSAlert and NSSavePanel; the
// headless backend and the harness keep their scripted answers.

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/AppKit/NSWindow.h"

namespace AppKit {

// Our panels sit above every other window of ours (the library and editor
// windows float above the menu bar's level), below pop-up menus.
inline constexpr NSWindowLevel kModalPanelLevel = NSPopUpMenuWindowLevel - 1;
// Whether a window is one of the panels below (a display shows it as a dialog).
bool isModalPanel(const NSWindow& window);

// Runs the main run loop in the modal-panel mode until `done()` holds or the
// application terminates (false then; the termination's stop is passed on to
// the run that was running before). The previous mode comes back afterwards.
bool runModalUntil(const std::function<bool()>& done);
// Something a modal wait's condition reads has changed: the wait looks again now.
void modalConditionChanged();

// The frame of a panel of `size` centred on the screen that holds the pointer
// (the first screen when no screen holds it), a little above the middle.
CGRect centredPanelFrame(CGSize size);

// An alert in a window of its own: the style's badge, the message in bold, the
// informative text wrapped, the buttons right to left in the order added (the
// first is the default: filled, answered by Return), Escape answers a button
// titled "Cancel" when there is one, Tab and the arrows move the keyboard focus
// between buttons and Space presses the focused one.
class AlertPanel : public NSPanel {
public:
    AlertPanel(const NSAlert& alert);
    static std::shared_ptr<AlertPanel> make(const NSAlert& alert);
    // Shows the panel and waits for the answer (NSAlertFirstButtonReturn + index).
    NSModalResponse run();
    // Attached to `parent`: centred over its top edge instead of the screen.
    NSModalResponse runAttachedTo(NSWindow& parent);

    // What the panel shows and where (tests, pictures).
    const NSAlert& alert() const { return alert_; }
    std::vector<std::string> wrappedInformativeLines() const { return informativeLines_; }
    long focusedButton() const { return focused_; }
    CGRect buttonRect(std::size_t index) const;
    std::optional<NSModalResponse> response() const { return response_; }
    void answer(NSModalResponse response);

    bool canBecomeKeyWindow() const override { return true; }

private:
    friend class AlertPanelView;
    NSAlert alert_;
    std::vector<std::string> informativeLines_;
    std::vector<double> buttonWidths_;
    long focused_ = 0;
    std::optional<NSModalResponse> response_;
    double messageHeight_ = 0, informativeHeight_ = 0;
};

NSModalResponse presentAlertPanel(const NSAlert& alert);

// Where a save panel's name field points: an absolute path or "~/..." is the
// whole destination, anything else a name in `folder`; the first allowed
// extension is added when the name has none of them. Empty when the name is
// empty or names a folder.
std::string savePanelDestination(const std::string& typed, const std::string& folder,
                                 const std::vector<std::string>& allowedFileTypes, const std::string& home);

// Our own save panel: the panel's title and message, the folder line, a name
// field holding the keyboard focus with the proposed name selected up to its
// extension, "Cancel" and the panel's prompt ("Save"). Return saves, Escape
// cancels; an existing file is asked about ("Replace?") before it is chosen;
// a folder that does not exist is said in the panel, which stays open.
class SavePanelWindow : public NSPanel {
public:
    SavePanelWindow(const NSSavePanel& panel, std::string folder);
    static std::shared_ptr<SavePanelWindow> make(const NSSavePanel& panel);
    NSSavePanel::Answer run();

    const std::string& folder() const { return folder_; }
    const std::string& name() const { return name_; }
    // The selected part of the name, as byte offsets [start, end).
    std::pair<std::size_t, std::size_t> selection() const {
        return {std::min(anchor_, caret_), std::max(anchor_, caret_)};
    }
    const std::string& problem() const { return problem_; }
    std::optional<NSSavePanel::Answer> answer() const { return answer_; }

    // The field's editing, as the keys do it.
    void typeText(const std::string& text);
    void save();
    void cancel();

    bool canBecomeKeyWindow() const override { return true; }

private:
    friend class SavePanelView;
    void deleteBackward();
    void deleteForward();
    void moveCaret(int direction, bool extend);
    void caretTo(std::size_t position, bool extend);

    NSSavePanel panel_;
    std::string folder_;
    std::string name_;
    std::size_t anchor_ = 0, caret_ = 0;
    std::string problem_;
    std::optional<NSSavePanel::Answer> answer_;
};

NSSavePanel::Answer presentSavePanelWindow(const NSSavePanel& panel);

}  // namespace AppKit
