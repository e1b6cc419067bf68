#include "tablestore/notifications.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "logging/logger.h"
#include "tablestore/containers.h"
#include "tablestore/date_time.h"
#include "tablestore/value_compare.h"

namespace vx {
namespace {

// The listener registry: a Vector of NotificationListener. Zero-initialised static storage is an
// empty unordered vector.
Vector g_listeners;

std::recursive_mutex& RegistryMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

NotificationListener* FindListener(const char* name) {
  for (VectorNode* node = g_listeners.head; node != nullptr; node = node->next) {
    auto* listener = static_cast<NotificationListener*>(node->data);
    if (std::strcmp(listener->name, name) == 0) return listener;
  }
  return nullptr;
}

void FreeListener(NotificationListener* listener) {
  std::free(static_cast<void*>(listener->table_names));
  std::free(listener);
}

// The event types a listener of event type `wanted` receives: the type itself, or the type with the
// deleted, modified or stored flag added.
bool WantsEvent(std::uint8_t wanted, std::uint8_t flags) {
  if (wanted == 0) return true;
  return flags == wanted || flags == (wanted | kRowDeleted) || flags == (wanted | kRowModified) ||
         flags == (wanted | kRowStored);
}

// The type of each column of the table, in column order (0 where the definition has none).
std::uint8_t ColumnTypeAt(const TableData* table, std::int32_t index) {
  const Vector* columns = table->kind == kTableKindTable && table->definition != nullptr ? &table->definition->columns
                          : table->kind == kTableKindView && table->view_definition != nullptr
                              ? &table->view_definition->columns
                              : nullptr;
  if (columns == nullptr) return kTypeNotSupported;
  const VectorNode* node = columns->head;
  for (std::int32_t i = 0; node != nullptr && i < index; ++i) node = node->next;
  if (node == nullptr) return kTypeNotSupported;
  if (table->kind == kTableKindView) {
    const auto* view_column = static_cast<const ViewColumnDefn*>(node->data);
    if (view_column->source_column == nullptr) return kTypeNotSupported;
    return view_column->source_column->type;
  }
  return static_cast<const ColumnDefinition*>(node->data)->type;
}

// A copy of the row for the table's columns; values are copied by their column type, so a date-time
// value is copied whole.
RowObject* CopyRow(const RowObject* row, const TableData* table) {
  const std::int32_t column_count = table->column_count;
  auto* copy = static_cast<RowObject*>(std::calloc(1, sizeof(RowObject)));
  if (copy == nullptr) return nullptr;
  const std::size_t count = column_count > 0 ? static_cast<std::size_t>(column_count) : 0;
  copy->values = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
  copy->lengths = static_cast<std::int32_t*>(std::calloc(count + 1, sizeof(std::int32_t)));
  copy->flags = row->flags;
  if (copy->values == nullptr || copy->lengths == nullptr) {
    FreeRowObject(copy, 0);
    return nullptr;
  }
  for (std::size_t i = 0; i < count; ++i) {
    copy->lengths[i] = row->lengths[i];
    if (row->values[i] == nullptr) continue;
    const std::int32_t index = static_cast<std::int32_t>(i);
    if (CopyColumnValue(&copy->values[i], &copy->lengths[i], row->values[i], row->lengths[i],
                        ColumnTypeAt(table, index)) != 1) {
      FreeRowObject(copy, column_count);
      return nullptr;
    }
  }
  return copy;
}

}  // namespace

int IsListContains(const char* const* sorted_names, const char* name) {
  LogTrace("@@@ Inside IsListContains @@@\n");
  std::int32_t count = 0;
  if (sorted_names != nullptr) {
    while (sorted_names[count] != nullptr) ++count;
  }
  std::int32_t low = 0;
  std::int32_t high = count - 1;
  while (low <= high) {
    const std::int32_t middle = low + (high - low) / 2;
    const int order = CompareStringsNoCase(name, sorted_names[middle]);
    if (order == 0) return 1;
    if (order < 0) {
      high = middle - 1;
    } else {
      low = middle + 1;
    }
  }
  LogDebug("List doesn't contains key \n");
  return 0;
}

IMDSNotification* CreateIMDSNotification(const RowObject* row, const char* table_name) {
  LogTrace("In CreateIMDSNotification \n");
  if (row == nullptr || table_name == nullptr) return nullptr;
  const TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) return nullptr;
  auto* notification = static_cast<IMDSNotification*>(std::calloc(1, sizeof(IMDSNotification)));
  if (notification == nullptr) return nullptr;
  if (AllocateAndCopyString(&notification->table_name, table_name) != kAllocationOk ||
      (notification->row = CopyRow(row, table)) == nullptr ||
      (notification->timestamp = GetCurrentQelDateTime()) == nullptr) {
    FreeIMDSNotification(notification, table->column_count);
    return nullptr;
  }
  return notification;
}

void FreeIMDSNotification(IMDSNotification* notification, std::int32_t column_count) {
  if (notification == nullptr) return;
  std::free(notification->table_name);
  if (notification->row != nullptr) FreeRowObject(notification->row, column_count);
  FreeQelDateTime(notification->timestamp);
  std::free(notification);
}

void SendNotification(const RowObject* row, const char* table_name) {
  LogTrace("In send notification\n");
  std::lock_guard<std::recursive_mutex> guard(RegistryMutex());
  if (g_listeners.count == 0) return;
  IMDSNotification* notification = CreateIMDSNotification(row, table_name);
  if (notification == nullptr) return;
  // A callback may free the table, and with it the caller's table name and the column count that
  // sized the copied row: the walk uses the notification's own name and the count taken now (the
  // table exists, or there would be no notification).
  const char* name = notification->table_name;
  const std::int32_t column_count = GetTableDataByName(name)->column_count;
  for (VectorNode* node = g_listeners.head; node != nullptr; node = node->next) {
    const auto* listener = static_cast<const NotificationListener*>(node->data);
    if (listener->enabled != 1) {
      LogDebug("Listener %s  disabled\n", listener->name);
    } else if (IsListContains(listener->table_names, name) == 0) {
      LogDebug("Listener not registered for %s table\n", name);
    } else if (WantsEvent(listener->event_type, notification->row->flags)) {
      listener->callback(notification, listener->name);
    } else {
      LogDebug("Listener not registered for Eventype %d\n", notification->row->flags);
    }
  }
  FreeIMDSNotification(notification, column_count);
}

int AddNotificationListener(const char* name, const char* const* table_names, std::uint8_t event_type,
                            NotificationCallback callback) {
  LogTrace("In Add notification Listener\n");
  if (name == nullptr || callback == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> guard(RegistryMutex());
  if (FindListener(name) != nullptr) {
    LogError("Listener with same name exists %s\n", name);
    return 0;
  }
  std::size_t count = 0;
  if (table_names != nullptr) {
    while (table_names[count] != nullptr) ++count;
  }
  auto* listener = static_cast<NotificationListener*>(std::calloc(1, sizeof(NotificationListener)));
  auto** names = static_cast<const char**>(std::calloc(count + 1, sizeof(const char*)));
  if (listener == nullptr || names == nullptr) {
    LogError("Buffer Allocation is failed for listener!!!\n");
    std::free(listener);
    std::free(static_cast<void*>(names));
    return 0;
  }
  std::copy(table_names, table_names + count, names);
  std::sort(names, names + count, [](const char* a, const char* b) { return CompareStringsNoCase(a, b) < 0; });
  listener->name = name;
  listener->table_names = names;
  listener->enabled = 1;
  listener->event_type = event_type;
  listener->callback = callback;
  if (AddNewElement(&g_listeners, listener) != 1) {
    LogError("Buffer Allocation is failed for listener!!!\n");
    FreeListener(listener);
    return 0;
  }
  LogDebug("Listener with name %s added\n", name);
  return 1;
}

int DisableNotificationListener(const char* name) {
  LogTrace("In Disable notification\n");
  if (name == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> guard(RegistryMutex());
  NotificationListener* listener = FindListener(name);
  if (listener == nullptr) {
    LogDebug("Listener with name %s doesn't exists\n", name);
    return 0;
  }
  listener->enabled = 0;
  LogDebug("Listener with name %s disabled\n", name);
  return 1;
}

int RemoveNotificationListener(const char* name) {
  LogTrace("In Remove notification\n");
  if (name == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> guard(RegistryMutex());
  NotificationListener* listener = FindListener(name);
  if (listener == nullptr) {
    LogDebug("Listener with name %s doesn't exists\n", name);
    return 0;
  }
  DeleteLCDVector(&g_listeners, listener);
  FreeListener(listener);
  LogDebug("Listener with name %s removed\n", name);
  return 1;
}

void DeInitNotification() {
  LogTrace("In DeInit notification\n");
  std::lock_guard<std::recursive_mutex> guard(RegistryMutex());
  for (VectorNode* node = g_listeners.head; node != nullptr; node = node->next) {
    FreeListener(static_cast<NotificationListener*>(node->data));
  }
  FreeVector(&g_listeners);
  g_listeners.tail = nullptr;
}

}  // namespace vx
