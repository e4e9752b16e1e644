#include "sip/engine.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <utility>

#include <re.h>

#include "sip/causes.h"
#include "sip/inbound.h"
#include "sms_records.h"
#include "text.h"

namespace zol::imsd::sip {

// ---- libre's callbacks find their engine through the thread they run on ----

namespace {

thread_local Engine *t_engine = nullptr;

constexpr uint32_t kMediaTickMs = 20;
constexpr size_t kSilenceSamples = 160; // 20 ms at 8 kHz
constexpr uint8_t kPcmuSilence = 0xFF;
constexpr uint8_t kPcmuPayloadType = 0;
constexpr uint16_t kRtpPortMin = 10000;
constexpr uint16_t kRtpPortMax = 60000;
constexpr uint32_t kDtmfDurationMs = 250;
constexpr uint32_t kRelayTimeoutMs = 35000; // how long an SMS may wait for its RP-ACK
constexpr size_t kMaxUnacked = 16;
constexpr uint32_t kMaxBackoffS = 32;
constexpr uint32_t kStopWaitMs = 1500;
// What MESSAGE responses are for: the high word of a tag, the RP reference below.
constexpr uint64_t kTagSms = 1;
constexpr uint64_t kTagReport = 2;
constexpr uint64_t kTagReply = 3;

void *as_arg(uint64_t id)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(id));
}

uint64_t from_arg(void *arg)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg));
}

std::string text_of(const pl &p)
{
    return p.p != nullptr ? std::string(p.p, p.l) : std::string();
}

std::string describe_error(int err)
{
    char buf[128];
    return str_error(err, buf, sizeof buf);
}

} // namespace

struct Timer {
    tmr t{};
    std::function<void()> fn;

    Timer() { tmr_init(&t); }
    ~Timer() { tmr_cancel(&t); }
    Timer(const Timer &) = delete;
    Timer &operator=(const Timer &) = delete;

    void start(uint64_t ms, std::function<void()> f)
    {
        fn = std::move(f);
        tmr_start(&t, ms, &Timer::fire, this);
    }
    void cancel() { tmr_cancel(&t); }
    bool running() const { return tmr_isrunning(&t); }

    static void fire(void *arg)
    {
        // The handler may destroy its timer.
        const std::function<void()> f = static_cast<Timer *>(arg)->fn;
        f();
    }
};

// ---- A call on the network: its SIP session, SDP and RTP ----

struct Leg {
    LegId id = 0;
    bool outgoing = false;
    std::string peer;       // who: the dialled URI or the caller
    sipsess *sess = nullptr;
    const sip_msg *invite = nullptr; // incoming: the INVITE, until the phone rings
    sdp_session *sdp = nullptr;
    sdp_media *audio = nullptr;
    sdp_media *video = nullptr;
    struct rtp_sock *audio_rtp = nullptr;
    struct rtp_sock *video_rtp = nullptr;
    bool offered = false;   // incoming: the INVITE carried an offer
    bool alerted = false;   // outgoing: the remote party rings
    bool answered = false;  // incoming: 200 sent
    bool established = false;
    bool held = false;      // this side holds it
    bool remote_held = false;
    bool video_on = false;
    bool awaiting_consent = false;    // the remote party's video, until the user answers
    std::optional<bool> modify_asked; // video wanted by a re-INVITE in flight
    Timer modify_timer;
    uint32_t rtp_ts = 0;
    bool rtp_marker = true;
    uint64_t rtp_sent = 0;
    uint64_t rtp_received = 0;

    ~Leg()
    {
        // Without the session's last reference libre ends it: CANCEL, BYE or 486.
        mem_deref(sess);
        mem_deref(const_cast<sip_msg *>(invite));
        mem_deref(audio_rtp);
        mem_deref(video_rtp);
        mem_deref(sdp);
    }

    const char *state() const
    {
        if (established || answered) {
            return held ? "held" : remote_held ? "held-by-remote" : "active";
        }
        return outgoing ? (alerted ? "alerting" : "calling") : "ringing";
    }
};

namespace {

void rtp_received(const sa *src, const rtp_header *hdr, mbuf *mb, void *arg)
{
    (void)src;
    (void)hdr;
    (void)mb;
    if (Leg *leg = t_engine->leg(from_arg(arg))) {
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
                   : rtp_listen(rtp, IPPROTO_UDP, &ip, kRtpPortMin, kRtpPortMax, true,
                                rtp_received, nullptr, as_arg(leg.id));
    if (err != 0) {
        return err;
    }
    sdp_media **m = video ? &leg.video : &leg.audio;
    err = sdp_media_add(m, leg.sdp, video ? sdp_media_video : sdp_media_audio,
                        sa_port(rtp_local(*rtp)), sdp_proto_rtpavp);
    if (err == 0) {
        err = video ? sdp_format_add(nullptr, *m, false, "96", "H264", 90000, 1, nullptr,
                                     nullptr, nullptr, false, "packetization-mode=1")
                    : sdp_format_add(nullptr, *m, false, "0", "PCMU", 8000, 1, nullptr,
                                     nullptr, nullptr, false, nullptr);
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

// ---- Trampolines ----

int on_offer(mbuf **descp, const sip_msg *msg, void *arg);
int on_answer(const sip_msg *msg, void *arg);
void on_progress(const sip_msg *msg, void *arg);
void on_established(const sip_msg *msg, void *arg);
void on_info(struct sip *sip, const sip_msg *msg, void *arg);
void on_closed(int err, const sip_msg *msg, void *arg);

bool request_handler(const sip_msg *msg, void *arg)
{
    return static_cast<Engine *>(arg)->on_request(*msg);
}

void connect_handler(const sip_msg *msg, void *arg)
{
    static_cast<Engine *>(arg)->on_incoming(*msg);
}

void trace_handler(bool tx, enum sip_transp tp, const sa *src, const sa *dst, const uint8_t *pkt,
                   size_t len, void *arg)
{
    (void)tp;
    (void)src;
    (void)dst;
    (void)arg;
    if (t_engine != nullptr) {
        t_engine->on_trace(tx, pkt, len);
    }
}

void register_response(int err, const sip_msg *msg, void *arg)
{
    static_cast<Engine *>(arg)->on_register_response(err, msg);
}

void message_response(int err, const sip_msg *msg, void *arg)
{
    if (t_engine != nullptr) {
        t_engine->on_message_response(from_arg(arg), err, msg);
    }
}

void dtmf_response(int err, const sip_msg *msg, void *arg);

} // namespace

// ---- The engine ----

Engine::Engine(const SipOptions &options, Post post, std::atomic<LegId> &leg_ids)
    : opt_(options), post_(std::move(post)), leg_ids_(leg_ids), aor_(options.aor()),
      route_("sip:" + options.registrar.text() + ";lr"), media_timer_(std::make_unique<Timer>()),
      reg_timer_(std::make_unique<Timer>()), reg_deadline_(std::make_unique<Timer>()),
      stop_timer_(std::make_unique<Timer>())
{
    t_engine = this;
}

Engine::~Engine()
{
    // Requests still open end now, and their handlers find nothing left to do.
    closing_ = true;
    reg_wanted_ = false;
    done_ = nullptr;
    sip_close(sip_, true);
    legs_.clear();
    outgoing_sms_.clear();
    media_timer_.reset();
    reg_timer_.reset();
    reg_deadline_.reset();
    stop_timer_.reset();
    mem_deref(reg_request_);
    mem_deref(reg_dialog_);
    mem_deref(sessions_);
    mem_deref(listener_);
    mem_deref(sip_);
    t_engine = nullptr;
}

bool Engine::open(std::string &error)
{
    sa laddr{};
    int err = sa_set_str(&laddr, opt_.local.ip.c_str(), opt_.local.port);
    // No DNS client: every address is a literal, so nothing is ever looked up.
    err = err != 0 ? err
                   : sip_alloc(&sip_, nullptr, 32, 32, 32, "zol-imsd/" ZOL_SIM_VERSION,
                               nullptr, nullptr);
    err = err != 0 ? err : sip_transp_add(sip_, SIP_TRANSP_UDP, &laddr);
    err = err != 0 ? err : sip_listen(&listener_, sip_, true, request_handler, this);
    err = err != 0 ? err : sipsess_listen(&sessions_, sip_, 32, connect_handler, this);
    sa bound{};
    err = err != 0 ? err : sip_transp_laddr(sip_, &bound, SIP_TRANSP_UDP, nullptr);
    if (err != 0) {
        error = "cannot listen for SIP on " + opt_.local.text() + ": " + describe_error(err);
        return false;
    }
    opt_.local.port = sa_port(&bound);
    contact_ = strf("<sip:%s@%s>", opt_.user.c_str(), opt_.local.text().c_str());
    sip_set_trace_handler(sip_, trace_handler);
    note(strf("sip listening on %s as %s, registrar %s", opt_.local.text().c_str(), aor_.c_str(),
              opt_.registrar.text().c_str()));
    return true;
}

void Engine::note(std::string line)
{
    NetEvent e;
    e.kind = NetEvent::Kind::note;
    e.text = std::move(line);
    post_(std::move(e));
}

void Engine::on_trace(bool sent, const uint8_t *packet, size_t len)
{
    const auto *text = reinterpret_cast<const char *>(packet);
    const auto *end = static_cast<const char *>(memchr(text, '\r', len));
    note(std::string(sent ? "sip -> " : "sip <- ") +
         std::string(text, end != nullptr ? static_cast<size_t>(end - text) : std::min<size_t>(len, 80)));
}

Leg *Engine::leg(LegId id)
{
    const auto it = legs_.find(id);
    return it == legs_.end() ? nullptr : it->second.get();
}

void Engine::destroy(LegId id)
{
    legs_.erase(id);
}

void Engine::lost(Leg &leg, uint32_t cause)
{
    NetEvent e;
    e.kind = NetEvent::Kind::ended;
    e.leg = leg.id;
    e.code = cause;
    post(std::move(e));
    note(strf("call leg %llu to %s ended, cause %u", static_cast<unsigned long long>(leg.id),
              leg.peer.c_str(), cause));
    destroy(leg.id);
}

// ---- Registration ----

void Engine::set_registered(bool on)
{
    reg_wanted_ = on;
    reg_timer_->cancel();
    if (on) {
        if (reg_request_ == nullptr) {
            send_register(opt_.expires_s);
        }
        return;
    }
    reg_failures_ = 0;
    const bool was = registered_ || reg_request_ != nullptr;
    set_registration(false);
    if (was) {
        send_register(0);
    }
}

void Engine::send_register(uint32_t expires)
{
    reg_request_ = static_cast<struct sip_request *>(mem_deref(reg_request_));
    int err = 0;
    if (reg_dialog_ == nullptr) {
        const std::string registrar = "sip:" + opt_.registrar.text();
        err = sip_dialog_alloc(&reg_dialog_, registrar.c_str(), aor_.c_str(), nullptr,
                               aor_.c_str(), nullptr, 0);
    }
    err = err != 0 ? err
                   : sip_drequestf(&reg_request_, sip_, true, "REGISTER", reg_dialog_, 0, nullptr,
                                   nullptr, register_response, this,
                                   "Contact: %s;expires=%u\r\n"
                                   "Expires: %u\r\n"
                                   "Content-Length: 0\r\n"
                                   "\r\n",
                                   contact_.c_str(), expires, expires);
    if (err != 0) {
        return registration_failed("REGISTER not sent: " + describe_error(err));
    }
    // A registrar that is gone does not answer at all; waiting for the
    // transaction's own timeout would take half a minute.
    reg_deadline_->start(opt_.timeout_ms, [this] { on_register_timer(); });
}

void Engine::on_register_timer()
{
    reg_request_ = static_cast<struct sip_request *>(mem_deref(reg_request_));
    if (reg_wanted_) {
        registration_failed(strf("no answer to REGISTER within %u ms", opt_.timeout_ms));
    } else {
        finish();
    }
}

void Engine::on_register_response(int err, const sip_msg *msg)
{
    if (msg != nullptr && msg->scode < 200) {
        return;
    }
    reg_deadline_->cancel();
    if (closing_) {
        return;
    }
    if (!reg_wanted_) {
        // The answer to un-registering, whatever it says.
        return finish();
    }
    if (err != 0 || msg == nullptr) {
        return registration_failed("REGISTER failed: " + describe_error(err));
    }
    if (msg->scode == 423) {
        const sip_hdr *min = sip_msg_hdr(msg, SIP_HDR_MIN_EXPIRES);
        const uint32_t wanted = min != nullptr ? pl_u32(&min->val) : 0;
        if (wanted > opt_.expires_s) {
            opt_.expires_s = wanted;
            return send_register(wanted);
        }
    }
    if (msg->scode >= 300) {
        return registration_failed(strf("REGISTER refused: %u %s", msg->scode,
                                        text_of(msg->reason).c_str()));
    }
    granted_s_ = pl_isset(&msg->expires) ? pl_u32(&msg->expires) : opt_.expires_s;
    if (granted_s_ == 0 || granted_s_ > opt_.expires_s) {
        granted_s_ = opt_.expires_s;
    }
    reg_failures_ = 0;
    if (!registered_) {
        note(strf("registered as %s for %u s", aor_.c_str(), granted_s_));
    }
    set_registration(true);
    // Refresh at half time, so that a refresh that fails still leaves time to retry.
    reg_timer_->start(std::max<uint64_t>(1000, granted_s_ * 500ull),
                      [this] { send_register(opt_.expires_s); });
}

void Engine::registration_failed(const std::string &why)
{
    note(why);
    set_registration(false);
    if (!reg_wanted_) {
        return;
    }
    // 1, 2, 4 ... seconds, at most kMaxBackoffS.
    const uint32_t wait_s = std::min(kMaxBackoffS, 1u << std::min(reg_failures_, 5u));
    ++reg_failures_;
    note(strf("registering again in %u s", wait_s));
    reg_timer_->start(wait_s * 1000ull, [this] { send_register(opt_.expires_s); });
}

void Engine::set_registration(bool registered)
{
    if (registered == registered_) {
        return;
    }
    registered_ = registered;
    NetEvent e;
    e.kind = NetEvent::Kind::registered;
    e.flag = registered;
    post(std::move(e));
}

// ---- Calls ----

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
    const int err = sipsess_accept(&leg.sess, sessions_, invite, status,
                                   status == 180 ? "Ringing" : "OK", opt_.user.c_str(),
                                   "application/sdp", desc, nullptr, nullptr, false, on_offer,
                                   on_answer, on_established, on_info, nullptr, on_closed,
                                   as_arg(leg.id), "");
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
    if (t_engine != nullptr) {
        t_engine->post(std::move(e));
    }
}

int on_offer(mbuf **descp, const sip_msg *msg, void *arg)
{
    Engine &engine = *t_engine;
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
    Engine &engine = *t_engine;
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
    Engine &engine = *t_engine;
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
    Engine &engine = *t_engine;
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
    Engine &engine = *t_engine;
    if (const auto key = dtmf_relay_key(*msg)) {
        engine.note(strf("DTMF '%c' from the remote party of leg %llu", *key,
                         static_cast<unsigned long long>(from_arg(arg))));
    }
    sip_reply(sip, msg, 200, "OK");
}

void on_closed(int err, const sip_msg *msg, void *arg)
{
    Engine &engine = *t_engine;
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

// ---- SMS ----

int Engine::send_message(const std::string &uri, const Bytes &body, uint64_t tag)
{
    sip_dialog *dlg = nullptr;
    const char *routev[] = {route_.c_str()};
    int err = sip_dialog_alloc(&dlg, uri.c_str(), uri.c_str(), nullptr, aor_.c_str(), routev, 1);
    err = err != 0 ? err
                   : sip_drequestf(nullptr, sip_, true, "MESSAGE", dlg, 0, nullptr, nullptr,
                                   message_response, as_arg(tag),
                                   "Content-Type: %s\r\n"
                                   "Content-Length: %zu\r\n"
                                   "\r\n"
                                   "%b",
                                   kSmsContentType, body.size(), body.data(), body.size());
    mem_deref(dlg);
    return err;
}

void Engine::send_sms(const std::string &tpdu_hex, const std::string &smsc_hex, uint32_t ref,
                      int32_t token)
{
    const uint8_t rp_ref = next_rp_ref();
    OutgoingSms &pending = outgoing_sms_[rp_ref];
    pending.host_ref = ref;
    pending.token = token;
    pending.timer = std::make_unique<Timer>();
    ++sms_sent_;
    std::string why;
    const auto tpdu = parse_hex(tpdu_hex);
    const auto smsc = parse_hex(smsc_hex);
    std::optional<Submit> submit;
    if (!tpdu || !smsc) {
        why = "the PDU is not hex";
    } else {
        submit = parse_submit(*tpdu, why);
    }
    if (!submit) {
        note("SMS not sent: " + why);
        return sms_done(rp_ref, rp_cause::kInvalidMessage, "refused");
    }
    RpMessage rp;
    rp.type = RpType::data_from_ms;
    rp.ref = rp_ref;
    // The service centre's address as the host wrote it: a length octet, then the address.
    if (!smsc->empty() && smsc->size() == 1u + (*smsc)[0]) {
        rp.destination.assign(smsc->begin() + 1, smsc->end());
    }
    rp.user_data = *tpdu;
    // Sent straight to the recipient, whose side relays it as the service centre would.
    const std::string uri = target_uri(submit->number);
    if (const int err = send_message(uri, encode_rp(rp), kTagSms << 32 | rp_ref); err != 0) {
        note("MESSAGE to " + uri + " not sent: " + describe_error(err));
        return sms_done(rp_ref, cause_for_silence(false), "not sent");
    }
    pending.timer->start(kRelayTimeoutMs, [this, rp_ref] { on_sms_timeout(rp_ref); });
    note(strf("SMS %u to %s as RP-DATA reference %u", ref, uri.c_str(), unsigned{rp_ref}));
}

void Engine::on_sms_timeout(uint8_t rp_ref)
{
    sms_done(rp_ref, kSmsSendTimedOut, "timed out");
}

void Engine::sms_done(uint8_t rp_ref, uint32_t error_code, const char *how)
{
    const auto it = outgoing_sms_.find(rp_ref);
    if (it == outgoing_sms_.end()) {
        return;
    }
    NetEvent e;
    e.kind = NetEvent::Kind::sms_status;
    e.token = it->second.token;
    e.ref = it->second.host_ref;
    e.code = error_code;
    post(std::move(e));
    note(strf("SMS %u %s (RP reference %u, error %u)", it->second.host_ref, how,
              unsigned{rp_ref}, error_code));
    outgoing_sms_.erase(it);
}

void Engine::on_message_response(uint64_t tag, int err, const sip_msg *msg)
{
    if (msg != nullptr && msg->scode < 200) {
        return;
    }
    const auto rp_ref = static_cast<uint8_t>(tag);
    const bool failed = err != 0 || msg == nullptr || msg->scode >= 300;
    if (!failed) {
        return; // a relay answer, if any, follows in a MESSAGE of its own
    }
    const uint32_t cause = msg != nullptr ? cause_for_status(msg->scode, false)
                                          : cause_for_silence(err == ETIMEDOUT);
    switch (tag >> 32) {
    case kTagSms:
        sms_done(rp_ref, cause, "refused by the network");
        break;
    case kTagReport:
    case kTagReply:
        note(strf("relay message %u not delivered, cause %u", unsigned{rp_ref}, cause));
        break;
    default:
        break;
    }
}

bool Engine::on_request(const sip_msg &msg)
{
    if (pl_strcmp(&msg.met, "OPTIONS") == 0) {
        sip_treplyf(nullptr, nullptr, sip_, &msg, false, 200, "OK",
                    "Allow: INVITE, ACK, CANCEL, BYE, INFO, MESSAGE, OPTIONS\r\n"
                    "Accept: application/sdp, %s\r\n"
                    "Content-Length: 0\r\n"
                    "\r\n",
                    kSmsContentType);
        return true;
    }
    if (pl_strcmp(&msg.met, "MESSAGE") != 0) {
        return false;
    }
    if (!has_content_type(msg, "application", "vnd.3gpp.sms")) {
        sip_treply(nullptr, sip_, &msg, 415, "Unsupported Media Type");
        return true;
    }
    std::string why;
    const auto rp = decode_rp(body_of(msg), why);
    if (!rp) {
        note("MESSAGE from " + caller_of(msg) + " refused: " + why);
        sip_treply(nullptr, sip_, &msg, 400, "Bad Request");
        return true;
    }
    sip_treply(nullptr, sip_, &msg, 200, "OK");
    handle_rp(*rp, msg);
    return true;
}

void Engine::handle_rp(const RpMessage &rp, const sip_msg &msg)
{
    const std::string sender = caller_of(msg);
    const auto deliver = [&](const Bytes &smsc, const Bytes &tpdu, uint32_t type, Unacked held) {
        Bytes apdu = {static_cast<uint8_t>(smsc.size())};
        apdu.insert(apdu.end(), smsc.begin(), smsc.end());
        apdu.insert(apdu.end(), tpdu.begin(), tpdu.end());
        if (unacked_.size() == kMaxUnacked) {
            unacked_.pop_front();
        }
        unacked_.push_back(std::move(held));
        ++sms_received_;
        NetEvent e;
        e.kind = NetEvent::Kind::sms_received;
        e.text = hex_upper(apdu);
        e.code = type;
        post(std::move(e));
    };
    const auto refuse = [&](RpType type, uint8_t cause, const std::string &why) {
        note(strf("RP-DATA %u from %s refused: %s", unsigned{rp.ref}, sender.c_str(), why.c_str()));
        RpMessage error;
        error.type = type;
        error.ref = rp.ref;
        error.cause = cause;
        send_message(reply_uri_of(msg), encode_rp(error), kTagReply << 32 | rp.ref);
    };
    Unacked held;
    held.reply_to = reply_uri_of(msg);
    held.rp_ref = rp.ref;
    held.received = utc_now();
    std::string why;
    switch (rp.type) {
    case RpType::data_to_ms: {
        // From a service centre: delivered as it is.
        const auto type = mt_tpdu_type(rp.user_data);
        if (!type) {
            return refuse(RpType::error_from_ms, rp_cause::kInvalidMessage,
                          "not an SMS-DELIVER or SMS-STATUS-REPORT");
        }
        note(strf("RP-DATA %u from %s", unsigned{rp.ref}, sender.c_str()));
        return deliver(rp.originator, rp.user_data, *type, std::move(held));
    }
    case RpType::data_from_ms: {
        // Straight from another phone: this side is its service centre.
        auto submit = parse_submit(rp.user_data, why);
        if (!submit) {
            return refuse(RpType::error_to_ms, rp_cause::kInvalidMessage, why);
        }
        note(strf("RP-DATA %u from %s: SMS-SUBMIT, relayed as SMS-DELIVER", unsigned{rp.ref},
                  sender.c_str()));
        const Bytes tpdu = deliver_for(*submit, tp_address_for(sender), held.received);
        held.as_centre = true;
        held.submit = std::move(*submit);
        return deliver(rp.destination, tpdu, 0, std::move(held));
    }
    case RpType::ack_to_ms:
        return sms_done(rp.ref, kSmsSendOk, "delivered");
    case RpType::error_to_ms:
        return sms_done(rp.ref, rp.cause, "refused by the recipient");
    case RpType::ack_from_ms:
    case RpType::error_from_ms:
        return note(strf("status report %u %s by %s", unsigned{rp.ref},
                         rp.type == RpType::ack_from_ms ? "taken" : "refused", sender.c_str()));
    case RpType::smma:
        return note("RP-SMMA from " + sender + ": nothing waits for it");
    }
}

void Engine::ack_sms(bool accepted, uint32_t cause)
{
    if (unacked_.empty()) {
        return note("SMS acknowledgement with no message waiting for one");
    }
    Unacked held = std::move(unacked_.front());
    unacked_.pop_front();
    RpMessage reply;
    reply.ref = held.rp_ref;
    reply.type = accepted ? (held.as_centre ? RpType::ack_to_ms : RpType::ack_from_ms)
                          : (held.as_centre ? RpType::error_to_ms : RpType::error_from_ms);
    // The host's own causes are no relay causes; anything else is a temporary failure.
    reply.cause = cause >= 1 && cause <= 127 ? static_cast<uint8_t>(cause)
                                             : rp_cause::kTemporaryFailure;
    send_message(held.reply_to, encode_rp(reply), kTagReply << 32 | held.rp_ref);
    note(strf("RP-%s %u to %s", accepted ? "ACK" : "ERROR", unsigned{held.rp_ref},
              held.reply_to.c_str()));
    if (accepted && held.as_centre && held.submit.wants_report()) {
        RpMessage report;
        report.type = RpType::data_to_ms;
        report.ref = next_rp_ref();
        report.originator = rp_address(opt_.user);
        report.user_data = status_report_for(held.submit, held.received, utc_now());
        send_message(held.reply_to, encode_rp(report), kTagReport << 32 | report.ref);
        note(strf("status report %u to %s", unsigned{report.ref}, held.reply_to.c_str()));
    }
}

// ---- Shutting down ----

void Engine::stop(std::function<void()> done)
{
    done_ = std::move(done);
    // Every call ends (BYE, CANCEL or a refusal goes out); un-registering is
    // the last thing waited for.
    legs_.clear();
    reg_timer_->cancel();
    const bool unregister = registered_ || reg_request_ != nullptr;
    reg_wanted_ = false;
    registered_ = false;
    if (!unregister) {
        return finish();
    }
    stop_timer_->start(kStopWaitMs, [this] { finish(); });
    send_register(0);
}

void Engine::finish()
{
    if (done_) {
        stop_timer_->cancel();
        const std::function<void()> done = std::exchange(done_, nullptr);
        done();
    }
}

std::vector<std::string> Engine::describe() const
{
    std::vector<std::string> lines;
    lines.push_back(strf("sip %s on %s, registrar %s, %s", aor_.c_str(), opt_.local.text().c_str(),
                         opt_.registrar.text().c_str(),
                         registered_ ? strf("registered for %u s", granted_s_).c_str()
                                     : strf("not registered (%u failures)", reg_failures_).c_str()));
    for (const auto &[id, leg] : legs_) {
        lines.push_back(strf("leg %llu %s %s %s%s rtp sent=%llu received=%llu",
                             static_cast<unsigned long long>(id), leg->outgoing ? "to" : "from",
                             leg->peer.c_str(), leg->state(), leg->video_on ? " video" : "",
                             static_cast<unsigned long long>(leg->rtp_sent),
                             static_cast<unsigned long long>(leg->rtp_received)));
    }
    lines.push_back(strf("sms sent=%llu received=%llu awaiting-relay=%zu awaiting-host=%zu",
                         static_cast<unsigned long long>(sms_sent_),
                         static_cast<unsigned long long>(sms_received_), outgoing_sms_.size(),
                         unacked_.size()));
    return lines;
}

} // namespace zol::imsd::sip
