// Every host request that reaches the stack: the exact bytes it sends, what it
// then waits for, and how it is answered when the send works and when it fails.
#include <algorithm>

#include "fixture.h"
#include "sups/zol_sups_internal.h"

using namespace zol_kit;

namespace {

const std::string kDigits128(128, '9'), kParticipants2000(2000, 'p'), kText60(60, 'x'),
    kText25(kText60, 0, 25), kText20(kText60, 0, 20), kPdu254(254, 'A'), kPdu255(255, 'A'),
    kSmsc50(50, '9'), kDigits41(41, '5'), kInterval40(40, 'i'), kPassword70(70, 'p');
constexpr uint32_t kVoiceDir = 0xFFFFFFFF;

// The dial message up to the participant list: digits, their count, number
// kind, call type and call_att.
std::vector<At> dial_fields(const std::string &digits, uint8_t count, uint32_t kind, uint32_t type,
                            uint32_t video, std::vector<At> more = {})
{
    std::vector<At> f = {{1, text(digits)}, {129, {count}}, {130, le32(kind)}, {134, le32(type)},
                         {138, le32(64)},   {142, le32(3)}, {146, le32(video)}};
    f.insert(f.end(), more.begin(), more.end());
    return f;
}
std::vector<At> call_response(uint32_t accept, uint32_t cause, uint32_t type, uint32_t fixed,
                              uint32_t video)
{
    return {{0, {0xFF}},     {1, le32(accept)}, {5, le32(cause)},
            {9, le32(type)}, {13, le32(fixed)}, {17, le32(video)}};
}
std::vector<At> modify_response(uint32_t accept, uint32_t type, uint32_t video)
{
    return {{0, {0xFF}}, {1, le32(accept)}, {5, le32(type)}, {9, le32(3)}, {13, le32(video)}};
}
// The SMS send record: both texts with their lengths, the reference and the technology.
std::vector<At> sms_fields(const std::string &smsc, const std::string &pdu)
{
    return {{0, text(pdu)},    {255, le32(static_cast<uint32_t>(pdu.size()))},
            {259, text(smsc)}, {309, le32(static_cast<uint32_t>(smsc.size()))},
            {313, le32(77)},   {317, le32(1)}};
}
// The SS request: operation, service code, then the fields at their offsets.
constexpr uint32_t kRegister = 1, kErase = 2, kActivate = 3, kDeactivate = 4, kInterrogate = 5;
std::vector<At> ss(uint32_t op, int code, std::vector<At> more = {})
{
    more.insert(more.begin(), {{0, le32(op)}, {5, le32(static_cast<uint32_t>(code))}});
    return more;
}
std::vector<At> operator+(std::vector<At> a, const std::vector<At> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const std::vector<At> kClass1 = {{60, {1}}, {64, {1}}, {68, {1}}},
                      kClass16 = {{60, {1}}, {64, {2}}, {68, {16}}};

// What a request sends (message, payload size); the stack event it then waits
// for (0: answered once sent); the code and line ("Reply to RIL --> %s fail,")
// of a failed send.
constexpr uint32_t kByOperation = 1; // the confirmation of the SS operation
struct Shape {
    int request;
    uint16_t msg;
    size_t size;
    uint32_t waits;
    const char *line;
    RIL_Errno fail = RIL_E_GENERIC_FAILURE;
    zol_handler_type direct = nullptr; // no dispatch row: called as the module would
    int32_t wire_token = -1;           // the token id on the wire when not the request's
};
const Shape kShapes[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, 17, 0, 0x17545, "get current call"},
    {RIL_REQUEST_DIAL, 1, 1655, 0, "Dial"},
    {RIL_REQUEST_ANSWER, 2, 1526, 0x17534, "request_answer"},
    {RIL_REQUEST_UDUB, 2, 1526, 0, "rejectd"},
    {RIL_REQUEST_IMS_MT_INVITE_RSP, 3, 9, 0, "ims_mt_invite_rsp", RIL_E_GENERIC_FAILURE, nullptr,
     0xFFFF},
    {RIL_REQUEST_HANGUP, 4, 5, 0x17535, "Hangup"},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, 4, 5, 0x17535, "hangup_waiting_or_background"},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, 4, 5, 0x17535,
     "hangup_foreground_resume_background"},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, 18, 0, 0,
     "switch_waiting_or_holding_and_active"},
    {RIL_REQUEST_CONFERENCE, 12, 0, 0x17545, "request conference", RIL_E_GENERIC_FAILURE,
     zol_cm_callsvc_request_conference_call},
    {RIL_REQUEST_SEPARATE_CONNECTION, 15, 1, 0, "conference request", RIL_E_GENERIC_FAILURE,
     zol_cm_callsvc_request_split_conference_call},
    {RIL_REQUEST_DTMF_START, 5, 2, 0x17540, "dtmf_start"},
    {RIL_REQUEST_DTMF_STOP, 6, 5, 0x17541, "dtmf_stop"},
    {RIL_REQUEST_CALL_MODIFY, 9, 1517, 0, "ims_call_modify"},
    {RIL_REQUEST_CALL_MODIFY_RSP, 10, 1521, 0, "ims_call_modify_rsp"},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, 22, 4, 0, "ims_set_registration_state"},
    {RIL_REQUEST_IMS_SET_CONFIGRATION, 21, 54, 0, "ims_set_configration"},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, 20, 4, 0x17548, "ims_get_configration"},
    {RIL_REQUEST_IMS_SEND_SMS, 61, 321, 0x17597, "send sms", RIL_E_SMS_SEND_FAIL_RETRY},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, 62, 8, 0, "send ack"},
    {RIL_REQUEST_SET_COLP, 51, 167, kByOperation, "SUPS COLP Request"},
    {RIL_REQUEST_SET_CLIR, 51, 167, kByOperation, "SUPS CLIR Request"},
    {RIL_REQUEST_SET_CALL_WAITING, 51, 167, kByOperation, "SUPS call waiting Request"},
    {RIL_REQUEST_SET_CALL_FORWARD, 51, 167, kByOperation, "SUPS call forward Request"},
    {RIL_REQUEST_SET_FACILITY_LOCK, 51, 167, kByOperation, "SUPS call barring Request"},
};

// Every query of a service (the rows of all_cases below) is an interrogation.
const Shape kQuery = {0, 51, 167, kByOperation, "INTERROGATE SS"};

struct Case {
    int request;
    Bytes data; // empty: no data at all
    std::vector<At> fields;
};
constexpr int kSetConfig = RIL_REQUEST_IMS_SET_CONFIGRATION;
const Case kCases[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, {}, {}},
    {RIL_REQUEST_DIAL, dial("12345", 0, 0), dial_fields("12345", 5, 1, 1, kVoiceDir)},
    {RIL_REQUEST_DIAL, dial("12345", 0, 1),
     dial_fields("12345", 5, 1, 1, kVoiceDir)}, // video type 1 is voice
    {RIL_REQUEST_DIAL, dial("12345", 0, 3), dial_fields("12345", 5, 1, 4, 3)},
    {RIL_REQUEST_DIAL, dial(kDigits128.c_str(), 0, 0),
     dial_fields(kDigits128, 128, 1, 1, kVoiceDir)},
    {RIL_REQUEST_DIAL, dial("", 0, 0), dial_fields("", 0, 1, 1, kVoiceDir)},
    {RIL_REQUEST_DIAL, dial("abc", 1, 0),
     dial_fields("Conference Call", 15, 2, 1, kVoiceDir, {{154, text("abc")}})},
    {RIL_REQUEST_DIAL, dial(kParticipants2000.c_str(), 1, 3), // participants cut at 1500
     dial_fields("Conference Call", 15, 2, 4, 3, {{154, text(kParticipants2000.substr(0, 1500))}})},
    {RIL_REQUEST_ANSWER, {}, call_response(1, 0, 1, 3, kVoiceDir)},
    {RIL_REQUEST_ANSWER, words({2}), call_response(1, 0, 4, 3, 2)},
    {RIL_REQUEST_ANSWER, words({7}), call_response(1, 0, 1, 3, kVoiceDir)},
    {RIL_REQUEST_ANSWER, {2, 0}, call_response(1, 0, 1, 3, kVoiceDir)}, // short data
    {RIL_REQUEST_UDUB, {}, call_response(0, 1, 0, 0, 0)},
    {RIL_REQUEST_IMS_MT_INVITE_RSP, words({300, 1}), {{0, {44}}, {1, le32(1)}}},
    {RIL_REQUEST_HANGUP, words({2}), {{0, {2, 1}}}},
    {RIL_REQUEST_HANGUP, words({258}), {{0, {2, 1}}}},
    {RIL_REQUEST_HANGUP, {}, {{0, {0xFF, 1}}}},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, {}, {{0, {0xFF, 2}}}},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, {}, {{0, {0xFF, 3}}}},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, {}, {}},
    {RIL_REQUEST_CONFERENCE, {}, {}},
    {RIL_REQUEST_SEPARATE_CONNECTION, words({259}), {{0, {3}}}},
    {RIL_REQUEST_DTMF_START, text("5"), {{0, {0xFF, '5'}}}},
    {RIL_REQUEST_DTMF_START, text("x#"), {{0, {0xFF, 'x'}}}},
    {RIL_REQUEST_DTMF_STOP, text("7"), {{0, {0xFF}}}},
    {RIL_REQUEST_CALL_MODIFY, words({2, 3}), {{0, {2}}, {1, le32(4)}, {5, le32(3)}, {9, le32(3)}}},
    {RIL_REQUEST_CALL_MODIFY, words({2, 1}), {{0, {2}}, {1, le32(4)}, {5, le32(3)}, {9, le32(1)}}},
    {RIL_REQUEST_CALL_MODIFY,
     words({2, 0}),
     {{0, {2}}, {1, le32(1)}, {5, le32(3)}, {9, le32(kVoiceDir)}}},
    {RIL_REQUEST_CALL_MODIFY, words({2, 5}), {{0, {2}}}},
    {RIL_REQUEST_CALL_MODIFY_RSP, words({2, 0}), modify_response(0, 1, kVoiceDir)},
    {RIL_REQUEST_CALL_MODIFY_RSP, words({2, 1}), modify_response(1, 4, 1)},
    {RIL_REQUEST_CALL_MODIFY_RSP, words({2, 2}), modify_response(1, 4, 2)},
    {RIL_REQUEST_CALL_MODIFY_RSP, words({2, 5}), {{0, {0xFF}}}},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, words({0x01020304}), {{0, {4, 3, 2, 1}}}},
    // Configuration items by the item table: integers, texts cut at their
    // field's limit (without terminator when they fill it), unknown items empty.
    {kSetConfig, texts({"5", "300"}), {{0, {5, 0, 0, 0, 0x2C, 0x01}}}},
    {kSetConfig, texts({" 16abc", "-2"}), {{0, {16, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}}}},
    {kSetConfig, texts({"1", kText25.c_str()}), {{0, {1}}, {4, text(kText20)}}},
    {kSetConfig, texts({"2", kText20.c_str()}), {{0, {2}}, {4, text(kText20)}}},
    {kSetConfig, texts({"4", kText60.c_str()}), {{0, {4}}, {4, text(kText60.substr(0, 32))}}},
    {kSetConfig, texts({"3", kText60.c_str()}), {{0, {3}}, {4, text(kText60.substr(0, 50))}}},
    {kSetConfig, texts({"99", "ignored"}), {{0, {99}}}},
    {kSetConfig, texts({"item", "1"}), {}},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, texts({"abc"}), {}}, // not a number: item 0
    // A PDU too long for its field goes empty.
    {RIL_REQUEST_IMS_SEND_SMS, ims_sms("12", kPdu255.c_str()), sms_fields("12", "")},
    {RIL_REQUEST_IMS_SEND_SMS, ims_sms(nullptr, "0011"), sms_fields("", "0011")},
    {RIL_REQUEST_IMS_SEND_SMS, ims_sms(kSmsc50.c_str(), kPdu254.c_str()),
     sms_fields(kSmsc50, kPdu254)},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, words({1, 0}), {{0, {1}}}},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, words({0, 7}), {{4, {255}}}},
    {RIL_REQUEST_SET_COLP, words({0, 1}), ss(kDeactivate, 17)},
    {RIL_REQUEST_SET_COLP, words({1, 1}), ss(kActivate, 17)},
    {RIL_REQUEST_SET_CALL_WAITING, words({0, 1}), ss(kDeactivate, 1)},
    {RIL_REQUEST_SET_CALL_WAITING, words({1, 1}), ss(kActivate, 1)},
    {RIL_REQUEST_SET_CLIR, words({1}), ss(kActivate, 16)},
    {RIL_REQUEST_SET_CLIR, words({2}), ss(kDeactivate, 16)},
    {RIL_REQUEST_SET_CLIR, words({0}), ss(kActivate, 16)}, // the mode reported since start-up
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(3, 0, 0, 145, "1234"),
     ss(kRegister, 3, {{9, {1}}, {13, {7}}, {14, text("+861234")}})},
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(3, 0, 0, 129, "1234"),
     ss(kRegister, 3, {{9, {1}}, {13, {4}}, {14, text("1234")}})},
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(1, 2, 1, 129, nullptr, 0x114),
     ss(kActivate, 6, std::vector<At>{{55, {1}}, {59, {0x14}}} + kClass1)}, // low byte
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(4, 4, 16, 129, nullptr, 0, kInterval40.c_str()),
     ss(kErase, 2, kClass16 + std::vector<At>{{69, {1}}, {73, text(kInterval40.substr(0, 30))}})},
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(0, 5, 7, 129, kDigits41.c_str()),
     ss(kDeactivate, 4, {{9, {1}}, {13, {41}}, {14, text(kDigits41)}})},
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(2, 1), ss(kInterrogate, 5)},
    {RIL_REQUEST_SET_CALL_FORWARD, forwarding(1, 8), ss(kActivate, 0)},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts({"OI", "1", "-", "16", "-", "0"}),
     ss(kActivate, 10, kClass16)},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts({"AB", "10", "-", "1", "-", "1234"}),
     ss(kDeactivate, 0, kClass1 + std::vector<At>{{103, {1}}, {107, text("1234")}})},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts({"AO", "1", "-", "7", "-", kPassword70.c_str()}),
     ss(kActivate, 9, {{103, {1}}, {107, text(kPassword70.substr(0, 60))}})},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts({"SC,AG", "1", "-", nullptr, "-", nullptr}),
     ss(kActivate, 8)},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts({"AC", "01", "-", "", "-", "0"}), ss(kDeactivate, 12)},
};
// Interrogations: the service of each query (GET_CLIR, QUERY_CLIP, QUERY_CALL_WAITING,
// QUERY_COLR, QUERY_COLP), of each facility (none for AG in a query: request 42) and
// of each forwarding reason (request 33).
std::vector<Case> all_cases()
{
    std::vector<Case> cases(std::begin(kCases), std::end(kCases));
    const std::pair<int, int> services[] = {{31, 16}, {55, 15}, {35, 1}, {318, 18}, {319, 17}};
    const std::pair<const char *, int> facilities[] = {
        {"AO", 9}, {"xOI", 10}, {"OX", 11}, {"AI", 13}, {"IR", 14}, {"AB", 0}, {"AG", 0}};
    const std::pair<int, int> reasons[] = {{0, 3}, {1, 5}, {2, 6}, {3, 7}, {4, 2}, {5, 4}, {9, 3}};
    for (auto [request, code] : services) {
        cases.push_back({request, {}, ss(kInterrogate, code)});
    }
    for (auto [facility, code] : facilities) {
        cases.push_back({42, texts({facility}), ss(kInterrogate, code)});
    }
    for (auto [reason, code] : reasons) {
        cases.push_back({33, forwarding(0, reason), ss(kInterrogate, code)});
    }
    return cases;
}

using Requests = ModuleTest;

TEST_F(Requests, EachSendsItsBytesAndIsAnsweredOnceWhateverTheSend)
{
    const std::vector<Case> cases = all_cases();
    for (const Case &c : cases) {
        const Shape *found = std::find_if(std::begin(kShapes), std::end(kShapes),
                                          [&](const Shape &s) { return s.request == c.request; });
        const Shape &k = found != std::end(kShapes) ? *found : kQuery;
        const Bytes payload = image(k.size, c.fields);
        const uint32_t waits =
            k.waits == kByOperation ? zol::sups::confirmation_of(payload[0]) : k.waits;
        for (int result : {0, -1}) {
            SCOPED_TRACE(::testing::Message() << "case " << &c - cases.data()
                                              << (result == 0 ? ", sent" : ", send failed"));
            SetUp();
            g_clir_cmd_type.store(1, std::memory_order_relaxed);
            agent::set_result(result);
            RIL_Token t = token(500);
            if (k.direct != nullptr) {
                invoke(k.direct, c.request, c.data, t);
            } else {
                request(c.request, c.data, t);
            }
            EXPECT_EQ(sent(), (std::vector<Sent>{
                                  {k.msg, k.wire_token >= 0 ? k.wire_token : 500, payload}}));
            const auto done = host.completions_for(t);
            if (result == 0 && waits != 0) {
                EXPECT_TRUE(done.empty());
                EXPECT_EQ(waits_for(t), waits);
                continue;
            }
            EXPECT_EQ(waits_for(t), 0u);
            ASSERT_EQ(done.size(), 1u);
            EXPECT_EQ(done[0].error, result == 0 ? RIL_E_SUCCESS : k.fail);
            EXPECT_EQ(done[0].len, 0u);
            EXPECT_EQ(host.logged("Reply to RIL --> " + std::string(k.line) + " fail,\n"),
                      result != 0);
        }
    }
}

} // namespace
