#include "picker/Library/ZNLColorsLibrary.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSHost.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLErrorHandler.h"

namespace {
std::mutex gRefresherMutex;
std::function<void()>& refresher() {
    static std::function<void()> r;
    return r;
}

constexpr const char* kSelectedFolder = "selectedFolder";

// Decimal integer text: an optional sign, then digits, nothing else.
std::optional<std::int64_t> parseDecimal(const std::string& text) {
    std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i >= text.size()) return std::nullopt;
    for (std::size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return std::nullopt;
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

std::shared_ptr<ZNLColorFolder> makeFolder(const std::string& name, bool isDefault, std::int64_t order) {
    auto folderId = ZNLColorFolder::nextFolderId();
    if (!folderId) return nullptr;
    auto folder = std::make_shared<ZNLColorFolder>();
    folder->setFolderName(name);
    folder->setIsDefault(isDefault);
    folder->setOrder(order);
    folder->setFolderId(*folderId);
    return ZNLColorsLibrary::shared().folderService().create(folder);
}

// Equal without letter case, as the Unicode lowering compares them; stored
// colours are ASCII hex text, which is compared byte by byte.
bool sameIgnoringCase(std::string_view a, std::string_view b, std::optional<std::string>& lowerB) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80) {
            if (!lowerB) lowerB = Foundation::lowercase(b);
            return Foundation::lowercase(a) == *lowerB;
        }
        if (lower(x) != lower(y)) return false;
    }
    // An ASCII start that ends one text and not the other: they differ
    // whatever follows, as lowering never removes a character.
    return a.size() == b.size();
}

struct FolderScan {
    std::shared_ptr<ZNLColorItem> same;   // a live colour equal to the one looked for
    std::optional<std::int64_t> largest;  // order, flagged colours counted
};

// One pass over a folder's colours for an add: the duplicate check and
// where the new colour goes. The colours are read as values: making an
// object of every colour of a large folder cost more than the rest of a pick.
FolderScan scanFolder(const std::string& hex, ZNLColorFolder& folder) {
    FolderScan scan;
    const auto colours = folder.objects();
    const Foundation::Array texts = colours.any().valueForKey("color");
    const Foundation::Array orders = colours.any().valueForKey("order");
    std::optional<std::string> wanted;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].isString() && sameIgnoringCase(texts[i].asString(), hex, wanted)) {
            auto item = colours.at(i);
            if (!item->isDeleted()) {
                scan.same = std::move(item);
                return scan;
            }
        }
        if (!orders[i].isInt()) continue;
        const std::int64_t order = orders[i].asInt();
        scan.largest = scan.largest ? std::max(*scan.largest, order) : order;
    }
    return scan;
}

struct Added {
    std::shared_ptr<ZNLColorItem> item;  // the new colour, or the live one already there
    bool isNew = false;
};

// The folder's live colour of that text, else a new one appended to it;
// no item when storing failed (after the alerts).
Added findOrAddColor(const std::string& hex, const std::shared_ptr<ZNLColorFolder>& folder) {
    FolderScan scan = scanFolder(hex, *folder);
    if (scan.same) return {std::move(scan.same), false};
    auto item = std::make_shared<ZNLColorItem>();
    item->setColor(hex);
    // One commit: a colour is never stored without its folder.
    const bool stored = libraryservice::write([&](ObjectStore::Realm& realm) {
        realm.add(item);
        libraryservice::placeInFolder(folder, *item, scan.largest);
    });
    if (!stored) {
        showWarningAlert("Color was not created");
        return {};
    }
    return {std::move(item), true};
}

// Set while picks cannot be stored and the user has been told; a stored pick clears it.
bool gToldColoursNotKept = false;
}  // namespace

ZNLColorsLibrary& ZNLColorsLibrary::shared() {
    static ZNLColorsLibrary library;
    return library;
}

ZNLDataService<ZNLColorItem>& ZNLColorsLibrary::colorService() {
    if (!colorService_) colorService_ = std::make_unique<ZNLDataService<ZNLColorItem>>();
    return *colorService_;
}

ZNLDataService<ZNLColorFolder>& ZNLColorsLibrary::folderService() {
    if (!folderService_) folderService_ = std::make_unique<ZNLDataService<ZNLColorFolder>>();
    return *folderService_;
}

std::shared_ptr<ZNLColorItem> ZNLColorsLibrary::addColor(const std::string& hex,
                                                         const std::shared_ptr<ZNLColorFolder>& folder) {
    if (!folder) return nullptr;
    Added added = findOrAddColor(hex, folder);
    return added.isNew ? std::move(added.item) : nullptr;
}

std::shared_ptr<ZNLColorFolder> ZNLColorsLibrary::selectedFolder() {
    auto& defaults = Foundation::UserDefaults::standard();
    if (auto text = defaults.stringForKey(kSelectedFolder)) {
        if (auto folder = folderWithId(*text)) return folder;
    } else if (auto folders = allFolders()) {
        if (auto first = folders->filter("isDeleted == false").sorted("order").first()) return first;
    }
    auto folder = makeFolder("Palette", false, 1);
    if (!folder) return nullptr;
    defaults.set(kSelectedFolder, std::to_string(folder->folderId()));
    return folder;
}

std::shared_ptr<ZNLColorFolder> ZNLColorsLibrary::folderNamed(const std::string& name) {
    auto folders = foldersMatching(ObjectStore::Predicate("folderName == %@", {name}));
    return folders ? folders->first() : nullptr;
}

std::shared_ptr<ZNLColorFolder> ZNLColorsLibrary::folderWithId(const std::string& folderId) {
    auto number = parseDecimal(folderId);
    if (!number) return nullptr;
    auto folders = foldersMatching(ObjectStore::Predicate("folderId == %d", {*number}));
    return folders ? folders->first() : nullptr;
}

std::optional<ObjectStore::Results<ZNLColorFolder>> ZNLColorsLibrary::foldersMatching(
    const ObjectStore::Predicate& predicate) {
    auto all = allFolders();
    if (!all) return std::nullopt;
    return all->filter(predicate);
}

std::optional<ObjectStore::Results<ZNLColorFolder>> ZNLColorsLibrary::allFolders() {
    auto realm = libraryservice::open();
    if (!realm) return std::nullopt;
    return realm->objects<ZNLColorFolder>();
}

namespace {
// The shared identity can be taken: by a History renamed or deleted here, or
// by a deletion the cloud acknowledged (a tombstone, which would delete a new
// folder of that id again).
bool historyIdentityFree(ObjectStore::Realm& realm) {
    if (realm.object<ZNLColorFolder>(kHistoryFolderID)) return false;
    try {
        auto state = realm.object("NimbusRecordState", Foundation::Value(std::string("ZNLColorFolder/") + kHistoryFolderID));
        if (state && state->valueForKey("tombstone") == Foundation::Value(true)) return false;
    } catch (const std::exception&) {
        // A store without sync state.
    }
    return true;
}
}  // namespace

std::shared_ptr<ZNLColorFolder> ZNLColorsLibrary::historyFolder() {
    auto realm = libraryservice::open();
    if (!realm) return nullptr;
    auto shared = realm->object<ZNLColorFolder>(kHistoryFolderID);
    if (shared && !shared->isDeleted() && shared->folderName() == "History") return shared;
    if (auto folder = ZNLColorsLibrary::shared().folderNamed("History")) return folder;
    auto folderId = ZNLColorFolder::nextFolderId();
    if (!folderId) return nullptr;
    auto folder = std::make_shared<ZNLColorFolder>();
    if (historyIdentityFree(*realm)) folder->setId(kHistoryFolderID);
    folder->setFolderName("History");
    folder->setIsDefault(false);
    folder->setOrder(0);
    folder->setFolderId(*folderId);
    return ZNLColorsLibrary::shared().folderService().create(folder);
}

void ZNLColorsLibrary::addToHistory(const AppKit::NSColorRef& color) {
    if (!color) {
        showWarningAlert("Can't create color");
        return;
    }
    // The text goes on the clipboard whether the colour is new to History,
    // already there, or cannot be stored at all.
    const std::string hex = hexRGBA(*color);
    std::shared_ptr<ZNLColorItem> item;
    std::string storeError;
    {
        ZNLErrorHandler::Held held;
        if (auto folder = historyFolder()) item = findOrAddColor(hex, folder).item;
        if (held.failed()) storeError = held.firstMessage();
    }
    if (item) {
        gToldColoursNotKept = false;
    } else if (!gToldColoursNotKept) {
        gToldColoursNotKept = true;
        AppKit::NSAlert alert;
        alert.alertStyle = AppKit::NSAlertStyle::warning;
        alert.messageText = "Colours are not kept";
        alert.informativeText = "Vexil cannot write its colour library" +
                                (storeError.empty() ? std::string() : " (" + storeError + ")") +
                                ". Picked colours are still copied, but they are not added to History.";
        alert.addButtonWithTitle("Ok");
        alert.runModal();
    }
    std::int64_t formatId = Foundation::UserDefaults::standard().integerForKey("colorFormat");
    if (formatId == 0) formatId = 1;
    std::optional<ColorFormat> format;
    try {
        format = loadColorFormat(formatId);
    } catch (const FormatListError&) {
        format.reset();
    }
    if (format) {
        ZNLColorItem unstored;
        if (!item) unstored.setColor(hex);
        const ZNLColorItem& shown = item ? *item : unstored;
        if (auto parsed = colorWithHex(shown.color()))
            copyToPasteboard(formatted(*parsed, *format, shown.displayName()));
    }
    std::function<void()> refresh;
    {
        std::lock_guard lock(gRefresherMutex);
        refresh = refresher();
    }
    if (refresh) refresh();
}

void ZNLColorsLibrary::createDefaultFolder() {
    auto name = AppKit::NSHost::currentHost()->localizedName();
    if (!name) return;
    if (name->empty()) name = "Local";
    if (shared().folderNamed(*name)) return;
    if (auto folder = makeFolder(*name, true, 1))
        Foundation::UserDefaults::standard().set(kSelectedFolder, std::to_string(folder->folderId()));
}

void ZNLColorsLibrary::setRecentItemsRefresher(std::function<void()> r) {
    std::lock_guard lock(gRefresherMutex);
    refresher() = std::move(r);
}

void markDeleted(ZNLColorItem& item) { item.setIsDeleted(true); }
void markDeleted(ZNLColorFolder& folder) { folder.setIsDeleted(true); }

bool copyToPasteboard(const std::string& text) {
    auto pasteboard = AppKit::NSPasteboard::generalPasteboard();
    pasteboard->declareTypes({AppKit::NSPasteboardTypeString}, nullptr);
    return pasteboard->setString(text, AppKit::NSPasteboardTypeString);
}
