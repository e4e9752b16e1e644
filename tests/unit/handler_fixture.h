// A fixture for handler tests through the module: a clean pending list, host
// and agent per test, tokens that outlive the test's requests, and the
// messages the module sent, decoded.
#ifndef ZOL_HANDLER_FIXTURE_H
#define ZOL_HANDLER_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fake_agent.h"
#include "test_host.h"

namespace zol_test {

using Bytes = std::vector<uint8_t>;

inline Bytes &put32(Bytes &b, size_t off, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i) {
        b.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    return b;
}

inline Bytes &put_text(Bytes &b, size_t off, const std::string &s)
{
    std::copy(s.begin(), s.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
    return b;
}

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        zol_reqlist_init();
        agent = FakeAgent::get();
        ASSERT_NE(agent, nullptr);
        agent->clear();
    }

    RIL_Token token(int32_t id) { return tokens_.emplace_back(id).get(); }

    using Sent = std::vector<std::pair<uint16_t, Bytes>>;

    // Ids and payloads of the messages sent since the last clear.
    Sent sent()
    {
        Sent out;
        for (const Bytes &f : agent->sent_frames()) {
            out.emplace_back(static_cast<uint16_t>(f.at(5) << 8 | f.at(6)), Bytes(f.begin() + 11, f.end()));
        }
        return out;
    }

    // The one message a request sent.
    std::pair<uint16_t, Bytes> sent_one()
    {
        const Sent s = sent();
        EXPECT_EQ(s.size(), 1u);
        return s.empty() ? std::pair<uint16_t, Bytes>{} : s[0];
    }

    // The pending event a token's request waits for; 0 when it waits for none.
    uint32_t waits_for(RIL_Token t)
    {
        zol_reqlist_entry_type e;
        return zol_reqlist_query(t, &e) == 0 ? e.pending_event_id : 0;
    }

    // Waits for the request's completion and checks there is exactly one.
    Completion completion(RIL_Token t)
    {
        EXPECT_TRUE(host.wait_until([&] { return !host.completions_for(t).empty(); }));
        auto c = host.completions_for(t);
        EXPECT_EQ(c.size(), 1u);
        return c.empty() ? Completion{} : c[0];
    }

    // A request the module must answer with code 2 at once, sending nothing
    // and remembering nothing.
    void expect_refused(int request, const void *data, size_t len)
    {
        agent->clear();
        RIL_Token t = token(request);
        radio()->onRequest(request, const_cast<void *>(data), len, t);
        EXPECT_EQ(completion(t).error, RIL_E_GENERIC_FAILURE) << request << "/" << len;
        EXPECT_TRUE(sent().empty()) << request;
        EXPECT_EQ(waits_for(t), 0u);
    }

    void deliver(uint16_t id, const Bytes &payload) { ASSERT_EQ(agent->deliver(frame(id, payload)), 0); }

    TestHost &host = TestHost::instance();
    FakeAgent *agent = nullptr;

private:
    std::deque<Token> tokens_;
};

} // namespace zol_test

#endif // ZOL_HANDLER_FIXTURE_H
