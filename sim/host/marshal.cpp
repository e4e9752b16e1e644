#include "marshal.h"

#include <algorithm>
#include <cstring>

namespace zol_host {

char *RequestData::copy_text(std::string_view text, size_t min_size)
{
    char *p = allocate<char>(std::max(text.size() + 1, min_size));
    memcpy(p, text.data(), text.size());
    return p;
}

char *RequestData::copy_optional(const OptText &text)
{
    return text ? copy_text(*text) : nullptr;
}

RequestData RequestData::none()
{
    return {};
}

RequestData RequestData::empty()
{
    RequestData d;
    d.data_ = d.allocate<int>();
    return d;
}

RequestData RequestData::ints(const std::vector<int> &values)
{
    RequestData d;
    int *p = d.allocate<int>(std::max<size_t>(values.size(), 1));
    std::copy(values.begin(), values.end(), p);
    d.data_ = p;
    d.length_ = values.size() * sizeof(int);
    return d;
}

RequestData RequestData::strings(const std::vector<OptText> &texts)
{
    RequestData d;
    char **array = d.allocate<char *>(std::max<size_t>(texts.size(), 1));
    for (size_t i = 0; i < texts.size(); ++i) {
        array[i] = d.copy_optional(texts[i]);
    }
    d.data_ = array;
    d.length_ = texts.size() * sizeof(char *);
    return d;
}

RequestData RequestData::text(std::string_view text)
{
    RequestData d;
    // The length claims a pointer's worth of bytes; a handler that trusts it
    // must still find them.
    d.data_ = d.copy_text(text, sizeof(char *));
    d.length_ = sizeof(char *);
    return d;
}

RequestData RequestData::dial(std::string_view address, int dial_kind, int call_type)
{
    RequestData d;
    auto *r = d.allocate<RIL_Dial>();
    r->address = d.copy_text(address);
    r->dial_kind = dial_kind;
    r->uusInfo = nullptr;
    r->callType = call_type;
    d.data_ = r;
    d.length_ = sizeof *r;
    return d;
}

RequestData RequestData::ims_sms(const OptText &smsc, std::string_view pdu, int message_ref)
{
    RequestData d;
    char **pair = d.allocate<char *>(2);
    pair[0] = d.copy_optional(smsc);
    pair[1] = d.copy_text(pdu);
    auto *r = d.allocate<RIL_IMS_SMS_Message>();
    r->tech = RADIO_TECH_3GPP;
    r->retry = 0;
    r->messageRef = message_ref;
    r->message.gsmMessage = pair;
    d.data_ = r;
    d.length_ = sizeof *r;
    return d;
}

RequestData RequestData::call_forward(const RIL_CallForwardInfo &info, const OptText &number,
                                      const OptText &time_interval)
{
    RequestData d;
    auto *r = d.allocate<RIL_CallForwardInfo>();
    *r = info;
    r->number = d.copy_optional(number);
    r->timeInterval = d.copy_optional(time_interval);
    d.data_ = r;
    d.length_ = sizeof *r;
    return d;
}

} // namespace zol_host
