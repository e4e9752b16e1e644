#include "capture.h"

#ifdef ZOL_HAVE_PCAP
#include <algorithm>
#include <pcap/pcap.h>
#include <sys/time.h>
#include <vector>
#endif

namespace zol_sim {

#ifdef ZOL_HAVE_PCAP

namespace {

// Beyond the largest packet either side reads (64 KiB) and what a padded fault
// frame can reach.
constexpr int kSnapLen = 256 * 1024;

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

} // namespace

std::string CaptureWriter::open(const std::string &path, CapturePoint point)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (dumper_ != nullptr) {
        return "a capture is already open";
    }
    pcap_ = pcap_open_dead(kCaptureLinkType, kSnapLen);
    if (pcap_ == nullptr) {
        return "libpcap cannot make a capture handle";
    }
    dumper_ = pcap_dump_open(pcap_, path.c_str());
    if (dumper_ == nullptr) {
        std::string why = pcap_geterr(pcap_);
        pcap_close(pcap_);
        pcap_ = nullptr;
        return why;
    }
    point_ = point;
    // The file header on disk at once: an empty capture is still a capture.
    pcap_dump_flush(dumper_);
    return {};
}

void CaptureWriter::close()
{
    std::lock_guard<std::mutex> lock(mu_);
    if (dumper_ != nullptr) {
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }
    if (pcap_ != nullptr) {
        pcap_close(pcap_);
        pcap_ = nullptr;
    }
}

void CaptureWriter::write(const CaptureTag &tag, std::span<const uint8_t> bytes,
                          size_t original_size)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    std::vector<uint8_t> record(kCaptureHeaderLen + bytes.size());
    record[0] = 1;
    record[1] = static_cast<uint8_t>(tag.direction);
    std::lock_guard<std::mutex> lock(mu_);
    if (dumper_ == nullptr) {
        return;
    }
    record[2] = static_cast<uint8_t>(point_);
    put_be32(&record[4], tag.connection);
    put_be32(&record[8], tag.module_pid);
    std::copy(bytes.begin(), bytes.end(), record.begin() + kCaptureHeaderLen);
    pcap_pkthdr header{};
    header.ts = now;
    header.caplen = static_cast<bpf_u_int32>(std::min<size_t>(record.size(), kSnapLen));
    header.len =
        static_cast<bpf_u_int32>(kCaptureHeaderLen + std::max(original_size, bytes.size()));
    pcap_dump(reinterpret_cast<u_char *>(dumper_), &header, record.data());
    pcap_dump_flush(dumper_);
}

#else

std::string CaptureWriter::open(const std::string &, CapturePoint)
{
    return "this build has no capture (libpcap was not found)";
}

void CaptureWriter::close() {}

void CaptureWriter::write(const CaptureTag &, std::span<const uint8_t>, size_t) {}

#endif

bool CaptureWriter::is_open() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return dumper_ != nullptr;
}

} // namespace zol_sim
