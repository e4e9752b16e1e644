// SMS over IMS through the module: send and its status, acknowledge,
// incoming messages and status reports.
#include "fixture.h"

using namespace zol_kit;

namespace {

class Sms : public ModuleTest {
protected:
    RIL_Token send(const char *smsc, const char *pdu, int tech = RADIO_TECH_3GPP)
    {
        RIL_Token t = token(113);
        const char *texts[] = {smsc, pdu};
        RIL_IMS_SMS_Message msg{static_cast<RIL_RadioTechnologyFamily>(tech), 0, 77, {}};
        msg.message.gsmMessage = const_cast<char **>(texts);
        request(RIL_REQUEST_IMS_SEND_SMS, bytes_of(msg), t);
        return t;
    }
    // The 321-byte send record of a 3GPP message with reference 77.
    static Bytes send_record(const std::string &smsc, const std::string &pdu)
    {
        return image(321, {{0, text(pdu)},
                           {255, le32(static_cast<uint32_t>(pdu.size()))},
                           {259, text(smsc)},
                           {309, le32(static_cast<uint32_t>(smsc.size()))},
                           {313, le32(77)},
                           {317, le32(1)}});
    }
};

// The send record carries both texts with their lengths; a PDU too long for
// its field goes empty.
TEST_F(Sms, SendRecordAndItsTexts)
{
    const std::string smsc20 = "0891683108200105F0AB", pdu40(40, 'C'), smsc50(50, '9'),
                      pdu254(254, 'A');
    const struct {
        const char *smsc;
        std::string pdu;
        Bytes expected;
    } cases[] = {
        {"12", pdu254 + "A", send_record("12", "")},
        {nullptr, "0011", send_record("", "0011")},
        {smsc50.c_str(), pdu254, send_record(smsc50, pdu254)},
        {smsc20.c_str(), pdu40, send_record(smsc20, pdu40)},
    };
    for (const auto &c : cases) {
        SetUp();
        RIL_Token t = send(c.smsc, c.pdu.c_str());
        EXPECT_EQ(sent_one(), (Sent{61, 113, c.expected}));
        EXPECT_EQ(waits_for(t), 0x17597u);
        EXPECT_TRUE(host.completions().empty());
    }
    EXPECT_TRUE(host.logged(smsc20 + ", smsc addr len = 20") &&
                host.logged(pdu40 + ", pdu len = 40"));
}

TEST_F(Sms, SendStatusAnswersWithAResponseRecord)
{
    Bytes unread_word = imsd::encode_send_status(7, 0),
          short_status = imsd::encode_send_status(7, 0);
    put32(unread_word, 4, 0xEEEEEEEE);
    short_status.resize(8); // too short for its error code
    const struct {
        Bytes status;
        RIL_Errno error;
        int record_error;
        std::string line;
    } cases[] = {
        {unread_word, RIL_E_SUCCESS, 0, "errorcode = 0,  messageref= 7 SUCCESS"},
        {imsd::encode_send_status(7, 10), RIL_E_SMS_SEND_FAIL_RETRY, 10, ""},
        {imsd::encode_send_status(7, 5), RIL_E_GENERIC_FAILURE, 5, ""},
        {short_status, RIL_E_GENERIC_FAILURE, -1, ""},
    };
    for (const auto &c : cases) {
        SetUp();
        RIL_Token t = send(nullptr, "00");
        deliver(imsd::kMsgSmsSendStatus, c.status);
        const Completion done = completion(t);
        EXPECT_EQ(done.error, c.error);
        RIL_SMS_Response r{-9, nullptr, -9};
        ASSERT_EQ(done.data.size(), sizeof r);
        memcpy(&r, done.data.data(), sizeof r);
        EXPECT_TRUE(r.messageRef == 7 && r.ackPDU == nullptr && r.errorCode == c.record_error);
        EXPECT_TRUE(c.line.empty() || host.logged(c.line)) << c.line;
    }
}

TEST_F(Sms, AcknowledgeSendsTheHostsVerdict)
{
    const struct {
        Bytes words;
        Bytes payload; // empty: nothing sent
        RIL_Errno error;
    } cases[] = {
        {words({1, 0}), words({1, 0}), RIL_E_SUCCESS},
        {words({0, 7}), words({0, 255}), RIL_E_SUCCESS},
        {words({2, 0}), {}, RIL_E_GENERIC_FAILURE},
    };
    for (const auto &c : cases) {
        SetUp();
        RIL_Token t = token(37);
        request(RIL_REQUEST_SMS_ACKNOWLEDGE, c.words, t);
        EXPECT_EQ(completion(t).error, c.error);
        EXPECT_EQ(sent(), (c.payload.empty() ? std::vector<Sent>{}
                                             : std::vector<Sent>{{62, 37, c.payload}}));
        EXPECT_EQ(host.logged("Reply to RIL --> send ack fail,\n"), c.error != RIL_E_SUCCESS);
    }
    const auto log = host.log_lines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogLine &l) {
        return l.text == "unsupported arg to RIL_REQUEST_SMS_ACKNOWLEDGE\n" &&
               l.buffer == LOG_ID_MAIN && l.priority == ANDROID_LOG_ERROR && l.tag == "IMS-ref-zol";
    }));
}

TEST_F(Sms, IncomingMessagesAndStatusReports)
{
    const std::string apdu(44, 'D');
    Bytes too_long = imsd::encode_incoming_sms(apdu, imsd::TpduType::deliver), full(608, 'E');
    Bytes submit = imsd::encode_incoming_sms(apdu, imsd::TpduType::deliver);
    put32(too_long, 600, 900);
    put32(submit, 604, 1);
    put32(put32(full, 600, 600), 604, 0);
    const struct {
        Bytes ind;
        int number; // 0: not forwarded
        size_t len;
        bool cut = false; // the text ends inside its field
    } cases[] = {
        {imsd::encode_incoming_sms(apdu, imsd::TpduType::deliver), RIL_UNSOL_RESPONSE_NEW_SMS, 44},
        {too_long, RIL_UNSOL_RESPONSE_NEW_SMS, 600}, // only its field
        {submit, 0, 0},
        {full, RIL_UNSOL_RESPONSE_NEW_SMS, 600, true}, // a text filling its field is cut there
        {Bytes(100, 'F'), 0, 0},                       // a short indication is dropped
        {imsd::encode_incoming_sms(apdu, imsd::TpduType::status_report),
         RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, 44},
    };
    for (const auto &c : cases) {
        SetUp();
        deliver(imsd::kMsgIncomingSms, c.ind);
        const auto u = host.unsolicited();
        EXPECT_EQ(host.logged("zol_sms_event_mt_msg_ind(): tpdu type 1 not forwarded\n"),
                  &c == &cases[2]);
        ASSERT_EQ(u.size(), c.number != 0 ? 1u : 0u);
        if (c.number != 0) {
            EXPECT_EQ(u[0].number, c.number);
            EXPECT_EQ(u[0].len, c.len);
            Bytes expected(c.ind.begin(), c.ind.begin() + static_cast<std::ptrdiff_t>(c.len));
            expected.back() = c.cut ? 0 : expected.back();
            EXPECT_EQ(u[0].data, expected);
        }
    }
    EXPECT_TRUE(host.logged("RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT apdu = " + apdu +
                            ",  len = 44, tpdu type = 2"));
}

} // namespace
