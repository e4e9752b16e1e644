#include "kinds.h"

#include "call_records.h"
#include "frame.h"
#include "host.h"
#include "ipc_agent.h"
#include "records.h"
#include "ril.h"
#include "sups_records.h"

namespace zol_bench {

namespace {

namespace imsd = zol::imsd;

constexpr size_t kHeaderLen = imsd::kFrameHeaderLen;

std::vector<uint8_t> frame(uint16_t message, std::vector<uint8_t> payload)
{
    return imsd::encode_frame(imsd::Frame{0, message, std::move(payload)});
}

imsd::CallTable two_calls()
{
    imsd::CallTable calls;
    imsd::Call active;
    active.id = 1;
    active.number = "+4915550001";
    imsd::Call held;
    held.id = 2;
    held.number = "+4915550002";
    held.dir = imsd::CallDir::mt;
    held.state = imsd::CallState::held;
    calls.add(active);
    calls.add(held);
    return calls;
}

// The interrogation the module sends for a forwarding query of reason 0.
std::vector<uint8_t> forwarding_query_frame()
{
    std::vector<uint8_t> payload(imsd::kSsRequestLen, 0);
    payload[0] = static_cast<uint8_t>(imsd::SsOp::interrogate);
    payload[5] = static_cast<uint8_t>(imsd::kSsCfu);
    return frame(imsd::kMsgSupsOperation, std::move(payload));
}

char g_number[] = "+4915550009";
RIL_Dial g_dial = {g_number, 0, nullptr, 0};
RIL_CallForwardInfo g_forward_query = {};

BareLoop *g_floor = nullptr;

constexpr uint16_t kMsgGetCurrentCalls = 17;

} // namespace

std::vector<RequestKind> in_process_kinds()
{
    std::vector<imsd::FwdFeature> features;
    for (uint32_t code : {imsd::kSsCfu, imsd::kSsCfb, imsd::kSsCfnry, imsd::kSsCfnrc}) {
        for (uint8_t service_class : {1, 16}) {
            imsd::FwdFeature f;
            f.code = code;
            f.basic_service = service_class == 1 ? 1u : 2u;
            f.service_class = service_class;
            f.registered = true;
            f.active = true;
            f.number = "+4915550100";
            if (code == imsd::kSsCfnry) {
                f.no_reply_time = 20;
            }
            features.push_back(f);
        }
    }
    const size_t ptr = sizeof(void *);
    std::vector<RequestKind> kinds(3);
    kinds[0] = {"get_current_calls", RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0,
                frame(kMsgGetCurrentCalls, {}),
                frame(imsd::msg::kCurCallInd, imsd::encode_call_list(two_calls())), 1,
                // frame, event record, payload copy, record pointers, records
                5, 2 * ptr};
    kinds[1] = {"dial", RIL_REQUEST_DIAL, &g_dial, sizeof g_dial,
                frame(imsd::msg::kDial, std::vector<uint8_t>(imsd::kDialLen, 0)),
                progress_indication_frame(), 2,
                // number copy, frame, event record, payload copy
                4, 0};
    kinds[2] = {"query_call_forward", RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, &g_forward_query,
                sizeof g_forward_query, forwarding_query_frame(),
                frame(imsd::kMsgSsInterrogateConf, imsd::encode_fwd_list_conf(features)), 1,
                // frame, event record, payload copy, records, number texts, pointers
                6, features.size() * ptr};
    return kinds;
}

std::vector<RequestKind> cross_process_kinds()
{
    std::vector<RequestKind> kinds = in_process_kinds();
    kinds.erase(kinds.begin() + 1);         // a dial is answered by the send alone
    kinds[1].response_len = sizeof(void *); // nothing registered: one "not active" entry
    for (RequestKind &k : kinds) {
        k.answer.clear(); // the stack answers
    }
    return kinds;
}

std::vector<std::string> stack_setup_commands()
{
    return {"call clear", "call add 1 +4915550001", "call add 2 +4915550002 state=held dir=mt"};
}

std::vector<uint8_t> progress_indication_frame()
{
    return frame(imsd::msg::kMoProgressInd, imsd::encode_mo_progress(1, imsd::CallState::dialing));
}

void set_floor_loop(BareLoop *loop)
{
    g_floor = loop;
}

int floor_read_cb(void *record)
{
    const auto *rec = static_cast<const ipc_agent_recv_type *>(record);
    if (rec == nullptr || rec->data == nullptr || rec->count < static_cast<int32_t>(kHeaderLen) ||
        g_floor == nullptr) {
        return 1;
    }
    return g_floor->queue(rec->data + kHeaderLen, static_cast<size_t>(rec->count) - kHeaderLen) ? 0
                                                                                                : 1;
}

void floor_handler(void *, const uint8_t *, size_t)
{
    Host::get().count_down();
}

} // namespace zol_bench
