// Any datagram as a SIP message from the network: libre parses it, and what
// parses is read the way zol-imsd's SIP side reads a request — the caller, the
// reply address, a DTMF key, the SMS relay message and the SMS-SUBMIT inside
// it, and an SDP offer against a call's audio and video lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include <re.h>

#include "sip/inbound.h"
#include "sip/rp.h"

using namespace zol::imsd::sip;

namespace {

void read_offer(const sip_msg &msg)
{
    sa laddr{};
    sa_set_str(&laddr, "127.0.0.1", 0);
    sdp_session *sdp = nullptr;
    sdp_media *audio = nullptr, *video = nullptr;
    if (sdp_session_alloc(&sdp, &laddr) == 0 &&
        sdp_media_add(&audio, sdp, sdp_media_audio, 4000, sdp_proto_rtpavp) == 0 &&
        sdp_format_add(nullptr, audio, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr,
                       false, nullptr) == 0 &&
        sdp_media_add(&video, sdp, sdp_media_video, 4002, sdp_proto_rtpavp) == 0 &&
        sdp_format_add(nullptr, video, false, "96", "H264", 90000, 1, nullptr, nullptr, nullptr,
                       false, nullptr) == 0 &&
        sdp_decode(sdp, msg.mb, true) == 0) {
        (void)sdp_media_rformat(audio, nullptr);
        (void)sdp_media_rdir(audio);
        (void)sdp_media_rport(video);
        (void)sa_isset(sdp_media_raddr(audio), SA_ALL);
        mbuf *answer = nullptr;
        if (sdp_encode(&answer, sdp, false) == 0) {
            mem_deref(answer);
        }
    }
    mem_deref(sdp);
}

} // namespace

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
        if (has_content_type(*msg, "application", "sdp")) {
            read_offer(*msg);
        }
        mem_deref(msg);
    }
    mem_deref(mb);
    return 0;
}
