#include "picker/Shell/AppDelegate.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVSessionTracker.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"
#include "Nimbus/Keys.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/CloudKit/Container.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Library/ZNLErrorHandler.h"
#include "picker/LibrarySync/LibrarySync.h"
#include "picker/Shell/ReviewPrompt.h"

using namespace AppKit;

namespace {

constexpr long kRecentSeparatorIndex = 7;
constexpr long kFirstRecentTag = 9;
constexpr std::size_t kMostRecentItems = 10;
// Deployment configuration: the telemetry app secret is an Info key, like the endpoints.
constexpr const char* kAppSecretInfoKey = "DerAvedurAppSecret";

Foundation::UserDefaults& defaults() { return Foundation::UserDefaults::standard(); }

// The History folder's live colours, newest first.
std::optional<ObjectStore::Results<ZNLColorItem>> historyList(const std::shared_ptr<ZNLColorFolder>& folder) {
    if (!folder) return std::nullopt;
    try {
        return folder->objects().filter(ObjectStore::Predicate("isDeleted == false")).sorted("created", false);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string noticeText(const NSColor& color, const std::string& text) {
    auto name = sharedColorNames().nameForColor(color);
    if (!name || name->empty()) return text;
    return *name + " - " + text;
}

NSImageRef swatchImage(const NSColorRef& color) {
    const RGBA fill = toRGBA(color);
    return NSImage::imageWithSize({26.0, 26.0}, false, [fill](CGRect dst, CoreGraphics::DrawingContext& ctx) {
        ctx.fillRoundedRect(dst, 3.0, fill);
        return true;
    });
}

}  // namespace

void ZNLSettings::registerDefaults() {
    auto& d = defaults();
    if (d.objectForKey("useCloudKit").isNull()) d.set("useCloudKit", true);
}

AppDelegate::~AppDelegate() {
    if (pasteboardObserver) pasteboardObserver->stop();
    for (auto t : newDataObservers_) Foundation::NotificationCenter::defaultCenter().removeObserver(t);
}

std::shared_ptr<AppDelegate> AppDelegate::shared() {
    return std::dynamic_pointer_cast<AppDelegate>(NSApp().delegateRef());
}

// --- launch -------------------------------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching() {
    // The library's own additions to "History" end in this menu's refresh.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    ZNLColorsLibrary::setRecentItemsRefresher([weak] {
        if (auto self = weak.lock()) self->refreshRecentItems();
    });
    resetCloudSyncFlags();
    registerSettingsDefaults();
    becomeStatusMenuDelegate();
    configureLibraryStore();
    repairItemOwners();
    registerBundleDefaults();
    registerFixedDefaults();
    startTelemetry();
    createDefaultFolder();
    setUpStatusItem();
    setUpShortcuts();
    if (auto menu = statusMenu.lock()) buildRecentItems(*menu);
    buildFormatsMenu();
    scheduleReadyNotice();
    setUpClipboardMonitor();
    setUpCloudKit();
    observeStore();
}

void AppDelegate::resetCloudSyncFlags() {
    auto& d = defaults();
    d.removeObjectForKey(Nimbus::value(Nimbus::NimbusKey::subscriptionIsLocallyCachedKey));
    d.set("ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey", false);
    d.set("ZNLColorItemnimbus.keys.hasCustomZoneCreatedKey", false);
}

void AppDelegate::registerSettingsDefaults() { ZNLSettings::registerDefaults(); }

void AppDelegate::becomeStatusMenuDelegate() {
    if (auto menu = statusMenu.lock()) menu->delegate = std::weak_ptr<NSMenuDelegate>(shared_from_this());
}

void AppDelegate::configureLibraryStore() {
    ::configureLibraryStore();
    checkLibraryStore();
}

void AppDelegate::checkLibraryStore() {
    try {
        ObjectStore::Realm::open();
        storeAvailable_ = true;
    } catch (const ObjectStore::RealmError& e) {
        // One alert that says why; the steps that need the store are skipped.
        storeAvailable_ = false;
        showWarningAlert(
            "The colour library cannot be opened, so colours are neither kept nor synced in this session: " +
            e.error().description);
    }
}

void AppDelegate::repairItemOwners() {
    if (storeAvailable_) ::repairItemOwners();
}

void AppDelegate::registerBundleDefaults() {
    auto path = Foundation::Bundle::main().pathForResource("UserDefaults", "plist");
    if (!path) return;
    std::ifstream in(*path, std::ios::binary);
    if (!in) return;
    Foundation::Data data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto value = Foundation::valueFromPropertyList(data);
    if (!value || !value->isDictionary()) return;
    defaults().registerDefaults(value->asDictionary());
}

void AppDelegate::registerFixedDefaults() {
    defaults().registerDefaults(Foundation::Dictionary{
        {"NSApplicationCrashOnExceptions", true}, {"hexWithHashtag", true}, {"capitalizedHex", true}});
}

void AppDelegate::startTelemetry() {
    DAVUtility::setApplicationHiddenProvider([] { return NSApp().isHidden(); });
    // A build without a secret sends no telemetry.
    auto secret = Foundation::Bundle::main().objectForInfoDictionaryKey(kAppSecretInfoKey);
    if (secret.isString()) DAVDerAvedur::configureWithAppSecret(secret.asString());
    if (!DAVDerAvedur::isConfigured()) return;
    DAVDerAvedur::startService(DAVAnalytics::serviceClass());
    DAVDerAvedur::startService(DAVCrashes::serviceClass());
}

void AppDelegate::createDefaultFolder() {
    if (storeAvailable_) ZNLColorsLibrary::createDefaultFolder();
}

void AppDelegate::setUpStatusItem() {
    statusItem = NSStatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
    if (auto button = statusItem->button()) button->setImage(NSImage::imageNamed("Image"));
    statusItem->menu = statusMenu.lock();
}

void AppDelegate::scheduleReadyNotice() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    Foundation::DispatchQueue::main()->after(1.0, [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (auto origin = self->statusItemOrigin())
            self->showFloatingColor("Vexil is ready to use", NSColor::whiteColor(), true, origin->x, origin->y);
    });
}

void AppDelegate::setUpClipboardMonitor() {
    // Never two watchers: the previous one stops, and so does the only one
    // when the option is off.
    if (pasteboardObserver) pasteboardObserver->stop();
    pasteboardObserver.reset();
    if (!defaults().boolForKey("monitorClipboard")) return;
    pasteboardObserver = CLPasteboard::make(std::weak_ptr<CLPasteboardDelegate>(shared_from_this()));
}

void AppDelegate::setUpCloudKit() {
    if (!defaults().boolForKey("useCloudKit")) return;
    if (!storeAvailable_) return;
    auto container = CloudKit::CKContainer::defaultContainer();
    syncEngine = librarysync::startCloudSync(container);
    NSApp().registerForRemoteNotificationTypes(7);
    if (container)
        container->registerForRemoteNotifications(
            [](const Foundation::Dictionary& userInfo) { NSApp().inputRemoteNotification(userInfo); });
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    newDataObservers_.push_back(Foundation::NotificationCenter::defaultCenter().addObserver(
        Nimbus::name(Nimbus::Notifications::cloudKitNewData), [weak](const Foundation::Notification&) {
            if (auto self = weak.lock()) self->cloudKitDidUpdateData();
        }));
}

void AppDelegate::observeStore() {
    if (!storeAvailable_) return;
    std::shared_ptr<ObjectStore::Realm> realm;
    try {
        realm = ObjectStore::Realm::open();
    } catch (const ObjectStore::RealmError&) {
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    token = realm->objects<ZNLColorItem>().observe(
        [weak](const ObjectStore::CollectionChange<ZNLColorItem>& change) {
            auto self = weak.lock();
            if (!self) return;
            if (change.kind == ObjectStore::CollectionChange<ZNLColorItem>::Kind::Initial) self->refreshRecentItems();
        },
        Foundation::DispatchQueue::main());
}

// --- lifecycle ----------------------------------------------------------------------------

void AppDelegate::applicationWillTerminate() { removeClickMonitor(); }

void AppDelegate::removeClickMonitor() {
    if (clickMonitor) NSEvent::removeMonitor(clickMonitor);
}

void AppDelegate::didReceiveRemoteNotification(const Foundation::Dictionary& userInfo) {
    auto notification = CloudKit::CKNotification::fromRemoteNotificationDictionary(userInfo);
    if (!notification || notification->subscriptionID != Nimbus::NimbusConstant::subscriptionID) return;
    Foundation::NotificationCenter::defaultCenter().post(
        Nimbus::name(Nimbus::Notifications::cloudKitDataDidChangeRemotely), nullptr, userInfo);
}

void AppDelegate::applicationDidHide() {
    Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationDidEnterBackgroundNotification);
}

void AppDelegate::applicationWillUnhide() {
    Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationWillEnterForegroundNotification);
}

void AppDelegate::cloudKitDidUpdateData() {
    // Posted on the cloud queue: the menu belongs to the main thread.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    Foundation::runOnMain([weak] {
        if (auto self = weak.lock()) self->refreshRecentItems();
    });
}

void AppDelegate::quitItemPressed() { NSApp().terminate(); }

// --- floating notice ----------------------------------------------------------------------

std::optional<CGPoint> AppDelegate::statusItemOrigin() const {
    if (!statusItem) return std::nullopt;
    auto button = statusItem->button();
    if (!button) return std::nullopt;
    if (!button->window()) return std::nullopt;
    // Where the item is seen: a panel's tray icon when the display docked it there.
    return statusItem->frame().origin;
}

void AppDelegate::showFloatingColor(const std::string& text, const NSColorRef& color, bool hideColor, double x,
                                    double y) {
    if (!floatingWindow) {
        floatingWindow = ARFloatingWindow::create();
        floatingWindow->setFormat(std::nullopt);
        floatingWindow->setBackgroundColor(NSColor::colorWithRed(0.13, 0.13, 0.13, 1.0));
        floatingWindow->setWindowOffset({0, 0});
    }
    auto notice = floatingWindow;
    notice->setColor(color, hideColor);
    notice->setStringValue(text);
    const double w = notice->frame().size.width;
    double left = x - w * 0.5;
    // Centred on x, but kept on the screen: an item at the right end of the
    // bar would otherwise push half the text off it.
    if (auto screen = NSScreen::mainScreen()) {
        const CGRect s = screen->frame();
        left = std::max(s.minX(), std::min(left, s.maxX() - w));
    }
    notice->positionAtScreenPoint({left, y - 25.0});
    notice->show();
    // Weak: a notice window that is gone is neither hidden nor faded.
    std::weak_ptr<ARFloatingWindow> weak = notice;
    Foundation::DispatchQueue::main()->after(kNoticeTime, [weak] {
        auto w = weak.lock();
        if (w && !w->isClosed()) w->hide();
    });
}

// --- status menu --------------------------------------------------------------------------

void AppDelegate::buildRecentItems(NSMenu& menu) {
    if (!storeAvailable_) return;
    auto folder = ZNLColorsLibrary::historyFolder();
    if (!folder) return;
    auto list = historyList(folder);
    if (!list) return;
    const ColorFormat format = currentColorFormat();
    auto colours = list->objects();
    const std::size_t n = std::min(colours.size(), kMostRecentItems);
    if (n == 0) return;
    auto separator = NSMenuItem::separatorItem();
    menu.insertItem(separator, kRecentSeparatorIndex);
    recentItems.push_back(separator);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    for (std::size_t i = 0; i < n; ++i) {
        const auto& c = colours[i];
        auto color = colorWithHex(c->color());
        const std::string text = formatted(*color, format, c->displayName());
        NSAttributedString title(sharedColorNames().nameForColor(*color).value_or("") + "\n",
                                 NSFont::systemFontOfSize(12.0));
        title.append(text, NSFont::systemFontOfSize(10.0), NSColor::darkGrayColor());
        auto item = NSMenuItem::make(text, [weak](NSMenuItem& sender) {
            if (auto self = weak.lock()) self->handleRecentItemClick(sender);
        });
        item->actionName = "handleRecentItemClickWithSender:";
        item->attributedTitle = title;
        item->image = swatchImage(color);
        item->tag = kFirstRecentTag + static_cast<long>(i);
        menu.insertItem(item, kFirstRecentTag + static_cast<long>(i));
        recentItems.push_back(item);
    }
}

void AppDelegate::refreshRecentItems() {
    Foundation::printLine("Update menu");
    if (isMenuVisible) return;
    auto menu = statusMenu.lock();
    if (!menu) return;
    for (const auto& item : recentItems) menu->removeItem(item);
    recentItems.clear();
    buildRecentItems(*menu);
    Foundation::printLine("Update menu done");
}

void AppDelegate::handleRecentItemClick(NSMenuItem& sender) {
    if (!storeAvailable_) return;
    auto list = historyList(ZNLColorsLibrary::historyFolder());
    if (!list) return;
    const ColorFormat format = currentColorFormat();
    const long index = sender.tag - kFirstRecentTag;
    auto colours = list->objects();
    if (index < 0 || static_cast<std::size_t>(index) >= colours.size()) return;
    const auto& c = colours[static_cast<std::size_t>(index)];
    auto color = colorWithHex(c->color());
    const std::string text = formatted(*color, format, c->displayName());
    copyToPasteboard(text);
    if (auto origin = statusItemOrigin())
        showFloatingColor(noticeText(*color, text), color, false, origin->x, origin->y);
}

void AppDelegate::clearHistory() {
    if (storeAvailable_) {
        if (auto folder = ZNLColorsLibrary::historyFolder()) {
            // Flagged, not removed: the sync engine sends the deletions up and
            // removes the colours once the cloud has them, so they never come
            // back from another device. Every query leaves flagged colours out.
            std::vector<std::shared_ptr<ZNLColorItem>> live;
            if (auto list = historyList(folder)) live = list->objects();
            auto& service = ZNLColorsLibrary::shared().colorService();
            for (const auto& item : live) service.update(item, [](ZNLColorItem& i) { markDeleted(i); });
        }
    }
    refreshRecentItems();
}

void AppDelegate::buildFormatsMenu() {
    auto path = Foundation::Bundle::main().pathForResource("formats", "json");
    if (!path) return;
    auto menu = formatsMenu.lock();
    std::ifstream in(*path, std::ios::binary);
    if (in && menu) {
        Foundation::Data data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        try {
            Formats list = Formats::decode(data);
            if (list.formats)
                for (const auto& format : *list.formats) addFormatItem(format);
        } catch (const FormatListError&) {
            // No format items; the current format is still shown.
        }
    }
    const ColorFormat current = currentColorFormat();
    if (auto item = formatsMenuItem.lock()) {
        item->title = current.name;
        item->image = NSImage::imageNamed(current.image);
    }
}

void AppDelegate::addFormatItem(const ColorFormat& format) {
    auto menu = formatsMenu.lock();
    if (!menu) return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto item = NSMenuItem::make(format.name, [weak](NSMenuItem& sender) {
        if (auto self = weak.lock()) self->handleFormatChange(sender);
    });
    item->actionName = "handleFormatChangeWithSender:";
    item->tag = static_cast<long>(format.id);
    // The icon is looked up off the main thread and set on it.
    std::weak_ptr<NSMenuItem> weakItem = item;
    const std::string imageName = format.image;
    Foundation::DispatchQueue::global()->async([weakItem, imageName] {
        auto image = NSImage::imageNamed(imageName);
        Foundation::DispatchQueue::main()->async([weakItem, image] {
            if (auto i = weakItem.lock()) i->image = image;
        });
    });
    item->state = defaults().integerForKey("colorFormat") == format.id ? NSControlStateValueOn : NSControlStateValueOff;
    menu->addItem(item);
}

void AppDelegate::handleFormatChange(NSMenuItem& sender) {
    defaults().set("colorFormat", static_cast<std::int64_t>(sender.tag));
    if (auto menu = formatsMenu.lock())
        for (const auto& item : menu->itemArray()) item->state = NSControlStateValueOff;
    sender.state = NSControlStateValueOn;
    if (auto item = formatsMenuItem.lock()) {
        item->title = sender.title;
        item->image = sender.image;
    }
    refreshRecentItems();
}

void AppDelegate::menuWillOpen(NSMenu&) { isMenuVisible = true; }
void AppDelegate::menuDidClose(NSMenu&) { isMenuVisible = false; }

// --- picked colours -----------------------------------------------------------------------

void AppDelegate::didPickColor(const NSColorRef& color) {
    DAVAnalytics::trackEvent("Color Picked");
    ZNLColorsLibrary::addToHistory(color);
    if (syncEngine) syncEngine->pushAll();
    if (auto origin = statusItemOrigin()) {
        if (!color) return;
        const ColorFormat format = currentColorFormat();
        auto device = deviceRGBColor(*color);
        auto name = sharedColorNames().nameForColor(device ? *device : *color);
        const std::string text = formatted(*color, format, name.value_or(""));
        const std::string notice = name && !name->empty() ? *name + " - " + text : text;
        showFloatingColor(notice, color, false, origin->x, origin->y);
    }
    refreshRecentItems();
    incrementAppOpenedCount();
    requestReviewIfNeeded();
}

void AppDelegate::addClipboardColor(const std::string& text) {
    if (ignoreLastClipboardItem) {
        ignoreLastClipboardItem = false;
        // Only the library's own copy is dropped: a later copy (another
        // change count) is a colour the user wants.
        const auto own = std::exchange(ignoredChangeCount, std::nullopt);
        if (!own || *own == NSPasteboard::generalPasteboard()->changeCount()) return;
    }
    std::string hex = text;
    if (hex.empty() || hex[0] != '#') hex = "#" + hex;
    auto isHex = [](char ch) {
        return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
    };
    const std::size_t digits = hex.size() - 1;
    if (digits != 3 && digits != 6) return;
    for (std::size_t i = 1; i < hex.size(); ++i)
        if (!isHex(hex[i])) return;
    // Three digits are one digit a channel ("#fff" is white), six are read as they are.
    didPickColor(digits == 3 ? colorWithHex(hex) : colorWithHexRGB(hex));
}

void AppDelegate::ignoreOwnCopy() {
    ignoreLastClipboardItem = true;
    ignoredChangeCount = NSPasteboard::generalPasteboard()->changeCount();
}
