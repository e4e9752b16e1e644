// SMS over IMS through the module: send and its status, acknowledge,
// incoming messages and status reports.
#include "handler_fixture.h"

using namespace zol_test;

namespace {

class Sms : public HandlerTest {
protected:
    RIL_Token send(const char *smsc, const char *pdu, int tech = RADIO_TECH_3GPP)
    {
        RIL_Token t = token(113);
        const char *texts[] = {smsc, pdu};
        RIL_IMS_SMS_Message msg{static_cast<RIL_RadioTechnologyFamily>(tech), 0, 77, {}};
        msg.message.gsmMessage = const_cast<char **>(texts);
        radio()->onRequest(RIL_REQUEST_IMS_SEND_SMS, &msg, sizeof msg, t);
        return t;
    }

    // The 321-byte send record of a 3GPP message with reference 77.
    static Bytes send_record(const std::string &smsc, const std::string &pdu)
    {
        Bytes b(321, 0);
        put32(put_text(put32(put_text(b, 0, pdu), 255, static_cast<uint32_t>(pdu.size())), 259, smsc), 309,
              static_cast<uint32_t>(smsc.size()));
        return put32(put32(b, 313, 77), 317, 1);
    }
};

TEST_F(Sms, SendRecordAndItsTexts)
{
    const std::string smsc20 = "0891683108200105F0AB", pdu40(40, 'C'), smsc50(50, '9'), pdu254(254, 'A');
    struct Case {
        const char *smsc;
        std::string pdu;
        Bytes expected;
        std::string smsc_line;
    } cases[] = {
        {smsc20.c_str(), pdu40, send_record(smsc20, pdu40), smsc20 + ", smsc addr len = 20"},
        {nullptr, "0011", send_record("", "0011"), ", smsc addr  len = 0"},
        {smsc50.c_str(), pdu254, send_record(smsc50, pdu254), smsc50 + ", smsc addr len = 50"},
        {"12", pdu254 + "A", send_record("12", ""), "12, smsc addr len = 2"}, // too long: sent empty
    };
    for (const Case &c : cases) {
        host.reset();
        agent->clear();
        RIL_Token t = send(c.smsc, c.pdu.c_str());
        EXPECT_EQ(sent_one(), std::make_pair(uint16_t{61}, c.expected));
        EXPECT_EQ(waits_for(t), 0x17597u);
        EXPECT_TRUE(host.completions().empty());
        EXPECT_TRUE(host.logged(c.smsc_line));
        EXPECT_EQ(host.logged(c.pdu + ", pdu len = " + std::to_string(c.pdu.size())), c.pdu.size() < 255);
        EXPECT_TRUE(host.logged("3GPP 1.\n"));
    }
}

TEST_F(Sms, UnusableSendsAreRefused)
{
    const std::string smsc51(51, '1');
    const char *texts[3][2] = {{nullptr, "00"}, {"12", nullptr}, {smsc51.c_str(), "00"}};
    const int techs[3] = {RADIO_TECH_3GPP2, RADIO_TECH_3GPP, RADIO_TECH_3GPP};
    for (int i = 0; i < 3; ++i) {
        RIL_IMS_SMS_Message msg{static_cast<RIL_RadioTechnologyFamily>(techs[i]), 0, 1, {}};
        msg.message.gsmMessage = const_cast<char **>(texts[i]);
        expect_refused(RIL_REQUEST_IMS_SEND_SMS, &msg, sizeof msg);
    }
    const RIL_IMS_SMS_Message no_texts{RADIO_TECH_3GPP, 0, 1, {}};
    expect_refused(RIL_REQUEST_IMS_SEND_SMS, &no_texts, sizeof no_texts);
    expect_refused(RIL_REQUEST_IMS_SEND_SMS, &no_texts, 8);
    expect_refused(RIL_REQUEST_IMS_SEND_SMS, nullptr, 0);
}

TEST_F(Sms, SendStatusCompletesTheOldestSend)
{
    struct Case {
        Bytes status;
        RIL_Errno error;
        int record_error;
        std::string line;
    } cases[] = {
        {{7, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0, 0, 0, 0}, RIL_E_SUCCESS, 0, "errorcode = 0,  messageref= 7 SUCCESS"},
        {{7, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0}, RIL_E_SMS_SEND_FAIL_RETRY, 10, "errorcode = 10,  messageref= 7 TIMEROUT"},
        {{7, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}, RIL_E_GENERIC_FAILURE, 5, "errorcode = 5,  messageref= 7"},
        {{7, 0, 0, 0, 0, 0, 0, 0}, RIL_E_GENERIC_FAILURE, -1, ""}, // too short for its error code
    };
    for (const Case &c : cases) {
        zol_reqlist_init();
        host.reset();
        RIL_Token t = send(nullptr, "00"), younger = send(nullptr, "00");
        deliver(30103, c.status);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error);
        RIL_SMS_Response r{-9, nullptr, -9};
        ASSERT_EQ(done.data.size(), sizeof r);
        memcpy(&r, done.data.data(), sizeof r);
        EXPECT_EQ(r.messageRef, 7);
        EXPECT_EQ(r.ackPDU, nullptr);
        EXPECT_EQ(r.errorCode, c.record_error);
        EXPECT_TRUE(c.line.empty() || host.logged(c.line)) << c.line;
        EXPECT_TRUE(host.wait_logged(" zol_sms_event_send_msg_status_ind(), success"));
        EXPECT_EQ(waits_for(younger), 0x17597u);
    }
    zol_reqlist_init();
    deliver(30103, cases[0].status);
    EXPECT_TRUE(host.wait_logged(" zol_sms_event_send_msg_status_ind(), error"));
    EXPECT_EQ(host.completions().size(), 1u);

    agent->set_send_result(-1); // a failed send is answered at once, with the retry code
    RIL_Token t = send(nullptr, "00");
    EXPECT_EQ(completion(t).error, RIL_E_SMS_SEND_FAIL_RETRY);
    EXPECT_TRUE(host.logged("Reply to RIL --> send sms fail,\n"));
    EXPECT_EQ(waits_for(t), 0u);
}

TEST_F(Sms, AcknowledgeSendsTheHostsVerdict)
{
    struct Case {
        int32_t words[2];
        int send_result;
        Bytes payload; // empty: nothing sent
        RIL_Errno error;
    } cases[] = {
        {{1, 0}, 0, {1, 0, 0, 0, 0, 0, 0, 0}, RIL_E_SUCCESS},
        {{0, 7}, 0, {0, 0, 0, 0, 255, 0, 0, 0}, RIL_E_SUCCESS},
        {{1, 0}, 4, {1, 0, 0, 0, 0, 0, 0, 0}, RIL_E_GENERIC_FAILURE},
        {{2, 0}, 0, {}, RIL_E_GENERIC_FAILURE},
    };
    for (const Case &c : cases) {
        host.reset();
        agent->clear();
        agent->set_send_result(c.send_result);
        RIL_Token t = token(37);
        radio()->onRequest(RIL_REQUEST_SMS_ACKNOWLEDGE, const_cast<int32_t *>(c.words), sizeof c.words, t);
        EXPECT_EQ(completion(t).error, c.error);
        EXPECT_EQ(sent(), (c.payload.empty() ? Sent{} : Sent{{62, c.payload}}));
        EXPECT_EQ(host.logged("Reply to RIL --> send ack fail,\n"), c.error != RIL_E_SUCCESS);
    }
    const auto log = host.log_lines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogLine &l) {
        return l.text == "unsupported arg to RIL_REQUEST_SMS_ACKNOWLEDGE\n" && l.buffer == LOG_ID_MAIN &&
               l.priority == ANDROID_LOG_ERROR && l.tag == "IMS-ref-zol";
    }));
    expect_refused(RIL_REQUEST_SMS_ACKNOWLEDGE, nullptr, 0);
}

TEST_F(Sms, IncomingMessagesAndStatusReports)
{
    const std::string apdu(44, 'D');
    struct Case {
        uint32_t tpdu_type, apdu_len;
        int number; // 0: not forwarded
        size_t len;
        const char *typed_line;
    } cases[] = {
        {0, 44, RIL_UNSOL_RESPONSE_NEW_SMS, 44, "RIL_UNSOL_RESPONSE_NEW_SMS "},
        {2, 44, RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, 44, "RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT "},
        {0, 900, RIL_UNSOL_RESPONSE_NEW_SMS, 600, "RIL_UNSOL_RESPONSE_NEW_SMS "}, // only its field
        {1, 44, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        host.reset();
        Bytes ind(608, 0);
        deliver(30102, put32(put32(put_text(ind, 0, apdu), 600, c.apdu_len), 604, c.tpdu_type));
        ASSERT_TRUE(host.wait_logged("zol_sms_event_mt_msg_ind() exit"));
        const std::string values = "apdu = " + apdu + ",  len = " + std::to_string(c.apdu_len) +
                                   ", tpdu type = " + std::to_string(c.tpdu_type);
        EXPECT_TRUE(host.logged(values));
        EXPECT_TRUE(c.typed_line == nullptr || host.logged(c.typed_line + values));
        const auto u = host.unsolicited();
        ASSERT_EQ(u.size(), c.number != 0 ? 1u : 0u);
        if (c.number != 0) {
            EXPECT_EQ(u[0].number, c.number);
            EXPECT_EQ(u[0].len, c.len);
            EXPECT_EQ(std::string(u[0].data.begin(), u[0].data.begin() + 44), apdu);
        }
    }
    // A text filling its field is cut at the field; a short indication is dropped.
    host.reset();
    Bytes full(608, 'E');
    deliver(30102, put32(put32(full, 600, 600), 604, 0));
    deliver(30102, Bytes(100, 'F'));
    ASSERT_TRUE(host.wait_until([&] { return host.count_logged("zol_sms_event_mt_msg_ind() exit") == 2; }));
    ASSERT_EQ(host.unsolicited().size(), 1u);
    EXPECT_EQ(host.unsolicited()[0].data.back(), 0);
}

} // namespace
