#pragma once
// The seam for the system's own diagnostics: plain standard-output lines
// ("Update menu") and system-log lines ("[VXCrashReporter] ..."). Every
// diagnostic the system prints goes through these, so tests can capture and
// compare the exact lines.

#include <memory>
#include <string>
#include <vector>

namespace Foundation {

// Writes `line` and a newline to standard output (flushed).
void printLine(const std::string& line);
// Writes `line` to the system log; here: a line on standard error, as given.
void systemLog(const std::string& line);

// While alive, records every line of both outputs, from every thread, in order.
// By default the captured lines are not written out; `echo` writes them too.
// Captures may nest or overlap: each one alive records every line.
class DiagnosticsCapture {
public:
    explicit DiagnosticsCapture(bool echo = false);
    ~DiagnosticsCapture();
    DiagnosticsCapture(const DiagnosticsCapture&) = delete;
    DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

    std::vector<std::string> stdoutLines() const;
    std::vector<std::string> systemLogLines() const;
    void clear();

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace Foundation
