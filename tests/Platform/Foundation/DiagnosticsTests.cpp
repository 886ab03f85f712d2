// The diagnostics seam: standard-output and system-log lines, captured in
// tests from any thread.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Foundation/Diagnostics.h"

namespace Foundation {
namespace {

TEST(Diagnostics, CaptureRecordsBothOutputsSeparately) {
    DiagnosticsCapture capture;
    printLine("Update menu");
    systemLog("[VXCrashReporter] Installed");
    printLine("Update menu done");
    printLine("");
    EXPECT_EQ(capture.stdoutLines(), (std::vector<std::string>{"Update menu", "Update menu done", ""}));
    EXPECT_EQ(capture.systemLogLines(), (std::vector<std::string>{"[VXCrashReporter] Installed"}));
    capture.clear();
    EXPECT_TRUE(capture.stdoutLines().empty());
    EXPECT_TRUE(capture.systemLogLines().empty());
}

TEST(Diagnostics, CapturedLinesAreNotWrittenUnlessEchoed) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        DiagnosticsCapture quiet;
        printLine("quiet");
        systemLog("quiet log");
    }
    {
        DiagnosticsCapture loud(true);
        printLine("loud");
        systemLog("loud log");
    }
    printLine("uncaptured");
    systemLog("uncaptured log");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "loud\nuncaptured\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "loud log\nuncaptured log\n");
}

TEST(Diagnostics, OverlappingCapturesEachRecord) {
    DiagnosticsCapture outer;
    printLine("one");
    std::vector<std::string> inner;
    {
        DiagnosticsCapture nested;
        printLine("two");
        inner = nested.stdoutLines();
    }
    printLine("three");
    EXPECT_EQ(inner, (std::vector<std::string>{"two"}));
    EXPECT_EQ(outer.stdoutLines(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST(DiagnosticsThreads, LinesFromManyThreadsArriveWhole) {
    DiagnosticsCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                printLine("out " + std::to_string(t) + ":" + std::to_string(i));
                systemLog("log " + std::to_string(t) + ":" + std::to_string(i));
            }
        });
    }
    for (auto& th : threads) th.join();
    const auto out = capture.stdoutLines();
    const auto log = capture.systemLogLines();
    EXPECT_EQ(out.size(), 400u);
    EXPECT_EQ(log.size(), 400u);
    EXPECT_EQ(std::set<std::string>(out.begin(), out.end()).size(), 400u);
    // Each thread's lines keep their order.
    for (int t = 0; t < 4; ++t) {
        int last = -1;
        const std::string prefix = "out " + std::to_string(t) + ":";
        for (const auto& line : out) {
            if (line.rfind(prefix, 0) != 0) continue;
            const int i = std::stoi(line.substr(prefix.size()));
            EXPECT_EQ(i, last + 1);
            last = i;
        }
    }
}

}  // namespace
}  // namespace Foundation
