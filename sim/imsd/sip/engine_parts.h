// What the engine's files share: its timers, its calls on the network, and the
// way libre's handlers find the engine of the thread they run on. Only the
// engine's own files include this (it brings in libre).
#ifndef ZOL_IMSD_SIP_ENGINE_PARTS_H
#define ZOL_IMSD_SIP_ENGINE_PARTS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <re.h>

#include "sip/engine.h"

namespace zol::imsd::sip {

// The engine running on this thread; null on any other.
Engine *thread_engine();

// libre hands its handlers a pointer; they get an id, which outlives nothing.
inline void *as_arg(uint64_t id)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(id));
}

inline uint64_t from_arg(void *arg)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg));
}

inline std::string text_of(const pl &p)
{
    return p.p != nullptr ? std::string(p.p, p.l) : std::string();
}

inline std::string describe_error(int err)
{
    char buf[128];
    return str_error(err, buf, sizeof buf);
}

// A libre timer that runs a function.
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

// A call on the network: its SIP session, SDP and RTP.
struct Leg {
    LegId id = 0;
    bool outgoing = false;
    std::string peer; // who: the dialled URI or the caller
    sipsess *sess = nullptr;
    const sip_msg *invite = nullptr; // incoming: the INVITE, until the phone rings
    sdp_session *sdp = nullptr;
    sdp_media *audio = nullptr;
    sdp_media *video = nullptr;
    struct rtp_sock *audio_rtp = nullptr;
    struct rtp_sock *video_rtp = nullptr;
    bool offered = false;  // incoming: the INVITE carried an offer
    bool alerted = false;  // outgoing: the remote party rings
    bool answered = false; // incoming: 200 sent
    bool established = false;
    bool held = false; // this side holds it
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

// libre's handler for a new INVITE (engine_calls.cpp).
void incoming_handler(const sip_msg *msg, void *arg);

} // namespace zol::imsd::sip

#endif
