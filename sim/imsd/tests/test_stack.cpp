// The stack in-process, without sockets: the timer queue, conferences and what
// each fault does to a frame. The stories the models tell are told end
// to end by the scenarios (tests/e2e/scenarios); the control commands by them
// and the process test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call_records.h"
#include "faults.h"
#include "messages.h"
#include "records.h"
#include "timers.h"

using namespace zol::imsd;

namespace {

// A model holding these calls.
Model with_calls(std::initializer_list<std::pair<uint8_t, CallState>> calls)
{
    Model model;
    for (const auto &[id, state] : calls) {
        Call c;
        c.id = id;
        c.state = state;
        model.calls.add(c);
    }
    return model;
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
    plan.arm(FaultRule{kind, count, 0, 500});
    return plan;
}

const Frame kAnswer{7, 30021, {1, 2, 3, 4, 5, 6}};

} // namespace

// Time is stepped here, which the scenarios cannot do: the first call's alerting
// step must not act on a later call that got the same id.
TEST(Timers, AnEndedCallsStepsLeaveALaterCallWithItsIdAlone)
{
    Model model;
    TimerQueue timers;
    auto send = [&](uint16_t message, Bytes payload) {
        Frame request{1, message, std::move(payload)};
        Context ctx(model, request, &timers);
        dispatch(ctx);
    };
    Bytes dial(1655);
    dial[1] = '5';
    dial[129] = 1;
    send(1, dial);
    send(4, Bytes{1, 1, 0, 0, 0});
    run_due_timers(model, timers, 100);
    send(1, dial);
    EXPECT_TRUE(run_due_timers(model, timers, 300).empty()) << "the first call's alerting step";
    ASSERT_EQ(run_due_timers(model, timers, 400).size(), 1u);
    ASSERT_NE(model.calls.find(1), nullptr);
    EXPECT_EQ(model.calls.find(1)->state, CallState::alerting);
}

// The module has no host request that joins or splits a conference; only a raw
// agent reaches these.
TEST(Calls, ConferenceJoinAnswersWithTheListAndSplitLeavesTheRestHeld)
{
    Model model = with_calls({{1, CallState::active}, {2, CallState::held}, {3, CallState::held}});
    const auto ids = [](const std::vector<Frame> &frames) {
        std::vector<uint16_t> out;
        for (const Frame &f : frames) {
            out.push_back(f.message);
        }
        return out;
    };
    const auto states = [&model] {
        std::string out;
        for (const Call &c : model.calls) {
            out += std::to_string(c.id) + ":" + call_state_name(c.state) + (c.mpty ? "+ " : " ");
        }
        return out;
    };
    const auto joined = dispatch(model, Frame{5, 12, {}});
    EXPECT_EQ(ids(joined), (std::vector<uint16_t>{30021, 30019}));
    EXPECT_EQ(joined.at(0).token, 5) << "the list answers the join";
    EXPECT_EQ(joined.at(0).payload, encode_call_list(model.calls));
    EXPECT_EQ(states(), "1:active+ 2:active+ 3:active+ ");
    EXPECT_EQ(ids(dispatch(model, Frame{6, 15, {2}})),
              (std::vector<uint16_t>{30007, 30007, 30019}));
    EXPECT_EQ(states(), "1:held+ 2:active 3:held+ ");
    EXPECT_EQ(ids(dispatch(model, Frame{7, 15, {2}})), std::vector<uint16_t>{30009})
        << "not in a conference";

    Model alone = with_calls({{1, CallState::active}});
    EXPECT_EQ(ids(dispatch(alone, Frame{8, 12, {}})), (std::vector<uint16_t>{30009, 30021}))
        << "one call makes no conference";
    EXPECT_EQ(alone.calls.find(1)->mpty, 0);
}

TEST(Faults, EachKindChangesAnAnswerAndOwesItUnlessItStillArrivesWhole)
{
    const Bytes whole = encode_frame(kAnswer);
    const auto decoded = [](const Bytes &packet) {
        Frame f;
        std::string error;
        return decode_frame(packet, f, error) ? std::optional<Frame>(f) : std::nullopt;
    };
    const struct {
        FaultKind kind;
        size_t owed;
        // Holds for what went out at once.
        std::function<bool(const std::vector<Bytes> &)> check;
    } cases[] = {
        {FaultKind::drop, 1, [](auto &out) { return out.empty(); }},
        {FaultKind::duplicate, 0,
         [&](auto &out) {
             return out == std::vector<Bytes>{whole, whole};
         }},
        {FaultKind::delay, 0, [](auto &out) { return out.empty(); }},
        {FaultKind::corrupt, 1,
         [&](auto &out) {
             return out.size() == 1 && out[0].size() == whole.size() && out[0] != whole &&
                    std::equal(whole.begin(), whole.begin() + kFrameHeaderLen, out[0].begin());
         }},
        {FaultKind::truncate, 1,
         [&](auto &out) {
             return out.size() == 1 && !out[0].empty() && out[0].size() < whole.size() &&
                    std::equal(out[0].begin(), out[0].end(), whole.begin());
         }},
        {FaultKind::oversize, 1,
         [&](auto &out) {
             const auto f = out.size() == 1 ? decoded(out[0]) : std::nullopt;
             return f && f->token == 7 && f->message == 30021 && f->payload.size() > 6 &&
                    std::equal(kAnswer.payload.begin(), kAnswer.payload.end(), f->payload.begin());
         }},
        {FaultKind::unknown, 1,
         [&](auto &out) {
             const auto f = out.size() == 1 ? decoded(out[0]) : std::nullopt;
             const MessageInfo *known = f ? find_message(f->message) : nullptr;
             return f && (known == nullptr || known->handler != nullptr) &&
                    f->payload == kAnswer.payload;
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(fault_kind_name(c.kind));
        for (const bool answer : {true, false}) {
            FaultPlan plan = armed(c.kind);
            EXPECT_TRUE(c.check(sent(plan.submit(kAnswer, answer, 1000))));
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
}

TEST(Faults, DrainSendsHeldDelayedAndOwedFramesWhole)
{
    const Model model = with_calls({{2, CallState::active}});
    FaultPlan plan = armed(FaultKind::delay);
    plan.submit(kAnswer, true, 0); // delayed
    plan.arm(FaultRule{FaultKind::drop, 1, 0, 0});
    plan.submit(Frame{3, 30005, {4}}, true, 0); // dropped, owed
    plan.owe_answer(9, 30021);                  // never answered: a stand-in
    plan.pause();
    const Frame late{4, 30016, {1}};
    EXPECT_TRUE(plan.submit(late, true, 0).empty());
    EXPECT_EQ(plan.summary().substr(0, 40), "paused=yes held=1 delayed=1 owed=2 injec");

    const std::vector<Packet> out = plan.drain(model);
    const Frame stand_in{9, 30021, stand_in_payload(30021, model)};
    EXPECT_EQ(sent(out),
              (std::vector<Bytes>{encode_frame(late), encode_frame(kAnswer),
                                  encode_frame(Frame{3, 30005, {4}}), encode_frame(stand_in)}));
    EXPECT_EQ(stand_in.payload.at(0), 1) << "the stand-in call list lists the calls";
    EXPECT_FALSE(plan.paused());
    EXPECT_EQ(plan.owed() + plan.held() + plan.delayed(), 0u);
    EXPECT_EQ(plan.stats().paid, 2u);
}

// What is owed depends on what the module waits for after each request.
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
        {17, {}, 30021},       {2, answer, 30004},
        {2, reject, 0},        {4, {1, 1, 0, 0, 0}, 30005},
        {5, {0, '5'}, 30016},  {51, interrogate, 30055},
        {51, activate, 30052}, {51, {}, 0},
        {61, {}, 30103},       {1, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(awaited_answer(Frame{1, c.message, c.payload}), c.awaited);
    }
    for (uint16_t message : awaited_messages()) {
        EXPECT_FALSE(stand_in_payload(message, Model{}).empty()) << message;
    }
}
