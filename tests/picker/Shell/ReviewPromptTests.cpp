// The review prompt: which counts ask, once per build, and what counts as a
// stored count.

#include <limits>

#include "Platform/Foundation/Bundle.h"
#include "ShellTestSupport.h"
#include "picker/Shell/ReviewPrompt.h"
#include "picker/CommandLine.h"

namespace shelltest {
namespace {

using StoreKit::SKStoreReviewController;

class ReviewPromptTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        Foundation::Bundle::main().setInfoValue("CFBundleVersion", "1");
    }
    void TearDown() override {
        Foundation::Bundle::main().reloadInfoDictionary();
        ShellTest::TearDown();
    }
    // Counts at which a request was made while picking `n` more colours.
    std::vector<std::int64_t> pick(int n) {
        std::vector<std::int64_t> asked;
        for (int i = 0; i < n; ++i) {
            const int before = SKStoreReviewController::requestCount();
            incrementAppOpenedCount();
            requestReviewIfNeeded();
            if (SKStoreReviewController::requestCount() > before) asked.push_back(*storedAppOpenedCount());
        }
        return asked;
    }
};

TEST_F(ReviewPromptTest, AsksAtTenOnlyOncePerBuildThenAtTheNextQualifyingCountOfANewBuild) {
    EXPECT_EQ(pick(57), std::vector<std::int64_t>{10});
    EXPECT_EQ(defaults().stringForKey("LAST_REVIWED_APP_VERSION"), "1");
    EXPECT_TRUE(defaults().boolForKey("APP_REVIEWD"));
    Foundation::Bundle::main().setInfoValue("CFBundleVersion", "2");
    EXPECT_EQ(pick(150), std::vector<std::int64_t>{100});
    Foundation::Bundle::main().setInfoValue("CFBundleVersion", "3");
    EXPECT_EQ(pick(100), std::vector<std::int64_t>{300});
}

TEST_F(ReviewPromptTest, QualifyingCounts) {
    const std::vector<std::pair<std::int64_t, bool>> cases = {{9, false},  {10, true},   {20, false},
                                                              {50, true},  {100, true},  {150, false},
                                                              {200, true}, {1000, true}, {0, false}};
    int build = 10;
    for (auto [count, asks] : cases) {
        Foundation::Bundle::main().setInfoValue("CFBundleVersion", std::to_string(++build));
        defaults().set("APP_OPENED_COUNT", count);
        const int before = SKStoreReviewController::requestCount();
        requestReviewIfNeeded();
        EXPECT_EQ(SKStoreReviewController::requestCount() > before, asks) << count;
    }
}

TEST_F(ReviewPromptTest, OnlyIntegralNumbersCountAndTheCountStopsAtTheLargestInteger) {
    struct Case {
        Foundation::Value stored;
        std::int64_t after;
    };
    const std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const std::vector<Case> cases = {
        {Foundation::Value(), 1},      {Foundation::Value(41), 42},  {Foundation::Value(7.0), 8},
        {Foundation::Value(7.5), 1},   {Foundation::Value("12"), 1}, {Foundation::Value(largest), largest},
        {Foundation::Value(1e300), 1}, {Foundation::Value(true), 1},
    };
    for (const auto& c : cases) {
        if (c.stored.isNull())
            defaults().removeObjectForKey("APP_OPENED_COUNT");
        else
            defaults().set("APP_OPENED_COUNT", c.stored);
        incrementAppOpenedCount();
        EXPECT_EQ(defaults().objectForKey("APP_OPENED_COUNT"), Foundation::Value(c.after)) << c.after;
    }
    // A stored text counts as absent for the request too: 1 is stored, nothing asked.
    defaults().set("APP_OPENED_COUNT", "10");
    requestReviewIfNeeded();
    EXPECT_EQ(defaults().objectForKey("APP_OPENED_COUNT"), Foundation::Value(1));
    EXPECT_EQ(SKStoreReviewController::requestCount(), 0);
}

TEST_F(ReviewPromptTest, WithoutATextBuildVersionNothingIsAsked) {
    Foundation::Bundle::main().setInfoValue("CFBundleVersion", 7);
    defaults().set("APP_OPENED_COUNT", 10);
    requestReviewIfNeeded();
    EXPECT_EQ(SKStoreReviewController::requestCount(), 0);
    EXPECT_TRUE(defaults().objectForKey("LAST_REVIWED_APP_VERSION").isNull());
}

TEST_F(ReviewPromptTest, EveryPickCountsWhetherOrNotTheColourWasNew) {
    launch();
    for (int i = 0; i < 10; ++i) app->didPickColor(colorWithHex("#102030"));
    EXPECT_EQ(*storedAppOpenedCount(), 10);
    EXPECT_EQ(SKStoreReviewController::requestCount(), 1);
    EXPECT_EQ(ZNLColorsLibrary::historyFolder()->objects().count(), 1u);
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputAndAnythingElseIsAnErrorWithUsage) {
    struct Case {
        std::vector<const char*> args;
        int status;
        bool toOut;
    };
    const std::vector<Case> cases = {
        {{"vexil"}, -1, false},
        {{"vexil", "--help"}, 0, true},
        {{"vexil", "--version"}, 0, true},
        {{"vexil", "--colour"}, 2, false},
        {{"vexil", "extra"}, 2, false},
        {{"vexil", ""}, 2, false},
        {{"vexil", "--version", "--bogus"}, 2, false},
        {{"vexil", "--help", "extra"}, 2, false},
        {{"vexil", "--version", "--help"}, 0, true},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv;
        for (auto* a : c.args) argv.push_back(const_cast<char*>(a));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = vexil::handleCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.status) << c.args.back();
        if (c.status < 0) continue;
        if (c.toOut) {
            EXPECT_FALSE(out.empty());
            EXPECT_TRUE(err.empty());
        } else {
            EXPECT_TRUE(out.empty());
            EXPECT_NE(err.find("usage: vexil"), std::string::npos) << err;
        }
    }
}

}  // namespace
}  // namespace shelltest
