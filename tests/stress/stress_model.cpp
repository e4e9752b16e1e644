#include "stress_model.h"

#include <cstring>
#include <string>

namespace zol_stress {

namespace {

// ---- byte images (little-endian, packed) ---------------------------------------------------

class Payload {
public:
    explicit Payload(size_t size) : bytes_(size, 0) {}
    Payload &u8(size_t at, uint8_t v)
    {
        bytes_[at] = v;
        return *this;
    }
    Payload &u32(size_t at, uint32_t v)
    {
        for (size_t i = 0; i < 4; ++i) {
            bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
        return *this;
    }
    Payload &text(size_t at, const char *s)
    {
        memcpy(bytes_.data() + at, s, strlen(s));
        return *this;
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

uint32_t read_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// ---- stack messages ---------------------------------------------------------------------------

constexpr uint16_t kInviteInd = 30002;
constexpr uint16_t kRingInd = 30003;
constexpr uint16_t kConnectedInd = 30004;
constexpr uint16_t kEndInd = 30005;
constexpr uint16_t kProgressInd = 30006;
constexpr uint16_t kHoldInd = 30007;
constexpr uint16_t kModifyCnf = 30013;
constexpr uint16_t kModifyInd = 30014;
constexpr uint16_t kDtmfStartConf = 30016;
constexpr uint16_t kDtmfStopConf = 30017;
constexpr uint16_t kSrvccInd = 30020;
constexpr uint16_t kCallListInd = 30021;
constexpr uint16_t kRunStatusInd = 30022;
constexpr uint16_t kConfigConf = 30024;
constexpr uint16_t kActivateConf = 30052;
constexpr uint16_t kDeactivateConf = 30053;
constexpr uint16_t kEraseConf = 30054;
constexpr uint16_t kInterrogateConf = 30055;
constexpr uint16_t kRegisterConf = 30056;
constexpr uint16_t kIncomingSmsInd = 30102;
constexpr uint16_t kSmsStatusInd = 30103;

std::vector<uint8_t> call_list(Rng &rng)
{
    constexpr size_t kEntry = 205;
    const uint8_t count = static_cast<uint8_t>(rng.below(3));
    // Now and then a list that claims one call more than it carries.
    const size_t carried = count > 0 && rng.permille(50) ? count - 1u : count;
    Payload p(1 + carried * kEntry);
    p.u8(0, count);
    for (size_t i = 0; i < carried; ++i) {
        const size_t e = 1 + i * kEntry;
        p.u8(e, static_cast<uint8_t>(i + 1));
        p.text(e + 1, i == 0 ? "+4915550001" : "5550002");
        p.u32(e + 134, rng.below(2));                      // direction
        p.u32(e + 138, rng.permille(300) ? 4u : 1u);       // voice or video
        p.u32(e + 142, 1 + rng.below(8));                  // state
        p.u32(e + 146, rng.permille(200) ? 64u : 0u);      // attribute
        p.u8(e + 150, static_cast<uint8_t>(rng.below(2))); // multiparty
        p.text(e + 151, "stress");
        p.u32(e + 201, rng.below(4)); // video direction
    }
    return p.take();
}

std::vector<uint8_t> end_ind(Rng &rng)
{
    return Payload(5).u8(0, 1).u32(1, 16 + rng.below(20)).take();
}

std::vector<uint8_t> dtmf_conf(Rng &rng)
{
    return Payload(5).u8(0, 0xFF).u32(1, rng.permille(950) ? 1u : 0u).take();
}

std::vector<uint8_t> config_conf(uint32_t item, Rng &rng)
{
    Payload p(54);
    p.u32(0, item);
    if ((item >= 1 && item <= 4) || item == 14) {
        p.text(4, "ims.example");
    } else {
        p.u32(4, rng.below(100));
    }
    return p.take();
}

// One SS confirmation. An interrogation carries a status or a forwarding list.
std::vector<uint8_t> ss_conf(bool interrogation, Rng &rng)
{
    const uint32_t success = rng.permille(920) ? 1u : 0u;
    if (rng.permille(20)) {
        return std::vector<uint8_t>(2, 1); // too short to say anything
    }
    if (!interrogation || rng.permille(200)) {
        return Payload(9).u32(0, success).take();
    }
    if (rng.below(2) == 0) {
        constexpr uint32_t kCodes[] = {1, 9, 15, 16, 17, 18, 3};
        return Payload(37)
            .u32(0, success)
            .u32(5, 5)
            .u32(13, kCodes[rng.below(7)])
            .u32(17, rng.below(2))
            .u32(33, rng.below(2))
            .take();
    }
    constexpr size_t kList = 164;
    constexpr size_t kFeature = 88;
    const uint8_t count = static_cast<uint8_t>(rng.below(3));
    Payload p(kList + count * kFeature);
    p.u32(0, success).u32(5, 3).u32(159, 1).u8(163, count);
    for (size_t i = 0; i < count; ++i) {
        const size_t f = kList + i * kFeature;
        p.u32(f, 1).u32(f + 4, 1).u32(f + 9, 1).u32(f + 25, rng.below(2));
        p.u8(f + 33, 7).text(f + 34, "5550100");
        p.u32(f + 75, 1).u8(f + 79, 20).u32(f + 80, 1).u32(f + 84, 3 + rng.below(5));
    }
    return p.take();
}

std::vector<uint8_t> sms_status(Rng &rng)
{
    const uint32_t r = rng.below(100);
    return Payload(12).u32(0, rng.below(256)).u32(8, r < 85 ? 0u : r < 93 ? 10u : 1u).take();
}

std::vector<uint8_t> invite_ind(Rng &rng)
{
    return Payload(140).u8(0, 2).text(1, "+4915550009").u32(134, rng.permille(300) ? 4u : 1u).take();
}

std::vector<uint8_t> incoming_sms(Rng &rng)
{
    return Payload(608).text(0, "0891683108200805F0").u32(600, 18).u32(604, rng.below(2) * 2).take();
}

std::vector<uint8_t> random_bytes(Rng &rng, size_t max_len)
{
    std::vector<uint8_t> b(rng.below(static_cast<uint32_t>(max_len) + 1));
    for (uint8_t &x : b) {
        x = static_cast<uint8_t>(rng.next());
    }
    return b;
}

// ---- host data --------------------------------------------------------------------------------

char kNumber[] = "5551234";
char kForwardNumber[] = "5550100";
char kPdu[] = "0001000B915155214365F7000003C16010";
char kSmsc[] = "+4915550000";

void no_data(HostData &, Rng &) {}

void one_word(HostData &d, int32_t w)
{
    d.words[0] = w;
    d.use(d.words, sizeof(int32_t));
}

void two_words(HostData &d, int32_t a, int32_t b)
{
    d.words[0] = a;
    d.words[1] = b;
    d.use(d.words, 2 * sizeof(int32_t));
}

void texts(HostData &d, std::initializer_list<const char *> list)
{
    size_t n = 0;
    for (const char *t : list) {
        d.texts[n++] = t;
    }
    d.use(d.texts, n * sizeof(char *));
}

void dial(HostData &d, Rng &rng)
{
    d.dial.address = kNumber;
    d.dial.dial_kind = 0;
    d.dial.callType = rng.below(2) == 0 ? 0 : 3;
    d.use(&d.dial, sizeof d.dial);
}

void sms(HostData &d, Rng &rng, RIL_RadioTechnologyFamily tech)
{
    d.sms_texts[0] = rng.below(2) == 0 ? kSmsc : nullptr;
    d.sms_texts[1] = kPdu;
    d.sms.tech = tech;
    d.sms.messageRef = static_cast<int>(rng.below(256));
    d.sms.message.gsmMessage = d.sms_texts;
    d.use(&d.sms, sizeof d.sms);
}

void forward(HostData &d, Rng &rng, int status)
{
    d.forward.status = status;
    d.forward.reason = static_cast<int>(rng.below(6));
    d.forward.serviceClass = 1;
    d.forward.toa = 129;
    d.forward.number = kForwardNumber;
    d.forward.timeSeconds = 20;
    d.use(&d.forward, sizeof d.forward);
}

void dtmf(HostData &d, Rng &rng)
{
    d.tone[0] = static_cast<char>('0' + rng.below(10));
    d.use(d.tone, 1);
}

std::vector<RequestKind> make_kinds()
{
    using P = Pattern;
    constexpr int kFail = RIL_E_GENERIC_FAILURE;
    return {
        {RIL_REQUEST_GET_CURRENT_CALLS, "get current calls", P::pending, 17, kFail, no_data, nullptr},
        {RIL_REQUEST_DIAL, "dial", P::immediate, 1, kFail, dial,
         [](HostData &d, Rng &) { d.use(nullptr, 0); }},
        {RIL_REQUEST_HANGUP, "hang up", P::pending, 4, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(1 + rng.below(3))); },
         [](HostData &d, Rng &) { d.use(d.words, 2); }},
        {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, "hang up background", P::pending, 4, kFail,
         no_data, nullptr},
        {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, "hang up foreground", P::pending, 4, kFail,
         no_data, nullptr},
        {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, "swap", P::immediate, 18, kFail, no_data,
         nullptr},
        {RIL_REQUEST_UDUB, "reject", P::immediate, 2, kFail, no_data, nullptr},
        {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, "last fail cause", P::local, 0, 0, no_data, nullptr},
        {RIL_REQUEST_ANSWER, "answer", P::pending, 2, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(rng.below(4))); }, nullptr},
        {RIL_REQUEST_DTMF_START, "dtmf start", P::pending, 5, kFail, dtmf,
         [](HostData &d, Rng &) { d.use(d.tone, 0); }},
        {RIL_REQUEST_DTMF_STOP, "dtmf stop", P::pending, 6, kFail, dtmf, nullptr},
        {RIL_REQUEST_IMS_REGISTRATION_STATE, "registration state", P::local, 19, 0, no_data, nullptr},
        {RIL_REQUEST_CALL_MODIFY, "modify", P::immediate, 9, kFail,
         [](HostData &d, Rng &rng) { two_words(d, 1, static_cast<int32_t>(rng.below(4))); },
         [](HostData &d, Rng &) { one_word(d, 1); }},
        {RIL_REQUEST_CALL_MODIFY_RSP, "modify response", P::immediate, 10, kFail,
         [](HostData &d, Rng &rng) { two_words(d, 1, static_cast<int32_t>(rng.below(5))); },
         [](HostData &d, Rng &) { one_word(d, 1); }},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, "get config", P::pending, 20, kFail,
         [](HostData &d, Rng &rng) {
             static const char *const kItems[] = {"1", "3", "5", "14", "16"};
             texts(d, {kItems[rng.below(5)]});
         },
         [](HostData &d, Rng &) { d.use(nullptr, 0); }},
        {RIL_REQUEST_IMS_SET_CONFIGRATION, "set config", P::immediate, 21, kFail,
         [](HostData &d, Rng &) { texts(d, {"5", "1"}); },
         [](HostData &d, Rng &) { texts(d, {"5"}); }},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, "set registration", P::immediate, 22, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(rng.below(2))); },
         [](HostData &d, Rng &) { d.use(nullptr, 0); }},
        {RIL_REQUEST_IMS_SEND_SMS, "send sms", P::pending, 61, RIL_E_SMS_SEND_FAIL_RETRY,
         [](HostData &d, Rng &rng) { sms(d, rng, RADIO_TECH_3GPP); },
         [](HostData &d, Rng &rng) { sms(d, rng, RADIO_TECH_3GPP2); }},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, "sms ack", P::immediate, 62, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(rng.below(2))); },
         [](HostData &d, Rng &) { one_word(d, 7); }},
        {RIL_REQUEST_GET_CLIR, "get clir", P::pending, 51, kFail, no_data, nullptr},
        {RIL_REQUEST_SET_CLIR, "set clir", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(rng.below(3))); },
         [](HostData &d, Rng &) { one_word(d, 3); }},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, "query forwarding", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { forward(d, rng, 2); },
         [](HostData &d, Rng &) { d.use(nullptr, 0); }},
        {RIL_REQUEST_SET_CALL_FORWARD, "set forwarding", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { forward(d, rng, static_cast<int>(rng.below(5))); },
         [](HostData &d, Rng &rng) { forward(d, rng, 7); }},
        {RIL_REQUEST_QUERY_CALL_WAITING, "query waiting", P::pending, 51, kFail,
         [](HostData &d, Rng &) { one_word(d, 1); }, nullptr},
        {RIL_REQUEST_SET_CALL_WAITING, "set waiting", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { two_words(d, static_cast<int32_t>(rng.below(2)), 1); },
         [](HostData &d, Rng &) { two_words(d, 5, 1); }},
        {RIL_REQUEST_QUERY_FACILITY_LOCK, "query barring", P::pending, 51, kFail,
         [](HostData &d, Rng &) { texts(d, {"AO", "", "1"}); },
         [](HostData &d, Rng &) { d.use(nullptr, 0); }},
        {RIL_REQUEST_SET_FACILITY_LOCK, "set barring", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { texts(d, {"AI", rng.below(2) == 0 ? "0" : "1", "", "1", "", "0"}); },
         [](HostData &d, Rng &) { texts(d, {"AI", "x", "", "1", "", "0"}); }},
        {RIL_REQUEST_QUERY_CLIP, "query clip", P::pending, 51, kFail, no_data, nullptr},
        {RIL_REQUEST_IMS_MT_INVITE_RSP, "invite response", P::immediate, 3, kFail,
         [](HostData &d, Rng &rng) { two_words(d, 2, static_cast<int32_t>(rng.below(2))); },
         [](HostData &d, Rng &) { one_word(d, 2); }},
        {RIL_REQUEST_SET_COLP, "set colp", P::pending, 51, kFail,
         [](HostData &d, Rng &rng) { one_word(d, static_cast<int32_t>(rng.below(2))); },
         [](HostData &d, Rng &) { one_word(d, 2); }},
        {RIL_REQUEST_QUERY_COLR, "query colr", P::pending, 51, kFail, no_data, nullptr},
        {RIL_REQUEST_QUERY_COLP, "query colp", P::pending, 51, kFail, no_data, nullptr},
        {1, "sim status", P::unsupported, 0, 0, no_data, nullptr},
        {RIL_REQUEST_SET_MUTE, "set mute", P::unsupported, 0, 0,
         [](HostData &d, Rng &) { one_word(d, 1); }, nullptr},
        {70000, "out of range", P::unsupported, 0, 0, no_data, nullptr},
    };
}

} // namespace

Frame make_frame(uint16_t message_id, int32_t token_id, const std::vector<uint8_t> &payload)
{
    const auto t = static_cast<uint32_t>(token_id);
    const auto n = static_cast<uint32_t>(payload.size());
    Frame f(kHeaderLen + payload.size(), 0);
    for (int i = 0; i < 4; ++i) {
        f[static_cast<size_t>(1 + i)] = static_cast<uint8_t>(t >> (24 - 8 * i));
        f[static_cast<size_t>(7 + i)] = static_cast<uint8_t>(n >> (24 - 8 * i));
    }
    f[5] = static_cast<uint8_t>(message_id >> 8);
    f[6] = static_cast<uint8_t>(message_id);
    if (!payload.empty()) {
        memcpy(f.data() + kHeaderLen, payload.data(), payload.size());
    }
    return f;
}

uint16_t frame_message(const uint8_t *frame, size_t len)
{
    return len < kHeaderLen ? 0 : static_cast<uint16_t>(frame[5] << 8 | frame[6]);
}

int32_t frame_token(const uint8_t *frame, size_t len)
{
    if (len < kHeaderLen) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(frame[1]) << 24 |
                                static_cast<uint32_t>(frame[2]) << 16 |
                                static_cast<uint32_t>(frame[3]) << 8 | frame[4]);
}

const std::vector<RequestKind> &request_kinds()
{
    static const std::vector<RequestKind> kinds = make_kinds();
    return kinds;
}

std::vector<Frame> answers_for(const uint8_t *frame, size_t len, Rng &rng)
{
    if (len < kHeaderLen) {
        return {};
    }
    const int32_t token = frame_token(frame, len);
    const uint8_t *payload = frame + kHeaderLen;
    const size_t payload_len = len - kHeaderLen;
    auto one = [&](uint16_t id, std::vector<uint8_t> p) {
        return std::vector<Frame>{make_frame(id, token, p)};
    };
    switch (frame_message(frame, len)) {
    case 1: // dial: answered at once; the call then progresses
        return one(kProgressInd, Payload(4).u8(0, 1).take());
    case 2: // answer (accept 1) is confirmed by the connection; a reject needs nothing
        if (payload_len >= 5 && read_u32(payload + 1) == 1) {
            return one(kConnectedInd, Payload(4).u8(0, 1).take());
        }
        return {};
    case 4:
        return one(kEndInd, end_ind(rng));
    case 5:
        return one(kDtmfStartConf, dtmf_conf(rng));
    case 6:
        return one(kDtmfStopConf, dtmf_conf(rng));
    case 9:
        return one(kModifyCnf, {});
    case 17:
        return one(kCallListInd, call_list(rng));
    case 18:
        return one(kHoldInd, {});
    case 19:
        return one(kRunStatusInd, Payload(4).u32(0, 1).take());
    case 20:
        return one(kConfigConf, config_conf(payload_len >= 4 ? read_u32(payload) : 0, rng));
    case 51: {
        // The operation inside the request decides the confirmation.
        const uint32_t op = payload_len >= 4 ? read_u32(payload) : 0;
        constexpr uint16_t kConfOfOp[] = {0, kRegisterConf, kEraseConf, kActivateConf,
                                          kDeactivateConf, kInterrogateConf};
        if (op == 0 || op > 5) {
            return {};
        }
        return one(kConfOfOp[op], ss_conf(op == 5, rng));
    }
    case 61:
        return one(kSmsStatusInd, sms_status(rng));
    default: // 3, 10, 21, 22, 62: nothing to answer
        return {};
    }
}

Frame stray_frame(Rng &rng)
{
    constexpr uint16_t kIds[] = {kInviteInd,     kRingInd,       kConnectedInd, kEndInd,
                                 kProgressInd,   kHoldInd,       30008,         30009,
                                 30010,          30011,          30012,         kModifyCnf,
                                 kModifyInd,     30015,          kDtmfStartConf, kDtmfStopConf,
                                 30018,          30019,          kSrvccInd,     kCallListInd,
                                 kRunStatusInd,  30023,          kConfigConf,   kActivateConf,
                                 kDeactivateConf, kEraseConf,    kInterrogateConf, kRegisterConf,
                                 kIncomingSmsInd, kSmsStatusInd, kUnknownMessage};
    constexpr uint32_t kCount = sizeof kIds / sizeof kIds[0];
    if (rng.permille(10)) {
        return Frame(7, 0); // shorter than a header: the agent's callback refuses it
    }
    const uint16_t id = kIds[rng.below(kCount)];
    constexpr int32_t kStackToken = 0xFFFF;
    if (rng.permille(250)) {
        return make_frame(id, kStackToken, random_bytes(rng, 48)); // damaged
    }
    std::vector<uint8_t> p;
    switch (id) {
    case kInviteInd:
        p = invite_ind(rng);
        break;
    case kEndInd:
        p = end_ind(rng);
        break;
    case kModifyInd:
        p = Payload(13).u8(0, 1).u32(1, 4).u32(9, 1 + rng.below(3)).take();
        break;
    case kDtmfStartConf:
    case kDtmfStopConf:
        p = dtmf_conf(rng);
        break;
    case kSrvccInd:
        p = Payload(4).u32(0, rng.below(4)).take();
        break;
    case kCallListInd:
        p = call_list(rng);
        break;
    case kRunStatusInd:
        p = Payload(4).u32(0, rng.below(2)).take();
        break;
    case kConfigConf:
        p = config_conf(1 + rng.below(16), rng);
        break;
    case kActivateConf:
    case kDeactivateConf:
    case kEraseConf:
    case kRegisterConf:
        p = ss_conf(false, rng);
        break;
    case kInterrogateConf:
        p = ss_conf(true, rng);
        break;
    case kIncomingSmsInd:
        p = incoming_sms(rng);
        break;
    case kSmsStatusInd:
        p = sms_status(rng);
        break;
    default:
        p = Payload(5).u8(0, 1).take();
        break;
    }
    return make_frame(id, kStackToken, p);
}

bool is_unknown_message(const Frame &frame)
{
    return frame_message(frame.data(), frame.size()) == kUnknownMessage;
}

const std::vector<int32_t> &answer_events()
{
    static const std::vector<int32_t> events = {
        0x10000 + kConnectedInd,   0x10000 + kEndInd,         0x10000 + kDtmfStartConf,
        0x10000 + kDtmfStopConf,   0x10000 + kCallListInd,    0x10000 + kConfigConf,
        0x10000 + kActivateConf,   0x10000 + kDeactivateConf, 0x10000 + kEraseConf,
        0x10000 + kInterrogateConf, 0x10000 + kRegisterConf,  0x10000 + kSmsStatusInd,
    };
    return events;
}

} // namespace zol_stress
