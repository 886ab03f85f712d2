// The application delegate's side of the magnifier and the status menu's
// actions, on the harness with a fresh store per test.

#include "picker/Shell/ShellTestSupport.h"
#include "picker/Shell/RecordingWindowServices.h"
#include "picker/Shell/WindowServices.h"
#include "picker/Views/Library/LibraryShell.h"
#include "picker/Views/Library/ZNLColorsLibraryViewController.h"

using namespace AppKit;

namespace {

// The real actions, not the shell tests' recorders.
class PickerDelegate : public shelltest::TestDelegate {
public:
    void showMagnifier() override { AppDelegate::showMagnifier(); }
    void toggleLibrary() override { AppDelegate::toggleLibrary(); }
    void addNewColor() override { AppDelegate::addNewColor(); }
    void newPalette() override { AppDelegate::newPalette(); }
    void getFeedback() override { AppDelegate::getFeedback(); }
    void gotoCommunity() override { AppDelegate::gotoCommunity(); }
};

class PickFlow : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        shelltest::installRecordingWindowServices();
        app = makeAppDelegate<PickerDelegate>();
        app->storePath = dir + "/default.realm";
        ui->launch(app);
        ui->advance(2.0);
        ui->clearOutput();
    }
    void TearDown() override {
        ZNLEventHanlder::shared()->close();
        ShellTest::TearDown();
    }
    std::vector<std::string> historyHexes() const {
        std::vector<std::string> out;
        for (auto& item : ZNLColorsLibrary::historyFolder()->objects().objects()) out.push_back(item->color());
        return out;
    }
};

TEST_F(PickFlow, AMagnifierPickIsStoredCopiedAnnouncedAndCounted) {
    defaults().set("colorFormat", static_cast<std::int64_t>(0));  // read as id 1
    auto picker = ZNLEventHanlder::shared();
    static_cast<ZNLMousePointerDelegate&>(*app).didPickColor(*picker->mousePointer,
                                                             NSColor::colorWithRed(1, 0.5, 0, 1));
    EXPECT_EQ(historyHexes(), std::vector<std::string>{"#ff7f00ff"});
    EXPECT_EQ(clipboard(), "#FF7F00");
    ASSERT_TRUE(app->floatingWindow);
    EXPECT_TRUE(app->floatingWindow->isVisible());
    EXPECT_NE(app->floatingWindow->infoView()->stringValue().find(" - #FF7F00"), std::string::npos);
    EXPECT_EQ(countLines("Update menu"), 2u);
    EXPECT_EQ(countLines("Update menu done"), 2u);
    EXPECT_EQ(defaults().integerForKey("APP_OPENED_COUNT"), 1);
}

TEST_F(PickFlow, PickColorOpensTheMagnifierAndAClickRecordsTheColour) {
    ui->moveMouse({300, 300});
    ui->chooseStatusMenuItem({"Pick Color"});
    auto picker = ZNLEventHanlder::shared();
    EXPECT_TRUE(picker->isOpen());
    EXPECT_TRUE(ui->alerts().shown().empty());
    ui->click({300, 300});
    ui->advance(0.2);
    EXPECT_FALSE(picker->isOpen());
    EXPECT_EQ(app->picks.size(), 1u);
    EXPECT_EQ(historyHexes().size(), 1u);
}

TEST_F(PickFlow, WithoutCaptureAccessTheAlertComesFirstThenTheMagnifierOpens) {
    ui->backend().captureAllowed = false;
    ui->chooseStatusMenuItem({"Pick Color"});
    ASSERT_EQ(ui->alerts().shown().size(), 1u);
    const auto& alert = ui->alerts().shown()[0];
    EXPECT_EQ(alert.messageText, "Screen Recording Permissions is Required");
    EXPECT_EQ(alert.informativeText,
              "Vexil uses Screen Recording for picking colors from on-screen elements.\n\n"
              "Without the required permissions, you'll only be able too pick colors from Vexil's own windows.\n\n"
              "To keep things running smoothly, open the Security & Privacy panel in System Preferences and put a "
              "checkmark next to Vexil in the Screen Recording section.");
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"Ok"});
    EXPECT_TRUE(ZNLEventHanlder::shared()->isOpen());
    ui->advance(0.2);  // closes itself after its one capture
    EXPECT_FALSE(ZNLEventHanlder::shared()->isOpen());
    ui->chooseStatusMenuItem({"Pick Color"});
    EXPECT_EQ(ui->alerts().shown().size(), 2u);
}

TEST_F(PickFlow, TheLibraryWindowSlidesInOnceAndOutAgain) {
    app->toggleLibrary();
    ui->advance(0.1);
    app->toggleLibrary();  // during the slide: nothing
    EXPECT_EQ(shelltest::windowRequests().libraryWindows, 1);
    ui->advance(0.2);
    ASSERT_TRUE(app->window);
    EXPECT_EQ(app->animationState, ZNLAnimationState::idle);
    EXPECT_EQ(app->window->frame(), CGRectMake(0, 0, 1440, 280));
    EXPECT_TRUE(app->window->isVisible());
    auto shown = app->window;
    app->toggleLibrary();
    EXPECT_EQ(app->animationState, ZNLAnimationState::hide);
    ui->advance(0.3);
    // Hidden, not gone: the same window comes back.
    EXPECT_EQ(app->window, shown);
    EXPECT_FALSE(shown->isClosed());
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(app->animationState, ZNLAnimationState::idle);
    app->toggleLibrary();
    EXPECT_EQ(shelltest::windowRequests().libraryWindows, 1);
    ui->advance(0.3);  // the second slide ends before the test does
    EXPECT_EQ(app->animationState, ZNLAnimationState::idle);
    EXPECT_EQ(app->window, shown);
    EXPECT_TRUE(shown->isVisible());
}

TEST_F(PickFlow, TheRealLibraryWindowKeepsItsStateWhileHidden) {
    linkLibraryWindow();
    app->toggleLibrary();
    ui->advance(0.3);
    ASSERT_TRUE(app->window);
    EXPECT_TRUE(std::dynamic_pointer_cast<NSPanel>(app->window));
    EXPECT_EQ(app->window->styleMask() & NSWindowStyleMaskTitled, 0u);  // an override-redirect panel on X11
    auto controller = app->window->contentViewController();
    ASSERT_TRUE(controller);
    auto library = std::dynamic_pointer_cast<Vexil::Views::ZNLColorsLibraryViewController>(controller);
    ASSERT_TRUE(library);
    // Its close button asks the shell to slide it away.
    library->closeButton.lock()->performClick();
    ui->advance(0.3);
    EXPECT_FALSE(app->window->isVisible());
    EXPECT_EQ(app->window->contentViewController(), controller);
    app->toggleLibrary();
    ui->advance(0.3);
    EXPECT_TRUE(app->window->isVisible());
    EXPECT_EQ(app->window->contentViewController(), controller);
    EXPECT_EQ(app->window->frame(), CGRectMake(0, 0, 1440, 280));

    // A colour picked while it is hidden is there when it slides in again.
    for (const auto& folder : library->folders())
        if (folder->folderName() == "History") library->selectFolder(folder->folderId());
    const long before = library->numberOfItemsInSection(*library->collectionView.lock(), 0);
    library->closeButton.lock()->performClick();
    ui->advance(0.3);
    app->didPickColor(NSColor::colorWithRed(0.1, 0.2, 0.3, 1));
    ui->advance(4.0);
    app->toggleLibrary();
    ui->advance(0.3);
    EXPECT_EQ(library->collectionView.lock()->numberOfItemsInSection(0), before + 1);
    WindowServices::reset();
    Vexil::Views::LibraryShell::shared() = {};
}

TEST_F(PickFlow, PickingWithTheLibraryOpenSlidesItOutAndStartsTheMagnifierAtOnce) {
    app->toggleLibrary();
    ui->advance(0.3);
    ASSERT_TRUE(app->window);
    app->showMagnifier();
    EXPECT_EQ(app->animationState, ZNLAnimationState::hide);
    EXPECT_TRUE(ZNLEventHanlder::shared()->isOpen());
    ui->advance(0.3);
    EXPECT_FALSE(app->isLibraryShown());
}

TEST_F(PickFlow, FeedbackAndCommunityOpenTheirPages) {
    ui->chooseStatusMenuItem({"Send Feedback…"});
    ui->chooseStatusMenuItem({"Community"});
    EXPECT_EQ(ui->backend().openedURLs,
              (std::vector<std::string>{AppDelegate::kFeedbackURL, AppDelegate::kCommunityURL}));
    EXPECT_FALSE(app->openLink("not a web address"));
}

TEST_F(PickFlow, ANewColourOpensTheEditorAndItsSaveStoresTheName) {
    ui->chooseStatusMenuItem({"New Color…"});
    ASSERT_EQ(shelltest::windowRequests().editorColors.size(), 1u);
    const std::string hex = shelltest::windowRequests().editorColors[0];
    EXPECT_EQ(hex.substr(7), "ff");  // alpha 1, components from six hex digits
    int closed = 0;
    app->colorChooserDidSave(NSColor::colorWithRed(0.2, 0.6, 1.0, 1), std::string("Sky"), [&] { ++closed; });
    EXPECT_EQ(closed, 1);
    auto items = ZNLColorsLibrary::historyFolder()->objects().objects();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->colorName(), "Sky");
    // The same colour again stores nothing and only closes the editor.
    app->colorChooserDidSave(NSColor::colorWithRed(0.2, 0.6, 1.0, 1), std::string("Sea"), [&] { ++closed; });
    EXPECT_EQ(closed, 2);
    EXPECT_EQ(ZNLColorsLibrary::historyFolder()->objects().objects().size(), 1u);
    ui->chooseStatusMenuItem({"New Palette…"});
    EXPECT_EQ(shelltest::windowRequests().palettesWindows, 1);
}

}  // namespace

namespace {

TEST_F(PickFlow, TheLibrarysCopyIsSkippedButALaterCopyIsNot) {
    AppKit::NSPasteboard::generalPasteboard()->clearContents();
    AppKit::NSPasteboard::generalPasteboard()->setString("#123456", AppKit::NSPasteboardTypeString);
    app->ignoreOwnCopy();
    app->addClipboardColor("#123456");
    EXPECT_TRUE(app->picks.empty());
    // The watcher missed the library's copy; the next one is another program's.
    app->ignoreOwnCopy();
    ui->copyFromOtherProgram("#abcdef");
    app->addClipboardColor("#abcdef");
    EXPECT_EQ(app->picks, std::vector<std::string>{"#abcdef"});
}

TEST_F(PickFlow, ClipboardTextsAreColoursOnlyAsThreeOrSixHexDigits) {
    const struct {
        const char* text;
        const char* pick;  // nullptr: ignored
    } cases[] = {{"#abc", "#aabbcc"}, {"ABC", "#aabbcc"},     {"#FF8800", "#ff8800"}, {"facade", "#facade"},
                 {"#abcd", nullptr},  {"#abcdef12", nullptr}, {" #abc", nullptr},     {"#abc ", nullptr},
                 {"#ggg", nullptr},   {"", nullptr}};
    for (const auto& c : cases) {
        app->picks.clear();
        app->addClipboardColor(c.text);
        if (c.pick)
            EXPECT_EQ(app->picks, std::vector<std::string>{c.pick}) << c.text;
        else
            EXPECT_TRUE(app->picks.empty()) << c.text;
    }
}

}  // namespace
