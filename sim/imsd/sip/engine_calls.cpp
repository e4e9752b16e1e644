// The engine's calls: SIP sessions with their SDP, and RTP silence.
#include <cstring>
#include <netinet/in.h>
#include <utility>

#include "sip/causes.h"
#include "sip/engine_parts.h"
#include "sip/inbound.h"
#include "text.h"

namespace zol::imsd::sip {

namespace {

constexpr uint32_t kMediaTickMs = 20;
constexpr size_t kSilenceSamples = 160; // 20 ms at 8 kHz
constexpr uint8_t kPcmuSilence = 0xFF;
constexpr uint8_t kPcmuPayloadType = 0;
constexpr uint16_t kRtpPortMin = 10000;
constexpr uint16_t kRtpPortMax = 60000;
constexpr uint32_t kDtmfDurationMs = 250;

void rtp_received(const sa *src, const rtp_header *hdr, mbuf *mb, void *arg)
{
    (void)src;
    (void)hdr;
    (void)mb;
    if (Leg *leg = thread_engine()->leg(from_arg(arg))) {
        ++leg->rtp_received;
    }
}

// A media line on a free RTP port of the SIP address.
int add_media(Engine &engine, Leg &leg, bool video)
{
    sa ip{};
    int err = sa_set_str(&ip, engine.options().local.ip.c_str(), 0);
    struct rtp_sock **rtp = video ? &leg.video_rtp : &leg.audio_rtp;
    err = err != 0 ? err
                   : rtp_listen(rtp, IPPROTO_UDP, &ip, kRtpPortMin, kRtpPortMax, true, rtp_received,
                                nullptr, as_arg(leg.id));
    if (err != 0) {
        return err;
    }
    sdp_media **m = video ? &leg.video : &leg.audio;
    err = sdp_media_add(m, leg.sdp, video ? sdp_media_video : sdp_media_audio,
                        sa_port(rtp_local(*rtp)), sdp_proto_rtpavp);
    if (err == 0) {
        err = video ? sdp_format_add(nullptr, *m, false, "96", "H264", 90000, 1, nullptr, nullptr,
                                     nullptr, false, "packetization-mode=1")
                    : sdp_format_add(nullptr, *m, false, "0", "PCMU", 8000, 1, nullptr, nullptr,
                                     nullptr, false, nullptr);
    }
    return err;
}

int new_leg(Engine &engine, Leg &leg, bool with_video)
{
    sa laddr{};
    int err = sa_set_str(&laddr, engine.options().local.ip.c_str(), 0);
    err = err != 0 ? err : sdp_session_alloc(&leg.sdp, &laddr);
    err = err != 0 ? err : add_media(engine, leg, false);
    if (err == 0 && with_video) {
        err = add_media(engine, leg, true);
    }
    return err;
}

// Video stays an m-line once it was one; turning it off sets its port to 0.
int set_video(Engine &engine, Leg &leg, bool on)
{
    if (on && leg.video == nullptr) {
        if (const int err = add_media(engine, leg, true); err != 0) {
            return err;
        }
    }
    if (leg.video != nullptr) {
        sdp_media_set_disabled(leg.video, !on);
    }
    leg.video_on = on;
    return 0;
}

bool video_agreed(const Leg &leg)
{
    return leg.video != nullptr && !sdp_media_disabled(leg.video) &&
           sdp_media_rport(leg.video) != 0;
}

bool remote_offers_video(const Leg &leg)
{
    return leg.video != nullptr && sdp_media_rport(leg.video) != 0;
}

// What the remote side's latest SDP says about holding: it sends no more.
// libre keeps the remote direction as seen from here, so its sendonly reads
// as receive-only.
bool remote_holds(const Leg &leg)
{
    const sdp_dir dir = sdp_media_rdir(leg.audio);
    return dir == SDP_RECVONLY || dir == SDP_INACTIVE;
}

int decode_sdp(Leg &leg, const sip_msg &msg, bool offer)
{
    if (!has_content_type(msg, "application", "sdp") || mbuf_get_left(msg.mb) == 0) {
        return EBADMSG;
    }
    return sdp_decode(leg.sdp, msg.mb, offer);
}

int on_offer(mbuf **descp, const sip_msg *msg, void *arg);
int on_answer(const sip_msg *msg, void *arg);
void on_progress(const sip_msg *msg, void *arg);
void on_established(const sip_msg *msg, void *arg);
void on_info(struct sip *sip, const sip_msg *msg, void *arg);
void on_closed(int err, const sip_msg *msg, void *arg);
void dtmf_response(int err, const sip_msg *msg, void *arg);

} // namespace

void incoming_handler(const sip_msg *msg, void *arg)
{
    static_cast<Engine *>(arg)->on_incoming(*msg);
}

std::string Engine::target_uri(const std::string &number) const
{
    if (number.rfind("sip:", 0) == 0) {
        return number;
    }
    // Characters a URI's user part cannot hold as they are ('#' above all).
    std::string user;
    for (const char ch : number) {
        if (isalnum(static_cast<unsigned char>(ch)) != 0 ||
            strchr("-_.!~*'()&=+$,;?/", ch) != nullptr) {
            user.push_back(ch);
        } else {
            user += strf("%%%02X", static_cast<unsigned>(static_cast<unsigned char>(ch)));
        }
    }
    return "sip:" + user + "@" + opt_.registrar.ip;
}

void Engine::call(LegId id, const std::string &number, bool video)
{
    auto owned = std::make_unique<Leg>();
    Leg &leg = *owned;
    leg.id = id;
    leg.outgoing = true;
    leg.peer = target_uri(number);
    leg.video_on = video;
    legs_[id] = std::move(owned);
    mbuf *offer = nullptr;
    int err = new_leg(*this, leg, video);
    err = err != 0 ? err : sdp_encode(&offer, leg.sdp, true);
    const char *routev[] = {route_.c_str()};
    err = err != 0 ? err
                   : sipsess_connect(&leg.sess, sessions_, leg.peer.c_str(), nullptr, aor_.c_str(),
                                     opt_.user.c_str(), routev, 1, "application/sdp", offer,
                                     nullptr, nullptr, false, on_offer, on_answer, on_progress,
                                     on_established, on_info, nullptr, on_closed, as_arg(id),
                                     "P-Preferred-Identity: <%s>\r\n", aor_.c_str());
    mem_deref(offer);
    if (err != 0) {
        note(strf("INVITE to %s not sent: %s", leg.peer.c_str(), describe_error(err).c_str()));
        // An address that does not parse is a number in a format nobody can route.
        lost(leg, err == EINVAL ? 28 : q850::kNetworkOutOfOrder);
    }
}

void Engine::on_incoming(const sip_msg &msg)
{
    const LegId id = leg_ids_.fetch_add(1);
    auto owned = std::make_unique<Leg>();
    Leg &leg = *owned;
    leg.id = id;
    leg.peer = caller_of(msg);
    // Video is an m-line from the start, so that the answer can take it up.
    int err = new_leg(*this, leg, true);
    if (err == 0) {
        sdp_media_set_disabled(leg.video, true);
    }
    leg.offered = mbuf_get_left(msg.mb) > 0;
    if (err == 0 && leg.offered) {
        err = decode_sdp(leg, msg, true);
        if (err == 0 && sdp_media_rformat(leg.audio, nullptr) == nullptr) {
            err = EPROTO;
        }
    }
    if (err != 0) {
        note(strf("INVITE from %s refused: no audio both sides have (%s)", leg.peer.c_str(),
                  describe_error(err).c_str()));
        sip_treply(nullptr, sip_, &msg, 488, "Not Acceptable Here");
        return;
    }
    // Trying, statelessly: the session begins when the model takes the call and
    // the phone rings, or the INVITE is refused.
    sip_reply(sip_, &msg, 100, "Trying");
    leg.invite = static_cast<const sip_msg *>(mem_ref(const_cast<sip_msg *>(&msg)));
    const bool video = remote_offers_video(leg);
    legs_[id] = std::move(owned);
    NetEvent e;
    e.kind = NetEvent::Kind::incoming;
    e.leg = id;
    e.text = leg.peer;
    e.flag = video;
    post(std::move(e));
}

// The session of an incoming call, answered with `status` (180 or 200) and `desc`.
int Engine::accept(Leg &leg, uint16_t status, mbuf *desc)
{
    const sip_msg *invite = std::exchange(leg.invite, nullptr);
    const int err = sipsess_accept(
        &leg.sess, sessions_, invite, status, status == 180 ? "Ringing" : "OK", opt_.user.c_str(),
        "application/sdp", desc, nullptr, nullptr, false, on_offer, on_answer, on_established,
        on_info, nullptr, on_closed, as_arg(leg.id), "");
    if (err != 0) {
        sip_treply(nullptr, sip_, invite, 500, "Server Internal Error");
    }
    mem_deref(const_cast<sip_msg *>(invite));
    return err;
}

void Engine::ring(LegId id)
{
    Leg *leg = this->leg(id);
    if (leg == nullptr || leg->invite == nullptr) {
        return;
    }
    if (const int err = accept(*leg, 180, nullptr); err != 0) {
        note("INVITE not accepted: " + describe_error(err));
        lost(*leg, q850::kTemporaryFailure);
    }
}

void Engine::answer(LegId id, bool video)
{
    Leg *leg = this->leg(id);
    if (leg == nullptr || leg->outgoing || leg->answered) {
        return;
    }
    mbuf *desc = nullptr;
    int err = set_video(*this, *leg, video && remote_offers_video(*leg));
    err = err != 0 ? err : sdp_encode(&desc, leg->sdp, !leg->offered);
    if (err == 0) {
        err = leg->invite != nullptr ? accept(*leg, 200, desc)
                                     : sipsess_answer(leg->sess, 200, "OK", desc, "");
    }
    mem_deref(desc);
    if (err != 0) {
        note("answer not sent: " + describe_error(err));
        return lost(*leg, q850::kTemporaryFailure);
    }
    leg->answered = true;
    start_media_clock();
}

void Engine::end(LegId id, Refusal refusal)
{
    Leg *leg = this->leg(id);
    if (leg == nullptr) {
        return;
    }
    if (!leg->outgoing && !leg->answered) {
        const bool busy = refusal == Refusal::busy;
        const uint16_t status = busy ? 486 : 603;
        const char *reason = busy ? "Busy Here" : "Decline";
        if (leg->invite != nullptr) {
            sip_treply(nullptr, sip_, leg->invite, status, reason);
        } else {
            sipsess_reject(leg->sess, status, reason, nullptr);
        }
    }
    destroy(id);
}

namespace {

// Sends the session's SDP as a new offer: hold, resume, video on or off.
int reoffer(Leg &leg)
{
    mbuf *desc = nullptr;
    int err = sdp_encode(&desc, leg.sdp, true);
    err = err != 0 ? err : sipsess_modify(leg.sess, desc);
    mem_deref(desc);
    return err;
}

} // namespace

void Engine::hold(LegId id, bool held)
{
    Leg *leg = this->leg(id);
    if (leg == nullptr || leg->held == held) {
        return;
    }
    leg->held = held;
    const sdp_dir dir = held ? SDP_SENDONLY : SDP_SENDRECV;
    sdp_media_set_ldir(leg->audio, dir);
    if (leg->video != nullptr) {
        sdp_media_set_ldir(leg->video, dir);
    }
    if (const int err = reoffer(*leg); err != 0) {
        note(strf("re-INVITE to %s not sent: %s", held ? "hold" : "resume",
                  describe_error(err).c_str()));
    }
}

void Engine::modify(LegId id, bool video)
{
    Leg *leg = this->leg(id);
    if (leg == nullptr) {
        return;
    }
    const auto refuse = [&](const std::string &why) {
        note(why);
        NetEvent e;
        e.kind = NetEvent::Kind::modified;
        e.leg = id;
        e.flag = video_agreed(*leg);
        post(std::move(e));
    };
    if (!leg->established && !leg->answered) {
        return refuse("modify: the call is not up yet");
    }
    // The user's answer to the remote party's video: a yes changes nothing more.
    if (std::exchange(leg->awaiting_consent, false) && video == leg->video_on) {
        NetEvent e;
        e.kind = NetEvent::Kind::modified;
        e.leg = id;
        e.flag = video;
        e.code = 1;
        return post(std::move(e));
    }
    if (int err = set_video(*this, *leg, video); err != 0 || (err = reoffer(*leg)) != 0) {
        return refuse("modify: re-INVITE not sent: " + describe_error(err));
    }
    leg->modify_asked = video;
    // A refused re-INVITE leaves no trace in the session; the wait ends it.
    leg->modify_timer.start(opt_.timeout_ms, [this, id] {
        if (Leg *l = this->leg(id); l != nullptr && l->modify_asked) {
            l->modify_asked.reset();
            set_video(*this, *l, video_agreed(*l));
            NetEvent e;
            e.kind = NetEvent::Kind::modified;
            e.leg = id;
            e.flag = l->video_on;
            post(std::move(e));
        }
    });
}

void Engine::dtmf(LegId id, char key, int32_t token)
{
    Leg *leg = this->leg(id);
    mbuf *body = mbuf_alloc(64);
    int err = leg == nullptr || !(leg->established || leg->answered) ? ENOTCONN : 0;
    err = err != 0 ? err : mbuf_printf(body, "Signal=%c\r\nDuration=%u\r\n", key, kDtmfDurationMs);
    if (err == 0) {
        mbuf_set_pos(body, 0);
        // The response says whether the far end has the key; it carries the token back.
        err = sipsess_info(leg->sess, "application/dtmf-relay", body, dtmf_response,
                           as_arg(static_cast<uint32_t>(token) | (id << 32)));
    }
    mem_deref(body);
    if (err != 0) {
        note(strf("DTMF '%c' not sent: %s", key, describe_error(err).c_str()));
        NetEvent e;
        e.kind = NetEvent::Kind::dtmf_sent;
        e.leg = id;
        e.token = token;
        post(std::move(e));
    }
}

namespace {

void dtmf_response(int err, const sip_msg *msg, void *arg)
{
    if (msg != nullptr && msg->scode < 200) {
        return;
    }
    const uint64_t tag = from_arg(arg);
    NetEvent e;
    e.kind = NetEvent::Kind::dtmf_sent;
    e.leg = tag >> 32;
    e.token = static_cast<int32_t>(static_cast<uint32_t>(tag));
    e.code = err == 0 && msg != nullptr && msg->scode < 300 ? 1 : 0;
    if (thread_engine() != nullptr) {
        thread_engine()->post(std::move(e));
    }
}

int on_offer(mbuf **descp, const sip_msg *msg, void *arg)
{
    Engine &engine = *thread_engine();
    Leg *leg = engine.leg(from_arg(arg));
    if (leg == nullptr) {
        return ENOENT;
    }
    const bool offered = mbuf_get_left(msg->mb) > 0;
    if (offered) {
        if (const int err = decode_sdp(*leg, *msg, true); err != 0) {
            return err;
        }
        if (const bool held = remote_holds(*leg); held != leg->remote_held) {
            leg->remote_held = held;
            NetEvent e;
            e.kind = NetEvent::Kind::remote_hold;
            e.leg = leg->id;
            e.flag = held;
            engine.post(std::move(e));
        }
        const bool wants_video = remote_offers_video(*leg);
        if (wants_video && !leg->video_on) {
            // Taken up at once, so that the asking side hears yes in one round
            // trip; the user's no comes later and takes video away again.
            set_video(engine, *leg, true);
            leg->awaiting_consent = true;
            NetEvent e;
            e.kind = NetEvent::Kind::modify_asked;
            e.leg = leg->id;
            engine.post(std::move(e));
        } else if (!wants_video && leg->video_on) {
            set_video(engine, *leg, false);
            NetEvent e;
            e.kind = NetEvent::Kind::modified;
            e.leg = leg->id;
            e.code = 1;
            engine.post(std::move(e));
        }
    }
    return sdp_encode(descp, leg->sdp, !offered);
}

int on_answer(const sip_msg *msg, void *arg)
{
    Engine &engine = *thread_engine();
    Leg *leg = engine.leg(from_arg(arg));
    if (leg == nullptr) {
        return ENOENT;
    }
    if (const int err = decode_sdp(*leg, *msg, false); err != 0) {
        return err;
    }
    engine.start_media_clock();
    if (leg->modify_asked) {
        const bool asked = *leg->modify_asked;
        leg->modify_asked.reset();
        leg->modify_timer.cancel();
        const bool agreed = video_agreed(*leg);
        set_video(engine, *leg, agreed);
        NetEvent e;
        e.kind = NetEvent::Kind::modified;
        e.leg = leg->id;
        e.flag = agreed;
        e.code = agreed == asked ? 1 : 0;
        engine.post(std::move(e));
    }
    return 0;
}

void on_progress(const sip_msg *msg, void *arg)
{
    Engine &engine = *thread_engine();
    Leg *leg = engine.leg(from_arg(arg));
    if (leg == nullptr || leg->alerted || (msg->scode != 180 && msg->scode != 183)) {
        return;
    }
    leg->alerted = true;
    NetEvent e;
    e.kind = NetEvent::Kind::progress;
    e.leg = leg->id;
    engine.post(std::move(e));
}

void on_established(const sip_msg *msg, void *arg)
{
    (void)msg;
    Engine &engine = *thread_engine();
    Leg *leg = engine.leg(from_arg(arg));
    if (leg == nullptr || leg->established) {
        return;
    }
    leg->established = true;
    if (!leg->outgoing) {
        return; // the model connected the call when it answered
    }
    leg->video_on = video_agreed(*leg);
    engine.start_media_clock();
    NetEvent e;
    e.kind = NetEvent::Kind::answered;
    e.leg = leg->id;
    e.flag = leg->video_on;
    engine.post(std::move(e));
}

void on_info(struct sip *sip, const sip_msg *msg, void *arg)
{
    Engine &engine = *thread_engine();
    if (const auto key = dtmf_relay_key(*msg)) {
        engine.note(strf("DTMF '%c' from the remote party of leg %llu", *key,
                         static_cast<unsigned long long>(from_arg(arg))));
    }
    sip_reply(sip, msg, 200, "OK");
}

void on_closed(int err, const sip_msg *msg, void *arg)
{
    Engine &engine = *thread_engine();
    Leg *leg = engine.leg(from_arg(arg));
    if (leg == nullptr) {
        return;
    }
    uint32_t cause = q850::kNormalClearing;
    if (msg != nullptr && msg->scode >= 300) {
        cause = cause_for_status(msg->scode, leg->alerted);
    } else if (err == ETIMEDOUT) {
        cause = cause_for_silence(true);
    } else if (err != 0 && err != ECONNRESET) {
        cause = cause_for_silence(false);
    }
    engine.lost(*leg, cause);
}

} // namespace

// ---- Media: silence every 20 ms on every call that sends ----

void Engine::start_media_clock()
{
    if (!media_timer_->running()) {
        media_timer_->start(kMediaTickMs, [this] { on_media_tick(); });
    }
}

void Engine::on_media_tick()
{
    bool any = false;
    for (auto &[id, owned] : legs_) {
        Leg &leg = *owned;
        if (!(leg.established || leg.answered) || leg.audio_rtp == nullptr) {
            continue;
        }
        any = true;
        const sa *to = sdp_media_raddr(leg.audio);
        if ((sdp_media_dir(leg.audio) & SDP_SENDONLY) == 0 || !sa_isset(to, SA_ALL)) {
            continue;
        }
        mbuf *mb = mbuf_alloc(RTP_HEADER_SIZE + kSilenceSamples);
        if (mb == nullptr) {
            continue;
        }
        // Room for the header, which rtp_send writes in front of the payload.
        mbuf_fill(mb, 0, RTP_HEADER_SIZE);
        mbuf_fill(mb, kPcmuSilence, kSilenceSamples);
        mbuf_set_pos(mb, RTP_HEADER_SIZE);
        if (rtp_send(leg.audio_rtp, to, false, leg.rtp_marker, kPcmuPayloadType, leg.rtp_ts, mb) ==
            0) {
            ++leg.rtp_sent;
        }
        mem_deref(mb);
        leg.rtp_marker = false;
        leg.rtp_ts += kSilenceSamples;
    }
    if (any) {
        media_timer_->start(kMediaTickMs, [this] { on_media_tick(); });
    }
}

} // namespace zol::imsd::sip
