#pragma once
// Renders the colours of one library folder through the export templates of
// the bundle into the text of a source file or an HTML page. Writes no file,
// shows nothing: each failure is printed as one line and handed back.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"
#include "picker/Export/ExportFormat.h"
#include "picker/Export/RYColor.h"

class ZNLColorItem;
class ZNLColorFolder;

// Domain of the errors of a failed render; the code tells the kind.
inline constexpr const char* kPaletteExportErrorDomain = "RYPaletteExporter";
enum PaletteExportErrorCode : long {
    kExportTemplateMissing = 1,   // the bundle lacks the format's template
    kExportTemplateSyntax = 2,    // TemplateSyntaxError (its description)
    kExportTemplateNotFound = 3,  // an include or extends found nothing
    kExportTemplateFailed = 4,    // any other failure of the engine
};
// Files that cannot be read come back as the reader's NSCocoaErrorDomain error.

class RYPaletteExporter {
public:
    using Items = std::vector<std::shared_ptr<ZNLColorItem>>;

    // What a folder exports: its colours that are not deleted, in the order
    // the store yields them (not sorted by `order`). Throws the store's error.
    static Items exportedItems(const ZNLColorFolder& folder);

    struct Category {
        std::string header;
        std::string implementation;
        friend bool operator==(const Category&, const Category&) = default;
    };

    // The single template of `format` for the items, in the given order
    // ("paletteName" is the folder's name). Nothing for the category formats;
    // nothing, with the error, when the template is missing or fails.
    static std::optional<std::string> renderFolder(const Items& items, ExportFormat format,
                                                   const ZNLColorFolder& folder, Foundation::Error* error = nullptr);
    // The header and implementation of a category format, both or neither.
    static std::optional<Category> renderCategory(const Items& items, ExportFormat format, const ZNLColorFolder& folder,
                                                  Foundation::Error* error = nullptr);
    // Colours prepared by the caller; touches neither the store nor the
    // interface, so it may run on any thread.
    static std::optional<std::string> renderColors(std::vector<RYColor> colors, ExportFormat format,
                                                   const std::string& paletteName, Foundation::Error* error = nullptr);

    // The two context entries, "colors" and "paletteName", as the format's
    // templates receive them: identifiers made unique; for the HTML page
    // every text escaped for HTML; for source code, names with line breaks
    // and other control characters made spaces, so a name cannot end a
    // comment line.
    static Foundation::Dictionary makeContext(std::vector<RYColor> colors, const std::string& paletteName,
                                              ExportFormat format);

    // "<resources>/templates", where include and extends find templates.
    static std::string templateDirectory();
};

// "&", "<", ">", "\"" and "'" as HTML character references.
std::string htmlEscaped(std::string_view text);
// Control characters (and U+0085, U+2028, U+2029) replaced by spaces.
std::string singleLineText(std::string_view text);
