#include "picker/Views/TabBar/ZNLTabBar.h"

#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Controls/ConstraintMaker.h"
#include "picker/Views/Controls/ThemeManager.h"
#include "picker/Views/TabBar/ZNLBarButton.h"

namespace Vexil::Views {
using namespace AppKit;

const NSColorRef& ZNLTabBar::defaultTagColor() {
    static const NSColorRef color = NSColor::colorWithRed(0.95, 0.57, 0.13, 1.0);
    return color;
}

std::shared_ptr<ZNLTabBar> ZNLTabBar::selfBar() { return std::static_pointer_cast<ZNLTabBar>(self()); }

void ZNLTabBar::reloadTabs() {
    auto source = dataSource.lock();
    if (!source) return;
    const auto folders = source->folders();
    if (folders.empty()) return;  // the previous tabs stay

    for (auto& tab : tabItems) tab->removeFromSuperview();
    tabItems.clear();

    const auto selected = ZNLColorsLibrary::shared().selectedFolder();
    for (const auto& folder : folders) {
        if (!folder) continue;
        NSColorRef tagColor;
        if (auto hex = folder->color()) tagColor = colorWithHexRGB(*hex);
        if (!tagColor) tagColor = defaultTagColor();
        auto tab = makeTab(folder->folderName(), tagColor, folder->folderId());
        const bool on =
            selected && folder->folderName() == selected->folderName() && folder->folderId() == selected->folderId();
        tab->setState(on ? NSControlStateValueOn : NSControlStateValueOff);
        tab->translatesAutoresizingMaskIntoConstraints = false;
        addSubview(tab);
        tabItems.push_back(tab);
        layoutTabs();
    }
}

std::shared_ptr<ZNLBarButton> ZNLTabBar::makeTab(const std::string& title, const NSColorRef& tagColor,
                                                 std::int64_t folderId) {
    auto tab = NSView::make<ZNLBarButton>(CGRectMake(0, 0, 40, 120));
    tab->setImage(tagCircle(tagColor, 20, 20));
    tab->delegate = selfBar();
    tab->folderId = folderId;
    tab->setUpDropDown();
    tab->alignment = NSTextAlignment::left;
    std::weak_ptr<ZNLTabBar> weak = selfBar();
    tab->action = [weak](NSControl& sender) {
        if (auto bar = weak.lock()) bar->didPress(sender);
    };
    tab->actionName = "didPressWithSender:";
    tab->setTitle(title);
    tab->sizeToFit();
    setTitleStyle(*tab, ThemeManager::systemTheme().isDark ? NSColor::whiteColor() : NSColor::blackColor(),
                  NSFont::systemFontOfSize(13));
    return tab;
}

void ZNLTabBar::layoutTabs() {
    for (auto& tab : tabItems) Views::removeConstraints(*tab);
    ZNLBarButton* previous = nullptr;
    for (auto& tab : tabItems) {
        if (!tab->superview()) continue;
        tab->sizeToFit();
        const double width = tab->frame().size.width + 22;
        const bool first = tab == tabItems.front();
        const bool last = tab == tabItems.back();
        makeConstraints(*tab, [&](ConstraintMaker& make) {
            if (first)
                make.left().equalToSuperview();
            else if (previous)
                make.left().equalTo(snp::right(*previous)).offset(20);
            make.width().equalTo(width);
            make.top().equalToSuperview();
            make.bottom().equalToSuperview();
            if (last) make.right().equalToSuperview().priority(NSLayoutPriorityDefaultHigh);
        });
        previous = tab.get();
    }
    setNeedsLayout();
}

std::optional<std::size_t> ZNLTabBar::indexOfTab(const ZNLBarButton& tab) const {
    for (std::size_t i = 0; i < tabItems.size(); ++i)
        if (tabItems[i].get() == &tab) return i;
    return std::nullopt;
}

std::shared_ptr<ZNLBarButton> ZNLTabBar::tabForFolder(std::int64_t folderId) const {
    for (auto& tab : tabItems)
        if (tab->folderId == folderId) return tab;
    return nullptr;
}

void ZNLTabBar::didPress(NSControl& sender) {
    if (auto tab = dynamic_cast<ZNLBarButton*>(&sender)) selectTab(*tab);
}

void ZNLTabBar::selectTab(ZNLBarButton& tab) {
    auto keep = std::static_pointer_cast<ZNLBarButton>(tab.self());
    const auto tabs = tabItems;  // the delegate may reload the strip
    for (auto& t : tabs) {
        if (t.get() == &tab) {
            t->setState(NSControlStateValueOn);
        } else {
            t->setState(NSControlStateValueOff);
            t->applyNormalLook();
        }
    }
    auto d = delegate.lock();
    if (d && indexOfTab(tab)) d->didSelectFolder(tab, tab.folderId, tab.state());
}

// --- forwarding: the tab's folder id replaces the tab's placeholder ------------------------

void ZNLTabBar::didSelectFolder(ZNLBarButton& tab, std::int64_t, NSControlStateValue state) {
    auto d = delegate.lock();
    if (d && indexOfTab(tab)) d->didSelectFolder(tab, tab.folderId, state);
}

void ZNLTabBar::didRenameFolder(ZNLBarButton& tab, std::int64_t, const std::string& name) {
    auto d = delegate.lock();
    if (!d || !indexOfTab(tab)) return;
    layoutTabs();  // the title has changed
    d->didRenameFolder(tab, tab.folderId, name);
}

bool ZNLTabBar::didRemoveFolder(ZNLBarButton& tab, std::int64_t) {
    auto d = delegate.lock();
    if (!d || !indexOfTab(tab)) return false;
    auto keep = std::static_pointer_cast<ZNLBarButton>(tab.self());
    if (!d->didRemoveFolder(tab, tab.folderId)) return false;
    // Looked up again: the delegate may have reloaded the strip meanwhile.
    if (auto index = indexOfTab(tab)) {
        tabItems.erase(tabItems.begin() + static_cast<std::ptrdiff_t>(*index));
        layoutTabs();
        tab.removeFromSuperview();
        if (!tabItems.empty()) selectTab(*tabItems.front());
    }
    return true;
}

bool ZNLTabBar::didChangeFolderColor(ZNLBarButton& tab, std::int64_t, const NSColorRef& color) {
    auto d = delegate.lock();
    if (!d || !indexOfTab(tab)) return false;
    if (!d->didChangeFolderColor(tab, tab.folderId, color)) return false;
    tab.setImage(tagCircle(color, 20, 20));
    return true;
}

std::int64_t ZNLTabBar::formatIdForFolder(ZNLBarButton& tab, std::int64_t) {
    auto d = delegate.lock();
    if (!d || !indexOfTab(tab)) return 1;
    return d->formatIdForFolder(tab, tab.folderId);
}

void ZNLTabBar::didChangeFolderFormat(ZNLBarButton& tab, const ColorFormat& format, std::int64_t) {
    auto d = delegate.lock();
    if (d && indexOfTab(tab)) d->didChangeFolderFormat(tab, format, tab.folderId);
}

void ZNLTabBar::didDropColor(ZNLBarButton& tab, const std::string& colorString, std::int64_t colorIndex, std::int64_t,
                             std::int64_t sourceFolderId) {
    auto d = delegate.lock();
    if (d && indexOfTab(tab)) d->didDropColor(tab, colorString, colorIndex, tab.folderId, sourceFolderId);
}

void ZNLTabBar::exportColorList(const std::optional<std::string>& path) {
    if (auto d = delegate.lock()) d->exportColorList(path);
}

void ZNLTabBar::exportSwatchExchange(const std::optional<std::string>& path) {
    if (auto d = delegate.lock()) d->exportSwatchExchange(path);
}

void ZNLTabBar::exportFolder(ExportFormat format) {
    if (auto d = delegate.lock()) d->exportFolder(format);
}

}  // namespace Vexil::Views
