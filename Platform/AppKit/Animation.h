#pragma once
// View and window animation: the animation context (grouped, implicit
// animations through animator proxies), and NSViewAnimation (frame changes
// of windows and views with a delegate). Everything runs on the project's
// clock through QuartzCore::Animator, in the default and event-tracking
// modes, and is exactly at its end value at its end. A new animation of the
// same property of the same object stops the running one.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSWindow.h"
#include "Platform/QuartzCore/Timing.h"

namespace AppKit {

class NSAnimationContext {
public:
    // Runs `changes` with a fresh context (duration 0.25 s); changes made
    // through animators inside it animate; `completion` runs on the main
    // queue once they all have ended (at once, queued, when none ran).
    static void runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                  std::function<void()> completion = nullptr);
    static void beginGrouping();
    static void endGrouping();
    // The innermost open group's context (a default one outside groups).
    static NSAnimationContext& currentContext();
    static bool inGroup();

    double duration = 0.25;
    std::shared_ptr<QuartzCore::CAMediaTimingFunction> timingFunction;
    bool allowsImplicitAnimation = false;
    std::function<void()> completionHandler;

    // Internal: a run joins the group; the completion waits for it.
    struct Group;
    std::shared_ptr<Group> group;
};

// Animates one property over the current context's duration (an explicit
// group's, else the implicit 0.25 s): `step` gets the timed progress per frame
// and exactly 1 at the end; with a zero duration, step(1) at once. `object` and `key` identify the property for replacement; `keep`
// is held while the animation runs.
void animateValue(const void* object, const std::string& key, std::function<void(double progress)> step,
                  std::shared_ptr<void> keep = nullptr);
// Stops the running animation of a property, if any (no final step).
void stopAnimatingValue(const void* object, const std::string& key);

class NSViewAnimator {
public:
    explicit NSViewAnimator(std::shared_ptr<NSView> view) : view_(std::move(view)) {}
    void setAlphaValue(double alpha);
    void setFrame(CGRect frame);
    void setFrameOrigin(CGPoint origin);
    void setFrameSize(CGSize size);
    void setBoundsOrigin(CGPoint origin);
    // Hidden changes apply at once (the fade is not modelled).
    void setHidden(bool hidden);
    const std::shared_ptr<NSView>& view() const { return view_; }

private:
    std::shared_ptr<NSView> view_;
};

class NSWindowAnimator {
public:
    explicit NSWindowAnimator(std::shared_ptr<NSWindow> window) : window_(std::move(window)) {}
    void setAlphaValue(double alpha);
    void setFrame(CGRect frame, bool display = true);

private:
    std::shared_ptr<NSWindow> window_;
};

class NSAnimation;

class NSAnimationDelegate {
public:
    virtual ~NSAnimationDelegate() = default;
    virtual bool animationShouldStart(NSAnimation&) { return true; }
    virtual void animationDidEnd(NSAnimation&) {}
    virtual void animationDidStop(NSAnimation&) {}
};

enum class NSAnimationCurve { easeInOut = 0, easeIn = 1, easeOut = 2, linear = 3 };

class NSAnimation : public std::enable_shared_from_this<NSAnimation> {
public:
    virtual ~NSAnimation();
    double duration = 0.5;
    NSAnimationCurve animationCurve = NSAnimationCurve::easeInOut;
    std::weak_ptr<NSAnimationDelegate> delegate;
    // Runs without blocking; the animation keeps itself alive until it ends.
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const;
    double currentProgress() const { return progress_; }

protected:
    virtual void setCurrentProgress(double progress);

private:
    std::shared_ptr<QuartzCore::Animator::Run> run_;
    double progress_ = 0;
};

enum class NSViewAnimationEffect { none, fadeIn, fadeOut };

class NSViewAnimation : public NSAnimation {
public:
    struct Target {
        std::shared_ptr<NSWindow> window;  // one of window or view
        std::shared_ptr<NSView> view;
        std::optional<CGRect> startFrame;  // none: the current frame
        std::optional<CGRect> endFrame;    // none: the current frame
        NSViewAnimationEffect effect = NSViewAnimationEffect::none;
    };
    explicit NSViewAnimation(std::vector<Target> targets) : targets_(std::move(targets)) { duration = 0.5; }
    static std::shared_ptr<NSViewAnimation> make(std::vector<Target> targets) {
        return std::make_shared<NSViewAnimation>(std::move(targets));
    }
    const std::vector<Target>& viewAnimations() const { return targets_; }

protected:
    void setCurrentProgress(double progress) override;

private:
    std::vector<Target> targets_;
    bool started_ = false;
    std::vector<CGRect> from_, to_;
};

}  // namespace AppKit
