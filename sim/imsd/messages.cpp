#include "messages.h"

#include <iterator>

#include "calls.h"
#include "records.h"
#include "registration.h"
#include "sms.h"
#include "sups.h"

namespace zol::imsd {

void Context::reply(uint16_t message, std::vector<uint8_t> payload)
{
    outgoing.push_back(Frame{request.token, message, std::move(payload)});
}

void Context::indicate(uint16_t message, std::vector<uint8_t> payload)
{
    outgoing.push_back(Frame{0, message, std::move(payload)});
}

namespace {
const Frame kNoRequest{};
} // namespace

Context::Context(Model &m, TimerQueue *t) : Context(m, kNoRequest, t) {}

void Context::after(int64_t ms, TimerAction action)
{
    if (timers == nullptr) {
        note("no timer queue: a delayed action is dropped");
        return;
    }
    timers->at(timers->now() + ms, std::move(action));
}

namespace {

void on_get_current_calls(Context &ctx)
{
    ctx.reply(kMsgCurCallInd, encode_call_list(ctx.model.calls));
}

const MessageInfo kMessages[] = {
    // From the module.
    {1, "dial", on_dial},
    {2, "answer", on_answer},
    {3, "mt-invite-response", on_mt_invite_response},
    {4, "release-calls", on_release_calls},
    {5, "dtmf-start", on_dtmf_start},
    {6, "dtmf-stop", on_dtmf_stop},
    {9, "call-modify", on_call_modify},
    {10, "call-modify-response", on_call_modify_response},
    {12, "conference-join", on_conference_join},
    {15, "conference-split", on_conference_split},
    {kMsgGetCurrentCalls, "get-current-calls", on_get_current_calls},
    {18, "swap", on_swap},
    {kMsgGetRunStatus, "eTKM_CALL_GET_RUN_STATUS_REQ", on_get_run_status},
    {kMsgGetConfig, "get-config", on_get_config},
    {kMsgSetConfig, "set-config", on_set_config},
    {kMsgSetRegistration, "set-registration", on_set_registration},
    {kMsgSupsOperation, "sups-operation", on_sups_operation},
    {kMsgSendSms, "send-sms", on_send_sms},
    {kMsgAckSms, "ack-sms", on_ack_sms},
    // From the stack.
    {30002, "eTKM_CALL_MT_INVITE_IND", nullptr},
    {30003, "eTKM_CALL_MT_RING_CNF_IND", nullptr},
    {30004, "eTKM_CALL_CONNECTED_IND", nullptr},
    {30005, "eTKM_CALL_END_IND", nullptr},
    {30006, "eTKM_CALL_MO_PROG_INFO_IND", nullptr},
    {30007, "eTKM_CALL_HOLD_IND", nullptr},
    {30008, "eTKM_CALL_RETRIEVE_IND", nullptr},
    {30009, "eTKM_CALL_SUPS_CONF", nullptr},
    {30010, "eTKM_CALL_CONNECTED_NUM_IND", nullptr},
    {30011, "eTKM_CALL_TRANSFER_IND", nullptr},
    {30012, "eTKM_CALL_WAIT_VOIP_CALL_IND", nullptr},
    {30013, "eTKM_CALL_MODIFY_CNF_IND", nullptr},
    {30014, "eTKM_CALL_MODIFY_IND", nullptr},
    {30015, "eTKM_CALL_AUDIO_CODEC_INFO_IND", nullptr},
    {30016, "eTKM_CALL_DTMF_START_CONF", nullptr},
    {30017, "eTKM_CALL_DTMF_STOP_CONF", nullptr},
    {30018, "eTKM_CALL_JOIN_CONFERENCE_CALL_IND", nullptr},
    {30019, "eTKM_CALL_CONFERENCE_INFO_IND", nullptr},
    {30020, "eTKM_CALL_SRVCC_INFO_IND", nullptr},
    {kMsgCurCallInd, "eTKM_CALL_CUR_CALL_IND", nullptr},
    {30022, "eTKM_CALL_RUN_STATUS_INFO_IND", nullptr},
    {30023, "call-forwarding-ind", nullptr},
    {30024, "eTKM_CALL_GET_CFG_CONF", nullptr},
    {30052, "eTKM_SUPS_ACTIVATE_SS_CONF", nullptr},
    {30053, "eTKM_SUPS_DEACTIVATE_SS_CONF", nullptr},
    {30054, "eTKM_SUPS_ERASE_SS_CONF", nullptr},
    {30055, "eTKM_SUPS_INTERROGATE_SS_CONF", nullptr},
    {30056, "eTKM_SUPS_REGISTER_SS_CONF", nullptr},
    {30102, "incoming-sms", nullptr},
    {30103, "sms-send-status", nullptr},
};

} // namespace

std::span<const MessageInfo> all_messages()
{
    return kMessages;
}

const MessageInfo *find_message(uint16_t id)
{
    for (const MessageInfo &m : kMessages) {
        if (m.id == id) {
            return &m;
        }
    }
    return nullptr;
}

const char *message_name(uint16_t id)
{
    const MessageInfo *m = find_message(id);
    return m != nullptr ? m->name : "unknown";
}

std::vector<Frame> dispatch(Model &model, const Frame &request)
{
    Context ctx(model, request);
    dispatch(ctx);
    return std::move(ctx.outgoing);
}

void dispatch(Context &ctx)
{
    const MessageInfo *m = find_message(ctx.request.message);
    if (m != nullptr && m->handler != nullptr) {
        m->handler(ctx);
    }
}

} // namespace zol::imsd
