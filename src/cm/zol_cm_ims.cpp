// IMS registration and configuration: the registration state the stack last
// reported, asking the stack to change it, and reading and writing the
// stack's configuration items.
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "zol/zol_cm.h"

using namespace zol;

namespace {

constexpr int32_t kRegistrationUnknown = -1;
// The run status the stack last reported: written on the event thread, read
// on host threads.
std::atomic<int32_t> g_ims_registration_state{kRegistrationUnknown};

// Message 21, and the configuration confirmation: an item id and its value.
struct ConfigLayout {
    static constexpr size_t kItem = 0;
    static constexpr size_t kValue = 4;
    static constexpr size_t kValueWidth = 50;
    static constexpr size_t kSize = 54;
};
static_assert(ConfigLayout::kItem + 4 == ConfigLayout::kValue);
static_assert(ConfigLayout::kValue + ConfigLayout::kValueWidth == ConfigLayout::kSize);

enum class ItemForm { none, text, integer };

struct ItemRow {
    int32_t first;
    int32_t last;
    ItemForm form;
    size_t text_limit; // bytes a text value may take in the value field
};

constexpr ItemRow kItems[] = {
    {1, 2, ItemForm::text, 20},    {3, 3, ItemForm::text, 50},   {4, 4, ItemForm::text, 32},
    {5, 13, ItemForm::integer, 0}, {14, 14, ItemForm::text, 50}, {15, 16, ItemForm::integer, 0},
};

constexpr ItemRow item_row(int32_t item)
{
    for (const ItemRow &row : kItems) {
        if (item >= row.first && item <= row.last) {
            return row;
        }
    }
    return {item, item, ItemForm::none, 0};
}

constexpr bool text_limits_fit()
{
    for (const ItemRow &row : kItems) {
        if (row.text_limit > ConfigLayout::kValueWidth) {
            return false;
        }
    }
    return true;
}
static_assert(text_limits_fit());
static_assert(item_row(14).form == ItemForm::text && item_row(17).form == ItemForm::none);

// Decimal text to integer as atoi reads it (leading blanks, optional sign,
// digits up to the first other character, 0 without digits), but bounded
// instead of undefined when the number does not fit.
int32_t text_to_int(const char *text)
{
    const long value = strtol(text, nullptr, 10);
    return value > INT32_MAX   ? INT32_MAX
           : value < INT32_MIN ? INT32_MIN
                               : static_cast<int32_t>(value);
}

} // namespace

extern "C" {

void zol_cm_callsvc_request_ims_registration_state(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.exit = Exit::spaced});
    if (!h) {
        return;
    }
    int32_t state = g_ims_registration_state.load(std::memory_order_relaxed);
    if (state == kRegistrationUnknown) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "zol init, send eTKM_CALL_GET_RUN_STATUS_REQ");
        state = 0;
        // The host is answered from the module's own state whether this goes out or not.
        (void)send_message(msg::GET_RUN_STATUS, nullptr, 0, params_ptr->t);
    }
    int32_t response[2] = {state, 1};
    ZOL_LOG(ZOL_LOG_TRACE, "Reply to RIL --> IMS_REGISTRATION=%d, format=%d ", response[0],
            response[1]);
    h.complete(RIL_E_SUCCESS, response, sizeof response);
}

void zol_cm_callsvc_event_run_status_info_ind(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .entry = Entry::own, .data = "run_status_ind_ptr != ((void *)0)"});
    uint32_t run_status = 0;
    if (!h || params_ptr->data == nullptr || !h.payload().u32(0, run_status)) {
        // No status to store: the state keeps its value and the host hears nothing.
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
        return;
    }
    const auto state = static_cast<int32_t>(run_status);
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:e_run_status_type=%d", __func__, state);
    g_ims_registration_state.store(state, std::memory_order_relaxed);
    send_unsol(RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED);
}

void zol_cm_callsvc_request_ims_set_registration_state(zol_request_params_type *params_ptr,
                                                       zol_request_return_type *ret_ptr)
{
    // Fewer than the four bytes of the state is as good as none.
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.exit = Exit::spaced, .min_len = sizeof(int32_t), .short_exit_error = true});
    if (!h) {
        return;
    }
    int32_t state;
    memcpy(&state, h.request().data, sizeof state);
    PayloadBuilder<4> payload;
    payload.u32(0, static_cast<uint32_t>(state));
    h.send_immediate(msg::SET_REGISTRATION_STATE, payload,
                     "Reply to RIL --> ims_set_registration_state fail,\n",
                     "Reply to RIL --> ims_set_registration_state success,\n");
}

void zol_cm_callsvc_request_ims_get_configration(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.exit = Exit::spaced});
    if (!h) {
        return;
    }
    // No item text (short data or a null text) is as good as no data.
    const char *item_text = host_text(h.request(), 0);
    if (item_text == nullptr) {
        return h.end(Exit::exit_error, __LINE__);
    }
    if (!h.remember(ev::CALL_GET_CFG_CONF)) {
        return;
    }
    const int32_t item = text_to_int(item_text);
    ZOL_LOG(ZOL_LOG_TRACE, "get config %d", item);
    PayloadBuilder<4> payload;
    payload.u32(0, static_cast<uint32_t>(item));
    h.send(msg::GET_CONFIG, payload, "Reply to RIL --> ims_get_configration fail,\n");
}

void zol_cm_callsvc_event_get_cfg_conf(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    using L = ConfigLayout;
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.request = false, .data = "cfg_conf != ((void *)0)"});
    if (!h || !h.claim(ev::CALL_GET_CFG_CONF)) {
        return h.end(Exit::not_found);
    }
    const PayloadView conf = h.payload();

    // Every result fits this buffer: a text is bounded by its 50-byte field,
    // an integer by 11 characters. Kept on the stack, building it cannot fail.
    char result[L::kValueWidth + 1] = {};
    uint32_t item = 0;
    bool have_value = conf.u32(L::kItem, item);
    const ItemRow row = item_row(static_cast<int32_t>(item));
    if (have_value && row.form == ItemForm::text) {
        // A value without terminator ends at its field or at the end of the
        // message, whichever comes first.
        const size_t avail = conf.size() > L::kValue ? conf.size() - L::kValue : 0;
        const auto field = conf.bytes(L::kValue, avail < L::kValueWidth ? avail : L::kValueWidth);
        for (size_t i = 0; i < field.size() && field[i] != 0; ++i) {
            result[i] = static_cast<char>(field[i]);
        }
    } else if (have_value && row.form == ItemForm::integer) {
        uint32_t value = 0;
        have_value = conf.u32(L::kValue, value);
        snprintf(result, sizeof result, "%d", static_cast<int32_t>(value));
    }
    if (!have_value) {
        // The request still needs its one answer, but there is no value to give.
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): confirmation of %d bytes carries no value\n", __func__,
                static_cast<int>(conf.size()));
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Reply to RIL --> get cfg %d result : %s\n", static_cast<int>(item),
            result);
    // The answer is one text: the pointer itself is the data.
    h.complete(RIL_E_SUCCESS, result, sizeof(char *));
}

void zol_cm_callsvc_request_ims_set_configration(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr)
{
    using L = ConfigLayout;
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.exit = Exit::spaced});
    if (!h) {
        return;
    }
    // Both the item and its value text are needed, also to log them; short
    // data or a null text is as good as no data.
    const char *item_text = host_text(h.request(), 0);
    const char *value_text = host_text(h.request(), 1);
    if (item_text == nullptr || value_text == nullptr) {
        return h.end(Exit::exit_error, __LINE__);
    }
    const int32_t item = text_to_int(item_text);
    ZOL_LOG(ZOL_LOG_TRACE, "set config %d  %s", item, value_text);

    PayloadBuilder<L::kSize> payload;
    payload.u32(L::kItem, static_cast<uint32_t>(item));
    const ItemRow row = item_row(item);
    if (row.form == ItemForm::text) {
        // A text of exactly the limit goes without terminator; a longer one is cut.
        payload.put(L::kValue, row.text_limit, value_text, strnlen(value_text, row.text_limit));
    } else if (row.form == ItemForm::integer) {
        payload.u32(L::kValue, static_cast<uint32_t>(text_to_int(value_text)));
    }
    h.send_immediate(msg::SET_CONFIG, payload, "Reply to RIL --> ims_set_configration fail,\n",
                     "Reply to RIL --> ims_set_configration success,\n");
}

// Radio power has no dispatch row: the dispatcher answers request 23 itself,
// and this handler answers nothing.
void zol_cm_phonesvc_request_radio_power(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .checked = false, .exit = Exit::spaced});
}

} // extern "C"
