// What the SIP side puts on the wire and reads from it without libre: the relay
// layer around SMS, the service centre's conversions, the end causes and the
// options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sip/causes.h"
#include "sip/options.h"
#include "sip/rp.h"
#include "sms_pdu.h"
#include "text.h"

using namespace zol::imsd;
using namespace zol::imsd::sip;

namespace {

Bytes hex(const std::string &text)
{
    return parse_hex(text).value();
}

// SMS-SUBMIT to 1002 asking for a status report: "hello B", reference 5.
const std::string kSubmit = "210504810120000007E8329BFD060901";
const SmsTime kReceived{2024, 5, 6, 7, 8, 9};
const SmsTime kDelivered{2024, 5, 6, 7, 8, 10};

} // namespace

TEST(Relay, MessagesEncodeAndDecodeToTheOctet)
{
    const struct {
        const char *name;
        RpMessage message;
        std::string bytes;
    } cases[] = {
        {"data from the phone", {RpType::data_from_ms, 5, {}, {0x81, 0x21, 0xF3}, {1, 2}, 0},
         "0005000381 21F3020102"},
        {"data to the phone", {RpType::data_to_ms, 7, {0x81, 0x21, 0xF3}, {}, {0xAA, 0xBB}, 0},
         "01070381 21F30002AABB"},
        {"ack", {RpType::ack_to_ms, 9, {}, {}, {}, 0}, "0309"},
        {"ack with a report", {RpType::ack_from_ms, 9, {}, {}, {0xAA, 0xBB}, 0}, "02094102AABB"},
        {"error", {RpType::error_to_ms, 9, {}, {}, {}, 41}, "05090129"},
        {"memory available", {RpType::smma, 10, {}, {}, {}, 0}, "060A"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string compact;
        for (char ch : c.bytes) {
            if (ch != ' ') {
                compact += ch;
            }
        }
        EXPECT_EQ(hex_upper(encode_rp(c.message)), compact);
        std::string why;
        const auto back = decode_rp(hex(compact), why);
        ASSERT_TRUE(back) << why;
        EXPECT_EQ(back->type, c.message.type);
        EXPECT_EQ(back->ref, c.message.ref);
        EXPECT_EQ(back->originator, c.message.originator);
        EXPECT_EQ(back->destination, c.message.destination);
        EXPECT_EQ(back->user_data, c.message.user_data);
        EXPECT_EQ(back->cause, c.message.cause);
    }
    std::string why;
    const auto with_diagnostic = decode_rp(hex("0409022905"), why);
    ASSERT_TRUE(with_diagnostic);
    EXPECT_EQ(with_diagnostic->cause, 41);
}

TEST(Relay, MalformedMessagesAreRefused)
{
    for (const char *bad : {
             "",                       // nothing
             "00",                     // no reference
             "0701",                   // no such type
             "00050C",                 // originator longer than any address
             "000500038121F3",         // no user data
             "000500038121F300",       // empty user data
             "000500038121F30301",     // user data cut short
             "000500038121F3010100",   // an octet too many
             "050900",                 // cause of no length
             "0509032901020304",       // cause too long
             "03094201AA",             // not user data after an ack
             "03094105AA",             // its user data cut short
             "060A00",                 // memory available takes nothing more
         }) {
        std::string why;
        EXPECT_FALSE(decode_rp(hex(bad), why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(ServiceCentre, SubmitsAreReadWhateverTheirValidityPeriod)
{
    const struct {
        std::string tpdu;
        std::string number;
        bool report;
        std::string user_data;
    } good[] = {
        {kSubmit, "1002", true, "07E8329BFD060901"},
        {"110504810120 0000 AA 04E8342808", "1002", false, "04E8342808"},         // relative
        {"19050691942143 0000 11223344556677 04E8342808", "+491234", false, "04E8342808"},
        {"010504810120 0004 03 414243", "1002", false, "03414243"},              // 8-bit data
    };
    for (const auto &g : good) {
        std::string tpdu;
        for (char ch : g.tpdu) {
            if (ch != ' ') {
                tpdu += ch;
            }
        }
        SCOPED_TRACE(tpdu);
        std::string why;
        const auto submit = parse_submit(hex(tpdu), why);
        ASSERT_TRUE(submit) << why;
        EXPECT_EQ(submit->number, g.number);
        EXPECT_EQ(submit->wants_report(), g.report);
        EXPECT_EQ(hex_upper(submit->user_data), g.user_data);
    }
    for (const char *bad : {
             "0005048101200000",         // an SMS-DELIVER
             "2105048101200000",         // no user data length
             "210504810120000007E832",   // user data shorter than its length
             "2105 06D0E2B718 000003E2B718", // to an alphanumeric address
         }) {
        std::string compact;
        for (const char *p = bad; *p != 0; ++p) {
            if (*p != ' ') {
                compact += *p;
            }
        }
        std::string why;
        EXPECT_FALSE(parse_submit(hex(compact), why)) << bad;
    }
}

TEST(ServiceCentre, DeliversWhatWasSubmittedAndReportsIt)
{
    std::string why;
    const Submit submit = parse_submit(hex(kSubmit), why).value();
    const Bytes deliver = deliver_for(submit, tp_address_for("1001"), kReceived);
    // Status report indication set, from 1001, same coding, the time, same data.
    EXPECT_EQ(hex_upper(deliver), "2404810110000042506070809000" "07E8329BFD060901");
    Bytes as_host_gets = {0x00};
    as_host_gets.insert(as_host_gets.end(), deliver.begin(), deliver.end());
    EXPECT_EQ(check_sms_pdu(as_host_gets, TpduKind::deliver), "");
    EXPECT_EQ(mt_tpdu_type(deliver), 0u);

    const Bytes report = status_report_for(submit, kReceived, kDelivered);
    EXPECT_EQ(hex_upper(report), "0605048101204250607080900042506070800100" "00");
    Bytes report_as_host_gets = {0x00};
    report_as_host_gets.insert(report_as_host_gets.end(), report.begin(), report.end());
    EXPECT_EQ(check_sms_pdu(report_as_host_gets, TpduKind::status_report), "");
    EXPECT_EQ(mt_tpdu_type(report), 2u);
    EXPECT_FALSE(mt_tpdu_type(hex(kSubmit)));
}

TEST(ServiceCentre, AddressesForNumbersAndNames)
{
    EXPECT_EQ(hex_upper(tp_address_for("+4915")), "04919451");
    EXPECT_EQ(hex_upper(tp_address_for("1001")), "04810110");
    EXPECT_EQ(hex_upper(tp_address_for("bob")), "06D0E2B718");
    EXPECT_EQ(hex_upper(rp_address("1002")), "810120");
    EXPECT_TRUE(rp_address("bob").empty());
}

TEST(Causes, RingingAndUnlistedResponsesAreTakenIntoAccount)
{
    // What the table alone does not say: a call that rang and was not answered,
    // and responses by their class.
    const struct {
        uint16_t status;
        bool alerted;
        uint32_t cause;
    } rows[] = {
        {480, false, 18}, {480, true, 19}, {486, true, 17},  {499, false, 31},
        {599, false, 41}, {699, false, 31}, {302, false, 127},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(cause_for_status(r.status, r.alerted), r.cause) << r.status;
    }
    EXPECT_EQ(cause_for_silence(true), 102u);
    EXPECT_EQ(cause_for_silence(false), 38u);
}

TEST(SipOptions, AddressesAreLiteralAndValuesChecked)
{
    const struct {
        std::vector<std::string> args;
        int result;
        std::string check; // "registrar", "user", "local" or "expires" after a good parse
        std::string value;
    } cases[] = {
        {{"--sip-registrar", "127.0.0.1"}, 1, "registrar", "127.0.0.1:5060"},
        {{"--sip-registrar", "127.0.0.1:5070"}, 1, "registrar", "127.0.0.1:5070"},
        {{"--sip-user", "sip:1001@127.0.0.1"}, 1, "user", "1001"},
        {{"--sip-local", "127.0.0.1"}, 1, "local", "127.0.0.1:0"},
        {{"--sip-expires", "2"}, 1, "expires", "2"},
        {{"--socket", "x"}, 0, "", ""},
        {{"--sip-registrar", "localhost"}, -1, "", ""},
        {{"--sip-registrar", "127.0.0.1:70000"}, -1, "", ""},
        {{"--sip-registrar", "127.0.0.1:0"}, -1, "", ""},
        {{"--sip-user", "a b"}, -1, "", ""},
        {{"--sip-expires", "0"}, -1, "", ""},
        {{"--sip-timeout"}, -1, "", ""},
        {{"--sip-proxy", "127.0.0.1"}, -1, "", ""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv_text = {"zol-imsd"};
        argv_text.insert(argv_text.end(), c.args.begin(), c.args.end());
        std::vector<char *> argv;
        for (std::string &a : argv_text) {
            argv.push_back(a.data());
        }
        SipOptions options;
        std::string error;
        int i = 1;
        const int result = parse_option(static_cast<int>(argv.size()), argv.data(), i, options, error);
        EXPECT_EQ(result, c.result) << c.args[0] << " " << error;
        EXPECT_EQ(result < 0, !error.empty());
        if (c.check == "registrar") {
            EXPECT_TRUE(options.enabled);
            EXPECT_EQ(options.registrar.text(), c.value);
        } else if (c.check == "user") {
            EXPECT_EQ(options.user, c.value);
        } else if (c.check == "local") {
            EXPECT_EQ(options.local.text(), c.value);
        } else if (c.check == "expires") {
            EXPECT_EQ(std::to_string(options.expires_s), c.value);
        }
    }
}
