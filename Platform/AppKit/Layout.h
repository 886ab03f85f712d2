#pragma once
// Layout constraints and the small solver behind them.
//
// A constraint says item1.attribute1 (relation) item2.attribute2 * multiplier
// + constant, at a priority (1000: required). The solver lays out a whole
// view tree at once, in window space, one axis at a time: views that keep
// their autoresizing constraints are fixed to their frames (relative to their
// superview); the others are found by propagation through the equalities,
// required first, then by priority; a view still undetermined takes its
// intrinsic size, then its current frame. Violated inequalities are made
// equalities and the axis solved again. Conflicting constraints are ignored
// in the order they come. This covers the forms the interface uses: edges and
// centres equal to another view's or the superview's with offsets, fixed or
// minimum widths and heights, chains (visual format), and a container sized
// by its content.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSView.h"

namespace AppKit {

enum class NSLayoutAttribute {
    notAnAttribute = 0,
    left = 1,
    right = 2,
    top = 3,
    bottom = 4,
    leading = 5,
    trailing = 6,
    width = 7,
    height = 8,
    centerX = 9,
    centerY = 10
};
enum class NSLayoutRelation { lessThanOrEqual = -1, equal = 0, greaterThanOrEqual = 1 };

using NSLayoutPriority = float;
inline constexpr NSLayoutPriority NSLayoutPriorityRequired = 1000;
inline constexpr NSLayoutPriority NSLayoutPriorityDefaultHigh = 750;
inline constexpr NSLayoutPriority NSLayoutPriorityDefaultLow = 250;

class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
public:
    NSLayoutConstraint(NSView* item1, NSLayoutAttribute attr1, NSLayoutRelation relation, NSView* item2,
                       NSLayoutAttribute attr2, double multiplier, double constant)
        : firstItem(item1),
          firstAttribute(attr1),
          relation(relation),
          secondItem(item2),
          secondAttribute(attr2),
          multiplier(multiplier),
          constant_(constant) {}
    static std::shared_ptr<NSLayoutConstraint> constraintWithItem(NSView* item1, NSLayoutAttribute attr1,
                                                                  NSLayoutRelation relation, NSView* item2,
                                                                  NSLayoutAttribute attr2, double multiplier,
                                                                  double constant);
    // Visual format ("H:|-5-[a]-5-[b(>=32)]-|", "V:|[a]|"): views by name;
    // "-" alone is 8 points; sizes in parentheses (==, >=, <= a number).
    // Empty on a format it cannot read.
    static std::vector<std::shared_ptr<NSLayoutConstraint>> constraintsWithVisualFormat(
        const std::string& format, const std::map<std::string, NSViewRef>& views);
    // Installs (on the nearest common ancestor) or removes constraints.
    static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs);
    static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs);

    NSView* firstItem;
    NSLayoutAttribute firstAttribute;
    NSLayoutRelation relation;
    NSView* secondItem;
    NSLayoutAttribute secondAttribute;
    double multiplier;
    NSLayoutPriority priority = NSLayoutPriorityRequired;
    std::string identifier;

    double constant() const { return constant_; }
    void setConstant(double c);
    bool isActive() const { return installedOn_ != nullptr; }
    void setActive(bool active);
    bool involves(const NSView* view) const { return firstItem == view || secondItem == view; }
    // Changes made through the animator animate over the current animation
    // context's duration (0.25 s outside explicit groups), laying out on each step.
    struct Animator {
        std::shared_ptr<NSLayoutConstraint> constraint;
        void setConstant(double c);
    };
    Animator animator() { return {shared_from_this()}; }

    // Internal: the view the constraint is installed on.
    NSView* installedOn_ = nullptr;

private:
    double constant_;
};

using NSLayoutConstraintRef = std::shared_ptr<NSLayoutConstraint>;

// Anchors: view->leftAnchor().constraintEqualToAnchor(other->leftAnchor(), 5).
class NSLayoutAnchor {
public:
    NSLayoutAnchor(NSView* view, NSLayoutAttribute attribute) : view_(view), attribute_(attribute) {}
    NSLayoutConstraintRef constraintEqualToAnchor(const NSLayoutAnchor& other, double constant = 0) const;
    NSLayoutConstraintRef constraintGreaterThanOrEqualToAnchor(const NSLayoutAnchor& other, double constant = 0) const;
    NSLayoutConstraintRef constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& other, double constant = 0) const;
    // Dimensions only.
    NSLayoutConstraintRef constraintEqualToConstant(double c) const;
    NSLayoutConstraintRef constraintGreaterThanOrEqualToConstant(double c) const;
    NSLayoutConstraintRef constraintLessThanOrEqualToConstant(double c) const;
    NSLayoutConstraintRef constraintEqualToAnchor(const NSLayoutAnchor& other, double multiplier,
                                                  double constant) const;

private:
    NSView* view_;
    NSLayoutAttribute attribute_;
};

inline NSLayoutAnchor leftAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::left}; }
inline NSLayoutAnchor rightAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::right}; }
inline NSLayoutAnchor leadingAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::leading}; }
inline NSLayoutAnchor trailingAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::trailing}; }
inline NSLayoutAnchor topAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::top}; }
inline NSLayoutAnchor bottomAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::bottom}; }
inline NSLayoutAnchor widthAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::width}; }
inline NSLayoutAnchor heightAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::height}; }
inline NSLayoutAnchor centerXAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::centerX}; }
inline NSLayoutAnchor centerYAnchor(const NSViewRef& v) { return {v.get(), NSLayoutAttribute::centerY}; }

// The nearest view that contains both (a view contains itself); nullptr when none.
NSView* commonAncestor(NSView* a, NSView* b);

class NSLayoutSolver {
public:
    // Lays out the tree under `root` (root keeps its frame).
    static void solve(NSView& root);
    // The size the view's constraints give it with its own size free.
    static CGSize fittingSize(NSView& view);
};

}  // namespace AppKit
