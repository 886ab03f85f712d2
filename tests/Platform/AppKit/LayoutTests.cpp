// The constraint solver on the layout forms the interface uses.

#include <gtest/gtest.h>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/Layout.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/Foundation/Dispatch.h"

using namespace AppKit;

namespace {

struct Sized : NSView {
    CGSize size;
    explicit Sized(CGSize s) : NSView(CGRectMake(0, 0, s.width, s.height)), size(s) {}
    CGSize intrinsicContentSize() const override { return size; }
};

NSViewRef autoView(CGRect frame = {}) {
    auto v = std::make_shared<NSView>(frame);
    v->translatesAutoresizingMaskIntoConstraints = false;
    return v;
}

TEST(Layout, NoticeRowFromVisualFormatAndCentredVertically) {
    // A fixed swatch (autoresizing constraints) and a label between margins of 5.
    auto content = std::make_shared<NSView>(CGRectMake(0, 0, 200, 26));
    auto swatch = std::make_shared<NSView>(CGRectMake(5, 3, 16, 16));
    auto label = autoView(CGRectMake(0, 0, 50, 17));
    content->addSubview(swatch);
    content->addSubview(label);
    content->addConstraint(NSLayoutConstraint::constraintWithItem(label.get(), NSLayoutAttribute::centerY,
                                                                  NSLayoutRelation::equal, content.get(),
                                                                  NSLayoutAttribute::centerY, 1, 0));
    auto cs = NSLayoutConstraint::constraintsWithVisualFormat("H:|-5-[colorView]-5-[di]-5-|",
                                                              {{"colorView", swatch}, {"di", label}});
    ASSERT_EQ(cs.size(), 3u);
    content->addConstraints(cs);
    content->layoutSubtreeIfNeeded();
    EXPECT_EQ(label->frame(), CGRectMake(26, 4.5, 169, 17));
    EXPECT_EQ(swatch->frame(), CGRectMake(5, 3, 16, 16));
}

TEST(Layout, RowOfEqualSwatchesKeepsUnroundedWidths) {
    auto row = std::make_shared<NSView>(CGRectMake(0, 0, 100, 40));
    std::vector<NSViewRef> views;
    for (int i = 0; i < 3; ++i) {
        auto v = autoView();
        row->addSubview(v);
        NSLayoutConstraint::activateConstraints({
            views.empty() ? leftAnchor(v).constraintEqualToAnchor(leftAnchor(row))
                          : leftAnchor(v).constraintEqualToAnchor(rightAnchor(views.back())),
            heightAnchor(v).constraintEqualToAnchor(heightAnchor(row)),
            widthAnchor(v).constraintEqualToConstant(100.0 / 3),
            topAnchor(v).constraintEqualToAnchor(topAnchor(row)),
        });
        views.push_back(v);
    }
    row->layoutSubtreeIfNeeded();
    EXPECT_EQ(views[1]->frame().minX(), 100.0 / 3);
    EXPECT_EQ(views[2]->frame().width(), 100.0 / 3);
    EXPECT_EQ(views[2]->frame().height(), 40);
}

TEST(Layout, TabBarSizesItsContainerFromTheLastTabAtPriority750) {
    // clip view > container (left/top/bottom pinned, width >= 0) > tab bar (fills it) > tabs.
    auto clip = std::make_shared<NSView>(CGRectMake(0, 0, 300, 30));
    auto container = autoView(CGRectMake(0, 0, 300, 30));
    auto bar = autoView();
    clip->addSubview(container);
    container->addSubview(bar);
    NSLayoutConstraint::activateConstraints({
        leftAnchor(container).constraintEqualToAnchor(leftAnchor(clip)),
        topAnchor(container).constraintEqualToAnchor(topAnchor(clip)),
        bottomAnchor(container).constraintEqualToAnchor(bottomAnchor(clip)),
        widthAnchor(container).constraintGreaterThanOrEqualToConstant(0),
        leftAnchor(bar).constraintEqualToAnchor(leftAnchor(container)),
        rightAnchor(bar).constraintEqualToAnchor(rightAnchor(container)),
        topAnchor(bar).constraintEqualToAnchor(topAnchor(container)),
        bottomAnchor(bar).constraintEqualToAnchor(bottomAnchor(container)),
    });
    std::vector<std::shared_ptr<Sized>> tabs;
    for (double w : {40.0, 70.0, 55.0}) {
        auto tab = std::make_shared<Sized>(CGSize{w, 20});
        tab->translatesAutoresizingMaskIntoConstraints = false;
        bar->addSubview(tab);
        NSLayoutConstraint::activateConstraints({
            tabs.empty() ? leftAnchor(tab).constraintEqualToAnchor(leftAnchor(bar))
                         : leftAnchor(tab).constraintEqualToAnchor(rightAnchor(tabs.back()), 20),
            widthAnchor(tab).constraintEqualToConstant(w + 22),
            topAnchor(tab).constraintEqualToAnchor(topAnchor(bar)),
            bottomAnchor(tab).constraintEqualToAnchor(bottomAnchor(bar)),
        });
        tabs.push_back(tab);
    }
    auto last = rightAnchor(tabs.back()).constraintEqualToAnchor(rightAnchor(bar));
    last->priority = NSLayoutPriorityDefaultHigh;
    last->setActive(true);
    clip->layoutSubtreeIfNeeded();
    EXPECT_EQ(tabs[1]->frame(), CGRectMake(62 + 20, 0, 92, 30));
    EXPECT_EQ(tabs[2]->frame().maxX(), 62 + 20 + 92 + 20 + 77);
    EXPECT_EQ(container->frame().width(), 271);
    EXPECT_EQ(bar->frame().width(), 271);
}

TEST(Layout, MinimumWidthWinsOverAnEqualEdgeThatWouldShrinkBelowIt) {
    auto tab = std::make_shared<NSView>(CGRectMake(0, 0, 20, 30));
    auto field = autoView();
    tab->addSubview(field);
    auto cs = std::vector<NSLayoutConstraintRef>{
        leftAnchor(field).constraintEqualToAnchor(leftAnchor(tab)),
        topAnchor(field).constraintEqualToAnchor(topAnchor(tab)),
        bottomAnchor(field).constraintEqualToAnchor(bottomAnchor(tab)),
        rightAnchor(field).constraintEqualToAnchor(rightAnchor(tab)),
        widthAnchor(field).constraintGreaterThanOrEqualToConstant(32),
    };
    cs[3]->priority = 999;
    NSLayoutConstraint::activateConstraints(cs);
    tab->layoutSubtreeIfNeeded();
    EXPECT_EQ(field->frame().width(), 32);
    tab->setFrameSize({100, 30});
    tab->layoutSubtreeIfNeeded();
    EXPECT_EQ(field->frame().width(), 100);
}

TEST(Layout, ConstantChangesRelayoutAndAnimateInAGroup) {
    auto exec = Foundation::TestExecutor::install();
    auto cell = std::make_shared<NSView>(CGRectMake(0, 0, 100, 200));
    auto overlay = autoView();
    cell->addSubview(overlay);
    auto height = heightAnchor(overlay).constraintEqualToConstant(88);
    NSLayoutConstraint::activateConstraints({
        leftAnchor(overlay).constraintEqualToAnchor(leftAnchor(cell)),
        rightAnchor(overlay).constraintEqualToAnchor(rightAnchor(cell)),
        bottomAnchor(overlay).constraintEqualToAnchor(bottomAnchor(cell)),
        height,
    });
    cell->layoutSubtreeIfNeeded();
    EXPECT_EQ(overlay->frame(), CGRectMake(0, 0, 100, 88));
    height->setConstant(0);
    cell->layoutSubtreeIfNeeded();
    EXPECT_EQ(overlay->frame().height(), 0);
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& ctx) {
        ctx.duration = 0.2;
        height->animator().setConstant(148);
    });
    exec->advance(0.1);
    EXPECT_EQ(overlay->frame().height(), 74);
    exec->advance(0.1);
    EXPECT_EQ(overlay->frame().height(), 148);
}

TEST(Layout, VisualFormatRejectsWhatItCannotRead) {
    auto v = autoView();
    for (std::string f : {"H:|-[missing]-|", "H:|-5-[a", "H:|-5x-[a]", "V:|(-[a]"})
        EXPECT_TRUE(NSLayoutConstraint::constraintsWithVisualFormat(f, {{"a", v}}).empty()) << f;
}

TEST(Layout, AutoresizingSubviewsFollowTheirSuperview) {
    auto parent = std::make_shared<NSView>(CGRectMake(0, 0, 100, 50));
    auto field = std::make_shared<NSView>(CGRectMake(0, 0, 100, 50));
    field->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    auto pinned = std::make_shared<NSView>(CGRectMake(80, 10, 10, 10));
    pinned->autoresizingMask = NSViewMinXMargin;
    parent->addSubview(field);
    parent->addSubview(pinned);
    parent->setFrameSize({160, 70});
    EXPECT_EQ(field->frame(), CGRectMake(0, 0, 160, 70));
    EXPECT_EQ(pinned->frame(), CGRectMake(140, 10, 10, 10));
}

}  // namespace

namespace {

TEST(Layout, ConstraintsLeaveWithTheirViewAndInactiveOnesTouchNothing) {
    auto root = std::make_shared<NSView>(CGRectMake(0, 0, 100, 100));
    auto child = autoView();
    root->addSubview(child);
    auto width = widthAnchor(child).constraintEqualToConstant(40);
    auto left = leftAnchor(child).constraintEqualToAnchor(leftAnchor(root), 5);
    NSLayoutConstraint::activateConstraints({width, left});
    EXPECT_TRUE(left->isActive());
    EXPECT_EQ(root->constraints().size(), 1u) << "installed on the common ancestor";
    EXPECT_EQ(child->constraints().size(), 1u);
    child->removeFromSuperview();
    EXPECT_FALSE(left->isActive());
    EXPECT_TRUE(root->constraints().empty());
    child.reset();
    left->setConstant(9);  // names a view that is gone: harmless
    EXPECT_EQ(left->constant(), 9);
}

}  // namespace
