// Supplementary services through the module: the confirmations that answer
// SS requests, and the answers an interrogation builds.
#include "fixture.h"
#include "sups/zol_sups_internal.h"

using namespace zol_kit;

namespace {

// An interrogation confirmation with the status of one service; `present`
// and `success` patched into the stand-in's record.
Bytes status_conf(uint32_t code, bool active, uint32_t present = 1, uint32_t success = 1)
{
    Bytes b = imsd::encode_ss_status_conf(code, active);
    return put32(put32(b, 17, present), 0, success);
}

imsd::FwdFeature feature(uint32_t code, const std::string &number, bool active = true,
                         std::optional<uint8_t> no_reply = {},
                         std::optional<uint32_t> basic_service = {})
{
    imsd::FwdFeature f;
    f.code = code;
    f.active = active;
    f.number = number;
    f.no_reply_time = no_reply;
    f.basic_service = basic_service;
    return f;
}

Bytes forwarding_conf(const std::vector<imsd::FwdFeature> &features)
{
    return imsd::encode_fwd_list_conf(features);
}

class Sups : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        g_clir_cmd_type.store(1, std::memory_order_relaxed);
    }
    // Sends a request that must produce one SS request; returns its payload.
    Bytes ss_request(int number, const Bytes &data, RIL_Token t)
    {
        agent::reset();
        request(number, data, t);
        return sent_one().payload;
    }
    // Answers a query of number with this interrogation confirmation.
    Completion interrogate(int number, const Bytes &data, const Bytes &conf)
    {
        host.reset();
        RIL_Token t = token(number);
        ss_request(number, data, t);
        deliver(imsd::kMsgSsInterrogateConf, conf);
        return completion(t);
    }
};

TEST_F(Sups, ConfirmationsAnswerTheOldestRequestOfTheirOperation)
{
    RIL_Token first = token(1), second = token(2), deactivate = token(3), erased = token(4),
              registered = token(5);
    ss_request(RIL_REQUEST_SET_CALL_WAITING, words({1, 1}), first);
    ss_request(RIL_REQUEST_SET_CALL_WAITING, words({1, 1}), second);
    deliver(imsd::kMsgSsDeactivateConf,
            imsd::encode_ss_conf(true)); // no deactivation waits: dropped
    EXPECT_TRUE(host.completions().empty());
    ss_request(RIL_REQUEST_SET_CALL_WAITING, words({0, 1}), deactivate);
    ss_request(RIL_REQUEST_SET_CALL_FORWARD, forwarding(4, 0), erased);
    ss_request(RIL_REQUEST_SET_CALL_FORWARD, forwarding(3, 0), registered);
    const struct {
        uint16_t conf;
        Bytes payload;
        RIL_Token answered;
        RIL_Errno error;
    } steps[] = {
        {imsd::kMsgSsActivateConf, {1, 0, 0, 0, 0, 7, 0, 0, 0}, first, RIL_E_SUCCESS},
        {imsd::kMsgSsActivateConf, imsd::encode_ss_conf(false), second, RIL_E_GENERIC_FAILURE},
        {imsd::kMsgSsDeactivateConf,
         {},
         deactivate,
         RIL_E_GENERIC_FAILURE}, // too short to tell: a failure
        {imsd::kMsgSsEraseConf, imsd::encode_ss_conf(true), erased, RIL_E_SUCCESS},
        {imsd::kMsgSsRegisterConf, {2, 0, 0, 0}, registered, RIL_E_SUCCESS},
    };
    for (const auto &s : steps) {
        deliver(s.conf, s.payload);
        const Completion c = completion(s.answered);
        EXPECT_EQ(c.error, s.error) << s.conf;
        EXPECT_EQ(c.len, 0u);
    }
    EXPECT_EQ(host.completions().size(), 5u);
    EXPECT_TRUE(host.logged("e_info_type:7, b_success:1"));
}

TEST_F(Sups, InterrogationAnswers)
{
    Bytes other_type = status_conf(16, true), absent_list = forwarding_conf({feature(3, "1")});
    Bytes lying_list = forwarding_conf({feature(3, "1")});
    put32(other_type, 5, 7);
    put32(absent_list, 159, 0);
    lying_list.resize(164 + 88);
    lying_list[163] = 2; // claims more than it carries
    const struct {
        Bytes conf;
        RIL_Errno error;
        Bytes answer;
        int32_t clir_after;
    } cases[] = {
        {status_conf(9, true), RIL_E_SUCCESS, words({1}), 1},
        {status_conf(14, false), RIL_E_SUCCESS, words({0}), 1},
        {status_conf(15, true, 0), RIL_E_SUCCESS, words({0}), 1},
        {status_conf(16, false), RIL_E_SUCCESS, words({2, 4}), 2},
        {status_conf(16, false, 0), RIL_E_SUCCESS, words({0, 2}), 2}, // absent: the mode is kept
        {status_conf(16, true), RIL_E_SUCCESS, words({1, 4}), 1},
        {status_conf(1, true), RIL_E_SUCCESS, words({1, 1}), 1},
        {status_conf(1, false), RIL_E_SUCCESS, words({0, 1}), 1},
        {status_conf(1, true, 0), RIL_E_SUCCESS, words({0, 0}), 1},
        {status_conf(5, true), RIL_E_SUCCESS, {}, 1}, // "not support"
        {other_type, RIL_E_SUCCESS, {}, 1},
        {absent_list, RIL_E_SUCCESS, {}, 1},
        {forwarding_conf({}), RIL_E_SUCCESS, {}, 1},
        {status_conf(16, false, 1, 0), RIL_E_GENERIC_FAILURE, {}, 1}, // the stack refused
        {lying_list, RIL_E_GENERIC_FAILURE, {}, 1},
        {{1, 0}, RIL_E_GENERIC_FAILURE, {}, 1},                      // shorter than its header
        {{1, 0, 0, 0, 0, 5, 0, 0, 0}, RIL_E_GENERIC_FAILURE, {}, 1}, // status type, no status
    };
    for (const auto &c : cases) {
        const Completion done = interrogate(RIL_REQUEST_QUERY_CALL_WAITING, {}, c.conf);
        EXPECT_EQ(done.error, c.error) << (&c - cases);
        EXPECT_EQ(done.data, c.answer) << (&c - cases);
        EXPECT_EQ(g_clir_cmd_type.load(std::memory_order_relaxed), c.clir_after) << (&c - cases);
        EXPECT_EQ(host.logged("not support"), &c == &cases[9]);
        EXPECT_EQ(host.logged("e_ss_code=9, b_present=1, b_ss_active=1"), &c == &cases[0]);
    }
    host.reset();
    deliver(imsd::kMsgSsInterrogateConf, status_conf(5, true));
    EXPECT_TRUE(host.completions().empty()) << "nobody waits";
    EXPECT_FALSE(host.logged("not support"));

    // CLIR mode 0 sends the mode the last interrogation reported.
    EXPECT_EQ(interrogate(RIL_REQUEST_GET_CLIR, {}, status_conf(16, false)).data, words({2, 4}));
    EXPECT_EQ(ss_request(RIL_REQUEST_SET_CLIR, words({0}), token(3))[0], 4) << "deactivation";
}

TEST_F(Sups, InterrogationForwardingList)
{
    std::vector<RIL_CallForwardInfo> records;
    std::vector<std::string> numbers;
    RIL_Token t = token(33);
    ss_request(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, forwarding(0, 0), t);
    host.on_complete([&](RIL_Token, RIL_Errno, void *response, size_t len) {
        read_response(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, response, len);
        for (size_t i = 0; i < len / sizeof(void *); ++i) { // the records live during the callback
            records.push_back(*static_cast<RIL_CallForwardInfo *const *>(response)[i]);
            numbers.emplace_back(records.back().number);
        }
    });
    Bytes conf = forwarding_conf({feature(3, "+4930", true, {}, 1), feature(6, "", false, 25, 2),
                                  feature(12, std::string(41, '7'))});
    conf[164 + 2 * 88 + 33] = 60; // a number length beyond its field
    deliver(imsd::kMsgSsInterrogateConf, conf);
    const Completion c = completion(t);
    host.on_complete(nullptr);
    EXPECT_EQ(c.error, RIL_E_SUCCESS);
    EXPECT_EQ(c.len, 3 * sizeof(void *));
    ASSERT_EQ(records.size(), 3u);
    auto fields = [](const RIL_CallForwardInfo &r) {
        return std::vector<int>{r.status, r.reason,      r.serviceClass,
                                r.toa,    r.timeSeconds, r.timeInterval != nullptr};
    };
    EXPECT_EQ(fields(records[0]), (std::vector<int>{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(fields(records[1]), (std::vector<int>{0, 2, 0, 0, 25, 0}))
        << "basic service type 2 is no class";
    EXPECT_EQ(fields(records[2]), (std::vector<int>{1, 0, 0, 0, 0, 0}))
        << "code 12 is no forwarding";
    EXPECT_EQ(numbers, (std::vector<std::string>{"+4930", "", std::string(41, '7')}));
    EXPECT_TRUE(host.logged(
        "zol_sups_event_interrogate_ss_conf b_present=1 forwarding_feature_list_length=3"));
}

// Queries of different services wait for the same confirmation: one that
// completes a request of another answer shape answers it with a failure and no data.
TEST_F(Sups, ConfirmationOfAnotherAnswerShapeFailsTheRequestItCompletes)
{
    const Bytes list = forwarding_conf({feature(3, "1")});
    const struct {
        int request;
        Bytes conf;
        RIL_Errno error;
        size_t len;
    } cases[] = {
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(1, true), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(16, true), RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_conf(5, true), RIL_E_SUCCESS, 0}, // no data
        {RIL_REQUEST_QUERY_CALL_WAITING, list, RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CLIP, list, RIL_E_GENERIC_FAILURE, 0},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, list, RIL_E_SUCCESS, sizeof(void *)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        const bool query_fwd = c.request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS;
        const Completion done =
            interrogate(c.request, query_fwd ? forwarding(0, 0) : Bytes{}, c.conf);
        EXPECT_EQ(done.error, c.error);
        EXPECT_EQ(done.len, c.len);
        EXPECT_EQ(host.logged("zol_sups_event_interrogate_ss_conf: information type " +
                              std::to_string(c.conf.at(5)) + " does not answer request " +
                              std::to_string(c.request) + "\n"),
                  c.error != RIL_E_SUCCESS);
    }
}

// A forwarding list that cannot be allocated still answers the request once,
// and gives back what was allocated.
TEST_F(Sups, AllocationFailuresStillAnswerTheRequestOnce)
{
    Bytes conf = forwarding_conf({feature(3, "1"), feature(5, "2")});
    const char *lines[] = {"Malloc failed in_data_ptr\n", "Malloc failed in_data_ptr\n",
                           "Malloc failed in_data_pptr\n"};
    for (int fail_at = 0; fail_at < 3; ++fail_at) {
        host.reset();
        RIL_Token t = waiting_for(0x17567, RIL_REQUEST_QUERY_CALL_FORWARD_STATUS);
        {
            AllocationWatch watch(fail_at);
            zol_process_event(0x17567, conf.data(), static_cast<uint32_t>(conf.size()),
                              ZOL_EVENT_TOKEN);
            EXPECT_EQ(watch.allocated(), fail_at + 1);
            EXPECT_EQ(watch.freed(), fail_at);
        }
        EXPECT_EQ(completion(t).error, RIL_E_GENERIC_FAILURE);
        EXPECT_TRUE(host.logged(lines[fail_at]));
    }
}

} // namespace
