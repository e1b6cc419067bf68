#include "tablestore/store_connections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/time_source.h"
#include "fake_time.h"
#include "tablestore/sequence_generator.h"
#include "tablestore/table_data.h"
#include "test_log.h"

namespace vx::test {
namespace {

// A provider whose connections are numbered objects: it records what was opened and closed and can
// be told to refuse to open. It runs no SQL: the pool's bookkeeping is under test here, the SQL goes
// to SQLite in the sequence tests.
struct CountingProvider {
  static inline int opened = 0;
  static inline std::vector<int> closed;
  static inline bool refuse = false;

  static void* Open(const StoreConnectionParameters*) {
    if (refuse) return nullptr;
    return new int(++opened);
  }
  static int Update(void*, const char*) { return 1; }
  static QueryResult* Query(void*, const char*) {
    return static_cast<QueryResult*>(std::calloc(1, sizeof(QueryResult)));
  }
  static void Close(void* connection) {
    closed.push_back(*static_cast<int*>(connection));
    delete static_cast<int*>(connection);
  }
  static DatabaseProvider Table() { return {Open, Update, Query, Close}; }
};

int ConnectionNumber(const ConnectionHandle* handle) {
  return handle != nullptr ? *static_cast<const int*>(handle->connection) : 0;
}

StoreConnectionParameters Parameters(const char* name, const char* provider = "ODBC") {
  return {const_cast<char*>(name), const_cast<char*>(provider), const_cast<char*>("dsn"), nullptr, nullptr};
}

class ConnectionPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CountingProvider::opened = 0;
    CountingProvider::closed.clear();
    CountingProvider::refuse = false;
    ASSERT_EQ(RegisterDatabaseProvider("ODBC", CountingProvider::Table()), 1);
  }
  void TearDown() override { ResetStoreConnections(); }

  FakeTime fake_;
  ScopedTimeSourceOverride time_{fake_};
};

TEST_F(ConnectionPoolTest, OpenFindsTheProviderSlotByExactName) {
  EXPECT_EQ(RegisterDatabaseProvider("MYSQL", CountingProvider::Table()), 0);
  ASSERT_EQ(RegisterDatabaseProvider("SQLITE", CountingProvider::Table()), 1);
  ScopedTestLog log(4);
  for (const char* name : {"odbc", "Sqlite", "MYSQL", ""}) {
    const StoreConnectionParameters parameters = Parameters("c", name);
    EXPECT_EQ(OpenDBConnection(&parameters), nullptr) << name;
  }
  const StoreConnectionParameters parameters = Parameters("c", "SQLITE");
  ConnectionHandle* handle = OpenDBConnection(&parameters);
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(handle->connection_name, "c");
  EXPECT_EQ(handle->provider_index, 1);
  EXPECT_EQ(handle->owner_thread, -1);
  EXPECT_EQ(handle->reserved, 0);
  EXPECT_EQ(handle->opened_at, fake_.UnixSeconds());
  CloseDBConnection(handle);
  EXPECT_EQ(CountingProvider::closed, std::vector<int>{1});
  EXPECT_TRUE(log.Has("[TRACE]", "## Inside OpenDBConnection ##"));
}

TEST_F(ConnectionPoolTest, StatementsWithoutHandleOrTextAreRefused) {
  const StoreConnectionParameters parameters = Parameters("c");
  ConnectionHandle* handle = OpenDBConnection(&parameters);
  ASSERT_NE(handle, nullptr);
  ScopedTestLog log(4);
  EXPECT_EQ(ExecuteUpdate(nullptr, "update T set A = 1;"), 0);
  EXPECT_EQ(ExecuteQuery(nullptr, "select 1;"), nullptr);
  EXPECT_EQ(ExecuteUpdate(handle, nullptr), 0);
  EXPECT_EQ(ExecuteQuery(handle, nullptr), nullptr);
  EXPECT_EQ(ExecuteUpdate(handle, "update T set A = 1;"), 1);
  QueryResult* result = ExecuteQuery(handle, "select 1;");
  EXPECT_NE(result, nullptr);
  FreeQueryResult(result);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[ERROR] ConnectionHandle NULL in ExecuteUpdate for Query update T set A = 1; ",
                                "[ERROR] ConnectionHandle NULL in ExecuteQuery for Query select 1; ",
                                "[ERROR]  No Query To be Updated ",
                                "[ERROR]  No Query To be Executed ",
                            }));
  CloseDBConnection(handle);
}

TEST_F(ConnectionPoolTest, HandleIsReopenedWhenItIs27901SecondsOld) {
  ASSERT_EQ(AddConnectionGroup(Parameters("main"), 1), 1);
  const ConnectionHandle* first = GetConnectionHandle("main");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->owner_thread, 1);  // the only handle of its group: shared by every thread
  EXPECT_EQ(ConnectionNumber(first), 1);

  struct Step {
    std::uint64_t advance_seconds;
    int connection;  // the connection handed out after the advance
  };
  const Step steps[] = {{27900, 1}, {0, 1}, {1, 2}, {27900, 2}, {1, 3}};
  ScopedTestLog log(4);
  for (const Step& step : steps) {
    fake_.Advance(step.advance_seconds * 1000);
    const ConnectionHandle* handle = GetConnectionHandle("main");
    EXPECT_EQ(ConnectionNumber(handle), step.connection) << "after " << step.advance_seconds;
    EXPECT_EQ(GetConnectionHandle(nullptr), handle);  // the pool's only group
  }
  EXPECT_EQ(CountingProvider::closed, (std::vector<int>{1, 2}));
  EXPECT_TRUE(log.Has("[DEBUG]", " main : Connection Established"));
}

TEST_F(ConnectionPoolTest, FailedReopenKeepsTheOldHandleForTheNextTry) {
  ASSERT_EQ(AddConnectionGroup(Parameters("main"), 1), 1);
  fake_.Advance(27901ull * 1000);
  CountingProvider::refuse = true;
  {
    ScopedTestLog log(4);
    EXPECT_EQ(GetConnectionHandle("main"), nullptr);
    EXPECT_TRUE(log.Has("[ERROR]",
                        "Cannot return connection handle. Error in opening connection while re-establishing "
                        "connection hanlde."));
  }
  CountingProvider::refuse = false;
  EXPECT_EQ(ConnectionNumber(GetConnectionHandle("main")), 2);
  EXPECT_EQ(CountingProvider::closed, std::vector<int>{1});
}

TEST_F(ConnectionPoolTest, ThreadsCheckOutTheirOwnHandles) {
  ASSERT_EQ(AddConnectionGroup(Parameters("pair"), 2), 1);
  ASSERT_EQ(AddConnectionGroup(Parameters("other"), 1), 1);
  EXPECT_EQ(GetConnectionHandle(nullptr), nullptr);  // two groups: a name is needed
  EXPECT_EQ(GetConnectionHandle("PAIR"), nullptr);   // group names are case-sensitive

  const ConnectionHandle* mine = GetConnectionHandle("pair");
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->owner_thread, static_cast<std::int64_t>(CurrentThreadId()));
  EXPECT_EQ(GetConnectionHandle("pair"), mine);

  auto from_thread = [](bool release) {
    int number = 0;
    std::thread([&] {
      number = ConnectionNumber(GetConnectionHandle("pair"));
      if (release) ReleaseConnectionHandle("pair");
    }).join();
    return number;
  };
  // A second thread holds the free handle until told to let it go (thread ids may be reused once a
  // thread has ended, so it stays alive while the others ask).
  std::promise<int> taken;
  std::promise<void> release;
  std::thread holder([&] {
    taken.set_value(ConnectionNumber(GetConnectionHandle("pair")));
    release.get_future().wait();
    ReleaseConnectionHandle("pair");
  });
  EXPECT_EQ(taken.get_future().get(), 2);
  EXPECT_EQ(from_thread(true), 0);  // none free
  EXPECT_EQ(ReleaseConnectionHandle("pair"), 1);
  EXPECT_EQ(ReleaseConnectionHandle("pair"), 0);
  EXPECT_EQ(from_thread(true), 1);
  EXPECT_EQ(from_thread(true), 1);  // released again
  release.set_value();
  holder.join();
  EXPECT_EQ(from_thread(true), 1);  // the first free handle
}

TEST_F(ConnectionPoolTest, GroupIsAddedWholeOrNotAtAll) {
  EXPECT_EQ(AddConnectionGroup(Parameters("x", "SQLITE"), 1), 0);  // no provider in that slot
  CountingProvider::refuse = true;
  EXPECT_EQ(AddConnectionGroup(Parameters("x"), 2), 0);
  CountingProvider::refuse = false;
  ASSERT_EQ(AddConnectionGroup(Parameters("x"), 2), 1);
  EXPECT_EQ(AddConnectionGroup(Parameters("x"), 1), 0);  // the name is taken
  EXPECT_EQ(CountingProvider::opened, 2);
  ResetStoreConnections();
  EXPECT_EQ(CountingProvider::closed.size(), 2u);
  EXPECT_EQ(GetConnectionHandle("x"), nullptr);
}

TEST_F(ConnectionPoolTest, DataSourceMapMatchesTableNamesWithoutCase) {
  ASSERT_EQ(AddDataSourceMapEntry("Orders", "main"), 1);
  ScopedTestLog log(4);
  EXPECT_STREQ(GetConnectionName("ORDERS"), "main");
  EXPECT_EQ(GetConnectionName("Items"), nullptr);
  EXPECT_EQ(GetConnectionName(nullptr), nullptr);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[TRACE] @@@ Inside GetDataSourceMapEntry @@@",
                                "[TRACE] @@@ Inside GetDataSourceMapEntry @@@",
                                "[ERROR] No DataSourceMap Entry for Table name Items ",
                                "[TRACE] @@@ Inside GetDataSourceMapEntry @@@",
                                "[ERROR] No DataSourceMap Entry for Table name (null) ",
                            }));
}

TEST(SequenceWithoutStoreTest, UpdateSeqGenReportsEachMissingPiece) {
  ScopedTestLog log(4);
  EXPECT_EQ(UpdateSeqGen("Orders", "ORDER_SEQ"), 0);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{
                "[TRACE] Inside UpdateSeqGen ",
                "[TRACE] Query select * from SeqGenState where SEQNAME = 'ORDER_SEQ';",
                "[TRACE] @@@ Inside GetDataSourceMapEntry @@@",
                "[ERROR] No DataSourceMap Entry for Table name Orders ",
                "[ERROR] ConnectionHandle NULL in ExecuteQuery for Query select * from SeqGenState where SEQNAME = "
                "'ORDER_SEQ'; ",
                "[ERROR] Table doesn't Exists for UpdateSeqGen",
            }));
}

TEST(SequenceWithoutStoreTest, GenerateIdNeedsTheSequenceCache) {
  ColumnDefinition column{};
  column.generator_name = const_cast<char*>("ORDER_SEQ");
  ScopedTestLog log(4);
  EXPECT_EQ(GenerateInstanceID(), -1);  // without reserving a batch it could not keep
  EXPECT_EQ(GenerateID("Orders", &column), -1);
  ASSERT_EQ(InitSequenceCache(), 1);
  EXPECT_EQ(GenerateID("Orders", &column), -1);  // no entry for the key
  FreeSequenceCache();
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[TRACE] Inside GenerateID ",
                                "[TRACE] AutoId Key INSTANCE_ID",
                                "[TRACE] Cannot generate ID for key INSTANCE_ID.",
                                "[TRACE] Inside GenerateID ",
                                "[TRACE] AutoId Key ORDER_SEQ",
                                "[TRACE] Cannot generate ID for key ORDER_SEQ.",
                                "[TRACE] Inside GenerateID ",
                                "[TRACE] AutoId Key ORDER_SEQ",
                                "[TRACE] Cannot generate ID for key ORDER_SEQ.",
                            }));
}

TEST(SequenceWithoutStoreTest, DefinitionWithoutColumnsEndsTheWalk) {
  EXPECT_EQ(SequenceGenerator(), 1);  // an empty dictionary
  ASSERT_EQ(AppendTableDefinition(NewTableDefinition("Empty")), 1);
  EXPECT_EQ(SequenceGenerator(), 0);
  ResetTableStore();
}

}  // namespace
}  // namespace vx::test
