// What the stack writes and reads, against literal bytes: the records the module
// exchanges with it, SMS PDUs, and the relay layer and service centre of the SIP
// side. The scenarios and the two-phone SIP test prove the common cases end to
// end; these pin the offsets, the limits and what is refused.
#include <gtest/gtest.h>

#include <sstream>
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

namespace {

// Hex with blanks for readability.
Bytes hex(std::string text)
{
    std::erase(text, ' ');
    const auto b = parse_hex(text);
    EXPECT_TRUE(b) << text;
    return b.value_or(Bytes{});
}

// `n` bytes, zero but for the pieces given at their offsets: "at:hex ..." and texts.
Bytes layout(size_t n, const std::string &pieces,
             std::initializer_list<std::pair<size_t, std::string>> texts = {})
{
    Bytes b(n, 0);
    const auto place = [&b](size_t at, const Bytes &piece) {
        EXPECT_LE(at + piece.size(), b.size()) << at;
        std::copy_n(piece.begin(), std::min(piece.size(), b.size() - std::min(at, b.size())),
                    b.begin() + static_cast<std::ptrdiff_t>(std::min(at, b.size())));
    };
    std::istringstream in(pieces);
    for (std::string piece; in >> piece;) {
        const size_t colon = piece.find(':');
        place(std::stoul(piece.substr(0, colon)), hex(piece.substr(colon + 1)));
    }
    for (const auto &[at, t] : texts) {
        place(at, Bytes(t.begin(), t.end()));
    }
    return b;
}

Call make_call(uint8_t id, std::string number)
{
    Call c;
    c.id = id;
    c.number = std::move(number);
    return c;
}

} // namespace

// Every record the stack writes, byte for byte: what is not listed is zero.
TEST(Records, EachLayoutByteForByte)
{
    // Texts longer than their fields are cut without spilling into the next one.
    CallTable two;
    Call b = make_call(7, std::string(132, '9') + "12345");
    b.type = CallType::video;
    b.state = CallState::held;
    b.video_dir = 3;
    b.mpty = 1;
    b.text = std::string(49, 't') + "12345";
    two.add(b);
    Call a = make_call(1, "5551234");
    a.dir = CallDir::mt;
    a.state = CallState::incoming;
    a.attr = 0x01020304;
    two.add(a);
    Call invite = make_call(1, std::string(130, '9'));
    invite.type = CallType::video;
    invite.video_dir = 3;
    ConfigValue value{};
    value.fill('x');
    const FwdFeature features[] = {
        {3, 1u, 1, true, true, "+861234", std::nullopt},
        {6, std::nullopt, 0, false, false, "", uint8_t{20}},
    };
    const struct {
        const char *name;
        Bytes got;
        Bytes want;
    } cases[] = {
        {"call list: in id order; dir, type, state; attribute little-endian; texts cut",
         encode_call_list(two),
         layout(1 + 2 * 205,
                "0:0201 135:01000000010000000300000004030201 202:FFFFFFFF07 "
                "340:020000000400000007000000 356:01 407:03",
                {{2, "5551234"}, {207, std::string(132, '9')}, {357, std::string(49, 't')}})},
        {"incoming call: number cut to its field", encode_mt_invite(invite),
         layout(154, "0:01 129:7F010000000400000040000000030000000300",
                {{1, std::string(127, '9')}})},
        {"configuration value filling its field", encode_config_conf(3, value),
         layout(55, "0:03", {{4, std::string(50, 'x')}})},
        {"the longest incoming PDU text; length and type follow at 600",
         encode_incoming_sms(std::string(599, 'F'), TpduType::deliver),
         layout(608, "600:5702", {{0, std::string(599, 'F')}})},
        // Code and status, each after its presence word: quiescent, provisioned,
        // registered, active.
        {"service status, active", encode_ss_status_conf(16, true),
         layout(kSsConfLen, "0:01 5:05 9:01 13:10 17:01 25:01 29:01 33:01")},
        // Two entries of 88 bytes from 164: basic service, class, status, number;
        // the second has no basic service and a no-reply time.
        {"forwarding list", encode_fwd_list_conf(features),
         layout(kSsConfLen,
                "0:01 5:03 159:01 163:0201 168:01 172:0101 181:01 185:01 189:01 193:01 197:07 "
                "244:01 248:03 261:01 269:01 327:01 331:1401 336:06",
                {{198, "+861234"}})},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.got, c.want) << c.name;
    }
}

TEST(RequestRecords, FieldsBoundWhatIsReadAndShortRecordsAreRefused)
{
    // A length byte beyond the digits field reads no further than the field.
    Bytes long_number(1655, '7');
    long_number[129] = 200;
    EXPECT_EQ(decode_dial(long_number)->number, std::string(128, '7'));
    EXPECT_EQ(decode_call_response(Bytes{44, 1, 0, 0, 0, 0, 0, 0, 0})->call_type, 0u)
        << "the 9-byte form has no type";
    EXPECT_FALSE(decode_dial(Bytes(1654)) || decode_call_response(Bytes(8)) ||
                 decode_release(Bytes{0xFF}) || decode_modify_request(Bytes(12)) ||
                 decode_modify_response(Bytes(16)) || decode_dtmf_start(Bytes{255}) ||
                 decode_split(Bytes{}) || decode_set_config(Bytes(53, 0)) ||
                 decode_sms_ack(Bytes(7, 0)) || decode_ss_request(Bytes(166, 0)));

    // SMS: lengths count, not terminators; a full PDU field is read whole.
    const Bytes req =
        layout(321, "255:FF 309:060000000701000001", {{0, std::string(255, 'A')}, {259, "+49170"}});
    const auto sms = decode_send_sms(req);
    ASSERT_TRUE(sms);
    EXPECT_EQ(sms->pdu, std::string(255, 'A'));
    EXPECT_EQ(sms->smsc, "+49170");
    EXPECT_EQ(sms->msg_ref, 263u);
    Bytes longer = req;
    longer[256] = 1; // 256: past its field
    EXPECT_FALSE(decode_send_sms(longer));

    // Services: without their presence flags the bytes mean nothing.
    const std::string ss_bytes = "0:0300000000060000000000000007 59:19 64:0200000010";
    const std::initializer_list<std::pair<size_t, std::string>> ss_texts = {
        {14, "+861234"}, {73, "08:00-18:00"}, {107, "1234"}};
    const auto bare = decode_ss_request(layout(167, ss_bytes, ss_texts));
    EXPECT_TRUE(bare && !bare->number && !bare->no_reply_time && !bare->password);
    const std::string flags = " 9:01 55:01 60:01 69:01 103:01";
    const auto ss = decode_ss_request(layout(167, ss_bytes + flags, ss_texts));
    ASSERT_TRUE(ss);
    EXPECT_EQ(ss->number, "+861234");
    EXPECT_EQ(ss->no_reply_time, 25);
    EXPECT_EQ(ss->basic_service, 2u);
    EXPECT_EQ(ss->service_class, 16);
    EXPECT_EQ(ss->time_interval, "08:00-18:00");
    EXPECT_EQ(ss->password, "1234");
    EXPECT_FALSE(decode_ss_request(layout(167, ss_bytes + flags + " 13:2A", ss_texts)))
        << "longer than the number field";
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
    EXPECT_FALSE(build_sms_deliver("1", std::string(81, '['), time, error))
        << "escapes count twice";

    // What the checker reads that the scenarios' PDUs do not show: 8-bit data
    // counts octets, and a status report may end after its optional fields.
    EXPECT_NE(
        check_sms_pdu(hex("00040B911326880736F40004111011719551400341424344"), TpduKind::deliver)
            .find("user data of 4"),
        std::string::npos);
    EXPECT_EQ(check_sms_pdu(hex("0006D60B911326880736F4111011719551401110117195714000030000"),
                            TpduKind::status_report),
              "");
}

TEST(Relay, MessagesEncodeAndDecodeToTheOctet)
{
    const struct {
        RpMessage message;
        std::string bytes;
    } cases[] = {
        {{RpType::data_from_ms, 5, {}, {0x81, 0x21, 0xF3}, {1, 2}, 0}, "0005 00 0381 21F3 020102"},
        {{RpType::data_to_ms, 7, {0x81, 0x21, 0xF3}, {}, {0xAA, 0xBB}, 0},
         "0107 0381 21F3 00 02AABB"},
        {{RpType::ack_from_ms, 9, {}, {}, {0xAA, 0xBB}, 0}, "0209 4102AABB"},
        {{RpType::error_to_ms, 9, {}, {}, {}, 41}, "0509 0129"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(encode_rp(c.message), hex(c.bytes));
        std::string why;
        const auto back = decode_rp(hex(c.bytes), why);
        ASSERT_TRUE(back) << why;
        EXPECT_EQ(encode_rp(*back), hex(c.bytes)) << "every field read back";
    }
    // What another party may send: every malformed one is refused, with a reason.
    for (const char *bad : {"", "0701", "000500038121F30301", "0509032901020304", "03094105AA"}) {
        std::string why;
        EXPECT_FALSE(decode_rp(hex(bad), why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

// Submissions with each validity period; the two-phone SIP test delivers one
// without and asks for its report.
TEST(ServiceCentre, ReadsSubmitsAndRefusesBrokenOnes)
{
    const struct {
        std::string tpdu;
        std::string number;
        bool report;
    } good[] = {
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
    EXPECT_EQ(tp_address_for("bob"), hex("06D0E2B718"));
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
