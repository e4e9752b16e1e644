// Registration, configuration, SMS and supplementary services as the module and
// the control side see them: frames in, frames out, command replies.
#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <vector>

#include "control.h"
#include "fake_network.h"
#include "imsd_harness.h"
#include "messages.h"
#include "registration.h"
#include "sms_pdu.h"
#include "text.h"

using namespace zol::imsd;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

namespace {

class RecordingLink : public Link {
public:
    LinkStatus status() const override { return {connected, 0, 0, 1}; }
    std::string send_frame(const Frame &frame) override
    {
        frames.push_back(frame);
        return {};
    }
    std::string send_raw(std::span<const uint8_t>) override { return {}; }

    bool connected = true;
    std::vector<Frame> frames;
};

struct Stack {
    Model model;
    RecordingLink link;

    Lines run(const std::string &line)
    {
        const std::optional<Reply> reply = run_command(line, model, link);
        return reply ? reply->lines : Lines{"(no reply)"};
    }
    std::string last(const std::string &line) { return run(line).back(); }
    std::vector<Frame> send(uint16_t message, Bytes payload = {}, int32_t token = 9)
    {
        return dispatch(model, Frame{token, message, std::move(payload)});
    }
};

Bytes u32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

Bytes slice(const Bytes &b, size_t at, size_t n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                 b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

Bytes set_config(uint32_t item, const Bytes &value)
{
    Bytes p = u32(item);
    p.insert(p.end(), value.begin(), value.end());
    p.resize(54, 0);
    return p;
}

Bytes send_sms(uint32_t ref, const std::string &pdu)
{
    Bytes p(321, 0);
    std::copy(pdu.begin(), pdu.end(), p.begin());
    const Bytes len = u32(static_cast<uint32_t>(pdu.size()));
    std::copy(len.begin(), len.end(), p.begin() + 255);
    const Bytes r = u32(ref);
    std::copy(r.begin(), r.end(), p.begin() + 313);
    p[317] = 1;
    return p;
}

// One SS operation as the module encodes it.
struct Op {
    SsOp op;
    uint32_t code;
    std::string number = {};
    uint32_t basic = 0; // 0: no basic service
    std::string password = {};
    uint8_t no_reply = 0;
};

Bytes encode(const Op &o)
{
    Bytes p(167, 0);
    auto at = [&p](size_t off, const Bytes &b) { std::copy(b.begin(), b.end(), p.begin() + static_cast<std::ptrdiff_t>(off)); };
    at(0, u32(static_cast<uint32_t>(o.op)));
    at(5, u32(o.code));
    if (!o.number.empty()) {
        at(9, u32(1));
        p[13] = static_cast<uint8_t>(o.number.size());
        at(14, Bytes(o.number.begin(), o.number.end()));
    }
    if (o.no_reply != 0) {
        at(55, u32(1));
        p[59] = o.no_reply;
    }
    if (o.basic != 0) {
        at(60, u32(1));
        at(64, u32(o.basic));
        p[68] = o.basic == 1 ? 1 : 16;
    }
    if (!o.password.empty()) {
        at(103, u32(1));
        at(107, Bytes(o.password.begin(), o.password.end()));
    }
    return p;
}

// What one confirmation says, read at the offsets the module reads.
struct Conf {
    uint16_t message = 0;
    bool success = false;
    uint32_t info = 0;
    uint32_t code = 0;   // status information
    bool active = false; // status information
    // Forwarding list: "code/class/active/number/time" per entry.
    std::vector<std::string> entries;
};

Conf read_conf(const Frame &f)
{
    const auto w = [&f](size_t at) {
        return uint32_t{f.payload[at]} | uint32_t{f.payload[at + 1]} << 8 |
               uint32_t{f.payload[at + 2]} << 16 | uint32_t{f.payload[at + 3]} << 24;
    };
    Conf c;
    c.message = f.message;
    c.success = w(0) != 0;
    c.info = w(5);
    if (c.info == 5) {
        c.code = w(13);
        c.active = w(17) != 0 && w(33) != 0;
    }
    if (c.info == 3 && w(159) != 0) {
        for (size_t i = 0; i < f.payload[163]; ++i) {
            const size_t e = 164 + 88 * i;
            const std::string number(f.payload.begin() + static_cast<std::ptrdiff_t>(e + 34),
                                     f.payload.begin() + static_cast<std::ptrdiff_t>(e + 34 + f.payload[e + 33]));
            c.entries.push_back(strf("%u/%u/%u/%s/%u", w(e + 84), w(e) != 0 ? w(e + 4) : 0,
                                     w(e + 25), number.c_str(),
                                     w(e + 75) != 0 ? unsigned{f.payload[e + 79]} : 0u));
        }
    }
    return c;
}

Conf ss(Stack &s, const Op &o)
{
    const std::vector<Frame> out = s.send(kMsgSupsOperation, encode(o), 77);
    EXPECT_EQ(out.size(), 1u);
    if (out.empty()) {
        return {};
    }
    EXPECT_EQ(out[0].token, 77);
    EXPECT_EQ(out[0].payload.size(), kSsConfLen);
    return read_conf(out[0]);
}

} // namespace

TEST(Registration, RunStatusAnswersAndReports)
{
    Stack s;
    EXPECT_EQ(frames_on_connect(s.model.registration)[0].payload, u32(1));

    auto out = s.send(kMsgGetRunStatus, {}, 5);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].token, 5);
    EXPECT_EQ(out[0].message, 30022);
    EXPECT_EQ(out[0].payload, u32(1));

    EXPECT_EQ(s.last("register off"), "ok run-status=0 reported");
    ASSERT_EQ(s.link.frames.size(), 1u);
    EXPECT_EQ(s.link.frames[0].token, 0);
    EXPECT_EQ(s.link.frames[0].message, 30022);
    EXPECT_EQ(s.link.frames[0].payload, u32(0));
    EXPECT_EQ(s.last("register off"), "ok run-status=0 (unchanged)");
    EXPECT_EQ(s.link.frames.size(), 1u);
    EXPECT_EQ(s.send(kMsgGetRunStatus)[0].payload, u32(0));

    s.link.connected = false;
    EXPECT_EQ(s.last("register 0x7"),
              "ok run-status=7 (not connected: reported when the agent connects)");
    EXPECT_EQ(frames_on_connect(s.model.registration)[0].payload, u32(7));
    EXPECT_EQ(s.last("register"), "ok run-status=7");
    EXPECT_EQ(s.link.frames.size(), 1u);
}

TEST(Registration, SetRegistrationIndicatesOnlyChanges)
{
    Stack s;
    const struct {
        Bytes payload;
        uint32_t status_after;
        bool indicated;
    } steps[] = {
        {u32(1), 1, false}, {u32(0), 0, true}, {u32(0), 0, false},
        {Bytes{1, 0, 0}, 0, false}, // malformed: ignored
        {u32(1), 1, true},
    };
    for (const auto &step : steps) {
        const auto out = s.send(kMsgSetRegistration, step.payload, 3);
        EXPECT_EQ(s.model.registration.run_status, step.status_after);
        ASSERT_EQ(out.size(), step.indicated ? 1u : 0u);
        if (step.indicated) {
            EXPECT_EQ(out[0].token, 0);
            EXPECT_EQ(out[0].message, 30022);
            EXPECT_EQ(out[0].payload, u32(step.status_after));
        }
    }
}

TEST(Registration, ConfigurationIsStoredAndReturnedById)
{
    Stack s;
    EXPECT_TRUE(s.send(kMsgSetConfig, set_config(5, u32(300))).empty());
    EXPECT_TRUE(s.send(kMsgSetConfig, set_config(1, {'i', 'm', 's'})).empty());
    EXPECT_TRUE(s.send(kMsgSetConfig, Bytes(53, 0)).empty());
    const struct {
        uint32_t item;
        Bytes value_start;
    } gets[] = {{5, {0x2C, 0x01, 0, 0}}, {1, {'i', 'm', 's', 0}}, {9, {0, 0, 0, 0}}};
    for (const auto &g : gets) {
        SCOPED_TRACE(g.item);
        const auto out = s.send(kMsgGetConfig, u32(g.item), 11);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].token, 11);
        EXPECT_EQ(out[0].message, 30024);
        ASSERT_EQ(out[0].payload.size(), 55u);
        EXPECT_EQ(slice(out[0].payload, 0, 4), u32(g.item));
        EXPECT_EQ(slice(out[0].payload, 4, 4), g.value_start);
    }
    EXPECT_TRUE(s.send(kMsgGetConfig, Bytes{5, 0}).empty());

    EXPECT_EQ(s.last("config set 7 -2"), "ok config 7 int=-2");
    EXPECT_EQ(slice(s.send(kMsgGetConfig, u32(7))[0].payload, 4, 4), u32(0xFFFFFFFE));
    for (const std::string &bad : std::vector<std::string>{"config set", "config set x 1", "config set 5 abc",
                                  "config set 5 2147483648", "config set 1 " + std::string(21, 'a'),
                                  "config set 99 1", "config 1"}) {
        EXPECT_EQ(s.last(bad).substr(0, 6), "error ") << bad;
    }
}

TEST(Sms, EachSendIsAnsweredAsPlanned)
{
    Stack s;
    EXPECT_EQ(s.last("sms fail next"), "ok 1 sends planned");
    EXPECT_EQ(s.last("sms timeout next"), "ok 2 sends planned");
    EXPECT_EQ(s.last("sms fail next 38"), "ok 3 sends planned");
    const struct {
        uint32_t ref;
        bool answered;
        uint32_t code;
    } sends[] = {{1, true, 10}, {2, false, 0}, {3, true, 38}, {4, true, 0}, {5, true, 0}};
    for (const auto &c : sends) {
        SCOPED_TRACE(c.ref);
        const auto out = s.send(kMsgSendSms, send_sms(c.ref, "0001"), 40);
        ASSERT_EQ(out.size(), c.answered ? 1u : 0u);
        if (c.answered) {
            EXPECT_EQ(out[0].token, 40);
            EXPECT_EQ(out[0].message, 30103);
            EXPECT_EQ(out[0].payload, (Bytes{static_cast<uint8_t>(c.ref), 0, 0, 0, 0, 0, 0, 0,
                                             static_cast<uint8_t>(c.code), 0, 0, 0}));
        }
    }
    EXPECT_TRUE(s.send(kMsgSendSms, Bytes(320, 0)).empty());
    const Lines sent = s.run("sms sent");
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], "sms ref=1 tech=1 smsc= pdu=0001 status=fail 10");
    EXPECT_EQ(sent[1], "sms ref=2 tech=1 smsc= pdu=0001 status=timeout");
    EXPECT_EQ(sent[4], "sms ref=5 tech=1 smsc= pdu=0001 status=ok");
    EXPECT_EQ(sent[5], "ok 5 sent");
    for (const char *bad : {"sms fail", "sms fail now", "sms fail next 0", "sms fail next x",
                            "sms timeout next 3", "sms timeout"}) {
        EXPECT_EQ(s.last(bad).substr(0, 6), "error ") << bad;
    }
}

TEST(Sms, AcknowledgementsAreRecorded)
{
    Stack s;
    EXPECT_TRUE(s.send(kMsgAckSms, Bytes{1, 0, 0, 0, 0, 0, 0, 0}).empty());
    EXPECT_TRUE(s.send(kMsgAckSms, Bytes{0, 0, 0, 0, 0xFF, 0, 0, 0}).empty());
    EXPECT_TRUE(s.send(kMsgAckSms, Bytes{1, 0, 0, 0}).empty()); // malformed
    EXPECT_EQ(s.run("sms acks"),
              (Lines{"ack success=1 cause=0", "ack success=0 cause=255", "ok 2 acks"}));
}

// ---- With a network for the other side ----

namespace {

using zol::imsd::testing::FakeNetwork;
using zol::imsd::testing::net_event;
using Kind = NetEvent::Kind;

struct NetStack : Stack {
    FakeNetwork net;
    NetStack() { attach_network(model, &net); }
    std::vector<Frame> report(NetEvent e)
    {
        net.events.push_back(std::move(e));
        std::vector<std::string> notes;
        return run_network_events(model, nullptr, notes);
    }
};

} // namespace

TEST(RegistrationOnNetwork, RunStatusFollowsTheNetwork)
{
    NetStack s;
    EXPECT_EQ(s.net.take_actions(), Lines{"register on"});
    EXPECT_EQ(frames_on_connect(s.model.registration)[0].payload, u32(0)) << "not yet registered";
    const struct {
        bool registered;
        size_t frames;
    } reports[] = {{true, 1}, {true, 0}, {false, 1}, {false, 0}, {true, 1}};
    for (const auto &r : reports) {
        const auto out = s.report(net_event(Kind::registered, 0, r.registered));
        ASSERT_EQ(out.size(), r.frames);
        if (r.frames != 0) {
            EXPECT_EQ(out[0].message, 30022);
            EXPECT_EQ(out[0].payload, u32(r.registered ? 1 : 0));
        }
    }
    // Asking changes nothing by itself: the network's answer does.
    EXPECT_TRUE(s.send(kMsgSetRegistration, u32(0)).empty());
    EXPECT_EQ(s.last("register on"), "ok registering with the network");
    EXPECT_EQ(s.net.take_actions(), (Lines{"register off", "register on"}));
    EXPECT_EQ(s.model.registration.run_status, 1u);
}

TEST(SmsOnNetwork, SendsGoOutAndTheirStatusComesBackLater)
{
    NetStack s;
    EXPECT_TRUE(s.send(kMsgSendSms, send_sms(7, "0001"), 41).empty());
    EXPECT_EQ(s.net.take_actions(), (Lines{"register on", "sms 0001 - 7 41"}));
    EXPECT_EQ(s.run("sms sent").front(), "sms ref=7 tech=1 smsc= pdu=0001 status=pending");
    NetEvent status = net_event(Kind::sms_status, 0, false, 22);
    status.token = 41;
    status.ref = 7;
    const auto out = s.report(status);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].token, 41);
    EXPECT_EQ(out[0].message, 30103);
    EXPECT_EQ(out[0].payload, (Bytes{7, 0, 0, 0, 0, 0, 0, 0, 22, 0, 0, 0}));
    EXPECT_EQ(s.run("sms sent").front(), "sms ref=7 tech=1 smsc= pdu=0001 status=fail 22");

    // A planned outcome is still the stack's own, and nothing goes out.
    s.run("sms fail next");
    EXPECT_EQ(s.send(kMsgSendSms, send_sms(8, "0001")).size(), 1u);
    EXPECT_EQ(s.net.take_actions(), Lines{});

    s.send(kMsgAckSms, Bytes{1, 0, 0, 0, 0, 0, 0, 0});
    s.send(kMsgAckSms, Bytes{0, 0, 0, 0, 0xFF, 0, 0, 0});
    EXPECT_EQ(s.net.take_actions(), (Lines{"ack yes 0", "ack no 255"}));

    const auto report = s.report(net_event(Kind::sms_received, 0, false, 2, "0006"));
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].message, 30102);
    EXPECT_EQ(slice(report[0].payload, 0, 5), (Bytes{'0', '0', '0', '6', 0}));
    EXPECT_EQ(slice(report[0].payload, 600, 8), (Bytes{4, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_TRUE(s.report(net_event(Kind::sms_received, 0, false, 0, std::string(600, '0'))).empty())
        << "too long for the record";
}

TEST(Sms, IncomingMessagesAndReportsReachTheAgent)
{
    const std::string deliver =
        "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
    const std::string report = "0006D60B911326880736F4111011719551401110117195714000";
    const struct {
        std::string command;
        std::string hex;
        uint8_t type;
    } cases[] = {
        {"sms deliver " + deliver, deliver, 0},
        {"sms deliver 07917283010010f5 040BC87238880900F1 0000993092516195800AE8329BFD4697D9EC37",
         deliver, 0},
        {"sms status-report " + report, report, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Stack s;
        EXPECT_EQ(s.last(c.command), "ok " + c.hex);
        ASSERT_EQ(s.link.frames.size(), 1u);
        const Frame &f = s.link.frames[0];
        EXPECT_EQ(f.token, 0);
        EXPECT_EQ(f.message, 30102);
        ASSERT_EQ(f.payload.size(), 608u);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(f.payload.data())), c.hex);
        EXPECT_EQ(slice(f.payload, 600, 8),
                  (Bytes{static_cast<uint8_t>(c.hex.size()), 0, 0, 0, c.type, 0, 0, 0}));
    }

    // The text runs to the end of the line, spacing kept; underscores are spaces.
    Stack s;
    const std::string reply = s.last("sms deliver-text +49170123456 Hi_there  you");
    ASSERT_EQ(s.link.frames.size(), 1u);
    const auto pdu = parse_hex(reply.substr(3));
    ASSERT_TRUE(pdu) << reply;
    EXPECT_EQ(check_sms_pdu(*pdu, TpduKind::deliver), "");
    const Bytes text = gsm7_pack(*gsm7_septets("Hi there  you"));
    EXPECT_EQ(slice(*pdu, pdu->size() - text.size(), text.size()), text);
}

TEST(Sms, BadInjectionsSendNothing)
{
    const std::string report = "0006D60B911326880736F4111011719551401110117195714000";
    const struct {
        std::string command;
        std::string reply;
        bool connected = true;
    } cases[] = {
        {"sms deliver " + report, "error not a valid PDU: first octet 0x06 is not an SMS-DELIVER"},
        {"sms status-report " + report, "error not connected", false},
        {"sms deliver-text 12x hi",
         "error originating number must be 1..20 digits, optionally after +"},
        {"sms deliver-text 1 caf\xc3\xa9",
         "error the text has a character outside the GSM 7-bit alphabet"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Stack s;
        s.link.connected = c.connected;
        EXPECT_EQ(s.run(c.command), Lines{c.reply});
        EXPECT_TRUE(s.link.frames.empty());
    }
}

TEST(Sups, ForwardingLivesPerReasonAndClass)
{
    Stack s;
    const struct {
        const char *name;
        Op op;
        uint16_t message;
        bool success;
        std::vector<std::string> entries; // of an interrogation
    } steps[] = {
        {"nothing registered", {SsOp::interrogate, kSsCfu}, 30055, true, {"3/0/0//0"}},
        {"activation needs a number", {SsOp::activate, kSsCfb}, 30052, false, {}},
        {"unknown basic service", {SsOp::reg, kSsCfu, "+861234", 3}, 30056, false, {}},
        {"register both classes", {SsOp::reg, kSsCfu, "+861234"}, 30056, true, {}},
        {"both listed", {SsOp::interrogate, kSsCfu}, 30055, true,
         {"3/1/1/+861234/0", "3/2/1/+861234/0"}},
        {"one class asked", {SsOp::interrogate, kSsCfu, "", 1}, 30055, true,
         {"3/1/1/+861234/0"}},
        {"deactivate voice", {SsOp::deactivate, kSsCfu, "", 1}, 30053, true, {}},
        {"number kept", {SsOp::interrogate, kSsCfu}, 30055, true,
         {"3/1/0/+861234/0", "3/2/1/+861234/0"}},
        {"no-reply with its time", {SsOp::activate, kSsCfnry, "555", 1, "", 25}, 30052, true, {}},
        {"all conditional lists its members", {SsOp::interrogate, kSsCfAllConditional}, 30055,
         true, {"6/1/1/555/25"}},
        {"erase all", {SsOp::erase, kSsCfAll}, 30054, true, {}},
        {"gone", {SsOp::interrogate, kSsCfAll}, 30055, true, {"2/0/0//0"}},
        {"register all", {SsOp::reg, kSsCfAll, "9"}, 30056, true, {}},
        {"eight entries", {SsOp::interrogate, kSsCfAll}, 30055, true,
         {"3/1/1/9/0", "3/2/1/9/0", "5/1/1/9/0", "5/2/1/9/0", "6/1/1/9/20", "6/2/1/9/20",
          "7/1/1/9/0", "7/2/1/9/0"}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        const Conf c = ss(s, step.op);
        EXPECT_EQ(c.message, step.message);
        EXPECT_EQ(c.success, step.success);
        EXPECT_EQ(c.entries, step.entries);
        if (step.op.op == SsOp::interrogate) {
            EXPECT_EQ(c.info, 3u);
        }
    }
}

TEST(Sups, WaitingLineIdentityAndBarring)
{
    Stack s;
    const struct {
        const char *name;
        Op op;
        uint16_t message;
        bool success;
        bool active = false; // of an interrogation
    } steps[] = {
        {"waiting starts active", {SsOp::interrogate, kSsWaiting}, 30055, true, true},
        {"waiting off", {SsOp::deactivate, kSsWaiting}, 30053, true},
        {"waiting is off", {SsOp::interrogate, kSsWaiting}, 30055, true, false},
        {"waiting cannot be registered", {SsOp::reg, kSsWaiting}, 30056, false},
        {"clir on", {SsOp::activate, kSsClir}, 30052, true},
        {"colp erase refused", {SsOp::erase, kSsColp}, 30054, false},
        {"barring without password", {SsOp::activate, kSsBarOI}, 30052, false},
        {"barring with a wrong password", {SsOp::activate, kSsBarOI, "", 0, "1234"}, 30052, false},
        {"barring with the password", {SsOp::activate, kSsBarOI, "", 0, "0000"}, 30052, true},
        {"barring is on", {SsOp::interrogate, kSsBarOI}, 30055, true, true},
        {"a group shows any member", {SsOp::interrogate, kSsBarAG}, 30055, true, true},
        {"a group is never imposed", {SsOp::activate, kSsBarAC, "", 0, "0000"}, 30052, false},
        {"a group is lifted", {SsOp::deactivate, kSsBarAG, "", 0, "0000"}, 30053, true},
        {"member lifted too", {SsOp::interrogate, kSsBarOI}, 30055, true, false},
        {"unknown facility", {SsOp::interrogate, kSsNone}, 30055, false},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        const Conf c = ss(s, step.op);
        EXPECT_EQ(c.message, step.message);
        EXPECT_EQ(c.success, step.success);
        if (step.op.op == SsOp::interrogate && step.success) {
            EXPECT_EQ(c.info, 5u);
            EXPECT_EQ(c.code, step.op.code);
            EXPECT_EQ(c.active, step.active);
        }
    }
}

TEST(Sups, ControlCommandsShapeTheStore)
{
    Stack s;
    EXPECT_EQ(s.last("ss password 4321"), "ok");
    EXPECT_FALSE(ss(s, {SsOp::activate, kSsBarAO, "", 0, "0000"}).success);
    EXPECT_TRUE(ss(s, {SsOp::activate, kSsBarAO, "", 0, "4321"}).success);

    EXPECT_EQ(s.last("ss fail next"), "ok fail-next=1");
    EXPECT_EQ(s.last("ss fail next"), "ok fail-next=2");
    EXPECT_FALSE(ss(s, {SsOp::reg, kSsCfb, "+1"}).success);
    const Conf failed = ss(s, {SsOp::interrogate, kSsWaiting});
    EXPECT_EQ(failed.message, 30055);
    EXPECT_FALSE(failed.success);
    EXPECT_TRUE(ss(s, {SsOp::reg, kSsCfb, "+1", 2}).success);

    EXPECT_EQ(s.last("ss set CLIP off"), "ok clip inactive");
    EXPECT_FALSE(ss(s, {SsOp::interrogate, kSsClip}).active);
    for (const char *bad : {"ss fail", "ss fail later", "ss password", "ss set clip",
                            "ss set cfu on", "ss set clip maybe", "ss show all", "ss clear now"}) {
        EXPECT_EQ(s.last(bad).substr(0, 6), "error ") << bad;
    }
    EXPECT_EQ(s.last("ss clear"), "ok");
    EXPECT_TRUE(ss(s, {SsOp::interrogate, kSsClip}).active);
}

TEST(Sups, MalformedOrOperationlessRequestsGetNoAnswer)
{
    Stack s;
    EXPECT_TRUE(s.send(kMsgSupsOperation, Bytes(166, 0)).empty());
    Bytes no_op = encode({SsOp::interrogate, kSsWaiting});
    no_op[0] = 0;
    EXPECT_TRUE(s.send(kMsgSupsOperation, no_op).empty());
    no_op[0] = 6;
    EXPECT_TRUE(s.send(kMsgSupsOperation, no_op).empty());
}

TEST(ServicesProcess, RunStatusOnConnectAndOnChangeThenAnSmsRoundTrip)
{
    using namespace zol::imsd::testing;
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start({"--connect-status", "on"}));
    Client agent(imsd.data_path, SOCK_SEQPACKET);
    EXPECT_EQ(agent.receive(), frame_bytes(0, 30022, {1, 0, 0, 0}));
    EXPECT_EQ(imsd.final_line("register off"), "ok run-status=0 reported");
    EXPECT_EQ(agent.receive(), frame_bytes(0, 30022, {0, 0, 0, 0}));

    ASSERT_TRUE(agent.send(frame_bytes(12, kMsgSendSms, send_sms(7, "0001"))));
    EXPECT_EQ(agent.receive(), frame_bytes(12, 30103, {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(imsd.wait_output("imsd -> 30103 sms-send-status token 12 len 12\n")) << imsd.output();
}
