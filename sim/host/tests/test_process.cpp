// zol-host and zol-rild as processes with the simulation module: the host's
// verdict without a stack; the daemon driven over its socket by a hand-made
// client: bad frames are dropped and serving goes on, one client at a time, and
// a request the module never completes is still answered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/socket.h>

#include "imsd_harness.h"
#include "parcel.h"
#include "rild_wire.h"

namespace zol_host {
namespace {

using namespace zol::imsd::testing;

class Processes : public ::testing::Test {
protected:
    Processes()
    {
        // Nothing outside the temporary directory, and a quick start without a stack.
        setenv("ZOL_IMSD_SOCKET", (dir.path + "/imsd.sock").c_str(), 1);
        setenv("ZOL_IMSD_CONNECT_TIMEOUT_MS", "100", 1);
    }
    // zol-host on a scenario: its exit status and output.
    std::pair<int, std::string> host(const std::string &scenario)
    {
        std::ofstream(script) << scenario;
        return run({ZOL_HOST_BINARY, "--script", script, "--imsd-control", dir.path + "/ctl",
                    "--log", "none", "--timeout-ms", "5000"},
                   dir.path + "/host.out");
    }

    TempDir dir;
    const std::string script = dir.path + "/test.zs";
};

// Passing is shown by every scenario; failing must end the run with status 1,
// or every end-to-end run would pass.
TEST_F(Processes, FailingScenariosEndWithStatus1)
{
    const std::pair<const char *, std::string> failures[] = {
        {"request 1\nexpect error SUCCESS\n",
         ":2: RIL_REQUEST_GET_SIM_STATUS #1 completed with Request Not Supported"},
        {"request 1\nexpect calls\n", ":2: expected expect calls <n>"},
    };
    for (const auto &[scenario, line] : failures) {
        SCOPED_TRACE(scenario);
        const auto [status, out] = host(scenario);
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("FAIL " + script + line), std::string::npos) << out;
    }
}

// A frame from zol-rild: a reply (type 0) or an unsolicited response (type 1).
struct RildFrame {
    int32_t type = -1; // -1: none came in time
    int32_t id = 0;    // serial of a reply, number of an unsolicited response
    int32_t error = 0;
    Bytes payload;
};

RildFrame next_frame(Client &c)
{
    const Bytes head = c.read_exactly(4);
    if (head.size() < 4) {
        return {};
    }
    const Bytes body = c.read_exactly(size_t{head[0]} << 24 | size_t{head[1]} << 16 |
                                      size_t{head[2]} << 8 | head[3]);
    ParcelReader r(body);
    RildFrame f;
    f.type = r.i32();
    f.id = r.i32();
    if (f.type == 0) {
        f.error = r.i32();
    }
    f.payload.assign(body.end() - static_cast<long>(r.remaining()), body.end());
    return f;
}

bool nothing_waiting(Client &c)
{
    uint8_t b;
    return recv(c.fd(), &b, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
}

class Rild : public Processes {
protected:
    void start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {ZOL_RILD_BINARY, "--socket", socket, "--log", "none"};
        args.insert(args.end(), extra.begin(), extra.end());
        rild.emplace(args, dir.path + "/rild.out");
        ASSERT_TRUE(rild->wait_output("rild: listening on " + socket, milliseconds(30000)))
            << rild->output();
    }
    // A client that has had its greeting (oFono reads it): RIL_CONNECTED and the radio state.
    std::unique_ptr<Client> connect()
    {
        auto c = std::make_unique<Client>(socket, SOCK_STREAM);
        EXPECT_EQ(next_frame(*c).id, 1034);
        EXPECT_EQ(next_frame(*c).id, 1000);
        return c;
    }
    bool request(Client &c, int32_t request, int32_t serial, const Bytes &parcel = {})
    {
        return c.send(request_frame(request, serial, parcel));
    }

    const std::string socket = dir.path + "/rild";
    std::optional<Process> rild;
};

TEST_F(Rild, BadFramesAreDroppedAndOneClientIsServedAtATime)
{
    start();
    auto c = connect();
    c->send(Bytes{0, 0, 0, 4, 1, 2, 3, 4});   // no room for a serial
    request(*c, 10, 5, {9, 0, 0, 0, 'x', 0}); // a dial cut short
    c->send(Bytes{0, 0, 0x27, 0x10});         // 10000 bytes: too long
    c->send(Bytes(10000, 0x5A));
    request(*c, 51, 6); // BASEBAND_VERSION
    request(*c, 9999, 7);

    const RildFrame dial = next_frame(*c);
    EXPECT_EQ(dial.id, 5);
    EXPECT_EQ(dial.error, 2) << "a request that can be answered is answered";
    const RildFrame version = next_frame(*c);
    EXPECT_EQ(version.id, 6);
    EXPECT_EQ(ParcelReader(version.payload).text(), "zol-sim baseband 1.0");
    const RildFrame unknown = next_frame(*c);
    EXPECT_EQ(unknown.id, 7);
    EXPECT_EQ(unknown.error, 6);
    EXPECT_TRUE(rild->wait_output("malformed frame: length 10000 is over the limit"));

    // One client at a time: the next waits in the backlog, unserved.
    Client second(socket, SOCK_STREAM);
    request(*c, 51, 8);
    EXPECT_EQ(next_frame(*c).id, 8);
    EXPECT_TRUE(nothing_waiting(second));
    // A second server on the same socket is refused; the first keeps it.
    Process again({ZOL_RILD_BINARY, "--socket", socket, "--log", "none"}, dir.path + "/again.out");
    EXPECT_TRUE(again.wait_output("another server is listening on " + socket, milliseconds(30000)))
        << again.output();
}

TEST_F(Rild, RequestsTheModuleNeverCompletesAreAnswered)
{
    Imsd imsd(dir.path);
    setenv("ZOL_IMSD_SOCKET", imsd.data_path.c_str(), 1);
    ASSERT_TRUE(imsd.start());
    start({"--request-timeout-ms", "300"});
    auto c = connect();
    // Held back at the stack, the call list never reaches the module.
    ASSERT_EQ(imsd.final_line("fault pause"), "ok");
    request(*c, 9, 3);
    const RildFrame calls = next_frame(*c);
    EXPECT_EQ(calls.id, 3);
    EXPECT_EQ(calls.error, 2);
    ASSERT_EQ(imsd.final_line("fault off").substr(0, 2), "ok");
    EXPECT_TRUE(rild->wait_output("late completion of RIL_REQUEST_GET_CURRENT_CALLS"));
    while (!nothing_waiting(*c)) {
        const RildFrame f = next_frame(*c);
        EXPECT_EQ(f.type, 1) << "the late completion is not sent; got a reply to #" << f.id;
    }
}

} // namespace
} // namespace zol_host
