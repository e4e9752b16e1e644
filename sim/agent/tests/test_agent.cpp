// libipc_agent.so against the real zol-imsd, loaded the way the module loads it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

#include "imsd_harness.h"
#include "ipc_agent.h"

#ifndef ZOL_AGENT_LIBRARY
#error "ZOL_AGENT_LIBRARY names libipc_agent.so"
#endif

using namespace zol::imsd::testing;

namespace {

struct AgentLibrary {
    void *handle = dlopen(ZOL_AGENT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ipc_agent_init_func init = bind<ipc_agent_init_func>("ipc_agent_init");
    ipc_agent_open_func open = bind<ipc_agent_open_func>("ipc_agent_open");
    ipc_agent_send_func send = bind<ipc_agent_send_func>("ipc_agent_message_send_block_comm");

    template <typename F>
    F bind(const char *name)
    {
        return handle != nullptr ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    }
};

AgentLibrary &lib()
{
    static AgentLibrary library;
    return library;
}

// What the read callback was handed, copied out of the agent's buffer.
std::mutex g_mu;
std::condition_variable g_cv;
std::vector<Bytes> g_packets;
std::atomic<int> g_bad_records{0};
// While set, the callback keeps the agent's reader inside it once it has a packet.
bool g_hold = false;

int on_read(void *record)
{
    const auto *rec = static_cast<const ipc_agent_recv_type *>(record);
    if (rec == nullptr || rec->reserved != 0 || rec->data == nullptr || rec->count <= 0) {
        ++g_bad_records;
        return 1;
    }
    std::unique_lock<std::mutex> lock(g_mu);
    g_packets.emplace_back(rec->data, rec->data + rec->count);
    g_cv.notify_all();
    g_cv.wait_for(lock, kWait, [] { return !g_hold; });
    return 0;
}

void hold_reader(bool hold)
{
    std::lock_guard<std::mutex> lock(g_mu);
    g_hold = hold;
    g_cv.notify_all();
}

std::vector<Bytes> take_packets()
{
    std::lock_guard<std::mutex> lock(g_mu);
    return std::move(g_packets);
}

int32_t g_channel_id = 1;

int open_agent(const std::string &socket_path, int timeout_ms)
{
    setenv("ZOL_IMSD_SOCKET", socket_path.c_str(), 1);
    setenv("ZOL_IMSD_CONNECT_TIMEOUT_MS", std::to_string(timeout_ms).c_str(), 1);
    ipc_agent_open_options_type options{};
    options.mode = 1;
    options.name[0] = '1';
    ipc_agent_open_type rec{};
    rec.read_cb = on_read;
    rec.options = &options;
    rec.channel_id = &g_channel_id;
    return lib().open(&rec);
}

int send_bytes(Bytes bytes)
{
    ipc_agent_send_type rec{bytes.data(), static_cast<int32_t>(bytes.size()), -1, 0, 0,
                            g_channel_id};
    return lib().send(&rec);
}

// A received frame with this token and message id.
std::optional<Bytes> wait_frame(int32_t token, uint16_t message, milliseconds timeout = kWait)
{
    const Bytes head = frame_bytes(token, message);
    std::optional<Bytes> found;
    std::unique_lock<std::mutex> lock(g_mu);
    g_cv.wait_for(lock, timeout, [&] {
        for (const Bytes &p : g_packets) {
            if (p.size() >= 11 && std::equal(head.begin(), head.begin() + 7, p.begin())) {
                found = p;
            }
        }
        return found.has_value();
    });
    return found;
}

// Sends get-current-calls until the stack answers it: frames flow both ways.
bool round_trip(int32_t token)
{
    return wait_until([&] {
        return send_bytes(frame_bytes(token, 17)) == 0 &&
               wait_frame(token, 30021, milliseconds(200)).has_value();
    });
}

class Agent : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib().init && lib().open && lib().send) << dlerror();
        ipc_agent_param_type param = {1, 2};
        ASSERT_EQ(lib().init(&param), 0);
        take_packets();
        g_bad_records = 0;
    }
    void TearDown() override { EXPECT_EQ(g_bad_records, 0); }
    // A stack, the agent open on it, and one request answered.
    void connect()
    {
        ASSERT_TRUE(imsd.start());
        ASSERT_EQ(open_agent(imsd.data_path, 5000), 0);
        ASSERT_TRUE(round_trip(1));
    }

    TempDir dir;
    Imsd imsd{dir.path};
};

} // namespace

TEST_F(Agent, BadRecordsAreRefused)
{
    ASSERT_TRUE(imsd.start());
    ASSERT_EQ(open_agent(imsd.data_path, 0), 0) << "one attempt even without time to wait";
    uint8_t byte = 0;
    ipc_agent_send_type no_frame{nullptr, 1, -1, 0, 0, 1};
    ipc_agent_send_type negative{&byte, -1, -1, 0, 0, 1};
    ipc_agent_send_type empty{&byte, 0, -1, 0, 0, 1};
    ipc_agent_send_type *none = nullptr;
    for (ipc_agent_send_type *rec : {&no_frame, &negative, &empty, none}) {
        EXPECT_NE(lib().send(rec), 0);
    }
    EXPECT_EQ(lib().open(nullptr), -1);
    EXPECT_EQ(lib().init(nullptr), -1);
    EXPECT_TRUE(round_trip(6)) << "the connection is still fine";
}

TEST_F(Agent, WithoutAStackSendFailsAndALaterStackIsFound)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(open_agent(imsd.data_path, 300), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(250)) << "it keeps trying for the whole timeout";
    EXPECT_LT(waited, milliseconds(3000));
    EXPECT_NE(send_bytes(frame_bytes(1, 17)), 0);
    ASSERT_TRUE(imsd.start());
    EXPECT_TRUE(round_trip(7)) << imsd.output();

    // An open finds a stack started at the same moment.
    ASSERT_EQ(imsd.stop(), 0);
    ASSERT_TRUE(imsd.start({}, false));
    EXPECT_EQ(open_agent(imsd.data_path, 5000), 0);
    EXPECT_TRUE(round_trip(8));
}

TEST_F(Agent, ReconnectsWhenTheStackComesBack)
{
    connect();
    int32_t token = 100;
    // A clean stop, and a crash that leaves the socket file behind.
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        ASSERT_TRUE(imsd.signal(sig));
        ASSERT_EQ(imsd.wait_exit(), sig == SIGKILL ? 128 + SIGKILL : 0);
        ASSERT_TRUE(imsd.start());
        // By itself, before the module sends anything: the stack's indications
        // (an incoming call, say) must reach a module that has nothing to send.
        EXPECT_TRUE(imsd.wait_status("connected=yes")) << imsd.output();
        EXPECT_TRUE(round_trip(++token)) << imsd.output();
    }
}

TEST_F(Agent, InjectedBytesArriveUnchangedUpToTheBuffersSize)
{
    connect();
    take_packets();
    std::string big;
    for (size_t i = 0; i < 70000; ++i) {
        big += {"0123456789abcdef"[(i >> 4) & 0xF], "0123456789abcdef"[i & 0xF]};
    }
    // A short header and a length that lies: the module judges them, not the agent.
    for (const std::string &hex :
         {std::string("00000000090000"), std::string("0000000001753500000009aa"), big}) {
        ASSERT_EQ(imsd.final_line("inject-raw " + hex).substr(0, 8), "ok sent ");
    }
    ASSERT_TRUE(wait_until([] {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_packets.size() == 3;
    }));
    const std::vector<Bytes> got = take_packets();
    EXPECT_EQ(got[0], (Bytes{0, 0, 0, 0, 9, 0, 0}));
    EXPECT_EQ(got[1], (Bytes{0, 0, 0, 0, 1, 0x75, 0x35, 0, 0, 0, 9, 0xAA}));
    // Larger than the receive buffer: the reader hands on what fits.
    ASSERT_EQ(got[2].size(), 65536u);
    EXPECT_EQ(got[2][0x1234], 0x34);
    EXPECT_EQ(got[2][65535], 0xFF);
}

TEST_F(Agent, AnswersQueuedBeforeASendFailsStillArrive)
{
    connect();
    // The reader sits in the callback with the first answer while the second
    // waits in the socket; then the stack keeps the connection open but takes
    // nothing more on it, a send fails and the agent gives the connection up.
    hold_reader(true);
    ASSERT_EQ(send_bytes(frame_bytes(10, 17)), 0);
    ASSERT_TRUE(wait_frame(10, 30021).has_value());
    ASSERT_EQ(send_bytes(frame_bytes(11, 17)), 0);
    ASSERT_TRUE(imsd.wait_output("imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 11 len 1\n"));
    ASSERT_EQ(imsd.final_line("fault refuse"), "ok");
    EXPECT_NE(send_bytes(frame_bytes(12, 17)), 0);
    hold_reader(false);
    EXPECT_TRUE(wait_frame(11, 30021).has_value()) << "the answer sent before the failure";
    // It connects again by itself, with nothing sent that could wake the reader.
    EXPECT_TRUE(imsd.wait_status("connections=2")) << imsd.output();
    EXPECT_TRUE(round_trip(13)) << imsd.output();
}

TEST_F(Agent, SendsToAStackThatStopsReadingFailWithinTheSendTimeout)
{
    connect();
    ASSERT_EQ(imsd.final_line("fault stall 6000"), "ok");
    // The socket's buffer fills up; after that a send waits its time and fails.
    int failed = 0;
    for (int i = 0; i < 64 && failed == 0; ++i) {
        const auto start = std::chrono::steady_clock::now();
        failed += send_bytes(frame_bytes(100 + i, 17, Bytes(60000))) != 0;
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3500));
    }
    EXPECT_EQ(failed, 1);
    ASSERT_EQ(imsd.final_line("fault off"), "ok sent 0, still owed 0");
    EXPECT_TRUE(round_trip(200)) << "the connection survives";
}
