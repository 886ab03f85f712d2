#pragma once
// Constraints written edge by edge over the interface model's solver:
//
//   makeConstraints(*tab, [&](ConstraintMaker& make) {
//       make.left().equalTo(snp::right(*previous)).offset(20);
//       make.width().equalTo(frameWidth + 22);
//       make.right().equalToSuperview().priority(750);
//   });
//   removeConstraints(*tab);   // every constraint made for the tab here
//
// An edge compared with a view compares the same edge of that view.
#include "Platform/AppKit/Layout.h"

#include <functional>
#include <optional>
#include <vector>

namespace Vexil::Views {

namespace snp {
struct Anchor {
    AppKit::NSView* view;
    AppKit::NSLayoutAttribute attribute;
};
inline Anchor left(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::left}; }
inline Anchor right(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::right}; }
inline Anchor top(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::top}; }
inline Anchor bottom(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::bottom}; }
inline Anchor width(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::width}; }
inline Anchor height(AppKit::NSView& v) { return {&v, AppKit::NSLayoutAttribute::height}; }
}  // namespace snp

class ConstraintMaker {
public:
    // One edge (or, for edges(), the four) of the view being constrained.
    class Item {
    public:
        Item& equalTo(AppKit::NSView& view);
        Item& equalTo(snp::Anchor anchor);
        Item& equalTo(double value);
        Item& equalToSuperview();
        Item& greaterThanOrEqualTo(double value);
        Item& greaterThanOrEqualTo(AppKit::NSView& view);
        Item& lessThanOrEqualTo(double value);
        Item& offset(double value);
        Item& priority(AppKit::NSLayoutPriority value);

    private:
        friend class ConstraintMaker;
        std::vector<AppKit::NSLayoutAttribute> attributes;
        AppKit::NSLayoutRelation relation = AppKit::NSLayoutRelation::equal;
        AppKit::NSView* other = nullptr;
        bool toSuperview = false;
        std::optional<AppKit::NSLayoutAttribute> otherAttribute;
        double constant = 0;
        AppKit::NSLayoutPriority priority_ = AppKit::NSLayoutPriorityRequired;
    };

    explicit ConstraintMaker(AppKit::NSView& view) : view_(view) {}
    Item& left();
    Item& right();
    Item& top();
    Item& bottom();
    Item& width();
    Item& height();
    Item& centerX();
    Item& centerY();
    Item& edges();

    // Makes and activates the described constraints (tagged as made here).
    std::vector<AppKit::NSLayoutConstraintRef> install();

private:
    Item& add(std::vector<AppKit::NSLayoutAttribute> attributes);
    AppKit::NSView& view_;
    std::vector<std::unique_ptr<Item>> items_;
};

// The view drops its autoresizing constraints; the constraints are made and
// activated; they are returned.
std::vector<AppKit::NSLayoutConstraintRef> makeConstraints(AppKit::NSView& view,
                                                           const std::function<void(ConstraintMaker&)>& body);
// Deactivates every constraint makeConstraints made for the view.
void removeConstraints(AppKit::NSView& view);
// The active constraints makeConstraints made for the view.
std::vector<AppKit::NSLayoutConstraintRef> madeConstraints(const AppKit::NSView& view);

}  // namespace Vexil::Views
