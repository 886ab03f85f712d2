#pragma once
// The strip of folder tabs at the top of the library window: one tab per
// folder in list order, the selected folder's tab on. It forwards every tab
// request to its delegate with the tab's folder id. It does not scroll: its
// owner puts it in a horizontally scrolling view and lets it grow to the
// width of its tabs (the last tab's right edge is tied to the bar's at 750).
//
// Use:
//   auto bar = AppKit::NSView::make<ZNLTabBar>();
//   bar->dataSource = window;   // ZNLBarDataSource
//   bar->reloadTabs();
//   bar->delegate = window;     // ZNLBarButtonDelegate
#include "Platform/AppKit/Layout.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSView.h"
#include "picker/Views/TabBar/ZNLBarProtocols.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Vexil::Views {

class ZNLTabBar : public AppKit::NSView, public ZNLBarButtonDelegate {
public:
    using AppKit::NSView::NSView;

    // The tabs in display order (owned, also as subviews).
    std::vector<std::shared_ptr<ZNLBarButton>> tabItems;
    std::weak_ptr<AppKit::NSLayoutConstraint> widthConstraint;  // not used
    std::weak_ptr<ZNLBarButtonDelegate> delegate;
    std::weak_ptr<ZNLBarDataSource> dataSource;

    // Orange (0.95, 0.57, 0.13): the tag colour of a folder without one; made once.
    static const AppKit::NSColorRef& defaultTagColor();

    // Rebuilds every tab from the data source's folders; with no data source
    // or no folders the tabs stay as they are.
    void reloadTabs();
    // A tab's click action: selectTab.
    void didPress(AppKit::NSControl& sender);
    // Switches the tab on and every other off (normal look), then reports it.
    void selectTab(ZNLBarButton& tab);
    // A configured tab for a folder (not yet in the strip).
    std::shared_ptr<ZNLBarButton> makeTab(const std::string& title, const AppKit::NSColorRef& tagColor,
                                          std::int64_t folderId);
    // Re-makes the constraints of all tabs.
    void layoutTabs();
    std::optional<std::size_t> indexOfTab(const ZNLBarButton& tab) const;
    // The tab of a folder; nullptr when none.
    std::shared_ptr<ZNLBarButton> tabForFolder(std::int64_t folderId) const;

    // Forwarding: a tab not in the strip, or no delegate, gives the default
    // (nothing, false, format id 1). The exports pass through unchanged.
    void didSelectFolder(ZNLBarButton& tab, std::int64_t folderId, AppKit::NSControlStateValue state) override;
    void didRenameFolder(ZNLBarButton& tab, std::int64_t folderId, const std::string& name) override;
    bool didRemoveFolder(ZNLBarButton& tab, std::int64_t folderId) override;
    bool didChangeFolderColor(ZNLBarButton& tab, std::int64_t folderId, const AppKit::NSColorRef& color) override;
    std::int64_t formatIdForFolder(ZNLBarButton& tab, std::int64_t folderId) override;
    void didChangeFolderFormat(ZNLBarButton& tab, const ColorFormat& format, std::int64_t folderId) override;
    void didDropColor(ZNLBarButton& tab, const std::string& colorString, std::int64_t colorIndex, std::int64_t folderId,
                      std::int64_t sourceFolderId) override;
    void exportColorList(const std::optional<std::string>& path) override;
    void exportSwatchExchange(const std::optional<std::string>& path) override;
    void exportFolder(ExportFormat format) override;

private:
    std::shared_ptr<ZNLTabBar> selfBar();
};

}  // namespace Vexil::Views
