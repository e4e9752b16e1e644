// Fault injection: what each fault does to a frame, the ledger of owed answers,
// and the commands, first without sockets, then against the running stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/socket.h>

#include "control.h"
#include "faults.h"
#include "imsd_harness.h"
#include "messages.h"

using namespace zol::imsd;
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

const Frame kAnswer{7, 30021, {1, 2, 3, 4, 5, 6}};

Bytes payload_of(const Bytes &packet)
{
    return packet.size() < kFrameHeaderLen ? Bytes{} : Bytes(packet.begin() + kFrameHeaderLen, packet.end());
}

// The packets that carry bytes; trace-only ones are left out.
std::vector<Bytes> sent(const std::vector<Packet> &packets)
{
    std::vector<Bytes> out;
    for (const Packet &p : packets) {
        if (!p.bytes.empty()) {
            out.push_back(p.bytes);
        }
    }
    return out;
}

FaultPlan armed(FaultKind kind, uint32_t count = 1)
{
    FaultPlan plan;
    FaultRule rule;
    rule.kind = kind;
    rule.count = count;
    plan.arm(rule);
    return plan;
}

} // namespace

TEST(Faults, EachKindChangesAnAnswerAndOwesItUnlessItStillArrivesWhole)
{
    const Bytes whole = encode_frame(kAnswer);
    const struct {
        FaultKind kind;
        size_t owed;
        // Holds for what went out at once.
        bool (*check)(const std::vector<Bytes> &out, const Bytes &whole);
    } cases[] = {
        {FaultKind::drop, 1, [](auto &out, auto &) { return out.empty(); }},
        {FaultKind::duplicate, 0,
         [](auto &out, auto &w) { return out == std::vector<Bytes>{w, w}; }},
        {FaultKind::delay, 0, [](auto &out, auto &) { return out.empty(); }},
        {FaultKind::corrupt, 1,
         [](auto &out, auto &w) {
             return out.size() == 1 && out[0].size() == w.size() && out[0] != w &&
                    std::equal(w.begin(), w.begin() + kFrameHeaderLen, out[0].begin());
         }},
        {FaultKind::truncate, 1,
         [](auto &out, auto &w) {
             return out.size() == 1 && !out[0].empty() && out[0].size() < w.size() &&
                    std::equal(out[0].begin(), out[0].end(), w.begin());
         }},
        {FaultKind::oversize, 1,
         [](auto &out, auto &w) {
             Frame f;
             std::string error;
             return out.size() == 1 && decode_frame(out[0], f, error) && f.token == 7 &&
                    f.message == 30021 && f.payload.size() > 6 &&
                    std::equal(w.begin() + kFrameHeaderLen, w.end(), f.payload.begin());
         }},
        {FaultKind::unknown, 1,
         [](auto &out, auto &w) {
             Frame f;
             std::string error;
             const bool known = std::any_of(all_messages().begin(), all_messages().end(),
                                            [&](const MessageInfo &m) {
                                                return m.id == f.message && m.handler == nullptr;
                                            });
             return out.size() == 1 && decode_frame(out[0], f, error) && !known &&
                    payload_of(out[0]) == payload_of(w);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(fault_kind_name(c.kind));
        for (const bool answer : {true, false}) {
            FaultPlan plan = armed(c.kind);
            EXPECT_TRUE(c.check(sent(plan.submit(kAnswer, answer, 1000)), whole));
            EXPECT_EQ(plan.owed(), answer ? c.owed : 0u) << "only answers are owed";
            EXPECT_EQ(plan.stats().injected[static_cast<size_t>(c.kind)], 1u);
            EXPECT_EQ(sent(plan.submit(kAnswer, answer, 1000)), std::vector<Bytes>{whole})
                << "the rule was for one frame";
        }
    }
}

TEST(Faults, DelayedFramesGoOutWhenDueInOrder)
{
    FaultPlan plan = armed(FaultKind::delay, 2);
    const Frame second{8, 30016, {9}};
    EXPECT_TRUE(sent(plan.submit(kAnswer, true, 1000)).empty());
    EXPECT_TRUE(sent(plan.submit(second, true, 1000)).empty());
    EXPECT_EQ(plan.next_due(), 1500);
    EXPECT_TRUE(plan.due(1499).empty());
    const std::vector<Packet> due = plan.due(1500);
    EXPECT_EQ(sent(due), (std::vector<Bytes>{encode_frame(kAnswer), encode_frame(second)}));
    ASSERT_TRUE(due[0].answer.has_value()) << "a delayed answer is owed again if it cannot go";
    EXPECT_FALSE(plan.next_due().has_value());
    EXPECT_EQ(plan.owed(), 0u);
}

TEST(Faults, SharesFollowTheSeedAndRandomModeFaultsEveryFrameAtAHundredPercent)
{
    auto run = [](uint64_t seed) {
        FaultPlan plan;
        plan.random(seed, 0); // seeds the rules' dice too
        FaultRule rule;
        rule.kind = FaultKind::drop;
        rule.percent = 50;
        plan.arm(rule);
        std::string pattern;
        for (int i = 0; i < 64; ++i) {
            pattern += sent(plan.submit(kAnswer, false, 0)).empty() ? 'x' : '.';
        }
        return pattern;
    };
    EXPECT_EQ(run(3), run(3));
    EXPECT_NE(run(3), run(4));
    const std::string pattern = run(3);
    EXPECT_GT(std::count(pattern.begin(), pattern.end(), 'x'), 16);
    EXPECT_LT(std::count(pattern.begin(), pattern.end(), 'x'), 48);

    FaultPlan plan;
    plan.random(9, 100);
    for (int i = 0; i < 200; ++i) {
        plan.submit(kAnswer, true, 0);
    }
    EXPECT_EQ(plan.stats().injected_total(), 200u);
    for (uint64_t n : plan.stats().injected) {
        EXPECT_GT(n, 0u) << "every kind comes up";
    }
    plan.clear_rules();
    EXPECT_EQ(sent(plan.submit(kAnswer, true, 0)).size(), 1u);
}

TEST(Faults, DrainSendsHeldDelayedAndOwedFramesWhole)
{
    Model model;
    Call call;
    call.id = 2;
    call.number = "5";
    model.calls.add(call);
    FaultPlan plan = armed(FaultKind::delay);
    plan.submit(kAnswer, true, 0);              // delayed
    plan.arm(FaultRule{FaultKind::drop, 1, 0, 0});
    plan.submit(Frame{3, 30005, {4}}, true, 0); // dropped, owed
    plan.owe_answer(9, 30021);                  // never answered: a stand-in
    plan.pause();
    const Frame late{4, 30016, {1}};
    EXPECT_TRUE(plan.submit(late, true, 0).empty());
    EXPECT_EQ(plan.summary().substr(0, 40), "paused=yes held=1 delayed=1 owed=2 injec");

    const std::vector<Packet> out = plan.drain(model);
    const Frame stand_in{9, 30021, stand_in_payload(30021, model)};
    EXPECT_EQ(sent(out), (std::vector<Bytes>{encode_frame(late), encode_frame(kAnswer),
                                             encode_frame(Frame{3, 30005, {4}}),
                                             encode_frame(stand_in)}));
    EXPECT_EQ(stand_in.payload.at(0), 1) << "the stand-in call list lists the calls";
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](const Packet &p) { return p.answer; }));
    EXPECT_FALSE(plan.paused());
    EXPECT_EQ(plan.owed() + plan.held() + plan.delayed(), 0u);
    EXPECT_EQ(plan.stats().paid, 2u);
}

TEST(Faults, ResumeSendsHeldFramesThroughTheRulesInOrder)
{
    FaultPlan plan;
    plan.pause();
    for (int32_t token = 1; token <= 3; ++token) {
        EXPECT_TRUE(plan.submit(Frame{token, 30021, {}}, true, 0).empty());
    }
    plan.arm(FaultRule{FaultKind::drop, 1, 0, 0});
    EXPECT_EQ(sent(plan.resume(0)),
              (std::vector<Bytes>{encode_frame(Frame{2, 30021, {}}), encode_frame(Frame{3, 30021, {}})}));
    EXPECT_EQ(plan.owed(), 1u);
}

TEST(Faults, AwaitedAnswersFollowTheRequest)
{
    Bytes answer(1526), reject(1526), interrogate(167), activate(167);
    answer[1] = 1;
    interrogate[0] = 5;
    activate[0] = 3;
    const struct {
        uint16_t message;
        Bytes payload;
        uint16_t awaited;
    } cases[] = {
        {17, {}, 30021},        {12, {}, 30021},         {2, answer, 30004},
        {2, reject, 0},         {4, {1, 1, 0, 0, 0}, 30005}, {5, {0, '5'}, 30016},
        {6, {}, 30017},         {20, {1, 0, 0, 0}, 30024}, {51, interrogate, 30055},
        {51, activate, 30052},  {51, {}, 0},             {61, {}, 30103},
        {1, {}, 0},             {18, {}, 0},             {62, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(awaited_answer(Frame{1, c.message, c.payload}), c.awaited);
    }
    for (uint16_t message : awaited_messages()) {
        EXPECT_FALSE(stand_in_payload(message, Model{}).empty()) << message;
    }
}

namespace {

// A link with a fault plan that records what it is asked to do.
class FaultLink : public Link {
public:
    LinkStatus status() const override { return {connected, 0, 0, 1}; }
    std::string send_frame(const Frame &frame) override { return send_raw(encode_frame(frame)); }
    std::string send_raw(std::span<const uint8_t> bytes) override
    {
        packets.emplace_back(bytes.begin(), bytes.end());
        return {};
    }
    FaultPlan *faults() override { return &plan; }
    void transmit(std::vector<Packet> out) override
    {
        for (Packet &p : out) {
            if (p.bytes.empty()) {
                continue;
            }
            if (broken && p.answer) {
                plan.owe(std::move(*p.answer));
            } else if (!broken) {
                packets.push_back(std::move(p.bytes));
            }
        }
    }
    std::string link_fault(LinkFault fault, uint32_t ms) override
    {
        link_faults.push_back({fault, ms});
        return {};
    }

    bool connected = true;
    bool broken = false; // every send fails
    FaultPlan plan;
    std::vector<Bytes> packets;
    std::vector<std::pair<LinkFault, uint32_t>> link_faults;
};

} // namespace

TEST(FaultCommands, ArmShowAndRefuse)
{
    const struct {
        std::string command;
        std::string reply;   // final line; "error" alone when only the kind matters
        Lines rules;         // what `fault show` lists afterwards
    } cases[] = {
        {"fault drop 3", "ok", {"rule drop next 3"}},
        {"fault delay 25% 40", "ok", {"rule delay 25% 40 ms"}},
        {"fault unknown 1", "ok", {"rule unknown next 1"}},
        {"fault random 7", "ok", {"random seed 7 10%"}},
        {"fault random 7 0", "ok", {}},
        {"fault pause", "ok", {"paused"}},
        {"fault drop 0", "error bad amount '0'", {}},
        {"fault drop 101%", "error bad amount '101%'", {}},
        {"fault corrupt 2 40", "error only delay takes a time", {}},
        {"fault explode 1", "error", {}},
        {"fault drop", "error", {}},
        {"fault random x", "error bad seed or percent", {}},
        {"fault spurious 30002", "error '30002' is no message a request waits for", {}},
        {"fault spurious any 0", "error bad count", {}},
        {"fault stall", "error usage: fault stall <ms>", {}},
        {"fault close soon", "error bad time 'soon'", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        Model model;
        FaultLink link;
        const std::optional<Reply> reply = run_command(c.command, model, link);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(c.reply == "error" ? reply->lines.back().substr(0, 6) : reply->lines.back(),
                  c.reply == "error" ? "error " : c.reply);
        Lines shown = run_command("fault show", model, link)->lines;
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().substr(0, 3), "ok ");
        shown.pop_back();
        EXPECT_EQ(shown, c.rules);
    }
}

TEST(FaultCommands, SpuriousOffAndLinkFaults)
{
    Model model;
    FaultLink link;
    auto run = [&](const std::string &line) { return run_command(line, model, link)->lines.back(); };

    EXPECT_EQ(run("fault spurious eTKM_CALL_END_IND 2"), "ok sent 2");
    EXPECT_EQ(link.packets, (std::vector<Bytes>(2, encode_frame(Frame{0, 30005, stand_in_payload(30005, model)}))));
    EXPECT_EQ(run("fault spurious"), "ok sent 1");
    EXPECT_EQ(link.packets.size(), 3u);
    link.connected = false;
    EXPECT_EQ(run("fault spurious"), "error not connected");
    link.connected = true;

    // Owed answers that cannot be sent stay owed; the next drain sends them.
    link.plan.owe_answer(5, 30016);
    link.plan.arm(FaultRule{FaultKind::drop, 0, 100, 0});
    link.broken = true;
    EXPECT_EQ(run("fault drain"), "ok sent 0, still owed 1");
    link.broken = false;
    link.packets.clear();
    EXPECT_EQ(run("fault off"), "ok sent 1, still owed 0");
    EXPECT_EQ(link.packets.size(), 1u);
    EXPECT_EQ(link.plan.describe(), Lines{}) << "off disarms";

    EXPECT_EQ(run("fault refuse"), "ok");
    EXPECT_EQ(run("fault close 300"), "ok");
    EXPECT_EQ(run("fault stall 2000"), "ok");
    EXPECT_EQ(link.link_faults, (std::vector<std::pair<LinkFault, uint32_t>>{
                                    {LinkFault::none, 0},
                                    {LinkFault::refuse, 0},
                                    {LinkFault::close, 300},
                                    {LinkFault::stall, 2000}}));

    struct NoFaults : Link {
        LinkStatus status() const override { return {}; }
        std::string send_frame(const Frame &) override { return {}; }
        std::string send_raw(std::span<const uint8_t>) override { return {}; }
    } none;
    EXPECT_EQ(run_command("fault drop 1", model, none)->lines.back(),
              "error no fault injection on this link");
    EXPECT_EQ(run_command("fault close", model, none)->lines.back(),
              "error no connection faults on this link");
}

// ---- Against the running stack ----

namespace {

using namespace zol::imsd::testing;

// A data connection that asks for the call list and reads the answer.
bool asks_calls(Client &data, int32_t token)
{
    return data.send(frame_bytes(token, 17));
}

bool answer_arrives(Client &data, int32_t token, milliseconds timeout = kWait)
{
    return frame_arrives(data, token, 30021, timeout);
}

} // namespace

TEST(FaultProcess, OwedAnswersArriveOnFaultOff)
{
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start());
    Client data(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(imsd.wait_status("connected=yes"));

    ASSERT_EQ(imsd.final_line("fault drop 1"), "ok");
    ASSERT_TRUE(asks_calls(data, 1));
    EXPECT_FALSE(data.receive(milliseconds(200)).has_value()) << "dropped";
    ASSERT_EQ(imsd.final_line("fault pause"), "ok");
    ASSERT_TRUE(asks_calls(data, 2));
    EXPECT_FALSE(data.receive(milliseconds(200)).has_value()) << "held";
    EXPECT_EQ(imsd.final_line("fault off"), "ok sent 2, still owed 0");
    EXPECT_TRUE(answer_arrives(data, 2)) << "what was held first";
    EXPECT_TRUE(answer_arrives(data, 1)) << "then what was owed";
    EXPECT_TRUE(imsd.wait_output("imsd fault drop: 30021 eTKM_CALL_CUR_CALL_IND token 1 len 1\n"))
        << imsd.output();
}

TEST(FaultProcess, FaultOffPaysWhatItOwesWhenTheAgentIsBack)
{
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start());
    {
        Client data(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
        ASSERT_EQ(imsd.final_line("fault drop 1"), "ok");
        ASSERT_TRUE(asks_calls(data, 4));
        ASSERT_TRUE(imsd.wait_output("fault drop:"));
        ASSERT_EQ(imsd.final_line("fault refuse"), "ok");
        // Ending the refusal ends the refused connection: nobody to pay now.
        EXPECT_EQ(imsd.final_line("fault off"),
                  "ok sent 0, still owed 1: paid when the agent connects");
    }
    Client back(imsd.data_path, SOCK_SEQPACKET);
    EXPECT_TRUE(answer_arrives(back, 4));
    EXPECT_EQ(imsd.final_line("fault show").substr(0, 39),
              "ok paused=no held=0 delayed=0 owed=0 in");
}

TEST(FaultProcess, RefuseCloseAndStallAreFeltByTheAgentSide)
{
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start());
    {
        Client data(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
        ASSERT_TRUE(asks_calls(data, 1));
        ASSERT_EQ(imsd.final_line("fault refuse"), "ok");
        EXPECT_TRUE(answer_arrives(data, 1)) << "what came before is still answered";
        EXPECT_FALSE(asks_calls(data, 2)) << "sends fail at once";
        ASSERT_EQ(imsd.final_line("fault spurious 30021"), "ok sent 1");
        EXPECT_TRUE(answer_arrives(data, 0)) << "frames still reach the agent";
        ASSERT_EQ(imsd.final_line("fault off"), "ok sent 0, still owed 0");
        const auto end = data.receive();
        ASSERT_TRUE(end.has_value());
        EXPECT_TRUE(end->empty()) << "off ends the refused connection, so that the agent comes back";
    }
    {
        Client data(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connections=2"));
        ASSERT_TRUE(asks_calls(data, 3));
        ASSERT_EQ(imsd.final_line("fault close 400"), "ok");
        EXPECT_TRUE(answer_arrives(data, 3)) << "served before the end";
        const auto end = data.receive();
        ASSERT_TRUE(end.has_value());
        EXPECT_TRUE(end->empty()) << "then the connection ends";
        EXPECT_FALSE(Client(imsd.data_path, SOCK_SEQPACKET).ok()) << "no new one meanwhile";
        EXPECT_TRUE(wait_until([&] { return Client(imsd.data_path, SOCK_SEQPACKET).ok(); }));
    }
    {
        Client data(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
        ASSERT_EQ(imsd.final_line("fault stall 300"), "ok");
        ASSERT_TRUE(asks_calls(data, 4));
        EXPECT_FALSE(data.receive(milliseconds(150)).has_value()) << "not read yet";
        EXPECT_TRUE(answer_arrives(data, 4)) << "read once the stall ends";
    }
}

TEST(FaultProcess, WhatADepartingAgentSentIsServedAndItsAnswersOwed)
{
    // However the stack comes to read them, requests that wait unread when the
    // agent gives the connection up are all served: the first answer fails, and
    // the requests after it must not go with the connection.
    for (const char *reader : {"the stall ends", "fault refuse", "fault close"}) {
        SCOPED_TRACE(reader);
        TempDir dir;
        Imsd imsd(dir.path);
        ASSERT_TRUE(imsd.start());
        Client data(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
        ASSERT_EQ(imsd.final_line(reader[0] == 't' ? "fault stall 300" : "fault stall 60000"), "ok");
        for (int32_t token = 1; token <= 3; ++token) {
            ASSERT_TRUE(asks_calls(data, token));
        }
        shutdown(data.fd(), SHUT_RDWR);
        if (reader[0] != 't') {
            ASSERT_EQ(imsd.final_line(reader), "ok");
        }
        EXPECT_TRUE(imsd.wait_output("imsd <- 17 get-current-calls token 3 len 0\n")) << imsd.output();
        EXPECT_TRUE(imsd.wait_status("connected=no"));
        EXPECT_EQ(imsd.final_line("fault show").substr(0, 40),
                  "ok paused=no held=0 delayed=0 owed=3 inj");
    }
}
