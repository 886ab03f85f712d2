#include "picker/Shell/CLPasteboard.h"

#include <algorithm>

#include "Platform/Foundation/Text.h"

namespace {
// Canonically equivalent texts are the same clip; letter case counts.
bool sameText(const std::string& a, const std::string& b) {
    return a == b || Foundation::normalizedNFC(a) == Foundation::normalizedNFC(b);
}
}  // namespace

void CMPasteboardObserver::updatePasteboard() {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    auto board = delegate->pasteboard();
    if (!board) return;
    auto text = board->stringForType(AppKit::NSPasteboardTypeString);
    if (!text) return;
    delegate->addClip(*text);
}

std::shared_ptr<CLPasteboard> CLPasteboard::make(std::weak_ptr<CLPasteboardDelegate> delegate) {
    std::shared_ptr<CLPasteboard> watcher(new CLPasteboard());
    auto observer = std::make_shared<CMPasteboardObserver>(std::weak_ptr<CMPasteboardObserverDelegate>(watcher));
    watcher->timer_ = Foundation::Timer::scheduled(observer->CMTimeInterval, true,
                                                   [observer](Foundation::Timer&) { observer->updatePasteboard(); });
    watcher->observer_ = observer;
    watcher->delegate_ = std::move(delegate);
    return watcher;
}

CLPasteboard::~CLPasteboard() { stop(); }

void CLPasteboard::stop() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

bool CLPasteboard::isRunning() const { return timer_ && timer_->isValid(); }

void CLPasteboard::addClip(const std::string& text) {
    auto found = std::find_if(clips_.begin(), clips_.end(), [&](const CMClip& c) { return sameText(c.content, text); });
    if (found != clips_.end()) {
        moveClipToFront(text);
        return;
    }
    if (clips_.size() >= CMPasteboardSize) clips_.pop_back();
    clips_.push_front(CMClip{text});
    if (auto delegate = delegate_.lock()) delegate->addClipboardColor(text);
}

void CLPasteboard::moveClipToFront(const std::string& text) {
    auto found = std::find_if(clips_.begin(), clips_.end(), [&](const CMClip& c) { return sameText(c.content, text); });
    if (found == clips_.end()) return;
    CMClip clip = std::move(*found);
    clips_.erase(found);
    clips_.push_front(std::move(clip));
}
