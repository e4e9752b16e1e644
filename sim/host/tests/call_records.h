// Hand-made call lists, laid out as the module hands them to the host.
#ifndef ZOL_HOST_TESTS_CALL_RECORDS_H
#define ZOL_HOST_TESTS_CALL_RECORDS_H

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "decode.h"
#include "ril.h"

namespace zol_host_test {

// Owns the records, their texts and the pointer array of one call list.
class CallRecords {
public:
    RIL_CallIms &add(int index, int state, const char *number, const char *extra = nullptr)
    {
        RIL_CallIms &r = records_.emplace_back();
        memset(&r, 0, sizeof r);
        r.call.index = index;
        r.call.state = state;
        r.call.toa = 129;
        r.call.isVoice = 1;
        r.call.number = keep(number);
        r.callAttribute = 1;
        r.extraText = keep(extra);
        pointers_.push_back(&r);
        return r;
    }
    char *keep(const char *text)
    {
        return text != nullptr ? texts_.emplace_back(text).data() : nullptr;
    }
    void *data() { return pointers_.data(); }
    size_t len() const { return pointers_.size() * sizeof(RIL_CallIms *); }
    std::vector<RIL_CallIms *> &pointers() { return pointers_; }
    std::deque<std::string> &texts() { return texts_; }

private:
    std::deque<RIL_CallIms> records_; // stable addresses
    std::deque<std::string> texts_;
    std::vector<RIL_CallIms *> pointers_;
};

} // namespace zol_host_test

#endif
