// Request and unsolicited numbers of the classic rild socket that the module's
// own interface does not name, and the enumerations its replies carry. Where a
// number is in ril.h too, it means the same on both sides unless the
// adaptation says otherwise.
#ifndef ZOL_HOST_RILD_NUMBERS_H
#define ZOL_HOST_RILD_NUMBERS_H

namespace zol_host::rild {

enum Request : int {
    kGetSimStatus = 1,
    kGetImsi = 11,
    kSignalStrength = 19,
    kVoiceRegistrationState = 20,
    kDataRegistrationState = 21,
    kOperator = 22,
    kRadioPower = 23,
    kDtmf = 24,
    kSendSms = 25,
    kSendSmsExpectMore = 26,
    kSimIo = 28,
    kGetImei = 38,
    kGetImeisv = 39,
    kQueryNetworkSelectionMode = 45,
    kSetNetworkSelectionAutomatic = 46,
    kBasebandVersion = 51,
    kSetMute = 53,
    kGetMute = 54,
    kDataCallList = 57,
    kScreenState = 61,
    kSetSuppSvcNotification = 62,
    kSetPreferredNetworkType = 73,
    kGetPreferredNetworkType = 74,
    kSetLocationUpdates = 76,
    kGetSmscAddress = 100,
    kSetSmscAddress = 101,
    kReportSmsMemoryStatus = 102,
    kReportStkServiceIsRunning = 103,
    kVoiceRadioTech = 108,
};

enum Unsol : int {
    kRadioStateChanged = 1000,
    kVoiceNetworkStateChanged = 1002,
    kRilConnected = 1034,
};

enum RadioState : int { kRadioOff = 0, kRadioUnavailable = 1, kRadioOn = 10 };

// Card and application status of GET_SIM_STATUS.
enum : int { kCardPresent = 1 };
enum : int { kPinUnknown = 0, kPinDisabled = 3 };
enum : int { kAppUsim = 2 };
enum : int { kAppReady = 5 };

// Radio technology of the registration states: 14 is LTE.
constexpr int kTechLte = 14;

// Notification types of SUPP_SVC_NOTIFICATION.
constexpr int kNotificationMt = 1;

} // namespace zol_host::rild

#endif
