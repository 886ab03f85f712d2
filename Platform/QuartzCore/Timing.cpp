#include "Platform/QuartzCore/Timing.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace QuartzCore {

std::shared_ptr<CAMediaTimingFunction> CAMediaTimingFunction::functionWithName(const std::string& name) {
    if (name == kCAMediaTimingFunctionEaseIn) return std::make_shared<CAMediaTimingFunction>(0.42, 0, 1, 1);
    if (name == kCAMediaTimingFunctionEaseOut) return std::make_shared<CAMediaTimingFunction>(0, 0, 0.58, 1);
    if (name == kCAMediaTimingFunctionEaseInEaseOut) return std::make_shared<CAMediaTimingFunction>(0.42, 0, 0.58, 1);
    if (name == kCAMediaTimingFunctionDefault) return std::make_shared<CAMediaTimingFunction>(0.25, 0.1, 0.25, 1);
    return std::make_shared<CAMediaTimingFunction>(0, 0, 1, 1);
}

namespace {
double bezier(double t, double p1, double p2) {
    double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}
}  // namespace

double CAMediaTimingFunction::valueAt(double x) const {
    if (!(x > 0)) return 0;
    if (x >= 1) return 1;
    // x(t) is monotonic for control x in [0, 1]: bisection is exact enough.
    double lo = 0, hi = 1, t = x;
    for (int i = 0; i < 60; ++i) {
        t = (lo + hi) / 2;
        double v = bezier(t, c1x_, c2x_);
        if (v < x)
            lo = t;
        else
            hi = t;
    }
    return std::clamp(bezier(t, c1y_, c2y_), -1.0, 2.0);
}

namespace {
std::atomic<int> g_active{0};
}

int Animator::activeCount() { return g_active.load(); }
void Animator::adjustActive(int delta) { g_active += delta; }

struct Animator::Run {
    double start = 0, duration = 0;
    std::shared_ptr<CAMediaTimingFunction> timing;
    Step step;
    Done done;
    std::shared_ptr<Foundation::Timer> ticker;
    bool finished = false;

    void finish(bool completed) {
        if (finished) return;
        finished = true;
        adjustActive(-1);
        if (ticker) ticker->invalidate();
        ticker.reset();
        if (completed && step) step(1.0);
        step = nullptr;
        if (auto d = std::move(done)) {
            done = nullptr;
            if (completed)
                d(true);
            else
                Foundation::DispatchQueue::main()->async([d] { d(false); });
        }
    }
    double progress() const {
        double f = duration > 0 ? (mediaTime() - start) / duration : 1.0;
        f = std::clamp(f, 0.0, 1.0);
        return timing ? timing->valueAt(f) : f;
    }
};

std::shared_ptr<Animator::Run> Animator::start(double duration, std::shared_ptr<CAMediaTimingFunction> timing,
                                               Step step, Done done) {
    auto run = std::make_shared<Run>();
    run->start = mediaTime();
    run->duration = std::max(0.0, duration);
    run->timing = std::move(timing);
    run->step = std::move(step);
    run->done = std::move(done);
    adjustActive(1);
    std::weak_ptr<Run> weak = run;
    if (run->duration > 0) {
        run->ticker =
            Foundation::Timer::scheduled(1.0 / 60, true,
                                         [weak](Foundation::Timer&) {
                                             auto r = weak.lock();
                                             if (r && !r->finished && r->step) r->step(r->progress());
                                         },
                                         {Foundation::RunLoopMode::Default, Foundation::RunLoopMode::EventTracking});
    }
    // The end is its own task at exactly start + duration; it holds the run.
    Foundation::DispatchQueue::main()->after(run->duration, [run] { run->finish(true); });
    return run;
}

void Animator::stop(const std::shared_ptr<Run>& run) {
    if (run) run->finish(false);
}

bool Animator::isRunning(const std::shared_ptr<Run>& run) { return run && !run->finished; }

}  // namespace QuartzCore
