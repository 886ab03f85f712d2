#include "Platform/AppKit/Layout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "Platform/AppKit/Animation.h"

namespace AppKit {

// --- constraints ----------------------------------------------------------------

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::constraintWithItem(NSView* item1, NSLayoutAttribute attr1,
                                                                           NSLayoutRelation relation, NSView* item2,
                                                                           NSLayoutAttribute attr2, double multiplier,
                                                                           double constant) {
    return std::make_shared<NSLayoutConstraint>(item1, attr1, relation, item2, attr2, multiplier, constant);
}

NSView* commonAncestor(NSView* a, NSView* b) {
    if (!a) return b;
    if (!b) return a;
    for (NSView* x = a; x; x = x->superview())
        if (b->isDescendantOf(x)) return x;
    return nullptr;
}

void NSLayoutConstraint::setActive(bool active) {
    if (active == isActive()) return;
    auto self = shared_from_this();
    if (active) {
        NSView* host = commonAncestor(firstItem, secondItem);
        if (!host) host = firstItem ? firstItem : secondItem;
        if (!host) return;
        host->addConstraint(self);
    } else {
        installedOn_->removeConstraint(self);
    }
}

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs) {
    for (auto& c : cs) c->setActive(true);
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs) {
    for (auto& c : cs) c->setActive(false);
}

void NSLayoutConstraint::setConstant(double c) {
    constant_ = c;
    // An inactive constraint may name views that are gone: only its host is touched.
    if (installedOn_) installedOn_->setNeedsLayout();
}

void NSLayoutConstraint::Animator::setConstant(double to) {
    auto c = constraint;
    const double from = c->constant();
    animateValue(
        c.get(), "constant",
        [c, from, to](double p) {
            c->setConstant(p >= 1 ? to : from + (to - from) * p);
            if (NSView* v = c->installedOn_) {
                NSView* root = v;
                while (root->superview()) root = root->superview();
                root->layoutSubtreeIfNeeded();
            }
        },
        c);
}

// --- anchors -----------------------------------------------------------------------

NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToAnchor(const NSLayoutAnchor& o, double constant) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::equal, o.view_, o.attribute_, 1,
                                                  constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToAnchor(const NSLayoutAnchor& o, double m,
                                                              double constant) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::equal, o.view_, o.attribute_, m,
                                                  constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintGreaterThanOrEqualToAnchor(const NSLayoutAnchor& o,
                                                                           double constant) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::greaterThanOrEqual, o.view_,
                                                  o.attribute_, 1, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& o,
                                                                        double constant) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::lessThanOrEqual, o.view_,
                                                  o.attribute_, 1, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToConstant(double c) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::equal, nullptr,
                                                  NSLayoutAttribute::notAnAttribute, 1, c);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintGreaterThanOrEqualToConstant(double c) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::greaterThanOrEqual, nullptr,
                                                  NSLayoutAttribute::notAnAttribute, 1, c);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintLessThanOrEqualToConstant(double c) const {
    return NSLayoutConstraint::constraintWithItem(view_, attribute_, NSLayoutRelation::lessThanOrEqual, nullptr,
                                                  NSLayoutAttribute::notAnAttribute, 1, c);
}

// --- visual format -------------------------------------------------------------------

namespace {
struct Predicate {
    NSLayoutRelation relation = NSLayoutRelation::equal;
    double value = 0;
};

bool parsePredicates(const std::string& s, std::size_t& pos, std::vector<Predicate>& out) {
    // "(" pred ("," pred)* ")" where pred = [== | >= | <=] number
    if (pos >= s.size() || s[pos] != '(') return true;
    ++pos;
    while (pos < s.size() && s[pos] != ')') {
        Predicate p;
        if (s.compare(pos, 2, "==") == 0)
            pos += 2;
        else if (s.compare(pos, 2, ">=") == 0) {
            p.relation = NSLayoutRelation::greaterThanOrEqual;
            pos += 2;
        } else if (s.compare(pos, 2, "<=") == 0) {
            p.relation = NSLayoutRelation::lessThanOrEqual;
            pos += 2;
        }
        std::size_t start = pos;
        while (pos < s.size() && (std::isdigit(static_cast<unsigned char>(s[pos])) || s[pos] == '.' || s[pos] == '-'))
            ++pos;
        if (start == pos) return false;
        p.value = std::stod(s.substr(start, pos - start));
        out.push_back(p);
        if (pos < s.size() && s[pos] == ',') ++pos;
    }
    if (pos >= s.size()) return false;
    ++pos;
    return true;
}
}  // namespace

std::vector<std::shared_ptr<NSLayoutConstraint>> NSLayoutConstraint::constraintsWithVisualFormat(
    const std::string& format, const std::map<std::string, NSViewRef>& views) {
    using A = NSLayoutAttribute;
    std::string s;
    for (char ch : format)
        if (!std::isspace(static_cast<unsigned char>(ch))) s += ch;
    bool vertical = false;
    std::size_t pos = 0;
    if (s.rfind("H:", 0) == 0)
        pos = 2;
    else if (s.rfind("V:", 0) == 0) {
        vertical = true;
        pos = 2;
    }
    const A lead = vertical ? A::top : A::leading, trail = vertical ? A::bottom : A::trailing;
    const A size = vertical ? A::height : A::width;
    // Along y (upwards) the chain runs top to bottom: the next view's top is
    // the previous one's bottom minus the spacing.
    const double dir = vertical ? -1 : 1;

    std::vector<std::shared_ptr<NSLayoutConstraint>> out;
    NSView* superview = nullptr;
    for (auto& [name, v] : views)
        if (v && v->superview()) {
            superview = v->superview();
            break;
        }
    bool prevIsSuper = false;
    NSView* prev = nullptr;
    if (pos < s.size() && s[pos] == '|') {
        prevIsSuper = true;
        ++pos;
    }
    std::optional<Predicate> spacing;
    auto parseConnection = [&]() -> bool {
        spacing.reset();
        if (pos < s.size() && s[pos] == '-') {
            ++pos;
            Predicate p;
            p.value = 8;
            if (pos < s.size() && (std::isdigit(static_cast<unsigned char>(s[pos])) || s[pos] == '(')) {
                if (s[pos] == '(') {
                    std::vector<Predicate> ps;
                    if (!parsePredicates(s, pos, ps) || ps.empty()) return false;
                    p = ps[0];
                } else {
                    std::size_t start = pos;
                    while (pos < s.size() && (std::isdigit(static_cast<unsigned char>(s[pos])) || s[pos] == '.')) ++pos;
                    p.value = std::stod(s.substr(start, pos - start));
                }
                if (pos >= s.size() || s[pos] != '-') return false;
                ++pos;
            }
            spacing = p;
        } else {
            spacing = Predicate{NSLayoutRelation::equal, 0};
        }
        return true;
    };
    auto link = [&](NSView* item, A itemAttr, NSView* other, A otherAttr, const Predicate& p, bool itemAfter) {
        // itemAfter: item.lead = other.trail + dir*spacing; else other.trail = item.lead ... handled by caller
        NSLayoutRelation rel = p.relation;
        double c = dir * p.value;
        if (!itemAfter) c = -c;
        if (vertical && rel != NSLayoutRelation::equal)
            rel = rel == NSLayoutRelation::greaterThanOrEqual ? NSLayoutRelation::lessThanOrEqual
                                                              : NSLayoutRelation::greaterThanOrEqual;
        out.push_back(constraintWithItem(item, itemAttr, rel, other, otherAttr, 1, c));
    };
    while (pos < s.size()) {
        if (!parseConnection()) return {};
        if (pos >= s.size()) break;
        if (s[pos] == '|') {
            ++pos;
            if (prev && superview) link(superview, trail, prev, trail, *spacing, true);
            break;
        }
        if (s[pos] != '[') return {};
        ++pos;
        std::size_t start = pos;
        while (pos < s.size() && s[pos] != ']' && s[pos] != '(') ++pos;
        std::string name = s.substr(start, pos - start);
        auto it = views.find(name);
        if (it == views.end() || !it->second) return {};
        NSView* view = it->second.get();
        std::vector<Predicate> preds;
        if (!parsePredicates(s, pos, preds)) return {};
        if (pos >= s.size() || s[pos] != ']') return {};
        ++pos;
        for (auto& p : preds)
            out.push_back(constraintWithItem(view, size, p.relation, nullptr, A::notAnAttribute, 1, p.value));
        if (prev)
            link(view, lead, prev, trail, *spacing, true);
        else if (prevIsSuper && superview)
            link(view, lead, superview, lead, *spacing, true);
        prev = view;
        prevIsSuper = false;
    }
    return out;
}

// --- solver ------------------------------------------------------------------------------

namespace {

struct Equation {
    std::vector<std::pair<int, double>> terms;  // variable, coefficient
    double c = 0;                               // sum(terms) + c (relation) 0
    NSLayoutRelation relation = NSLayoutRelation::equal;
    double priority = 1000;
    std::size_t order = 0;
};

struct AxisSystem {
    std::vector<double> value;
    std::vector<bool> known;
    std::vector<double> fallback;  // intrinsic or current size / position
    std::vector<bool> hasIntrinsic;

    double eval(const Equation& e) const {
        double s = e.c;
        for (auto& [v, k] : e.terms) s += k * value[static_cast<std::size_t>(v)];
        return s;
    }
    // Solves e for its one unknown; false unless exactly one remains.
    bool solveOne(const Equation& e) {
        int unknown = -1;
        double coef = 0, rest = e.c;
        for (auto& [v, k] : e.terms) {
            if (k == 0) continue;
            if (known[static_cast<std::size_t>(v)])
                rest += k * value[static_cast<std::size_t>(v)];
            else if (unknown == -1 || unknown == v) {
                unknown = v;
                coef += k;
            } else
                return false;
        }
        if (unknown == -1 || coef == 0) return false;
        value[static_cast<std::size_t>(unknown)] = -rest / coef;
        known[static_cast<std::size_t>(unknown)] = true;
        return true;
    }
};

struct Tree {
    std::vector<NSView*> views;  // tree order, root first
    std::unordered_map<const NSView*, int> index;
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints;
};

void collect(NSView* v, Tree& t) {
    t.index[v] = static_cast<int>(t.views.size());
    t.views.push_back(v);
    for (auto& c : v->constraints()) t.constraints.push_back(c);
    for (auto& s : v->subviews()) collect(s.get(), t);
}

// Terms of an attribute: variable 2i is the position (x or y), 2i+1 the size.
bool attributeTerms(int i, NSLayoutAttribute a, bool vertical, double scale, std::vector<std::pair<int, double>>& out) {
    using A = NSLayoutAttribute;
    const int pos = 2 * i, size = 2 * i + 1;
    switch (a) {
        case A::left:
        case A::leading:
            if (vertical) return false;
            out.push_back({pos, scale});
            return true;
        case A::right:
        case A::trailing:
            if (vertical) return false;
            out.push_back({pos, scale});
            out.push_back({size, scale});
            return true;
        case A::centerX:
            if (vertical) return false;
            out.push_back({pos, scale});
            out.push_back({size, scale * 0.5});
            return true;
        case A::width:
            if (vertical) return false;
            out.push_back({size, scale});
            return true;
        case A::bottom:
            if (!vertical) return false;
            out.push_back({pos, scale});
            return true;
        case A::top:
            if (!vertical) return false;
            out.push_back({pos, scale});
            out.push_back({size, scale});
            return true;
        case A::centerY:
            if (!vertical) return false;
            out.push_back({pos, scale});
            out.push_back({size, scale * 0.5});
            return true;
        case A::height:
            if (!vertical) return false;
            out.push_back({size, scale});
            return true;
        default:
            return false;
    }
}

bool isAxis(NSLayoutAttribute a, bool vertical) {
    using A = NSLayoutAttribute;
    if (a == A::notAnAttribute) return false;
    bool v = a == A::top || a == A::bottom || a == A::centerY || a == A::height;
    return v == vertical;
}

void solveAxis(Tree& t, bool vertical, bool rootSizeFree, AxisSystem& sys) {
    const std::size_t n = t.views.size();
    std::vector<Equation> eqs;
    std::size_t order = 0;
    auto add = [&](Equation e) {
        e.order = order++;
        eqs.push_back(std::move(e));
    };

    for (std::size_t i = 0; i < n; ++i) {
        NSView* v = t.views[i];
        const CGRect fw = v->frameInWindow();
        const double pos = vertical ? fw.minY() : fw.minX();
        const double size = vertical ? fw.height() : fw.width();
        const int pi = 2 * static_cast<int>(i), si = pi + 1;
        sys.fallback[static_cast<std::size_t>(pi)] = pos;
        CGSize intrinsic = v->translatesAutoresizingMaskIntoConstraints ? CGSize{-1, -1} : v->intrinsicContentSize();
        double in = vertical ? intrinsic.height : intrinsic.width;
        sys.hasIntrinsic[static_cast<std::size_t>(si)] = in >= 0;
        sys.fallback[static_cast<std::size_t>(si)] = in >= 0 ? in : size;
        if (i == 0) {
            sys.value[static_cast<std::size_t>(pi)] = rootSizeFree ? 0 : pos;
            sys.known[static_cast<std::size_t>(pi)] = true;
            if (!rootSizeFree) {
                sys.value[static_cast<std::size_t>(si)] = size;
                sys.known[static_cast<std::size_t>(si)] = true;
            }
            continue;
        }
        if (!v->translatesAutoresizingMaskIntoConstraints) continue;
        // Fixed to the frame, relative to the superview.
        NSView* s = v->superview();
        const int sp = 2 * t.index[s], ss = sp + 1;
        const CGRect f = v->frame(), sb = s->bounds();
        add({{{si, 1}}, -(vertical ? f.height() : f.width())});
        if (!vertical) {
            add({{{pi, 1}, {sp, -1}}, -(f.minX() - sb.minX())});
        } else if (!s->isFlipped()) {
            add({{{pi, 1}, {sp, -1}}, -(f.minY() - sb.minY())});
        } else {
            // y_v = y_s + h_s - (f.y - b.y) - h_v
            add({{{pi, 1}, {sp, -1}, {ss, -1}, {si, 1}}, f.minY() - sb.minY()});
        }
    }
    for (auto& c : t.constraints) {
        auto i1 = t.index.find(c->firstItem);
        if (i1 == t.index.end() || !isAxis(c->firstAttribute, vertical)) continue;
        Equation e;
        if (!attributeTerms(i1->second, c->firstAttribute, vertical, 1, e.terms)) continue;
        if (c->secondItem && c->secondAttribute != NSLayoutAttribute::notAnAttribute) {
            auto i2 = t.index.find(c->secondItem);
            if (i2 == t.index.end() || !isAxis(c->secondAttribute, vertical)) continue;
            if (!attributeTerms(i2->second, c->secondAttribute, vertical, -c->multiplier, e.terms)) continue;
        }
        e.c = -c->constant();
        e.relation = c->relation;
        e.priority = c->priority;
        add(e);
    }

    std::vector<bool> activeIneq(eqs.size(), false);
    const auto initialValue = sys.value;
    const auto initialKnown = sys.known;
    for (int round = 0; round < 8; ++round) {
        sys.value = initialValue;
        sys.known = initialKnown;
        std::vector<bool> used(eqs.size(), false);
        auto usable = [&](std::size_t k) {
            return !used[k] && (eqs[k].relation == NSLayoutRelation::equal || activeIneq[k]);
        };
        for (;;) {
            bool progress = false;
            for (std::size_t k = 0; k < eqs.size(); ++k)
                if (usable(k) && eqs[k].priority >= 1000 && sys.solveOne(eqs[k])) used[k] = progress = true;
            if (progress) continue;
            // The strongest optional equation that can be solved.
            std::optional<std::size_t> best;
            for (std::size_t k = 0; k < eqs.size(); ++k) {
                if (!usable(k) || eqs[k].priority >= 1000) continue;
                AxisSystem probe = sys;
                if (!probe.solveOne(eqs[k])) continue;
                if (!best || eqs[k].priority > eqs[*best].priority) best = k;
            }
            if (best) {
                sys.solveOne(eqs[*best]);
                used[*best] = true;
                continue;
            }
            // Still free: a size from its intrinsic or current value first, then a position.
            std::optional<std::size_t> free;
            for (std::size_t v = 0; v < 2 * n && !free; ++v)
                if (v % 2 == 1 && !sys.known[v] && sys.hasIntrinsic[v]) free = v;
            for (std::size_t v = 1; v < 2 * n && !free; v += 2)
                if (!sys.known[v]) free = v;
            for (std::size_t v = 0; v < 2 * n && !free; v += 2)
                if (!sys.known[v]) free = v;
            if (!free) break;
            sys.value[*free] = sys.fallback[*free];
            sys.known[*free] = true;
        }
        bool violated = false;
        for (std::size_t k = 0; k < eqs.size(); ++k) {
            if (eqs[k].relation == NSLayoutRelation::equal || activeIneq[k]) continue;
            double r = sys.eval(eqs[k]);
            if ((eqs[k].relation == NSLayoutRelation::greaterThanOrEqual && r < -1e-9) ||
                (eqs[k].relation == NSLayoutRelation::lessThanOrEqual && r > 1e-9)) {
                activeIneq[k] = true;
                violated = true;
            }
        }
        if (!violated) break;
    }
}

void apply(Tree& t, const AxisSystem& xs, const AxisSystem& ys) {
    for (std::size_t i = 1; i < t.views.size(); ++i) {
        NSView* v = t.views[i];
        if (v->translatesAutoresizingMaskIntoConstraints) continue;
        NSView* s = v->superview();
        const std::size_t si = static_cast<std::size_t>(t.index[s]);
        const CGRect sb = s->bounds();
        const double X = xs.value[2 * i], W = std::max(0.0, xs.value[2 * i + 1]);
        const double Y = ys.value[2 * i], H = std::max(0.0, ys.value[2 * i + 1]);
        const double SX = xs.value[2 * si], SY = ys.value[2 * si], SH = ys.value[2 * si + 1];
        double x = X - SX + sb.minX();
        double y = s->isFlipped() ? sb.minY() + (SY + SH) - (Y + H) : Y - SY + sb.minY();
        v->setFrame(CGRectMake(x, y, W, H));
    }
}

}  // namespace

void NSLayoutSolver::solve(NSView& root) {
    Tree t;
    collect(&root, t);
    if (t.constraints.empty()) {
        bool any = false;
        for (auto* v : t.views)
            if (v != &root && !v->translatesAutoresizingMaskIntoConstraints) any = true;
        if (!any) return;
    }
    const std::size_t n = 2 * t.views.size();
    AxisSystem xs{std::vector<double>(n), std::vector<bool>(n), std::vector<double>(n), std::vector<bool>(n)};
    AxisSystem ys = xs;
    solveAxis(t, false, false, xs);
    solveAxis(t, true, false, ys);
    apply(t, xs, ys);
}

CGSize NSLayoutSolver::fittingSize(NSView& view) {
    Tree t;
    collect(&view, t);
    const std::size_t n = 2 * t.views.size();
    AxisSystem xs{std::vector<double>(n), std::vector<bool>(n), std::vector<double>(n), std::vector<bool>(n)};
    AxisSystem ys = xs;
    solveAxis(t, false, true, xs);
    solveAxis(t, true, true, ys);
    return {xs.value[1], ys.value[1]};
}

}  // namespace AppKit
