#include "Platform/QuartzCore/CALayer.h"

#include <algorithm>
#include <cmath>

namespace QuartzCore {

using CoreGraphics::DrawingContext;

// --- paths -------------------------------------------------------------------

CGPath CGPath::rect(CGRect r) {
    CGPath p;
    p.moveTo({r.minX(), r.minY()});
    p.lineTo({r.maxX(), r.minY()});
    p.lineTo({r.maxX(), r.maxY()});
    p.lineTo({r.minX(), r.maxY()});
    p.close();
    return p;
}

CGPath CGPath::roundedRect(CGRect r, CGFloat radius) {
    radius = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    if (radius <= 0) return rect(r);
    const double k = 0.5522847498 * radius;  // cubic approximation of a quarter circle
    CGPath p;
    p.moveTo({r.minX() + radius, r.minY()});
    p.lineTo({r.maxX() - radius, r.minY()});
    p.curveTo({r.maxX() - radius + k, r.minY()}, {r.maxX(), r.minY() + radius - k}, {r.maxX(), r.minY() + radius});
    p.lineTo({r.maxX(), r.maxY() - radius});
    p.curveTo({r.maxX(), r.maxY() - radius + k}, {r.maxX() - radius + k, r.maxY()}, {r.maxX() - radius, r.maxY()});
    p.lineTo({r.minX() + radius, r.maxY()});
    p.curveTo({r.minX() + radius - k, r.maxY()}, {r.minX(), r.maxY() - radius + k}, {r.minX(), r.maxY() - radius});
    p.lineTo({r.minX(), r.minY() + radius});
    p.curveTo({r.minX(), r.minY() + radius - k}, {r.minX() + radius - k, r.minY()}, {r.minX() + radius, r.minY()});
    p.close();
    return p;
}

CGPath CGPath::ellipse(CGRect r) {
    const double rx = r.width() / 2, ry = r.height() / 2, cx = r.midX(), cy = r.midY();
    const double kx = 0.5522847498 * rx, ky = 0.5522847498 * ry;
    CGPath p;
    p.moveTo({cx + rx, cy});
    p.curveTo({cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
    p.curveTo({cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
    p.curveTo({cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
    p.curveTo({cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
    p.close();
    return p;
}

void CGPath::addTo(DrawingContext& ctx) const {
    for (const auto& e : elements) {
        switch (e.op) {
            case Op::Move:
                ctx.moveTo(e.p0);
                break;
            case Op::Line:
                ctx.lineTo(e.p0);
                break;
            case Op::Curve:
                ctx.curveTo(e.p0, e.p1, e.p2);
                break;
            case Op::Close:
                ctx.closePath();
                break;
        }
    }
}

// --- interpolation -------------------------------------------------------------

namespace {
double lerp(double a, double b, double t) { return a + (b - a) * t; }
CGPoint lerp(CGPoint a, CGPoint b, double t) { return {lerp(a.x, b.x, t), lerp(a.y, b.y, t)}; }
CGSize lerp(CGSize a, CGSize b, double t) { return {lerp(a.width, b.width, t), lerp(a.height, b.height, t)}; }
}  // namespace

AnimValue interpolate(const AnimValue& from, const AnimValue& to, double t) {
    if (t >= 1 && !(t > 1)) return to;
    if (t == 0) return from;
    if (from.index() != to.index()) return t >= 1 ? to : from;
    if (auto a = std::get_if<double>(&from)) return lerp(*a, std::get<double>(to), t);
    if (auto a = std::get_if<CGPoint>(&from)) return lerp(*a, std::get<CGPoint>(to), t);
    if (auto a = std::get_if<CGSize>(&from)) return lerp(*a, std::get<CGSize>(to), t);
    if (auto a = std::get_if<CGRect>(&from)) {
        const auto& b = std::get<CGRect>(to);
        return CGRect{lerp(a->origin, b.origin, t), lerp(a->size, b.size, t)};
    }
    if (auto a = std::get_if<RGBA>(&from)) {
        const auto& b = std::get<RGBA>(to);
        return RGBA{lerp(a->r, b.r, t), lerp(a->g, b.g, t), lerp(a->b, b.b, t), lerp(a->a, b.a, t)};
    }
    if (auto a = std::get_if<CGPath>(&from)) {
        const auto& b = std::get<CGPath>(to);
        if (a->elements.size() != b.elements.size()) return t >= 1 ? to : from;
        CGPath out;
        for (std::size_t i = 0; i < a->elements.size(); ++i) {
            const auto& x = a->elements[i];
            const auto& y = b.elements[i];
            if (x.op != y.op) return t >= 1 ? to : from;
            out.elements.push_back({x.op, lerp(x.p0, y.p0, t), lerp(x.p1, y.p1, t), lerp(x.p2, y.p2, t)});
        }
        return out;
    }
    return t >= 1 ? to : from;
}

// --- animations ----------------------------------------------------------------

double CAAnimation::activeDuration() const {
    const double reps = repeatCount > 0 ? repeatCount : 1;
    return std::max(0.0, duration) * reps * (autoreverses ? 2 : 1);
}

std::optional<double> CAAnimation::progressAt(double t) const {
    if (t < 0) return std::nullopt;
    double f;
    if (duration <= 0) {
        f = autoreverses ? 0 : 1;
    } else if (t >= activeDuration()) {
        const double reps = repeatCount > 0 ? repeatCount : 1;
        double whole = std::floor(reps);
        double part = reps - whole;
        if (autoreverses)
            f = part > 0 ? std::min(1.0, part * 2) : 0;
        else
            f = part > 0 ? part : 1;
    } else {
        const double cycle = duration * (autoreverses ? 2 : 1);
        double local = std::fmod(t, cycle);
        f = autoreverses && local >= duration ? 1 - (local - duration) / duration : local / duration;
    }
    return timingFunction ? timingFunction->valueAt(f) : f;
}

std::shared_ptr<CAAnimation> CAAnimationGroup::copy() const {
    auto g = std::make_shared<CAAnimationGroup>(*this);
    for (auto& a : g->animations) a = a->copy();
    return g;
}

// --- layer -------------------------------------------------------------------------

CALayer::~CALayer() {
    for (auto& e : animations_)
        if (!e.finished) Animator::adjustActive(-1);
    for (auto& s : sublayers_) s->superlayer_ = nullptr;
}

void CALayer::addSublayer(std::shared_ptr<CALayer> layer) { insertSublayer(std::move(layer), sublayers_.size()); }

void CALayer::insertSublayer(std::shared_ptr<CALayer> layer, std::size_t index) {
    if (!layer || layer.get() == this) return;
    auto keep = layer;
    layer->removeFromSuperlayer();
    layer->superlayer_ = this;
    sublayers_.insert(sublayers_.begin() + static_cast<long>(std::min(index, sublayers_.size())), std::move(layer));
    setNeedsDisplay();
}

void CALayer::removeFromSuperlayer() {
    if (!superlayer_) return;
    auto& list = superlayer_->sublayers_;
    auto self = this;
    list.erase(std::remove_if(list.begin(), list.end(), [self](const auto& l) { return l.get() == self; }), list.end());
    superlayer_ = nullptr;
}

AnimValue CALayer::valueForKeyPath(const std::string& key) const {
    if (key == "opacity") return opacity;
    if (key == "backgroundColor") return backgroundColor;
    if (key == "borderColor") return borderColor;
    if (key == "borderWidth") return borderWidth;
    if (key == "cornerRadius") return cornerRadius;
    if (key == "bounds") return bounds();
    if (key == "position") return position();
    if (key == "frame") return frame_;
    if (key == "shadowColor") return shadowColor;
    if (key == "shadowOpacity") return shadowOpacity;
    if (key == "shadowRadius") return shadowRadius;
    return {};
}

void CALayer::setValueForKeyPath(const std::string& key, const AnimValue& v) {
    if (auto d = std::get_if<double>(&v)) {
        if (key == "opacity")
            opacity = *d;
        else if (key == "borderWidth")
            borderWidth = *d;
        else if (key == "cornerRadius")
            cornerRadius = *d;
        else if (key == "shadowOpacity")
            shadowOpacity = *d;
        else if (key == "shadowRadius")
            shadowRadius = *d;
    } else if (auto c = std::get_if<RGBA>(&v)) {
        if (key == "backgroundColor")
            backgroundColor = *c;
        else if (key == "borderColor")
            borderColor = *c;
        else if (key == "shadowColor")
            shadowColor = *c;
    } else if (auto r = std::get_if<CGRect>(&v)) {
        if (key == "bounds")
            setBounds(*r);
        else if (key == "frame")
            setFrame(*r);
    } else if (auto p = std::get_if<CGPoint>(&v)) {
        if (key == "position") setPosition(*p);
    }
    setNeedsDisplay();
}

bool CALayer::applyAnimation(const CAAnimation& animation, double t, const std::string& key, AnimValue& value) const {
    if (auto group = dynamic_cast<const CAAnimationGroup*>(&animation)) {
        double groupEnd = group->activeDuration();
        if (t < 0) return false;
        if (t >= groupEnd && group->fillMode != CAFillMode::forwards && group->fillMode != CAFillMode::both)
            return false;
        double local = std::min(t, groupEnd);
        bool any = false;
        for (const auto& child : group->animations) any |= applyAnimation(*child, local - child->beginTime, key, value);
        return any;
    }
    auto basic = dynamic_cast<const CABasicAnimation*>(&animation);
    if (!basic || basic->keyPath != key) return false;
    if (t >= animation.activeDuration() && animation.fillMode != CAFillMode::forwards &&
        animation.fillMode != CAFillMode::both)
        return false;
    auto p = animation.progressAt(t);
    if (!p) return false;
    AnimValue from = basic->resolvedFrom;
    AnimValue to = std::holds_alternative<std::monostate>(basic->toValue) ? valueForKeyPath(key) : basic->toValue;
    value = interpolate(from, to, *p);
    return true;
}

AnimValue CALayer::presentationValueForKeyPath(const std::string& key) const {
    AnimValue value = valueForKeyPath(key);
    const double now = mediaTime();
    for (const auto& e : animations_) applyAnimation(*e.animation, now - e.start, key, value);
    return value;
}

void CALayer::resolveFrom(CAAnimation& animation) {
    if (auto group = dynamic_cast<CAAnimationGroup*>(&animation)) {
        if (group->duration <= 0)
            for (auto& c : group->animations)
                group->duration = std::max(group->duration, c->beginTime + c->activeDuration());
        for (auto& c : group->animations) resolveFrom(*c);
    } else if (auto basic = dynamic_cast<CABasicAnimation*>(&animation)) {
        basic->resolvedFrom = std::holds_alternative<std::monostate>(basic->fromValue)
                                  ? presentationValueForKeyPath(basic->keyPath)
                                  : basic->fromValue;
    }
}

namespace {
void notifyStop(const std::shared_ptr<CAAnimation>& a, bool finished) {
    std::shared_ptr<CAAnimationDelegate> d = a->strongDelegate ? a->strongDelegate : a->delegate.lock();
    if (d) d->animationDidStop(*a, finished);
    if (a->completion) a->completion(finished);
}
}  // namespace

void CALayer::addAnimation(const std::shared_ptr<CAAnimation>& animation, const std::string& key) {
    if (!animation) return;
    auto copy = animation->copy();
    resolveFrom(*copy);
    if (!key.empty()) removeAnimation(key);
    Entry e;
    e.key = key;
    e.animation = copy;
    e.start = mediaTime();
    e.id = nextId_++;
    animations_.push_back(e);
    Animator::adjustActive(1);
    setNeedsDisplay();
    if (auto d = copy->strongDelegate ? copy->strongDelegate : copy->delegate.lock()) d->animationDidStart(*copy);
    std::weak_ptr<CALayer> weak = weak_from_this();
    const std::uint64_t id = e.id;
    Foundation::DispatchQueue::main()->after(copy->activeDuration(), [weak, id] {
        if (auto self = weak.lock()) self->entryEnded(id);
    });
}

void CALayer::entryEnded(std::uint64_t id) {
    auto it = std::find_if(animations_.begin(), animations_.end(), [id](const Entry& e) { return e.id == id; });
    if (it == animations_.end() || it->finished) return;
    it->finished = true;
    auto animation = it->animation;
    if (animation->removedOnCompletion) animations_.erase(it);
    Animator::adjustActive(-1);
    setNeedsDisplay();
    notifyStop(animation, true);
}

void CALayer::stopEntry(Entry entry, bool finished) {
    if (entry.finished) return;
    Animator::adjustActive(-1);
    auto animation = entry.animation;
    Foundation::DispatchQueue::main()->async([animation, finished] { notifyStop(animation, finished); });
}

void CALayer::removeAnimation(const std::string& key) {
    auto it = std::find_if(animations_.begin(), animations_.end(), [&](const Entry& e) { return e.key == key; });
    if (it == animations_.end()) return;
    Entry entry = *it;
    animations_.erase(it);
    setNeedsDisplay();
    stopEntry(entry, false);
}

void CALayer::removeAllAnimations() {
    auto all = std::move(animations_);
    animations_.clear();
    for (auto& e : all) stopEntry(e, false);
    setNeedsDisplay();
}

std::shared_ptr<CAAnimation> CALayer::animationForKey(const std::string& key) const {
    for (const auto& e : animations_)
        if (!key.empty() && e.key == key) return e.animation;
    return nullptr;
}

std::vector<std::string> CALayer::animationKeys() const {
    std::vector<std::string> keys;
    for (const auto& e : animations_)
        if (!e.key.empty()) keys.push_back(e.key);
    return keys;
}

// --- drawing ---------------------------------------------------------------------

std::shared_ptr<CoreGraphics::Image> tintedImage(const CoreGraphics::Image& image, RGBA tint) {
    auto out = std::make_shared<CoreGraphics::Image>(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            RGBA p = image.pixel(x, y);
            out->setPixel(x, y, RGBA{tint.r, tint.g, tint.b, p.a * tint.a});
        }
    return out;
}

namespace {
template <class T>
T presented(const CALayer& layer, const std::string& key, T fallback) {
    auto v = layer.presentationValueForKeyPath(key);
    if (auto p = std::get_if<T>(&v)) return *p;
    return fallback;
}
}  // namespace

void CALayer::render(DrawingContext& ctx) {
    if (hidden) return;
    const CGRect f = presented(*this, "frame", frame_);
    ctx.save();
    ctx.translate(f.origin.x, f.origin.y);
    renderInBounds(ctx);
    ctx.restore();
}

void CALayer::renderInBounds(DrawingContext& ctx, const std::function<void()>& content,
                             const std::function<void()>& overlay) {
    if (hidden) return;
    const double alpha = presented(*this, "opacity", opacity);
    if (alpha <= 0) return;
    const CGRect f = presented(*this, "frame", frame_);
    ctx.save();
    if (alpha < 1) ctx.setAlpha(alpha);
    const CGRect b{{0, 0}, f.size};
    const double radius = presented(*this, "cornerRadius", cornerRadius);
    if (masksToBounds) {
        if (radius > 0)
            ctx.clipToRoundedRect(b, radius);
        else
            ctx.clipToRect(b);
    }
    const RGBA bg = presented(*this, "backgroundColor", backgroundColor);
    if (mask && mask->contents) {
        // The colour shows through the mask's alpha: a tinted copy of the mask image.
        if (bg.a > 0) ctx.drawImage(*tintedImage(*mask->contents, bg), mask->frame());
    } else if (bg.a > 0) {
        if (radius > 0)
            ctx.fillRoundedRect(b, radius, bg);
        else
            ctx.fillRect(b, bg);
    }
    if (contents) ctx.drawImage(*contents, b);
    drawInContext(ctx);
    if (content) content();
    for (auto& s : std::vector<std::shared_ptr<CALayer>>(sublayers_)) s->render(ctx);
    if (overlay) overlay();
    const double bw = presented(*this, "borderWidth", borderWidth);
    const RGBA bc = presented(*this, "borderColor", borderColor);
    if (bw > 0 && bc.a > 0) {
        CGRect inner = CoreGraphics::CGRectInset(b, bw / 2, bw / 2);
        if (radius > 0)
            ctx.strokeRoundedRect(inner, std::max(0.0, radius - bw / 2), bc, bw);
        else
            ctx.strokeRect(inner, bc, bw);
    }
    ctx.restore();
    needsDisplay_ = false;
}

void CALayer::drawInContext(DrawingContext& ctx) {
    drawContent(ctx);
    if (auto d = delegate.lock()) d->drawLayer(*this, ctx);
}

// --- shape layer -------------------------------------------------------------------

AnimValue CAShapeLayer::valueForKeyPath(const std::string& key) const {
    if (key == "path") return path;
    if (key == "fillColor") return fillColor;
    if (key == "strokeColor") return strokeColor;
    if (key == "lineWidth") return lineWidth;
    if (key == "strokeStart") return strokeStart;
    if (key == "strokeEnd") return strokeEnd;
    return CALayer::valueForKeyPath(key);
}

void CAShapeLayer::setValueForKeyPath(const std::string& key, const AnimValue& v) {
    if (auto p = std::get_if<CGPath>(&v); p && key == "path")
        path = *p;
    else if (auto c = std::get_if<RGBA>(&v); c && key == "fillColor")
        fillColor = *c;
    else if (c && key == "strokeColor")
        strokeColor = *c;
    else if (auto d = std::get_if<double>(&v); d && key == "lineWidth")
        lineWidth = *d;
    else if (d && key == "strokeStart")
        strokeStart = *d;
    else if (d && key == "strokeEnd")
        strokeEnd = *d;
    else
        CALayer::setValueForKeyPath(key, v);
    setNeedsDisplay();
}

void CAShapeLayer::drawContent(DrawingContext& ctx) {
    const CGPath p = presented(*this, "path", path);
    if (p.empty()) return;
    const RGBA fill = presented(*this, "fillColor", fillColor);
    const RGBA stroke = presented(*this, "strokeColor", strokeColor);
    const double width = presented(*this, "lineWidth", lineWidth);
    const double end = presented(*this, "strokeEnd", strokeEnd);
    const double start = presented(*this, "strokeStart", strokeStart);
    if (fill.a > 0) {
        p.addTo(ctx);
        ctx.fillPath(fill);
    }
    if (stroke.a > 0 && width > 0 && end > start) {
        p.addTo(ctx);
        ctx.strokePath(stroke, width);
    }
}

// --- text layer ----------------------------------------------------------------------

AnimValue CATextLayer::valueForKeyPath(const std::string& key) const {
    if (key == "foregroundColor") return foregroundColor;
    if (key == "fontSize") return font.size;
    return CALayer::valueForKeyPath(key);
}

void CATextLayer::setValueForKeyPath(const std::string& key, const AnimValue& v) {
    if (auto c = std::get_if<RGBA>(&v); c && key == "foregroundColor")
        foregroundColor = *c;
    else if (auto d = std::get_if<double>(&v); d && key == "fontSize")
        font.size = *d;
    else
        CALayer::setValueForKeyPath(key, v);
    setNeedsDisplay();
}

void CATextLayer::drawContent(DrawingContext& ctx) {
    if (string.empty()) return;
    auto align = alignmentMode == CATextAlignment::center  ? CoreGraphics::TextAlignment::Center
                 : alignmentMode == CATextAlignment::right ? CoreGraphics::TextAlignment::Right
                                                           : CoreGraphics::TextAlignment::Left;
    ctx.drawText(string, bounds(), font, presented(*this, "foregroundColor", foregroundColor), align);
}

// --- gradient layer ---------------------------------------------------------------------

void CAGradientLayer::drawContent(DrawingContext& ctx) {
    if (colors.empty()) return;
    std::vector<double> locs = locations;
    if (locs.size() != colors.size()) {
        locs.clear();
        for (std::size_t i = 0; i < colors.size(); ++i)
            locs.push_back(colors.size() == 1 ? 0 : static_cast<double>(i) / static_cast<double>(colors.size() - 1));
    }
    const CGRect b = bounds();
    ctx.fillLinearGradient(b, {b.width() * startPoint.x, b.height() * startPoint.y},
                           {b.width() * endPoint.x, b.height() * endPoint.y}, colors, locs);
}

}  // namespace QuartzCore
