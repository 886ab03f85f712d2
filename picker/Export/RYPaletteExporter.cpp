#include "picker/Export/RYPaletteExporter.h"

#include <exception>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Templates/Templates.h"

namespace {

bool isHTML(ExportFormat format) { return format == ExportFormat::html || format == ExportFormat::pdf; }

std::vector<RYColor> records(const RYPaletteExporter::Items& items) {
    std::vector<RYColor> colors;
    colors.reserve(items.size());
    for (const auto& item : items)
        if (item) colors.push_back(RYColor::fromColorItem(*item));
    return colors;
}

Templates::Environment makeEnvironment() {
    auto loader = std::make_shared<Templates::FileSystemLoader>(
        std::vector<std::filesystem::path>{RYPaletteExporter::templateDirectory()});
    return Templates::Environment(loader);
}

Foundation::Error missingTemplate(const std::string& what) {
    return Foundation::makeError(kPaletteExportErrorDomain, kExportTemplateMissing,
                                 "The export template " + what + " is missing from the application bundle.");
}

// Runs `body`; any failure of the engine or of reading a template file is
// printed as its one line and handed back.
template <class Body>
auto guarded(Foundation::Error* error, Body&& body) -> std::optional<decltype(body())> {
    Foundation::Error failure;
    try {
        return body();
    } catch (const Templates::TemplateSyntaxError& e) {
        failure = Foundation::makeError(kPaletteExportErrorDomain, kExportTemplateSyntax, e.description());
    } catch (const Templates::TemplateDoesNotExist& e) {
        failure = Foundation::makeError(kPaletteExportErrorDomain, kExportTemplateNotFound, e.description());
    } catch (const Foundation::Error& e) {
        failure = e;
    } catch (const std::exception& e) {
        failure = Foundation::makeError(kPaletteExportErrorDomain, kExportTemplateFailed, e.what());
    }
    Foundation::printLine(failure.description);
    Foundation::reportError(error, std::move(failure));
    return std::nullopt;
}

std::string render(const std::string& path, const Templates::Environment& environment,
                   const Foundation::Dictionary& context) {
    const std::string text = Templates::readTextFile(path);
    return environment.templateClass(text, environment, std::nullopt)->render(context);
}

std::optional<std::string> renderSingle(std::vector<RYColor> colors, ExportFormat format,
                                        const std::string& paletteName, Foundation::Error* error) {
    const auto context = RYPaletteExporter::makeContext(std::move(colors), paletteName, format);
    const auto path = templateName(format);
    if (!path) {
        const bool category = format == ExportFormat::nscolorCategory || format == ExportFormat::uicolorCategory;
        if (!category) Foundation::reportError(error, missingTemplate(isHTML(format) ? "\"html\"" : "of the format"));
        return std::nullopt;
    }
    const auto environment = makeEnvironment();
    return guarded(error, [&] { return render(*path, environment, context); });
}

}  // namespace

RYPaletteExporter::Items RYPaletteExporter::exportedItems(const ZNLColorFolder& folder) {
    return folder.objects().filter("isDeleted == false").objects();
}

std::string RYPaletteExporter::templateDirectory() {
    return Foundation::Bundle::main().resourcePath() + "/" + kExportTemplateDirectory + "/";
}

std::optional<std::string> RYPaletteExporter::renderFolder(const Items& items, ExportFormat format,
                                                           const ZNLColorFolder& folder, Foundation::Error* error) {
    return renderSingle(records(items), format, folder.folderName(), error);
}

std::optional<RYPaletteExporter::Category> RYPaletteExporter::renderCategory(const Items& items, ExportFormat format,
                                                                             const ZNLColorFolder& folder,
                                                                             Foundation::Error* error) {
    const auto context = makeContext(records(items), folder.folderName(), format);
    const auto paths = categoryTemplateNames(format);
    if (!paths.implementation || !paths.header) {
        if (format == ExportFormat::nscolorCategory || format == ExportFormat::uicolorCategory)
            Foundation::reportError(error, missingTemplate("of the category"));
        return std::nullopt;
    }
    const auto environment = makeEnvironment();
    return guarded(error, [&] {
        const std::string headerText = Templates::readTextFile(*paths.header);
        const std::string implementationText = Templates::readTextFile(*paths.implementation);
        Category out;
        out.header = environment.templateClass(headerText, environment, std::nullopt)->render(context);
        out.implementation = environment.templateClass(implementationText, environment, std::nullopt)->render(context);
        return out;
    });
}

std::optional<std::string> RYPaletteExporter::renderColors(std::vector<RYColor> colors, ExportFormat format,
                                                           const std::string& paletteName, Foundation::Error* error) {
    return renderSingle(std::move(colors), format, paletteName, error);
}

Foundation::Dictionary RYPaletteExporter::makeContext(std::vector<RYColor> colors, const std::string& paletteName,
                                                      ExportFormat format) {
    makeFlatNamesUnique(colors);
    const bool html = isHTML(format);
    Foundation::Array list;
    list.reserve(colors.size());
    for (auto& c : colors) {
        if (html) {
            for (std::string* field : {&c.name, &c.red, &c.green, &c.blue, &c.alpha, &c.flatName, &c.hex})
                *field = htmlEscaped(*field);
        } else {
            c.name = singleLineText(c.name);
        }
        list.push_back(templateValue(std::move(c)));
    }
    return Foundation::Dictionary{
        {"colors", Foundation::Value(std::move(list))},
        {"paletteName", Foundation::Value(html ? htmlEscaped(paletteName) : singleLineText(paletteName))},
    };
}

std::string htmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string singleLineText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += ' ';
        } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            out += ' ';  // U+0085
            ++i;
        } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xa8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
            out += ' ';  // U+2028, U+2029
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
