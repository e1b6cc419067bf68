#include "tablestore/notifications.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/time_source.h"
#include "fake_time.h"
#include "tablestore/date_time.h"
#include "tablestore/table_data.h"
#include "test_log.h"

namespace vx::test {
namespace {

struct Received {
  std::string listener;
  std::string table;
  std::uint8_t flags;
  std::vector<std::string> values;
  std::string timestamp;
};

std::vector<Received> g_received;

void Record(const IMDSNotification* notification, const char* listener_name) {
  Received received{listener_name, notification->table_name, notification->row->flags, {}, {}};
  for (int i = 0; i < 2; ++i) {
    const char* value = notification->row->values[i];
    received.values.push_back(value != nullptr ? std::string(value, notification->row->lengths[i]) : "NULL");
  }
  char* stamp = QelDateTimeToString(notification->timestamp);
  received.timestamp = stamp != nullptr ? stamp : "";
  std::free(stamp);
  g_received.push_back(received);
}

// Tables Orders and Audit, two text columns each; no listeners.
class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_received.clear();
    for (const char* name : {"Orders", "Audit"}) {
      TableDefinition* definition = NewTableDefinition(name);
      ASSERT_NE(AddColumnDefinition(definition, "NAME", kTypeText), nullptr);
      ASSERT_NE(AddColumnDefinition(definition, "NOTE", kTypeText), nullptr);
      ASSERT_EQ(AppendTableDefinition(definition), 1);
      ASSERT_EQ(CreateTable(name), 1);
    }
  }
  void TearDown() override {
    DeInitNotification();
    ResetTableStore();
  }

  // A new row of the two texts (null for NULL) with the flags; the caller frees it or hands it on.
  static RowObject* MakeRow(const char* name, const char* note, std::uint8_t flags = kRowNew) {
    auto** values = static_cast<char**>(std::calloc(2, sizeof(char*)));
    auto* lengths = static_cast<std::int32_t*>(std::calloc(2, sizeof(std::int32_t)));
    if (name != nullptr) {
      EXPECT_EQ(AllocateAndCopyString(&values[0], name), kAllocationOk);
      lengths[0] = static_cast<std::int32_t>(std::strlen(name));
    }
    if (note != nullptr) {
      EXPECT_EQ(AllocateAndCopyString(&values[1], note), kAllocationOk);
      lengths[1] = static_cast<std::int32_t>(std::strlen(note));
    }
    RowObject* row = CreateNewRowObject(values, lengths);
    row->flags = flags;
    return row;
  }
};

// The log's messages without the trace lines of the containers and the row operations.
std::vector<std::string> OwnMessages(const ScopedTestLog& log) {
  std::vector<std::string> messages;
  for (const std::string& message : log.Messages()) {
    if (message != "[TRACE] " && message.find("@@@") == std::string::npos) messages.push_back(message);
  }
  return messages;
}

TEST_F(NotificationTest, EmptyRegistryOnlyLogsItsTraceLine) {
  RowObject* row = MakeRow("a", "b");
  {
    ScopedTestLog log(4);
    SendNotification(row, "Orders");
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"[TRACE] In send notification"});
  }
  FreeRowObject(row, 2);

  ScopedTestLog log(4);

  // Through AddNewRow: the row is added and nothing is offered to anyone.
  ASSERT_EQ(AddNewRow("Orders", MakeRow("c", nullptr)), 1);
  int sends = 0;
  for (const std::string& message : log.Messages()) {
    EXPECT_EQ(message.find("CreateIMDSNotification"), std::string::npos);
    sends += message == "[TRACE] In send notification";
  }
  EXPECT_EQ(sends, 1);
}

TEST_F(NotificationTest, EventTypeSelectsRowFlagsWithOneFlagAdded) {
  struct Case {
    std::uint8_t event_type;
    std::vector<std::uint8_t> received_flags;
  };
  const Case cases[] = {
      {2, {2, 3, 6, 10}},
      {4, {4, 5, 12}},  // 4 with flag 4 added is 4 itself
      {1, {1, 5, 9}},
      {0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
  };
  const char* tables[] = {"orders", nullptr};
  for (const Case& c : cases) {
    g_received.clear();
    ASSERT_EQ(AddNotificationListener("flags", tables, c.event_type, Record), 1);
    std::vector<std::uint8_t> received;
    for (std::uint8_t flags = 0; flags < 16; ++flags) {
      RowObject* row = MakeRow("n", "v", flags);
      const std::size_t before = g_received.size();
      SendNotification(row, "Orders");
      if (g_received.size() > before) received.push_back(g_received.back().flags);
      FreeRowObject(row, 2);
    }
    EXPECT_EQ(received, c.received_flags) << "event type " << int{c.event_type};
    ASSERT_EQ(RemoveNotificationListener("flags"), 1);
  }
}

TEST_F(NotificationTest, ListenersInRegistrationOrderGetACopyOfTheRow) {
  FakeTime fake;
  fake.SetLocal({2024, 2, 29, 13, 14, 15, 0});
  ScopedTimeSourceOverride time(fake);
  const char* both[] = {"Orders", "Audit", nullptr};
  const char* audit_only[] = {"AUDIT", nullptr};
  ASSERT_EQ(AddNotificationListener("second", both, 0, Record), 1);
  ASSERT_EQ(AddNotificationListener("first", audit_only, 2, Record), 1);

  RowObject* row = MakeRow("name", nullptr);
  SendNotification(row, "audit");
  ASSERT_EQ(g_received.size(), 2u);
  EXPECT_EQ(g_received[0].listener, "second");
  EXPECT_EQ(g_received[1].listener, "first");
  EXPECT_EQ(g_received[0].table, "audit");
  EXPECT_EQ(g_received[0].values, (std::vector<std::string>{"name", "NULL"}));
  EXPECT_EQ(g_received[0].timestamp, "2024-02-29 13:14:15");
  FreeRowObject(row, 2);

  // A table that does not exist gives no notification.
  g_received.clear();
  row = MakeRow("x", "y");
  SendNotification(row, "Missing");
  EXPECT_TRUE(g_received.empty());
  FreeRowObject(row, 2);
}

TEST_F(NotificationTest, SkippedListenersSayWhy) {
  const char* orders[] = {"Orders", nullptr};
  ASSERT_EQ(AddNotificationListener("off", orders, 0, Record), 1);
  ASSERT_EQ(AddNotificationListener("elsewhere", orders, 0, Record), 1);
  ASSERT_EQ(AddNotificationListener("updates", orders, kRowModified, Record), 1);
  ScopedTestLog log(4);
  EXPECT_EQ(DisableNotificationListener("off"), 1);
  RowObject* row = MakeRow("a", "b");
  SendNotification(row, "Orders");
  SendNotification(row, "Audit");
  FreeRowObject(row, 2);
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0].listener, "elsewhere");
  EXPECT_TRUE(log.Has("[DEBUG]", "Listener with name off disabled"));
  EXPECT_TRUE(log.Has("[DEBUG]", "Listener off  disabled"));
  EXPECT_TRUE(log.Has("[DEBUG]", "Listener not registered for Eventype 2"));
  EXPECT_TRUE(log.Has("[DEBUG]", "Listener not registered for Audit table"));
  EXPECT_TRUE(log.Has("[DEBUG]", "List doesn't contains key "));
}

TEST_F(NotificationTest, ManagementOperationsAndTheirMessages) {
  const char* orders[] = {"Orders", nullptr};
  ScopedTestLog log(4);
  EXPECT_EQ(AddNotificationListener("one", orders, 0, Record), 1);
  EXPECT_EQ(AddNotificationListener("one", orders, 2, Record), 0);
  EXPECT_EQ(RemoveNotificationListener("two"), 0);
  EXPECT_EQ(DisableNotificationListener("two"), 0);
  EXPECT_EQ(RemoveNotificationListener("one"), 1);
  EXPECT_EQ(AddNotificationListener("one", orders, 2, Record), 1);
  DeInitNotification();
  RowObject* row = MakeRow("a", "b");
  SendNotification(row, "Orders");
  FreeRowObject(row, 2);
  EXPECT_TRUE(g_received.empty());
  EXPECT_EQ(OwnMessages(log), (std::vector<std::string>{
                                  "[TRACE] In Add notification Listener",
                                  "[DEBUG] Listener with name one added",
                                  "[TRACE] In Add notification Listener",
                                  "[ERROR] Listener with same name exists one",
                                  "[TRACE] In Remove notification",
                                  "[DEBUG] Listener with name two doesn't exists",
                                  "[TRACE] In Disable notification",
                                  "[DEBUG] Listener with name two doesn't exists",
                                  "[TRACE] In Remove notification",
                                  "[DEBUG] Listener with name one removed",
                                  "[TRACE] In Add notification Listener",
                                  "[DEBUG] Listener with name one added",
                                  "[TRACE] In DeInit notification",
                                  "[TRACE] In send notification",
                              }));
}

TEST(IsListContainsTest, BinarySearchWithoutRegardToCase) {
  const char* sorted[] = {"alpha", "Beta", "delta", "Gamma", "omega", nullptr};
  for (const char* name : {"ALPHA", "beta", "Delta", "gamma", "OMEGA"})
    EXPECT_EQ(IsListContains(sorted, name), 1) << name;
  for (const char* name : {"", "aaa", "epsilon", "zeta", "Betas"}) EXPECT_EQ(IsListContains(sorted, name), 0) << name;
  const char* empty[] = {nullptr};
  EXPECT_EQ(IsListContains(empty, "alpha"), 0);
  EXPECT_EQ(IsListContains(nullptr, "alpha"), 0);
}

// A listener that writes an audit row for each order: the nested notification must not wait for the
// registry that the outer one holds.
void WriteAudit(const IMDSNotification* notification, const char* listener_name) {
  Record(notification, listener_name);
  if (std::strcmp(notification->table_name, "Orders") != 0) return;
  auto** values = static_cast<char**>(std::calloc(2, sizeof(char*)));
  auto* lengths = static_cast<std::int32_t*>(std::calloc(2, sizeof(std::int32_t)));
  RowObject* row = CreateNewRowObject(values, lengths);
  if (AddNewRow("Audit", row) != 1) FreeRowObject(row, 2);
}

TEST_F(NotificationTest, CallbackMayAddRowsToOtherTables) {
  const char* tables[] = {"Orders", "Audit", nullptr};
  ASSERT_EQ(AddNotificationListener("audit", tables, 0, WriteAudit), 1);
  ASSERT_EQ(AddNewRow("Orders", MakeRow("o", "1")), 1);
  ASSERT_EQ(g_received.size(), 2u);
  EXPECT_EQ(g_received[0].table, "Orders");
  EXPECT_EQ(g_received[1].table, "Audit");
  EXPECT_EQ(GetTableDataByName("Audit")->row_count, 1);
}

// The row a listener gets holds its own copy of a date-time value, whole on every build.
TEST_F(NotificationTest, DateTimeValuesAreCopiedWhole) {
  TableDefinition* definition = NewTableDefinition("Events");
  ASSERT_NE(AddColumnDefinition(definition, "STAMP", kTypeDateTime), nullptr);
  ASSERT_EQ(AppendTableDefinition(definition), 1);
  ASSERT_EQ(CreateTable("Events"), 1);
  static std::string copied;
  static const char* original_value = nullptr;
  const char* tables[] = {"Events", nullptr};
  ASSERT_EQ(AddNotificationListener("stamps", tables, 0,
                                    [](const IMDSNotification* notification, const char*) {
                                      const char* value = notification->row->values[0];
                                      ASSERT_NE(value, original_value);
                                      char* text = QelDateTimeToString(reinterpret_cast<const QelDateTime*>(value));
                                      copied = text != nullptr ? text : "";
                                      std::free(text);
                                    }),
            1);
  auto** values = static_cast<char**>(std::calloc(1, sizeof(char*)));
  auto* lengths = static_cast<std::int32_t*>(std::calloc(1, sizeof(std::int32_t)));
  values[0] = reinterpret_cast<char*>(CreateQelDateTime(2026, 12, 8, 9, 30, 0));
  lengths[0] = kQelDateTimeLength;
  original_value = values[0];
  ASSERT_EQ(AddNewRow("Events", CreateNewRowObject(values, lengths)), 1);
  EXPECT_EQ(copied, "2026-12-08 09:30:00");
}

// The row of Orders named so, and the row before it (null for the first).
RowObject* RowNamed(const char* name, RowObject** previous = nullptr) {
  TableData* table = GetTableDataByName("Orders");
  RowObject* before = nullptr;
  for (RowObject* row = table != nullptr ? table->first_row : nullptr; row != nullptr; before = row, row = row->next) {
    if (row->values[0] != nullptr && std::strcmp(row->values[0], name) == 0) {
      if (previous != nullptr) *previous = before;
      return row;
    }
  }
  return nullptr;
}

// What a listener does, once per operation, to the table whose change it is told about: to the
// changed row, or to the rows before and after it (null where there is none).
using Change = void (*)(RowObject* previous, RowObject* row);
Change g_change;
bool g_changed;

void ChangeTheTable(const IMDSNotification* notification, const char* listener_name) {
  Record(notification, listener_name);
  if (g_changed) return;
  g_changed = true;
  RowObject* previous = nullptr;
  RowObject* row = RowNamed(notification->row->values[0], &previous);
  ASSERT_NE(row, nullptr);
  g_change(previous, row);
}

// Every notifying operation survives a listener that changes the table under it (under ASan: no
// freed row or name is touched, nothing leaks), and leaves the table, if it still exists, consistent.
TEST_F(NotificationTest, CallbacksMayChangeTheTableBeingChanged) {
  using Operation = int (*)();
  const std::pair<const char*, Operation> operations[] = {
      {"AddNewRow", [] { return AddNewRow("Orders", MakeRow("r4", nullptr)); }},
      {"UpdateRowObject", [] { return UpdateRowObject("Orders", RowNamed("r2"), "NOTE", "x", 1); }},
      {"DeleteRowObject", [] { return DeleteRowObject("Orders", RowNamed("r2")); }},
      {"DeleteRowObjectByCriteria", [] { return DeleteRowObjectByCriteria("Orders", "NAME >= 'r1'"); }},
  };
  const std::pair<const char*, Change> changes[] = {
      {"insert", [](RowObject*, RowObject*) { EXPECT_EQ(AddNewRow("Orders", MakeRow("new", nullptr)), 1); }},
      {"update previous",
       [](RowObject* p, RowObject*) { EXPECT_EQ(UpdateRowObject("Orders", p, "NOTE", "u", 1), !!p); }},
      {"delete previous", [](RowObject* p, RowObject*) { EXPECT_EQ(DeleteRowObject("Orders", p), !!p); }},
      {"delete next", [](RowObject*, RowObject* r) { EXPECT_EQ(DeleteRowObject("Orders", r->next), !!r->next); }},
      {"delete itself", [](RowObject*, RowObject* r) { EXPECT_EQ(DeleteRowObject("Orders", r), 1); }},
      {"empty table", [](RowObject*, RowObject*) { EXPECT_EQ(DeleteAllTableRowObjects("Orders"), 1); }},
      {"free table", [](RowObject*, RowObject*) { FreeTableData(GetTableDataByName("Orders")); }},
  };
  const char* orders[] = {"Orders", nullptr};
  for (const auto& [operation_name, operation] : operations) {
    for (const auto& [change_name, change] : changes) {
      SCOPED_TRACE(testing::Message() << operation_name << ", " << change_name);
      TearDown();
      SetUp();
      for (const char* name : {"r0", "r1", "r2", "r3"}) ASSERT_EQ(AddNewRow("Orders", MakeRow(name, "n")), 1);
      ASSERT_EQ(AddNotificationListener("changer", orders, 0, ChangeTheTable), 1);
      g_change = change;
      g_changed = false;
      EXPECT_EQ(operation(), 1);
      EXPECT_TRUE(g_changed);
      const TableData* table = GetTableDataByName("Orders");
      ASSERT_EQ(table == nullptr, std::strcmp(change_name, "free table") == 0);
      if (table == nullptr) continue;
      std::int32_t count = 0;
      const RowObject* last = nullptr;
      for (const RowObject* row = table->first_row; row != nullptr; row = row->next, ++count) last = row;
      EXPECT_EQ(count, table->row_count);
      EXPECT_EQ(last, table->last_row);
      // r2 is the row updated or deleted (or one of those deleted by criteria).
      const bool r2_gone =
          std::strncmp(operation_name, "Delete", 6) == 0 || std::strcmp(change_name, "empty table") == 0 ||
          (std::strcmp(operation_name, "UpdateRowObject") == 0 && std::strcmp(change_name, "delete itself") == 0);
      EXPECT_EQ(RowNamed("r2") == nullptr, r2_gone);
    }
  }
}

}  // namespace
}  // namespace vx::test
