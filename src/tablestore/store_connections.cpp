#include "tablestore/store_connections.h"

#include <cstdlib>
#include <cstring>

#include "base/time_source.h"
#include "logging/address_lock.h"
#include "logging/logger.h"
#include "tablestore/table_data.h"
#include "tablestore/value_compare.h"

namespace vx {
namespace {

struct ProviderSlot {
  const char* name;
  DatabaseProvider provider;
  bool registered;
};

ProviderSlot g_providers[kProviderSlotCount] = {{kProviderNames[0], {}, false}, {kProviderNames[1], {}, false}};
Vector g_pool;             // of ConnectionGroup
Vector g_data_source_map;  // of DataSourceMapEntry
Vector g_parameters;       // of StoreConnectionParameters, one per group

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

void FreeParameters(StoreConnectionParameters* parameters) {
  if (parameters == nullptr) return;
  std::free(parameters->connection_name);
  std::free(parameters->provider_name);
  std::free(parameters->data_source);
  std::free(parameters->user);
  std::free(parameters->password);
  std::free(parameters);
}

bool CopyOptional(char** destination, const char* source) {
  return source == nullptr || AllocateAndCopyString(destination, source) == kAllocationOk;
}

StoreConnectionParameters* CopyParameters(const StoreConnectionParameters& source) {
  auto* copy = static_cast<StoreConnectionParameters*>(std::calloc(1, sizeof(StoreConnectionParameters)));
  if (copy == nullptr) return nullptr;
  if (!CopyOptional(&copy->connection_name, source.connection_name) ||
      !CopyOptional(&copy->provider_name, source.provider_name) ||
      !CopyOptional(&copy->data_source, source.data_source) || !CopyOptional(&copy->user, source.user) ||
      !CopyOptional(&copy->password, source.password)) {
    FreeParameters(copy);
    return nullptr;
  }
  return copy;
}

const StoreConnectionParameters* FindParameters(const char* connection_name) {
  for (VectorNode* node = g_parameters.head; node != nullptr; node = node->next) {
    const auto* parameters = static_cast<const StoreConnectionParameters*>(node->data);
    if (std::strcmp(parameters->connection_name, connection_name) == 0) return parameters;
  }
  return nullptr;
}

ConnectionGroup* FindGroup(const char* connection_name) {
  if (g_pool.count == 0) return nullptr;
  if (connection_name == nullptr) {
    return g_pool.count == 1 ? static_cast<ConnectionGroup*>(g_pool.head->data) : nullptr;
  }
  for (VectorNode* node = g_pool.head; node != nullptr; node = node->next) {
    auto* group = static_cast<ConnectionGroup*>(node->data);
    if (std::strcmp(group->name, connection_name) == 0) return group;
  }
  return nullptr;
}

void FreeGroup(ConnectionGroup* group) {
  for (VectorNode* node = group->handles.head; node != nullptr; node = node->next) {
    CloseDBConnection(static_cast<ConnectionHandle*>(node->data));
  }
  FreeVector(&group->handles);
  std::free(group->name);
  std::free(group);
}

// Every thread of a group of one handle shares it under owner 1.
std::int64_t CallerIdentity(const ConnectionGroup* group) {
  return group->handles.count == 1 ? 1 : static_cast<std::int64_t>(CurrentThreadId());
}

// The handle for the caller, re-opened first when it is too old; the group's lock is held.
ConnectionHandle* CheckOut(ConnectionGroup* group, ConnectionHandle* handle, std::int64_t caller) {
  if (Time().UnixSeconds() - handle->opened_at < kConnectionMaxAgeSeconds) {
    handle->owner_thread = caller;
    return handle;
  }
  const StoreConnectionParameters* parameters = FindParameters(handle->connection_name);
  if (parameters == nullptr) {
    LogError("Cannot return connection handle. Error in fetching connection parameters.\n");
    return nullptr;
  }
  // The stale handle stays in the group until its successor is open, so a failed re-open costs the
  // group nothing and the next request tries again.
  ConnectionHandle* fresh = OpenDBConnection(parameters);
  if (fresh == nullptr) {
    LogError(
        "Cannot return connection handle. Error in opening connection while re-establishing connection "
        "hanlde.\n");
    return nullptr;
  }
  if (AddNewElement(&group->handles, fresh) != 1) {
    CloseDBConnection(fresh);
    return nullptr;
  }
  DeleteLCDVector(&group->handles, handle);
  CloseDBConnection(handle);
  fresh->owner_thread = caller;
  LogDebug(" %s : Connection Established\n", fresh->connection_name);
  return fresh;
}

}  // namespace

int RegisterDatabaseProvider(const char* name, const DatabaseProvider& provider) {
  if (name == nullptr) return 0;
  for (ProviderSlot& slot : g_providers) {
    if (std::strcmp(slot.name, name) == 0) {
      slot.provider = provider;
      slot.registered = true;
      return 1;
    }
  }
  return 0;
}

int AddDataSourceMapEntry(const char* table_name, const char* connection_name) {
  if (table_name == nullptr || connection_name == nullptr) return 0;
  auto* entry = static_cast<DataSourceMapEntry*>(std::calloc(1, sizeof(DataSourceMapEntry)));
  if (entry == nullptr) return 0;
  if (AllocateAndCopyString(&entry->table_name, table_name) != kAllocationOk ||
      AllocateAndCopyString(&entry->connection_name, connection_name) != kAllocationOk ||
      AddNewElement(&g_data_source_map, entry) != 1) {
    std::free(entry->table_name);
    std::free(entry->connection_name);
    std::free(entry);
    return 0;
  }
  return 1;
}

int AddConnectionGroup(const StoreConnectionParameters& parameters, std::int32_t handle_count) {
  if (parameters.connection_name == nullptr || handle_count < 1 || FindGroup(parameters.connection_name) != nullptr) {
    return 0;
  }
  StoreConnectionParameters* remembered = CopyParameters(parameters);
  auto* group = static_cast<ConnectionGroup*>(std::calloc(1, sizeof(ConnectionGroup)));
  bool ok = remembered != nullptr && group != nullptr &&
            AllocateAndCopyString(&group->name, parameters.connection_name) == kAllocationOk;
  for (std::int32_t i = 0; ok && i < handle_count; ++i) {
    ConnectionHandle* handle = OpenDBConnection(remembered);
    ok = handle != nullptr && AddNewElement(&group->handles, handle) == 1;
    if (!ok) CloseDBConnection(handle);
  }
  ok = ok && AddNewElement(&g_parameters, remembered) == 1;
  if (ok && AddNewElement(&g_pool, group) != 1) {
    DeleteLCDVector(&g_parameters, remembered);
    ok = false;
  }
  if (!ok) {
    if (group != nullptr) FreeGroup(group);
    FreeParameters(remembered);
    return 0;
  }
  return 1;
}

void ResetStoreConnections() {
  for (VectorNode* node = g_pool.head; node != nullptr; node = node->next) {
    FreeGroup(static_cast<ConnectionGroup*>(node->data));
  }
  FreeVector(&g_pool);
  for (VectorNode* node = g_data_source_map.head; node != nullptr; node = node->next) {
    auto* entry = static_cast<DataSourceMapEntry*>(node->data);
    std::free(entry->table_name);
    std::free(entry->connection_name);
    std::free(entry);
  }
  FreeVector(&g_data_source_map);
  for (VectorNode* node = g_parameters.head; node != nullptr; node = node->next) {
    FreeParameters(static_cast<StoreConnectionParameters*>(node->data));
  }
  FreeVector(&g_parameters);
  g_pool.tail = g_data_source_map.tail = g_parameters.tail = nullptr;
  for (ProviderSlot& slot : g_providers) {
    slot.provider = {};
    slot.registered = false;
  }
}

DataSourceMapEntry* GetDataSourceMapEntry(const char* table_name) {
  LogTrace("@@@ Inside GetDataSourceMapEntry @@@\n");
  if (table_name == nullptr) return nullptr;
  for (VectorNode* node = g_data_source_map.head; node != nullptr; node = node->next) {
    auto* entry = static_cast<DataSourceMapEntry*>(node->data);
    if (CompareStringsNoCase(entry->table_name, table_name) == 0) return entry;
  }
  return nullptr;
}

const char* GetConnectionName(const char* table_name) {
  const DataSourceMapEntry* entry = GetDataSourceMapEntry(table_name);
  if (entry == nullptr) {
    LogError("No DataSourceMap Entry for Table name %s \n", OrNull(table_name));
    return nullptr;
  }
  return entry->connection_name;
}

ConnectionHandle* GetConnectionHandle(const char* connection_name) {
  ConnectionGroup* group = FindGroup(connection_name);
  if (group == nullptr) return nullptr;
  AddressLockGuard guard(group);
  const std::int64_t caller = CallerIdentity(group);
  ConnectionHandle* free_handle = nullptr;
  for (VectorNode* node = group->handles.head; node != nullptr; node = node->next) {
    auto* handle = static_cast<ConnectionHandle*>(node->data);
    if (handle->owner_thread == caller) return CheckOut(group, handle, caller);
    if (handle->owner_thread == -1 && free_handle == nullptr) free_handle = handle;
  }
  return free_handle != nullptr ? CheckOut(group, free_handle, caller) : nullptr;
}

int ReleaseConnectionHandle(const char* connection_name) {
  ConnectionGroup* group = FindGroup(connection_name);
  if (group == nullptr) return 0;
  AddressLockGuard guard(group);
  const std::int64_t caller = CallerIdentity(group);
  for (VectorNode* node = group->handles.head; node != nullptr; node = node->next) {
    auto* handle = static_cast<ConnectionHandle*>(node->data);
    if (handle->owner_thread == caller) {
      handle->owner_thread = -1;
      return 1;
    }
  }
  return 0;
}

ConnectionHandle* OpenDBConnection(const StoreConnectionParameters* parameters) {
  LogTrace("## Inside OpenDBConnection ##\n");
  if (parameters == nullptr || parameters->provider_name == nullptr) return nullptr;
  for (std::int32_t index = 0; index < kProviderSlotCount; ++index) {
    const ProviderSlot& slot = g_providers[index];
    if (std::strcmp(slot.name, parameters->provider_name) != 0) continue;
    if (!slot.registered || slot.provider.open == nullptr) return nullptr;
    auto* handle = static_cast<ConnectionHandle*>(std::calloc(1, sizeof(ConnectionHandle)));
    if (handle == nullptr) return nullptr;
    if (parameters->connection_name != nullptr &&
        AllocateAndCopyString(&handle->connection_name, parameters->connection_name) != kAllocationOk) {
      std::free(handle);
      return nullptr;
    }
    handle->connection = slot.provider.open(parameters);
    if (handle->connection == nullptr) {
      std::free(handle->connection_name);
      std::free(handle);
      return nullptr;
    }
    handle->provider_index = index;
    handle->owner_thread = -1;
    handle->reserved = 0;
    handle->opened_at = Time().UnixSeconds();
    return handle;
  }
  return nullptr;
}

void CloseDBConnection(ConnectionHandle* handle) {
  if (handle == nullptr) return;
  const ProviderSlot& slot = g_providers[handle->provider_index];
  if (handle->connection != nullptr && slot.registered && slot.provider.close != nullptr) {
    slot.provider.close(handle->connection);
  }
  std::free(handle->connection_name);
  std::free(handle);
}

int ExecuteUpdate(ConnectionHandle* handle, const char* sql) {
  if (handle == nullptr) {
    LogError("ConnectionHandle NULL in ExecuteUpdate for Query %s \n", OrNull(sql));
    return 0;
  }
  if (sql == nullptr) {
    LogError(" No Query To be Updated \n");
    return 0;
  }
  const ProviderSlot& slot = g_providers[handle->provider_index];
  if (!slot.registered || slot.provider.execute_update == nullptr) return 0;
  return slot.provider.execute_update(handle->connection, sql);
}

QueryResult* ExecuteQuery(ConnectionHandle* handle, const char* sql) {
  if (handle == nullptr) {
    LogError("ConnectionHandle NULL in ExecuteQuery for Query %s \n", OrNull(sql));
    return nullptr;
  }
  if (sql == nullptr) {
    LogError(" No Query To be Executed \n");
    return nullptr;
  }
  const ProviderSlot& slot = g_providers[handle->provider_index];
  if (!slot.registered || slot.provider.execute_query == nullptr) return nullptr;
  return slot.provider.execute_query(handle->connection, sql);
}

QueryRow* NextQueryRow(QueryResult* result) {
  if (result == nullptr) return nullptr;
  result->cursor = result->cursor == nullptr ? result->first_row : result->cursor->next;
  return result->cursor;
}

const char* GetQueryColumnValue(const QueryResult* result, const char* column_name, std::int32_t* length) {
  if (result == nullptr || result->cursor == nullptr || column_name == nullptr) return nullptr;
  for (std::int32_t i = 0; i < result->column_count; ++i) {
    if (CompareStringsNoCase(result->column_names[i], column_name) != 0) continue;
    if (length != nullptr) *length = result->cursor->lengths[i];
    return result->cursor->values[i];
  }
  return nullptr;
}

void FreeQueryResult(QueryResult* result) {
  if (result == nullptr) return;
  for (QueryRow* row = result->first_row; row != nullptr;) {
    QueryRow* next = row->next;
    for (std::int32_t i = 0; row->values != nullptr && i < result->column_count; ++i) std::free(row->values[i]);
    std::free(row->values);
    std::free(row->lengths);
    std::free(row);
    row = next;
  }
  for (std::int32_t i = 0; result->column_names != nullptr && i < result->column_count; ++i) {
    std::free(result->column_names[i]);
  }
  std::free(result->column_names);
  std::free(result->column_types);
  std::free(result);
}

}  // namespace vx
