#include "Platform/AppKit/Animation.h"

#include <algorithm>
#include <map>

namespace AppKit {

using QuartzCore::Animator;

struct NSAnimationContext::Group {
    int pending = 0;
    bool closed = false;
    bool completed = false;
    std::function<void()> completion;
    void maybeComplete() {
        if (!closed || pending > 0 || completed) return;
        completed = true;
        if (auto c = std::move(completion)) {
            completion = nullptr;
            Foundation::DispatchQueue::main()->async(c);
        }
    }
};

namespace {
std::vector<NSAnimationContext>& stack() {
    static std::vector<NSAnimationContext> s;
    return s;
}

struct Key {
    const void* object;
    std::string key;
    bool operator<(const Key& o) const { return object != o.object ? object < o.object : key < o.key; }
};
std::map<Key, std::shared_ptr<Animator::Run>>& running() {
    static std::map<Key, std::shared_ptr<Animator::Run>> m;
    return m;
}
}  // namespace

void NSAnimationContext::beginGrouping() {
    NSAnimationContext ctx;
    ctx.group = std::make_shared<Group>();
    stack().push_back(std::move(ctx));
}

void NSAnimationContext::endGrouping() {
    if (stack().empty()) return;
    NSAnimationContext ctx = std::move(stack().back());
    stack().pop_back();
    ctx.group->completion = std::move(ctx.completionHandler);
    ctx.group->closed = true;
    ctx.group->maybeComplete();
}

NSAnimationContext& NSAnimationContext::currentContext() {
    // Outside explicit groups: the implicit context of the current turn of
    // the run loop (0.25 s, default timing), with a group of its own.
    static NSAnimationContext outside;
    if (stack().empty()) {
        outside = NSAnimationContext{};
        outside.group = std::make_shared<Group>();
        outside.group->closed = true;
        return outside;
    }
    return stack().back();
}

bool NSAnimationContext::inGroup() { return !stack().empty(); }

void NSAnimationContext::runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                           std::function<void()> completion) {
    beginGrouping();
    stack().back().completionHandler = std::move(completion);
    if (changes) changes(stack().back());
    endGrouping();
}

void stopAnimatingValue(const void* object, const std::string& key) {
    auto it = running().find({object, key});
    if (it == running().end()) return;
    auto run = it->second;
    running().erase(it);
    Animator::stop(run);
}

void animateValue(const void* object, const std::string& key, std::function<void(double)> step,
                  std::shared_ptr<void> keep) {
    stopAnimatingValue(object, key);
    NSAnimationContext& ctx = NSAnimationContext::currentContext();
    if (!(ctx.duration > 0)) {
        step(1.0);
        return;
    }
    auto group = ctx.group;
    ++group->pending;
    const Key k{object, key};
    std::shared_ptr<Animator::Run> run;
    auto holder = std::make_shared<std::weak_ptr<Animator::Run>>();
    run = Animator::start(
        ctx.duration, ctx.timingFunction, [step, keep](double p) { step(p); },
        [group, k, holder](bool) {
            auto it = running().find(k);
            if (it != running().end() && it->second == holder->lock()) running().erase(it);
            --group->pending;
            group->maybeComplete();
        });
    *holder = run;
    running()[k] = run;
}

// --- animator proxies -----------------------------------------------------------

namespace {
double lerp(double a, double b, double p) { return p >= 1 ? b : a + (b - a) * p; }
CGRect lerp(CGRect a, CGRect b, double p) {
    if (p >= 1) return b;
    return CGRectMake(lerp(a.minX(), b.minX(), p), lerp(a.minY(), b.minY(), p), lerp(a.width(), b.width(), p),
                      lerp(a.height(), b.height(), p));
}
}  // namespace

void NSViewAnimator::setAlphaValue(double alpha) {
    auto v = view_;
    const double from = v->alphaValue();
    animateValue(
        v.get(), "alphaValue", [v, from, alpha](double p) { v->setAlphaValue(lerp(from, alpha, p)); }, v);
}

void NSViewAnimator::setFrame(CGRect frame) {
    auto v = view_;
    const CGRect from = v->frame();
    animateValue(
        v.get(), "frame", [v, from, frame](double p) { v->setFrame(lerp(from, frame, p)); }, v);
}

void NSViewAnimator::setFrameOrigin(CGPoint origin) { setFrame({origin, view_->frame().size}); }
void NSViewAnimator::setFrameSize(CGSize size) { setFrame({view_->frame().origin, size}); }

void NSViewAnimator::setBoundsOrigin(CGPoint origin) {
    auto v = view_;
    const CGPoint from = v->bounds().origin;
    animateValue(
        v.get(), "boundsOrigin",
        [v, from, origin](double p) {
            v->setBoundsOrigin({lerp(from.x, origin.x, p), lerp(from.y, origin.y, p)});
        },
        v);
}

void NSViewAnimator::setHidden(bool hidden) { view_->setHidden(hidden); }

void NSWindowAnimator::setAlphaValue(double alpha) {
    auto w = window_;
    const double from = w->alphaValue();
    animateValue(
        w.get(), "alphaValue", [w, from, alpha](double p) { w->setAlphaValue(lerp(from, alpha, p)); }, w);
}

void NSWindowAnimator::setFrame(CGRect frame, bool display) {
    auto w = window_;
    const CGRect from = w->frame();
    animateValue(
        w.get(), "frame", [w, from, frame, display](double p) { w->setFrame(lerp(from, frame, p), display); }, w);
}

// --- NSAnimation -------------------------------------------------------------------------

NSAnimation::~NSAnimation() = default;

void NSAnimation::startAnimation() {
    if (isAnimating()) return;
    if (auto d = delegate.lock())
        if (!d->animationShouldStart(*this)) return;
    std::string curve = animationCurve == NSAnimationCurve::easeIn    ? QuartzCore::kCAMediaTimingFunctionEaseIn
                        : animationCurve == NSAnimationCurve::easeOut ? QuartzCore::kCAMediaTimingFunctionEaseOut
                        : animationCurve == NSAnimationCurve::linear  ? QuartzCore::kCAMediaTimingFunctionLinear
                                                                      : QuartzCore::kCAMediaTimingFunctionEaseInEaseOut;
    auto self = shared_from_this();
    setCurrentProgress(0);
    run_ = Animator::start(
        duration, QuartzCore::CAMediaTimingFunction::functionWithName(curve),
        [self](double p) { self->setCurrentProgress(p); },
        [self](bool finished) {
            self->run_.reset();
            if (auto d = self->delegate.lock()) {
                if (finished)
                    d->animationDidEnd(*self);
                else
                    d->animationDidStop(*self);
            }
        });
}

void NSAnimation::stopAnimation() {
    if (run_) Animator::stop(run_);
}

bool NSAnimation::isAnimating() const { return Animator::isRunning(run_); }

void NSAnimation::setCurrentProgress(double progress) { progress_ = progress; }

void NSViewAnimation::setCurrentProgress(double progress) {
    NSAnimation::setCurrentProgress(progress);
    if (!started_) {
        started_ = true;
        for (auto& t : targets_) {
            CGRect current = t.window ? t.window->frame() : t.view ? t.view->frame() : CGRect{};
            from_.push_back(t.startFrame.value_or(current));
            to_.push_back(t.endFrame.value_or(current));
        }
    }
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        auto& t = targets_[i];
        CGRect r = lerp(from_[i], to_[i], progress);
        if (t.window) {
            t.window->setFrame(r, true);
            if (t.effect == NSViewAnimationEffect::fadeIn) t.window->setAlphaValue(progress);
            if (t.effect == NSViewAnimationEffect::fadeOut) t.window->setAlphaValue(1 - progress);
        } else if (t.view) {
            t.view->setFrame(r);
            if (t.effect == NSViewAnimationEffect::fadeIn) t.view->setAlphaValue(progress);
            if (t.effect == NSViewAnimationEffect::fadeOut) t.view->setAlphaValue(1 - progress);
        }
    }
    if (progress >= 1) started_ = false, from_.clear(), to_.clear();
}

}  // namespace AppKit
