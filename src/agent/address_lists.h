// The host's address lists, built from the adapter records of the system: the IPv4 addresses, their
// hardware addresses and their subnet masks, each list separated by ",". Portable and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx {

struct AdapterIpEntry {
  std::string ip_address;
  std::string mask;
  std::uint32_t context = 0;
};

struct AdapterRecord {
  std::uint32_t index = 0;
  std::vector<std::uint8_t> hardware_address;
  std::vector<AdapterIpEntry> ip_entries;
};

struct AddressLists {
  std::string ip_addresses;
  std::string mac_addresses;  // "--" when no hardware address was listed
  std::string subnet_masks;
  // One line per adapter IP entry, 0.0.0.0 included, for standard output and the log.
  std::vector<std::string> entry_lines;
  // True when an entry was left out because a list would have passed its size bound.
  bool truncated = false;
};

// Each list holds at most this many bytes including its terminating NUL.
inline constexpr std::size_t kAddressListBound = 32767;

// Pairs of lower-case hexadecimal digits joined by ":" (six bytes give 17 characters).
[[nodiscard]] std::string FormatHardwareAddress(const std::vector<std::uint8_t>& bytes);

// Walks the adapters in order. An entry whose address is "0.0.0.0" is skipped; otherwise its address
// and mask are listed and the adapter's hardware address too when its text is exactly 17 characters,
// so that the lists stay parallel except for hardware addresses of another length. An entry that
// would take any list past kAddressListBound ends the walk: the lists keep the entries before it.
[[nodiscard]] AddressLists BuildAddressLists(const std::vector<AdapterRecord>& adapters);

}  // namespace vx
