#pragma once
// Layers: plain, shape, text and gradient layers with keyed animations on the
// project's clock. As on the platform, an animation never changes the model
// value: callers set the model value themselves; the presentation value
// (what is drawn) follows the animation until it ends and is removed.
//
// Geometry: `frame` in the superlayer's coordinates, y up; `bounds` is
// (0, 0, width, height). Colours are straight RGBA; a clear colour (alpha 0)
// stands for "no colour".

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Platform/CoreGraphics/Drawing.h"
#include "Platform/QuartzCore/Timing.h"

namespace QuartzCore {

using CoreGraphics::CGFloat;
using CoreGraphics::CGPoint;
using CoreGraphics::CGRect;
using CoreGraphics::CGSize;
using CoreGraphics::RGBA;

inline constexpr RGBA kClearColor{0, 0, 0, 0};

// A path: move, line, cubic curve and close elements, in user space.
struct CGPath {
    enum class Op { Move, Line, Curve, Close };
    struct Element {
        Op op;
        CGPoint p0, p1, p2;  // Move/Line: p0; Curve: control p0, p1, end p2
        bool operator==(const Element&) const = default;
    };
    std::vector<Element> elements;
    bool operator==(const CGPath&) const = default;

    void moveTo(CGPoint p) { elements.push_back({Op::Move, p, {}, {}}); }
    void lineTo(CGPoint p) { elements.push_back({Op::Line, p, {}, {}}); }
    void curveTo(CGPoint c1, CGPoint c2, CGPoint p) { elements.push_back({Op::Curve, c1, c2, p}); }
    void close() { elements.push_back({Op::Close, {}, {}, {}}); }
    static CGPath rect(CGRect r);
    static CGPath roundedRect(CGRect r, CGFloat radius);
    static CGPath ellipse(CGRect r);
    bool empty() const { return elements.empty(); }
    // Replays the path into a drawing context (fill or stroke follows).
    void addTo(CoreGraphics::DrawingContext& ctx) const;
};

using AnimValue = std::variant<std::monostate, double, CGPoint, CGSize, CGRect, RGBA, CGPath>;
// Interpolation between two values of one kind; other pairs jump at the end.
AnimValue interpolate(const AnimValue& from, const AnimValue& to, double progress);

class CALayer;
class CAAnimation;

class CAAnimationDelegate {
public:
    virtual ~CAAnimationDelegate() = default;
    virtual void animationDidStart(CAAnimation&) {}
    // Once per added animation: finished true at its end, false when it was
    // removed or replaced before.
    virtual void animationDidStop(CAAnimation&, bool /*finished*/) {}
};

enum class CAFillMode { removed, forwards, backwards, both };

class CAAnimation : public std::enable_shared_from_this<CAAnimation> {
public:
    virtual ~CAAnimation() = default;
    double duration = 0;     // one pass, seconds
    double beginTime = 0;    // in a group: offset from the group's start
    double repeatCount = 0;  // 0 counts as 1
    bool autoreverses = false;
    bool removedOnCompletion = true;
    CAFillMode fillMode = CAFillMode::removed;
    std::shared_ptr<CAMediaTimingFunction> timingFunction;  // none: linear
    std::weak_ptr<CAAnimationDelegate> delegate;
    // A delegate the animation keeps (as the platform retains its delegate).
    std::shared_ptr<CAAnimationDelegate> strongDelegate;
    // Convenience completion, run with the delegate call.
    std::function<void(bool finished)> completion;

    double activeDuration() const;
    // Progress of one pass (after timing) at local time t (0 = start);
    // nothing before the start, the final progress after the end.
    std::optional<double> progressAt(double t) const;
    virtual std::shared_ptr<CAAnimation> copy() const = 0;
};

class CABasicAnimation : public CAAnimation {
public:
    explicit CABasicAnimation(std::string keyPath = {}) : keyPath(std::move(keyPath)) {}
    static std::shared_ptr<CABasicAnimation> animationWithKeyPath(std::string keyPath) {
        return std::make_shared<CABasicAnimation>(std::move(keyPath));
    }
    std::string keyPath;
    AnimValue fromValue;  // monostate: the presentation value when added
    AnimValue toValue;    // monostate: the model value
    std::shared_ptr<CAAnimation> copy() const override { return std::make_shared<CABasicAnimation>(*this); }

    AnimValue resolvedFrom;  // filled when added
};

class CAAnimationGroup : public CAAnimation {
public:
    std::vector<std::shared_ptr<CAAnimation>> animations;
    std::shared_ptr<CAAnimation> copy() const override;
};

// Draws layer content a subclass or delegate provides.
class CALayerDelegate {
public:
    virtual ~CALayerDelegate() = default;
    virtual void drawLayer(CALayer&, CoreGraphics::DrawingContext&) {}
};

class CALayer : public std::enable_shared_from_this<CALayer> {
public:
    CALayer() = default;
    virtual ~CALayer();
    CALayer(const CALayer&) = delete;
    CALayer& operator=(const CALayer&) = delete;
    static std::shared_ptr<CALayer> layer() { return std::make_shared<CALayer>(); }

    // --- geometry and tree
    CGRect frame() const { return frame_; }
    void setFrame(CGRect r) {
        frame_ = r;
        setNeedsDisplay();
    }
    CGRect bounds() const { return {{0, 0}, frame_.size}; }
    void setBounds(CGRect r) {
        frame_.size = r.size;
        setNeedsDisplay();
    }
    CGPoint position() const { return {frame_.midX(), frame_.midY()}; }
    void setPosition(CGPoint p) { frame_.origin = {p.x - frame_.size.width / 2, p.y - frame_.size.height / 2}; }
    const std::vector<std::shared_ptr<CALayer>>& sublayers() const { return sublayers_; }
    void addSublayer(std::shared_ptr<CALayer> layer);
    void insertSublayer(std::shared_ptr<CALayer> layer, std::size_t index);
    void removeFromSuperlayer();
    CALayer* superlayer() const { return superlayer_; }

    // --- appearance (animatable by key path)
    double opacity = 1;
    RGBA backgroundColor = kClearColor;
    RGBA borderColor{0, 0, 0, 1};
    double borderWidth = 0;
    double cornerRadius = 0;
    bool masksToBounds = false;
    bool hidden = false;
    RGBA shadowColor{0, 0, 0, 1};
    double shadowOpacity = 0;
    double shadowRadius = 3;
    CGSize shadowOffset{0, -3};
    double contentsScale = 1;
    std::shared_ptr<const CoreGraphics::Image> contents;
    std::shared_ptr<CALayer> mask;  // the mask's alpha (its contents) shapes this layer
    std::weak_ptr<CALayerDelegate> delegate;
    std::string name;

    // Values by key path ("opacity", "backgroundColor", "borderColor",
    // "borderWidth", "cornerRadius", "bounds", "position", "frame",
    // "shadowColor", "shadowOpacity", "shadowRadius", and for shape layers
    // "path", "fillColor", "strokeColor", "lineWidth", "strokeStart",
    // "strokeEnd"). Unknown keys read as nothing and ignore writes.
    virtual AnimValue valueForKeyPath(const std::string& key) const;
    virtual void setValueForKeyPath(const std::string& key, const AnimValue& value);
    // What is on screen now: the model value under its running animations.
    AnimValue presentationValueForKeyPath(const std::string& key) const;

    // --- animations
    // Adds a copy under `key` (a running animation under the same key is
    // removed first and told it did not finish). An empty key keeps every one.
    void addAnimation(const std::shared_ptr<CAAnimation>& animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    std::shared_ptr<CAAnimation> animationForKey(const std::string& key) const;
    std::vector<std::string> animationKeys() const;

    // --- drawing
    void setNeedsDisplay() { needsDisplay_ = true; }
    bool needsDisplay() const { return needsDisplay_; }
    // Draws the layer tree in the superlayer's coordinates (presentation values).
    void render(CoreGraphics::DrawingContext& ctx);
    // Draws the layer in its own bounds' coordinates (no frame offset), with
    // `content` drawn after the layer's own drawing and `overlay` after the
    // sublayers (a layer-backed view's drawing and subviews).
    void renderInBounds(CoreGraphics::DrawingContext& ctx, const std::function<void()>& content = nullptr,
                        const std::function<void()>& overlay = nullptr);
    virtual void drawInContext(CoreGraphics::DrawingContext& ctx);

protected:
    // Subclass content, drawn after the background and before sublayers.
    virtual void drawContent(CoreGraphics::DrawingContext&) {}

private:
    struct Entry {
        std::string key;
        std::shared_ptr<CAAnimation> animation;
        double start = 0;
        bool finished = false;
        std::uint64_t id = 0;
    };
    void resolveFrom(CAAnimation& animation);
    bool applyAnimation(const CAAnimation& animation, double localTime, const std::string& key, AnimValue& value) const;
    void stopEntry(Entry entry, bool finished);
    void entryEnded(std::uint64_t id);

    CGRect frame_{};
    std::vector<std::shared_ptr<CALayer>> sublayers_;
    CALayer* superlayer_ = nullptr;
    std::vector<Entry> animations_;
    std::uint64_t nextId_ = 1;
    bool needsDisplay_ = true;
};

enum class CALineCap { butt, round, square };

class CAShapeLayer : public CALayer {
public:
    static std::shared_ptr<CAShapeLayer> layer() { return std::make_shared<CAShapeLayer>(); }
    CGPath path;
    RGBA fillColor{0, 0, 0, 1};
    RGBA strokeColor = kClearColor;
    double lineWidth = 1;
    double strokeStart = 0, strokeEnd = 1;
    CALineCap lineCap = CALineCap::butt;
    AnimValue valueForKeyPath(const std::string& key) const override;
    void setValueForKeyPath(const std::string& key, const AnimValue& value) override;

protected:
    void drawContent(CoreGraphics::DrawingContext& ctx) override;
};

enum class CATextAlignment { natural, left, center, right };

class CATextLayer : public CALayer {
public:
    static std::shared_ptr<CATextLayer> layer() { return std::make_shared<CATextLayer>(); }
    std::string string;
    CoreGraphics::FontSpec font;  // font.size is the font size
    RGBA foregroundColor{1, 1, 1, 1};
    CATextAlignment alignmentMode = CATextAlignment::natural;
    AnimValue valueForKeyPath(const std::string& key) const override;
    void setValueForKeyPath(const std::string& key, const AnimValue& value) override;

protected:
    void drawContent(CoreGraphics::DrawingContext& ctx) override;
};

class CAGradientLayer : public CALayer {
public:
    static std::shared_ptr<CAGradientLayer> layer() { return std::make_shared<CAGradientLayer>(); }
    std::vector<RGBA> colors;
    std::vector<double> locations;                 // empty: evenly spread
    CGPoint startPoint{0.5, 0}, endPoint{0.5, 1};  // unit coordinates of the bounds

protected:
    void drawContent(CoreGraphics::DrawingContext& ctx) override;
};

}  // namespace QuartzCore

namespace QuartzCore {
// The image's alpha filled with `tint` (source-atop over the whole image).
std::shared_ptr<CoreGraphics::Image> tintedImage(const CoreGraphics::Image& image, RGBA tint);
}  // namespace QuartzCore
