// The soak's request mix and its verdict; the run itself is the soak test.
#include <gtest/gtest.h>

#include "requests.h"
#include "ril.h"
#include "soak.h"
#include "words.h"

namespace zol_host {
namespace {

// A line that does not build would silently drop out of the mix.
TEST(Soak, EveryRequestOfTheMixBuilds)
{
    for (const SoakRequest &r : soak_requests()) {
        SCOPED_TRACE(r.line);
        std::string error;
        const auto words = split_words(r.line, error);
        ASSERT_TRUE(words.has_value()) << error;
        const RequestCommand *command = find_request_command((*words)[0].text);
        ASSERT_NE(command, nullptr);
        Outgoing out;
        EXPECT_EQ(prepare_request(*command, std::vector<Word>(words->begin() + 1, words->end()), out),
                  "");
        EXPECT_GT(r.weight, 0);
        EXPECT_TRUE(r.awaited == 0 || (r.awaited > 30000 && r.awaited < 30200));
    }
}

TEST(Soak, ViolationsNameWhatBroke)
{
    auto figures = [] {
        SoakFigures f;
        f.tokens.issued = 10;
        f.tokens.completed = 10;
        return f;
    };
    const struct {
        void (*change)(SoakFigures &);
        std::vector<std::string> violations;
    } cases[] = {
        {[](SoakFigures &) {}, {}},
        {[](SoakFigures &f) { f.made_up = 2, f.restarts = 1; }, {}},
        {[](SoakFigures &f) { f.made_up = 2; },
         {"the stack drained everything it owed, yet 2 requests were still pending"}},
        {[](SoakFigures &f) {
             f.tokens.completed = 9;
             f.tokens.open = {{4, RIL_REQUEST_DIAL}};
         },
         {"1 of 10 requests never completed", "left pending: RIL_REQUEST_DIAL #4"}},
        {[](SoakFigures &f) { f.host_errors = {"RIL_REQUEST_HANGUP #3 completed twice"}; },
         {"host error: RIL_REQUEST_HANGUP #3 completed twice"}},
        {[](SoakFigures &f) { f.unexpected_exits = 1, f.made_up = 1; },
         {"the stack exited 1 times by itself"}},
        {[](SoakFigures &f) { f.stack_exit_status = 1, f.stuck_threads = 2, f.probes_failed = 3; },
         {"the stack ended with status 1", "2 request threads stuck in the module",
          "3 requests after the drain did not succeed"}},
    };
    for (const auto &c : cases) {
        SoakFigures f = figures();
        c.change(f);
        EXPECT_EQ(soak_violations(f), c.violations) << (&c - cases);
    }
}

} // namespace
} // namespace zol_host
