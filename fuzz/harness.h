// What the module's fuzz targets share on top of the test kit's host and
// agent: tokens that count their completions and read them as rild would,
// requests waiting in the pending list, and which requests wait for which
// stack message. No test framework: a finding aborts.
#ifndef ZOL_FUZZ_HARNESS_H
#define ZOL_FUZZ_HARNESS_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent.h"
#include "common/zol_messages.h"
#include "host.h"
#include "reference_zol.h"

namespace zol_fuzz {

namespace ev = zol::ev;

[[noreturn]] inline void fault(const char *what)
{
    fprintf(stderr, "fuzz host: %s\n", what);
    abort();
}

// A host token: the module reads its first word as the request's serial; the
// rest says how the host reads a completion, and counts them.
struct Token {
    int32_t serial = 0, request = 0;
    bool plain = false; // read the data as bytes only, whatever the request
    int completions = 0;
};

inline void on_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    auto *token = static_cast<Token *>(t);
    if (t == nullptr || t == ZOL_EVENT_TOKEN || token->completions++ != 0) {
        fault(t == nullptr || t == ZOL_EVENT_TOKEN ? "completion for a token the host never gave"
                                                   : "request completed twice");
    }
    // A failed forwarding query carries no list.
    const bool plain =
        token->plain || (token->request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS && e != 0);
    zol_kit::read_response(plain ? 0 : token->request, response, len);
}

// The kit's host and agent, set up for fuzzing: nothing kept, every log line
// formatted (so every text it prints is read) and shown to `observer`.
inline void set_up_host(zol_kit::Host::LogObserver observer = nullptr)
{
    zol_kit::Host &host = zol_kit::Host::get();
    host.keep(false);
    host.on_complete(on_complete);
    zol_kit::Host::capture_log(observer);
    zol_kit::agent::keep_frames(false);
}

// The module bound to the kit's host and agent without its event thread: the
// target hands stack events to zol_process_event itself.
inline void bring_up_module()
{
    [[maybe_unused]] static const bool done = [] {
        set_up_host();
        zol_response_api = zol_kit::Host::get().env();
        zol_ipc_init();
        zol_init();
        return true;
    }();
}

// Every host request is completed exactly once: either the host has its one
// completion and the request is no longer pending, or it still waits and has none.
inline void check_answered_once(Token &token)
{
    zol_reqlist_entry_type entry;
    const bool pending = zol_reqlist_query(&token, &entry) == 0;
    if (pending ? token.completions != 0 : token.completions != 1) {
        fault(pending ? "request completed but still pending"
                      : "request neither completed nor pending");
    }
}

inline void add_waiting(Token &token, uint32_t pending_event_id)
{
    zol_reqlist_entry_type entry;
    zol_reqlist_default_entry(&token, token.request, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                              pending_event_id, nullptr, &entry);
    if (zol_reqlist_new(&entry) != 0) {
        fault("pending list refused a waiting request");
    }
}

// A request that waits for a stack message, as its handler remembers it.
struct Waiter {
    int32_t event_id, request;
};
inline const std::vector<Waiter> &all_waiters()
{
    static const std::vector<Waiter> waiters = [] {
        std::vector<Waiter> out = {
            {ev::CALL_CONNECTED_IND, RIL_REQUEST_ANSWER},
            {ev::CALL_END_IND, RIL_REQUEST_HANGUP},
            {ev::CALL_END_IND, RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND},
            {ev::CALL_END_IND, RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND},
            {ev::CALL_DTMF_START_CONF, RIL_REQUEST_DTMF_START},
            {ev::CALL_DTMF_STOP_CONF, RIL_REQUEST_DTMF_STOP},
            {ev::CALL_CUR_CALL_IND, RIL_REQUEST_GET_CURRENT_CALLS},
            {ev::CALL_CUR_CALL_IND, RIL_REQUEST_CONFERENCE},
            {ev::CALL_GET_CFG_CONF, RIL_REQUEST_IMS_GET_CONFIGRATION},
            {ev::SMS_SEND_STATUS_IND, RIL_REQUEST_IMS_SEND_SMS}};
        for (int32_t query :
             {RIL_REQUEST_GET_CLIR, RIL_REQUEST_QUERY_CALL_FORWARD_STATUS,
              RIL_REQUEST_QUERY_CALL_WAITING, RIL_REQUEST_QUERY_FACILITY_LOCK,
              RIL_REQUEST_QUERY_CLIP, RIL_REQUEST_QUERY_COLR, RIL_REQUEST_QUERY_COLP}) {
            out.push_back({ev::SUPS_INTERROGATE_SS_CONF, query});
        }
        // Every set request waits for the confirmation of the operation it chose.
        for (int32_t conf : {ev::SUPS_ACTIVATE_SS_CONF, ev::SUPS_DEACTIVATE_SS_CONF,
                             ev::SUPS_ERASE_SS_CONF, ev::SUPS_REGISTER_SS_CONF}) {
            for (int32_t set :
                 {RIL_REQUEST_SET_CLIR, RIL_REQUEST_SET_CALL_FORWARD, RIL_REQUEST_SET_CALL_WAITING,
                  RIL_REQUEST_SET_FACILITY_LOCK, RIL_REQUEST_SET_COLP}) {
                out.push_back({conf, set});
            }
        }
        return out;
    }();
    return waiters;
}

inline std::vector<int32_t> waiters_of(int32_t event_id)
{
    std::vector<int32_t> out;
    for (const Waiter &w : all_waiters()) {
        out.insert(out.end(), w.event_id == event_id ? 1 : 0, w.request);
    }
    return out;
}

// Whether the host can read a completion of this request built from this
// payload. An interrogation answered with status words instead of a
// forwarding list (information type 3, at offset 5) reaches the forwarding
// query as words: the stack broke the pairing, and rild could not tell.
inline bool host_can_read(int32_t request, int32_t event_id, const uint8_t *payload, size_t len)
{
    if (request != RIL_REQUEST_QUERY_CALL_FORWARD_STATUS) {
        return true;
    }
    static constexpr uint8_t kListType[] = {3, 0, 0, 0};
    return event_id == ev::SUPS_INTERROGATE_SS_CONF && payload != nullptr && len >= 9 &&
           memcmp(payload + 5, kListType, sizeof kListType) == 0;
}

} // namespace zol_fuzz

#endif // ZOL_FUZZ_HARNESS_H
