/*
 * Interface of the IPC agent library, libipc_agent.so, through which the module
 * reaches the IMS stack. The module binds these three functions at run time.
 */
#ifndef ZOL_IPC_AGENT_H
#define ZOL_IPC_AGENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Argument of ipc_agent_init. */
typedef struct {
    int32_t first;
    int32_t second;
} ipc_agent_param_type;

/* What the agent hands the read callback for each received frame. */
typedef struct {
    int32_t reserved;
    uint8_t *data;
    int32_t count;
} ipc_agent_recv_type;

typedef int (*ipc_agent_read_cb_type)(void *recv_record);

/* Options of ipc_agent_open; 160 bytes. */
typedef struct {
    int32_t mode; /* 1 */
    uint8_t reserved1[44];
    int32_t flags; /* 0 */
    uint8_t reserved2[16];
    char name[92]; /* "1" */
} ipc_agent_open_options_type;

/* Argument of ipc_agent_open. */
typedef struct {
    int32_t kind; /* 0 */
    int32_t reserved;
    ipc_agent_read_cb_type read_cb;
    ipc_agent_open_options_type *options;
    int32_t flags; /* 0 */
    int32_t *channel_id;
} ipc_agent_open_type;

/* Argument of ipc_agent_message_send_block_comm. */
typedef struct {
    uint8_t *frame;
    int32_t length;
    int32_t timeout;  /* -1 */
    int32_t priority; /* 0 */
    int32_t reserved;
    int32_t channel_id;
} ipc_agent_send_type;

typedef int (*ipc_agent_init_func)(ipc_agent_param_type *param);
typedef int (*ipc_agent_open_func)(ipc_agent_open_type *open);
typedef int (*ipc_agent_send_func)(ipc_agent_send_type *send);

int ipc_agent_init(ipc_agent_param_type *param);
int ipc_agent_open(ipc_agent_open_type *open);
int ipc_agent_message_send_block_comm(ipc_agent_send_type *send);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus)
static_assert(sizeof(ipc_agent_open_options_type) == 160, "open options are 160 bytes");
static_assert(offsetof(ipc_agent_open_options_type, flags) == 48, "flags at offset 48");
static_assert(offsetof(ipc_agent_open_options_type, name) == 68, "name at offset 68");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ipc_agent_open_type) == 24, "open record is 24 bytes");
static_assert(sizeof(ipc_agent_send_type) == 24, "send record is 24 bytes");
static_assert(offsetof(ipc_agent_open_type, read_cb) == 8, "read callback at offset 8");
static_assert(offsetof(ipc_agent_open_type, channel_id) == 20, "channel id at offset 20");
static_assert(offsetof(ipc_agent_recv_type, data) == 4, "received bytes at offset 4");
static_assert(offsetof(ipc_agent_recv_type, count) == 8, "count at offset 8");
#endif
#endif

#endif /* ZOL_IPC_AGENT_H */
