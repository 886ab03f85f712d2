#pragma once
// Shared by the benchmarks that time one of our components beside a reference
// doing the same work on the same data in the same run.
//
// Each benchmark iteration runs both sides, taking turns about which goes
// first, so both meet the same machine state. Our side is the benchmark's own
// time (manual time) and its items per second; the reference's rate and time
// per iteration (seconds) are counters, with the ratio of the two.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

class SideBySide {
public:
    explicit SideBySide(benchmark::State& state) : state_(state) {}

    // One iteration: only `ours` and `reference` are timed; anything else in
    // the loop body (fresh files, say) is not.
    template <class Ours, class Reference>
    void iteration(Ours&& ours, Reference&& reference) {
        double o = 0, r = 0;
        if (turn_++ % 2 == 0) {
            o = seconds(ours);
            r = seconds(reference);
        } else {
            r = seconds(reference);
            o = seconds(ours);
        }
        ours_ += o;
        reference_ += r;
        state_.SetIterationTime(o);
    }

    // One iteration whose sides time themselves (a child process reporting
    // its own time, say): each returns its seconds, negative on failure
    // (false is returned then). Still taking turns about which runs first.
    template <class Ours, class Reference>
    bool measuredIteration(Ours&& ours, Reference&& reference) {
        double o = 0, r = 0;
        if (turn_++ % 2 == 0) {
            o = ours();
            r = reference();
        } else {
            r = reference();
            o = ours();
        }
        if (o < 0 || r < 0) return false;
        ours_ += o;
        reference_ += r;
        state_.SetIterationTime(o);
        return true;
    }

    // Items each side handles per iteration. `referenceName` names the
    // reference in the counters. The ratio is our time over the reference's
    // (below 1: ours is faster) when `timeRatio`, else our speed over the
    // reference's (above 1: ours is faster).
    void report(std::int64_t itemsPerIteration, const std::string& referenceName, bool timeRatio) {
        const auto iterations = static_cast<double>(state_.iterations());
        if (iterations == 0 || ours_ <= 0 || reference_ <= 0) return;
        state_.SetItemsProcessed(state_.iterations() * itemsPerIteration);
        state_.counters[referenceName + "_items/s"] =
            benchmark::Counter(iterations * static_cast<double>(itemsPerIteration) / reference_);
        state_.counters[referenceName + "_time"] = benchmark::Counter(reference_ / iterations);  // seconds
        if (timeRatio)
            state_.counters["time_ratio"] = benchmark::Counter(ours_ / reference_);
        else
            state_.counters["speed_ratio"] = benchmark::Counter(reference_ / ours_);
    }

private:
    template <class F>
    static double seconds(F&& f) {
        const auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    benchmark::State& state_;
    double ours_ = 0, reference_ = 0;
    std::uint64_t turn_ = 0;
};

// Takes the benchmark library's flags, refuses any other argument, runs the
// registered benchmarks. `failed` is set by benchmarks whose two sides
// disagreed; the exit status is then 1.
inline int runBenchmarks(int argc, char** argv, const bool& failed) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        std::fprintf(stderr, "%s: unrecognized argument '%s' (only --benchmark_... flags are understood; see --help)\n",
                     argv[0], argv[1]);
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return failed ? 1 : 0;
}

}  // namespace bench
