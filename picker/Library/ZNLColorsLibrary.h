#pragma once
// The library facade the shell and the windows use: one data service per
// model type, and the library's rules on top (no colour twice in a folder,
// picked colours go to "History", one selected folder, a first-run folder
// named after the computer).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/NSColor.h"
#include "Platform/ObjectStore/Predicate.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Library/ZNLDataService.h"

inline constexpr const char* kHistoryFolderID = "history";

class ZNLColorsLibrary {
public:
    static ZNLColorsLibrary& shared();
    virtual ~ZNLColorsLibrary() = default;

    virtual ZNLDataService<ZNLColorItem>& colorService();
    virtual ZNLDataService<ZNLColorFolder>& folderService();

    // A new colour with the hex text, appended to the folder, unless the
    // folder already holds a live colour of that text (letter case ignored).
    virtual std::shared_ptr<ZNLColorItem> addColor(const std::string& hex,
                                                   const std::shared_ptr<ZNLColorFolder>& folder);
    // The folder named by the user default "selectedFolder"; without that
    // default, the live folder with the lowest order; else a new "Palette".
    virtual std::shared_ptr<ZNLColorFolder> selectedFolder();
    // First folder with that exact name, flagged ones included.
    virtual std::shared_ptr<ZNLColorFolder> folderNamed(const std::string& name);
    // First folder with that number (decimal text), flagged ones included.
    virtual std::shared_ptr<ZNLColorFolder> folderWithId(const std::string& folderId);

    static std::optional<ObjectStore::Results<ZNLColorFolder>> foldersMatching(const ObjectStore::Predicate& predicate);
    static std::optional<ObjectStore::Results<ZNLColorFolder>> allFolders();
    // The "History" folder, made when missing. Its id is "history" on every
    // device, so the History folders of two devices are one record; a store
    // whose History has another id keeps using it until the shared one
    // arrives (see librarysync::mergeHistoryFolders).
    static std::shared_ptr<ZNLColorFolder> historyFolder();
    // Records a picked colour in "History" and copies its text in the
    // current format; then the shell's recent-colours refresh.
    static void addToHistory(const AppKit::NSColorRef& color);
    // Makes the folder named after the computer when it is missing.
    static void createDefaultFolder();

    // The shell's `AppDelegate.refreshRecentItems`; nothing while unset.
    static void setRecentItemsRefresher(std::function<void()> refresher);

private:
    std::unique_ptr<ZNLDataService<ZNLColorItem>> colorService_;
    std::unique_ptr<ZNLDataService<ZNLColorFolder>> folderService_;
};

// Flags a colour or folder as deleted (the change passed to `update`).
void markDeleted(ZNLColorItem& item);
void markDeleted(ZNLColorFolder& folder);

// Puts the text on the general pasteboard as its only content.
bool copyToPasteboard(const std::string& text);
