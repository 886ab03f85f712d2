#pragma once
// The folder export formats and the bundle templates each one renders.

#include <optional>
#include <string>

enum class ExportFormat : int {
    nscolorCategory = 0,
    nscolorExtension = 1,
    uicolorCategory = 2,
    uicolorExtension = 3,
    html = 4,
    pdf = 5,
};

// The format with the ordinal the export menu sends; nothing for any other number.
std::optional<ExportFormat> exportFormatFromOrdinal(int ordinal);

// Bundle resources live in "<resources>/templates/<name>" (no extension).
inline constexpr const char* kExportTemplateDirectory = "templates";

// The path of the one template of a single-file format ("NSColorExtension",
// "UIColorExtension", "html"; pdf shares "html"); nothing for the category
// formats and when the bundle lacks the file.
std::optional<std::string> templateName(ExportFormat format);

struct CategoryTemplatePaths {
    std::optional<std::string> implementation;  // "..._m"
    std::optional<std::string> header;          // "..._h"
};
// Both paths of a category format, each nothing when missing; both nothing
// for every other format.
CategoryTemplatePaths categoryTemplateNames(ExportFormat format);
