// vexil-tour: a scripted session of Vexil on the headless display over a
// sample desktop picture. After each step it writes the screen as PNG, then a
// one-page index (index.md) into a folder it prints. It is a tool beside the
// application, driven through the interface harness as a person would use
// the program; it changes nothing outside its own folder.
//
//   vexil-tour [--out DIR]

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Platform/CoreGraphics/Cairo.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Harness/Harness.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "picker/Shell/MainInterface.h"
#include "picker/Shell/WindowServices.h"
#include "picker/Views/Editor/ZNLColorChooserViewController.h"
#include "picker/Views/Library/ZNLColorsLibraryItem.h"
#include "picker/Views/Library/ZNLColorsLibraryViewController.h"
#include "picker/Views/Palettes/ZNLPaletteGenerator.h"
#include "picker/Views/TabBar/ZNLBarButton.h"

namespace {

struct Step {
    std::string file;
    std::string title;
    std::string text;
};

// A calm gradient with a few coloured shapes, so the notice and the menu
// stand out against something like a real desktop.
std::shared_ptr<const CoreGraphics::Image> sampleDesktop(int width, int height) {
    CoreGraphics::ImageContext ctx(width, height);
    const CoreGraphics::CGRect all{{0, 0}, {static_cast<double>(width), static_cast<double>(height)}};
    ctx.fillLinearGradient(all, {0, 0}, {static_cast<double>(width), static_cast<double>(height)},
                           {{0.09, 0.16, 0.29, 1}, {0.20, 0.42, 0.55, 1}, {0.91, 0.62, 0.45, 1}}, {0, 0.55, 1});
    const CoreGraphics::RGBA shapes[] = {{0.90, 0.22, 0.27, 1},
                                         {0.16, 0.62, 0.56, 1},
                                         {0.96, 0.64, 0.38, 1},
                                         {0.15, 0.27, 0.33, 1},
                                         {0.91, 0.77, 0.42, 1}};
    for (int i = 0; i < 5; ++i) {
        const double x = 160 + i * 230, y = 180 + 90 * std::sin(i * 1.3);
        ctx.fillEllipse({{x, y}, {150, 150}}, shapes[i]);
    }
    ctx.fillRoundedRect({{120, 480}, {520, 250}}, 12, {0.97, 0.97, 0.95, 0.92});
    CoreGraphics::FontSpec title;
    title.size = 28;
    title.bold = true;
    ctx.drawText("Sample desktop", {{150, 600}, {460, 100}}, title, {0.15, 0.15, 0.2, 1});
    CoreGraphics::FontSpec body;
    body.size = 16;
    ctx.drawText("#E63946   #2A9D8F   #F4A261   #264653", {{150, 540}, {460, 40}}, body, {0.25, 0.25, 0.3, 1});
    return std::make_shared<CoreGraphics::Image>(ctx.image());
}

int usage(const char* message) {
    if (message) std::fprintf(stderr, "vexil-tour: %s\n", message);
    std::fprintf(stderr, "usage: vexil-tour [--out DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "usage: vexil-tour [--out DIR]\n"
                "Plays a scripted session of Vexil on the headless display and writes a picture of\n"
                "the screen after each step, with index.md, into DIR (default: a new folder in /tmp).\n");
            return 0;
        } else {
            return usage((std::string("unknown argument '") + argv[i] + "'").c_str());
        }
    }
    if (out.empty()) {
        char templ[] = "/tmp/vexil-tour-XXXXXX";
        if (!mkdtemp(templ)) return usage("cannot make a folder in /tmp");
        out = templ;
    }
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) return usage(("cannot make " + out + ": " + ec.message()).c_str());
    out = std::filesystem::absolute(out).string();
    // The session's preferences and library live in the tour's folder, never the user's.
    const std::string home = out + "/home";
    std::filesystem::create_directories(home, ec);
    setenv("VEXIL_HOME", home.c_str(), 1);

    auto& defaults = Foundation::UserDefaults::standard();
    defaults.set("useCloudKit", false);
    defaults.set("monitorClipboard", true);

    std::vector<Step> steps;
    int failures = 0;
    Harness::LaunchOptions options;
    options.desktopPicture = sampleDesktop(1440, 900);
    {
        Harness::UIHarness ui(options);
        auto shot = [&](const std::string& file, const std::string& title, const std::string& text) {
            if (!ui.writeScreenPNG(out + "/" + file)) {
                std::fprintf(stderr, "vexil-tour: cannot write %s/%s\n", out.c_str(), file.c_str());
                ++failures;
            }
            steps.push_back({file, title, text});
        };

        linkLibraryWindow();
        auto app = makeAppDelegate();
        ui.launch(app);
        shot("01-launch.png", "Launch",
             "Vexil has started: its status item sits at the right end of the menu bar. There is no window; "
             "everything starts from the item's menu.");

        ui.advance(1.0);
        shot("02-ready-notice.png", "The ready notice",
             "One second after launch the floating notice \"Vexil is ready to use\" appears under the status "
             "item; it fades out after three seconds.");

        for (const char* hex : {"#E63946", "#2A9D8F", "#F4A261", "#264653"}) {
            ui.advance(4.0);
            app->addClipboardColor(hex);  // as a pick hands the colour over
        }
        ui.advance(4.0);
        ui.clickStatusItem(app->statusItem);
        shot("03-status-menu.png", "The status menu with recent colours",
             "The status menu lists the newest colours of the History folder, each with a swatch, the "
             "colour's name and its text in the current format. Clicking one copies that text.");
        ui.closeMenu();

        ui.advance(4.0);
        ui.copyFromOtherProgram("#7B2CBF");
        ui.advance(0.65);
        shot("04-clipboard-notice.png", "A colour copied in another program",
             "Another program copied the text \"#7B2CBF\". The clipboard watcher reads the clipboard every "
             "0.65 s, recognises a hex colour and records it like a picked colour: the notice shows its "
             "name and text.");
        ui.advance(4.0);
        ui.clickStatusItem(app->statusItem);
        shot("05-clipboard-in-library.png", "The copied colour in the library",
             "The copied colour is now the newest of the recent colours.");

        auto formatsItem = app->formatsMenuItem.lock();
        const std::string current = formatsItem ? formatsItem->title : "CSS Hex";
        if (!ui.chooseMenuItem({current, "CSS RGB"})) {
            std::fprintf(stderr, "vexil-tour: the formats submenu has no \"CSS RGB\"\n");
            ++failures;
        }
        ui.advance(1.0);
        ui.clickStatusItem(app->statusItem);
        // Over the Format item, so its submenu opens and shows the tick.
        if (auto item = app->formatsMenuItem.lock())
            if (auto rect = ui.screenRectOfItem(item)) ui.moveMouse({rect->midX(), rect->midY()});
        ui.advance(0.5);
        shot("06-format-change.png", "A format change",
             "Choosing \"CSS RGB\" in the Format submenu makes it the current format: it is ticked there and "
             "the Format item shows its name. Copies use it from now on.");
        ui.closeMenu();
        ui.advance(1.0);
        ui.clickStatusItem(app->statusItem);
        shot("07-recent-colours-as-rgb.png", "The recent colours in the new format",
             "The recent colours were rebuilt with the format change: each shows its rgb(...) text.");
        ui.closeMenu();

        ui.advance(1.0);
        app->toggleLibrary();
        ui.advance(1.0);
        auto controller = app->window ? std::dynamic_pointer_cast<Vexil::Views::ZNLColorsLibraryViewController>(
                                            app->window->contentViewController())
                                      : nullptr;
        if (controller)
            for (const auto& folder : controller->folders())
                if (folder->folderName() == "History")
                    if (auto tab = controller->stackView->tabForFolder(folder->folderId())) {
                        controller->stackView->selectTab(*tab);
                        controller->selectFolder(folder->folderId());
                    }
        ui.advance(1.0);
        shot("08-library-window.png", "The library window",
             "The library window slides in at the bottom of the screen: a tab for each folder and the "
             "selected folder's colours, each with its name and text. Hovering a colour shows its "
             "buttons; a colour dragged onto another tab moves there.");

        // Every export of the selected folder, answered into the tour's own folder.
        const std::string exports = out + "/exports";
        std::filesystem::create_directories(exports, ec);
        if (!controller || !controller->exportActions) {
            std::fprintf(stderr, "vexil-tour: the library window has no export side\n");
            ++failures;
        } else {
            AppKit::SavePanelScript panels;
            for (const char* file :
                 {"History.clr", "History.ase", "NSColor+History.h", "NSColor+History.m", "NSColor+History.swift",
                  "UIColor+History.h", "UIColor+History.m", "UIColor+History.swift", "NSColor+History.html"})
                panels.saveAs(exports + "/" + file);
            controller->exportColorList(std::nullopt);
            controller->exportSwatchExchange(std::nullopt);
            for (auto format : {ExportFormat::nscolorCategory, ExportFormat::nscolorExtension,
                                ExportFormat::uicolorCategory, ExportFormat::uicolorExtension, ExportFormat::html}) {
                if (!app->isLibraryShown()) app->toggleLibrary();
                ui.advance(1.0);
                controller->exportFolder(format);
                ui.advance(1.0);
            }
            ui.drain();
            std::string written;
            for (const auto& entry : std::filesystem::directory_iterator(exports, ec))
                written += (written.empty() ? "" : ", ") + entry.path().filename().string();
            shot("09-exports.png", "Every export of a folder",
                 "From a tab's menu the folder was exported as a colour list, a swatch exchange file, "
                 "Objective-C categories, Swift extensions and an HTML page; the library slides away for "
                 "each save panel. Written into the tour's exports folder: " +
                     written + ".");
        }

        // Picking from the desktop: the magnifier follows the pointer, a click takes the colour under it.
        if (app->isLibraryShown()) app->toggleLibrary();
        ui.advance(1.0);
        const AppKit::CGPoint red{235, 255}, teal{465, 342}, orange{695, 301};
        ui.chooseStatusMenuItem({"Pick Color"});
        ui.moveMouseGradually(teal, 6);
        ui.advance(0.1);
        shot("10-magnifier.png", "Picking a colour with the magnifier",
             "\"Pick Color\" in the status menu opens the magnifier: a round loupe that follows the pointer and "
             "shows the pixels under it enlarged, with their RGB values. Here it is over the teal shape.");
        ui.click(teal);
        ui.advance(4.0);
        for (AppKit::CGPoint at : {red, orange}) {
            ui.chooseStatusMenuItem({"Pick Color"});
            ui.moveMouseGradually(at, 6);
            ui.advance(0.1);
            ui.click(at);
            ui.advance(4.0);
        }
        ui.clickStatusItem(app->statusItem);
        shot("11-picked-colours.png", "The picked colours",
             "Each click took the colour under the magnifier, copied its text and recorded it: the teal, red "
             "and orange shapes are now the newest recent colours in the status menu.");
        ui.closeMenu();
        ui.advance(1.0);

        auto showLibrary = [&] {
            if (!app->isLibraryShown()) app->toggleLibrary();
            ui.advance(1.0);
        };
        auto cellAt = [&](long i) -> std::shared_ptr<Vexil::Views::ZNLColorsLibraryItem> {
            auto row = controller ? controller->collectionView.lock() : nullptr;
            if (!row || i >= row->numberOfItemsInSection(0)) return nullptr;
            return std::dynamic_pointer_cast<Vexil::Views::ZNLColorsLibraryItem>(
                row->itemAtIndexPath(AppKit::NSIndexPath::indexPathForItem(i)));
        };
        auto fail = [&](const char* what) {
            std::fprintf(stderr, "vexil-tour: %s\n", what);
            ++failures;
        };

        // The colour editor, from a library cell's adjust button.
        showLibrary();
        auto first = cellAt(0);
        auto adjust = first ? first->adjustButton.lock() : nullptr;
        if (!adjust) {
            fail("the library shows no colour to adjust");
        } else {
            ui.moveMouseToView(*first->view());
            ui.advance(0.5);
            ui.clickView(*adjust);
            ui.advance(1.0);
            auto editor = controller->editorWindow->viewController;
            if (!editor || !controller->editorWindow->isVisible) {
                fail("the adjust button opened no editor");
            } else {
                auto clickTab = [&](long tag) {
                    for (auto& b : editor->tabBar->tabButtons())
                        if (b->tag == tag) ui.clickView(*b);
                    ui.advance(0.5);
                };
                clickTab(2);
                shot("12-colour-editor.png", "The colour editor",
                     "The adjust button of a colour's cell (here Faded Red) slides the library away and opens the "
                     "colour "
                     "editor on that colour: its sliders and values in RGB, HSB or HSL, a hex field, and a row "
                     "of related colours; the Triad tab is chosen here.");
                clickTab(4);
                shot("13-editor-shades.png", "The editor's shades",
                     "The Shades tab fills the row with four tints and six darker steps of the colour.");
                if (auto cancel = editor->buttonForAction("cancel:")) ui.clickView(*cancel);
                ui.advance(1.0);
            }
        }

        // The palette generator on a cell's colour, applied into a new folder.
        showLibrary();
        std::shared_ptr<ZNLPaletteGenerator> generator;
        if (controller) {
            controller->handleGeneratePalette(0);
            ui.advance(1.0);
            for (auto& w : ui.app().windows())
                if (auto g = std::dynamic_pointer_cast<ZNLPaletteGenerator>(w->contentViewController()))
                    if (w->isVisible()) generator = g;
        }
        std::int64_t newFolderId = -1;
        if (!generator) {
            fail("the palette generator did not open");
        } else {
            // The library panel covers the generator's buttons: slide it away first.
            if (app->isLibraryShown()) app->toggleLibrary();
            ui.advance(1.0);
            ui.typeIntoField(*generator->paletteName, "Dusk");
            ui.advance(0.5);
            shot("14-palette-generator.png", "The palette generator",
                 "A cell's generate action opens the palette generator on its colour: six swatches starting "
                 "from it, buttons to shift hue, saturation and brightness, and a name for the palette.");
            std::set<std::int64_t> before;
            for (const auto& f : controller->folders()) before.insert(f->folderId());
            if (auto apply = generator->buttonForAction("applyButtonPressed:")) ui.clickView(*apply);
            ui.advance(1.0);
            for (const auto& f : controller->folders())
                if (!before.count(f->folderId())) newFolderId = f->folderId();
            if (newFolderId < 0) {
                fail("Apply made no folder");
            } else {
                showLibrary();
                if (auto tab = controller->stackView->tabForFolder(newFolderId)) ui.clickView(*tab);
                ui.advance(1.0);
                shot("15-generated-folder.png", "The generated palette in the library",
                     "Apply closes the generator and stores the six colours in a new folder named after the "
                     "palette; its tab is selected here.");
            }
        }

        // Renaming that folder, then dragging a recent colour onto its tab.
        if (newFolderId >= 0) {
            auto tab = controller->stackView->tabForFolder(newFolderId);
            if (tab) {
                ui.rightClickView(*tab);
                ui.chooseMenuItem({"Rename"});
                ui.advance(0.5);
                ui.typeIntoField(*tab->textField, "Sunset");
                ui.advance(1.0);
            }
            std::shared_ptr<ZNLColorFolder> renamed;
            for (const auto& f : controller->folders())
                if (f->folderId() == newFolderId) renamed = f;
            if (!renamed || renamed->folderName() != "Sunset") fail("the typed folder name was not stored");
            shot("16-folder-renamed.png", "A folder renamed",
                 "\"Rename\" in a tab's menu (a right click on the tab) turns its name into a field; typing "
                 "\"Sunset\" and Return renamed the palette's folder.");
            std::shared_ptr<Vexil::Views::ZNLBarButton> historyTab;
            for (const auto& folder : controller->folders())
                if (folder->folderName() == "History")
                    historyTab = controller->stackView->tabForFolder(folder->folderId());
            if (historyTab) ui.clickView(*historyTab);
            ui.advance(1.0);
            // The newest recent colour (the last cell), one the palette does not hold yet.
            auto row = controller->collectionView.lock();
            auto dragged = row ? cellAt(row->numberOfItemsInSection(0) - 1) : nullptr;
            tab = controller->stackView->tabForFolder(newFolderId);
            if (!dragged || !tab) {
                fail("no colour or tab for the drag");
            } else {
                const AppKit::CGRect r = dragged->view()->convertRectToScreen(dragged->view()->bounds());
                ui.drag({r.minX() + 5, r.minY() + 5}, Harness::UIHarness::centerOnScreen(*tab), 8);
                ui.advance(1.0);
                ui.clickView(*tab);
                ui.advance(1.0);
                if (row->numberOfItemsInSection(0) != 7) fail("the dragged colour did not reach the palette's folder");
                shot("17-colour-dragged.png", "A colour dragged onto another folder",
                     "The newest recent colour was dragged from the History folder onto the Sunset tab: it "
                     "moved there and ends that folder's colours.");
            }
        }

        // The preferences window.
        if (app->isLibraryShown()) app->toggleLibrary();
        ui.advance(1.0);
        ui.chooseStatusMenuItem({"Preferences…"});
        ui.advance(1.0);
        shot("18-preferences.png", "The preferences",
             "\"Preferences…\" in the status menu opens the preferences window with its General pane: how "
             "long notices stay (3.0 s), hiding the library on a click elsewhere, syncing through iCloud, "
             "adding colours copied in other programs, hex with #, and the magnifier's shortcut.");
        if (app->preferences && app->preferences->window()) app->preferences->window()->close();
        ui.drain();

        ui.app().terminationHandler = [] {};
        ui.app().terminate();
        ui.drain();
    }

    std::ofstream index(out + "/index.md");
    index << "# A tour of Vexil\n\n"
          << "A scripted session on the headless display over a sample desktop picture "
          << "(1440 x 900 points). Each picture is the whole screen after the step.\n\n";
    int n = 0;
    for (const auto& s : steps)
        index << "## " << ++n << ". " << s.title << "\n\n"
              << s.text << "\n\n![" << s.title << "](" << s.file << ")\n\n";
    index.close();
    if (!index) {
        std::fprintf(stderr, "vexil-tour: cannot write %s/index.md\n", out.c_str());
        ++failures;
    }
    std::printf("The tour's pictures and index.md are in %s\n", out.c_str());
    return failures ? 1 : 0;
}
