#include "network.h"

#include <iterator>

#include "calls.h"
#include "control.h"
#include "messages.h"
#include "model.h"
#include "registration.h"
#include "sms.h"

namespace zol::imsd {

std::vector<Frame> run_network_events(Model &model, TimerQueue *timers,
                                      std::vector<std::string> &notes)
{
    std::vector<Frame> out;
    if (model.network == nullptr) {
        return out;
    }
    for (const NetEvent &e : model.network->take_events()) {
        Context ctx(model, timers);
        switch (e.kind) {
        case NetEvent::Kind::registered:
            on_network_registration(ctx, e.flag);
            break;
        case NetEvent::Kind::sms_received:
        case NetEvent::Kind::sms_status:
            on_network_sms_event(ctx, e);
            break;
        case NetEvent::Kind::note:
            ctx.note(e.text);
            break;
        default:
            on_network_call_event(ctx, e);
            break;
        }
        std::move(ctx.outgoing.begin(), ctx.outgoing.end(), std::back_inserter(out));
        std::move(ctx.notes.begin(), ctx.notes.end(), std::back_inserter(notes));
    }
    return out;
}

void cmd_sip_status(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: sip status");
    }
    if (a.model.network == nullptr) {
        return a.error("no network: start zol-imsd with --sip-registrar");
    }
    for (std::string &line : a.model.network->describe()) {
        a.info(std::move(line));
    }
    a.ok(a.model.registration.run_status == kRunStatusRegistered ? "registered" : "not registered");
}

} // namespace zol::imsd
