// The host data of requests, laid out as the handset's RIL host hands it to the
// module: the record or array onRequest receives and everything it points to.
#ifndef ZOL_HOST_MARSHAL_H
#define ZOL_HOST_MARSHAL_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ril.h"

namespace zol_host {

using OptText = std::optional<std::string>;

// Owns the data of one request. It has to outlive onRequest and nothing more:
// the module copies what it keeps, so the data is released once the call returns.
class RequestData {
public:
    void *data() const { return data_; }
    size_t length() const { return length_; }

    // No data at all: a null pointer and length 0.
    static RequestData none();
    // A non-null pointer with length 0, which some handlers treat apart from none.
    static RequestData empty();
    // An int array, 4 bytes a value.
    static RequestData ints(const std::vector<int> &values);
    // An array of text pointers, nullopt giving a null pointer.
    static RequestData strings(const std::vector<OptText> &texts);
    // One text: the data is the characters, the length that of a text pointer.
    static RequestData text(std::string_view text);

    static RequestData dial(std::string_view address, int dial_kind, int call_type);
    // 3GPP message: the record points to the pair {SMSC or null, PDU}.
    static RequestData ims_sms(const OptText &smsc, std::string_view pdu, int message_ref);
    static RequestData call_forward(const RIL_CallForwardInfo &info, const OptText &number,
                                    const OptText &time_interval);

private:
    // Zero-filled storage that lives as long as this object.
    template <typename T>
    T *allocate(size_t count = 1)
    {
        auto block = std::make_shared<T[]>(count);
        T *p = block.get();
        blocks_.push_back(std::move(block));
        return p;
    }
    char *copy_text(std::string_view text, size_t min_size = 0);
    char *copy_optional(const OptText &text);

    void *data_ = nullptr;
    size_t length_ = 0;
    std::vector<std::shared_ptr<void>> blocks_;
};

} // namespace zol_host

#endif
