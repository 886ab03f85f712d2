// The clipboard watcher: its 0.65 s reads, the list of distinct clips, the
// colours it hands to the application, the menu-open pause and stopping.

#include "ShellTestSupport.h"

namespace shelltest {
namespace {

struct Recorder : CLPasteboardDelegate {
    std::vector<std::string> texts;
    void addClipboardColor(const std::string& text) override { texts.push_back(text); }
};

class ClipboardTest : public ShellTest {
protected:
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    void copy(const std::string& text) { ui->copyFromOtherProgram(text); }
    void tick() { ui->advance(0.65); }
    // Copies then fall between two reads, clear of rounding at the tick itself.
    void betweenTicks() { ui->advance(0.3); }
};

TEST_F(ClipboardTest, TextAlreadyThereIsHandedOnAtTheFirstTickAfterSixtyFiveHundredths) {
    copy("hello");
    auto watcher = CLPasteboard::make(recorder);
    ui->advance(0.649);
    EXPECT_TRUE(recorder->texts.empty());
    ui->advance(0.001);
    EXPECT_EQ(recorder->texts, std::vector<std::string>{"hello"});
    tick();
    tick();  // unchanged: found at the front, nobody told
    EXPECT_EQ(recorder->texts.size(), 1u);
}

TEST_F(ClipboardTest, DistinctClipsAreHandedOnOnceAndARepeatMovesToTheFront) {
    auto watcher = CLPasteboard::make(recorder);
    betweenTicks();
    for (const char* text : {"A", "B", "A", "b", "B"}) {
        copy(text);
        tick();
    }
    EXPECT_EQ(recorder->texts, (std::vector<std::string>{"A", "B", "b"}));
    ASSERT_EQ(watcher->clips().size(), 3u);
    EXPECT_EQ(watcher->clips()[0].content, "B");
    EXPECT_EQ(watcher->clips()[1].content, "b");
    EXPECT_EQ(watcher->clips()[2].content, "A");
    // Canonically equivalent texts are one clip: "é" composed and decomposed.
    copy("caf\xc3\xa9");
    tick();
    copy("cafe\xcc\x81");
    tick();
    EXPECT_EQ(recorder->texts.back(), "caf\xc3\xa9");
    EXPECT_EQ(recorder->texts.size(), 4u);
}

TEST_F(ClipboardTest, SeventeenClipsDropTheOldestWhichIsThenNewAgain) {
    auto watcher = CLPasteboard::make(recorder);
    betweenTicks();
    for (int i = 0; i < 17; ++i) {
        copy("clip " + std::to_string(i));
        tick();
    }
    EXPECT_EQ(watcher->clips().size(), 16u);
    copy("clip 0");
    tick();
    EXPECT_EQ(recorder->texts.size(), 18u);
    EXPECT_EQ(recorder->texts.back(), "clip 0");
}

TEST_F(ClipboardTest, AnImageWithoutTextIsIgnoredAndTwoCopiesInOneIntervalShowOnlyTheLater) {
    auto watcher = CLPasteboard::make(recorder);
    betweenTicks();
    auto board = AppKit::NSPasteboard::generalPasteboard();
    board->declareTypes({"public.png"});
    board->setData(Foundation::Data{0x89, 'P', 'N', 'G'}, "public.png");
    tick();
    EXPECT_TRUE(recorder->texts.empty());
    EXPECT_TRUE(watcher->clips().empty());
    copy("first");
    copy("second");
    tick();
    EXPECT_EQ(recorder->texts, std::vector<std::string>{"second"});
}

TEST_F(ClipboardTest, StoppedWatcherReadsNothing) {
    auto watcher = CLPasteboard::make(recorder);
    betweenTicks();
    watcher->stop();
    EXPECT_FALSE(watcher->isRunning());
    copy("after stop");
    tick();
    EXPECT_TRUE(recorder->texts.empty());
}

TEST_F(ClipboardTest, CopiedHexColoursArriveInTheLibrary) {
    defaults().set("monitorClipboard", true);
    launch();
    betweenTicks();
    ASSERT_TRUE(app->pasteboardObserver);
    for (const char* text : {"ff8800", "#ABC", "#12345", "#1234567", " #abcdef", "beef", "fad", "#00FF00"}) {
        copy(text);
        tick();
    }
    // Three or six digits, either case, "#" added; "fad" is a colour too.
    EXPECT_EQ(app->picks, (std::vector<std::string>{"#ff8800", "#aabbcc", "#ffaadd", "#00ff00"}));
    auto history = ZNLColorsLibrary::historyFolder()->objects().filter(ObjectStore::Predicate("isDeleted == false"));
    EXPECT_EQ(history.count(), 4u);
    // The picked colour's own copy comes back to the watcher: already in
    // History, so nothing new is stored, but it counts as a pick again.
    EXPECT_EQ(clipboard(), "#00FF00");
    tick();
    EXPECT_EQ(app->picks.size(), 4u);  // the copy equals the clip at the front
}

TEST_F(ClipboardTest, TheLibraryWindowsOwnCopyIsSkippedOnce) {
    defaults().set("monitorClipboard", true);
    launch();
    betweenTicks();
    app->ignoreLastClipboardItem = true;
    copy("#123456");
    tick();
    copy("#654321");
    tick();
    EXPECT_EQ(app->picks, std::vector<std::string>{"#654321"});
    EXPECT_FALSE(app->ignoreLastClipboardItem);
}

TEST_F(ClipboardTest, NoReadsWhileTheMenuIsOpen) {
    defaults().set("monitorClipboard", true);
    launch();
    betweenTicks();
    ui->clickStatusItem(app->statusItem);
    copy("#111111");
    ui->advance(3.0);
    EXPECT_TRUE(app->picks.empty());
    copy("#222222");
    ui->closeMenu();
    ui->drain();
    tick();
    EXPECT_EQ(app->picks, std::vector<std::string>{"#222222"});
}

TEST_F(ClipboardTest, SettingUpAgainReplacesTheWatcherAndTurningOffStopsIt) {
    defaults().set("monitorClipboard", true);
    launch();
    betweenTicks();
    auto first = app->pasteboardObserver;
    app->setUpClipboardMonitor();
    EXPECT_NE(app->pasteboardObserver, first);
    EXPECT_FALSE(first->isRunning());
    copy("#abcdef");
    tick();
    EXPECT_EQ(app->picks.size(), 1u);  // one watcher, one report
    defaults().set("monitorClipboard", false);
    auto second = app->pasteboardObserver;
    app->setUpClipboardMonitor();
    EXPECT_FALSE(app->pasteboardObserver);
    EXPECT_FALSE(second->isRunning());
    copy("#fedcba");
    tick();
    EXPECT_EQ(app->picks.size(), 1u);
}

}  // namespace
}  // namespace shelltest
