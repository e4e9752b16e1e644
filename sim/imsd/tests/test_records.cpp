// What the stack writes and reads, against literal bytes: the records the module
// exchanges with it, SMS PDUs, and the relay layer and service centre of the SIP
// side. The scenarios prove the common cases end to end; these pin the offsets,
// the limits and what is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call_records.h"
#include "records.h"
#include "reg_records.h"
#include "sip/causes.h"
#include "sip/rp.h"
#include "sms_pdu.h"
#include "sms_records.h"
#include "sups_records.h"
#include "text.h"

using namespace zol::imsd;
using namespace zol::imsd::sip;
using Bytes = std::vector<uint8_t>;

namespace {

void put(Bytes &b, size_t at, std::initializer_list<uint8_t> values)
{
    ASSERT_LE(at + values.size(), b.size());
    std::copy(values.begin(), values.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

void put_text(Bytes &b, size_t at, const std::string &text)
{
    ASSERT_LE(at + text.size(), b.size());
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

Bytes slice(const Bytes &b, size_t at, size_t n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                 b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Hex with blanks for readability.
Bytes hex(const std::string &text)
{
    std::string compact;
    for (char c : text) {
        if (c != ' ') {
            compact += c;
        }
    }
    const auto b = parse_hex(compact);
    EXPECT_TRUE(b) << text;
    return b.value_or(Bytes{});
}

Call make_call(uint8_t id, std::string number)
{
    Call c;
    c.id = id;
    c.number = std::move(number);
    return c;
}

} // namespace

TEST(CallList, TwoCallsByteByByteInCallIdOrder)
{
    CallTable table;
    Call b = make_call(7, "+4930123");
    b.type = CallType::video;
    b.state = CallState::held;
    b.video_dir = 3;
    b.mpty = 1;
    b.text = "conf";
    table.add(b);
    Call a = make_call(1, "5551234");
    a.dir = CallDir::mt;
    a.state = CallState::incoming;
    a.attr = 0x01020304;
    table.add(a);

    Bytes want(1 + 2 * 205, 0);
    want[0] = 2;
    put(want, 1, {0x01});
    put_text(want, 1 + 1, "5551234");
    put(want, 1 + 134, {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0}); // mt, voice, incoming
    put(want, 1 + 146, {0x04, 0x03, 0x02, 0x01});             // attribute, little-endian
    put(want, 1 + 201, {0xFF, 0xFF, 0xFF, 0xFF});
    put(want, 206, {0x07});
    put_text(want, 206 + 1, "+4930123");
    put(want, 206 + 134, {2, 0, 0, 0, 4, 0, 0, 0, 7, 0, 0, 0}); // mo, video, held
    put(want, 206 + 150, {0x01});
    put_text(want, 206 + 151, "conf");
    put(want, 206 + 201, {0x03, 0x00, 0x00, 0x00});
    EXPECT_EQ(encode_call_list(table), want);
    EXPECT_EQ(encode_call_list(CallTable{}), Bytes{0});
}

TEST(CallList, LongTextsAreCutAndKeepTheirTerminator)
{
    // The encoder cuts what the model would refuse, without spilling into the next field.
    for (const std::string extra : {"", "12345"}) {
        CallTable table;
        Call call = make_call(9, std::string(132, '9') + extra);
        call.text = std::string(49, 't') + extra;
        table.add(call);
        const Bytes p = encode_call_list(table);
        ASSERT_EQ(p.size(), 1u + 205u);
        EXPECT_EQ(std::string(p.begin() + 2, p.begin() + 2 + 132), std::string(132, '9'));
        EXPECT_EQ(slice(p, 1 + 133, 2), (Bytes{0, 0x02})) << "terminator, then the direction";
        EXPECT_EQ(std::string(p.begin() + 1 + 151, p.begin() + 1 + 200), std::string(49, 't'));
        EXPECT_EQ(slice(p, 1 + 200, 2), (Bytes{0, 0xFF})) << "terminator, then the video direction";
    }
}

TEST(CallRecords, RequestsStayInTheirFieldsAndShortOnesAreRefused)
{
    // A length byte beyond the digits field reads no further than the field.
    Bytes long_number(1655, '7');
    long_number[129] = 200;
    EXPECT_EQ(decode_dial(long_number)->number, std::string(128, '7'));
    const auto invite = decode_call_response(Bytes{44, 1, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(invite);
    EXPECT_EQ(invite->call_type, 0u) << "the 9-byte form has no type";

    EXPECT_FALSE(decode_dial(Bytes(1654)));
    EXPECT_FALSE(decode_call_response(Bytes(8)));
    EXPECT_FALSE(decode_release(Bytes{0xFF}));
    EXPECT_FALSE(decode_modify_request(Bytes(12)));
    EXPECT_FALSE(decode_modify_response(Bytes(16)));
    EXPECT_FALSE(decode_dtmf_start(Bytes{255}));
    EXPECT_FALSE(decode_split(Bytes{}));
    EXPECT_FALSE(decode_set_config(Bytes(53, 0)));
    EXPECT_FALSE(decode_sms_ack(Bytes(7, 0)));
    EXPECT_FALSE(decode_ss_request(Bytes(166, 0)));
}

TEST(CallRecords, TextsFillingTheirFieldsKeepATerminator)
{
    Call call = make_call(1, std::string(130, '9'));
    call.type = CallType::video;
    call.video_dir = 3;
    Bytes want(154);
    put(want, 0, {1});
    put_text(want, 1, std::string(127, '9'));
    put(want, 129, {127, 1, 0, 0, 0, 4, 0, 0, 0, 64, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0});
    EXPECT_EQ(encode_mt_invite(call), want);

    ConfigValue value{};
    value.fill('x');
    const Bytes full = encode_config_conf(3, value);
    ASSERT_EQ(full.size(), 55u);
    EXPECT_EQ(slice(full, 0, 5), (Bytes{3, 0, 0, 0, 'x'}));
    EXPECT_EQ(slice(full, 53, 2), (Bytes{'x', 0}));

    // The longest incoming PDU text; length and type follow at 600.
    const Bytes longest = encode_incoming_sms(std::string(599, 'F'), TpduType::deliver);
    EXPECT_EQ(slice(longest, 598, 10), (Bytes{'F', 0, 0x57, 2, 0, 0, 0, 0, 0, 0}));
}

TEST(ServiceRecords, LengthsCountNotTerminatorsAndPresenceFlagsDecide)
{
    Bytes req(321, 0);
    std::fill(req.begin(), req.begin() + 255, 'A');
    put(req, 255, {255, 0, 0, 0});
    put_text(req, 259, "+49170");
    put(req, 309, {6, 0, 0, 0, 7, 1, 0, 0, 1, 0, 0, 0});
    const auto sms = decode_send_sms(req);
    ASSERT_TRUE(sms);
    EXPECT_EQ(sms->pdu, std::string(255, 'A')) << "a full PDU field";
    EXPECT_EQ(sms->smsc, "+49170");
    EXPECT_EQ(sms->msg_ref, 263u);
    for (const auto &[at, length] : {std::pair{255, 256}, std::pair{309, 51}}) {
        Bytes b = req;
        put(b, static_cast<size_t>(at),
            {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
        EXPECT_FALSE(decode_send_sms(b)) << "length past its field at " << at;
    }
    req.push_back(0);
    EXPECT_FALSE(decode_send_sms(req)) << "longer than the record";

    Bytes op(167, 0);
    put(op, 0, {3, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 7});
    put_text(op, 14, "+861234");
    put(op, 59, {25});
    put(op, 64, {2, 0, 0, 0, 16});
    put_text(op, 73, "08:00-18:00");
    put_text(op, 107, "1234");
    const auto bare = decode_ss_request(op);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->number || bare->no_reply_time || bare->basic_service ||
                 bare->time_interval || bare->password)
        << "without their presence flags the bytes mean nothing";
    for (size_t flag : {9, 55, 60, 69, 103}) {
        put(op, flag, {1, 0, 0, 0});
    }
    const auto ss = decode_ss_request(op);
    ASSERT_TRUE(ss);
    EXPECT_EQ(ss->number, "+861234");
    EXPECT_EQ(ss->no_reply_time, 25);
    EXPECT_EQ(ss->basic_service, 2u);
    EXPECT_EQ(ss->service_class, 16);
    EXPECT_EQ(ss->time_interval, "08:00-18:00");
    EXPECT_EQ(ss->password, "1234");
    put(op, 13, {42});
    EXPECT_FALSE(decode_ss_request(op)) << "longer than the number field";
}

TEST(ServiceRecords, SupsConfirmations)
{
    EXPECT_EQ(slice(encode_ss_conf(true), 0, 9), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Code and status, each after its presence word: quiescent, provisioned,
    // registered, active.
    const Bytes status = encode_ss_status_conf(16, true);
    ASSERT_EQ(status.size(), kSsConfLen);
    EXPECT_EQ(slice(status, 0, 37), (Bytes{1, 0, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0, 1, 0,
                                           0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 0, 0}));
    EXPECT_EQ(slice(encode_ss_status_conf(1, false), 29, 8), Bytes(8, 0));

    const FwdFeature features[] = {
        {3, 1u, 1, true, true, "+861234", std::nullopt},
        {6, std::nullopt, 0, false, false, "", uint8_t{20}},
    };
    const Bytes conf = encode_fwd_list_conf(features);
    ASSERT_EQ(conf.size(), kSsConfLen);
    EXPECT_EQ(slice(conf, 5, 4), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(slice(conf, 159, 5), (Bytes{1, 0, 0, 0, 2}));
    const size_t e0 = 164;
    EXPECT_EQ(slice(conf, e0, 13), (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 25, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 33, 9), (Bytes{7, '+', '8', '6', '1', '2', '3', '4', 0}));
    EXPECT_EQ(slice(conf, e0 + 75, 13), (Bytes{0, 0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0}));
    const size_t e1 = 164 + 88;
    EXPECT_EQ(slice(conf, e1, 9), Bytes(9, 0)) << "no basic service, class 0";
    EXPECT_EQ(conf[e1 + 33], 0);
    EXPECT_EQ(slice(conf, e1 + 75, 13), (Bytes{1, 0, 0, 0, 20, 1, 0, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e1 + 88, kSsConfLen - e1 - 88), Bytes(kSsConfLen - e1 - 88, 0));
}

TEST(SmsPdu, ChecksEachKindAndSaysWhatIsWrong)
{
    const std::string deliver =
        "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
    const std::string report = "0006D60B911326880736F4111011719551401110117195714000";
    const struct {
        std::string pdu;
        TpduKind kind;
        std::string error; // empty: accepted; else a part of the message
    } cases[] = {
        {deliver, TpduKind::deliver, ""},
        {report + "030000", TpduKind::status_report, ""}, // PID and DCS, no user data
        // 8-bit data counts octets, not septets.
        {"00040B911326880736F40004111011719551400341424344", TpduKind::deliver, "user data of 4"},
        {report + "03", TpduKind::status_report, "protocol identifier missing"},
        {deliver.substr(0, deliver.size() - 2), TpduKind::deliver, "user data of 8"},
        // A bare TPDU reads its first octet as the SMSC length.
        {deliver.substr(16), TpduKind::deliver, "top bit"},
        {"00040B911326880736F4000011101171955140A1", TpduKind::deliver, "161 too large"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pdu);
        const std::string why = check_sms_pdu(hex(c.pdu), c.kind);
        if (c.error.empty()) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.error), std::string::npos) << why;
        }
    }
}

TEST(SmsPdu, SeptetsAndTheDeliverBuilder)
{
    EXPECT_EQ(gsm7_pack(Bytes(8, 0x7F)), Bytes(7, 0xFF)) << "eight septets fill seven octets";
    EXPECT_EQ(gsm7_septets("@$_[x]"), (Bytes{0x00, 0x02, 0x11, 0x1B, 0x3C, 0x78, 0x1B, 0x3E}));
    EXPECT_FALSE(gsm7_septets("`"));

    std::string error;
    const SmsTime time{2024, 3, 5, 12, 34, 56};
    const auto pdu = build_sms_deliver("+49170123456", "hellohello", time, error);
    ASSERT_TRUE(pdu) << error;
    EXPECT_EQ(*pdu, hex("00 040B919471103254F6 0000 42305021436500 0AE8329BFD4697D9EC37"));
    const auto national = build_sms_deliver("5551", std::string(160, 'a'), time, error);
    ASSERT_TRUE(national) << error;
    EXPECT_EQ(check_sms_pdu(*national, TpduKind::deliver), "");

    const struct {
        std::string from;
        std::string text;
        int year;
    } bad[] = {
        {"12a4", "hi", 2024},
        {"1", std::string(81, '['), 2024}, // escapes count twice
        {"1", "hi", 2100},
    };
    for (const auto &c : bad) {
        SCOPED_TRACE(c.from + " " + c.text);
        error.clear();
        EXPECT_FALSE(build_sms_deliver(c.from, c.text, SmsTime{c.year, 1, 1, 0, 0, 0}, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(Relay, MessagesEncodeAndDecodeToTheOctet)
{
    const struct {
        const char *name;
        RpMessage message;
        std::string bytes;
    } cases[] = {
        {"data from the phone",
         {RpType::data_from_ms, 5, {}, {0x81, 0x21, 0xF3}, {1, 2}, 0},
         "0005 00 0381 21F3 020102"},
        {"data to the phone",
         {RpType::data_to_ms, 7, {0x81, 0x21, 0xF3}, {}, {0xAA, 0xBB}, 0},
         "0107 0381 21F3 00 02AABB"},
        {"ack with a report", {RpType::ack_from_ms, 9, {}, {}, {0xAA, 0xBB}, 0}, "0209 4102AABB"},
        {"error", {RpType::error_to_ms, 9, {}, {}, {}, 41}, "0509 0129"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encode_rp(c.message), hex(c.bytes));
        std::string why;
        const auto back = decode_rp(hex(c.bytes), why);
        ASSERT_TRUE(back) << why;
        EXPECT_EQ(back->type, c.message.type);
        EXPECT_EQ(back->ref, c.message.ref);
        EXPECT_EQ(back->originator, c.message.originator);
        EXPECT_EQ(back->destination, c.message.destination);
        EXPECT_EQ(back->user_data, c.message.user_data);
        EXPECT_EQ(back->cause, c.message.cause);
    }
    // What another party may send: every malformed one is refused, with a reason.
    for (const char *bad : {"", "0701", "000500038121F30301", "0509032901020304", "03094105AA"}) {
        std::string why;
        EXPECT_FALSE(decode_rp(hex(bad), why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(ServiceCentre, ReadsSubmitsDeliversThemAndReports)
{
    // SMS-SUBMIT to 1002 asking for a status report: "hello B", reference 5.
    const std::string submit_hex = "210504810120000007E8329BFD060901";
    const struct {
        std::string tpdu;
        std::string number;
        bool report;
    } good[] = {
        {submit_hex, "1002", true},
        {"110504810120 0000 AA 04E8342808", "1002", false},                  // relative validity
        {"19050691942143 0000 11223344556677 04E8342808", "+491234", false}, // absolute
    };
    for (const auto &g : good) {
        SCOPED_TRACE(g.tpdu);
        std::string why;
        const auto submit = parse_submit(hex(g.tpdu), why);
        ASSERT_TRUE(submit) << why;
        EXPECT_EQ(submit->number, g.number);
        EXPECT_EQ(submit->wants_report(), g.report);
    }
    for (const char *bad :
         {"0005048101200000", "210504810120000007E832", "2105 06D0E2B718 000003E2B718"}) {
        std::string why;
        EXPECT_FALSE(parse_submit(hex(bad), why)) << bad;
    }

    std::string why;
    const Submit submit = parse_submit(hex(submit_hex), why).value();
    const SmsTime received{2024, 5, 6, 7, 8, 9};
    // Status report indication set, from 1001, same coding, the time, same data.
    EXPECT_EQ(deliver_for(submit, tp_address_for("1001"), received),
              hex("24 04810110 0000 42506070809000 07E8329BFD060901"));
    EXPECT_EQ(status_report_for(submit, received, SmsTime{2024, 5, 6, 7, 8, 10}),
              hex("0605 04810120 42506070809000 42506070800100 00"));
    EXPECT_EQ(tp_address_for("bob"), hex("06D0E2B718"));
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
        {480, false, 18}, {480, true, 19},  {486, true, 17},   {499, false, 31},
        {599, false, 41}, {699, false, 31}, {302, false, 127},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(cause_for_status(r.status, r.alerted), r.cause) << r.status;
    }
    EXPECT_EQ(cause_for_silence(true), 102u);
    EXPECT_EQ(cause_for_silence(false), 38u);
}
