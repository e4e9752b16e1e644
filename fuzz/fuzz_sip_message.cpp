// Any datagram as a SIP message from the network: libre parses it, and what
// parses is read the way zol-imsd's SIP side reads a request — the caller, the
// reply address, a DTMF key, the SMS relay message and the SMS-SUBMIT inside
// it. (SDP bodies go to libre's own decoder, nothing of ours reads them.)
#include <cstddef>
#include <cstdint>
#include <string>

#include <re.h>

#include "sip/inbound.h"
#include "sip/rp.h"

using namespace zol::imsd::sip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    mbuf *mb = mbuf_alloc(size + 1);
    if (mb == nullptr || mbuf_write_mem(mb, data, size) != 0) {
        mem_deref(mb);
        return 0;
    }
    mbuf_set_pos(mb, 0);
    sip_msg *msg = nullptr;
    if (sip_msg_decode(&msg, mb) == 0) {
        (void)caller_of(*msg);
        (void)reply_uri_of(*msg);
        (void)dtmf_relay_key(*msg);
        std::string why;
        if (const auto rp = decode_rp(body_of(*msg), why)) {
            (void)parse_submit(rp->user_data, why);
            (void)mt_tpdu_type(rp->user_data);
        }
        mem_deref(msg);
    }
    mem_deref(mb);
    return 0;
}
