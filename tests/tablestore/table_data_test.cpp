#include "tablestore/table_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tablestore/date_time.h"
#include "test_log.h"

namespace vx::test {
namespace {

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};

TEST(ColumnTypeTest, TypeNamesAreMatchedWithoutCaseAndWideCharColumnsBecomeText) {
  struct Case {
    const char* name;
    std::int32_t max_size;
    std::uint8_t type;
  };
  const Case cases[] = {
      {"qel_sql_int", 0, kTypeInt},
      {"Integer", 0, kTypeInt},
      {"LONG", 0, kTypeInt},
      {"QEL_SQL_UNSIGNED_INT", 0, 6},
      {"bigint", 0, kTypeBigInt},
      {"QEL_SQL_UNSIGNED_LONG_INT", 0, 8},
      {"float", 0, kTypeFloat},
      {"QEL_SQL_REAL", 0, kTypeReal},
      {"QEL_SQL_NUMERIC", 0, 13},
      {"QEL_SQL_CHAR", 255, kTypeSqlChar},
      {"qel_sql_char", 256, kTypeText},
      {"CHAR", 10, kTypeChar},
      {"nchar", 300, kTypeText},
      {"TIMESTAMP", 0, kTypeDateTime},
      {"time", 0, kTypeTime},
      {"BOOLEAN", 0, kTypeBoolean},
      {"blob", 1000, kTypeBlob},
      {"CLOB", 0, kTypeClob},
      {"VARCHAR", 10, kTypeNotSupported},
      {"", 0, kTypeNotSupported},
      {"INT", 0, kTypeNotSupported},
      {"QEL_SQL_NOT_SUPPORTED_TYPE", 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ColumnTypeFromName(c.name, c.max_size), c.type) << c.name;

  ScopedTestLog log(4);
  EXPECT_EQ(ColumnTypeFromName(nullptr, 0), kTypeNotSupported);
  EXPECT_TRUE(log.Has("[ERROR]", "Column data type not supported - Error while creating column definition."));
}

TEST(ColumnTypeTest, WidthsOfTheNumericTypes) {
  const std::uint8_t expected[] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (std::uint8_t type = 0; type < sizeof expected; ++type) EXPECT_EQ(ColumnTypeWidth(type), expected[type]);
  EXPECT_EQ(ColumnTypeWidth(255), 0);
}

TEST(AllocationHelperTest, CopiesAreZeroTerminated) {
  char* copy = nullptr;
  ASSERT_EQ(AllocateAndCopy(&copy, "abcdef", 3), kAllocationOk);
  EXPECT_EQ(std::memcmp(copy, "abc\0", 4), 0);
  std::free(copy);
  ASSERT_EQ(AllocateAndCopyString(&copy, "text"), kAllocationOk);
  EXPECT_STREQ(copy, "text");
  std::free(copy);
  ASSERT_EQ(AllocateAndCopy(&copy, nullptr, 0), kAllocationOk);
  EXPECT_EQ(copy[0], '\0');
  std::free(copy);
}

TEST(EmptyDictionaryTest, CreateTableFailsWithOnlyItsTraceLine) {
  ScopedTestLog log(4);
  EXPECT_EQ(GetTableDefinition(nullptr), nullptr);  // empty dictionary: not even the null-name error
  EXPECT_EQ(CreateTable("Agentparams"), 0);
  EXPECT_EQ(SelectRows("Agentparams", "PARAM_NAME='RESOURCE_ID'"), nullptr);
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"[TRACE] @@@ Inside CreateTable @@@", "[TRACE] @@@ Inside SelectRows @@@",
                                      "[TRACE] @@@ Inside GetTableDataByName @@@"}));
}

// A process-wide store holding table Agentparams (columns PARAM_NAME, param_Value, ID with default 7,
// STAMP a date-time), emptied again after each test.
class TableStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TableDefinition* definition = NewTableDefinition("Agentparams");
    ASSERT_NE(definition, nullptr);
    ASSERT_NE(AddColumnDefinitionByTypeName(definition, "PARAM_NAME", "CHAR", 64), nullptr);
    ASSERT_NE(AddColumnDefinitionByTypeName(definition, "param_Value", "TEXT"), nullptr);
    ColumnDefinition* id = AddColumnDefinitionByTypeName(definition, "ID", "INTEGER");
    const std::int32_t seven = 7;
    ASSERT_EQ(SetColumnDefault(id, &seven, sizeof seven), 1);
    ASSERT_EQ(SetColumnGenerator(id, "NO_SUCH_SEQUENCE"), 1);  // no sequence cache: the default applies
    ASSERT_NE(AddColumnDefinitionByTypeName(definition, "STAMP", "DATETIME"), nullptr);
    const char* key[] = {"PARAM_NAME"};
    ASSERT_EQ(SetPrimaryKey(definition, key, 1), 1);
    ASSERT_EQ(AddForeignKey(definition, "ID", "ID", "Other"), 1);
    ASSERT_EQ(AppendTableDefinition(definition), 1);
    ASSERT_EQ(CreateTable("Agentparams"), 1);
  }
  void TearDown() override { ResetTableStore(); }

  // Adds a row: name and value as text (nullopt for NULL), ID as an integer when given.
  static RowObject* Add(std::optional<std::string> name, std::optional<std::string> value,
                        std::optional<std::int32_t> id = std::nullopt, const char* table = "Agentparams") {
    auto** values = static_cast<char**>(std::calloc(4, sizeof(char*)));
    auto* lengths = static_cast<std::int32_t*>(std::calloc(4, sizeof(std::int32_t)));
    auto put = [&](int index, const void* bytes, std::int32_t length) {
      EXPECT_EQ(AllocateAndCopy(&values[index], bytes, length), kAllocationOk);
      lengths[index] = length;
    };
    if (name) put(0, name->data(), static_cast<std::int32_t>(name->size()));
    if (value) put(1, value->data(), static_cast<std::int32_t>(value->size()));
    if (id) put(2, &*id, sizeof *id);
    RowObject* row = CreateNewRowObject(values, lengths);
    if (AddNewRow(table, row) != 1) {
      FreeRowObject(row, 4);
      return nullptr;
    }
    return row;
  }

  // The named column of every selected row, read through the cursor.
  static std::vector<std::string> Column(ResultData* result, const char* column) {
    std::vector<std::string> texts;
    while (GotoNextRowObject(result) != nullptr) {
      std::int32_t length = -1;
      const char* value = GetColumnValueByName(column, &length, result);
      texts.push_back(value != nullptr ? std::string(value, static_cast<std::size_t>(length)) : "NULL");
    }
    return texts;
  }

  static std::vector<std::string> Select(const char* criteria, const char* column = "param_value") {
    ResultData* result = SelectRows("agentparams", criteria);
    if (result == nullptr) return {"<no result>"};
    std::vector<std::string> texts = Column(result, column);
    FreeResultData(result);
    return texts;
  }
};

TEST_F(TableStoreTest, DefinitionsAndTablesAreFoundWithoutRegardToCase) {
  EXPECT_NE(GetTableDefinition("AGENTPARAMS"), nullptr);
  EXPECT_EQ(GetTableDefinition("Agentparam"), nullptr);
  TableData* table = GetTableDataByName("agentparams");
  ASSERT_NE(table, nullptr);
  EXPECT_STREQ(table->name, "Agentparams");
  EXPECT_EQ(table->column_count, 4);
  EXPECT_EQ(CreateTable("AGENTPARAMS"), 0);  // exists already
  EXPECT_EQ(GetTableDataByName(nullptr), nullptr);

  ScopedTestLog log(4);
  EXPECT_EQ(GetTableDefinition(nullptr), nullptr);
  EXPECT_TRUE(log.Has("[ERROR]", "Table Name is NULL."));
}

TEST_F(TableStoreTest, NewRowsTakeDefaultsWhereTheirValueIsNull) {
  RowObject* with_id = Add("A", "1", 42);
  RowObject* without_id = Add("B", std::nullopt);
  ASSERT_NE(with_id, nullptr);
  ASSERT_NE(without_id, nullptr);
  EXPECT_EQ(with_id->flags, kRowNew);
  std::int32_t id = 0;
  std::memcpy(&id, with_id->values[2], sizeof id);
  EXPECT_EQ(id, 42);
  // Generator without a sequence, then the default: a copy of its bytes with its length.
  const ColumnDefinition* column = FindColumnDefinition(GetTableDefinition("Agentparams"), "id");
  ASSERT_NE(without_id->values[2], nullptr);
  EXPECT_NE(without_id->values[2], column->default_value);
  EXPECT_EQ(without_id->lengths[2], 4);
  std::memcpy(&id, without_id->values[2], sizeof id);
  EXPECT_EQ(id, 7);
  EXPECT_EQ(without_id->values[1], nullptr);  // no default: stays NULL
  EXPECT_EQ(GetTableDataByName("Agentparams")->row_count, 2);

  // An unknown table refuses the row, which stays the caller's.
  EXPECT_EQ(Add("C", "3", std::nullopt, "Nothing"), nullptr);
}

TEST_F(TableStoreTest, CursorStartsBeforeTheFirstRowAndRestartsAfterTheEnd) {
  Add("A", "first");
  Add("B", std::nullopt);
  Add("C", "third");
  ResultData* result = SelectRows("Agentparams", nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->row_count, 3);
  std::int32_t length = -1;
  EXPECT_EQ(GetColumnValueByName("param_Value", &length, result), nullptr);  // before the first row
  EXPECT_EQ(Column(result, "PARAM_VALUE"), (std::vector<std::string>{"first", "NULL", "third"}));
  EXPECT_EQ(GotoNextRowObject(result), GetTableDataByName("Agentparams")->first_row);  // restarts
  EXPECT_EQ(GetColumnValueByName("no such column", &length, result), nullptr);
  FreeResultData(result);

  ScopedTestLog log(4);
  FreeResultData(nullptr);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"[TRACE] @@@ Inside FreeResultData @@@"}));
}

TEST_F(TableStoreTest, SelectionsWithCriteria) {
  Add("RESOURCE_ID", "res-1");
  Add("resource_id", "res-2");
  Add("PORT", "8080", 3);
  Add("HOST", "server", 9);
  struct Case {
    const char* criteria;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"PARAM_NAME='RESOURCE_ID'", {"res-1"}},
      {"param_name='resource_id'", {"res-2"}},
      {"PARAM_NAME='NONE'", {}},
      {"ID>5", {"res-1", "res-2", "server"}},
      {"ID<5 or PARAM_NAME='HOST'", {"8080", "server"}},
      {"UNKNOWN='x'", {}},
      {"PARAM_NAME=", {"<no result>"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Select(c.criteria), c.values) << c.criteria;

  ResultData* empty = SelectRows("Agentparams", "PARAM_NAME='NONE'");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GotoNextRowObject(empty), nullptr);
  FreeResultData(empty);
}

TEST_F(TableStoreTest, ConcurrentSelectionsWithCriteriaShareTheParser) {
  Add("RESOURCE_ID", "res-1");
  Add("PORT", "8080");
  auto select_many = [](const char* criteria, const char* expected, int* mismatches) {
    for (int i = 0; i < 200; ++i) {
      if (Select(criteria) != std::vector<std::string>{expected}) ++*mismatches;
    }
  };
  int mismatches_a = 0;
  int mismatches_b = 0;
  std::thread other(select_many, "PARAM_NAME='PORT'", "8080", &mismatches_b);
  select_many("PARAM_NAME='RESOURCE_ID'", "res-1", &mismatches_a);
  other.join();
  EXPECT_EQ(mismatches_a, 0);
  EXPECT_EQ(mismatches_b, 0);
}

TEST_F(TableStoreTest, UpdateRefusesPrimaryKeysAndMarksTheRow) {
  RowObject* row = Add("PORT", "8080");
  ScopedTestLog log(4);
  EXPECT_EQ(UpdateRowObject("Agentparams", row, "param_name", "X", 1), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@"));
  EXPECT_EQ(UpdateRowObject("Agentparams", nullptr, "param_value", "X", 1), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "\t@@@@@ rowPtr passed as parameter in NULL @@@@@ "));
  EXPECT_EQ(UpdateRowObject("Agentparams", row, "nothing", "X", 1), 0);
  EXPECT_EQ(row->flags, kRowNew);

  EXPECT_EQ(UpdateRowObject("Agentparams", row, "PARAM_VALUE", "9090", 4), 1);
  EXPECT_EQ(row->flags, kRowNew | kRowModified);
  EXPECT_EQ(Select(nullptr), (std::vector<std::string>{"9090"}));
}

TEST_F(TableStoreTest, DeletingKeepsStoredRowsMarked) {
  RowObject* stored = Add("A", "stored");
  Add("B", "new");
  Add("C", "other");
  stored->flags |= kRowStored;
  EXPECT_EQ(DeleteRowObject("Agentparams", stored), 1);
  EXPECT_EQ(stored->flags & kRowDeleted, kRowDeleted);
  EXPECT_EQ(DeleteRowObjectByCriteria("Agentparams", "PARAM_NAME='B'"), 1);
  EXPECT_EQ(GetTableDataByName("Agentparams")->row_count, 2);
  EXPECT_EQ(Select(nullptr), (std::vector<std::string>{"stored", "other"}));
  RowObject stranger{};
  EXPECT_EQ(DeleteRowObject("Agentparams", &stranger), 0);

  // Printing leaves out the row marked deleted.
  std::unique_ptr<char, FreeDeleter> text(ToStringTableData("Agentparams"));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "PARAM_NAME\tparam_Value\tID\tSTAMP\nC\tother\t7\tNULL\n");

  ScopedTestLog log(4);
  EXPECT_EQ(DeleteAllTableRowObjects(nullptr), 0);
  EXPECT_EQ(DeleteAllTableRowObjects("Nothing"), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "\t tableName NULL "));
  EXPECT_TRUE(log.Has("[ERROR]", "\t GetTableDataByName returned NULL "));
  EXPECT_EQ(DeleteAllTableRowObjects("agentparams"), 1);
  EXPECT_EQ(Select(nullptr), std::vector<std::string>{});
}

// Rows appended after the last row was deleted, or after the table was emptied, follow the rows left.
TEST_F(TableStoreTest, AppendingAfterDeletionsKeepsTheOrder) {
  Add("A", "first");
  RowObject* last = Add("B", "second");
  EXPECT_EQ(DeleteRowObject("Agentparams", last), 1);
  Add("C", "third");
  EXPECT_EQ(Select(nullptr), (std::vector<std::string>{"first", "third"}));
  EXPECT_EQ(DeleteAllTableRowObjects("Agentparams"), 1);
  Add("D", "fourth");
  Add("E", "fifth");
  EXPECT_EQ(Select(nullptr), (std::vector<std::string>{"fourth", "fifth"}));
}

TEST_F(TableStoreTest, ResultSetsSortAndSeekByIndex) {
  Add("A", "a", 3);
  Add("B", "b", -1);
  Add("C", "c", 20);
  Add("D", "d");  // default 7
  ResultData* result = SelectRows("Agentparams", nullptr);
  ASSERT_NE(result, nullptr);
  struct Case {
    const char* column;
    int ascending;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"ID", 1, {"b", "a", "d", "c"}},
      {"id", 0, {"c", "d", "a", "b"}},
      {"PARAM_NAME", 0, {"d", "c", "b", "a"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SortResultSet(result, c.column, c.ascending), 1);
    EXPECT_EQ(Column(result, "param_value"), c.order) << c.column;
  }
  EXPECT_EQ(SortResultSet(result, "nothing", 1), 0);

  EXPECT_EQ(SelectRowByRowIdx(result, 4), nullptr);
  ASSERT_NE(SelectRowByRowIdx(result, 1), nullptr);
  std::int32_t length = 0;
  EXPECT_EQ(std::string(GetColumnValueByName("param_value", &length, result), 1), "c");
  ResetResultDataCursor(result);
  EXPECT_EQ(GetColumnValueByName("param_value", &length, result), nullptr);

  EXPECT_STREQ(GetColumnNameByIndex(3, result), "STAMP");
  EXPECT_EQ(GetColumnNameByIndex(4, result), nullptr);
  EXPECT_EQ(GetColumnTypeByName("param_name", result), kTypeChar);
  EXPECT_EQ(GetColumnTypeByName("Stamp", result), kTypeDateTime);
  EXPECT_STREQ(GetTableNameFromResultData(result), "Agentparams");
  FreeResultData(result);
}

TEST_F(TableStoreTest, DateTimeValuesAreCopiedWholeAndPrinted) {
  ColumnDefinition* stamp = FindColumnDefinition(GetTableDefinition("Agentparams"), "STAMP");
  QelDateTime* when = ConvertStringToQelDateTime("2021-03-04 05:06:07");
  ASSERT_EQ(SetColumnDefault(stamp, when, kQelDateTimeLength), 1);
  FreeQelDateTime(when);

  RowObject* row = Add("A", "a");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->lengths[3], kQelDateTimeLength);
  const auto* value = reinterpret_cast<const QelDateTime*>(row->values[3]);
  EXPECT_NE(value->date, reinterpret_cast<const QelDateTime*>(stamp->default_value)->date);
  std::unique_ptr<char, FreeDeleter> text(ToStringTableData("Agentparams"));
  EXPECT_STREQ(text.get(), "PARAM_NAME\tparam_Value\tID\tSTAMP\nA\ta\t7\t2021-03-04 05:06:07\n");

  std::int32_t length = 0;
  std::unique_ptr<char, FreeDeleter> copy(GetColumnValue("Agentparams", "PARAM_NAME='A'", "stamp", &length));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(length, kQelDateTimeLength);
  std::unique_ptr<char, FreeDeleter> copy_text(QelDateTimeToString(reinterpret_cast<QelDateTime*>(copy.get())));
  EXPECT_STREQ(copy_text.get(), "2021-03-04 05:06:07");

  // A value that is no record (the 4-byte 0 ending a statement chain) is read by its own length.
  const std::int32_t zero = 0;
  ASSERT_EQ(UpdateRowObject("Agentparams", row, "STAMP", &zero, sizeof zero), 1);
  EXPECT_EQ(row->lengths[3], 4);
  text.reset(ToStringTableData("Agentparams"));
  EXPECT_STREQ(text.get(), "PARAM_NAME\tparam_Value\tID\tSTAMP\nA\ta\t7\t00000000\n");
  copy.reset(GetColumnValue("Agentparams", "PARAM_NAME='A'", "stamp", &length));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy.get(), static_cast<std::size_t>(length)), std::string(4, '\0'));
}

TEST_F(TableStoreTest, GetColumnValueExplainsWhatItDidNotFind) {
  Add("A", std::nullopt);
  ScopedTestLog log(4);
  std::int32_t length = 0;
  EXPECT_EQ(GetColumnValue("Nothing", nullptr, "param_value", &length), nullptr);
  EXPECT_TRUE(log.Has("[ERROR]", "Error in executing SelectRows(Nothing,(null))"));
  EXPECT_EQ(GetColumnValue("Agentparams", "PARAM_NAME='B'", "param_value", &length), nullptr);
  EXPECT_NE(ReadWholeFile(log.file()).find("[TRACE] No such row available in the Agentparams for PARAM_NAME='B'"),
            std::string::npos);
  EXPECT_EQ(GetColumnValue("Agentparams", "PARAM_NAME='A'", "param_value", &length), nullptr);
  EXPECT_TRUE(log.Has("[ERROR]", "columnValue is NULL for :param_value"));
}

TEST_F(TableStoreTest, FreeTableDataTakesTheTableOffTheList) {
  Add("A", "a");
  FreeTableData(GetTableDataByName("Agentparams"));
  EXPECT_EQ(GetTableDataByName("Agentparams"), nullptr);
  EXPECT_EQ(CreateTable("Agentparams"), 1);  // the definition stays
  EXPECT_EQ(Select(nullptr), std::vector<std::string>{});
}

}  // namespace
}  // namespace vx::test
