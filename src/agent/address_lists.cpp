#include "agent/address_lists.h"

#include "logging/logger.h"

namespace vx {
namespace {

constexpr std::size_t kMacTextLength = 17;
constexpr const char* kEntryLineFormat = "%-10.d%-10.d%-20.20s%s\n";

// The size of list after appending item (with its separator), terminating NUL included.
std::size_t SizeAfterAppend(const std::string& list, const std::string& item) {
  return list.size() + (list.empty() ? 0 : 1) + item.size() + 1;
}

void Append(std::string& list, const std::string& item) {
  if (!list.empty()) list.push_back(',');
  list += item;
}

}  // namespace

std::string FormatHardwareAddress(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) text.push_back(':');
    text.push_back(kHexDigits[bytes[i] >> 4]);
    text.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return text;
}

AddressLists BuildAddressLists(const std::vector<AdapterRecord>& adapters) {
  AddressLists lists;
  for (const AdapterRecord& adapter : adapters) {
    const std::string mac = FormatHardwareAddress(adapter.hardware_address);
    const bool list_mac = mac.size() == kMacTextLength;
    for (const AdapterIpEntry& entry : adapter.ip_entries) {
      lists.entry_lines.push_back(FormatText(kEntryLineFormat, static_cast<int>(adapter.index),
                                             static_cast<int>(entry.context), entry.ip_address.c_str(),
                                             entry.mask.c_str()));
      if (lists.truncated || entry.ip_address == "0.0.0.0") continue;
      if (SizeAfterAppend(lists.ip_addresses, entry.ip_address) > kAddressListBound ||
          SizeAfterAppend(lists.subnet_masks, entry.mask) > kAddressListBound ||
          (list_mac && SizeAfterAppend(lists.mac_addresses, mac) > kAddressListBound)) {
        lists.truncated = true;
        continue;
      }
      Append(lists.ip_addresses, entry.ip_address);
      if (list_mac) Append(lists.mac_addresses, mac);
      Append(lists.subnet_masks, entry.mask);
    }
  }
  if (lists.mac_addresses.empty()) lists.mac_addresses = "--";
  return lists;
}

}  // namespace vx
