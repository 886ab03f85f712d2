#pragma once
// The clipboard watcher: every 0.65 s it reads the general pasteboard's plain
// text, keeps the 16 most recent distinct texts, and hands each text new to
// that list to its delegate. The timer runs in the default run-loop mode
// only, so nothing is read while a menu is tracked.
//
// Unlike a watcher that can never be stopped, this one owns its timer: `stop`
// (or releasing the watcher) ends the reads, so the application never runs
// two watchers at once.

#include <deque>
#include <memory>
#include <string>

#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/Dispatch.h"

// Receives a text that has just entered the list.
class CLPasteboardDelegate {
public:
    virtual ~CLPasteboardDelegate() = default;
    virtual void addClipboardColor(const std::string& text) = 0;
};

class CMPasteboardObserverDelegate {
public:
    virtual ~CMPasteboardObserverDelegate() = default;
    virtual void addClip(const std::string& text) = 0;
    virtual std::shared_ptr<AppKit::NSPasteboard> pasteboard() const = 0;
};

struct CMClip {
    std::string content;
};

// The timer's target: reads the pasteboard of its delegate on each tick.
class CMPasteboardObserver {
public:
    explicit CMPasteboardObserver(std::weak_ptr<CMPasteboardObserverDelegate> delegate)
        : delegate_(std::move(delegate)) {}
    const double CMTimeInterval = 0.65;
    void updatePasteboard();

private:
    // Weak: the watcher owns the timer that owns this observer.
    std::weak_ptr<CMPasteboardObserverDelegate> delegate_;
};

class CLPasteboard : public CMPasteboardObserverDelegate, public std::enable_shared_from_this<CLPasteboard> {
public:
    static constexpr std::size_t CMPasteboardSize = 16;

    // A running watcher; the first read comes 0.65 s later. The delegate is
    // held weakly (it owns the watcher).
    static std::shared_ptr<CLPasteboard> make(std::weak_ptr<CLPasteboardDelegate> delegate);
    ~CLPasteboard() override;
    CLPasteboard(const CLPasteboard&) = delete;
    CLPasteboard& operator=(const CLPasteboard&) = delete;

    void addClip(const std::string& text) override;
    void moveClipToFront(const std::string& text);
    std::shared_ptr<AppKit::NSPasteboard> pasteboard() const override { return pasteboard_; }

    // Ends the reads; the list stays as it is.
    void stop();
    bool isRunning() const;
    const std::deque<CMClip>& clips() const { return clips_; }
    const std::shared_ptr<CMPasteboardObserver>& observer() const { return observer_; }

private:
    CLPasteboard() = default;
    std::shared_ptr<AppKit::NSPasteboard> pasteboard_ = AppKit::NSPasteboard::generalPasteboard();
    std::shared_ptr<CMPasteboardObserver> observer_;
    std::shared_ptr<Foundation::Timer> timer_;
    std::deque<CMClip> clips_;
    std::weak_ptr<CLPasteboardDelegate> delegate_;
};
