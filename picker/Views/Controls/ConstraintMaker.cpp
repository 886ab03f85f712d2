#include "picker/Views/Controls/ConstraintMaker.h"

namespace Vexil::Views {
using namespace AppKit;

namespace {

// Marks the constraints made here, so that removeConstraints finds them again.
const char* const kMadeHere = "ConstraintMaker";

bool isDimension(NSLayoutAttribute a) { return a == NSLayoutAttribute::width || a == NSLayoutAttribute::height; }

}  // namespace

ConstraintMaker::Item& ConstraintMaker::Item::equalTo(NSView& view) {
    relation = NSLayoutRelation::equal;
    other = &view;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::equalTo(snp::Anchor anchor) {
    relation = NSLayoutRelation::equal;
    other = anchor.view;
    otherAttribute = anchor.attribute;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::equalTo(double value) {
    relation = NSLayoutRelation::equal;
    constant = value;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::equalToSuperview() {
    relation = NSLayoutRelation::equal;
    toSuperview = true;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::greaterThanOrEqualTo(double value) {
    relation = NSLayoutRelation::greaterThanOrEqual;
    constant = value;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::greaterThanOrEqualTo(NSView& view) {
    relation = NSLayoutRelation::greaterThanOrEqual;
    other = &view;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::lessThanOrEqualTo(double value) {
    relation = NSLayoutRelation::lessThanOrEqual;
    constant = value;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::offset(double value) {
    constant = value;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::Item::priority(NSLayoutPriority value) {
    priority_ = value;
    return *this;
}

ConstraintMaker::Item& ConstraintMaker::add(std::vector<NSLayoutAttribute> attributes) {
    items_.push_back(std::make_unique<Item>());
    items_.back()->attributes = std::move(attributes);
    return *items_.back();
}

ConstraintMaker::Item& ConstraintMaker::left() { return add({NSLayoutAttribute::left}); }
ConstraintMaker::Item& ConstraintMaker::right() { return add({NSLayoutAttribute::right}); }
ConstraintMaker::Item& ConstraintMaker::top() { return add({NSLayoutAttribute::top}); }
ConstraintMaker::Item& ConstraintMaker::bottom() { return add({NSLayoutAttribute::bottom}); }
ConstraintMaker::Item& ConstraintMaker::width() { return add({NSLayoutAttribute::width}); }
ConstraintMaker::Item& ConstraintMaker::height() { return add({NSLayoutAttribute::height}); }
ConstraintMaker::Item& ConstraintMaker::centerX() { return add({NSLayoutAttribute::centerX}); }
ConstraintMaker::Item& ConstraintMaker::centerY() { return add({NSLayoutAttribute::centerY}); }
ConstraintMaker::Item& ConstraintMaker::edges() {
    return add({NSLayoutAttribute::top, NSLayoutAttribute::left, NSLayoutAttribute::bottom, NSLayoutAttribute::right});
}

std::vector<NSLayoutConstraintRef> ConstraintMaker::install() {
    std::vector<NSLayoutConstraintRef> made;
    for (auto& item : items_) {
        for (auto attribute : item->attributes) {
            NSView* other = item->toSuperview ? view_.superview() : item->other;
            // A position compared with a bare value is an offset from the superview's same edge.
            if (!other && !isDimension(attribute)) other = view_.superview();
            if (!other && !isDimension(attribute)) continue;  // nothing to measure from
            NSLayoutAttribute otherAttribute =
                other ? item->otherAttribute.value_or(attribute) : NSLayoutAttribute::notAnAttribute;
            auto c = NSLayoutConstraint::constraintWithItem(&view_, attribute, item->relation, other, otherAttribute, 1,
                                                            item->constant);
            c->priority = item->priority_;
            c->identifier = kMadeHere;
            c->setActive(true);
            made.push_back(c);
        }
    }
    items_.clear();
    return made;
}

std::vector<NSLayoutConstraintRef> makeConstraints(NSView& view, const std::function<void(ConstraintMaker&)>& body) {
    view.translatesAutoresizingMaskIntoConstraints = false;
    ConstraintMaker maker(view);
    body(maker);
    return maker.install();
}

std::vector<NSLayoutConstraintRef> madeConstraints(const NSView& view) {
    std::vector<NSLayoutConstraintRef> out;
    // A constraint lives on the nearest common ancestor of its views: the view or one above it.
    for (const NSView* host = &view; host; host = host->superview())
        for (auto& c : host->constraints())
            if (c->firstItem == &view && c->identifier == kMadeHere) out.push_back(c);
    return out;
}

void removeConstraints(NSView& view) { NSLayoutConstraint::deactivateConstraints(madeConstraints(view)); }

}  // namespace Vexil::Views
