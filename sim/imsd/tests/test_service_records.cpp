// Registration, SMS and supplementary-service records against literal bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reg_records.h"
#include "sms_records.h"
#include "sups_records.h"

using namespace zol::imsd;
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

} // namespace

TEST(RegRecords, WordsConfigAndLengths)
{
    EXPECT_EQ(encode_run_status(0x01020304), (Bytes{4, 3, 2, 1}));
    EXPECT_FALSE(decode_word_request(Bytes{5, 0, 0, 0, 0}));

    // A text filling the whole field still ends in a zero byte.
    ConfigValue value{};
    value.fill('x');
    const Bytes full = encode_config_conf(3, value);
    ASSERT_EQ(full.size(), 55u);
    EXPECT_EQ(slice(full, 0, 5), (Bytes{3, 0, 0, 0, 'x'}));
    EXPECT_EQ(full[53], 'x');
    EXPECT_EQ(full[54], 0);
    EXPECT_FALSE(decode_set_config(Bytes(53, 0)));
}

TEST(SmsRecords, SendRequestFieldsAtTheirOffsets)
{
    Bytes req(321, 0);
    put_text(req, 0, "0001000B911234");
    put(req, 255, {14, 0, 0, 0});
    put_text(req, 259, "+49170");
    put(req, 309, {6, 0, 0, 0});
    put(req, 313, {7, 1, 0, 0});
    put(req, 317, {1, 0, 0, 0});
    const auto sms = decode_send_sms(req);
    ASSERT_TRUE(sms);
    EXPECT_EQ(sms->pdu, "0001000B911234");
    EXPECT_EQ(sms->smsc, "+49170");
    EXPECT_EQ(sms->msg_ref, 263u);
    EXPECT_EQ(sms->tech, 1u);

    // Lengths are what count, not terminators; a full 255-byte PDU field is fine.
    Bytes full = req;
    std::fill(full.begin(), full.begin() + 255, 'A');
    put(full, 255, {255, 0, 0, 0});
    ASSERT_TRUE(decode_send_sms(full));
    EXPECT_EQ(decode_send_sms(full)->pdu, std::string(255, 'A'));

    const struct {
        const char *name;
        size_t at;
        std::initializer_list<uint8_t> bytes;
    } bad[] = {
        {"pdu length past its field", 255, {0, 1, 0, 0}},
        {"smsc length past its field", 309, {51, 0, 0, 0}},
    };
    for (const auto &c : bad) {
        SCOPED_TRACE(c.name);
        Bytes b = req;
        put(b, c.at, c.bytes);
        EXPECT_FALSE(decode_send_sms(b));
    }
    req.push_back(0);
    EXPECT_FALSE(decode_send_sms(req));
}

TEST(SmsRecords, AckLengthAndLongestIncoming)
{
    EXPECT_FALSE(decode_sms_ack(Bytes(7, 0)));
    // The longest PDU text keeps its terminator; length and type follow at 600.
    const Bytes longest = encode_incoming_sms(std::string(599, 'F'), TpduType::deliver);
    EXPECT_EQ(longest[598], 'F');
    EXPECT_EQ(longest[599], 0);
    EXPECT_EQ(slice(longest, 600, 8), (Bytes{0x57, 2, 0, 0, 0, 0, 0, 0}));
}

TEST(SupsRecords, OperationFieldsAtTheirOffsets)
{
    Bytes req(167, 0);
    put(req, 0, {3, 0, 0, 0});
    put(req, 5, {6, 0, 0, 0});
    put(req, 9, {1, 0, 0, 0});
    put(req, 13, {7});
    put_text(req, 14, "+861234");
    put(req, 55, {1, 0, 0, 0});
    put(req, 59, {25});
    put(req, 60, {1, 0, 0, 0});
    put(req, 64, {2, 0, 0, 0});
    put(req, 68, {16});
    put(req, 69, {1, 0, 0, 0});
    put_text(req, 73, "08:00-18:00");
    put(req, 103, {1, 0, 0, 0});
    put_text(req, 107, "1234");
    const auto ss = decode_ss_request(req);
    ASSERT_TRUE(ss);
    EXPECT_EQ(ss->op, 3u);
    EXPECT_EQ(ss->code, 6u);
    EXPECT_EQ(ss->number, "+861234");
    EXPECT_EQ(ss->no_reply_time, 25);
    EXPECT_EQ(ss->basic_service, 2u);
    EXPECT_EQ(ss->service_class, 16);
    EXPECT_EQ(ss->time_interval, "08:00-18:00");
    EXPECT_EQ(ss->password, "1234");

    // Without their presence flags the same bytes mean nothing.
    for (size_t flag : {9, 55, 60, 69, 103}) {
        put(req, flag, {0, 0, 0, 0});
    }
    const auto bare = decode_ss_request(req);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->number || bare->no_reply_time || bare->basic_service ||
                 bare->time_interval || bare->password);

    put(req, 9, {1, 0, 0, 0});
    put(req, 13, {42}); // longer than the number field
    EXPECT_FALSE(decode_ss_request(req));
    EXPECT_FALSE(decode_ss_request(Bytes(166, 0)));
}

TEST(SupsRecords, PlainAndStatusConfirmations)
{
    const Bytes ok = encode_ss_conf(true);
    ASSERT_EQ(ok.size(), kSsConfLen);
    EXPECT_EQ(slice(ok, 0, 9), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode_ss_conf(false)[0], 0);

    const Bytes status = encode_ss_status_conf(16, true);
    ASSERT_EQ(status.size(), kSsConfLen);
    EXPECT_EQ(slice(status, 0, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(status, 5, 4), (Bytes{5, 0, 0, 0}));
    EXPECT_EQ(slice(status, 13, 4), (Bytes{16, 0, 0, 0}));
    EXPECT_EQ(slice(status, 17, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(status, 33, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(encode_ss_status_conf(1, false), 33, 4), (Bytes{0, 0, 0, 0}));
}

TEST(SupsRecords, ForwardingListEntries)
{
    const FwdFeature features[] = {
        {3, 1u, 1, true, true, "+861234", std::nullopt},
        {6, std::nullopt, 0, false, false, "", uint8_t{20}},
    };
    const Bytes conf = encode_fwd_list_conf(features);
    ASSERT_EQ(conf.size(), kSsConfLen);
    EXPECT_EQ(slice(conf, 5, 4), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(slice(conf, 159, 5), (Bytes{1, 0, 0, 0, 2}));

    const size_t e0 = 164;
    EXPECT_EQ(slice(conf, e0 + 0, 8), (Bytes{1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 9, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 25, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 33, 9), (Bytes{7, '+', '8', '6', '1', '2', '3', '4', 0}));
    EXPECT_EQ(slice(conf, e0 + 75, 5), (Bytes{0, 0, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e0 + 80, 8), (Bytes{1, 0, 0, 0, 3, 0, 0, 0}));

    const size_t e1 = 164 + 88;
    EXPECT_EQ(slice(conf, e1 + 0, 8), (Bytes(8, 0)));
    EXPECT_EQ(slice(conf, e1 + 25, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(conf[e1 + 33], 0);
    EXPECT_EQ(slice(conf, e1 + 75, 5), (Bytes{1, 0, 0, 0, 20}));
    EXPECT_EQ(slice(conf, e1 + 84, 4), (Bytes{6, 0, 0, 0}));
    EXPECT_EQ(slice(conf, e1 + 88, kSsConfLen - e1 - 88), Bytes(kSsConfLen - e1 - 88, 0));

    const Bytes empty = encode_fwd_list_conf({});
    EXPECT_EQ(slice(empty, 159, 5), (Bytes{0, 0, 0, 0, 0}));
}
