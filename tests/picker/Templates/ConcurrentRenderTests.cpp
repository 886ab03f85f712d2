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

}  // namespace
}  // namespace Templates::testing
