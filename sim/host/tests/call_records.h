// Hand-made call lists, laid out as the module hands them to the host.
#ifndef ZOL_HOST_TESTS_CALL_RECORDS_H
#define ZOL_HOST_TESTS_CALL_RECORDS_H

#include <deque>
#include <string>
#include <vector>

#include "ril.h"

namespace zol_host_test {

// Owns the records, their texts and the pointer array of one call list.
class CallRecords {
public:
    RIL_CallIms &add(int index, int state, const char *number, const char *extra = nullptr)
    {
        RIL_CallIms &r = records_.emplace_back(RIL_CallIms{});
        r.call.index = index;
        r.call.state = state;
        r.call.toa = 129;
        r.call.isVoice = 1;
        r.call.number = keep(number);
        r.callAttribute = 1;
        r.extraText = keep(extra);
        pointers.push_back(&r);
        return r;
    }
    void *data() { return pointers.data(); }
    size_t len() const { return pointers.size() * sizeof(RIL_CallIms *); }

    std::vector<RIL_CallIms *> pointers;

private:
    char *keep(const char *text)
    {
        return text != nullptr ? texts_.emplace_back(text).data() : nullptr;
    }
    std::deque<RIL_CallIms> records_; // stable addresses
    std::deque<std::string> texts_;
};

} // namespace zol_host_test

#endif
