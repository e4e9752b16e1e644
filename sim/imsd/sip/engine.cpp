#include "sip/engine.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sip/engine_parts.h"
#include "text.h"

namespace zol::imsd::sip {

namespace {

thread_local Engine *t_engine = nullptr;

constexpr uint32_t kMaxBackoffS = 32;
constexpr uint32_t kStopWaitMs = 1500;

bool request_handler(const sip_msg *msg, void *arg)
{
    return static_cast<Engine *>(arg)->on_request(*msg);
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

} // namespace

Engine *thread_engine()
{
    return t_engine;
}

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
                   : sip_alloc(&sip_, nullptr, 32, 32, 32, "zol-imsd/" ZOL_SIM_VERSION, nullptr,
                               nullptr);
    err = err != 0 ? err : sip_transp_add(sip_, SIP_TRANSP_UDP, &laddr);
    err = err != 0 ? err : sip_listen(&listener_, sip_, true, request_handler, this);
    err = err != 0 ? err : sipsess_listen(&sessions_, sip_, 32, incoming_handler, this);
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
         std::string(text,
                     end != nullptr ? static_cast<size_t>(end - text) : std::min<size_t>(len, 80)));
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
        err = sip_dialog_alloc(&reg_dialog_, registrar.c_str(), aor_.c_str(), nullptr, aor_.c_str(),
                               nullptr, 0);
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
        return registration_failed(
            strf("REGISTER refused: %u %s", msg->scode, text_of(msg->reason).c_str()));
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
                         registered_
                             ? strf("registered for %u s", granted_s_).c_str()
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
