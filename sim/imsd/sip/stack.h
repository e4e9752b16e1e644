// zol-imsd's SIP side: a Network that registers with a registrar, places and
// takes calls with audio (and video) over RTP, and carries SMS in SIP MESSAGE,
// all through libre on a thread of its own.
#ifndef ZOL_IMSD_SIP_STACK_H
#define ZOL_IMSD_SIP_STACK_H

#include <memory>
#include <string>

#include "network.h"
#include "sip/options.h"

namespace zol::imsd::sip {

class Stack : public Network {
public:
    // Ends the calls, un-registers and waits a moment for the network's answers.
    // No other call may follow.
    virtual void stop() = 0;
};

// Binds the SIP address and starts the network thread; registration begins
// when the models ask for it. Null with `error` set when it cannot start (or
// when this zol-imsd was built without SIP).
std::unique_ptr<Stack> start(const SipOptions &options, std::string &error);

} // namespace zol::imsd::sip

#endif
