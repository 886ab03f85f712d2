#include "picker/Views/Controls/ThemeManager.h"

namespace Vexil::Views {

Theme& ThemeManager::systemTheme() {
    static Theme theme;
    return theme;
}

}  // namespace Vexil::Views
