// Small text helpers shared by the control protocol and the trace output.
#ifndef ZOL_IMSD_TEXT_H
#define ZOL_IMSD_TEXT_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zol::imsd {

// printf into a std::string.
std::string strf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Splits on spaces and tabs; empty words are dropped.
std::vector<std::string_view> split_words(std::string_view line);

// Decimal or 0x-prefixed hexadecimal, no sign, no surrounding space.
std::optional<uint64_t> parse_uint(std::string_view text, uint64_t max);

// Pairs of hex digits, either case; odd length or any other character fails.
std::optional<std::vector<uint8_t>> parse_hex(std::string_view text);

// "0A1B..." as PDUs are written.
std::string hex_upper(std::span<const uint8_t> bytes);

// "0a 1b ..." with at most `limit` bytes shown, then "...".
std::string format_hex(std::span<const uint8_t> bytes, size_t limit);

} // namespace zol::imsd

#endif
