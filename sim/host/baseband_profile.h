// The baseband zol-rild stands in for: what a handset's modem answers and an
// IMS vendor module does not (radio power, a READY USIM, IMSI and IMEI, LTE
// registration, operator, signal). Its values are one table a user can change
// with a file of "key = value" lines (zol-rild --profile FILE; --print-profile
// prints the table in that form).
#ifndef ZOL_HOST_BASEBAND_PROFILE_H
#define ZOL_HOST_BASEBAND_PROFILE_H

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zol_host {

struct LocalAnswer {
    int error = 0;
    std::vector<uint8_t> payload;
    // Unsolicited responses that follow the reply (number, payload).
    std::vector<std::pair<int, std::vector<uint8_t>>> unsolicited;
    std::string problem; // set when the request's payload did not fit its shape
};

class BasebandProfile {
public:
    BasebandProfile();

    // "key = value" lines; blank lines and # comments are skipped. Unknown keys
    // and values of the wrong kind are refused with the line number.
    bool load(const std::string &text, std::string &error);
    // The whole table as a file load() takes, with each value's meaning.
    std::string describe() const;
    std::string value(const std::string &key) const;

    // The answer to a classic request, or nothing when the profile has none.
    std::optional<LocalAnswer> answer(int request, std::span<const uint8_t> payload);
    int radio_state() const { return radio_state_; }

private:
    int number(const std::string &key) const;

    std::map<std::string, std::string> values_;
    int radio_state_;
    int mute_ = 0;
};

} // namespace zol_host

#endif
