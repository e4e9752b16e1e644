// Framing towards the stack and unframing of what it sends.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "ipc_agent.h"
#include "fake_agent.h"
#include "test_host.h"

using namespace zol_test;

namespace {

std::mutex g_mu;
std::vector<std::pair<int32_t, std::vector<uint8_t>>> g_events;

void probe(zol_request_params_type *params_ptr, zol_request_return_type *)
{
    std::vector<uint8_t> bytes;
    if (params_ptr->data != nullptr) {
        const auto *b = static_cast<const uint8_t *>(params_ptr->data);
        bytes.assign(b, b + params_ptr->datalen);
    }
    std::lock_guard<std::mutex> lock(g_mu);
    g_events.emplace_back(params_ptr->event_id, std::move(bytes));
}

class Ipc : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        std::lock_guard<std::mutex> lock(g_mu);
        g_events.clear();
    }

    int receive(std::vector<uint8_t> frame)
    {
        ipc_agent_recv_type rec = {0, frame.data(), static_cast<int32_t>(frame.size())};
        return zol_ipc_read_event_cb(&rec);
    }

    size_t events()
    {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_events.size();
    }

    TestHost &host = TestHost::instance();
    ScopedHandler a{0x17564, probe};
    ScopedHandler b{0x17567, probe};
};

TEST_F(Ipc, FramesCarryTheTokenIdTheLow16BitsOfTheIdAndThePayload)
{
    FakeAgent *agent = FakeAgent::get();
    ASSERT_NE(agent, nullptr);
    agent->clear();
    Token t(0x01020304);
    uint8_t payload[3] = {0xAA, 0xBB, 0xCC};
    zol_request_params_type with_data = {0x12345, payload, sizeof payload, t.get()};
    zol_request_params_type empty = {17, nullptr, 0, t.get()};
    EXPECT_EQ(zol_ipc_send_request(&with_data), 0);
    EXPECT_EQ(zol_ipc_send_request(&empty), 0);
    auto frames = agent->sent_frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x03, 0x04, 0x23, 0x45, 0x00, 0x00,
                                               0x00, 0x03, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(frames[1], (std::vector<uint8_t>{0, 1, 2, 3, 4, 0, 17, 0, 0, 0, 0}));
    EXPECT_TRUE(host.logged("params_ptr->t = 16909060, event_id = 74565, datalen = 3, "));
}

TEST_F(Ipc, TheAgentsResultIsTheResult)
{
    FakeAgent *agent = FakeAgent::get();
    ASSERT_NE(agent, nullptr);
    agent->clear();
    Token t(1);
    zol_request_params_type p = {17, nullptr, 0, t.get()};
    agent->set_send_result(7);
    EXPECT_EQ(zol_ipc_send_request(&p), 7);
    agent->set_send_result(0);
    // A length without data would frame bytes nobody gave us.
    zol_request_params_type lying = {17, nullptr, 5, t.get()};
    EXPECT_EQ(zol_ipc_send_request(&lying), 1);
    EXPECT_EQ(zol_ipc_send_request(nullptr), 1);
    EXPECT_TRUE(host.logged("Cond: params_ptr!= ((void *)0)"));
    EXPECT_EQ(agent->sent_frames().size(), 1u);
}

TEST_F(Ipc, ShortFramesAreRefused)
{
    EXPECT_EQ(zol_ipc_read_event_cb(nullptr), 1);
    EXPECT_EQ(receive(std::vector<uint8_t>(10, 0)), 1);
    EXPECT_TRUE(host.logged("zol_ipc_read_event_cb read_data_size < 11\n"));
    ipc_agent_recv_type negative = {0, nullptr, -5};
    EXPECT_EQ(zol_ipc_read_event_cb(&negative), 1);
}

TEST_F(Ipc, FramesAreQueuedUnderTheirEventId)
{
    // Header alone: an empty payload.
    EXPECT_EQ(receive({0, 0, 0, 0, 9, 0x75, 0x64, 0, 0, 0, 0}), 0);
    EXPECT_TRUE(host.logged("zol_ipc_read_event_cb, token_id=9, event_id=30052, datalen=0.\n"));
    EXPECT_EQ(receive({0, 0, 0, 0, 1, 0x75, 0x67, 0, 0, 0, 2, 0xAB, 0xCD}), 0);
    ASSERT_TRUE(host.wait_until([&] { return events() == 2; }));
    std::lock_guard<std::mutex> lock(g_mu);
    EXPECT_EQ(g_events[0].first, 0x17564);
    EXPECT_TRUE(g_events[0].second.empty());
    EXPECT_EQ(g_events[1].first, 0x17567);
    EXPECT_EQ(g_events[1].second, (std::vector<uint8_t>{0xAB, 0xCD}));
}

TEST_F(Ipc, LengthFieldLargerThanTheFrameIsRefused)
{
    EXPECT_EQ(receive({0, 0, 0, 0, 1, 0x75, 0x67, 0, 0, 0, 3, 0xAB, 0xCD}), 1);
    EXPECT_EQ(receive({0, 0, 0, 0, 1, 0x75, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB}), 1);
    // Trailing bytes beyond the length field are ignored.
    EXPECT_EQ(receive({0, 0, 0, 0, 1, 0x75, 0x67, 0, 0, 0, 1, 0xAB, 0xCD}), 0);
    ASSERT_TRUE(host.wait_until([&] { return events() == 1; }));
    std::lock_guard<std::mutex> lock(g_mu);
    EXPECT_EQ(g_events[0].second, (std::vector<uint8_t>{0xAB}));
}

} // namespace
