// SMS over IMS through the module: the status that answers a send, incoming
// messages and status reports.
#include "fixture.h"

using namespace zol_kit;

namespace {

class Sms : public ModuleTest {
protected:
    RIL_Token send()
    {
        RIL_Token t = token(113);
        request(RIL_REQUEST_IMS_SEND_SMS, ims_sms(nullptr, "00"), t);
        return t;
    }
};

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
        RIL_Token t = send();
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
                  &c == &cases[1]);
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
