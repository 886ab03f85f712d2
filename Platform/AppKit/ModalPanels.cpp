#include "Platform/AppKit/ModalPanels.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSView.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"

namespace AppKit {

using CoreGraphics::FontSpec;
using CoreGraphics::RGBA;

namespace {

constexpr double kPad = 20;
constexpr double kButtonHeight = 28;
constexpr double kButtonGap = 10;
constexpr std::uint16_t kVK_Space = 49;
constexpr std::uint16_t kVK_KeypadEnter = 76;
constexpr std::uint16_t kVK_Home = 115;
constexpr std::uint16_t kVK_End = 119;
constexpr std::uint16_t kVK_ForwardDelete = 117;
constexpr std::uint16_t kVK_ANSI_A = 0;

const RGBA kPanelBackground{0.95, 0.95, 0.95, 1};
const RGBA kText{0.1, 0.1, 0.1, 1};
const RGBA kSecondaryText{0.3, 0.3, 0.3, 1};
const RGBA kAccent{0.16, 0.45, 0.86, 1};
const RGBA kProblem{0.75, 0.1, 0.1, 1};

int gModalRuns = 0;  // modal loops running now: an answer stops the innermost

FontSpec messageFont() { return FontSpec{"DejaVu Sans", 14, true, false}; }
FontSpec bodyFont() { return FontSpec{"DejaVu Sans", 12, false, false}; }
FontSpec buttonFont() { return FontSpec{"DejaVu Sans", 13, false, false}; }

std::size_t utf8Next(const std::string& s, std::size_t i) {
    if (i >= s.size()) return s.size();
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

std::size_t utf8Prev(const std::string& s, std::size_t i) {
    if (i == 0) return 0;
    --i;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    return i;
}

double textWidth(const std::string& text, const FontSpec& font) {
    return text.empty() ? 0 : CoreGraphics::measureText(text, font).size.width;
}

// Greedy word wrap; a word wider than the line is broken between characters.
std::vector<std::string> wrapText(const std::string& text, const FontSpec& font, double width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string paragraph = text.substr(start, end - start);
        std::string line;
        std::size_t i = 0;
        while (i < paragraph.size()) {
            std::size_t j = paragraph.find(' ', i);
            if (j == std::string::npos) j = paragraph.size();
            std::string word = paragraph.substr(i, j - i);
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (textWidth(candidate, font) <= width) {
                line = candidate;
            } else {
                if (!line.empty()) lines.push_back(line);
                line.clear();
                while (textWidth(word, font) > width) {
                    std::size_t cut = 0;
                    while (cut < word.size() && textWidth(word.substr(0, utf8Next(word, cut)), font) <= width)
                        cut = utf8Next(word, cut);
                    if (cut == 0) cut = utf8Next(word, 0);
                    lines.push_back(word.substr(0, cut));
                    word = word.substr(cut);
                }
                line = word;
            }
            i = j + 1;
        }
        lines.push_back(line);
        if (end >= text.size()) break;
        start = end + 1;
    }
    return lines;
}

double lineHeight(const FontSpec& font) { return std::ceil(CoreGraphics::measureText("Ag", font).size.height); }

void drawLines(CoreGraphics::DrawingContext& ctx, const std::vector<std::string>& lines, double x, double top,
               double width, const FontSpec& font, RGBA color) {
    const double h = lineHeight(font);
    for (const auto& line : lines) {
        ctx.drawText(line, CGRectMake(x, top - h, width, h), font, color);
        top -= h;
    }
}

void drawButton(CoreGraphics::DrawingContext& ctx, CGRect r, const std::string& title, bool isDefault, bool focused,
                bool pressed) {
    if (focused)
        ctx.strokeRoundedRect(CoreGraphics::CGRectInset(r, -2.5, -2.5), 7, RGBA{kAccent.r, kAccent.g, kAccent.b, 0.6},
                              2);
    RGBA fill = isDefault ? kAccent : RGBA{1, 1, 1, 1};
    if (pressed) fill = isDefault ? RGBA{0.1, 0.33, 0.7, 1} : RGBA{0.85, 0.85, 0.85, 1};
    ctx.fillRoundedRect(r, 5, fill);
    if (!isDefault) ctx.strokeRoundedRect(CoreGraphics::CGRectInset(r, 0.5, 0.5), 5, RGBA{0, 0, 0, 0.3}, 1);
    const FontSpec font = buttonFont();
    const auto size = CoreGraphics::measureText(title, font).size;
    ctx.drawText(title, CGRectMake(r.minX(), r.midY() - size.height / 2, r.width(), size.height), font,
                 isDefault ? RGBA{1, 1, 1, 1} : kText, CoreGraphics::TextAlignment::Center);
}

// The style's badge: an "i" in a blue disc, a "!" in an amber triangle, a "!" in a red octagon.
void drawBadge(CoreGraphics::DrawingContext& ctx, CGRect r, NSAlertStyle style) {
    const FontSpec mark{"DejaVu Sans", 28, true, false};
    const double cx = r.midX(), cy = r.midY(), s = r.width() / 2;
    RGBA color;
    std::string glyph = "!";
    switch (style) {
        case NSAlertStyle::informational:
            color = kAccent;
            glyph = "i";
            ctx.fillEllipse(r, color);
            break;
        case NSAlertStyle::warning:
            color = RGBA{0.96, 0.68, 0.1, 1};
            ctx.moveTo({cx, r.maxY()});
            ctx.lineTo({r.maxX(), r.minY() + 2});
            ctx.lineTo({r.minX(), r.minY() + 2});
            ctx.closePath();
            ctx.fillPath(color);
            break;
        case NSAlertStyle::critical:
            color = RGBA{0.84, 0.15, 0.15, 1};
            for (int i = 0; i < 8; ++i) {
                const double a = M_PI / 8 + i * M_PI / 4;
                const CGPoint p{cx + s * std::cos(a), cy + s * std::sin(a)};
                if (i == 0)
                    ctx.moveTo(p);
                else
                    ctx.lineTo(p);
            }
            ctx.closePath();
            ctx.fillPath(color);
            break;
    }
    const auto size = CoreGraphics::measureText(glyph, mark).size;
    const double baseline = style == NSAlertStyle::warning ? cy - 2 : cy;
    ctx.drawText(glyph, CGRectMake(r.minX(), baseline - size.height / 2, r.width(), size.height), mark,
                 style == NSAlertStyle::warning ? RGBA{0.2, 0.15, 0, 1} : RGBA{1, 1, 1, 1},
                 CoreGraphics::TextAlignment::Center);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string userHome() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

// The folder as a person reads it: the home folder as "~".
std::string shownFolder(const std::string& folder) {
    const std::string home = userHome();
    if (home != "/" && (folder == home || folder.rfind(home + "/", 0) == 0)) return "~" + folder.substr(home.size());
    return folder;
}

template <class Panel>
void showModal(Panel& panel) {
    auto& app = NSApplication::shared();
    app.activateIgnoringOtherApps(true);
    panel.makeKeyAndOrderFront();
}

}  // namespace

// --- the modal loop ------------------------------------------------------------------------------

bool runModalUntil(const std::function<bool()>& done) {
    auto& loop = Foundation::RunLoop::main();
    const auto previous = loop.currentMode();
    loop.setCurrentMode(Foundation::RunLoopMode::ModalPanel);
    bool terminated = false;
    while (!done()) {
        if (NSApplication::shared().isTerminated()) {
            terminated = true;
            break;
        }
        ++gModalRuns;
        // Slices of a second: an answer stops the slice at once, and a termination
        // that came from elsewhere is seen within one.
        loop.runFor(1.0);
        --gModalRuns;
    }
    loop.setCurrentMode(previous);
    if (terminated) loop.stop();  // the outer run ends too, as the termination asked
    return !terminated;
}

bool isModalPanel(const NSWindow& window) {
    return dynamic_cast<const AlertPanel*>(&window) || dynamic_cast<const SavePanelWindow*>(&window);
}

void modalConditionChanged() {
    if (gModalRuns > 0) Foundation::RunLoop::main().stop();
}

CGRect centredPanelFrame(CGSize size) {
    const auto screens = NSScreen::screens();
    if (screens.empty()) return CGRectMake(0, 0, size.width, size.height);
    const CGPoint pointer = displayBackend().pointerLocation().value_or(NSEvent::mouseLocation());
    auto screen = screens.front();
    for (const auto& s : screens)
        if (s->frame().contains(pointer)) {
            screen = s;
            break;
        }
    const CGRect f = screen->visibleFrame();
    // A third of the free height above the panel, two thirds below, as dialogs sit.
    const double y = f.minY() + (f.height() - size.height) * 2 / 3;
    return CGRectMake(std::round(f.midX() - size.width / 2), std::round(std::max(f.minY(), y)), size.width,
                      size.height);
}

// --- alert ---------------------------------------------------------------------------------------

class AlertPanelView : public NSView {
public:
    explicit AlertPanelView(AlertPanel* panel) : panel_(panel) {}
    bool acceptsFirstResponder() const override { return true; }

    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override {
        const CGRect b = bounds();
        ctx.fillRect(b, kPanelBackground);
        const auto& alert = panel_->alert_;
        if (alert.alertStyle == NSAlertStyle::critical)
            ctx.fillRect(CGRectMake(0, b.maxY() - 4, b.width(), 4), RGBA{0.84, 0.15, 0.15, 1});
        const double top = b.maxY() - kPad;
        drawBadge(ctx, CGRectMake(kPad, top - 48, 48, 48), alert.alertStyle);
        const double x = kPad + 48 + 16, width = b.width() - x - kPad;
        const auto message = wrapText(alert.messageText, messageFont(), width);
        drawLines(ctx, message, x, top, width, messageFont(), kText);
        drawLines(ctx, panel_->informativeLines_, x, top - panel_->messageHeight_ - 8, width, bodyFont(),
                  kSecondaryText);
        const auto& buttons = alert.buttons();
        for (std::size_t i = 0; i < buttons.size(); ++i)
            drawButton(ctx, panel_->buttonRect(i), buttons[i], i == 0, static_cast<long>(i) == panel_->focused_,
                       static_cast<long>(i) == pressed_);
    }

    void keyDown(NSEvent& e) override {
        const auto& buttons = panel_->alert_.buttons();
        const long count = static_cast<long>(buttons.size());
        switch (e.keyCode) {
            case kVK_Return:
            case kVK_KeypadEnter:
                panel_->answer(NSAlertFirstButtonReturn);
                return;
            case kVK_Escape:
                for (long i = 0; i < count; ++i)
                    if (buttons[static_cast<std::size_t>(i)] == "Cancel") {
                        panel_->answer(NSAlertFirstButtonReturn + i);
                        return;
                    }
                return;
            case kVK_Space:
                panel_->answer(NSAlertFirstButtonReturn + panel_->focused_);
                return;
            case kVK_Tab:
            case kVK_LeftArrow:
            case kVK_RightArrow: {
                // Buttons run right to left: Left and Tab go to the next one added.
                const bool back = e.keyCode == kVK_RightArrow ||
                                  (e.keyCode == kVK_Tab && (e.modifierFlags & NSEventModifierFlagShift));
                panel_->focused_ = (panel_->focused_ + (back ? count - 1 : 1)) % std::max(1L, count);
                setNeedsDisplay();
                return;
            }
            default:
                return;
        }
    }

    void mouseDown(NSEvent& e) override {
        pressed_ = buttonAt(convertPointFromView(e.locationInWindow, nullptr));
        setNeedsDisplay();
    }
    void mouseUp(NSEvent& e) override {
        const long at = buttonAt(convertPointFromView(e.locationInWindow, nullptr));
        const long was = pressed_;
        pressed_ = -1;
        setNeedsDisplay();
        if (at >= 0 && at == was) panel_->answer(NSAlertFirstButtonReturn + at);
    }

private:
    long buttonAt(CGPoint p) const {
        for (std::size_t i = 0; i < panel_->alert_.buttons().size(); ++i)
            if (panel_->buttonRect(i).contains(p)) return static_cast<long>(i);
        return -1;
    }
    AlertPanel* panel_;
    long pressed_ = -1;
};

AlertPanel::AlertPanel(const NSAlert& alert)
    : NSPanel(CGRectMake(0, 0, 440, 160), NSWindowStyleMaskBorderless), alert_(alert) {
    if (alert_.buttons().empty()) alert_.addButtonWithTitle("OK");
    constexpr double kWidth = 440;
    const double textWidth = kWidth - kPad - 48 - 16 - kPad;
    messageHeight_ = wrapText(alert_.messageText, messageFont(), textWidth).size() * lineHeight(messageFont());
    if (!alert_.informativeText.empty()) {
        informativeLines_ = wrapText(alert_.informativeText, bodyFont(), textWidth);
        informativeHeight_ = informativeLines_.size() * lineHeight(bodyFont());
    }
    for (const auto& title : alert_.buttons())
        buttonWidths_.push_back(std::max(84.0, std::ceil(AppKit::textWidth(title, buttonFont()) + 32)));
    const double body = std::max(48.0, messageHeight_ + (informativeHeight_ > 0 ? 8 + informativeHeight_ : 0));
    const double height = kPad + body + 24 + kButtonHeight + kPad;
    title = "Vexil";
    setLevel(kModalPanelLevel);
    setFrame(centredPanelFrame({kWidth, std::ceil(height)}), false);
}

std::shared_ptr<AlertPanel> AlertPanel::make(const NSAlert& alert) {
    auto panel = NSWindow::make<AlertPanel>(alert);
    auto view = NSView::make<AlertPanelView>(panel.get());
    view->setFrame(CGRectMake(0, 0, panel->frame().width(), panel->frame().height()));
    panel->setContentView(view);
    panel->makeFirstResponder(view.get());
    panel->releasedWhenClosed = false;
    return panel;
}

CGRect AlertPanel::buttonRect(std::size_t index) const {
    double right = frame().width() - kPad;
    for (std::size_t i = 0; i < index && i < buttonWidths_.size(); ++i) right -= buttonWidths_[i] + kButtonGap;
    const double w = index < buttonWidths_.size() ? buttonWidths_[index] : 0;
    return CGRectMake(right - w, kPad, w, kButtonHeight);
}

void AlertPanel::answer(NSModalResponse response) {
    if (response_) return;
    response_ = response;
    modalConditionChanged();
}

NSModalResponse AlertPanel::run() {
    auto keep = std::static_pointer_cast<AlertPanel>(self());
    auto previousKey = NSApplication::shared().keyWindow();
    showModal(*this);
    runModalUntil([this] { return response_.has_value(); });
    close();
    if (previousKey && previousKey->isVisible() && !previousKey->isClosed()) previousKey->makeKeyWindow();
    // Ended by a termination: the safe answer is the last button (never a destructive first one).
    return response_.value_or(NSAlertFirstButtonReturn + static_cast<long>(alert_.buttons().size()) - 1);
}

NSModalResponse AlertPanel::runAttachedTo(NSWindow& parent) {
    const CGRect p = parent.frame();
    const CGRect f = frame();
    setFrameOrigin({std::round(p.midX() - f.width() / 2), std::round(p.maxY() - f.height() - 22)});
    return run();
}

NSModalResponse presentAlertPanel(const NSAlert& alert) { return AlertPanel::make(alert)->run(); }

// --- save panel ----------------------------------------------------------------------------------

std::string savePanelDestination(const std::string& typed, const std::string& folder,
                                 const std::vector<std::string>& allowedFileTypes, const std::string& home) {
    std::string name = typed;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    if (name.empty() || name.back() == '/') return {};
    std::string path;
    if (name[0] == '/')
        path = name;
    else if (name == "~")
        return {};
    else if (name.rfind("~/", 0) == 0)
        path = (home.empty() || home.back() != '/' ? home : home.substr(0, home.size() - 1)) + name.substr(1);
    else
        path = (folder.empty() || folder.back() != '/' ? folder + "/" : folder) + name;
    const auto slash = path.rfind('/');
    const std::string base = path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return {};
    if (!allowedFileTypes.empty()) {
        const auto dot = base.rfind('.');
        const std::string ext = dot != std::string::npos && dot > 0 ? base.substr(dot + 1) : "";
        if (std::find(allowedFileTypes.begin(), allowedFileTypes.end(), ext) == allowedFileTypes.end())
            path += "." + allowedFileTypes.front();
    }
    return path;
}

class SavePanelView : public NSView {
public:
    explicit SavePanelView(SavePanelWindow* panel) : panel_(panel) {}
    bool acceptsFirstResponder() const override { return true; }

    static constexpr double kWidth = 480;
    static constexpr double kFieldHeight = 26;
    static constexpr double kLabelWidth = 64;

    CGRect fieldRect() const {
        return CGRectMake(kPad + kLabelWidth, fieldY(), bounds().width() - 2 * kPad - kLabelWidth, kFieldHeight);
    }
    double fieldY() const { return kPad + kButtonHeight + 20 + (panel_->problem_.empty() ? 0 : 22); }
    CGRect saveRect() const {
        return CGRectMake(bounds().width() - kPad - saveWidth(), kPad, saveWidth(), kButtonHeight);
    }
    CGRect cancelRect() const {
        const double w = std::max(84.0, std::ceil(textWidth("Cancel", buttonFont()) + 32));
        return CGRectMake(saveRect().minX() - kButtonGap - w, kPad, w, kButtonHeight);
    }
    double saveWidth() const { return std::max(84.0, std::ceil(textWidth(prompt(), buttonFont()) + 32)); }
    std::string prompt() const { return panel_->panel_.prompt.empty() ? "Save" : panel_->panel_.prompt; }

    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override {
        const CGRect b = bounds();
        ctx.fillRect(b, kPanelBackground);
        double top = b.maxY() - kPad;
        const auto& p = panel_->panel_;
        const std::string heading = !p.title.empty() ? p.title : "Save";
        ctx.drawText(heading,
                     CGRectMake(kPad, top - lineHeight(messageFont()), b.width() - 2 * kPad, lineHeight(messageFont())),
                     messageFont(), kText);
        top -= lineHeight(messageFont()) + 8;
        if (!p.message.empty()) {
            const auto lines = wrapText(p.message, bodyFont(), b.width() - 2 * kPad);
            drawLines(ctx, lines, kPad, top, b.width() - 2 * kPad, bodyFont(), kSecondaryText);
        }
        const CGRect field = fieldRect();
        const double lh = lineHeight(bodyFont());
        // The folder line, above the name field.
        const double folderY = field.maxY() + 10;
        ctx.drawText("Folder:", CGRectMake(kPad, folderY, kLabelWidth, lh), bodyFont(), kSecondaryText);
        ctx.drawText(shownFolder(panel_->folder_), CGRectMake(field.minX() + 4, folderY, field.width(), lh), bodyFont(),
                     kText);
        ctx.drawText("Name:", CGRectMake(kPad, field.midY() - lh / 2, kLabelWidth, lh), bodyFont(), kSecondaryText);
        ctx.fillRect(field, RGBA{1, 1, 1, 1});
        ctx.strokeRect(CoreGraphics::CGRectInset(field, -1, -1), RGBA{kAccent.r, kAccent.g, kAccent.b, 0.7}, 2);
        // The text scrolls so the caret stays in the field.
        const std::string& name = panel_->name_;
        const auto [s, e] = panel_->selection();
        const double caretX = textWidth(name.substr(0, panel_->caret_), bodyFont());
        const double room = field.width() - 8;
        const double shift = std::max(0.0, caretX - room);
        ctx.save();
        ctx.clipToRect(CoreGraphics::CGRectInset(field, 2, 2));
        const double x0 = field.minX() + 4 - shift;
        if (s != e) {
            const double sx = textWidth(name.substr(0, s), bodyFont()), ex = textWidth(name.substr(0, e), bodyFont());
            ctx.fillRect(CGRectMake(x0 + sx, field.midY() - lh / 2 - 1, ex - sx, lh + 2), RGBA{0.7, 0.82, 1, 1});
        }
        ctx.drawText(name, CGRectMake(x0, field.midY() - lh / 2, std::max(room, textWidth(name, bodyFont()) + 4), lh),
                     bodyFont(), kText);
        if (s == e)
            ctx.strokeLine({x0 + caretX, field.midY() - lh / 2}, {x0 + caretX, field.midY() + lh / 2}, kText, 1);
        ctx.restore();
        if (!panel_->problem_.empty())
            ctx.drawText(panel_->problem_, CGRectMake(field.minX(), field.minY() - 6 - lh, field.width(), lh),
                         bodyFont(), kProblem);
        drawButton(ctx, cancelRect(), "Cancel", false, false, pressed_ == 1);
        drawButton(ctx, saveRect(), prompt(), true, false, pressed_ == 0);
    }

    void keyDown(NSEvent& e) override {
        const bool shift = e.modifierFlags & NSEventModifierFlagShift;
        const bool command = e.modifierFlags & (NSEventModifierFlagCommand | NSEventModifierFlagControl);
        switch (e.keyCode) {
            case kVK_Return:
            case kVK_KeypadEnter:
                panel_->save();
                break;
            case kVK_Escape:
                panel_->cancel();
                break;
            case kVK_Delete:
                panel_->deleteBackward();
                break;
            case kVK_ForwardDelete:
                panel_->deleteForward();
                break;
            case kVK_LeftArrow:
                panel_->moveCaret(-1, shift);
                break;
            case kVK_RightArrow:
                panel_->moveCaret(1, shift);
                break;
            case kVK_Home:
            case kVK_UpArrow:
                panel_->caretTo(0, shift);
                break;
            case kVK_End:
            case kVK_DownArrow:
                panel_->caretTo(panel_->name_.size(), shift);
                break;
            default:
                if (command) {
                    if (e.keyCode == kVK_ANSI_A) {
                        panel_->anchor_ = 0;
                        panel_->caret_ = panel_->name_.size();
                    }
                    break;
                }
                if (!e.characters.empty() && static_cast<unsigned char>(e.characters[0]) >= 0x20 &&
                    e.characters[0] != 0x7f)
                    panel_->typeText(e.characters);
                break;
        }
        setNeedsDisplay();
    }

    void mouseDown(NSEvent& e) override {
        const CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
        pressed_ = saveRect().contains(p) ? 0 : cancelRect().contains(p) ? 1 : -1;
        setNeedsDisplay();
    }
    void mouseUp(NSEvent& e) override {
        const CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
        const long at = saveRect().contains(p) ? 0 : cancelRect().contains(p) ? 1 : -1;
        const long was = pressed_;
        pressed_ = -1;
        setNeedsDisplay();
        if (at != was || at < 0) return;
        if (at == 0)
            panel_->save();
        else
            panel_->cancel();
    }

private:
    SavePanelWindow* panel_;
    long pressed_ = -1;
};

SavePanelWindow::SavePanelWindow(const NSSavePanel& panel, std::string folder)
    : NSPanel(CGRectMake(0, 0, SavePanelView::kWidth, 200), NSWindowStyleMaskBorderless),
      panel_(panel),
      folder_(std::move(folder)) {
    name_ = panel_.nameFieldStringValue.empty() ? "Untitled" : panel_.nameFieldStringValue;
    // The name is selected up to its extension: typing replaces the name and keeps the type.
    anchor_ = 0;
    const auto dot = name_.rfind('.');
    caret_ = dot != std::string::npos && dot > 0 ? dot : name_.size();
    title = panel_.title.empty() ? "Save" : panel_.title;
    setLevel(kModalPanelLevel);
    double height = kPad + lineHeight(messageFont()) + 8 + kPad + 10 + lineHeight(bodyFont()) +
                    SavePanelView::kFieldHeight + 20 + kButtonHeight + kPad;
    if (!panel_.message.empty())
        height +=
            wrapText(panel_.message, bodyFont(), SavePanelView::kWidth - 2 * kPad).size() * lineHeight(bodyFont()) + 8;
    height += 22;  // room for a problem line
    setFrame(centredPanelFrame({SavePanelView::kWidth, std::ceil(height)}), false);
}

std::shared_ptr<SavePanelWindow> SavePanelWindow::make(const NSSavePanel& panel) {
    std::string folder = panel.directory.value_or("");
    // The user's Documents folder when there is one (never made for this), else the home.
    if (folder.empty() || !isDirectory(folder)) folder = Foundation::homeDirectory() + "/Documents";
    if (!isDirectory(folder)) folder = Foundation::homeDirectory();
    if (!isDirectory(folder)) folder = userHome();
    auto window = NSWindow::make<SavePanelWindow>(panel, folder);
    auto view = NSView::make<SavePanelView>(window.get());
    view->setFrame(CGRectMake(0, 0, window->frame().width(), window->frame().height()));
    window->setContentView(view);
    window->makeFirstResponder(view.get());
    window->releasedWhenClosed = false;
    return window;
}

void SavePanelWindow::typeText(const std::string& text) {
    const auto [s, e] = selection();
    std::string clean;
    for (char c : text)
        if (c != '\n' && c != '\r') clean += c;
    name_.replace(s, e - s, clean);
    anchor_ = caret_ = s + clean.size();
    problem_.clear();
    if (contentView()) contentView()->setNeedsDisplay();
}

void SavePanelWindow::deleteBackward() {
    auto [s, e] = selection();
    if (s == e) s = utf8Prev(name_, s);
    name_.erase(s, e - s);
    anchor_ = caret_ = s;
    problem_.clear();
}

void SavePanelWindow::deleteForward() {
    auto [s, e] = selection();
    if (s == e) e = utf8Next(name_, e);
    name_.erase(s, e - s);
    anchor_ = caret_ = s;
    problem_.clear();
}

void SavePanelWindow::moveCaret(int direction, bool extend) {
    const auto [s, e] = selection();
    if (!extend && s != e) {
        caretTo(direction < 0 ? s : e, false);
        return;
    }
    caretTo(direction < 0 ? utf8Prev(name_, caret_) : utf8Next(name_, caret_), extend);
}

void SavePanelWindow::caretTo(std::size_t position, bool extend) {
    caret_ = std::min(position, name_.size());
    if (!extend) anchor_ = caret_;
}

void SavePanelWindow::save() {
    if (answer_) return;
    const std::string path = savePanelDestination(name_, folder_, panel_.allowedFileTypes, userHome());
    auto say = [this](std::string why) {
        problem_ = std::move(why);
        if (contentView()) contentView()->setNeedsDisplay();
    };
    if (path.empty()) return say("Type a name for the file.");
    const std::string parent = path.substr(0, std::max<std::size_t>(1, path.rfind('/')));
    if (!isDirectory(parent))
        return say("The folder \xe2\x80\x9c" + shownFolder(parent) + "\xe2\x80\x9d does not exist.");
    if (isDirectory(path)) return say("\xe2\x80\x9c" + shownFolder(path) + "\xe2\x80\x9d is a folder.");
    if (exists(path)) {
        const std::string base = path.substr(path.rfind('/') + 1);
        NSAlert ask;
        ask.alertStyle = NSAlertStyle::warning;
        ask.messageText = "\xe2\x80\x9c" + base + "\xe2\x80\x9d already exists. Replace?";
        ask.informativeText = "A file with the same name already exists in \xe2\x80\x9c" + shownFolder(parent) +
                              "\xe2\x80\x9d. Replacing it will overwrite its current contents.";
        ask.addButtonWithTitle("Replace");
        ask.addButtonWithTitle("Cancel");
        if (ask.runModal() != NSAlertFirstButtonReturn) return;  // back to the panel
        if (!isKeyWindow() && isVisible()) makeKeyWindow();
    }
    answer_ = NSSavePanel::Answer{NSModalResponseOK, path};
    modalConditionChanged();
}

void SavePanelWindow::cancel() {
    if (answer_) return;
    answer_ = NSSavePanel::Answer{};
    modalConditionChanged();
}

NSSavePanel::Answer SavePanelWindow::run() {
    auto keep = std::static_pointer_cast<SavePanelWindow>(self());
    auto previousKey = NSApplication::shared().keyWindow();
    showModal(*this);
    runModalUntil([this] { return answer_.has_value(); });
    close();
    if (previousKey && previousKey->isVisible() && !previousKey->isClosed()) previousKey->makeKeyWindow();
    return answer_.value_or(NSSavePanel::Answer{});
}

NSSavePanel::Answer presentSavePanelWindow(const NSSavePanel& panel) { return SavePanelWindow::make(panel)->run(); }

}  // namespace AppKit
