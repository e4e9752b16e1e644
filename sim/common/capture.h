// Frame capture for the link between the agent library and the stack, written
// as a pcap file that Wireshark opens with tools/wireshark/zol.lua.
//
// Link type DLT_USER0 (147). Each record is a 12-byte pseudo-header, then the
// frame exactly as it crossed the socket (11-byte header and payload, or
// whatever arrived when it is malformed):
//
//   offset 0   version            1
//   offset 1   direction          1 module -> stack, 2 stack -> module
//   offset 2   capture point      1 agent library (module's process), 2 zol-imsd
//   offset 3   reserved           0
//   offset 4   connection number  big-endian; the capturing side's 1st, 2nd, ...
//                                 connection to the other side
//   offset 8   module process id  big-endian; the process the agent library runs
//                                 in (on the stack's side: the peer of the
//                                 connection, 0 when unknown)
//
// Record times are wall-clock time (pcap has no other), microseconds.
#ifndef ZOL_SIM_CAPTURE_H
#define ZOL_SIM_CAPTURE_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

// libpcap's handles; only capture.cpp needs its header.
struct pcap;
struct pcap_dumper;

namespace zol_sim {

inline constexpr int kCaptureLinkType = 147; // DLT_USER0
inline constexpr size_t kCaptureHeaderLen = 12;

enum class CaptureDirection : uint8_t { to_stack = 1, from_stack = 2 };
enum class CapturePoint : uint8_t { agent = 1, stack = 2 };

// The pseudo-header of one record.
struct CaptureTag {
    CaptureDirection direction = CaptureDirection::to_stack;
    uint32_t connection = 0;
    uint32_t module_pid = 0;
};

// One capture file. Thread-safe: the agent writes from its sending threads and
// its reader. Every record is flushed, so a process killed mid-run leaves a
// readable file.
class CaptureWriter {
public:
    CaptureWriter() = default;
    CaptureWriter(const CaptureWriter &) = delete;
    CaptureWriter &operator=(const CaptureWriter &) = delete;
    ~CaptureWriter() { close(); }

    // Empty on success, otherwise why the file cannot be written.
    std::string open(const std::string &path, CapturePoint point);
    void close();
    bool is_open() const;

    // `bytes` is what was read or sent; `original_size` the packet's real size
    // when the reader had to cut it (0: the same).
    void write(const CaptureTag &tag, std::span<const uint8_t> bytes, size_t original_size = 0);

private:
    mutable std::mutex mu_;
    CapturePoint point_ = CapturePoint::agent;
    pcap *pcap_ = nullptr;
    pcap_dumper *dumper_ = nullptr;
};

} // namespace zol_sim

#endif
