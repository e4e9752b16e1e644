// Everything of the SIP side that touches libre. It lives on the network
// thread alone: the Stack hands it commands through libre's message queue and
// takes back what it posts.
#ifndef ZOL_IMSD_SIP_ENGINE_H
#define ZOL_IMSD_SIP_ENGINE_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network.h"
#include "sip/options.h"
#include "sip/rp.h"

struct sip;
struct sip_lsnr;
struct sip_msg;
struct sip_request;
struct sip_dialog;
struct sipsess_sock;
struct tmr;
struct mbuf;

namespace zol::imsd::sip {

struct Leg;
struct Timer;

class Engine {
public:
    using Post = std::function<void(NetEvent)>;

    Engine(const SipOptions &options, Post post, std::atomic<LegId> &leg_ids);
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Binds and listens; on the network thread, after libre_init().
    bool open(std::string &error);
    // Ends the calls and un-registers; `done` runs once the network had its
    // moment to answer.
    void stop(std::function<void()> done);

    void set_registered(bool on);
    void call(LegId id, const std::string &number, bool video);
    void ring(LegId id);
    void answer(LegId id, bool video);
    void end(LegId id, Refusal refusal);
    void hold(LegId id, bool held);
    void modify(LegId id, bool video);
    void dtmf(LegId id, char key, int32_t token);
    void send_sms(const std::string &tpdu_hex, const std::string &smsc_hex, uint32_t ref,
                  int32_t token);
    void ack_sms(bool accepted, uint32_t cause);
    std::vector<std::string> describe() const;

    // libre's handlers, through trampolines that find the engine of the thread.
    bool on_request(const sip_msg &msg);
    void on_incoming(const sip_msg &msg);
    void on_trace(bool sent, const uint8_t *packet, size_t len);
    void on_register_response(int err, const sip_msg *msg);
    void on_register_timer();
    void on_message_response(uint64_t tag, int err, const sip_msg *msg);
    void on_sms_timeout(uint8_t rp_ref);
    void on_media_tick();
    Leg *leg(LegId id);
    void note(std::string line);
    void post(NetEvent e) { post_(std::move(e)); }
    // Ends a leg on the network's word: the model hears of it with `cause`.
    void lost(Leg &leg, uint32_t cause);
    void destroy(LegId id);
    const SipOptions &options() const { return opt_; }
    const std::string &aor() const { return aor_; }
    const std::string &route() const { return route_; }
    void start_media_clock();

private:
    // An SMS this side sent, until its RP-ACK or RP-ERROR.
    struct OutgoingSms {
        uint32_t host_ref = 0;
        int32_t token = 0;
        std::unique_ptr<Timer> timer;
    };
    // A message delivered to the host, until the host acknowledges it.
    struct Unacked {
        std::string reply_to;
        uint8_t rp_ref = 0;
        bool as_centre = false; // it came as an SMS-SUBMIT: this side relays for the sender
        Submit submit;
        SmsTime received;
    };

    int accept(Leg &leg, uint16_t status, mbuf *desc);
    void send_register(uint32_t expires);
    void registration_failed(const std::string &why);
    void set_registration(bool registered);
    std::string target_uri(const std::string &number) const;
    int send_message(const std::string &uri, const Bytes &body, uint64_t tag);
    void handle_rp(const RpMessage &rp, const sip_msg &msg);
    void sms_done(uint8_t rp_ref, uint32_t error_code, const char *how);
    // Stopping is over: tells whoever asked.
    void finish();
    uint8_t next_rp_ref() { return rp_ref_++; }

    SipOptions opt_;
    Post post_;
    std::atomic<LegId> &leg_ids_;
    std::string aor_;
    std::string route_;
    std::string contact_;
    struct sip *sip_ = nullptr;
    sip_lsnr *listener_ = nullptr;
    sipsess_sock *sessions_ = nullptr;
    std::map<LegId, std::unique_ptr<Leg>> legs_;
    std::unique_ptr<Timer> media_timer_;

    // Registration.
    bool reg_wanted_ = false;
    bool registered_ = false;
    uint32_t reg_failures_ = 0;
    uint32_t granted_s_ = 0;
    sip_dialog *reg_dialog_ = nullptr;
    struct sip_request *reg_request_ = nullptr;
    std::unique_ptr<Timer> reg_timer_;    // refresh or retry
    std::unique_ptr<Timer> reg_deadline_; // the request in flight has failed

    // SMS.
    uint8_t rp_ref_ = 1;
    std::map<uint8_t, OutgoingSms> outgoing_sms_;
    std::deque<Unacked> unacked_;
    uint64_t sms_sent_ = 0;
    uint64_t sms_received_ = 0;

    // Shutting down.
    bool closing_ = false;
    std::function<void()> done_;
    std::unique_ptr<Timer> stop_timer_;
};

} // namespace zol::imsd::sip

#endif
