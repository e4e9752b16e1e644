// Diagnostics: names, token ids, levels and the formatter.
#include "fixture.h"

using namespace zol_kit;

namespace {

using Log = ModuleTest;

TEST_F(Log, Names)
{
    const std::pair<int32_t, const char *> events[] = {
        {8, "RIL_REQUEST_UNKOWN"},
        {1, "RIL_REQUEST_GET_SIM_STATUS"},
        {113, "RIL_REQUEST_IMS_SEND_SMS"},
        {1000, "RIL_UNSOL_RESPONSE_RADIO_STATE_CHANGED"},
        {1002, "RIL_UNSOL_UNKOWN"},
        {1056, "RIL_UNSOL_RESPONSE_CALL_MODIFY_IND"},
        {0x10000, "<Unknown event> ?"},
        {0x17532, "eTKM_CALL_MT_INVITE_IND"},
        {0x17568, "eTKM_SUPS_REGISTER_SS_CONF"},
        {0x17596, "<Unknown event> ?"},
        {0xFFFFF, "<none>"},
    };
    for (const auto &[id, name] : events) {
        EXPECT_STREQ(zol_log_lookup_event_name(id), name) << id;
    }
    for (int i = 0; i < ZOL_REQUEST_NAME_ROWS; ++i) {
        EXPECT_TRUE(i == 0 || zol_log_request_names[i - 1].id < zol_log_request_names[i].id);
        EXPECT_EQ(zol_log_lookup_ril_event_index(zol_log_request_names[i].id, zol_log_request_names,
                                                 0, ZOL_REQUEST_NAME_ROWS - 1),
                  i);
    }
    for (int i = 0; i < ZOL_UNSOL_NAME_ROWS; ++i) {
        EXPECT_STREQ(zol_log_lookup_event_name(zol_log_unsol_names[i].id),
                     zol_log_unsol_names[i].name);
    }
    EXPECT_EQ(zol_log_lookup_ril_event_index(8, zol_log_request_names, 0, 111), 111);
    const std::pair<int32_t, const char *> errors[] = {{0, "Success"},
                                                       {10, "SMS Send Fail Retry"},
                                                       {26, "Subscription Not Supported"},
                                                       {27, "<RIL_ERRNO_UNKNOWN> ?"},
                                                       {-1, "<RIL_ERRNO_UNKNOWN> ?"}};
    for (const auto &[code, name] : errors) {
        EXPECT_STREQ(zol_log_lookup_errno_name(code), name) << code;
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
        ASSERT_EQ(lines.size(), level > 4 ? 0u : 1u) << level;
        for (const LogLine &l : lines) {
            EXPECT_EQ(l.buffer, LOG_ID_RADIO);
            EXPECT_EQ(l.priority, level <= 1 ? ANDROID_LOG_ERROR : ANDROID_LOG_DEBUG);
            EXPECT_EQ(l.tag, "IMS-ref-zol");
            EXPECT_EQ(l.text, text);
        }
    }
    host.clear_log();
    zol_log_assert_failed("x != ((void *)0)");
    EXPECT_EQ(zol_log_call_flow_packet(3, 2, 0, "onCancel()"), 10);
    EXPECT_EQ(zol_log_call_flow_packet(2, 3, 1, ""), 0);
    std::vector<std::string> texts;
    for (const LogLine &l : host.log_lines()) { // the call-flow hook writes nothing
        EXPECT_EQ(l.priority, ANDROID_LOG_ERROR);
        texts.push_back(l.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"*****ASSERTION FAILED*****", "Cond: x != ((void *)0)",
                                        "**************************"}));
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
    zol_format_log_msg(nullptr, 8, "%s", "abc");
    EXPECT_TRUE(host.logged("Cond: buf_size > 0") && host.logged("Cond: buf_ptr != ((void *)0)"));
}

} // namespace
