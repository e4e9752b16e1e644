// Diagnostics: names, token ids, levels and the formatter.
#include "fixture.h"

using namespace zol_kit;

namespace {

using Log = ModuleTest;

TEST_F(Log, Names)
{
    const struct {
        int32_t id;
        const char *name;
    } events[] = {
        {8, "RIL_REQUEST_UNKOWN"},
        {113, "RIL_REQUEST_IMS_SEND_SMS"},
        {310, "RIL_REQUEST_UNKOWN"},
        {1, "RIL_REQUEST_GET_SIM_STATUS"},
        {338, "RIL_REQUEST_IMS_SET_REGISTRATION_STATE"},
        {-5, "RIL_REQUEST_UNKOWN"},
        {999, "RIL_REQUEST_UNKOWN"},
        {1000, "RIL_UNSOL_RESPONSE_RADIO_STATE_CHANGED"},
        {1002, "RIL_UNSOL_UNKOWN"},
        {1047, "RIL_UNSOL_UNKOWN"},
        {1056, "RIL_UNSOL_RESPONSE_CALL_MODIFY_IND"},
        {65535, "RIL_UNSOL_UNKOWN"},
        {0x10000, "<Unknown event> ?"},
        {0x17532, "eTKM_CALL_MT_INVITE_IND"},
        {0x17547, "<Unknown event> ?"},
        {0x17568, "eTKM_SUPS_REGISTER_SS_CONF"},
        {0x17596, "<Unknown event> ?"},
        {0x17597, "<Unknown event> ?"},
        {0xFFFFF, "<none>"},
    };
    for (const auto &c : events) {
        EXPECT_STREQ(zol_log_lookup_event_name(c.id), c.name) << c.id;
    }
    for (int i = 0; i < ZOL_REQUEST_NAME_ROWS; ++i) {
        if (i > 0) {
            EXPECT_LT(zol_log_request_names[i - 1].id, zol_log_request_names[i].id);
        }
        EXPECT_EQ(zol_log_lookup_ril_event_index(zol_log_request_names[i].id, zol_log_request_names, 0,
                                                 ZOL_REQUEST_NAME_ROWS - 1),
                  i);
    }
    for (int i = 0; i < ZOL_UNSOL_NAME_ROWS; ++i) {
        EXPECT_STREQ(zol_log_lookup_event_name(zol_log_unsol_names[i].id), zol_log_unsol_names[i].name);
    }
    EXPECT_EQ(zol_log_lookup_ril_event_index(8, zol_log_request_names, 0, 111), 111);

    const struct {
        int32_t code;
        const char *name;
    } errors[] = {{0, "Success"},
                  {2, "Generic Failure"},
                  {10, "SMS Send Fail Retry"},
                  {26, "Subscription Not Supported"},
                  {27, "<RIL_ERRNO_UNKNOWN> ?"},
                  {-1, "<RIL_ERRNO_UNKNOWN> ?"}};
    for (const auto &c : errors) {
        EXPECT_STREQ(zol_log_lookup_errno_name(c.code), c.name) << c.code;
    }
    Token t(0x01020304);
    EXPECT_EQ(zol_log_get_token_id(nullptr), 65534);
    EXPECT_EQ(zol_log_get_token_id(ZOL_EVENT_TOKEN), 65535);
    EXPECT_EQ(zol_log_get_token_id(t.get()), 0x01020304);
}

// Levels 0 and 1 at error priority, 2 to 4 at debug priority, all on the radio
// buffer under the module's tag; the text is never a format.
TEST_F(Log, LevelsPrioritiesAndText)
{
    for (uint32_t level = 0; level <= 6; ++level) {
        host.clear_log();
        const std::string text = "level " + std::to_string(level) + " 100%s %n %d";
        zol_log_msg_to_adb(level, text.c_str());
        const auto lines = host.log_lines();
        if (level > 4) {
            EXPECT_TRUE(lines.empty()) << level;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << level;
        EXPECT_EQ(lines[0].buffer, LOG_ID_RADIO);
        EXPECT_EQ(lines[0].priority, level <= 1 ? ANDROID_LOG_ERROR : ANDROID_LOG_DEBUG);
        EXPECT_EQ(lines[0].tag, "IMS-ref-zol");
        EXPECT_EQ(lines[0].text, text);
    }
    host.clear_log();
    zol_log_assert_failed("x != ((void *)0)");
    const auto lines = host.log_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "*****ASSERTION FAILED*****");
    EXPECT_EQ(lines[1].text, "Cond: x != ((void *)0)");
    EXPECT_EQ(lines[2].text, "**************************");
    for (const LogLine &l : lines) {
        EXPECT_EQ(l.priority, ANDROID_LOG_ERROR);
    }
    EXPECT_EQ(zol_log_call_flow_packet(3, 2, 0, "onCancel()"), 10);
    EXPECT_EQ(zol_log_call_flow_packet(2, 3, 1, ""), 0);
    EXPECT_EQ(host.log_lines().size(), 3u) << "the call-flow hook writes nothing";
}

TEST_F(Log, FormatterCutsAndChecksItsArguments)
{
    char buf[8];
    memset(buf, 'x', sizeof buf);
    zol_format_log_msg(buf, sizeof buf, "%s", "0123456789");
    EXPECT_STREQ(buf, "0123456");
    memset(buf, 'x', sizeof buf);
    zol_format_log_msg(buf, 0, "%s", "abc");
    EXPECT_EQ(buf[0], 'x');
    EXPECT_TRUE(host.logged("Cond: buf_size > 0"));
    zol_format_log_msg(nullptr, 8, "%s", "abc");
    EXPECT_TRUE(host.logged("Cond: buf_ptr != ((void *)0)"));
}

} // namespace
