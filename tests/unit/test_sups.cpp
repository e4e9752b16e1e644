// Supplementary services through the module: the SS request each host
// request sends, the confirmations that answer them, and the answers an
// interrogation builds.
#include "handler_fixture.h"
#include "sups/zol_sups_internal.h"

using namespace zol_test;

namespace {

// The 167-byte SS request: operation, code, then bytes and texts at offsets.
Bytes ss(uint32_t op, uint32_t code, const std::vector<std::pair<size_t, std::string>> &fields = {})
{
    Bytes b(167, 0);
    put32(put32(b, 0, op), 5, code);
    for (const auto &[offset, text] : fields) {
        put_text(b, offset, text);
    }
    return b;
}

// An SS confirmation with the status of one service.
Bytes status_conf(uint32_t code, uint32_t present, uint32_t active, uint32_t success = 1)
{
    Bytes b(37, 0);
    return put32(put32(put32(put32(put32(b, 0, success), 5, 5), 13, code), 17, present), 33, active);
}

struct FwdEntry {
    uint32_t code, active;
    std::string number;
    uint8_t number_len, no_reply_time; // no_reply_time 0: none
    uint32_t service_type;             // 0: no basic service
};

Bytes forwarding_conf(const std::vector<FwdEntry> &entries, int claimed = -1, uint32_t present = 1)
{
    Bytes b(164 + 88 * entries.size(), 0);
    put32(put32(put32(b, 0, 1), 5, 3), 159, present);
    b[163] = static_cast<uint8_t>(claimed >= 0 ? claimed : static_cast<int>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const FwdEntry &e = entries[i];
        const size_t at = 164 + 88 * i;
        put32(put32(put32(put32(b, at, e.service_type != 0), at + 4, e.service_type), at + 9, 1), at + 25, e.active);
        b[at + 33] = e.number_len;
        put_text(b, at + 34, e.number.substr(0, 41));
        put32(b, at + 75, e.no_reply_time != 0);
        b[at + 79] = e.no_reply_time;
        put32(put32(b, at + 80, 1), at + 84, e.code);
    }
    return b;
}

constexpr uint32_t kRegister = 1, kErase = 2, kActivate = 3, kDeactivate = 4, kInterrogate = 5;

class Sups : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        g_clir_cmd_type.store(1, std::memory_order_relaxed);
    }

    // Sends a request that must produce one SS request; returns its payload.
    Bytes request(int number, const void *data, size_t len, RIL_Token t)
    {
        agent->clear();
        radio()->onRequest(number, const_cast<void *>(data), len, t);
        const auto s = sent_one();
        EXPECT_EQ(s.first, 51);
        return s.second;
    }
};

TEST_F(Sups, RequestsCarryTheirOperationAndService)
{
    const int32_t w0[] = {0, 1}, w1[] = {1, 1}, w2[] = {2, 1};
    const char *ao[] = {"AO"}, *oi[] = {"xOI"}, *ox[] = {"OX"}, *ai[] = {"AI"}, *ir[] = {"IR"}, *ab[] = {"AB"},
               *ag[] = {"AG"};
    auto fwd = [](int status, int reason, int cls, int toa, const char *number, int secs, const char *interval) {
        return RIL_CallForwardInfo{status, reason, cls, toa, const_cast<char *>(number), secs,
                                   const_cast<char *>(interval)};
    };
    const std::string d41(41, '5'), i40(40, 'i'), p70(70, 'p');
    const RIL_CallForwardInfo f[] = {
        fwd(0, 0, 0, 0, nullptr, 0, nullptr), fwd(0, 1, 0, 0, nullptr, 0, nullptr),
        fwd(0, 2, 0, 0, nullptr, 0, nullptr), fwd(0, 3, 0, 0, nullptr, 0, nullptr),
        fwd(0, 4, 0, 0, nullptr, 0, nullptr), fwd(0, 5, 0, 0, nullptr, 0, nullptr),
        fwd(0, 9, 0, 0, nullptr, 0, nullptr),
        fwd(3, 0, 0, 145, "1234", 0, nullptr), fwd(3, 0, 0, 129, "1234", 0, nullptr),
        fwd(1, 2, 1, 129, nullptr, 0x114, nullptr), fwd(4, 4, 16, 129, nullptr, 0, i40.c_str()),
        fwd(0, 5, 7, 129, d41.c_str(), 0, nullptr), fwd(2, 1, 0, 129, nullptr, 0, nullptr),
        fwd(1, 8, 0, 129, nullptr, 0, nullptr),
    };
    const char *b1[] = {"OI", "1", "-", "16", "-", "0"}, *b2[] = {"AB", "10", "-", "1", "-", "1234"},
               *b3[] = {"AO", "1", "-", "7", "-", p70.c_str()}, *b4[] = {"SC,AG", "1", "-", nullptr, "-", nullptr},
               *b5[] = {"AC", "01", "-", "", "-", "0"};
    const std::pair<size_t, std::string> cls1[] = {{60, "\1"}, {64, "\1"}, {68, "\1"}},
                                         cls16[] = {{60, "\1"}, {64, "\2"}, {68, "\x10"}};
    struct Case {
        int number;
        const void *data;
        size_t len;
        Bytes expected;
    } cases[] = {
        {31, nullptr, 0, ss(kInterrogate, 16)},       {35, nullptr, 0, ss(kInterrogate, 1)},
        {55, nullptr, 0, ss(kInterrogate, 15)},       {318, nullptr, 0, ss(kInterrogate, 18)},
        {319, nullptr, 0, ss(kInterrogate, 17)},      {42, ao, sizeof ao, ss(kInterrogate, 9)},
        {42, oi, sizeof oi, ss(kInterrogate, 10)},    {42, ox, sizeof ox, ss(kInterrogate, 11)},
        {42, ai, sizeof ai, ss(kInterrogate, 13)},    {42, ir, sizeof ir, ss(kInterrogate, 14)},
        {42, ab, sizeof ab, ss(kInterrogate, 0)},     {42, ag, sizeof ag, ss(kInterrogate, 0)}, // no AG in a query
        {33, &f[0], sizeof *f, ss(kInterrogate, 3)},  {33, &f[1], sizeof *f, ss(kInterrogate, 5)},
        {33, &f[2], sizeof *f, ss(kInterrogate, 6)},  {33, &f[3], sizeof *f, ss(kInterrogate, 7)},
        {33, &f[4], sizeof *f, ss(kInterrogate, 2)},  {33, &f[5], sizeof *f, ss(kInterrogate, 4)},
        {33, &f[6], sizeof *f, ss(kInterrogate, 3)},  {317, w0, sizeof w0, ss(kDeactivate, 17)},
        {317, w1, sizeof w1, ss(kActivate, 17)},      {36, w0, sizeof w0, ss(kDeactivate, 1)},
        {36, w1, sizeof w1, ss(kActivate, 1)},        {32, w1, sizeof w1, ss(kActivate, 16)},
        {32, w2, sizeof w2, ss(kDeactivate, 16)},     {32, w0, sizeof w0, ss(kActivate, 16)}, // mode since start-up
        {34, &f[7], sizeof *f, ss(kRegister, 3, {{9, "\1"}, {13, "\7"}, {14, "+861234"}})},
        {34, &f[8], sizeof *f, ss(kRegister, 3, {{9, "\1"}, {13, "\4"}, {14, "1234"}})},
        {34, &f[9], sizeof *f, ss(kActivate, 6, {{55, "\1"}, {59, "\x14"}, cls1[0], cls1[1], cls1[2]})}, // low byte
        {34, &f[10], sizeof *f, ss(kErase, 2, {cls16[0], cls16[1], cls16[2], {69, "\1"}, {73, i40.substr(0, 30)}})},
        {34, &f[11], sizeof *f, ss(kDeactivate, 4, {{9, "\1"}, {13, "\x29"}, {14, d41}})},
        {34, &f[12], sizeof *f, ss(kInterrogate, 5)}, {34, &f[13], sizeof *f, ss(kActivate, 0)},
        {43, b1, sizeof b1, ss(kActivate, 10, {cls16[0], cls16[1], cls16[2]})},
        {43, b2, sizeof b2, ss(kDeactivate, 0, {cls1[0], cls1[1], cls1[2], {103, "\1"}, {107, "1234"}})},
        {43, b3, sizeof b3, ss(kActivate, 9, {{103, "\1"}, {107, p70.substr(0, 60)}})},
        {43, b4, sizeof b4, ss(kActivate, 8)},        {43, b5, sizeof b5, ss(kDeactivate, 12)},
    };
    for (const Case &c : cases) {
        RIL_Token t = token(c.number);
        EXPECT_EQ(request(c.number, c.data, c.len, t), c.expected) << c.number << " #" << (&c - cases);
        EXPECT_EQ(waits_for(t), static_cast<uint32_t>(zol::sups::confirmation_of(c.expected[0])));
    }
    EXPECT_TRUE(host.logged("e_ss_code=12, e_cmd_type=4"));
    EXPECT_TRUE(host.logged("+861234") && host.logged("time_interval is " + i40));
    EXPECT_TRUE(host.logged(" RIL_REQUEST_QUERY_CALL_FORWARD_STATUS  reason=9 ") &&
                host.logged(" zol_sups_request_query() exit"));
}

TEST_F(Sups, RequestsWithoutAnOperationOrTheirDataAreRefused)
{
    const int32_t w2[] = {2}, wm[] = {-1}, w3[] = {3};
    const std::string d42(42, '5'), d39(39, '5');
    RIL_CallForwardInfo status5{5, 0, 0, 129, nullptr, 0, nullptr};
    RIL_CallForwardInfo long_number{1, 0, 0, 129, const_cast<char *>(d42.c_str()), 0, nullptr};
    RIL_CallForwardInfo long_prefixed{1, 0, 0, 145, const_cast<char *>(d39.c_str()), 0, nullptr};
    const char *lock2[] = {"OI", "2", "", "1", "", "0"}, *no_facility[] = {nullptr, "1", "", "1", "", "0"},
               *no_lock[] = {"OI", nullptr, "", "1", "", "0"}, *facility[] = {nullptr};
    expect_refused(RIL_REQUEST_SET_COLP, w2, sizeof w2);
    expect_refused(RIL_REQUEST_SET_CALL_WAITING, wm, sizeof wm);
    expect_refused(RIL_REQUEST_SET_CLIR, w3, sizeof w3);
    expect_refused(RIL_REQUEST_SET_CALL_WAITING, nullptr, 0);
    expect_refused(RIL_REQUEST_SET_CALL_WAITING, w2, 2);
    expect_refused(RIL_REQUEST_SET_CALL_FORWARD, &status5, sizeof status5);
    expect_refused(RIL_REQUEST_SET_CALL_FORWARD, &long_number, sizeof long_number);
    expect_refused(RIL_REQUEST_SET_CALL_FORWARD, &long_prefixed, sizeof long_prefixed);
    expect_refused(RIL_REQUEST_SET_CALL_FORWARD, &status5, sizeof status5 - 1);
    expect_refused(RIL_REQUEST_SET_FACILITY_LOCK, lock2, sizeof lock2);
    expect_refused(RIL_REQUEST_SET_FACILITY_LOCK, no_facility, sizeof no_facility);
    expect_refused(RIL_REQUEST_SET_FACILITY_LOCK, no_lock, sizeof no_lock);
    expect_refused(RIL_REQUEST_SET_FACILITY_LOCK, lock2, 5 * sizeof(char *));
    expect_refused(RIL_REQUEST_QUERY_FACILITY_LOCK, nullptr, 0);
    expect_refused(RIL_REQUEST_QUERY_FACILITY_LOCK, facility, sizeof facility);
    expect_refused(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, nullptr, 0);
    expect_refused(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, &status5, 4);
    EXPECT_TRUE(host.logged("Cond: params_ptr->data != ((void *)0)"));
    EXPECT_TRUE(host.logged("Cond: in_data_ptr != ((void *)0)"));
}

TEST_F(Sups, FailedSendsAreAnsweredAndLeaveNoEntry)
{
    const int32_t words[] = {1, 1};
    const RIL_CallForwardInfo info = {1, 0, 0, 129, nullptr, 0, nullptr};
    const char *lock[6] = {"OI", "1", "", "", "", "0"};
    struct Case {
        int number;
        const void *data;
        size_t len;
        const char *line;
    } cases[] = {
        {RIL_REQUEST_QUERY_CLIP, nullptr, 0, "Reply to RIL --> INTERROGATE SS fail,\n"},
        {RIL_REQUEST_SET_COLP, words, sizeof words, "Reply to RIL --> SUPS COLP Request fail,\n"},
        {RIL_REQUEST_SET_CLIR, words, sizeof words, "Reply to RIL --> SUPS CLIR Request fail,\n"},
        {RIL_REQUEST_SET_CALL_WAITING, words, sizeof words, "Reply to RIL --> SUPS call waiting Request fail,\n"},
        {RIL_REQUEST_SET_CALL_FORWARD, &info, sizeof info, "Reply to RIL --> SUPS call forward Request fail,\n"},
        {RIL_REQUEST_SET_FACILITY_LOCK, lock, sizeof lock, "Reply to RIL --> SUPS call barring Request fail,\n"},
    };
    for (const Case &c : cases) {
        agent->clear();
        agent->set_send_result(-1);
        RIL_Token t = token(c.number);
        radio()->onRequest(c.number, const_cast<void *>(c.data), c.len, t);
        EXPECT_EQ(completion(t).error, RIL_E_GENERIC_FAILURE);
        EXPECT_TRUE(host.logged(c.line));
        EXPECT_EQ(waits_for(t), 0u);
    }
}

TEST_F(Sups, ConfirmationsAnswerTheOldestRequestOfTheirOperation)
{
    const int32_t on[] = {1, 1}, off[] = {0, 1};
    const RIL_CallForwardInfo erase = {4, 0, 0, 129, nullptr, 0, nullptr}, reg = {3, 0, 0, 129, nullptr, 0, nullptr};
    RIL_Token first = token(1), second = token(2), deactivate = token(3), erased = token(4), registered = token(5);
    request(RIL_REQUEST_SET_CALL_WAITING, on, sizeof on, first);
    request(RIL_REQUEST_SET_CALL_WAITING, on, sizeof on, second);
    deliver(30053, {1, 0, 0, 0}); // no deactivate waits: dropped
    ASSERT_TRUE(host.wait_logged("zol_sups_event_deactivate_ss_conf() exit"));
    EXPECT_TRUE(host.completions().empty());
    request(RIL_REQUEST_SET_CALL_WAITING, off, sizeof off, deactivate);
    request(RIL_REQUEST_SET_CALL_FORWARD, &erase, sizeof erase, erased);
    request(RIL_REQUEST_SET_CALL_FORWARD, &reg, sizeof reg, registered);
    struct Step {
        uint16_t conf;
        Bytes payload;
        RIL_Token answered;
        RIL_Errno error;
    } steps[] = {
        {30052, {1, 0, 0, 0, 0, 7, 0, 0, 0}, first, RIL_E_SUCCESS},
        {30052, {0, 0, 0, 0}, second, RIL_E_GENERIC_FAILURE},
        {30053, {}, deactivate, RIL_E_GENERIC_FAILURE}, // too short to tell: a failure
        {30054, {1, 0, 0, 0}, erased, RIL_E_SUCCESS},
        {30056, {2, 0, 0, 0}, registered, RIL_E_SUCCESS},
    };
    for (const Step &s : steps) {
        deliver(s.conf, s.payload);
        const Completion c = completion(s.answered);
        EXPECT_EQ(c.error, s.error) << s.conf;
        EXPECT_EQ(c.len, 0u);
    }
    EXPECT_EQ(host.completions().size(), 5u);
    EXPECT_TRUE(host.logged("e_info_type:7, b_success:1"));
    EXPECT_TRUE(host.logged("Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n"));
}

TEST_F(Sups, InterrogationAnswers)
{
    const FwdEntry one = {3, 1, "1", 1, 0, 0};
    Bytes other_type = status_conf(16, 1, 1);
    struct Case {
        Bytes conf;
        RIL_Errno error;
        Bytes answer;
        int32_t clir_after;
    } cases[] = {
        {status_conf(9, 1, 1), RIL_E_SUCCESS, {1, 0, 0, 0}, 1},
        {status_conf(14, 1, 0), RIL_E_SUCCESS, {0, 0, 0, 0}, 1},
        {status_conf(15, 0, 1), RIL_E_SUCCESS, {0, 0, 0, 0}, 1},
        {status_conf(16, 1, 0), RIL_E_SUCCESS, {2, 0, 0, 0, 4, 0, 0, 0}, 2},
        {status_conf(16, 0, 0), RIL_E_SUCCESS, {0, 0, 0, 0, 2, 0, 0, 0}, 2}, // absent: mode kept
        {status_conf(16, 1, 1), RIL_E_SUCCESS, {1, 0, 0, 0, 4, 0, 0, 0}, 1},
        {status_conf(1, 1, 1), RIL_E_SUCCESS, {1, 0, 0, 0, 1, 0, 0, 0}, 1},
        {status_conf(1, 1, 0), RIL_E_SUCCESS, {0, 0, 0, 0, 1, 0, 0, 0}, 1},
        {status_conf(1, 0, 1), RIL_E_SUCCESS, {0, 0, 0, 0, 0, 0, 0, 0}, 1},
        {status_conf(5, 1, 1), RIL_E_SUCCESS, {}, 1}, // "not support"
        {put32(other_type, 5, 7), RIL_E_SUCCESS, {}, 1},
        {forwarding_conf({one}, -1, 0), RIL_E_SUCCESS, {}, 1},
        {forwarding_conf({}, 0), RIL_E_SUCCESS, {}, 1},
        {status_conf(16, 1, 0, 0), RIL_E_GENERIC_FAILURE, {}, 1},  // the stack refused
        {forwarding_conf({one}, 2), RIL_E_GENERIC_FAILURE, {}, 1}, // claims more than it carries
        {{1, 0}, RIL_E_GENERIC_FAILURE, {}, 1},                    // shorter than its header
        {{1, 0, 0, 0, 0, 5, 0, 0, 0}, RIL_E_GENERIC_FAILURE, {}, 1}, // status type, no status
    };
    for (const Case &c : cases) {
        host.reset();
        RIL_Token t = token(35);
        request(RIL_REQUEST_QUERY_CALL_WAITING, nullptr, 0, t);
        deliver(30055, c.conf);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error) << (&c - cases);
        EXPECT_EQ(done.data, c.answer) << (&c - cases);
        EXPECT_EQ(g_clir_cmd_type.load(std::memory_order_relaxed), c.clir_after) << (&c - cases);
        EXPECT_EQ(host.logged("not support"), &c == &cases[9]);
    }
    EXPECT_TRUE(host.logged("Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n"));
    host.reset();
    deliver(30055, status_conf(5, 1, 1));
    ASSERT_TRUE(host.wait_logged("zol_sups_event_interrogate_ss_conf() exit"));
    EXPECT_TRUE(host.completions().empty()) << "nobody waits";
    EXPECT_FALSE(host.logged("not support"));
}

TEST_F(Sups, ClirModeZeroUsesTheModeTheLastInterrogationReported)
{
    const int32_t mode0[] = {0};
    RIL_Token query = token(2);
    request(RIL_REQUEST_GET_CLIR, nullptr, 0, query);
    deliver(30055, status_conf(16, 1, 0));
    EXPECT_EQ(completion(query).data, (Bytes{2, 0, 0, 0, 4, 0, 0, 0}));
    EXPECT_EQ(request(RIL_REQUEST_SET_CLIR, mode0, sizeof mode0, token(3)), ss(kDeactivate, 16));
}

TEST_F(Sups, InterrogationForwardingList)
{
    std::vector<RIL_CallForwardInfo> records;
    std::vector<std::string> numbers;
    host.set_on_complete([&](const Completion &c) {
        for (size_t i = 0; i < c.len / sizeof(void *); ++i) { // the records live during the callback
            const auto *r = reinterpret_cast<RIL_CallForwardInfo *const *>(c.data.data())[i];
            records.push_back(*r);
            numbers.emplace_back(r->number);
        }
    });
    RIL_Token t = token(33);
    const RIL_CallForwardInfo query{};
    request(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, &query, sizeof query, t);
    const std::string long_number(60, '7');
    deliver(30055, forwarding_conf({{3, 1, "+4930", 5, 0, 1}, {6, 0, "", 0, 25, 2}, {12, 1, long_number, 60, 0, 0}}));
    const Completion c = completion(t);
    EXPECT_EQ(c.error, RIL_E_SUCCESS);
    EXPECT_EQ(c.len, 3 * sizeof(void *));
    ASSERT_EQ(records.size(), 3u);
    auto fields = [](const RIL_CallForwardInfo &r) {
        return std::vector<int>{r.status, r.reason, r.serviceClass, r.toa, r.timeSeconds, r.timeInterval != nullptr};
    };
    EXPECT_EQ(fields(records[0]), (std::vector<int>{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(fields(records[1]), (std::vector<int>{0, 2, 0, 0, 25, 0})) << "basic service type 2 is no class";
    EXPECT_EQ(fields(records[2]), (std::vector<int>{1, 0, 0, 0, 0, 0})) << "code 12 is no forwarding";
    EXPECT_EQ(numbers, (std::vector<std::string>{"+4930", "", std::string(41, '7')}));
    EXPECT_TRUE(host.logged("zol_sups_event_interrogate_ss_conf b_present=1 forwarding_feature_list_length=3"));
    EXPECT_TRUE(host.logged("zol_sups_event_interrogate_ss_conf e_ss_code = 6"));
    EXPECT_TRUE(host.logged("reason=2, status=0") && host.logged("in_data_ptr[0].number=+4930"));
}

// Queries of different services wait for the same confirmation: one that
// completes a request of another answer shape answers it with a failure and no data.
TEST_F(Sups, ConfirmationOfAnotherAnswerShapeFailsTheRequestItCompletes)
{
    const RIL_CallForwardInfo query{};
    const FwdEntry one = {3, 1, "1", 1, 0, 0};
    const struct {
        int request;
        Bytes conf;
        RIL_Errno error;
        size_t len;
    } cases[] = {
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(1, 1, 1), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(16, 1, 1), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(5, 1, 1), RIL_E_SUCCESS, 0}, // no data
        {RIL_REQUEST_QUERY_CALL_WAITING, forwarding_conf({one}), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CLIP, forwarding_conf({one}), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, forwarding_conf({one}), RIL_E_SUCCESS, sizeof(void *)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        host.reset();
        RIL_Token t = token(80);
        const bool forwarding = c.request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS;
        request(c.request, forwarding ? &query : nullptr, forwarding ? sizeof query : 0, t);
        deliver(30055, c.conf);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error);
        EXPECT_EQ(done.len, c.len);
        const int info_type = c.conf.at(5);
        EXPECT_EQ(host.logged("zol_sups_event_interrogate_ss_conf: information type " +
                              std::to_string(info_type) + " does not answer request " +
                              std::to_string(c.request) + "\n"),
                  c.error != RIL_E_SUCCESS);
    }
}

int g_allocations_left = 0;
void *limited_alloc(size_t size)
{
    return g_allocations_left-- > 0 ? zol_malloc(size) : nullptr;
}

TEST_F(Sups, AllocationFailuresStillAnswerTheRequestOnce)
{
    const Bytes conf = forwarding_conf({{3, 1, "1", 1, 0, 0}, {5, 1, "2", 1, 0, 0}});
    const char *lines[] = {"Malloc failed in_data_ptr\n", "Malloc failed in_data_ptr\n",
                           "Malloc failed in_data_pptr\n"};
    for (int succeeding = 0; succeeding < 3; ++succeeding) {
        host.reset();
        zol_reqlist_entry_type claimed{};
        claimed.t = token(70 + succeeding);
        claimed.request = RIL_REQUEST_QUERY_CALL_FORWARD_STATUS;
        g_allocations_left = succeeding;
        {
            zol_request_params_type event = {0x17567, nullptr, 0, ZOL_EVENT_TOKEN};
            zol_request_return_type ret{};
            zol::Handler h({"zol_sups_event_interrogate_ss_conf", 0}, &event, &ret, {.request = false});
            h.take(claimed);
            zol::sups::answer_interrogation(
                h, zol::PayloadView(conf.data(), static_cast<uint32_t>(conf.size())), limited_alloc);
        }
        const auto c = host.completions_for(claimed.t);
        ASSERT_EQ(c.size(), 1u);
        EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
        EXPECT_TRUE(host.logged(lines[succeeding]));
    }
}

} // namespace
