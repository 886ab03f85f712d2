#include "picker/Export/ExportFormat.h"

#include "Platform/Foundation/Bundle.h"

namespace {

std::optional<std::string> resourcePath(const char* name) {
    return Foundation::Bundle::main().pathForResource(std::string(kExportTemplateDirectory) + "/" + name, "");
}

}  // namespace

std::optional<ExportFormat> exportFormatFromOrdinal(int ordinal) {
    if (ordinal < 0 || ordinal > static_cast<int>(ExportFormat::pdf)) return std::nullopt;
    return static_cast<ExportFormat>(ordinal);
}

std::optional<std::string> templateName(ExportFormat format) {
    switch (format) {
        case ExportFormat::nscolorExtension:
            return resourcePath("NSColorExtension");
        case ExportFormat::uicolorExtension:
            return resourcePath("UIColorExtension");
        case ExportFormat::html:
        case ExportFormat::pdf:
            return resourcePath("html");
        case ExportFormat::nscolorCategory:
        case ExportFormat::uicolorCategory:
            break;
    }
    return std::nullopt;
}

CategoryTemplatePaths categoryTemplateNames(ExportFormat format) {
    switch (format) {
        case ExportFormat::nscolorCategory:
            return {resourcePath("NSColorCategory_m"), resourcePath("NSColorCategory_h")};
        case ExportFormat::uicolorCategory:
            return {resourcePath("UIColorCategory_m"), resourcePath("UIColorCategory_h")};
        default:
            return {};
    }
}
