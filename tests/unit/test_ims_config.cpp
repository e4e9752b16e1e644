// IMS registration state and configuration through the module.
#include "handler_fixture.h"

using namespace zol_test;

namespace {

class ImsConfig : public HandlerTest {
protected:
    Bytes registration_state()
    {
        RIL_Token t = token(112);
        radio()->onRequest(RIL_REQUEST_IMS_REGISTRATION_STATE, nullptr, 0, t);
        const Completion c = completion(t);
        EXPECT_EQ(c.error, RIL_E_SUCCESS);
        return c.data;
    }

    void run_status(const Bytes &payload)
    {
        host.reset();
        agent->clear();
        deliver(30022, payload);
        ASSERT_TRUE(host.wait_logged("zol_cm_callsvc_event_run_status_info_ind() exit"));
    }

    Completion config(int request, std::vector<const char *> texts, int send_result = 0)
    {
        host.reset();
        agent->clear();
        agent->set_send_result(send_result);
        RIL_Token t = token(request);
        radio()->onRequest(request, texts.data(), texts.size() * sizeof(char *), t);
        return request == RIL_REQUEST_IMS_GET_CONFIGRATION && send_result == 0 ? Completion{t, 0, RIL_E_SUCCESS, {}, 0} : completion(t);
    }
};

TEST_F(ImsConfig, RegistrationStateFollowsTheStacksRunStatus)
{
    // All ones is the state the module starts in; reported by the stack, it
    // makes the module ask again, as after loading.
    run_status({0xFF, 0xFF, 0xFF, 0xFF});
    agent->set_send_result(-1); // a failed status query changes nothing for the host
    EXPECT_EQ(registration_state(), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(registration_state(), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(sent(), (Sent{{19, {}}, {19, {}}}));
    EXPECT_TRUE(host.logged("zol init, send eTKM_CALL_GET_RUN_STATUS_REQ"));
    EXPECT_TRUE(host.logged("Reply to RIL --> IMS_REGISTRATION=0, format=1 "));

    const Bytes statuses[] = {{1, 0, 0, 0}, {0, 0, 0, 0}, {3, 0, 0, 0, 9}, {5, 0}}; // the last too short
    const uint8_t answers[] = {1, 0, 3, 3};
    for (size_t i = 0; i < 4; ++i) {
        run_status(statuses[i]);
        const auto u = host.unsolicited();
        ASSERT_EQ(u.size(), i < 3 ? 1u : 0u);
        EXPECT_TRUE(u.empty() || u[0].number == RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED);
        EXPECT_EQ(host.logged("zol_cm_callsvc_event_run_status_info_ind() entry:e_run_status_type=" +
                              std::to_string(statuses[i][0])),
                  i < 3);
        EXPECT_EQ(registration_state(), (Bytes{answers[i], 0, 0, 0, 1, 0, 0, 0}));
        EXPECT_TRUE(sent().empty()) << "a known state asks the stack nothing";
    }
}

TEST_F(ImsConfig, SetRegistrationStateSendsTheHostsWord)
{
    for (int result : {0, 5}) {
        agent->clear();
        agent->set_send_result(result);
        RIL_Token t = token(338);
        int32_t state = 0x01020304;
        radio()->onRequest(RIL_REQUEST_IMS_SET_REGISTRATION_STATE, &state, sizeof state, t);
        EXPECT_EQ(completion(t).error, result == 0 ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
        EXPECT_EQ(sent_one(), std::make_pair(uint16_t{22}, Bytes{4, 3, 2, 1}));
    }
    EXPECT_TRUE(host.logged("Reply to RIL --> ims_set_registration_state success,\n"));
    EXPECT_TRUE(host.logged("Reply to RIL --> ims_set_registration_state fail,\n"));
}

TEST_F(ImsConfig, RequestsWithoutUsableDataAreRefused)
{
    const char *texts[] = {"5", nullptr};
    int16_t half = 1;
    expect_refused(RIL_REQUEST_IMS_SET_REGISTRATION_STATE, nullptr, 0);
    expect_refused(RIL_REQUEST_IMS_SET_REGISTRATION_STATE, &half, sizeof half);
    expect_refused(RIL_REQUEST_IMS_GET_CONFIGRATION, nullptr, 0);
    expect_refused(RIL_REQUEST_IMS_GET_CONFIGRATION, texts + 1, sizeof(char *));
    expect_refused(RIL_REQUEST_IMS_SET_CONFIGRATION, texts, sizeof(char *));
    expect_refused(RIL_REQUEST_IMS_SET_CONFIGRATION, texts, sizeof texts);
    const auto log = host.log_lines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const LogLine &l) {
                  return l.text.find("zol_cm_callsvc_request_ims_") != std::string::npos &&
                         l.text.ends_with(" exit error");
              }),
              6);
}

TEST_F(ImsConfig, SetConfigurationPayloadFollowsTheItemTable)
{
    const std::string x(60, 'x');
    struct Case {
        const char *item;
        std::string value;
        Bytes head; // the first bytes of the 54; the rest zero
        size_t text_bytes;
    } cases[] = {
        {"5", "300", {5, 0, 0, 0, 0x2C, 0x01}, 0},   {" 16abc", "-2", {16, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}, 0},
        {"1", x.substr(0, 25), {1}, 20},              {"2", x.substr(0, 20), {2}, 20}, // no terminator
        {"4", x, {4}, 32},                            {"3", x, {3}, 50},
        {"99", "ignored", {99}, 0},                   {"item", "1", {0}, 0},
    };
    for (Case &c : cases) {
        EXPECT_EQ(config(RIL_REQUEST_IMS_SET_CONFIGRATION, {c.item, c.value.c_str()}).error, RIL_E_SUCCESS);
        c.head.resize(54, 0);
        EXPECT_EQ(sent_one(), std::make_pair(uint16_t{21}, put_text(c.head, 4, c.value.substr(0, c.text_bytes))));
        EXPECT_TRUE(host.logged("set config " + std::to_string(c.head[0]) + "  " + c.value));
        EXPECT_TRUE(host.logged("Reply to RIL --> ims_set_configration success,\n"));
    }
}

TEST_F(ImsConfig, GetConfigurationIsAnsweredFromTheConfirmation)
{
    Bytes unterminated(54, 'a');
    struct Case {
        const char *item;
        Bytes conf;
        RIL_Errno error;
        std::string text;
    } cases[] = {
        {"7", {7, 0, 0, 0, 42, 0, 0, 0}, RIL_E_SUCCESS, "42"},
        {"3", {3, 0, 0, 0, 's', 'i', 'p', 0, 'x'}, RIL_E_SUCCESS, "sip"},
        {"abc", {0, 0, 0, 0}, RIL_E_SUCCESS, ""},                                // not a number: item 0
        {"2", {2, 0, 0, 0, 'a', 'b', 'c'}, RIL_E_SUCCESS, "abc"},                // ends with the message
        {"14", put32(unterminated, 0, 14), RIL_E_SUCCESS, std::string(50, 'a')}, // or with its field
        {"1", {}, RIL_E_GENERIC_FAILURE, ""},                                    // no item in the answer
        {"5", {5, 0, 0, 0, 1}, RIL_E_GENERIC_FAILURE, ""},                       // integer cut short
    };
    for (const Case &c : cases) {
        const RIL_Token t = config(RIL_REQUEST_IMS_GET_CONFIGRATION, {c.item}).t;
        EXPECT_EQ(waits_for(t), 0x17548u);
        const uint8_t item = c.conf.empty() ? 1 : c.conf[0];
        EXPECT_EQ(sent_one(), std::make_pair(uint16_t{20}, Bytes{item, 0, 0, 0}));
        EXPECT_TRUE(host.logged("get config " + std::to_string(item)));
        deliver(30024, c.conf);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error) << c.item;
        EXPECT_EQ(done.len, c.error == RIL_E_SUCCESS ? sizeof(char *) : 0u);
        EXPECT_EQ(host.logged("Reply to RIL --> get cfg " + std::to_string(item) + " result : " + c.text + "\n"),
                  c.error == RIL_E_SUCCESS);
    }
    EXPECT_EQ(config(RIL_REQUEST_IMS_SET_CONFIGRATION, {"5", "1"}, 1).error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Reply to RIL --> ims_set_configration fail,\n"));
}

TEST_F(ImsConfig, PendingGetsAreAnsweredOldestFirstAndAFailedSendLeavesNone)
{
    const RIL_Token first = config(RIL_REQUEST_IMS_GET_CONFIGRATION, {"7"}).t;
    const RIL_Token second = config(RIL_REQUEST_IMS_GET_CONFIGRATION, {"7"}).t;
    const Completion failed = config(RIL_REQUEST_IMS_GET_CONFIGRATION, {"7"}, 2);
    EXPECT_EQ(failed.error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Reply to RIL --> ims_get_configration fail,\n"));
    EXPECT_EQ(waits_for(failed.t), 0u);

    const Bytes conf = {9, 0, 0, 0, 1, 0, 0, 0}; // whatever item it carries
    deliver(30024, conf);
    EXPECT_EQ(completion(first).error, RIL_E_SUCCESS);
    EXPECT_TRUE(host.completions_for(second).empty());
    deliver(30024, conf);
    EXPECT_EQ(completion(second).error, RIL_E_SUCCESS);
    deliver(30024, conf);
    EXPECT_TRUE(host.wait_logged(" zol_cm_callsvc_event_get_cfg_conf(),exit error"));
    EXPECT_EQ(host.completions().size(), 3u);
}

} // namespace
