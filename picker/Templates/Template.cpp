#include "picker/Templates/Template.h"

#include <unicode/utf8.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <unordered_map>
#include <sstream>
#include <system_error>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Error.h"
#include "picker/Templates/Context.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Extension.h"
#include "picker/Templates/TokenParser.h"

namespace fs = std::filesystem;

namespace Templates {

// --- errors ------------------------------------------------------------------

namespace {

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += ", ";
        out += n;
    }
    return out;
}

}  // namespace

TemplateDoesNotExist::TemplateDoesNotExist(std::vector<std::string> templateNames, const Loader* loader)
    : templateNames_(std::move(templateNames)), loader_(loader ? loader->weak_from_this().lock() : nullptr) {
    description_ = "Template named `" + joinNames(templateNames_) + "` does not exist";
    description_ += loader ? " in loader " + loader->description() : ". No loaders found";
}

SuspiciousFileOperation::SuspiciousFileOperation(fs::path basePath, fs::path path)
    : basePath_(std::move(basePath)), path_(std::move(path)) {
    description_ = "Path `" + path_.string() + "` is located outside of base path `" + basePath_.string() + "`";
}

// --- Environment -------------------------------------------------------------

Environment::Environment(std::shared_ptr<Loader> loader, std::vector<std::shared_ptr<Extension>> extensions,
                         TemplateClass templateClass)
    : templateClass(std::move(templateClass)), extensions(std::move(extensions)), loader(std::move(loader)) {
    if (!this->templateClass) {
        this->templateClass = [](const std::string& text, const Environment& environment,
                                 const std::optional<std::string>& name) {
            return std::make_shared<Template>(text, environment, name);
        };
    }
    this->extensions.push_back(std::make_shared<DefaultExtension>());
}

std::shared_ptr<Template> Environment::loadTemplate(const std::string& name) const {
    if (!loader) throw TemplateDoesNotExist({name}, nullptr);
    return loader->loadTemplate(name, *this);
}

std::shared_ptr<Template> Environment::loadFirstTemplate(const std::vector<std::string>& names) const {
    if (!loader) throw TemplateDoesNotExist(names, nullptr);
    return loader->loadFirstTemplate(names, *this);
}

std::string Environment::renderTemplate(const std::string& name,
                                        const std::optional<Foundation::Dictionary>& dictionary) const {
    return loadTemplate(name)->render(dictionary);
}

std::string Environment::renderTemplateString(const std::string& templateString,
                                              const std::optional<Foundation::Dictionary>& dictionary) const {
    return templateClass(templateString, *this, std::nullopt)->render(dictionary);
}

// --- Template ----------------------------------------------------------------

namespace {

// Token lists are immutable, so templates made from the same text share one.
// Includes load their template on every use; this keeps that from lexing the
// same text again each time.
std::shared_ptr<const std::vector<Token>> lexOnce(const std::string& text) {
    constexpr size_t kMaxEntries = 256;
    constexpr size_t kMaxTextSize = 256 * 1024;
    if (text.size() > kMaxTextSize) return std::make_shared<const std::vector<Token>>(tokenize(text));
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<const std::vector<Token>>> cache;
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(text); it != cache.end()) return it->second;
    }
    auto tokens = std::make_shared<const std::vector<Token>>(tokenize(text));
    std::lock_guard lock(mutex);
    if (cache.size() >= kMaxEntries) cache.clear();
    cache.emplace(text, tokens);
    return tokens;
}

}  // namespace

// The nodes of one parse and the tables they were made with: each extension
// with its generation at the time.
struct Template::Parsed {
    Parsed(std::vector<std::pair<const Extension*, std::uint64_t>> tables, NodeList nodes)
        : tables(std::move(tables)), nodes(std::move(nodes)), prepared(this->nodes) {}
    std::vector<std::pair<const Extension*, std::uint64_t>> tables;
    NodeList nodes;
    PreparedNodes prepared;
};

// Shared by a template and its copies, and by the threads rendering them.
struct Template::ParseCache {
    // The parse renders use, read without a lock. Every parse published here
    // stays in `kept` while the cache lives, so a render that read the
    // pointer may go on using it after another render replaced it.
    std::atomic<const Parsed*> parsed{nullptr};
    std::mutex mutex;  // guards `kept`
    std::vector<std::shared_ptr<const Parsed>> kept;
    // The length of the last output, reserved up front for the next render
    // so the text is not copied as it grows.
    std::atomic<size_t> lastLength{0};
    // The room of an earlier render's dictionary stack; a render takes it
    // and gives it back, and one that finds it taken makes its own.
    std::atomic<std::vector<Foundation::Dictionary>*> spareStack{nullptr};

    ~ParseCache() { delete spareStack.load(std::memory_order_acquire); }
};

namespace {

// Parses published in one cache: the tables change only when a caller
// registers tags or filters, so this is reached only by one that keeps
// doing so; its renders then parse every time.
constexpr size_t kMaxKeptParses = 16;

std::vector<std::pair<const Extension*, std::uint64_t>> tablesOf(const Environment& environment) {
    std::vector<std::pair<const Extension*, std::uint64_t>> tables;
    tables.reserve(environment.extensions.size());
    for (const auto& extension : environment.extensions) tables.emplace_back(extension.get(), extension->generation());
    return tables;
}

bool sameTables(const std::vector<std::pair<const Extension*, std::uint64_t>>& tables, const Environment& environment) {
    if (tables.size() != environment.extensions.size()) return false;
    for (size_t i = 0; i < tables.size(); ++i) {
        const auto& extension = environment.extensions[i];
        if (tables[i].first != extension.get() || tables[i].second != extension->generation()) return false;
    }
    return true;
}

// Takes the spare stack room of a cache for one render and gives it back
// (or frees it, when another render gave its own back first).
class SpareStack {
public:
    explicit SpareStack(std::atomic<std::vector<Foundation::Dictionary>*>& slot)
        : slot_(slot), room_(slot.exchange(nullptr, std::memory_order_acquire)) {}
    ~SpareStack() {
        if (!room_) return;
        std::vector<Foundation::Dictionary>* expected = nullptr;
        if (!slot_.compare_exchange_strong(expected, room_, std::memory_order_release, std::memory_order_relaxed))
            delete room_;
    }
    SpareStack(const SpareStack&) = delete;
    SpareStack& operator=(const SpareStack&) = delete;

    std::vector<Foundation::Dictionary> take() { return room_ ? std::move(*room_) : std::vector<Foundation::Dictionary>(); }
    void giveBack(std::vector<Foundation::Dictionary> room) {
        if (!room_) room_ = new std::vector<Foundation::Dictionary>();
        *room_ = std::move(room);
    }

private:
    std::atomic<std::vector<Foundation::Dictionary>*>& slot_;
    std::vector<Foundation::Dictionary>* room_;
};

}  // namespace

Template::Template(const std::string& templateString, std::optional<Environment> environment,
                   std::optional<std::string> name)
    : environment_(environment ? std::move(*environment) : Environment()),
      tokens_(lexOnce(templateString)),
      name_(std::move(name)),
      parseCache_(std::make_shared<ParseCache>()) {}

// Parsing is a function of the tokens and the tables of the built-in tags and
// of the filters, so its nodes (which rendering never changes) serve every
// later render until a table changes. A parse that used a caller's tag is not
// kept: its parser may do more than read the tokens. A failed parse throws
// again on every render. `owner` keeps a parse that was not published alive.
const Template::Parsed* Template::parse(std::shared_ptr<const Parsed>& owner) const {
    auto& cache = *parseCache_;
    if (const Parsed* parsed = cache.parsed.load(std::memory_order_acquire);
        parsed && sameTables(parsed->tables, environment_))
        return parsed;
    auto tables = tablesOf(environment_);
    TokenParser parser(tokens_, environment_);
    owner = std::make_shared<const Parsed>(std::move(tables), parser.parse());
    if (parser.onlyBuiltInTags() && sameTables(owner->tables, environment_)) {
        std::lock_guard lock(cache.mutex);
        if (cache.kept.size() < kMaxKeptParses) {
            cache.kept.push_back(owner);
            cache.parsed.store(owner.get(), std::memory_order_release);
        }
    }
    return owner.get();
}

std::string Template::render(const std::optional<Foundation::Dictionary>& dictionary) const {
    auto& cache = *parseCache_;
    SpareStack spare(cache.spareStack);
    // The caller's dictionary is read where it is, not copied.
    Context context(dictionary ? &*dictionary : nullptr, environment_, Context::Borrowing{}, spare.take());
    std::shared_ptr<const Parsed> owner;
    const Parsed* parsed = parse(owner);
    std::string out;
    out.reserve(cache.lastLength.load(std::memory_order_relaxed));
    {
        Output output(out);
        parsed->prepared.renderTo(context, output);
    }
    cache.lastLength.store(out.size(), std::memory_order_relaxed);
    spare.giveBack(context.takeStorage());
    // A much shorter text than last time gives back the room it did not use.
    if (out.capacity() > 2 * out.size() + 4096) out.shrink_to_fit();
    return out;
}

namespace {

Foundation::Error fileError(long code, const fs::path& path, const std::string& reason) {
    Foundation::Error error;
    error.domain = "NSCocoaErrorDomain";
    error.code = code;
    error.description = "The file “" + path.filename().string() + "” couldn’t be opened" + reason + ".";
    error.userInfo.set("NSFilePath", Foundation::Value(path.string()));
    return error;
}

bool isValidUTF8(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

}  // namespace

std::string readTextFile(const fs::path& path) {
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) throw fileError(260, path, " because there is no such file");
    if (fs::is_directory(status)) throw fileError(256, path, "");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw fileError(257, path, " because you don’t have permission to view it");
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) throw fileError(256, path, "");
    std::string text = std::move(buffer).str();
    if (text.size() > static_cast<size_t>(INT32_MAX) || !isValidUTF8(text))
        throw fileError(261, path, " using text encoding Unicode (UTF-8)");
    return text;
}

std::shared_ptr<Template> Template::fromURL(const std::string& url) {
    std::string path = url;
    if (path.rfind("file://", 0) == 0) {
        path = path.substr(7);
        std::string decoded;
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '%' && i + 2 < path.size() && std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
                decoded += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += path[i];
            }
        }
        path = decoded;
    }
    return std::make_shared<Template>(readTextFile(path));
}

std::shared_ptr<Template> Template::fromPath(const fs::path& path, std::optional<Environment> environment,
                                             std::optional<std::string> name) {
    return std::make_shared<Template>(readTextFile(path), std::move(environment), std::move(name));
}

std::shared_ptr<Template> Template::fromBundle(const std::string& name, const Foundation::Bundle* bundle) {
    const Foundation::Bundle& b = bundle ? *bundle : Foundation::Bundle::main();
    auto path = b.pathForResource(name, "");
    if (!path) {
        Foundation::Error error;
        error.domain = "NSCocoaErrorDomain";
        error.code = 4;
        error.description = "The file doesn’t exist.";
        throw error;
    }
    return std::make_shared<Template>(readTextFile(*path));
}

// --- loaders -----------------------------------------------------------------

std::shared_ptr<Template> Loader::loadFirstTemplate(const std::vector<std::string>& names,
                                                    const Environment& environment) const {
    for (const auto& name : names) {
        try {
            return loadTemplate(name, environment);
        } catch (const TemplateDoesNotExist&) {}
    }
    throw TemplateDoesNotExist(names, this);
}

std::shared_ptr<FileSystemLoader> FileSystemLoader::fromBundles(const std::vector<const Foundation::Bundle*>& bundles) {
    std::vector<fs::path> paths;
    for (const auto* bundle : bundles) paths.emplace_back(bundle->resourcePath());
    return std::make_shared<FileSystemLoader>(std::move(paths));
}

std::string FileSystemLoader::description() const {
    std::string out = "FileSystemLoader([";
    for (size_t i = 0; i < paths_.size(); ++i) {
        if (i) out += ", ";
        out += paths_[i].string();
    }
    return out + "])";
}

namespace {

// Components of an absolute, normalised path, without the empty one a
// trailing separator leaves.
std::vector<fs::path> pathComponents(const fs::path& path) {
    std::vector<fs::path> out;
    for (const auto& part : fs::absolute(path).lexically_normal()) {
        if (!part.empty()) out.push_back(part);
    }
    return out;
}

}  // namespace

fs::path FileSystemLoader::containedPath(const fs::path& base, const std::string& name) const {
    fs::path joined = base / name;
    // Whole components are compared: "templates" does not contain "templates2/x".
    auto baseParts = pathComponents(base);
    auto joinedParts = pathComponents(joined);
    bool inside =
        joinedParts.size() >= baseParts.size() && std::equal(baseParts.begin(), baseParts.end(), joinedParts.begin());
    if (!inside) throw SuspiciousFileOperation(base, joined);
    return joined;
}

std::shared_ptr<Template> FileSystemLoader::loadTemplate(const std::string& name,
                                                         const Environment& environment) const {
    return loadFirstTemplate({name}, environment);
}

std::shared_ptr<Template> FileSystemLoader::loadFirstTemplate(const std::vector<std::string>& names,
                                                              const Environment& environment) const {
    for (const auto& base : paths_) {
        for (const auto& name : names) {
            fs::path path = containedPath(base, name);
            std::error_code ec;
            if (!fs::exists(path, ec)) continue;
            return environment.templateClass(readTextFile(path), environment, name);
        }
    }
    throw TemplateDoesNotExist(names, this);
}

DictionaryLoader::DictionaryLoader(std::vector<std::pair<std::string, std::string>> templates)
    : templates_(std::move(templates)) {}

const std::string* DictionaryLoader::find(const std::string& name) const {
    for (const auto& [n, text] : templates_)
        if (n == name) return &text;
    return nullptr;
}

std::shared_ptr<Template> DictionaryLoader::loadTemplate(const std::string& name,
                                                         const Environment& environment) const {
    if (const auto* text = find(name)) return environment.templateClass(*text, environment, name);
    throw TemplateDoesNotExist({name}, this);
}

std::shared_ptr<Template> DictionaryLoader::loadFirstTemplate(const std::vector<std::string>& names,
                                                              const Environment& environment) const {
    for (const auto& name : names)
        if (const auto* text = find(name)) return environment.templateClass(*text, environment, name);
    throw TemplateDoesNotExist(names, this);
}

}  // namespace Templates
