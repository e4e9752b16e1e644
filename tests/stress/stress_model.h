// What the stress test's stack knows about the module's traffic: the host
// requests (their data, the message each sends and how it is answered) and
// the stack's messages (which message answers which request message, and
// well-formed or damaged indications nobody asked for).
#ifndef ZOL_STRESS_MODEL_H
#define ZOL_STRESS_MODEL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ril.h"

namespace zol_stress {

// splitmix64: small, fast, and the same sequence everywhere for a seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
    bool permille(uint32_t p) { return below(1000) < p; }

private:
    uint64_t state_;
};

using Frame = std::vector<uint8_t>;

constexpr size_t kHeaderLen = 11;
Frame make_frame(uint16_t message_id, int32_t token_id, const std::vector<uint8_t> &payload);
uint16_t frame_message(const uint8_t *frame, size_t len);
int32_t frame_token(const uint8_t *frame, size_t len);

// How the module answers a request.
enum class Pattern {
    pending,     // the stack's answer completes it
    immediate,   // completed from the result of its one send
    local,       // completed from the module's own state
    unsupported, // not the module's: refused with 6
};

// The host's data for one request; everything it points to lives here.
struct HostData {
    const void *data = nullptr;
    size_t len = 0;
    int32_t words[4] = {};
    char tone[2] = {};
    RIL_Dial dial{};
    RIL_IMS_SMS_Message sms{};
    char *sms_texts[2] = {};
    RIL_CallForwardInfo forward{};
    const char *texts[6] = {};

    void use(const void *d, size_t l)
    {
        data = d;
        len = l;
    }
};

using FillFn = void (*)(HostData &, Rng &);

// One row per request number the host sends.
struct RequestKind {
    int request;
    const char *name;
    Pattern pattern;
    uint16_t message;    // the stack message it sends; 0 for none
    int send_fail_code;  // what the host gets when that send fails
    FillFn fill;         // well-formed data
    FillFn fill_refused; // data the module refuses at once (code 2, nothing sent); null if none
};

const std::vector<RequestKind> &request_kinds();

// Payload-level answers of the stack to one frame the module sent, in the
// order a real stack sends them; empty when the stack owes no answer.
std::vector<Frame> answers_for(const uint8_t *frame, size_t len, Rng &rng);

// A stack message nobody asked for: any indication or confirmation, well
// formed or damaged, a message id without a handler, or a runt frame.
Frame stray_frame(Rng &rng);

// A message id no handler serves: its processing is logged as an error with
// result 4, which marks how far the event thread has got.
constexpr uint16_t kUnknownMessage = 30001;
bool is_unknown_message(const Frame &frame);

// Stack event ids (dispatch numbering) that complete pending requests.
const std::vector<int32_t> &answer_events();

} // namespace zol_stress

#endif // ZOL_STRESS_MODEL_H
