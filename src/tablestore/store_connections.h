// Store connections: the database providers, the data-source map (table name -> connection name), the
// connection pool (named groups of connection handles) and the statements run through them.
//
// All of it is process-wide and empty until the store's initialisation sets it up with
// RegisterDatabaseProvider, AddDataSourceMapEntry and AddConnectionGroup; ResetStoreConnections
// closes every connection and forgets the set-up. Set-up and reset are done while no other thread
// uses the store. Handles are checked out per thread through their owner field (a group of one
// handle is shared by all threads under owner 1); the pool's bookkeeping is locked per group, a
// connection itself is used by one thread at a time.
#pragma once

#include <cstdint>

#include "tablestore/containers.h"

namespace vx {

// Where a connection goes. Owned copies; every text but the names may be null.
struct StoreConnectionParameters {
  char* connection_name;
  char* provider_name;  // "ODBC" or "SQLITE"
  char* data_source;    // the provider's database: a DSN, a file path
  char* user;
  char* password;
};

struct ConnectionHandle {
  char* connection_name;        // owned copy
  std::int32_t provider_index;  // slot in the provider table: 0 or 1
  std::int64_t owner_thread;    // thread id, 1 for a group's only handle, -1 when free
  std::int32_t reserved;        // always 0
  std::int64_t opened_at;       // seconds since 1970
  void* connection;             // the provider's connection
};

struct ConnectionGroup {
  char* name;      // owned copy
  Vector handles;  // of ConnectionHandle
};

struct DataSourceMapEntry {
  char* table_name;       // owned copy, matched case-insensitively
  char* connection_name;  // owned copy
};

// One row of a query result: column-count value buffers (zero-terminated, null for NULL) and lengths.
struct QueryRow {
  char** values;
  std::int32_t* lengths;
  QueryRow* next;
};

// A query's result as a provider delivers it. Integer columns are 8-byte little-endian integers
// (type 7), floating ones 8-byte doubles (type 10), text is text (type 22), bytes are type 20.
struct QueryResult {
  std::int32_t column_count;
  char** column_names;         // owned copies
  std::uint8_t* column_types;  // column type codes of the table store
  std::int32_t row_count;
  QueryRow* first_row;
  QueryRow* cursor;  // null: before the first row
};

// What a provider offers. Every operation is called with a connection that `open` returned.
struct DatabaseProvider {
  void* (*open)(const StoreConnectionParameters* parameters);        // null on failure
  int (*execute_update)(void* connection, const char* sql);          // nonzero on success
  QueryResult* (*execute_query)(void* connection, const char* sql);  // null on failure
  void (*close)(void* connection);
};

inline constexpr std::int32_t kProviderSlotCount = 2;
inline constexpr const char* kProviderNames[kProviderSlotCount] = {"ODBC", "SQLITE"};

// A handle older than this many seconds is replaced by a newly opened one before it is handed out.
inline constexpr std::int64_t kConnectionMaxAgeSeconds = 27901;

// --- set-up, as the store's initialisation does it ---
// Installs the provider in the slot named `name` ("ODBC" or "SQLITE"): 1, or 0 for another name.
[[nodiscard]] int RegisterDatabaseProvider(const char* name, const DatabaseProvider& provider);
// Maps a table to a connection name: 1, or 0 when memory runs out.
[[nodiscard]] int AddDataSourceMapEntry(const char* table_name, const char* connection_name);
// Adds the group `parameters.connection_name` with handle_count handles opened with the parameters
// (which are remembered for re-opening): 1, or 0 when a connection cannot be opened, the name is
// taken or memory runs out (nothing is added then).
[[nodiscard]] int AddConnectionGroup(const StoreConnectionParameters& parameters, std::int32_t handle_count);
// Closes every connection and empties the pool, the data-source map, the remembered parameters and
// the provider table.
void ResetStoreConnections();

// --- lookups ---
DataSourceMapEntry* GetDataSourceMapEntry(const char* table_name);
// The entry's connection name (the map's own string), or null after an error line.
const char* GetConnectionName(const char* table_name);
// A handle for the calling thread from the group named connection_name (null: the pool's only
// group), or null.
ConnectionHandle* GetConnectionHandle(const char* connection_name);
// Frees the caller's handle of the group: 1 when one was released.
int ReleaseConnectionHandle(const char* connection_name);

// --- statements ---
// A new handle (owner -1) connected through the parameters' provider, or null.
[[nodiscard]] ConnectionHandle* OpenDBConnection(const StoreConnectionParameters* parameters);
// Closes the provider's connection and frees the handle. Null is accepted.
void CloseDBConnection(ConnectionHandle* handle);
[[nodiscard]] int ExecuteUpdate(ConnectionHandle* handle, const char* sql);
[[nodiscard]] QueryResult* ExecuteQuery(ConnectionHandle* handle, const char* sql);

// --- query results ---
// Moves the cursor to the next row (the first after null) and returns it; null at the end, after
// which the cursor starts again at the first row.
QueryRow* NextQueryRow(QueryResult* result);
// The value of the named column (case-insensitive) in the row under the cursor, or null.
const char* GetQueryColumnValue(const QueryResult* result, const char* column_name, std::int32_t* length);
void FreeQueryResult(QueryResult* result);

}  // namespace vx
