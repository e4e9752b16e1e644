// zol-imsd built without libre (ZOL_SIP=OFF, as in the ARM cross build): the
// options are understood, but the stack cannot talk SIP.
#include "sip/stack.h"

namespace zol::imsd::sip {

std::unique_ptr<Stack> start(const SipOptions &options, std::string &error)
{
    (void)options;
    error = "this zol-imsd was built without SIP (ZOL_SIP=OFF)";
    return nullptr;
}

} // namespace zol::imsd::sip
