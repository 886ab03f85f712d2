#pragma once
// The colour editor's underlined tab strip: buttons in a row, one on at a
// time, a line under the selected one; the delegate hears the chosen tag.

#include <memory>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSScrollView.h"
#include "Platform/QuartzCore/CALayer.h"

class RCTabControlDelegate {
public:
    virtual ~RCTabControlDelegate() = default;
    virtual void schemeTabSelected(long tag) = 0;
};

class RCTabControl : public AppKit::NSStackView {
public:
    using NSStackView::NSStackView;
    std::weak_ptr<RCTabControlDelegate> tabDelegate;
    const std::shared_ptr<QuartzCore::CAShapeLayer> containerLayer = QuartzCore::CAShapeLayer::layer();
    const std::shared_ptr<QuartzCore::CAShapeLayer> lineShape = QuartzCore::CAShapeLayer::layer();

    std::vector<std::shared_ptr<AppKit::NSButton>> tabButtons() const;
    std::shared_ptr<AppKit::NSButton> selectedTab() const;
    void setUp();
    void updateUnderline();
    void selectTab(AppKit::NSButton& sender);
};
