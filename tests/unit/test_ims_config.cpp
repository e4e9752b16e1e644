// IMS registration state and configuration through the module.
#include "fixture.h"

using namespace zol_kit;

namespace {

class ImsConfig : public ModuleTest {
protected:
    Bytes registration_state()
    {
        RIL_Token t = token(112);
        request(RIL_REQUEST_IMS_REGISTRATION_STATE, {}, t);
        const Completion c = completion(t);
        EXPECT_EQ(c.error, RIL_E_SUCCESS);
        return c.data;
    }
    static Bytes config_conf(uint32_t item, const Bytes &value)
    {
        imsd::ConfigValue v{};
        std::copy(value.begin(), value.end(), v.begin());
        return imsd::encode_config_conf(item, v);
    }
};

TEST_F(ImsConfig, RegistrationStateFollowsTheStacksRunStatus)
{
    // All ones is the state the module starts in; reported by the stack, it
    // makes the module ask again, as after loading.
    deliver(imsd::kMsgRunStatusInd, imsd::encode_run_status(0xFFFFFFFF));
    agent::set_result(-1); // a failed status query changes nothing for the host
    EXPECT_EQ(registration_state(), words({0, 1}));
    EXPECT_EQ(registration_state(), words({0, 1}));
    EXPECT_EQ(sent(), (std::vector<Sent>{{19, 112, {}}, {19, 112, {}}}));
    EXPECT_TRUE(host.logged("Reply to RIL --> IMS_REGISTRATION=0, format=1 "));

    const struct {
        Bytes status;
        int32_t answer;
        bool told;                                                // the host hears of the change
    } cases[] = {{{3, 0, 0, 0, 9}, 3, true}, {{5, 0}, 3, false}}; // too short
    for (const auto &c : cases) {
        SetUp();
        deliver(imsd::kMsgRunStatusInd, c.status);
        const auto u = host.unsolicited();
        ASSERT_EQ(u.size(), c.told ? 1u : 0u);
        EXPECT_TRUE(u.empty() || u[0].number == RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED);
        EXPECT_EQ(
            host.logged("zol_cm_callsvc_event_run_status_info_ind() entry:e_run_status_type=" +
                        std::to_string(c.status[0])),
            c.told);
        EXPECT_EQ(registration_state(), words({c.answer, 1}));
        EXPECT_TRUE(sent().empty()) << "a known state asks the stack nothing";
    }
}

TEST_F(ImsConfig, GetConfigurationIsAnsweredFromTheConfirmation)
{
    Bytes unterminated = config_conf(14, Bytes(50, 'a'));
    unterminated.resize(54);
    const struct {
        const char *item;
        Bytes conf;
        RIL_Errno error;
        std::string text;
    } cases[] = {
        {"3", config_conf(3, {'s', 'i', 'p', 0, 'x'}), RIL_E_SUCCESS, "sip"},
        {"abc", {0, 0, 0, 0}, RIL_E_SUCCESS, ""},                  // not a number: item 0
        {"2", {2, 0, 0, 0, 'a', 'b', 'c'}, RIL_E_SUCCESS, "abc"},  // ends with the message
        {"14", unterminated, RIL_E_SUCCESS, std::string(50, 'a')}, // or with its field
        {"1", {}, RIL_E_GENERIC_FAILURE, ""},                      // no item in the answer
        {"5", {5, 0, 0, 0, 1}, RIL_E_GENERIC_FAILURE, ""},         // integer cut short
    };
    for (const auto &c : cases) {
        SetUp();
        const RIL_Token t = token(336);
        request(RIL_REQUEST_IMS_GET_CONFIGRATION, texts({c.item}), t);
        EXPECT_EQ(waits_for(t), 0x17548u);
        const uint8_t item = c.conf.empty() ? 1 : c.conf[0];
        EXPECT_EQ(sent_one(), (Sent{20, 336, {item, 0, 0, 0}}));
        deliver(imsd::kMsgConfigConf, c.conf);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error) << c.item;
        EXPECT_EQ(done.len, c.error == RIL_E_SUCCESS ? sizeof(char *) : 0u);
        EXPECT_EQ(host.logged("Reply to RIL --> get cfg " + std::to_string(item) +
                              " result : " + c.text + "\n"),
                  c.error == RIL_E_SUCCESS);
    }
    EXPECT_TRUE(host.logged(
        "zol_cm_callsvc_event_get_cfg_conf(): confirmation of 5 bytes carries no value\n"));
}

} // namespace
