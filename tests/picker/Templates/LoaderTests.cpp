#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Error.h"
#include "TemplateTestSupport.h"

namespace fs = std::filesystem;

namespace Templates::testing {
namespace {

template <class F>
std::string errorOf(F&& f) {
    try {
        f();
        return "no error";
    } catch (const TemplateDoesNotExist& e) {
        return e.description();
    } catch (const SuspiciousFileOperation& e) {
        return "suspicious: " + e.path().string();
    } catch (const Foundation::Error& e) {
        return e.domain + " " + std::to_string(e.code);
    }
}

class TemplateLoaders : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("VEXIL_HOME");
        root_ = fs::path(home ? home : fs::temp_directory_path().string()) / "loaders";
        fs::remove_all(root_);
        write("templates/a.html", "A {{ x }}");
        write("templates/sub/x.html", "sub");
        write("templates2/x", "outside");
        write("other/b.html", "B");
        write("other/a.html", "other A");
        write("secret.txt", "secret");
        write("templates/bad.html", std::string("\xff\xfe", 2));
        fs::create_directories(root_ / "templates/dir");
        previous_ = fs::current_path();
        fs::current_path(root_);
    }
    void TearDown() override { fs::current_path(previous_); }
    void write(const std::string& name, const std::string& text) {
        fs::create_directories((root_ / name).parent_path());
        std::ofstream(root_ / name, std::ios::binary) << text;
    }

    fs::path root_;
    fs::path previous_;
};

TEST_F(TemplateLoaders, EnvironmentWithoutLoader) {
    Environment environment;
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("a.html"); }),
              "Template named `a.html` does not exist. No loaders found");
    EXPECT_EQ(errorOf([&] {
                  environment.loadFirstTemplate({"a", "b"});
              }),
              "Template named `a, b` does not exist. No loaders found");
}

TEST_F(TemplateLoaders, DictionaryLoader) {
    auto loader =
        std::make_shared<DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{{"base", "Base {{ x }}"}});
    Environment environment(loader);
    auto t = environment.loadTemplate("base");
    EXPECT_EQ(t->name(), "base");
    EXPECT_EQ(environment.loadFirstTemplate({"x", "base"})->name(), "base");
    EXPECT_EQ(environment.renderTemplate("base", Dictionary{{"x", Value(1)}}), "Base 1");
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("x"); }),
              "Template named `x` does not exist in loader DictionaryLoader");
    try {
        environment.loadFirstTemplate({"x", "y"});
        FAIL();
    } catch (const TemplateDoesNotExist& e) {
        EXPECT_EQ(e.templateNames(), (std::vector<std::string>{"x", "y"}));
        EXPECT_EQ(e.loader(), loader);
    }
}

class FramedTemplate : public Template {
public:
    using Template::Template;
    std::string render(const std::optional<Dictionary>& dictionary) const override {
        return "<" + Template::render(dictionary) + ">";
    }
};

TEST_F(TemplateLoaders, LoadersAndStringsUseTheEnvironmentsTemplateClass) {
    auto loader =
        std::make_shared<DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{{"t", "{{ x }}"}});
    Environment environment(loader, {},
                            [](const std::string& text, const Environment& env,
                               const std::optional<std::string>& name) -> std::shared_ptr<Template> {
                                return std::make_shared<FramedTemplate>(text, env, name);
                            });
    EXPECT_EQ(environment.renderTemplate("t", Dictionary{{"x", Value(1)}}), "<1>");
    EXPECT_EQ(environment.renderTemplateString("{{ x }}!", Dictionary{{"x", Value(2)}}), "<2!>");
}

TEST_F(TemplateLoaders, FileSystemLoaderFindsAndRefuses) {
    auto loader = std::make_shared<FileSystemLoader>(std::vector<fs::path>{"templates/"});
    Environment environment(loader);
    EXPECT_EQ(environment.renderTemplate("a.html", Dictionary{{"x", Value(2)}}), "A 2");
    EXPECT_EQ(environment.loadTemplate("sub/x.html")->render(), "sub");
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("../secret.txt"); }), "suspicious: templates/../secret.txt");
    // Whole components: "templates2" is not inside "templates".
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("../templates2/x"); }), "suspicious: templates/../templates2/x");
    EXPECT_EQ(errorOf([&] { environment.loadTemplate((root_ / "secret.txt").string()); }),
              "suspicious: " + (root_ / "secret.txt").string());
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("nope.html"); }),
              "Template named `nope.html` does not exist in loader FileSystemLoader([templates/])");
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("bad.html"); }), "NSCocoaErrorDomain 261");
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("dir"); }), "NSCocoaErrorDomain 256");
}

TEST_F(TemplateLoaders, EarlierBasePathsWin) {
    auto loader = std::make_shared<FileSystemLoader>(std::vector<fs::path>{"templates", "other"});
    Environment environment(loader);
    EXPECT_EQ(environment.loadTemplate("b.html")->render(), "B");
    EXPECT_EQ(environment.loadFirstTemplate({"b.html", "a.html"})->render(), "A ");
    // A name that escapes is refused even though a later base path would not be asked.
    EXPECT_EQ(errorOf([&] { environment.loadTemplate("../other/b.html"); }), "suspicious: templates/../other/b.html");
}

TEST_F(TemplateLoaders, TemplatesFromFilesAndBundles) {
    EXPECT_EQ(Template::fromPath("templates/a.html")->render(Dictionary{{"x", Value(3)}}), "A 3");
    EXPECT_EQ(Template::fromURL("file://" + (root_ / "templates/a.html").string())->render(), "A ");
    EXPECT_EQ(errorOf([&] { Template::fromPath("missing.html"); }), "NSCocoaErrorDomain 260");

    auto& bundle = Foundation::Bundle::main();
    std::string previous = bundle.resourcePath();
    bundle.setResourcePath((root_ / "other").string());
    EXPECT_EQ(errorOf([&] { Template::fromBundle("nope"); }), "NSCocoaErrorDomain 4");
    EXPECT_EQ(Template::fromBundle("b.html")->render(), "B");
    auto bundleLoader = FileSystemLoader::fromBundles({&bundle});
    bundle.setResourcePath(previous);
    EXPECT_EQ(Environment(bundleLoader).renderTemplate("b.html"), "B");
}

}  // namespace
}  // namespace Templates::testing
