// The SIP side on its own, against UDP sockets on loopback that play the
// registrar and a peer: requests no well-behaved peer sends, none of which may
// bring it down, and un-registering at the end. Registration, its refresh and
// calls with real peers are the SIP test bed's (tests/sip); what does not parse
// as SIP at all, the SIP message fuzzer's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sip/stack.h"

using namespace zol::imsd;
using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 5s;

// A UDP socket on 127.0.0.1 that writes and reads whole SIP messages.
class Peer {
public:
    Peer()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~Peer() { close(fd_); }

    void send(uint16_t to, const std::string &message) const
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(to);
        sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&addr),
               sizeof addr);
    }

    // The next message whose first line starts with `start`; others are skipped.
    std::optional<std::string> next(const std::string &start,
                                    std::chrono::milliseconds within = kWait)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0) {
                break;
            }
            char buf[65536];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n > 0 && std::string(buf, static_cast<size_t>(n)).rfind(start, 0) == 0) {
                return std::string(buf, static_cast<size_t>(n));
            }
        }
        return std::nullopt;
    }

    uint16_t port = 0;

private:
    int fd_ = -1;
};

std::string header(const std::string &message, const std::string &name)
{
    const size_t at = message.find("\r\n" + name + ":");
    if (at == std::string::npos) {
        return {};
    }
    const size_t from = message.find_first_not_of(' ', at + name.size() + 3);
    return message.substr(from, message.find("\r\n", from) - from);
}

// A response to `request` with its dialog headers.
std::string response(const std::string &request, int status, const std::string &extra = "")
{
    return "SIP/2.0 " + std::to_string(status) + " Whatever\r\n" +
           "Via: " + header(request, "Via") + "\r\n" + "From: " + header(request, "From") + "\r\n" +
           "To: " + header(request, "To") + ";tag=registrar\r\n" +
           "Call-ID: " + header(request, "Call-ID") + "\r\n" + "CSeq: " + header(request, "CSeq") +
           "\r\n" + extra + "Content-Length: 0\r\n\r\n";
}

// A request from the peer to the stack, well-formed around `extra` and `body`.
std::string request(const Peer &peer, uint16_t to, const std::string &method,
                    const std::string &call_id, const std::string &extra = "",
                    const std::string &body = "")
{
    const std::string me = "127.0.0.1:" + std::to_string(peer.port);
    return method + " sip:1001@127.0.0.1:" + std::to_string(to) + " SIP/2.0\r\n" +
           "Via: SIP/2.0/UDP " + me + ";branch=z9hG4bK" + call_id + ";rport\r\n" +
           "Max-Forwards: 70\r\nFrom: <sip:2000@127.0.0.1>;tag=peer\r\n" +
           "To: <sip:1001@127.0.0.1>\r\nCall-ID: " + call_id + "\r\nCSeq: 1 " + method + "\r\n" +
           "Contact: <sip:2000@" + me + ">\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST(SipStack, SurvivesWhatNoPeerShouldSendAndUnregistersAtTheEnd)
{
    Peer registrar;
    sip::SipOptions options;
    options.enabled = true;
    options.registrar = {"127.0.0.1", registrar.port};
    options.user = "1001";
    options.timeout_ms = 500;
    std::string error;
    const std::unique_ptr<sip::Stack> stack = sip::start(options, error);
    ASSERT_TRUE(stack) << error;
    stack->set_registered(true);
    const auto reg = registrar.next("REGISTER ");
    ASSERT_TRUE(reg);
    const std::string contact = header(*reg, "Contact");
    const auto port = static_cast<uint16_t>(std::stoi(contact.substr(contact.rfind(':') + 1)));
    EXPECT_EQ(contact, "<sip:1001@127.0.0.1:" + std::to_string(port) + ">;expires=600");
    registrar.send(port, response(*reg, 200));

    Peer peer;
    const std::string sdp_video_only = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\n"
                                       "c=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                       "m=video 4000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
    const std::string sms = "Content-Type: application/vnd.3gpp.sms\r\n";
    const std::string sdp = "Content-Type: application/sdp\r\n";
    const struct {
        const char *name;
        std::string message;
        const char *answer; // first line of the stack's answer, or "" for none
    } cases[] = {
        {"not an SDP", request(peer, port, "INVITE", "c3", sdp, "v=0\r\nm=audio x\r\n"),
         "SIP/2.0 488"},
        {"video only", request(peer, port, "INVITE", "c4", sdp, sdp_video_only), "SIP/2.0 488"},
        {"short relay message", request(peer, port, "MESSAGE", "c6", sms, std::string("\x00", 1)),
         "SIP/2.0 400"},
        {"BYE outside a call", request(peer, port, "BYE", "c9"), "SIP/2.0 481"},
        {"ack to nothing", request(peer, port, "ACK", "c10"), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        peer.send(port, c.message);
        if (*c.answer != '\0') {
            EXPECT_TRUE(peer.next(c.answer, 2000ms));
        }
        // Still there, and still in order.
        peer.send(port, request(peer, port, "OPTIONS", std::string("alive-") + c.name));
        EXPECT_TRUE(peer.next("SIP/2.0 200", 2000ms));
    }
    // None of it was a call or a message for the phone.
    for (const NetEvent &e : stack->take_events()) {
        EXPECT_TRUE(e.kind == NetEvent::Kind::note || e.kind == NetEvent::Kind::registered)
            << static_cast<int>(e.kind) << " " << e.text;
    }

    std::thread stopping([&stack] { stack->stop(); });
    const auto bye = registrar.next("REGISTER ");
    EXPECT_TRUE(bye && header(*bye, "Expires") == "0") << bye.value_or("no REGISTER");
    EXPECT_TRUE(bye && header(*bye, "Call-ID") == header(*reg, "Call-ID")) << "same registration";
    if (bye) {
        registrar.send(port, response(*bye, 200));
    }
    stopping.join();
}
