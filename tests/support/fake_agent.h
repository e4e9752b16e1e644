// A stand-in for libipc_agent.so inside the unit tests: it records every frame
// the module sends, answers sends with a chosen result, and hands frames to
// the module's read callback as the agent's reader thread would.
#ifndef ZOL_FAKE_AGENT_H
#define ZOL_FAKE_AGENT_H

#include <cstdint>
#include <vector>

#include "ipc_agent.h"

namespace zol_test {

class FakeAgent {
public:
    // The instance the module loaded; null when the module loaded another agent.
    static FakeAgent *get();

    virtual void set_send_result(int result) = 0;
    virtual std::vector<std::vector<uint8_t>> sent_frames() = 0;
    virtual void clear() = 0;
    // Calls the module's read callback with these bytes; returns its result.
    virtual int deliver(const std::vector<uint8_t> &frame) = 0;
    // Runs inside the next send, on the sending thread, before it returns.
    virtual void on_next_send(void (*hook)(void *), void *arg) = 0;
    virtual bool opened() = 0;

    // Copies of the records the module handed over, as they were during the
    // call: the init pair, the open record and its options, the last send record.
    struct Records {
        ipc_agent_param_type init;
        ipc_agent_open_type open;
        ipc_agent_open_options_type options;
        ipc_agent_send_type send;
    };
    virtual Records records() = 0;

protected:
    ~FakeAgent() = default;
};

// A well-formed frame: message id, token id and payload.
std::vector<uint8_t> frame(uint16_t message_id, const std::vector<uint8_t> &payload,
                           int32_t token_id = 0);

} // namespace zol_test

#endif // ZOL_FAKE_AGENT_H
