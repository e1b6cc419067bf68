// The SQLite database provider of the table store (host builds that have SQLite). Its connection
// parameters name the database file in data_source; user and password are not used.
#pragma once

#include "tablestore/store_connections.h"

namespace vx {

// The provider's operations, to be installed with RegisterDatabaseProvider("SQLITE", ...).
const DatabaseProvider& SqliteProvider();

}  // namespace vx
