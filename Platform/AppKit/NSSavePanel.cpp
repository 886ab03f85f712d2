#include "Platform/AppKit/NSSavePanel.h"

#include <algorithm>
#include <mutex>

#include "Platform/Foundation/Diagnostics.h"

namespace AppKit {

namespace {
std::mutex g_mutex;
NSSavePanel::Presenter g_presenter;
}  // namespace

void NSSavePanel::setPresenter(Presenter presenter) {
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

NSModalResponse NSSavePanel::runModal() {
    Presenter presenter;
    {
        std::lock_guard lock(g_mutex);
        presenter = g_presenter;
    }
    url_.reset();
    if (!presenter) {
        Foundation::systemLog("Save panel \"" + title + "\" cancelled: no one to answer it.");
        return NSModalResponseCancel;
    }
    Answer a = presenter(*this);
    if (a.response != NSModalResponseOK || a.path.empty()) return NSModalResponseCancel;
    std::string path = a.path;
    if (!allowedFileTypes.empty()) {
        auto dot = path.rfind('.');
        auto slash = path.rfind('/');
        std::string ext =
            dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(dot + 1) : "";
        if (std::find(allowedFileTypes.begin(), allowedFileTypes.end(), ext) == allowedFileTypes.end())
            path += "." + allowedFileTypes.front();
    }
    url_ = path;
    return NSModalResponseOK;
}

SavePanelScript::SavePanelScript() {
    NSSavePanel::setPresenter([this](const NSSavePanel& panel) {
        shown_.push_back({panel.title, panel.allowedFileTypes, panel.nameFieldStringValue, panel.message, panel.prompt,
                          panel.directory, panel.showsResizeIndicator, panel.showsHiddenFiles,
                          panel.canCreateDirectories, panel.extensionHidden});
        if (answers_.empty()) return NSSavePanel::Answer{};
        auto a = answers_.front();
        answers_.pop_front();
        return a;
    });
}

SavePanelScript::~SavePanelScript() { NSSavePanel::setPresenter(nullptr); }

}  // namespace AppKit
