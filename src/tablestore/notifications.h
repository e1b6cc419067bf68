// Table-change notifications: every row added, updated or deleted is offered to the registered
// listeners of its table. The listener registry is process-wide and starts empty.
//
// The registry is guarded by one process-wide recursive lock, held while a notification is offered to
// the listeners: a callback may add rows (nested notifications), add or disable listeners, but must
// not remove a listener, and must not keep the notification, which is freed after the last callback.
#pragma once

#include <cstdint>

#include "tablestore/table_data.h"

namespace vx {

struct QelDateTime;

struct IMDSNotification {
  char* table_name;        // owned copy
  RowObject* row;          // owned copy of the changed row (values, lengths and flags), next null
  QelDateTime* timestamp;  // owned; the local date-time at which the notification was made
};

using NotificationCallback = void (*)(const IMDSNotification* notification, const char* listener_name);

struct NotificationListener {
  const char* name;          // the caller's pointer, not copied
  const char** table_names;  // owned copy of the caller's array (not of the strings), sorted
  std::uint8_t enabled;      // 1 when enabled
  std::uint8_t event_type;   // 0: every event; otherwise row flags of the events wanted
  NotificationCallback callback;
};

// Offers a copy of the row to the listeners of the table; the copy is freed before returning.
void SendNotification(const RowObject* row, const char* table_name);

// A notification for the row (copied for the table's column count), or null when the table does not
// exist or memory runs out. Free it with FreeIMDSNotification.
[[nodiscard]] IMDSNotification* CreateIMDSNotification(const RowObject* row, const char* table_name);
void FreeIMDSNotification(IMDSNotification* notification, std::int32_t column_count);

// Binary search of a name list sorted with the case-insensitive compare: 1 when it holds the name.
int IsListContains(const char* const* sorted_names, const char* name);

// Registers an enabled listener for the tables of the null-terminated table_names array (the strings
// must outlive the listener). 1 added; 0 when a listener of that name exists or memory runs out.
[[nodiscard]] int AddNotificationListener(const char* name, const char* const* table_names, std::uint8_t event_type,
                                          NotificationCallback callback);
// 1 when a listener of that name was disabled (or removed), 0 when there is none.
int DisableNotificationListener(const char* name);
int RemoveNotificationListener(const char* name);
// Removes every listener; the registry is empty afterwards.
void DeInitNotification();

}  // namespace vx
