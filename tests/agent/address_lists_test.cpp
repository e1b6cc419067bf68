#include "agent/address_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx {
namespace {

const std::vector<std::uint8_t> kMac6 = {0x00, 0x1A, 0x2b, 0xC3, 0x04, 0xff};
const std::vector<std::uint8_t> kMac8 = {0x00, 0x1A, 0x2b, 0xC3, 0x04, 0xff, 0x10, 0x20};

TEST(AddressLists, Table) {
  const struct {
    const char* name;
    std::vector<AdapterRecord> adapters;
    const char* ips;
    const char* macs;
    const char* masks;
  } cases[] = {
      {"no adapters", {}, "", "--", ""},
      {"only 0.0.0.0", {{1, kMac6, {{"0.0.0.0", "0.0.0.0", 0}}}}, "", "--", ""},
      {"one adapter", {{1, kMac6, {{"10.0.0.5", "255.0.0.0", 0}}}}, "10.0.0.5", "00:1a:2b:c3:04:ff", "255.0.0.0"},
      {"two addresses on one adapter",
       {{1, kMac6, {{"10.0.0.5", "255.0.0.0", 0}, {"10.0.0.6", "255.255.0.0", 1}}}},
       "10.0.0.5,10.0.0.6",
       "00:1a:2b:c3:04:ff,00:1a:2b:c3:04:ff",
       "255.0.0.0,255.255.0.0"},
      {"an 8-byte hardware address is left out of the MAC list only",
       {{1, kMac8, {{"10.0.0.5", "255.0.0.0", 0}}}, {2, kMac6, {{"192.168.1.2", "255.255.255.0", 0}}}},
       "10.0.0.5,192.168.1.2",
       "00:1a:2b:c3:04:ff",
       "255.0.0.0,255.255.255.0"},
      {"0.0.0.0 between two addresses",
       {{1, kMac6, {{"10.0.0.5", "255.0.0.0", 0}}},
        {2, {}, {{"0.0.0.0", "0.0.0.0", 0}}},
        {3, kMac6, {{"10.0.0.7", "255.0.0.0", 0}}}},
       "10.0.0.5,10.0.0.7",
       "00:1a:2b:c3:04:ff,00:1a:2b:c3:04:ff",
       "255.0.0.0,255.0.0.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AddressLists lists = BuildAddressLists(c.adapters);
    EXPECT_EQ(lists.ip_addresses, c.ips);
    EXPECT_EQ(lists.mac_addresses, c.macs);
    EXPECT_EQ(lists.subnet_masks, c.masks);
    EXPECT_FALSE(lists.truncated);
  }
}

TEST(AddressLists, EveryEntryIsPrintedWithIndexAndContext) {
  const AddressLists lists = BuildAddressLists({{7, kMac6, {{"0.0.0.0", "0.0.0.0", 0}, {"10.0.0.5", "255.0.0.0", 3}}}});
  ASSERT_EQ(lists.entry_lines.size(), 2u);
  // A zero context prints as nothing: the precision of the format is 0.
  EXPECT_EQ(lists.entry_lines[0], "7                   0.0.0.0             0.0.0.0\n");
  EXPECT_EQ(lists.entry_lines[1], "7         3         10.0.0.5            255.0.0.0\n");
}

// More addresses than the lists can hold: the walk stops at the bound and the lists stay parallel.
TEST(AddressLists, StopsAtTheBoundAndStaysParallel) {
  AdapterRecord adapter{1, kMac6, {}};
  for (int i = 0; i < 3000; ++i)
    adapter.ip_entries.push_back(
        {"10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250), "255.255.255.0", 0});
  const AddressLists lists = BuildAddressLists({adapter});
  EXPECT_TRUE(lists.truncated);
  EXPECT_LT(lists.mac_addresses.size() + 1, kAddressListBound + 1);
  EXPECT_LT(lists.subnet_masks.size() + 1, kAddressListBound + 1);
  const auto items = [](const std::string& list) { return std::count(list.begin(), list.end(), ',') + 1; };
  EXPECT_EQ(items(lists.ip_addresses), items(lists.mac_addresses));
  EXPECT_EQ(items(lists.ip_addresses), items(lists.subnet_masks));
  EXPECT_EQ(lists.entry_lines.size(), 3000u);
}

}  // namespace
}  // namespace vx
