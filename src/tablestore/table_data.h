// The in-memory data store: table definitions (the data dictionary), tables of typed rows, selections
// (result sets) and the reading of values by column name.
//
// Records are plain structures allocated zeroed with calloc and released with free, like every value
// buffer: a value buffer holds its bytes followed by one zero byte, with its length kept beside it; a
// NULL value is a null buffer. A table owns its rows; a row handed to AddNewRow becomes the table's. A
// ResultData owns only its nodes. The table list and the data dictionary are process-wide; the list
// operations lock the list they use, the records themselves are not locked. Selections with criteria
// run under the store's parser lock.
//
// Values of date and time columns: type 16 a QelDate (length 4), type 17 a QelTime (length 3), type
// 18 a QelDateTime block from date_time.h (length 11). A date-time block holds pointers into itself,
// so it is freed with free like any buffer but copied only with CopyColumnValue (or CopyQelDateTime),
// never byte-wise by its length.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "tablestore/containers.h"

namespace vx {

// Column type codes, shared by column definitions, row values and criteria.
enum ColumnTypeCode : std::uint8_t {
  kTypeNotSupported = 0,
  kTypeTinyInt = 1,
  kTypeUnsignedTinyInt = 2,
  kTypeSmallInt = 3,
  kTypeUnsignedSmallInt = 4,
  kTypeInt = 5,
  kTypeUnsignedInt = 6,
  kTypeBigInt = 7,
  kTypeUnsignedBigInt = 8,
  kTypeFloat = 9,
  kTypeDouble = 10,
  kTypeReal = 11,
  kTypeDecimal = 12,
  kTypeNumeric = 13,
  kTypeSqlChar = 14,
  kTypeChar = 15,
  kTypeDate = 16,
  kTypeTime = 17,
  kTypeDateTime = 18,
  kTypeBoolean = 19,
  kTypeBlob = 20,
  kTypeClob = 21,
  kTypeText = 22,
};

inline constexpr std::uint8_t kRowStored = 1;
inline constexpr std::uint8_t kRowNew = 2;
inline constexpr std::uint8_t kRowModified = 4;
inline constexpr std::uint8_t kRowDeleted = 8;

inline constexpr std::uint8_t kTableKindTable = 1;
inline constexpr std::uint8_t kTableKindView = 2;

struct AllowedValues {
  char** values;       // range: two texts (lower, upper bound); otherwise null-terminated list
  std::uint8_t range;  // 1 when the list is a range
};

struct ColumnDefinition {
  char* name;
  std::uint8_t type;
  char* default_value;  // value buffer, may be null
  std::int32_t default_length;
  std::uint8_t nullable;
  char* generator_name;  // may be null
  char* description;     // may be null
  std::int32_t max_size;
  std::uint8_t unique;
  AllowedValues* allowed_values;  // may be null
};

struct ForeignKey {
  char* column_name;
  char* referenced_column_name;
  char* referenced_table_name;
};

struct TableConstraints {
  char** primary_key_columns;
  std::int32_t primary_key_count;
  Vector* foreign_keys;  // of ForeignKey, may be null
};

struct TableDefinition {
  char* name;
  char* description;              // may be null
  Vector columns;                 // of ColumnDefinition, in column order
  TableConstraints* constraints;  // may be null
};

struct ViewColumnDefn {
  char* column_name;
  ColumnDefinition* source_column;
};

struct CustomViewDefn {
  std::int32_t column_count;
  char** source_table_names;
  Vector columns;  // of ViewColumnDefn
};

struct RowObject {
  char** values;          // column-count value buffers, owned
  std::int32_t* lengths;  // column-count lengths, owned
  std::uint8_t flags;
  RowObject* next;
};

struct TableData {
  char* name;
  std::uint8_t kind;
  TableDefinition* definition;      // kind 1, not owned
  CustomViewDefn* view_definition;  // kind 2, owned
  std::int32_t column_count;
  std::int32_t row_count;
  RowObject* first_row;
  void* unused;
  Vector auxiliary;
  // The last row of the list (null when empty), kept by the row operations so that appending a row
  // does not walk the whole list: loading a large table stays linear.
  RowObject* last_row;
};

struct ResultNode {
  RowObject* row;  // owned by the table
  ResultNode* next;
};

struct ResultData {
  ResultNode* first_node;
  std::uint8_t kind;
  TableDefinition* definition;
  CustomViewDefn* view_definition;
  std::int32_t row_count;
  std::int32_t column_count;
  ResultNode* cursor;  // null: before the first row
};

inline constexpr std::uint8_t kAllocationOk = 1;
inline constexpr std::uint8_t kAllocationFailed = 99;

// length + 1 zeroed bytes holding length bytes of source and a terminating zero.
[[nodiscard]] std::uint8_t AllocateAndCopy(char** destination, const void* source, std::int32_t length);
[[nodiscard]] std::uint8_t AllocateAndCopyString(char** destination, const char* source);

// The data dictionary. AppendTableDefinition hands the definition to the dictionary for the life of the
// process (the persistence layer's loader would fill it; nothing in the program does).
[[nodiscard]] int AppendTableDefinition(TableDefinition* definition);
TableDefinition* GetTableDefinition(const char* table_name);
// The process-wide data dictionary (a Vector of TableDefinition) and table list (of TableData).
Vector* DataDictionary();
Vector* TableList();

[[nodiscard]] int CreateTable(const char* table_name);
TableData* GetTableDataByName(const char* table_name);
[[nodiscard]] RowObject* CreateNewRowObject(char** values, std::int32_t* lengths);
// 1: the row is the table's. 0 (unknown table, no columns, no memory for a default): the row stays the
// caller's, who frees it with FreeRowObject. A generator that answers -1 leaves the value NULL.
[[nodiscard]] int AddNewRow(const char* table_name, RowObject* row);
[[nodiscard]] ResultData* SelectRows(const char* table_name, const char* criteria);
[[nodiscard]] ResultData* CreateResultData(std::int32_t row_count, std::int32_t column_count, TableData* table);
[[nodiscard]] int AddRowToResultData(RowObject* row, ResultData* result);
RowObject* GotoNextRowObject(ResultData* result);
char* GetColumnValueByName(const char* column_name, std::int32_t* length, ResultData* result);
void FreeResultData(ResultData* result);
void FreeRowObject(RowObject* row, std::int32_t column_count);

// --- Column types -------------------------------------------------------------------------------

// The type code of a data-dictionary type name (case-insensitive; unknown names give 0). Types 14 and
// 15 with a maximum size of 256 or more become 22. A null name logs the unsupported-type error and
// gives 0.
std::uint8_t ColumnTypeFromName(const char* type_name, std::int32_t max_size);
// Bytes in which a numeric value of the type is converted from text: 0 for types outside 0..11.
std::uint8_t ColumnTypeWidth(std::uint8_t type);

// --- Building definitions (data-dictionary loaders and tests) --------------------------------------

// A new definition named `name` with no columns, or null. Free it with FreeTableDefinition unless it
// was handed to AppendTableDefinition.
[[nodiscard]] TableDefinition* NewTableDefinition(const char* name);
// Appends a column (nullable, no default) and returns it, or null.
[[nodiscard]] ColumnDefinition* AddColumnDefinition(TableDefinition* definition, const char* name, std::uint8_t type,
                                                    std::int32_t max_size = 0);
// A column of a definition made by DefineTable.
struct ColumnSpec {
  const char* name;
  std::uint8_t type;
  std::int32_t max_size = 64;
};
// A definition of the given columns, appended to the data dictionary; null when it cannot be built
// (nothing is appended then).
TableDefinition* DefineTable(const char* name, std::initializer_list<ColumnSpec> columns);
// The same with the type given by name (ColumnTypeFromName).
[[nodiscard]] ColumnDefinition* AddColumnDefinitionByTypeName(TableDefinition* definition, const char* name,
                                                              const char* type_name, std::int32_t max_size = 0);
// Copies the bytes as the column's default value: 1, or 0 on allocation failure.
[[nodiscard]] int SetColumnDefault(ColumnDefinition* column, const void* value, std::int32_t length);
// Copies the sequence name as the column's generator: 1 or 0.
[[nodiscard]] int SetColumnGenerator(ColumnDefinition* column, const char* generator_name);
// Copies the primary-key column names (replacing earlier ones): 1 or 0.
[[nodiscard]] int SetPrimaryKey(TableDefinition* definition, const char* const* column_names, std::int32_t count);
// Appends a foreign key (local column, referenced column, referenced table; all copied): 1 or 0.
[[nodiscard]] int AddForeignKey(TableDefinition* definition, const char* column_name,
                                const char* referenced_column_name, const char* referenced_table_name);
// Frees a definition with its columns and constraints; null is accepted.
void FreeTableDefinition(TableDefinition* definition);
// The column named so (case-insensitive), or null.
ColumnDefinition* FindColumnDefinition(const TableDefinition* definition, const char* column_name);

// --- Column values --------------------------------------------------------------------------------

// Copies a value buffer of the given column type into *destination and *destination_length. A
// date-time value (type 18) is copied deeply (CopyQelDateTime); other types byte-wise. A null source is
// copied as NULL. 1, or 0 on allocation failure.
[[nodiscard]] int CopyColumnValue(char** destination, std::int32_t* destination_length, const char* source,
                                  std::int32_t length, std::uint8_t type);
// A value as text for printing (numbers by their stored length, dates in their text form, text as it
// is, blobs in hex); "NULL" for a null value. New string (free), or null on allocation failure.
[[nodiscard]] char* ColumnValueToString(const char* value, std::int32_t length, std::uint8_t type);

// --- Further operations ---------------------------------------------------------------------------

// Replaces a column's value of a row of the table (a copy of length bytes), sets the modified flag and
// notifies the table's listeners. 0 for a null row, an unknown table or column, a primary-key column or
// an allocation failure.
[[nodiscard]] int UpdateRowObject(const char* table_name, RowObject* row, const char* column_name, const void* value,
                                  std::int32_t length);
// Removes a row of the table: a stored row (flag 1) is only marked deleted (flag 8), any other row is
// unlinked and freed. Listeners are notified with the deleted flag set. 1, or 0 when the row is not
// in the table.
int DeleteRowObject(const char* table_name, RowObject* row);
// Deletes every row that satisfies the criteria (all rows for null). 1, or 0 when the selection fails.
int DeleteRowObjectByCriteria(const char* table_name, const char* criteria);
// Unlinks and frees every row of the table, whatever its flags. 1, or 0 (null name, unknown table).
int DeleteAllTableRowObjects(const char* table_name);
// The type of the named column of the result's table (case-insensitive), 0 when unknown.
std::uint8_t GetColumnTypeByName(const char* column_name, const ResultData* result);
// The name of the column at the index, or null.
const char* GetColumnNameByIndex(std::int32_t index, const ResultData* result);
// Puts the cursor back before the first row.
void ResetResultDataCursor(ResultData* result);
// Moves the cursor to the row at the 0-based index and returns it, or null (cursor unchanged).
RowObject* SelectRowByRowIdx(ResultData* result, std::int32_t index);
// Orders the result's rows by the named column (stable; NULL first; ascending when ascending is 1)
// and resets the cursor. 1, or 0 for an unknown column.
int SortResultSet(ResultData* result, const char* column_name, int ascending);
// The name of the table a result was selected from (the definition's name, or the view's table).
const char* GetTableNameFromResultData(const ResultData* result);
// The name of the table that holds the view definition, or null.
const char* GetTableNameOfView(const CustomViewDefn* view);
// Removes the table from the table list and frees it with its rows (the definition stays in the
// dictionary). Null is accepted.
void FreeTableData(TableData* table);
// Logs the table's rows (not those marked deleted) at debug level.
void PrintTableData(const char* table_name);
void PrintResultData(const ResultData* result);
// The table as text: a line of column names, then one line per row (not those marked deleted), values
// separated by tabs. New string (free), or null.
[[nodiscard]] char* ToStringTableData(const char* table_name);
// The column's value in the first row that satisfies the criteria, as a new value buffer (free) with
// its length, or null.
[[nodiscard]] char* GetColumnValue(const char* table_name, const char* criteria, const char* column_name,
                                   std::int32_t* length);
// Ordering of a table list by table name (case-sensitive).
std::int8_t SortTableByName(const VectorNode* new_node, const VectorNode* existing_node);
// Frees every table (with its rows) and every definition of the data dictionary, leaving both lists
// empty (process end, tests).
void ResetTableStore();

}  // namespace vx
