// The pending request list: a fixed pool of 50 slots, linked oldest first, that
// remembers every host request waiting for an answer from the IMS stack.
#include <cstring>

#include "common/zol_sync.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "runtime/zol_reqlist_internal.h"
#include "zol/zol_log.h"
#include "zol/zol_reqlist.h"

namespace {

struct Slot {
    zol_reqlist_entry_type entry;
    Slot *prev;
    Slot *next;
    // Set while the slot is linked. A linked entry whose state was set to
    // ZOL_REQ_FREE must not be handed out again, so availability is decided by
    // this mark together with the state.
    bool linked;
    // Set once a handler has taken the request to answer it.
    bool claimed;
};

zol::Mutex g_reqlist_mutex;
Slot g_pool[ZOL_REQLIST_MAX] ZOL_GUARDED_BY(g_reqlist_mutex);
Slot *g_head ZOL_GUARDED_BY(g_reqlist_mutex) = nullptr;
Slot *g_tail ZOL_GUARDED_BY(g_reqlist_mutex) = nullptr;
uint16_t g_next_req_id ZOL_GUARDED_BY(g_reqlist_mutex) = 0;

bool is_host_token(RIL_Token t)
{
    return t != nullptr && t != ZOL_EVENT_TOKEN;
}

const char *name_of(int32_t id)
{
    return zol_log_lookup_event_name(id);
}

void print_all_locked() ZOL_REQUIRES(g_reqlist_mutex)
{
    if (g_head == nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "ReqList entries : Empty \n");
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", "ReqList entries :\n");
    for (const Slot *s = g_head; s != nullptr; s = s->next) {
        ZOL_LOG(ZOL_LOG_TRACE, "    %s (%d), token id %d\n", name_of(s->entry.request),
                s->entry.request, zol_log_get_token_id(s->entry.t));
    }
}

// The oldest linked entry that matches, announced with the lookups' "Found" line.
template <typename Match>
Slot *find_locked(Match match) ZOL_REQUIRES(g_reqlist_mutex)
{
    for (Slot *s = g_head; s != nullptr; s = s->next) {
        if (match(s->entry)) {
            ZOL_LOG(ZOL_LOG_DETAIL, "Found ReqList entry : %s(%d), token id %d\n",
                    name_of(s->entry.request), s->entry.request, zol_log_get_token_id(s->entry.t));
            return s;
        }
    }
    return nullptr;
}

Slot *find_by_token_locked(RIL_Token t) ZOL_REQUIRES(g_reqlist_mutex)
{
    Slot *s = find_locked([t](const zol_reqlist_entry_type &e) { return e.t == t; });
    if (s == nullptr) {
        ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry : token id %d\n", zol_log_get_token_id(t));
    }
    return s;
}

constexpr uint32_t kAwaiting = ZOL_REQ_AWAITING_MORE_AMSS_EVENTS;
constexpr uint32_t kAnyState = ZOL_REQ_ANY_STATE;

Slot *find_by_event_locked(uint32_t event_id, uint32_t mask, bool skip_claimed)
    ZOL_REQUIRES(g_reqlist_mutex)
{
    const char *event_name = name_of(static_cast<int32_t>(event_id));
    for (Slot *s = g_head; s != nullptr; s = s->next) {
        const zol_reqlist_entry_type &e = s->entry;
        ZOL_LOG(ZOL_LOG_DETAIL, "Founding ReqList entry : %s(%d), token id %d, pending %s (%lu)\n",
                name_of(e.request), e.request, zol_log_get_token_id(e.t),
                name_of(static_cast<int32_t>(e.pending_event_id)),
                static_cast<unsigned long>(e.pending_event_id));
        if ((static_cast<uint32_t>(e.state) & mask) != 0 && e.pending_event_id == event_id &&
            !(skip_claimed && s->claimed)) {
            ZOL_LOG(ZOL_LOG_DETAIL, "Found ReqList entry : %s(%d), token id %d, pending %s (%lu)\n",
                    name_of(e.request), e.request, zol_log_get_token_id(e.t), event_name,
                    static_cast<unsigned long>(event_id));
            return s;
        }
    }
    ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry waiting for %s (%lu)\n", event_name,
            static_cast<unsigned long>(event_id));
    return nullptr;
}

Slot *find_by_event_and_sub_id_locked(uint32_t event_id, uint32_t sub_id, uint32_t mask)
    ZOL_REQUIRES(g_reqlist_mutex)
{
    const char *event_name = name_of(static_cast<int32_t>(event_id));
    for (Slot *s = g_head; s != nullptr; s = s->next) {
        const zol_reqlist_entry_type &e = s->entry;
        if ((static_cast<uint32_t>(e.state) & mask) != 0 && e.pending_event_id == event_id &&
            e.valid_sub_id != 0 && e.sub_id == sub_id) {
            ZOL_LOG(ZOL_LOG_DETAIL,
                    "Found ReqList entry : %s(%d), token id %d, pending %s (%lu), sub id %lu\n",
                    name_of(e.request), e.request, zol_log_get_token_id(e.t), event_name,
                    static_cast<unsigned long>(event_id), static_cast<unsigned long>(sub_id));
            return s;
        }
    }
    ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry waiting for %s (%lu) and sub id %lu\n",
            event_name, static_cast<unsigned long>(event_id), static_cast<unsigned long>(sub_id));
    return nullptr;
}

void unlink_locked(Slot *s) ZOL_REQUIRES(g_reqlist_mutex)
{
    (s->prev != nullptr ? s->prev->next : g_head) = s->next;
    (s->next != nullptr ? s->next->prev : g_tail) = s->prev;
    s->prev = nullptr;
    s->next = nullptr;
    s->linked = false;
    s->claimed = false;
    s->entry.state = ZOL_REQ_FREE;
}

// Returns the add's code; on success the caller's record holds the req id.
zol_reqlist_result_e_type add_locked(zol_reqlist_entry_type *req_ptr) ZOL_REQUIRES(g_reqlist_mutex)
{
    const RIL_Token t = req_ptr->t;
    if (find_by_token_locked(t) != nullptr) {
        ZOL_LOG(ZOL_LOG_ERROR, "Fail to add ReqList entry with token id %d [%p] (already exists)\n",
                zol_log_get_token_id(t), t);
        return ZOL_REQLIST_REFUSED;
    }
    Slot *slot = nullptr;
    for (Slot &s : g_pool) {
        if (!s.linked && s.entry.state == ZOL_REQ_FREE) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        ZOL_LOG(ZOL_LOG_ERROR, "Fail to add ReqList entry for token id %d [%p] (no buffer)\n",
                zol_log_get_token_id(t), t);
        return ZOL_REQLIST_FULL;
    }
    slot->entry = *req_ptr;
    slot->entry.req_id = g_next_req_id++;
    slot->prev = g_tail;
    slot->next = nullptr;
    slot->linked = true;
    slot->claimed = false;
    (g_tail != nullptr ? g_tail->next : g_head) = slot;
    g_tail = slot;
    *req_ptr = slot->entry;

    const zol_reqlist_entry_type &e = slot->entry;
    ZOL_LOG(ZOL_LOG_DETAIL, "Event %s(%d), token id %d [ %p], req id %d : ", name_of(e.request),
            e.request, zol_log_get_token_id(t), t, e.req_id);
    if (e.state != ZOL_REQ_FREE) {
        ZOL_LOG(ZOL_LOG_DETAIL, "                       pending receipt of %s(%d), state %s(%d)",
                name_of(static_cast<int32_t>(e.pending_event_id)),
                static_cast<int>(e.pending_event_id), zol_reqlist_lookup_state_name(e.state),
                static_cast<int>(e.state));
    }
    return ZOL_REQLIST_OK;
}

Slot *find_by_request_locked(int32_t request) ZOL_REQUIRES(g_reqlist_mutex)
{
    Slot *s =
        find_locked([request](const zol_reqlist_entry_type &e) { return e.request == request; });
    if (s == nullptr) {
        ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry for %s(%d)\n", name_of(request), request);
    }
    return s;
}

Slot *find_by_req_id_locked(uint32_t req_id) ZOL_REQUIRES(g_reqlist_mutex)
{
    Slot *s = find_locked([req_id](const zol_reqlist_entry_type &e) { return e.req_id == req_id; });
    if (s == nullptr) {
        ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry : req id %d\n", static_cast<int>(req_id));
    }
    return s;
}

// Every query: a copy of the entry that Find picks, taken under the lock. No
// pointer into the pool outlives the lock.
template <auto Find, typename... Args>
zol_reqlist_result_e_type query(zol_reqlist_entry_type *info_ptr, Args... args)
{
    if (!ZOL_NOT_NULL(info_ptr, "info_ptr")) {
        return ZOL_REQLIST_NOT_FOUND;
    }
    zol::MutexLock lock(g_reqlist_mutex);
    const Slot *s = Find(args...);
    if (s == nullptr) {
        return ZOL_REQLIST_NOT_FOUND;
    }
    *info_ptr = s->entry;
    return ZOL_REQLIST_OK;
}

// Every update: change applied to the entry of token t under the lock.
template <typename Change>
zol_reqlist_result_e_type update(RIL_Token t, Change change)
{
    zol::MutexLock lock(g_reqlist_mutex);
    Slot *s = find_by_token_locked(t);
    return s != nullptr ? change(s->entry) : ZOL_REQLIST_NOT_FOUND;
}

} // namespace

extern "C" {

const char *zol_reqlist_lookup_state_name(uint32_t state)
{
    switch (state) {
    case ZOL_REQ_FREE:
        return "ZOL_REQ_FREE";
    case ZOL_REQ_AWAITING_CALLBACK:
        return "ZOL_REQ_AWAITING_CALLBACK";
    case ZOL_REQ_AWAITING_MORE_AMSS_EVENTS:
        return "ZOL_REQ_AWAITING_MORE_AMSS_EVENTS";
    case ZOL_REQ_COMPLETED_SUCCESS:
        return "ZOL_REQ_COMPLETED_SUCCESS";
    case ZOL_REQ_COMPLETED_FAILURE:
        return "ZOL_REQ_COMPLETED_FAILURE";
    default:
        return "Undefined";
    }
}

void zol_reqlist_init(void)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s", "zol_reqlist_init()\n");
    zol::MutexLock lock(g_reqlist_mutex);
    for (Slot &s : g_pool) {
        s = Slot{};
        s.entry.state = ZOL_REQ_FREE;
    }
    g_head = nullptr;
    g_tail = nullptr;
}

void zol_reqlist_default_entry(RIL_Token t, int32_t request, zol_req_state_e_type state,
                               uint32_t pending_event_id, const uint32_t *sub_ptr,
                               zol_reqlist_entry_type *req_ptr)
{
    if (!ZOL_NOT_NULL(req_ptr, "req_ptr")) {
        return;
    }
    *req_ptr = zol_reqlist_entry_type{};
    req_ptr->t = t;
    req_ptr->request = request;
    req_ptr->state = state;
    req_ptr->pending_event_id = pending_event_id;
    req_ptr->sub_info = sub_ptr != nullptr ? *sub_ptr : 0;
}

zol_reqlist_result_e_type zol_reqlist_new(zol_reqlist_entry_type *req_ptr)
{
    if (!ZOL_NOT_NULL(req_ptr, "req_ptr")) {
        return ZOL_REQLIST_NOT_FOUND;
    }
    const RIL_Token t = req_ptr->t;
    const int32_t request = req_ptr->request;
    zol_reqlist_result_e_type code;
    {
        zol::MutexLock lock(g_reqlist_mutex);
        code = add_locked(req_ptr);
        if (code == ZOL_REQLIST_OK) {
            print_all_locked();
        }
    }
    // The failure reply goes out with the lock released: the reply path takes it.
    if (code != ZOL_REQLIST_OK && is_host_token(t)) {
        zol::complete_request(t, request, RIL_E_GENERIC_FAILURE);
    }
    return code;
}

zol_reqlist_result_e_type zol_reqlist_free(RIL_Token t)
{
    zol::MutexLock lock(g_reqlist_mutex);
    Slot *s = find_by_token_locked(t);
    if (s == nullptr) {
        return ZOL_REQLIST_NOT_FOUND;
    }
    unlink_locked(s);
    ZOL_LOG(ZOL_LOG_DETAIL, "Deleted ReqList entry : token id %d [%p]\n", zol_log_get_token_id(t),
            t);
    print_all_locked();
    return ZOL_REQLIST_OK;
}

void zol_reqlist_free_all(void)
{
    g_reqlist_mutex.lock();
    // Restart from the head after every reply: while the lock is released,
    // other threads may unlink or reuse any slot. Requests another thread has
    // claimed are left to it; it is answering them right now.
    for (;;) {
        Slot *s = g_head;
        while (s != nullptr && s->claimed) {
            s = s->next;
        }
        if (s == nullptr) {
            break;
        }
        const RIL_Token t = s->entry.t;
        if (is_host_token(t)) {
            const int32_t request = s->entry.request;
            s->claimed = true;
            g_reqlist_mutex.unlock();
            zol::complete_request(t, request, RIL_E_RADIO_NOT_AVAILABLE);
            g_reqlist_mutex.lock();
            if (!s->linked || s->entry.t != t) {
                continue; // the reply path removed it, or the slot now holds another request
            }
        }
        unlink_locked(s);
        s->entry.pending_event_id = ZOL_EVENT_NONE;
    }
    g_reqlist_mutex.unlock();
}

zol_reqlist_result_e_type zol_reqlist_update_state(RIL_Token t, zol_req_state_e_type state)
{
    return update(t, [&](zol_reqlist_entry_type &e) {
        if (state == ZOL_REQ_AWAITING_MORE_AMSS_EVENTS && e.pending_event_id == ZOL_EVENT_NONE) {
            return ZOL_REQLIST_REFUSED;
        }
        e.state = state;
        ZOL_LOG(ZOL_LOG_DETAIL, "Update ReqList entry : %s(%d), token id %d, state %s(%d)\n",
                name_of(e.request), e.request, zol_log_get_token_id(t),
                zol_reqlist_lookup_state_name(state), static_cast<int>(state));
        return ZOL_REQLIST_OK;
    });
}

zol_reqlist_result_e_type zol_reqlist_update_pending_event_id(RIL_Token t, uint32_t event_id)
{
    return update(t, [&](zol_reqlist_entry_type &e) {
        e.pending_event_id = event_id;
        ZOL_LOG(ZOL_LOG_DETAIL,
                "Update event field of ReqList entry : %s(%d), token id %d, pending %s (%d)\n",
                name_of(e.request), e.request, zol_log_get_token_id(t),
                name_of(static_cast<int32_t>(event_id)), static_cast<int>(event_id));
        return ZOL_REQLIST_OK;
    });
}

zol_reqlist_result_e_type zol_reqlist_update_sub_id(RIL_Token t, uint32_t sub_id)
{
    return update(t, [&](zol_reqlist_entry_type &e) {
        e.valid_sub_id = 1;
        e.sub_id = sub_id;
        ZOL_LOG(ZOL_LOG_DETAIL,
                "Update sub id field of ReqList entry : %s(%d), token id %d, sub id %lu\n",
                name_of(e.request), e.request, zol_log_get_token_id(t),
                static_cast<unsigned long>(sub_id));
        return ZOL_REQLIST_OK;
    });
}

zol_reqlist_result_e_type zol_reqlist_update_sub_info(RIL_Token t, const uint32_t *sub_ptr)
{
    if (!ZOL_NOT_NULL(sub_ptr, "sub_ptr")) {
        return ZOL_REQLIST_NOT_FOUND;
    }
    return update(t, [&](zol_reqlist_entry_type &e) {
        e.sub_info = *sub_ptr;
        ZOL_LOG(ZOL_LOG_DETAIL, "Update sub info of ReqList entry : %s(%d), token id %d\n",
                name_of(e.request), e.request, zol_log_get_token_id(t));
        return ZOL_REQLIST_OK;
    });
}

zol_reqlist_result_e_type zol_reqlist_query(RIL_Token t, zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_token_locked>(info_ptr, t);
}

zol_reqlist_result_e_type zol_reqlist_query_by_request(int32_t request,
                                                       zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_request_locked>(info_ptr, request);
}

zol_reqlist_result_e_type zol_reqlist_query_by_req_id(uint32_t req_id,
                                                      zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_req_id_locked>(info_ptr, req_id);
}

zol_reqlist_result_e_type zol_reqlist_query_by_event(uint32_t event_id,
                                                     zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_event_locked>(info_ptr, event_id, kAwaiting, false);
}

zol_reqlist_result_e_type zol_reqlist_query_by_event_all_states(uint32_t event_id,
                                                                zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_event_locked>(info_ptr, event_id, kAnyState, false);
}

zol_reqlist_result_e_type zol_reqlist_query_by_event_and_sub_id(uint32_t event_id, uint32_t sub_id,
                                                                zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_event_and_sub_id_locked>(info_ptr, event_id, sub_id, kAwaiting);
}

zol_reqlist_result_e_type
zol_reqlist_query_by_event_and_sub_id_all_states(uint32_t event_id, uint32_t sub_id,
                                                 zol_reqlist_entry_type *info_ptr)
{
    return query<find_by_event_and_sub_id_locked>(info_ptr, event_id, sub_id, kAnyState);
}

zol_reqlist_result_e_type
zol_reqlist_complete_all_amss_events(RIL_Token t, zol_req_state_e_type state, int *result_ptr)
{
    zol::MutexLock lock(g_reqlist_mutex);
    int result = 0;
    Slot *s = find_by_token_locked(t);
    if (s == nullptr) {
        if (result_ptr != nullptr) {
            *result_ptr = result;
        }
        return ZOL_REQLIST_NOT_FOUND;
    }
    zol_reqlist_entry_type &e = s->entry;
    e.state = state;
    const int32_t token_id = zol_log_get_token_id(t);
    ZOL_LOG(ZOL_LOG_TRACE, "%s(%d) token id %d, State %s(%d)\n", name_of(e.request), e.request,
            token_id, zol_reqlist_lookup_state_name(state), static_cast<int>(state));
    zol_reqlist_result_e_type code = ZOL_REQLIST_OK;
    if (state == ZOL_REQ_COMPLETED_FAILURE) {
        result = 1;
    } else if (state != ZOL_REQ_COMPLETED_SUCCESS && state != ZOL_REQ_FREE) {
        code = ZOL_REQLIST_NOT_FINAL;
    }
    if (code == ZOL_REQLIST_OK) {
        ZOL_LOG(ZOL_LOG_TRACE,
                "Complete all AMSS events, ReqList entry : %s(%d), token id %d, result %d\n",
                name_of(e.request), e.request, token_id, result);
    }
    if (result_ptr != nullptr) {
        *result_ptr = result;
    }
    return code;
}

} // extern "C"

namespace zol {

bool reqlist_claim_by_event(uint32_t event_id, zol_reqlist_entry_type &out)
{
    MutexLock lock(g_reqlist_mutex);
    Slot *s = find_by_event_locked(event_id, kAwaiting, true);
    if (s == nullptr) {
        return false;
    }
    s->claimed = true;
    out = s->entry;
    return true;
}

bool reqlist_claim_entry(RIL_Token t, uint16_t req_id, int32_t token_id)
{
    MutexLock lock(g_reqlist_mutex);
    for (Slot *s = g_head; s != nullptr; s = s->next) {
        if (s->entry.t == t && s->entry.req_id == req_id) {
            ZOL_LOG(ZOL_LOG_DETAIL, "Found ReqList entry : %s(%d), token id %d\n",
                    name_of(s->entry.request), s->entry.request, token_id);
            if (s->claimed) {
                return false;
            }
            s->claimed = true;
            return true;
        }
    }
    ZOL_LOG(ZOL_LOG_DETAIL, "Not found ReqList entry : token id %d\n", token_id);
    return false;
}

} // namespace zol

extern "C" {

void zol_reqlist_print_all(void)
{
    // Callers outside the list cannot hold its lock, so take it here.
    zol::MutexLock lock(g_reqlist_mutex);
    print_all_locked();
}

} // extern "C"
