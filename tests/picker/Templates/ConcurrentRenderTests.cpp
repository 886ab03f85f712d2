#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "TemplateTestSupport.h"

namespace Templates::testing {
namespace {

// Exports render on a background queue while other templates may render
// elsewhere: one template and environment shared by several threads.
TEST(TemplateConcurrency, SharedTemplateRendersOnSeveralThreads) {
    Environment environment(std::make_shared<DictionaryLoader>(std::vector<std::pair<std::string, std::string>>{
        {"row", "{{ c|uppercase }}{% if not forloop.last %},{% endif %}"}}));
    Template page("{% for c in colors where c != 'x' %}{% include 'row' %}{% endfor %}", environment);
    Dictionary context{{"colors", Value(Array{Value("red"), Value("x"), Value("blue")})}};

    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                // A new template of the same text each time goes through the shared lexing.
                results[t] = Template("{{ x|lowercase }}", environment).render(Dictionary{{"x", Value("A")}}) +
                             page.render(context);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& r : results) EXPECT_EQ(r, "aRED,BLUE");
}

// Renders of one template on several threads at once, each with its own
// colours, give each thread its own text: nothing of one render's context
// is left for another.
TEST(TemplateConcurrency, SharedTemplateRendersEachThreadsOwnContext) {
    Template page("{{ name|uppercase }}:{% for c in colors where c != 'x' %}{{ forloop.counter }}{{ c }}"
                  "{% for d in c %}{{ d }}{% endfor %}{% endfor %}");
    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            const std::string own = std::to_string(t);
            Dictionary context{{"name", Value("t" + own)},
                               {"colors", Value(Array{Value(own), Value("x"), Value(own + own)})}};
            std::string expected = "T" + own + ":1" + own + "2" + own + own;
            for (int i = 0; i < 200; ++i) {
                std::string out = page.render(context);
                if (out != expected) {
                    results[t] = out;
                    return;
                }
            }
            results[t] = expected;
        });
    }
    for (auto& thread : threads) thread.join();
    for (size_t t = 0; t < results.size(); ++t) {
        const std::string own = std::to_string(t);
        EXPECT_EQ(results[t], "T" + own + ":1" + own + "2" + own + own);
    }
}

}  // namespace
}  // namespace Templates::testing
