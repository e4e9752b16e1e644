// The call model: messages from the module, delayed remote behaviour and the
// control commands, on a stepped clock. Every step checks that a change of the
// call list reaches the host as a call-state-changed notice.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "call_records.h"
#include "calls.h"
#include "control.h"
#include "fake_network.h"
#include "imsd_harness.h"
#include "records.h"
#include "timers.h"

using namespace zol::imsd;
using Lines = std::vector<std::string>;
using Ids = std::vector<uint16_t>;

namespace {

class FakeLink : public Link {
public:
    explicit FakeLink(TimerQueue &t) : queue(t) {}
    LinkStatus status() const override { return {connected, 0, 0, 1}; }
    std::string send_frame(const Frame &frame) override
    {
        frames.push_back(frame);
        return {};
    }
    std::string send_raw(std::span<const uint8_t>) override { return {}; }
    TimerQueue *timers() override { return &queue; }

    TimerQueue &queue;
    bool connected = true;
    std::vector<Frame> frames;
};

void put32(Bytes &b, size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// Payloads as the module builds them.
Bytes dial(const std::string &number, bool video = false)
{
    Bytes p(1655);
    std::copy(number.begin(), number.end(), p.begin() + 1);
    p[129] = static_cast<uint8_t>(number.size());
    put32(p, 130, 1);
    put32(p, 134, video ? 4 : 1);
    put32(p, 138, 64);
    put32(p, 142, 3);
    put32(p, 146, video ? 3 : 0xFFFFFFFF);
    return p;
}

Bytes answer(uint32_t video_dir = 0)
{
    Bytes p(1526);
    p[0] = 0xFF;
    put32(p, 1, 1);
    put32(p, 9, video_dir != 0 ? 4 : 1);
    put32(p, 13, 3);
    put32(p, 17, video_dir != 0 ? video_dir : 0xFFFFFFFF);
    return p;
}

Bytes reject()
{
    Bytes p(1526);
    p[0] = 0xFF;
    put32(p, 5, 1);
    return p;
}

Bytes invite_response(uint8_t id, uint32_t accept)
{
    Bytes p(9);
    p[0] = id;
    put32(p, 1, accept);
    return p;
}

Bytes release(uint8_t index, uint8_t kind)
{
    return Bytes{index, kind, 0, 0, 0};
}

Bytes modify(uint8_t id, uint32_t type, uint32_t dir)
{
    Bytes p(1517);
    p[0] = id;
    put32(p, 1, type);
    put32(p, 5, 3);
    put32(p, 9, dir);
    return p;
}

Bytes modify_response(uint32_t accept, uint32_t type, uint32_t dir)
{
    Bytes p(1521);
    p[0] = 0xFF;
    put32(p, 1, accept);
    put32(p, 5, type);
    put32(p, 9, 3);
    put32(p, 13, dir);
    return p;
}

Ids ids_of(const std::vector<Frame> &frames)
{
    Ids ids;
    for (const Frame &f : frames) {
        ids.push_back(f.message);
    }
    return ids;
}

uint32_t word_at(const Bytes &b, size_t offset)
{
    return uint32_t{b.at(offset)} | uint32_t{b.at(offset + 1)} << 8 |
           uint32_t{b.at(offset + 2)} << 16 | uint32_t{b.at(offset + 3)} << 24;
}

// The indications the module answers with a call-state-changed notice.
bool notifies(uint16_t m)
{
    for (uint16_t id : {30003, 30004, 30005, 30006, 30010, 30013, 30015, 30019}) {
        if (m == id) {
            return true;
        }
    }
    return false;
}

struct Sim {
    Model model;
    TimerQueue timers;
    FakeLink link{timers};
    int32_t token = 100;

    std::vector<Frame> send(uint16_t message, Bytes payload)
    {
        const Bytes before = encode_call_list(model.calls);
        Frame request{++token, message, std::move(payload)};
        Context ctx(model, request, &timers);
        dispatch(ctx);
        check(before, ctx.outgoing);
        return ctx.outgoing;
    }
    std::vector<Frame> advance(int64_t ms)
    {
        const Bytes before = encode_call_list(model.calls);
        auto frames = run_due_timers(model, timers, timers.now() + ms);
        check(before, frames);
        return frames;
    }
    Lines command(const std::string &line)
    {
        const Bytes before = encode_call_list(model.calls);
        link.frames.clear();
        const std::optional<Reply> reply = run_command(line, model, link);
        if (line.rfind("call ", 0) != 0) { // editing the table by hand tells nobody
            check(before, link.frames);
        }
        return reply ? reply->lines : Lines{"(no reply)"};
    }
    std::string last(const std::string &line) { return command(line).back(); }
    // What the network reports, applied as the server applies it.
    std::vector<Frame> report(NetEvent e)
    {
        const Bytes before = encode_call_list(model.calls);
        static_cast<zol::imsd::testing::FakeNetwork *>(model.network)->events.push_back(std::move(e));
        std::vector<std::string> notes;
        auto frames = run_network_events(model, &timers, notes);
        check(before, frames);
        return frames;
    }

    // "1:active 2:held:mpty"; video calls show their direction.
    std::string calls() const
    {
        std::string out;
        for (const Call &c : model.calls) {
            if (!out.empty()) {
                out += ' ';
            }
            out += std::to_string(c.id);
            out += ':';
            out += call_state_name(c.state);
            if (c.type == CallType::video) {
                out += ":video" + std::to_string(c.video_dir);
            }
            if (c.mpty != 0) {
                out += ":mpty";
            }
        }
        return out;
    }

    // A change of the call list, and every hold or retrieve, is followed by a
    // frame that the module answers with a call-state-changed notice.
    void check(const Bytes &before, const std::vector<Frame> &frames) const
    {
        bool notified = false;
        for (const Frame &f : frames) {
            if (notifies(f.message)) {
                notified = true;
            } else if (f.message == 30007 || f.message == 30008) {
                notified = false; // the host needs a notice after this one
            }
        }
        for (const Frame &f : frames) {
            if (f.message == 30007 || f.message == 30008) {
                EXPECT_TRUE(notified) << "hold or retrieve without a later notice";
            }
        }
        if (encode_call_list(model.calls) != before) {
            bool any = false;
            for (const Frame &f : frames) {
                any = any || notifies(f.message);
            }
            EXPECT_TRUE(any) << "the call list changed without a notice";
        }
    }
};

} // namespace

TEST(Timers, RunInTimeOrderWithTiesInArrivalOrderAndCanBeCancelled)
{
    Model model;
    TimerQueue q;
    std::string order;
    auto mark = [&order](char c) { return [&order, c](Context &) { order += c; }; };
    q.at(30, mark('c'));
    q.at(10, mark('a'));
    q.at(10, mark('b'));
    const uint64_t gone = q.at(20, mark('x'));
    EXPECT_TRUE(q.cancel(gone));
    EXPECT_FALSE(q.cancel(gone));
    // An action may schedule another; it runs in the same pass when due by then.
    q.at(15, [&order](Context &ctx) {
        order += 'd';
        ctx.after(5, [&order](Context &) { order += 'e'; });
    });
    EXPECT_EQ(q.next_due(), 10);
    run_due_timers(model, q, 9);
    EXPECT_EQ(order, "");
    run_due_timers(model, q, 25);
    EXPECT_EQ(order, "abde");
    EXPECT_EQ(q.now(), 25);
    run_due_timers(model, q, 5); // the clock does not go back
    EXPECT_EQ(q.now(), 25);
    q.at(0, mark('p')); // in the past: due now
    run_due_timers(model, q, 25);
    EXPECT_EQ(order, "abdep");
    run_due_timers(model, q, 100);
    EXPECT_EQ(order, "abdepc");
    EXPECT_TRUE(q.empty());
}

TEST(Calls, OutgoingCallFollowsTheRemoteScriptOfItsNumber)
{
    struct Step {
        int64_t advance; // -1: the dial itself
        Ids frames;
        std::string calls;
        uint32_t end_cause = 0; // of the 30005 among the frames, when there is one
    };
    const struct {
        std::string number;
        std::vector<Step> steps;
    } cases[] = {
        {"5551234",
         {{-1, {30006}, "1:dialing"},
          {299, {}, "1:dialing"},
          {1, {30006}, "1:alerting"},
          {300, {30004}, "1:active"},
          {100000, {}, "1:active"}}},
        {"555#busy", {{-1, {30006}, "1:dialing"}, {300, {30005}, "", 17}}},
        {"555#reject",
         {{-1, {30006}, "1:dialing"}, {300, {30006}, "1:alerting"}, {300, {30005}, "", 21}}},
        {"555#a1#h5",
         {{-1, {30006}, "1:dialing"},
          {1300, {30006, 30004}, "1:active"},
          {4999, {}, "1:active"},
          {1, {30005}, "", 16}}},
        {"555#ring", {{-1, {30006}, "1:dialing"}, {60000, {30006}, "1:alerting"}}},
        {"555#fwd", {{-1, {30006}, "1:dialing"}, {300, {30006, 30023}, "1:alerting"}}},
        // Not a suffix: a code ending in # progresses normally.
        {"*#06#", {{-1, {30006}, "1:dialing"}, {600, {30006, 30004}, "1:active"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.number);
        Sim s;
        for (const Step &step : c.steps) {
            SCOPED_TRACE(step.advance);
            const auto frames =
                step.advance < 0 ? s.send(1, dial(c.number)) : s.advance(step.advance);
            EXPECT_EQ(ids_of(frames), step.frames);
            EXPECT_EQ(s.calls(), step.calls);
            for (const Frame &f : frames) {
                if (f.message == 30005) {
                    EXPECT_EQ(word_at(f.payload, 1), step.end_cause);
                }
            }
        }
    }
}

TEST(Calls, DialledVideoCallKeepsItsDirectionAndANewCallHoldsTheActiveOne)
{
    Sim s;
    s.command("call add 1 111");
    EXPECT_EQ(ids_of(s.send(1, dial("222", true))), (Ids{30007, 30006}));
    EXPECT_EQ(s.calls(), "1:held 2:dialing:video3");
}

TEST(Calls, TimersOfAnEndedCallLeaveALaterCallWithTheSameIdAlone)
{
    Sim s;
    s.send(1, dial("555"));
    s.send(4, release(1, 1));
    s.advance(100);
    s.send(1, dial("666"));
    EXPECT_EQ(ids_of(s.advance(200)), Ids{}) << "the first call's alerting step";
    EXPECT_EQ(s.calls(), "1:dialing");
    EXPECT_EQ(ids_of(s.advance(100)), Ids{30006});
    EXPECT_EQ(s.calls(), "1:alerting");
}

TEST(Calls, IncomingCallIsInvitedConfirmedAndAnsweredOrRejected)
{
    Sim s;
    EXPECT_EQ(s.last("incoming +4912345 video"), "ok call 1");
    ASSERT_EQ(ids_of(s.link.frames), (Ids{30002, 30003}));
    const Bytes &invite = s.link.frames[0].payload;
    EXPECT_EQ(invite[0], 1);
    EXPECT_EQ(std::string(invite.begin() + 1, invite.begin() + 10), std::string("+4912345\0", 9));
    EXPECT_EQ(word_at(invite, 134), 4u);
    EXPECT_EQ(s.calls(), "1:incoming:video3");

    EXPECT_EQ(ids_of(s.send(3, invite_response(1, 1))), Ids{30003});
    EXPECT_EQ(ids_of(s.send(2, answer(2))), Ids{30004});
    EXPECT_EQ(s.calls(), "1:active:video2") << "answered with the host's video direction";

    // A second call waits; answering it holds the first.
    EXPECT_EQ(s.last("incoming 777"), "ok call 2");
    EXPECT_EQ(s.calls(), "1:active:video2 2:waiting");
    EXPECT_EQ(s.last("incoming 888"), "error call 2 rings already");
    EXPECT_EQ(ids_of(s.send(2, answer())), (Ids{30007, 30004}));
    EXPECT_EQ(s.calls(), "1:held:video2 2:active");

    s.command("incoming 999");
    const auto rejected = s.send(2, reject());
    ASSERT_EQ(ids_of(rejected), Ids{30005});
    EXPECT_EQ(rejected[0].payload, (Bytes{3, 16, 0, 0, 0}));
    EXPECT_EQ(s.calls(), "1:held:video2 2:active");

    s.command("incoming 999");
    EXPECT_EQ(ids_of(s.send(3, invite_response(3, 0))), Ids{30005}) << "invitation refused";
    EXPECT_EQ(ids_of(s.send(3, invite_response(3, 1))), Ids{}) << "no such call any more";
    EXPECT_EQ(ids_of(s.send(2, answer())), Ids{}) << "nothing rings";
}

TEST(Calls, ReleaseKindsEndTheRightCalls)
{
    const struct {
        const char *name;
        std::vector<std::string> setup;
        Bytes payload;
        Ids frames;
        std::string calls;
    } cases[] = {
        {"one call", {"call add 1 1", "call add 2 2 state=held"}, release(2, 1), {30005},
         "1:active"},
        {"waiting before background", {"call add 1 1", "call add 2 2 state=waiting"},
         release(0xFF, 2), {30005}, "1:active"},
        {"foreground, then the held call resumes", {"call add 1 1", "call add 2 2 state=held"},
         release(0xFF, 3), {30005, 30008, 30015}, "2:active"},
        {"foreground, then the waiting call is answered",
         {"call add 1 1", "call add 2 2 state=held", "call add 3 3 state=waiting"},
         release(0xFF, 3), {30005, 30004}, "2:held 3:active"},
        {"foreground includes calls being set up", {"call add 1 1 state=alerting"},
         release(0xFF, 3), {30005}, ""},
        {"a conference of one is a plain call",
         {"call add 1 1 mpty=1", "call add 2 2 mpty=1"}, release(1, 1), {30005}, "2:active"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sim s;
        for (const std::string &line : c.setup) {
            ASSERT_EQ(s.last(line), "ok");
        }
        EXPECT_EQ(ids_of(s.send(4, c.payload)), c.frames);
        EXPECT_EQ(s.calls(), c.calls);
    }
}

TEST(Calls, SwapHoldsRetrievesOrAnswersTheWaitingCall)
{
    const struct {
        std::vector<std::string> setup;
        Ids frames;
        std::string calls;
    } cases[] = {
        {{"call add 1 1", "call add 2 2 state=held"}, {30007, 30008, 30015}, "1:held 2:active"},
        {{"call add 1 1"}, {30007, 30015}, "1:held"},
        {{"call add 1 1", "call add 2 2 state=waiting"}, {30007, 30004}, "1:held 2:active"},
        {{"call add 1 1 mpty=1", "call add 2 2 mpty=1", "call add 3 3 state=held"},
         {30007, 30007, 30008, 30015}, "1:held:mpty 2:held:mpty 3:active"},
        {{}, {30009}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls);
        Sim s;
        for (const std::string &line : c.setup) {
            ASSERT_EQ(s.last(line), "ok");
        }
        EXPECT_EQ(ids_of(s.send(18, {})), c.frames);
        EXPECT_EQ(s.calls(), c.calls);
    }
}

TEST(Calls, ConferenceJoinAnswersWithTheListAndSplitLeavesTheRestHeld)
{
    Sim s;
    s.command("call add 1 1");
    s.command("call add 2 2 state=held");
    s.command("call add 3 3 state=held");
    const auto joined = s.send(12, {});
    ASSERT_EQ(ids_of(joined), (Ids{30021, 30019}));
    EXPECT_EQ(joined[0].token, s.token) << "the list answers the join";
    EXPECT_EQ(joined[0].payload, encode_call_list(s.model.calls));
    EXPECT_EQ(s.calls(), "1:active:mpty 2:active:mpty 3:active:mpty");

    EXPECT_EQ(ids_of(s.send(15, {2})), (Ids{30007, 30007, 30019}));
    EXPECT_EQ(s.calls(), "1:held:mpty 2:active 3:held:mpty");
    EXPECT_EQ(ids_of(s.send(15, {2})), Ids{30009}) << "not in a conference";

    Sim alone;
    alone.command("call add 1 1");
    EXPECT_EQ(ids_of(alone.send(12, {})), (Ids{30009, 30021})) << "one call makes no conference";
    EXPECT_EQ(alone.calls(), "1:active");
}

TEST(Calls, DtmfIsConfirmedWhileACallIsActive)
{
    const struct {
        std::vector<std::string> setup;
        uint16_t message;
        Bytes payload;
        Bytes confirmation;
    } cases[] = {
        {{"call add 2 2"}, 5, {255, '5'}, {2, 1, 0, 0, 0}},
        {{}, 5, {255, '5'}, {255, 0, 0, 0, 0}},
        {{"call add 2 2", "fail next dtmf-start"}, 5, {255, '5'}, {2, 0, 0, 0, 0}},
        {{"call add 2 2", "fail next 6 flag=0x7"}, 6, {255, 0, 0, 0, 0}, {2, 7, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Sim s;
        for (const std::string &line : c.setup) {
            ASSERT_EQ(s.last(line).substr(0, 2), "ok");
        }
        const auto frames = s.send(c.message, c.payload);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].message, c.message == 5 ? 30016 : 30017);
        EXPECT_EQ(frames[0].token, s.token);
        EXPECT_EQ(frames[0].payload, c.confirmation);
    }
}

TEST(Calls, CallModificationBothWays)
{
    Sim s;
    s.command("call add 1 1");
    // Local: the remote side agrees after a delay.
    EXPECT_EQ(ids_of(s.send(9, modify(1, 4, 3))), Ids{});
    const auto agreed = s.advance(300);
    ASSERT_EQ(ids_of(agreed), Ids{30013});
    EXPECT_EQ(agreed[0].payload, (Bytes{1, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(s.calls(), "1:active:video3");
    const auto refused = s.send(9, modify(7, 1, 0xFFFFFFFF));
    ASSERT_EQ(ids_of(refused), Ids{30013});
    EXPECT_EQ(word_at(refused[0].payload, 5), 0u) << "no call 7";

    // Remote: the host's answer decides the type.
    EXPECT_EQ(s.last("modify 1 voice"), "ok");
    ASSERT_EQ(ids_of(s.link.frames), Ids{30014});
    EXPECT_EQ(s.link.frames[0].payload,
              (Bytes{1, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ids_of(s.send(10, modify_response(0, 1, 0xFFFFFFFF))), Ids{30013});
    EXPECT_EQ(s.calls(), "1:active");
    EXPECT_EQ(s.last("modify 1 video 2"), "ok");
    EXPECT_EQ(word_at(s.link.frames.at(0).payload, 9), 2u);
    const auto kept = s.send(10, modify_response(0, 0, 0)); // out-of-range host type
    EXPECT_EQ(word_at(kept.at(0).payload, 5), 0u);
    EXPECT_EQ(s.calls(), "1:active");
    const auto stray = s.send(10, modify_response(1, 4, 1));
    EXPECT_EQ(stray.at(0).payload[0], 0xFF) << "nothing waits for an answer";
    EXPECT_EQ(s.calls(), "1:active");
}

TEST(Calls, ArmedFailuresAnswerTheNextMessageOnlyOnce)
{
    const struct {
        const char *name;
        std::vector<std::string> setup;
        std::string arm;
        uint16_t message;
        Bytes payload;
        Ids frames;
        std::string calls;
        uint32_t end_cause; // of the first 30005
    } cases[] = {
        {"dial", {}, "fail next dial cause=34", 1, dial("5"), {30005}, "", 34},
        {"answer", {"call add 1 1 state=incoming"}, "fail next answer", 2, answer(), {30005}, "",
         31},
        {"release keeps the call", {"call add 1 1"}, "fail next release-calls cause=17", 4,
         release(1, 1), {30005}, "1:active", 17},
        {"modify", {"call add 1 1"}, "fail next call-modify", 9, modify(1, 4, 3), {30013},
         "1:active", 0},
        {"swap", {"call add 1 1"}, "fail next swap", 18, {}, {30009}, "1:active", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Sim s;
        for (const std::string &line : c.setup) {
            ASSERT_EQ(s.last(line), "ok");
        }
        EXPECT_EQ(s.last(c.arm).substr(0, 8), "ok next ");
        const auto frames = s.send(c.message, c.payload);
        EXPECT_EQ(ids_of(frames), c.frames);
        EXPECT_EQ(s.calls(), c.calls);
        if (!frames.empty() && frames[0].message == 30005) {
            EXPECT_EQ(word_at(frames[0].payload, 1), c.end_cause);
        }
        EXPECT_TRUE(s.model.call_sim.fail_next.empty()) << "used up";
    }
}

TEST(Calls, ControlCommandsCheckTheirArguments)
{
    const struct {
        std::string command;
        std::string reply;
    } cases[] = {
        {"incoming", "error usage: incoming <number> [video]"},
        {"incoming " + std::string(128, '1'), "error number longer than 127 characters"},
        {"hangup 9", "error unknown call 9"},
        {"hangup 0", "error bad call id '0'"},
        {"connect 1", "error call 1 is not an outgoing call being set up"},
        {"modify 1 video 4", "error usage: modify <id> video [1|2|3] | modify <id> voice"},
        {"set delay 600001", "error usage: set delay <ms> (0..600000)"},
        {"fail next dial bogus", "error expected cause=<n> or flag=<n>, got 'bogus'"},
    };
    for (const auto &c : cases) {
        Sim s;
        s.command("call add 1 1");
        EXPECT_EQ(s.command(c.command), Lines{c.reply}) << c.command;
        EXPECT_TRUE(s.link.frames.empty()) << c.command;
        EXPECT_EQ(s.calls(), "1:active") << c.command;
        EXPECT_TRUE(s.model.call_sim.fail_next.empty()) << c.command;
    }
    Sim s;
    s.command("call add 1 1");
    s.link.connected = false;
    for (const char *line : {"incoming 5", "hangup 1", "modify 1 video", "forward 1", "srvcc 1"}) {
        EXPECT_EQ(s.last(line), "error not connected") << line;
    }
}

TEST(Calls, ControlCommandsPlayTheNetwork)
{
    Sim s;
    EXPECT_EQ(s.last("set delay 50"), "ok delay 50 ms");
    s.send(1, dial("555#ring"));
    s.advance(50);
    EXPECT_EQ(s.calls(), "1:alerting");
    EXPECT_EQ(s.last("connect 1"), "ok");
    EXPECT_EQ(ids_of(s.link.frames), Ids{30004});
    EXPECT_EQ(s.last("forward 1"), "ok");
    EXPECT_EQ(s.link.frames.at(0).payload, Bytes{1});
    EXPECT_EQ(s.last("srvcc 2"), "ok");
    EXPECT_EQ(s.link.frames.at(0).payload, (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(s.command("hangup 1 0x1f"), (Lines{"call 1 ended, cause 31", "ok"}));
    EXPECT_EQ(s.link.frames.at(0).payload, (Bytes{1, 31, 0, 0, 0}));
    EXPECT_EQ(s.calls(), "");
    EXPECT_EQ(s.last("fail next dtmf-stop"), "ok next dtmf-stop fails");
    EXPECT_EQ(s.last("fail clear"), "ok");
    EXPECT_TRUE(s.model.call_sim.fail_next.empty());
}

// ---- The same state machines with a network for the remote side ----

namespace {

using zol::imsd::testing::FakeNetwork;
using zol::imsd::testing::net_event;
using Kind = NetEvent::Kind;
using Actions = std::vector<std::string>;

struct NetSim : Sim {
    FakeNetwork net;
    NetSim() { model.network = &net; }
};

} // namespace

TEST(CallsOnNetwork, OutgoingCallIsDrivenByTheNetwork)
{
    NetSim s;
    EXPECT_EQ(ids_of(s.send(1, dial("2000#a1"))), Ids{30006});
    EXPECT_EQ(s.net.take_actions(), Actions{"call 1 2000#a1 voice"}) << "no remote script";
    EXPECT_TRUE(s.timers.empty());
    EXPECT_EQ(ids_of(s.report(net_event(Kind::progress, 1))), Ids{30006});
    EXPECT_EQ(ids_of(s.report(net_event(Kind::progress, 1))), Ids{}) << "183 after 180";
    EXPECT_EQ(ids_of(s.report(net_event(Kind::answered, 1))), Ids{30004});
    EXPECT_EQ(s.calls(), "1:active");

    // The tone is confirmed when the network knows its fate.
    EXPECT_EQ(ids_of(s.send(5, Bytes{0xFF, '5'})), Ids{});
    const int32_t token = s.token;
    EXPECT_EQ(s.net.take_actions(), Actions{"dtmf 1 5 " + std::to_string(token)});
    NetEvent sent = net_event(Kind::dtmf_sent, 1, false, 1);
    sent.token = token;
    const auto conf = s.report(sent);
    ASSERT_EQ(ids_of(conf), Ids{30016});
    EXPECT_EQ(conf[0].token, token);
    EXPECT_EQ(conf[0].payload, (Bytes{1, 1, 0, 0, 0}));

    EXPECT_EQ(ids_of(s.send(18, {})), (Ids{30007, 30015}));
    EXPECT_EQ(ids_of(s.send(18, {})), (Ids{30008, 30015}));
    EXPECT_EQ(s.net.take_actions(), (Actions{"hold 1 on", "hold 1 off"}));

    const auto ended = s.report(net_event(Kind::ended, 1, false, 17));
    ASSERT_EQ(ids_of(ended), Ids{30005});
    EXPECT_EQ(ended[0].payload, (Bytes{1, 17, 0, 0, 0}));
    EXPECT_EQ(s.net.take_actions(), Actions{}) << "a leg the network ended is not ended again";
    EXPECT_EQ(ids_of(s.report(net_event(Kind::answered, 1))), Ids{}) << "late news of a gone leg";

    s.send(1, dial("2001"));
    s.send(4, release(1, 1));
    EXPECT_EQ(s.net.take_actions(), (Actions{"call 2 2001 voice", "end 2 declined"}));
}

TEST(CallsOnNetwork, IncomingCallsRingAndAreAnsweredOrTurnedAway)
{
    NetSim s;
    EXPECT_EQ(ids_of(s.report(net_event(Kind::incoming, 7, true, 0, "2000"))),
              (Ids{30002, 30003}));
    EXPECT_EQ(s.net.take_actions(), Actions{"ring 7"});
    EXPECT_EQ(s.calls(), "1:incoming:video3");
    EXPECT_EQ(ids_of(s.report(net_event(Kind::incoming, 8, false, 0, "2001"))), Ids{});
    EXPECT_EQ(s.net.take_actions(), Actions{"end 8 busy"}) << "one call rings at a time";
    EXPECT_EQ(ids_of(s.send(2, answer())), Ids{30004});
    EXPECT_EQ(s.net.take_actions(), Actions{"answer 7 voice"});

    // The remote party holds and resumes: told, while the call stays active here.
    EXPECT_EQ(ids_of(s.report(net_event(Kind::remote_hold, 7, true))), (Ids{30007, 30015}));
    EXPECT_EQ(s.calls(), "1:active");

    // Turned away: a waiting call ended as busy, a rejected one as busy, a
    // refused invitation as declined.
    const struct {
        LegId leg;
        uint16_t message;
        Bytes payload;
        const char *action;
    } refusals[] = {
        {9, 4, release(0xFF, 2), "end 9 busy"},
        {10, 2, reject(), "end 10 busy"},
        {11, 3, invite_response(2, 0), "end 11 declined"},
    };
    for (const auto &r : refusals) {
        s.report(net_event(Kind::incoming, r.leg, false, 0, "2002"));
        EXPECT_EQ(s.net.take_actions(), Actions{"ring " + std::to_string(r.leg)});
        EXPECT_EQ(ids_of(s.send(r.message, r.payload)), Ids{30005}) << r.action;
        EXPECT_EQ(s.net.take_actions(), Actions{r.action});
    }
    // The caller gives up.
    s.report(net_event(Kind::incoming, 12, false, 0, "2003"));
    const auto gone = s.report(net_event(Kind::ended, 12, false, 16));
    ASSERT_EQ(ids_of(gone), Ids{30005});
    EXPECT_EQ(s.calls(), "1:active");
}

TEST(CallsOnNetwork, ModificationsWaitForTheRemoteParty)
{
    NetSim s;
    s.send(1, dial("2000"));
    s.report(net_event(Kind::answered, 1));
    s.net.take_actions();

    EXPECT_EQ(ids_of(s.send(9, modify(1, 4, 2))), Ids{});
    EXPECT_EQ(s.net.take_actions(), Actions{"modify 1 video"});
    auto cnf = s.report(net_event(Kind::modified, 1, true, 1));
    ASSERT_EQ(ids_of(cnf), Ids{30013});
    EXPECT_EQ(word_at(cnf[0].payload, 5), 1u) << "done";
    EXPECT_EQ(s.calls(), "1:active:video2") << "with the direction the host asked for";

    s.send(9, modify(1, 1, 0xFFFFFFFF));
    cnf = s.report(net_event(Kind::modified, 1, true, 0));
    EXPECT_EQ(word_at(cnf.at(0).payload, 5), 0u) << "refused";
    EXPECT_EQ(s.calls(), "1:active:video2");

    // The remote party drops video: nobody's consent needed.
    cnf = s.report(net_event(Kind::modified, 1, false, 1));
    EXPECT_EQ(word_at(cnf.at(0).payload, 5), 1u);
    EXPECT_EQ(s.calls(), "1:active");

    // It asks for video; the host's yes becomes a request of this side's.
    s.net.take_actions();
    EXPECT_EQ(ids_of(s.report(net_event(Kind::modify_asked, 1))), Ids{30014});
    EXPECT_EQ(ids_of(s.send(10, modify_response(1, 4, 3))), Ids{});
    EXPECT_EQ(s.net.take_actions(), Actions{"modify 1 video"});
    s.report(net_event(Kind::modified, 1, true, 1));
    EXPECT_EQ(s.calls(), "1:active:video3");
}

TEST(Calls, ParsesRemoteScriptSuffixes)
{
    const struct {
        const char *number;
        RemoteScript want;
        size_t party; // length of the number the remote party has
    } cases[] = {
        {"555#a2#h5", {2000, 5000, false, false, false, false}, 3},
        {"555#fwd#reject", {std::nullopt, std::nullopt, false, true, false, true}, 3},
        {"555#", {}, 4},
        {"555#ax#busy", {std::nullopt, std::nullopt, true, false, false, false}, 6},
        {"555#busy#ax", {}, 11}, // parsing stops at the first word that is not a suffix
        {"555#a3601", {}, 9},
    };
    for (const auto &c : cases) {
        RemoteScript want = c.want;
        want.party_length = c.party;
        EXPECT_EQ(parse_remote_script(c.number), want) << c.number;
    }
}

// The real process: delays from the command line, frames on the data socket.
TEST(CallsProcess, DialProgressesOnTheDataSocketAndIncomingCallsArrive)
{
    using namespace zol::imsd::testing;
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start({"--delay", "20"}));
    Client agent(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(agent.ok());
    ASSERT_TRUE(imsd.wait_status("connected=yes"));
    ASSERT_TRUE(agent.send(frame_bytes(7, 1, dial("5550100#h1"))));
    Ids calls;
    while (calls.empty() || calls.back() != 30005) {
        const auto packet = agent.receive();
        ASSERT_TRUE(packet && packet->size() >= 11) << "frames so far: " << calls.size();
        const uint16_t id = static_cast<uint16_t>((*packet)[5] << 8 | (*packet)[6]);
        if (id >= 30002 && id <= 30021) { // other models may greet the agent
            calls.push_back(id);
        }
    }
    EXPECT_EQ(calls, (Ids{30006, 30006, 30004, 30005}));
    EXPECT_EQ(imsd.final_line("incoming 5550199"), "ok call 1");
    const auto invite = agent.receive();
    ASSERT_TRUE(invite && invite->size() == 11 + 154);
    EXPECT_EQ((*invite)[6], 0x32); // 30002
    EXPECT_TRUE(imsd.wait_output("imsd    call 1 active\n")) << imsd.output();
}
