// 3GPP PDU checks and the SMS-DELIVER builder, against published and hand-made PDUs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sms_pdu.h"
#include "text.h"

using namespace zol::imsd;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes hex(const std::string &s)
{
    const auto b = parse_hex(s);
    EXPECT_TRUE(b) << s;
    return b.value_or(Bytes{});
}

// "hellohello" from +27838890001 through SMSC +27381000015, the textbook example.
const std::string kDeliver =
    "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
const std::string kStatusReport = "0006D60B911326880736F4111011719551401110117195714000";

} // namespace

TEST(SmsPdu, ChecksEachKindAndSaysWhatIsWrong)
{
    const struct {
        std::string pdu;
        TpduKind kind;
        std::string error; // empty: accepted; else a part of the message
    } cases[] = {
        {kDeliver, TpduKind::deliver, ""},
        {kStatusReport, TpduKind::status_report, ""},
        // 8-bit data counts octets, not septets.
        {"00040B911326880736F40004111011719551400341424344", TpduKind::deliver, "user data of 4"},
        {"00040B911326880736F4000411101171955140034142 43", TpduKind::deliver, ""},
        // A status report with parameter indicator, PID and DCS but no user data.
        {kStatusReport + "030000", TpduKind::status_report, ""},
        {kStatusReport + "03", TpduKind::status_report, "protocol identifier missing"},
        {kStatusReport + "0000", TpduKind::status_report, "1 octets after"},
        {kDeliver, TpduKind::status_report, "not an SMS-STATUS-REPORT"},
        {kStatusReport, TpduKind::deliver, "not an SMS-DELIVER"},
        {kDeliver.substr(0, kDeliver.size() - 2), TpduKind::deliver, "user data of 8"},
        // A bare TPDU reads its first octet as the SMSC length.
        {kDeliver.substr(16), TpduKind::deliver, "top bit"},
        {"00", TpduKind::deliver, "no TPDU"},
        {"0004159100", TpduKind::deliver, "21 digits"},
        {"00040B91132688", TpduKind::deliver, "cut short"},
        {"00040B911326880736F400001110117195", TpduKind::deliver, "before the user data"},
        {"00040B911326880736F4000011101171955140A1", TpduKind::deliver, "161 too large"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pdu);
        std::string compact;
        for (char ch : c.pdu) {
            if (ch != ' ') {
                compact += ch;
            }
        }
        const std::string why = check_sms_pdu(hex(compact), c.kind);
        if (c.error.empty()) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.error), std::string::npos) << why;
        }
    }
}

TEST(SmsPdu, SeptetsAndPacking)
{
    EXPECT_EQ(gsm7_pack(*gsm7_septets("hellohello")), hex("E8329BFD4697D9EC37"));
    // Eight septets fill exactly seven octets.
    EXPECT_EQ(gsm7_pack(Bytes(8, 0x7F)), Bytes(7, 0xFF));
    EXPECT_EQ(gsm7_septets("@$_ A"), (Bytes{0x00, 0x02, 0x11, 0x20, 0x41}));
    EXPECT_EQ(gsm7_septets("[x]"), (Bytes{0x1B, 0x3C, 0x78, 0x1B, 0x3E}));
    EXPECT_FALSE(gsm7_septets("caf\xc3\xa9"));
    EXPECT_FALSE(gsm7_septets("`"));
    EXPECT_TRUE(gsm7_pack({}).empty());
}

TEST(SmsPdu, BuildsADeliverThatChecksOut)
{
    std::string error;
    const SmsTime time{2024, 3, 5, 12, 34, 56};
    const auto pdu = build_sms_deliver("+49170123456", "hellohello", time, error);
    ASSERT_TRUE(pdu) << error;
    EXPECT_EQ(*pdu, hex("00040B919471103254F60000423050214365000AE8329BFD4697D9EC37"));
    EXPECT_EQ(check_sms_pdu(*pdu, TpduKind::deliver), "");

    const auto national = build_sms_deliver("5551", "", time, error);
    ASSERT_TRUE(national) << error;
    EXPECT_EQ(*national, hex("0004048155150000423050214365" "0000"));
    EXPECT_EQ(check_sms_pdu(*national, TpduKind::deliver), "");

    const auto longest = build_sms_deliver("1", std::string(160, 'a'), time, error);
    ASSERT_TRUE(longest);
    EXPECT_EQ(check_sms_pdu(*longest, TpduKind::deliver), "");

    const struct {
        std::string from;
        std::string text;
        int year;
    } bad[] = {
        {"", "hi", 2024},
        {"12a4", "hi", 2024},
        {std::string(21, '1'), "hi", 2024},
        {"1", std::string(161, 'a'), 2024},
        {"1", std::string(81, '['), 2024}, // escapes count twice
        {"1", "\xc3\xa9", 2024},
        {"1", "hi", 2100},
    };
    for (const auto &c : bad) {
        SCOPED_TRACE(c.from + " " + c.text);
        error.clear();
        EXPECT_FALSE(build_sms_deliver(c.from, c.text, SmsTime{c.year, 1, 1, 0, 0, 0}, error));
        EXPECT_FALSE(error.empty());
    }
}
