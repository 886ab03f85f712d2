#pragma once
// The system theme's dark flag. Looks that depend on the theme read it each
// time they are applied; the shell (or a test) sets it.
namespace Vexil::Views {

struct Theme {
    bool isDark = false;
};

class ThemeManager {
public:
    // The one system theme of the process (main thread only).
    static Theme& systemTheme();
};

}  // namespace Vexil::Views
