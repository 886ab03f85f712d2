#include "picker/Views/ExportActions/LibraryExportActions.h"

#include <filesystem>
#include <vector>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Export/RPCAdobeSwatchExchange.h"
#include "picker/Export/RYPaletteExporter.h"
#include "picker/Library/ZNLColorFolder.h"

namespace Vexil::Views {

namespace {

// The folder's exported colours; nothing, after the error is shown, when the
// store cannot be read.
std::optional<RYPaletteExporter::Items> readItems(const ZNLColorFolder& folder) {
    try {
        return RYPaletteExporter::exportedItems(folder);
    } catch (const ObjectStore::RealmError& e) {
        AppKit::NSApp().presentError(e.error());
        return std::nullopt;
    }
}

// The writer refuses to replace a file; the user chose that file, so say why
// nothing was saved.
void showFileExists(const std::string& path) {
    AppKit::NSAlert alert;
    alert.alertStyle = AppKit::NSAlertStyle::warning;
    alert.messageText = "\"" + std::filesystem::path(path).filename().string() + "\" already exists.";
    alert.informativeText = "The swatch file was not saved and the existing file is unchanged. Choose another name.";
    alert.addButtonWithTitle("OK");
    alert.runModal();
}

// While the HTML page renders the window shows "Generating html…" and a
// spinner in place of its colours.
void showProgress(const FolderExportHost::ProgressViews& views, bool shown) {
    if (views.collectionView) views.collectionView->setHidden(shown);
    if (views.emptyFolderLabel) {
        views.emptyFolderLabel->setStringValue(shown ? kGeneratingHtmlText : kFolderIsEmptyText);
        views.emptyFolderLabel->setHidden(!shown);
    }
    if (views.progress) {
        views.progress->setHidden(!shown);
        if (shown)
            views.progress->startAnimation();
        else
            views.progress->stopAnimation();
    }
}

}  // namespace

void LibraryExportActions::exportColorList(const std::optional<std::string>& path) {
    auto host = host_.lock();
    if (!path || !host) return;
    auto folder = host->selectedFolder();
    if (!folder) return;
    if (auto error = folder->writeColorList(*path)) AppKit::NSApp().presentError(*error);
}

void LibraryExportActions::exportSwatchExchange(const std::optional<std::string>& path) {
    auto host = host_.lock();
    if (!path || !host) return;
    auto folder = host->selectedFolder();
    auto list = folder ? folder->colorList() : nullptr;
    if (!list) return;
    Foundation::Error error;
    switch (RPCAdobeSwatchExchange::writeColorList(list, *path, &error)) {
        case SwatchWriteResult::written:
        case SwatchWriteResult::noColorList:
            return;
        case SwatchWriteResult::fileExists:
            showFileExists(*path);
            return;
        case SwatchWriteResult::cannotCreate:
        case SwatchWriteResult::writeFailed:
            AppKit::NSApp().presentError(error);
            return;
    }
}

void LibraryExportActions::exportFolder(ExportFormat format) {
    if (format == ExportFormat::pdf) return;
    auto host = host_.lock();
    if (!host) return;
    if (format == ExportFormat::html)
        exportHtml(*host);
    else
        exportCode(*host, format);
}

void LibraryExportActions::exportCode(FolderExportHost& host, ExportFormat format) {
    const bool appKit = format == ExportFormat::nscolorCategory || format == ExportFormat::nscolorExtension;
    const bool category = format == ExportFormat::nscolorCategory || format == ExportFormat::uicolorCategory;
    if (auto folder = host.selectedFolder()) {
        if (auto items = readItems(*folder)) {
            const std::string name = (appKit ? "NSColor+" : "UIColor+") + folder->folderName();
            if (category) {
                // Both files or neither: the renderer gives both texts or nothing.
                if (auto texts = RYPaletteExporter::renderCategory(*items, format, *folder)) {
                    saveExport(texts->header, name, "h");
                    saveExport(texts->implementation, name, "m");
                }
            } else {
                saveExport(RYPaletteExporter::renderFolder(*items, format, *folder), name, "swift");
            }
        }
    }
    host.toggleLibrary();
}

void LibraryExportActions::exportHtml(FolderExportHost& host) {
    auto folder = host.selectedFolder();
    auto items = folder ? readItems(*folder) : std::nullopt;
    if (!items) {
        host.toggleLibrary();
        return;
    }
    showProgress(host.progressViews(), true);
    // Records and name are made here, so the render reads no store object.
    std::vector<RYColor> colors;
    colors.reserve(items->size());
    for (const auto& item : *items) colors.push_back(RYColor::htmlRecord(*item));
    std::string paletteName = folder->folderName();
    std::weak_ptr<FolderExportHost> weakHost = host_;
    Foundation::DispatchQueue::global()->async(
        [colors = std::move(colors), paletteName = std::move(paletteName), weakHost]() mutable {
            auto text = RYPaletteExporter::renderColors(std::move(colors), ExportFormat::html, paletteName);
            Foundation::DispatchQueue::main()->async([text = std::move(text), paletteName, weakHost] {
                if (auto host = weakHost.lock()) {
                    showProgress(host->progressViews(), false);
                    host->reloadCollectionView();  // an empty folder shows its label again
                }
                // Named after the folder whose colours the page holds, even if the
                // selection moved while it rendered.
                saveExport(text, "NSColor+" + paletteName, "html");
                if (auto host = weakHost.lock()) host->toggleLibrary();
            });
        });
}

void LibraryExportActions::saveExport(const std::optional<std::string>& text, const std::string& name,
                                      const std::string& type) {
    if (!text) return;
    AppKit::NSSavePanel panel;
    panel.title = "Export";
    panel.showsResizeIndicator = true;
    panel.showsHiddenFiles = false;
    panel.canCreateDirectories = true;
    panel.allowedFileTypes = {type};
    panel.nameFieldStringValue = name;
    panel.extensionHidden = false;
    if (panel.runModal() != AppKit::NSModalResponseOK || !panel.URL()) return;
    Foundation::Error error;
    if (!Foundation::writeFileAtomically(*panel.URL(), *text, &error)) AppKit::NSApp().presentError(error);
}

}  // namespace Vexil::Views
