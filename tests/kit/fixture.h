// The fixture of the in-process tests: the module brought up once for the whole
// program (main.cpp), and per test a fresh pending list, host and agent, tokens
// that outlive the test's requests, and the frames the module sent, read back.
#ifndef ZOL_KIT_FIXTURE_H
#define ZOL_KIT_FIXTURE_H

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "agent.h"
#include "host.h"
#include "payloads.h"
#include "reference_zol.h"

namespace zol_kit {

// The radio functions RIL_Init returned to the program's host.
const RIL_RadioFunctions *radio();

// Points a dispatch row at another handler for the life of the object. Only
// while the row's events are not being processed.
class ScopedHandler {
public:
    ScopedHandler(int32_t event_id, zol_handler_type handler)
    {
        if (zol_hash_table_lookup(event_id, &row_) == 0) {
            saved_ = row_->handler;
            row_->handler = handler;
        }
    }
    ~ScopedHandler()
    {
        if (row_ != nullptr) {
            row_->handler = saved_;
        }
    }
    ScopedHandler(const ScopedHandler &) = delete;
    ScopedHandler &operator=(const ScopedHandler &) = delete;

private:
    zol_dispatch_table_entry_type *row_ = nullptr;
    zol_handler_type saved_ = nullptr;
};

// While one lives, the allocations of its thread through malloc are counted,
// and the one numbered fail_at (from 0) fails; freed() counts the blocks
// allocated meanwhile that were given back, on any thread. For programs
// linked with kit/failing_malloc.cpp and --wrap=malloc,--wrap=calloc,--wrap=free.
class AllocationWatch {
public:
    explicit AllocationWatch(int fail_at = -1);
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch &) = delete;
    AllocationWatch &operator=(const AllocationWatch &) = delete;
    int allocated() const { return allocated_; }
    int freed() const;

    int fail_at_;
    int allocated_ = 0;
};

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.keep(true);
        host.reset();
        zol_reqlist_init();
        agent::reset();
    }

    RIL_Token token(int32_t id) { return tokens_.emplace_back(id).get(); }

    // A host request through onRequest; no data when `data` is empty.
    void request(int number, const Bytes &data, RIL_Token t)
    {
        radio()->onRequest(number, data.empty() ? nullptr : const_cast<uint8_t *>(data.data()),
                           data.size(), t);
    }
    // The same, for a handler the dispatch table has no row for.
    static void invoke(zol_handler_type handler, int number, const Bytes &data, RIL_Token t)
    {
        zol_request_params_type p = {number,
                                     data.empty() ? nullptr : const_cast<uint8_t *>(data.data()),
                                     static_cast<uint32_t>(data.size()), t};
        zol_request_return_type r{};
        handler(&p, &r);
    }

    std::vector<Sent> sent()
    {
        std::vector<Sent> out;
        for (const Bytes &f : agent::frames()) {
            out.push_back(read_frame(f));
        }
        return out;
    }
    // The one message a request sent.
    Sent sent_one()
    {
        const auto s = sent();
        EXPECT_EQ(s.size(), 1u);
        return s.empty() ? Sent{} : s[0];
    }

    // The stack event a token's request waits for; 0 when it waits for none.
    uint32_t waits_for(RIL_Token t)
    {
        zol_reqlist_entry_type e;
        return zol_reqlist_query(t, &e) == 0 ? e.pending_event_id : 0;
    }
    // A request waiting for a stack event, as its handler would have left it.
    RIL_Token waiting_for(int32_t event_id, int32_t request = RIL_REQUEST_HANGUP)
    {
        RIL_Token t = token(900 + static_cast<int32_t>(tokens_.size()));
        zol_reqlist_entry_type e;
        zol_reqlist_default_entry(t, request, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                                  static_cast<uint32_t>(event_id), nullptr, &e);
        EXPECT_EQ(zol_reqlist_new(&e), 0);
        return t;
    }

    // Waits for the request's completion and checks there is exactly one.
    Completion completion(RIL_Token t)
    {
        EXPECT_TRUE(host.wait_until([&] { return !host.completions_for(t).empty(); }));
        const auto c = host.completions_for(t);
        EXPECT_EQ(c.size(), 1u);
        return c.empty() ? Completion{} : c[0];
    }

    // A request answered with code 2 at once, nothing sent or remembered; through
    // `direct` if it has no dispatch row, with a pointer to no bytes if `pointer`.
    void expect_refused(int number, const Bytes &data, zol_handler_type direct = nullptr,
                        bool pointer = false)
    {
        agent::reset();
        RIL_Token t = token(number);
        static uint8_t none;
        if (pointer) {
            radio()->onRequest(number, &none, 0, t);
        } else if (direct != nullptr) {
            invoke(direct, number, data, t);
        } else {
            request(number, data, t);
        }
        const auto c = host.completions_for(t);
        ASSERT_EQ(c.size(), 1u) << number << "/" << data.size();
        EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE) << number << "/" << data.size();
        EXPECT_TRUE(agent::frames().empty()) << number;
        EXPECT_EQ(waits_for(t), 0u);
    }

    // Stack events the event thread has finished with, known or not.
    size_t handled()
    {
        size_t n = 0;
        for (const LogLine &l : host.log_lines()) {
            n += l.text.starts_with("Exit zol_process_event() : ") ||
                 l.text == "Error processing event! (4)\n";
        }
        return n;
    }
    // Hands a stack message to the module and waits until it has been handled.
    void deliver(uint16_t message, const Bytes &payload)
    {
        const size_t before = handled();
        ASSERT_EQ(agent::deliver(frame(message, payload)), 0);
        ASSERT_TRUE(host.wait_until([&] { return handled() > before; }));
    }

    Host &host = Host::get();

private:
    std::deque<Token> tokens_;
};

} // namespace zol_kit

#endif // ZOL_KIT_FIXTURE_H
