#include "tablestore/sqlite_provider.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

#include "logging/logger.h"
#include "tablestore/table_data.h"

namespace vx {
namespace {

void* Open(const StoreConnectionParameters* parameters) {
  if (parameters == nullptr || parameters->data_source == nullptr) return nullptr;
  sqlite3* database = nullptr;
  const int status =
      sqlite3_open_v2(parameters->data_source, &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (status != SQLITE_OK) {
    LogError("SqliteProvider : cannot open %s: %s\n", parameters->data_source,
             database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(status));
    sqlite3_close(database);
    return nullptr;
  }
  // Another process or connection may hold the file for a moment.
  sqlite3_busy_timeout(database, 5000);
  return database;
}

void Close(void* connection) { sqlite3_close(static_cast<sqlite3*>(connection)); }

int ExecuteUpdate(void* connection, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(static_cast<sqlite3*>(connection), sql, nullptr, nullptr, &message) != SQLITE_OK) {
    LogError("SqliteProvider : %s failed: %s\n", sql, message != nullptr ? message : "");
    sqlite3_free(message);
    return 0;
  }
  return 1;
}

// Copies the current statement row into a new QueryRow; null when memory runs out.
QueryRow* CopyRow(sqlite3_stmt* statement, QueryResult* result) {
  auto* row = static_cast<QueryRow*>(std::calloc(1, sizeof(QueryRow)));
  if (row == nullptr) return nullptr;
  const auto count = static_cast<std::size_t>(result->column_count);
  row->values = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
  row->lengths = static_cast<std::int32_t*>(std::calloc(count + 1, sizeof(std::int32_t)));
  bool ok = row->values != nullptr && row->lengths != nullptr;
  for (int i = 0; ok && i < result->column_count; ++i) {
    switch (sqlite3_column_type(statement, i)) {
      case SQLITE_NULL:
        break;
      case SQLITE_INTEGER: {
        const std::int64_t value = sqlite3_column_int64(statement, i);
        ok = AllocateAndCopy(&row->values[i], &value, 8) == kAllocationOk;
        row->lengths[i] = 8;
        result->column_types[i] = kTypeBigInt;
        break;
      }
      case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(statement, i);
        ok = AllocateAndCopy(&row->values[i], &value, 8) == kAllocationOk;
        row->lengths[i] = 8;
        result->column_types[i] = kTypeDouble;
        break;
      }
      case SQLITE_BLOB: {
        const void* bytes = sqlite3_column_blob(statement, i);
        const int length = sqlite3_column_bytes(statement, i);
        ok = AllocateAndCopy(&row->values[i], bytes != nullptr ? bytes : "", length) == kAllocationOk;
        row->lengths[i] = length;
        result->column_types[i] = kTypeBlob;
        break;
      }
      default: {
        const unsigned char* text = sqlite3_column_text(statement, i);
        const int length = sqlite3_column_bytes(statement, i);
        ok = AllocateAndCopy(&row->values[i], text != nullptr ? text : reinterpret_cast<const unsigned char*>(""),
                             length) == kAllocationOk;
        row->lengths[i] = length;
        result->column_types[i] = kTypeText;
        break;
      }
    }
  }
  if (!ok) {
    for (int i = 0; row->values != nullptr && i < result->column_count; ++i) std::free(row->values[i]);
    std::free(row->values);
    std::free(row->lengths);
    std::free(row);
    return nullptr;
  }
  return row;
}

QueryResult* ExecuteQuery(void* connection, const char* sql) {
  sqlite3* database = static_cast<sqlite3*>(connection);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK || statement == nullptr) {
    LogError("SqliteProvider : %s failed: %s\n", sql, sqlite3_errmsg(database));
    sqlite3_finalize(statement);
    return nullptr;
  }
  auto* result = static_cast<QueryResult*>(std::calloc(1, sizeof(QueryResult)));
  bool ok = result != nullptr;
  if (ok) {
    result->column_count = sqlite3_column_count(statement);
    const auto count = static_cast<std::size_t>(result->column_count);
    result->column_names = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
    result->column_types = static_cast<std::uint8_t*>(std::calloc(count + 1, 1));
    ok = result->column_names != nullptr && result->column_types != nullptr;
    for (int i = 0; ok && i < result->column_count; ++i) {
      const char* name = sqlite3_column_name(statement, i);
      ok = AllocateAndCopyString(&result->column_names[i], name != nullptr ? name : "") == kAllocationOk;
    }
  }
  QueryRow* last = nullptr;
  int status = SQLITE_ROW;
  while (ok && (status = sqlite3_step(statement)) == SQLITE_ROW) {
    QueryRow* row = CopyRow(statement, result);
    ok = row != nullptr;
    if (!ok) break;
    (last == nullptr ? result->first_row : last->next) = row;
    last = row;
    ++result->row_count;
  }
  if (ok && status != SQLITE_DONE) {
    LogError("SqliteProvider : %s failed: %s\n", sql, sqlite3_errmsg(database));
    ok = false;
  }
  sqlite3_finalize(statement);
  if (!ok) {
    FreeQueryResult(result);
    return nullptr;
  }
  return result;
}

}  // namespace

const DatabaseProvider& SqliteProvider() {
  static const DatabaseProvider provider{Open, ExecuteUpdate, ExecuteQuery, Close};
  return provider;
}

}  // namespace vx
