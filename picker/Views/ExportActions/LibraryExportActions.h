#pragma once
// The library window's folder exports: a colour list, a swatch exchange file,
// source code and the HTML page of the selected folder, each through a save
// panel titled "Export". The window answers what the exports need of it
// through `FolderExportHost`.

#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSView.h"
#include "picker/Export/ExportFormat.h"
#include "picker/Views/TabBar/FolderExportActions.h"

class ZNLColorFolder;

namespace Vexil::Views {

// What the exports use of the library window.
class FolderExportHost {
public:
    virtual ~FolderExportHost() = default;
    // The folder every export writes: the library's selected folder.
    virtual std::shared_ptr<ZNLColorFolder> selectedFolder() = 0;

    // The views the HTML export takes over while it renders (any may be null).
    struct ProgressViews {
        std::shared_ptr<AppKit::NSView> collectionView;
        std::shared_ptr<AppKit::NSTextField> emptyFolderLabel;
        std::shared_ptr<AppKit::NSProgressIndicator> progress;
    };
    virtual ProgressViews progressViews() = 0;
    // Shows the selected folder's colours again, or its empty label.
    virtual void reloadCollectionView() = 0;
    // Slides the library window in or out (the shell's toggle).
    virtual void toggleLibrary() = 0;
};

inline constexpr const char* kGeneratingHtmlText = "Generating html\u2026";
inline constexpr const char* kFolderIsEmptyText = "Folder Is Empty";

class LibraryExportActions : public FolderExportActions {
public:
    // The host is not owned: the window owns its actions.
    explicit LibraryExportActions(std::weak_ptr<FolderExportHost> host) : host_(std::move(host)) {}

    // Nothing without a path; a failed write is presented as an error.
    void exportColorList(const std::optional<std::string>& path) override;
    // Nothing without a path; an existing file is left as it is and the user
    // is told, as for any other failure.
    void exportSwatchExchange(const std::optional<std::string>& path) override;
    // pdf does nothing; the code formats render at once, HTML renders on a
    // global queue and finishes on the main queue. Each ends by sliding the
    // library away.
    void exportFolder(ExportFormat format) override;

    // Offers the text in a save panel proposing `name` with the one file type
    // and writes it there as UTF-8, atomically; nothing without text or when
    // the panel is cancelled; a failed write is presented as an error.
    static void saveExport(const std::optional<std::string>& text, const std::string& name, const std::string& type);

private:
    void exportCode(FolderExportHost& host, ExportFormat format);
    void exportHtml(FolderExportHost& host);

    std::weak_ptr<FolderExportHost> host_;
};

}  // namespace Vexil::Views
