#include "picker/Views/Library/LibraryFolders.h"

#include "Platform/AppKit/NSAlert.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"

#include <algorithm>
#include <cctype>

namespace Vexil::Views {
using namespace AppKit;

namespace {
void warn(const std::string& message) {
    NSAlert alert;
    alert.alertStyle = NSAlertStyle::warning;
    alert.messageText = message;
    alert.addButtonWithTitle("Ok");
    alert.runModal();
}
}  // namespace

std::vector<std::shared_ptr<ZNLColorFolder>> LibraryFolders::folders() {
    std::vector<std::shared_ptr<ZNLColorFolder>> out;
    auto all = ZNLColorsLibrary::allFolders();
    if (!all) return out;
    auto live = all->filter("isDeleted == false").sorted("order");
    for (std::size_t i = 0; i < live.count(); ++i) out.push_back(live[i]);
    return out;
}

std::vector<std::shared_ptr<ZNLColorItem>> LibraryFolders::visibleColors(
    const std::shared_ptr<ZNLColorFolder>& folder) {
    std::vector<std::shared_ptr<ZNLColorItem>> out;
    if (!folder || folder->isInvalidated()) return out;
    auto live = folder->objects().filter("isDeleted == false").sorted("order");
    for (std::size_t i = 0; i < live.count(); ++i) out.push_back(live[i]);
    return out;
}

std::optional<std::size_t> LibraryFolders::indexOfFolder(std::int64_t folderId) {
    auto list = folders();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i]->folderId() == folderId) return i;
    return std::nullopt;
}

std::shared_ptr<ZNLColorFolder> LibraryFolders::folderWithId(std::int64_t folderId) {
    auto index = indexOfFolder(folderId);
    return index ? folders()[*index] : nullptr;
}

std::string LibraryFolders::formatName(const std::shared_ptr<ZNLColorFolder>& folder) {
    if (!folder) return "CSS Hex";
    try {
        auto format = loadColorFormat(folder->formatId());
        return format ? format->name : "CSS Hex";
    } catch (const FormatListError&) {
        // An unreadable format list names no format.
        return "CSS Hex";
    }
}

std::string LibraryFolders::hexLabel(const ZNLColorItem& item) {
    auto color = colorWithHex(item.color());
    std::string hex = color ? hexRGB(*color) : std::string();
    hex.erase(std::remove(hex.begin(), hex.end(), '#'), hex.end());
    for (auto& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "HEX " + hex + " - " + std::to_string(item.order());
}

void LibraryFolders::load() {
    selectedFolder = ZNLColorsLibrary::shared().selectedFolder();
    if (showFormatName) showFormatName(formatName(selectedFolder));
}

std::size_t LibraryFolders::itemCount() const { return selectedColors().size(); }

void LibraryFolders::selectFolder(std::int64_t folderId) {
    auto folder = folderWithId(folderId);
    if (!folder) return;
    Foundation::UserDefaults::standard().set("selectedFolder", std::to_string(folder->folderId()));
    selectedFolder = folder;
    reload();
    if (showFormatName) showFormatName(formatName(folder));
}

std::shared_ptr<ZNLColorFolder> LibraryFolders::addFolder() {
    auto id = ZNLColorFolder::nextFolderId();
    if (!id) return nullptr;
    auto folder = std::make_shared<ZNLColorFolder>();
    folder->setFolderName("Untitled");
    folder->setIsDefault(false);
    folder->setOrder(1);
    folder->setFolderId(*id);
    auto created = ZNLColorsLibrary::shared().folderService().create(folder);
    if (reloadTabs) reloadTabs();
    return created;
}

void LibraryFolders::renameFolder(std::int64_t folderId, const std::string& name) {
    auto folder = folderWithId(folderId);
    if (!folder) return;
    if (!ZNLColorsLibrary::shared().folderService().renameFolder(folder, name)) warn("Can't rename folder");
}

bool LibraryFolders::removeFolder(std::int64_t folderId) {
    auto folder = folderWithId(folderId);
    if (!folder) return false;
    ZNLColorsLibrary::shared().folderService().update(folder, [](ZNLColorFolder& f) { f.setIsDeleted(true); });
    reload();
    return true;
}

bool LibraryFolders::changeFolderColor(std::int64_t folderId, const NSColor& color) {
    auto folder = folderWithId(folderId);
    if (!folder) return false;
    return ZNLColorsLibrary::shared().folderService().setColorHex(folder, color) != nullptr;
}

std::int64_t LibraryFolders::formatIdForFolder(std::int64_t folderId) const {
    auto folder = folderWithId(folderId);
    return folder ? folder->formatId() : 1;
}

void LibraryFolders::changeFolderFormat(const ColorFormat& format, std::int64_t folderId) {
    auto folder = folderWithId(folderId);
    if (!folder) return;
    bool written = ZNLColorsLibrary::shared().folderService().setFormatId(folder, format) != nullptr;
    // The label names the selected folder's stored format: another folder's
    // change, or a failed write, leaves it as it is.
    if (showFormatName) showFormatName(formatName(selectedFolder));
    if (written) reload();
}

std::shared_ptr<ZNLColorItem> LibraryFolders::colorAt(long tag) const {
    auto colors = selectedColors();
    if (tag < 0 || static_cast<std::size_t>(tag) >= colors.size()) return nullptr;
    return colors[static_cast<std::size_t>(tag)];
}

bool LibraryFolders::deleteColor(long tag) {
    auto item = colorAt(tag);
    if (!item) return false;
    ZNLColorsLibrary::shared().colorService().update(item, [](ZNLColorItem& i) { i.setIsDeleted(true); });
    reload();
    return true;
}

bool LibraryFolders::moveColor(long source, long destination) {
    if (!selectedFolder) return true;
    auto count = static_cast<long>(selectedColors().size());
    if (source < 0 || source >= count) return false;
    destination = std::clamp(destination, 0L, count - 1);
    return selectedFolder->moveItems(source, destination);
}

bool LibraryFolders::dropColor(const std::string& colorText, long colorIndex, std::int64_t targetFolderId) {
    auto target = folderWithId(targetFolderId);
    if (!target) return false;
    if (!ZNLColorsLibrary::shared().addColor(colorText, target)) return false;
    // The row may have changed since the drag began: flag only the colour the drag carried.
    auto source = colorAt(colorIndex);
    if (source && source->color() == colorText)
        ZNLColorsLibrary::shared().colorService().update(source, [](ZNLColorItem& i) { i.setIsDeleted(true); });
    reload();
    return true;
}

void LibraryFolders::generatePalette(long tag) {
    auto item = colorAt(tag);
    if (!item || !openPaletteGenerator) return;
    if (generator_) generator_->close();
    generator_ = openPaletteGenerator(colorWithHex(item->color()));
}

void LibraryFolders::paletteGeneratorDidClose() {
    if (auto g = std::move(generator_)) g->close();
}

bool LibraryFolders::paletteGeneratorDidApply(const std::vector<NSColorRef>& colors, const std::string& name) {
    auto id = ZNLColorFolder::nextFolderId();
    std::shared_ptr<ZNLColorFolder> created;
    if (id) {
        auto folder = std::make_shared<ZNLColorFolder>();
        folder->setFolderName(name);
        folder->setIsDefault(false);
        folder->setOrder(1);
        folder->setFolderId(*id);
        created = ZNLColorsLibrary::shared().folderService().create(folder);
    }
    if (!created) {
        warn("Palette cannot be saved");
        return false;
    }
    for (const auto& c : colors)
        if (c) ZNLColorsLibrary::shared().addColor(hexRGBA(*c), created);
    if (reloadTabs) reloadTabs();
    paletteGeneratorDidClose();
    return true;
}

void LibraryFolders::adjustColor(long tag) {
    auto item = colorAt(tag);
    if (!item) return;
    selectedColorItem = item;
    if (openColorEditor) openColorEditor(colorWithHex(item->color()), item);
}

void LibraryFolders::colorChooserDidSave(const NSColor& color, const std::string& name) {
    if (!selectedColorItem) return;
    ZNLColorsLibrary::shared().colorService().update(selectedColorItem, [&](ZNLColorItem& i) {
        i.setColor(hexRGBA(color));
        i.setColorName(name);
    });
    reload();
}

}  // namespace Vexil::Views
