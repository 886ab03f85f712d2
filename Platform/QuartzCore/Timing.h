#pragma once
// Timing functions and the clock-driven animator every animation of the
// interface runs on. Time is Foundation::clock().uptime(): manual in tests, so
// an animation reaches its end value exactly when the clock reaches its end.

#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Dispatch.h"

namespace QuartzCore {

inline const std::string kCAMediaTimingFunctionLinear = "linear";
inline const std::string kCAMediaTimingFunctionEaseIn = "easeIn";
inline const std::string kCAMediaTimingFunctionEaseOut = "easeOut";
inline const std::string kCAMediaTimingFunctionEaseInEaseOut = "easeInEaseOut";
inline const std::string kCAMediaTimingFunctionDefault = "default";

// A cubic Bezier from (0, 0) to (1, 1) through two control points.
class CAMediaTimingFunction {
public:
    CAMediaTimingFunction(double c1x, double c1y, double c2x, double c2y)
        : c1x_(c1x), c1y_(c1y), c2x_(c2x), c2y_(c2y) {}
    // An unknown name gives the linear function.
    static std::shared_ptr<CAMediaTimingFunction> functionWithName(const std::string& name);
    // Progress for a fraction of time; 0 and 1 map exactly to 0 and 1.
    double valueAt(double fraction) const;
    bool operator==(const CAMediaTimingFunction&) const = default;

private:
    double c1x_, c1y_, c2x_, c2y_;
};

// Seconds on the project's clock.
inline double mediaTime() { return Foundation::clock().uptime(); }

// Drives one value from 0 to 1 over `duration` on the main run loop, in the
// default and event-tracking modes: `step` gets the timed progress on every
// frame (1/60 s) and exactly 1 at the end; `done` runs once, on the main
// queue, with true at the end or false when stopped early.
class Animator {
public:
    using Step = std::function<void(double progress)>;
    using Done = std::function<void(bool finished)>;
    struct Run;

    static std::shared_ptr<Run> start(double duration, std::shared_ptr<CAMediaTimingFunction> timing, Step step,
                                      Done done = nullptr);
    // Stops a run that has not finished: `done(false)` once, no further steps.
    static void stop(const std::shared_ptr<Run>& run);
    static bool isRunning(const std::shared_ptr<Run>& run);
    // Animator runs and layer animations in flight (a display redraws while > 0).
    static int activeCount();
    static void adjustActive(int delta);
};

}  // namespace QuartzCore
