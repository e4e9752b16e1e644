// Every message id the stack knows, its trace name and, for messages from the
// module, the handler that answers it. Adding a message is one table row and,
// when it needs an answer, one handler function in messages.cpp.
#ifndef ZOL_IMSD_MESSAGES_H
#define ZOL_IMSD_MESSAGES_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "frame.h"
#include "model.h"
#include "timers.h"

namespace zol::imsd {

// Message ids used by handlers.
enum MessageId : uint16_t {
    kMsgGetCurrentCalls = 17,
    kMsgCurCallInd = 30021,
};

// What a handler sees: the request, the model, and where its frames go.
class Context {
public:
    Context(Model &m, const Frame &req, TimerQueue *t = nullptr) : model(m), request(req), timers(t)
    {
    }
    // For work that no request caused: delayed actions and control commands.
    Context(Model &m, TimerQueue *t);

    // A frame carrying the request's token id.
    void reply(uint16_t message, std::vector<uint8_t> payload);
    // An unsolicited frame, token id 0.
    void indicate(uint16_t message, std::vector<uint8_t> payload);
    // The answer to an earlier request, under that request's token id.
    void answer(int32_t token, uint16_t message, std::vector<uint8_t> payload)
    {
        outgoing.push_back(Frame{token, message, std::move(payload)});
    }
    // The answer the module waits for will come later, from the network.
    void defer() { deferred = true; }
    // Runs `action` `ms` milliseconds from now; without a timer queue it is
    // dropped and a note says so.
    void after(int64_t ms, TimerAction action);
    // A line for the trace.
    void note(std::string line) { notes.push_back(std::move(line)); }

    Model &model;
    const Frame &request;
    TimerQueue *timers;
    std::vector<Frame> outgoing;
    std::vector<std::string> notes;
    bool deferred = false;
};

using Handler = void (*)(Context &ctx);

struct MessageInfo {
    uint16_t id;
    const char *name;
    Handler handler; // null: traced and ignored
};

std::span<const MessageInfo> all_messages();

// Null for an id the table does not list.
const MessageInfo *find_message(uint16_t id);
const char *message_name(uint16_t id);

// Runs the handler of `request`, if any, and returns the frames to send.
std::vector<Frame> dispatch(Model &model, const Frame &request);
// The same, leaving frames and notes in `ctx`.
void dispatch(Context &ctx);

} // namespace zol::imsd

#endif
