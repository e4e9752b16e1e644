// The SIP side on its own, against a UDP socket on loopback that plays the
// registrar and a peer: what no well-behaved peer sends is answered, not taken
// for a call or a message, and un-registering at the end. The SIP test bed
// shows everything a real registrar and phone do.
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

#include "sip/stack.h"

using namespace zol::imsd;

namespace {

class Peer {
public:
    Peer()
    {
        sockaddr_in addr = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~Peer() { close(fd_); }

    void send(uint16_t to, const std::string &message) const
    {
        const sockaddr_in addr = loopback(to);
        sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<const sockaddr *>(&addr),
               sizeof addr);
    }

    // The next message whose first line starts with `start`; others are skipped.
    std::optional<std::string> next(const std::string &start)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        pollfd p{fd_, POLLIN, 0};
        while (std::chrono::steady_clock::now() < end && poll(&p, 1, 100) >= 0) {
            char buf[65536];
            const ssize_t n = (p.revents & POLLIN) ? recv(fd_, buf, sizeof buf, 0) : 0;
            const std::string message(buf, static_cast<size_t>(n > 0 ? n : 0));
            if (n > 0 && message.rfind(start, 0) == 0) {
                return message;
            }
        }
        return std::nullopt;
    }

    uint16_t port = 0;

private:
    static sockaddr_in loopback(uint16_t port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }
    int fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

std::string header(const std::string &message, const std::string &name)
{
    const size_t at = message.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return {};
    }
    const size_t from = at + name.size() + 4;
    return message.substr(from, message.find("\r\n", from) - from);
}

std::string ok(const std::string &request)
{
    std::string answer = "SIP/2.0 200 OK\r\n";
    for (const char *name : {"Via", "From", "To", "Call-ID", "CSeq"}) {
        answer += std::string(name) + ": " + header(request, name) + "\r\n";
    }
    return answer + "Content-Length: 0\r\n\r\n";
}

std::string request(const Peer &peer, uint16_t to, const std::string &method,
                    const std::string &call_id, const std::string &body = "",
                    const std::string &type = "application/sdp")
{
    const std::string me = "127.0.0.1:" + std::to_string(peer.port);
    return method + " sip:1001@127.0.0.1:" + std::to_string(to) + " SIP/2.0\r\nVia: SIP/2.0/UDP " +
           me + ";branch=z9hG4bK" + call_id + ";rport\r\nMax-Forwards: 70\r\n" +
           "From: <sip:2000@127.0.0.1>;tag=peer\r\nTo: <sip:1001@127.0.0.1>\r\nCall-ID: " +
           call_id + "\r\nCSeq: 1 " + method + "\r\nContact: <sip:2000@" + me + ">\r\n" +
           (body.empty() ? "" : "Content-Type: " + type + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST(SipStack, AnswersWhatNoPeerShouldSendAndUnregistersAtTheEnd)
{
    Peer registrar, peer;
    sip::SipOptions options;
    options.enabled = true;
    options.registrar = {"127.0.0.1", registrar.port};
    options.user = "1001";
    options.timeout_ms = 500;
    std::string error;
    const auto stack = sip::start(options, error);
    ASSERT_TRUE(stack) << error;
    stack->set_registered(true);
    const auto reg = registrar.next("REGISTER ");
    ASSERT_TRUE(reg);
    const std::string contact = header(*reg, "Contact");
    const auto port = static_cast<uint16_t>(std::stoi(contact.substr(contact.rfind(':') + 1)));
    registrar.send(port, ok(*reg));

    const std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
                            "t=0 0\r\nm=video 4000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
    const struct {
        const char *name;
        std::string message;
        const char *answer;
    } cases[] = {
        {"not an SDP", request(peer, port, "INVITE", "c1", "v=0\r\nm=audio x\r\n"), "SIP/2.0 488"},
        {"video only", request(peer, port, "INVITE", "c2", sdp), "SIP/2.0 488"},
        {"short relay message",
         request(peer, port, "MESSAGE", "c3", std::string(1, '\0'), "application/vnd.3gpp.sms"),
         "SIP/2.0 400"},
        {"BYE outside a call", request(peer, port, "BYE", "c4"), "SIP/2.0 481"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        peer.send(port, c.message);
        EXPECT_TRUE(peer.next(c.answer));
        peer.send(port, request(peer, port, "OPTIONS", std::string("alive-") + c.name));
        ASSERT_TRUE(peer.next("SIP/2.0 200")) << "still answering";
    }
    for (const NetEvent &e : stack->take_events()) {
        EXPECT_TRUE(e.kind == NetEvent::Kind::registered || e.kind == NetEvent::Kind::note)
            << "event " << static_cast<int>(e.kind);
    }

    std::thread stopping([&stack] { stack->stop(); });
    const auto bye = registrar.next("REGISTER ");
    ASSERT_TRUE(bye);
    EXPECT_EQ(header(*bye, "Expires"), "0");
    registrar.send(port, ok(*bye));
    stopping.join();
}
