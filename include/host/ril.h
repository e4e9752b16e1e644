/*
 * Host interface of a radio vendor module: the types and numbers that cross the
 * boundary between a RIL host (rild) and libreference-zol.so.
 *
 * Plain C so that hosts written in C and C++ can include it. Records use native
 * pointer sizes; on a 32-bit target the sizes below are checked at compile time
 * because hosts and modules built separately must agree on every byte.
 */
#ifndef ZOL_RIL_H
#define ZOL_RIL_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RIL_VERSION 9

/* Opaque per-request token; the host's record it points to starts with the
 * request's 32-bit serial number. */
typedef void *RIL_Token;

typedef enum {
    RIL_E_SUCCESS = 0,
    RIL_E_RADIO_NOT_AVAILABLE = 1,
    RIL_E_GENERIC_FAILURE = 2,
    RIL_E_PASSWORD_INCORRECT = 3,
    RIL_E_SIM_PIN2 = 4,
    RIL_E_SIM_PUK2 = 5,
    RIL_E_REQUEST_NOT_SUPPORTED = 6,
    RIL_E_CANCELLED = 7,
    RIL_E_OP_NOT_ALLOWED_DURING_VOICE_CALL = 8,
    RIL_E_OP_NOT_ALLOWED_BEFORE_REG_TO_NW = 9,
    RIL_E_SMS_SEND_FAIL_RETRY = 10,
    RIL_E_SIM_ABSENT = 11,
    RIL_E_SUBSCRIPTION_NOT_AVAILABLE = 12,
    RIL_E_MODE_NOT_SUPPORTED = 13,
    RIL_E_FDN_CHECK_FAILURE = 14,
    RIL_E_ILLEGAL_SIM_OR_ME = 15,
    RIL_E_SETUP_DATA_CALL_FAILURE = 16,
    RIL_E_DIAL_MODIFIED_TO_USSD = 17,
    RIL_E_DIAL_MODIFIED_TO_SS = 18,
    RIL_E_DIAL_MODIFIED_TO_DIAL = 19,
    RIL_E_USSD_MODIFIED_TO_DIAL = 20,
    RIL_E_USSD_MODIFIED_TO_SS = 21,
    RIL_E_USSD_MODIFIED_TO_USSD = 22,
    RIL_E_SS_MODIFIED_TO_DIAL = 23,
    RIL_E_SS_MODIFIED_TO_USSD = 24,
    RIL_E_SS_MODIFIED_TO_SS = 25,
    RIL_E_SUBSCRIPTION_NOT_SUPPORTED = 26
} RIL_Errno;

typedef enum {
    RADIO_STATE_OFF = 0,
    RADIO_STATE_UNAVAILABLE = 1,
    RADIO_STATE_ON = 10
} RIL_RadioState;

/* Android call states; the module also reports 6 for stack states without one. */
typedef enum {
    RIL_CALL_ACTIVE = 0,
    RIL_CALL_HOLDING = 1,
    RIL_CALL_DIALING = 2,
    RIL_CALL_ALERTING = 3,
    RIL_CALL_INCOMING = 4,
    RIL_CALL_WAITING = 5
} RIL_CallState;

/* Request numbers the module serves (310, 317, 318 and 319 are its own). */
#define RIL_REQUEST_GET_CURRENT_CALLS 9
#define RIL_REQUEST_DIAL 10
#define RIL_REQUEST_HANGUP 12
#define RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND 13
#define RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND 14
#define RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE 15
#define RIL_REQUEST_CONFERENCE 16
#define RIL_REQUEST_UDUB 17
#define RIL_REQUEST_LAST_CALL_FAIL_CAUSE 18
#define RIL_REQUEST_RADIO_POWER 23
#define RIL_REQUEST_GET_CLIR 31
#define RIL_REQUEST_SET_CLIR 32
#define RIL_REQUEST_QUERY_CALL_FORWARD_STATUS 33
#define RIL_REQUEST_SET_CALL_FORWARD 34
#define RIL_REQUEST_QUERY_CALL_WAITING 35
#define RIL_REQUEST_SET_CALL_WAITING 36
#define RIL_REQUEST_SMS_ACKNOWLEDGE 37
#define RIL_REQUEST_ANSWER 40
#define RIL_REQUEST_QUERY_FACILITY_LOCK 42
#define RIL_REQUEST_SET_FACILITY_LOCK 43
#define RIL_REQUEST_DTMF_START 49
#define RIL_REQUEST_DTMF_STOP 50
#define RIL_REQUEST_SEPARATE_CONNECTION 52
#define RIL_REQUEST_SET_MUTE 53
#define RIL_REQUEST_QUERY_CLIP 55
#define RIL_REQUEST_SCREEN_STATE 61
#define RIL_REQUEST_IMS_REGISTRATION_STATE 112
#define RIL_REQUEST_IMS_SEND_SMS 113
#define RIL_REQUEST_IMS_MT_INVITE_RSP 310
#define RIL_REQUEST_SET_COLP 317
#define RIL_REQUEST_QUERY_COLR 318
#define RIL_REQUEST_QUERY_COLP 319
#define RIL_REQUEST_CALL_MODIFY 333
#define RIL_REQUEST_CALL_MODIFY_RSP 334
#define RIL_REQUEST_IMS_GET_CONFIGRATION 336
#define RIL_REQUEST_IMS_SET_CONFIGRATION 337
#define RIL_REQUEST_IMS_SET_REGISTRATION_STATE 338

/* Unsolicited response numbers the module sends. */
#define RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED 1001
#define RIL_UNSOL_RESPONSE_NEW_SMS 1003
#define RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT 1004
#define RIL_UNSOL_SUPP_SVC_NOTIFICATION 1011
#define RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED 1037
#define RIL_UNSOL_IMS_MT_INVITE 1047
#define RIL_UNSOL_CALL_HOLD_NOTIFICATION 1051
#define RIL_UNSOL_RESPONSE_SRVCC 1055
#define RIL_UNSOL_RESPONSE_CALL_MODIFY_IND 1056

typedef void (*RIL_RequestFunc)(int request, void *data, size_t datalen, RIL_Token t);
typedef RIL_RadioState (*RIL_RadioStateRequest)(void);
typedef int (*RIL_Supports)(int requestCode);
typedef void (*RIL_Cancel)(RIL_Token t);
typedef const char *(*RIL_GetVersion)(void);
typedef void (*RIL_TimedCallback)(void *param);

/* What the module gives the host. */
typedef struct {
    int version;
    RIL_RequestFunc onRequest;
    RIL_RadioStateRequest currentState;
    RIL_Supports onSupports;
    RIL_Cancel onCancel;
    RIL_GetVersion getVersion;
} RIL_RadioFunctions;

/* What the host gives the module; the module uses these three slots, in this order. */
typedef struct RIL_Env {
    void (*OnRequestComplete)(RIL_Token t, RIL_Errno e, void *response, size_t responselen);
    void (*OnUnsolicitedResponse)(int unsolResponse, const void *data, size_t datalen);
    void (*RequestTimedCallback)(RIL_TimedCallback callback, void *param,
                                 const struct timeval *relativeTime);
} RIL_Env;

/* Entry point of the module. */
const RIL_RadioFunctions *RIL_Init(const struct RIL_Env *env);

typedef struct {
    int uusType;
    int uusDcs;
    int uusLength;
    char *uusData;
} RIL_UUS_Info;

/* Data of RIL_REQUEST_DIAL. dial_kind 1 dials a conference whose participant
 * list is in address; callType 3 is a video call. */
typedef struct {
    char *address;
    int dial_kind;
    RIL_UUS_Info *uusInfo;
    int callType;
} RIL_Dial;

/* One call as the host sees it. */
typedef struct {
    int state; /* RIL_CallState, or 6 */
    int index; /* the stack's call id */
    int toa;   /* 145 international, 129 otherwise */
    char isMpty;
    char isMT;
    char als;
    char isVoice;
    char isVoicePrivacy;
    char *number;
    int numberPresentation;
    char *name;
    int namePresentation;
    RIL_UUS_Info *uusInfo;
} RIL_Call;

/* A call record followed by the IMS extension the host reads. */
typedef struct {
    RIL_Call call;
    int callType;      /* 0 voice, 1..3 video direction, -1 video with another direction */
    int callAttribute; /* 2 when the stack marks the call with attribute 64, else 1 */
    int reserved1;
    int reserved2;
    char *extraText; /* the stack's second text of the call */
} RIL_CallIms;

typedef enum { RADIO_TECH_3GPP = 1, RADIO_TECH_3GPP2 = 2 } RIL_RadioTechnologyFamily;

/* Data of RIL_REQUEST_IMS_SEND_SMS. For 3GPP, gsmMessage points to two texts:
 * the SMSC address in hex (may be null) and the PDU in hex. */
typedef struct {
    RIL_RadioTechnologyFamily tech;
    unsigned char retry;
    int messageRef;
    union {
        void *cdmaMessage;
        char **gsmMessage;
    } message;
} RIL_IMS_SMS_Message;

/* Completion data of an SMS send. */
typedef struct {
    int messageRef;
    char *ackPDU;
    int errorCode;
} RIL_SMS_Response;

/* Call forwarding: data of RIL_REQUEST_SET_CALL_FORWARD and
 * RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, and the records of the query's answer. */
typedef struct {
    int status;
    int reason;
    int serviceClass;
    int toa;
    char *number;
    int timeSeconds;
    char *timeInterval;
} RIL_CallForwardInfo;

/* Data of RIL_UNSOL_SUPP_SVC_NOTIFICATION. */
typedef struct {
    int notificationType;
    int code;
    int index;
    int type;
    char *number;
} RIL_SuppSvcNotification;

#ifdef __cplusplus
}
#endif

/* Sizes the host and the module agree on for 32-bit targets. */
#if defined(__cplusplus)
#define ZOL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZOL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(RIL_Call) == 40, "RIL_Call is 40 bytes");
ZOL_STATIC_ASSERT(sizeof(RIL_CallIms) == 60, "host call record is 60 bytes");
ZOL_STATIC_ASSERT(sizeof(RIL_Dial) == 16, "dial record is 16 bytes");
ZOL_STATIC_ASSERT(sizeof(RIL_IMS_SMS_Message) == 16, "IMS SMS record is 16 bytes");
ZOL_STATIC_ASSERT(sizeof(RIL_SMS_Response) == 12, "SMS response is 12 bytes");
ZOL_STATIC_ASSERT(sizeof(RIL_CallForwardInfo) == 28, "call forwarding record is 7 words");
ZOL_STATIC_ASSERT(sizeof(RIL_SuppSvcNotification) == 20, "notification is 20 bytes");
ZOL_STATIC_ASSERT(offsetof(RIL_Call, number) == 20, "number at offset 20");
ZOL_STATIC_ASSERT(offsetof(RIL_CallIms, extraText) == 56, "extension word 5 at offset 56");
ZOL_STATIC_ASSERT(offsetof(RIL_IMS_SMS_Message, message) == 12, "3GPP message at offset 12");
#endif

#endif /* ZOL_RIL_H */
