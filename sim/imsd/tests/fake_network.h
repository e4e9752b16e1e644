// A Network that writes down what the models ask of it, one line per request,
// and hands back the events a test gives it.
#ifndef ZOL_IMSD_FAKE_NETWORK_H
#define ZOL_IMSD_FAKE_NETWORK_H

#include <string>
#include <utility>
#include <vector>

#include "network.h"

namespace zol::imsd::testing {

class FakeNetwork : public Network {
public:
    std::vector<std::string> actions;
    std::vector<NetEvent> events;
    LegId next_leg = 1;

    void set_registered(bool on) override { act(on ? "register on" : "register off"); }
    LegId call(const std::string &number, bool video) override
    {
        act("call " + std::to_string(next_leg) + " " + number + (video ? " video" : " voice"));
        return next_leg++;
    }
    void ring(LegId leg) override { act("ring " + std::to_string(leg)); }
    void answer(LegId leg, bool video) override
    {
        act("answer " + std::to_string(leg) + (video ? " video" : " voice"));
    }
    void end(LegId leg, Refusal refusal) override
    {
        act("end " + std::to_string(leg) + (refusal == Refusal::busy ? " busy" : " declined"));
    }
    void hold(LegId leg, bool held) override
    {
        act("hold " + std::to_string(leg) + (held ? " on" : " off"));
    }
    void modify(LegId leg, bool video) override
    {
        act("modify " + std::to_string(leg) + (video ? " video" : " voice"));
    }
    void dtmf(LegId leg, char key, int32_t token) override
    {
        act("dtmf " + std::to_string(leg) + " " + key + " " + std::to_string(token));
    }
    void send_sms(const std::string &tpdu, const std::string &smsc, uint32_t ref,
                  int32_t token) override
    {
        act("sms " + tpdu + " " + (smsc.empty() ? "-" : smsc) + " " + std::to_string(ref) + " " +
            std::to_string(token));
    }
    void ack_sms(bool accepted, uint32_t cause) override
    {
        act(std::string("ack ") + (accepted ? "yes " : "no ") + std::to_string(cause));
    }
    int wake_fd() const override { return -1; }
    std::vector<NetEvent> take_events() override { return std::exchange(events, {}); }
    std::vector<std::string> describe() const override { return {"fake network"}; }

    // What was asked since the last look.
    std::vector<std::string> take_actions() { return std::exchange(actions, {}); }

private:
    void act(std::string line) { actions.push_back(std::move(line)); }
};

inline NetEvent net_event(NetEvent::Kind kind, LegId leg = 0, bool flag = false,
                          uint32_t code = 0, std::string text = {})
{
    NetEvent e;
    e.kind = kind;
    e.leg = leg;
    e.flag = flag;
    e.code = code;
    e.text = std::move(text);
    return e;
}

} // namespace zol::imsd::testing

#endif
