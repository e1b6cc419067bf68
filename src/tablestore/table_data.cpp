#include "tablestore/table_data.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ascii_text.h"
#include "logging/address_lock.h"
#include "logging/logger.h"
#include "tablestore/criteria.h"
#include "tablestore/date_time.h"
#include "tablestore/notifications.h"
#include "tablestore/sequence_generator.h"

namespace vx {
namespace {

// Both lists live in zero-initialised static storage: an empty unordered vector needs no set-up.
Vector g_data_dictionary;
Vector g_table_list;

bool EqualNoCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && CompareIgnoreAsciiCase(a, b) == 0;
}

struct TypeName {
  const char* name;
  std::uint8_t type;
};

constexpr TypeName kTypeNames[] = {
    {"QEL_SQL_NOT_SUPPORTED_TYPE", kTypeNotSupported},
    {"QEL_SQL_TINYINT", kTypeTinyInt},
    {"QEL_SQL_UNSIGNED_TINYINT", kTypeUnsignedTinyInt},
    {"QEL_SQL_SMALLINT", kTypeSmallInt},
    {"QEL_SQL_UNSIGNED_SMALLINT", kTypeUnsignedSmallInt},
    {"QEL_SQL_INT", kTypeInt},
    {"INTEGER", kTypeInt},
    {"LONG", kTypeInt},
    {"QEL_SQL_UNSIGNED_INT", kTypeUnsignedInt},
    {"BIGINT", kTypeBigInt},
    {"QEL_SQL_UNSIGNED_LONG_INT", kTypeUnsignedBigInt},
    {"QEL_SQL_FLOAT", kTypeFloat},
    {"FLOAT", kTypeFloat},
    {"QEL_SQL_DOUBLE", kTypeDouble},
    {"QEL_SQL_REAL", kTypeReal},
    {"QEL_SQL_DECIMAL", kTypeDecimal},
    {"QEL_SQL_NUMERIC", kTypeNumeric},
    {"QEL_SQL_CHAR", kTypeSqlChar},
    {"CHAR", kTypeChar},
    {"NCHAR", kTypeChar},
    {"QEL_SQL_DATE", kTypeDate},
    {"DATE", kTypeDate},
    {"QEL_SQL_TIME", kTypeTime},
    {"TIME", kTypeTime},
    {"QEL_SQL_DATETIME", kTypeDateTime},
    {"DATETIME", kTypeDateTime},
    {"TIMESTAMP", kTypeDateTime},
    {"BOOLEAN", kTypeBoolean},
    {"QEL_SQL_BLOB", kTypeBlob},
    {"BLOB", kTypeBlob},
    {"QEL_SQL_CLOB", kTypeClob},
    {"CLOB", kTypeClob},
    {"QEL_SQL_TEXT", kTypeText},
    {"TEXT", kTypeText},
};

constexpr std::uint8_t kTypeWidths[] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4};

// The columns that give a table's or result's value positions, and the name and type of one of them.
// A table's columns are ColumnDefinitions, a view's are ViewColumnDefns naming their source column.
const Vector* ColumnsOf(std::uint8_t kind, const TableDefinition* definition, const CustomViewDefn* view) {
  if (kind == kTableKindTable && definition != nullptr) return &definition->columns;
  if (kind == kTableKindView && view != nullptr) return &view->columns;
  return nullptr;
}

const char* ColumnName(std::uint8_t kind, const void* column) {
  if (kind == kTableKindView) return static_cast<const ViewColumnDefn*>(column)->column_name;
  return static_cast<const ColumnDefinition*>(column)->name;
}

// The definition behind a column: itself for a table, the source column for a view (may be null).
const ColumnDefinition* DefinitionOf(std::uint8_t kind, const void* column) {
  if (kind == kTableKindView) return static_cast<const ViewColumnDefn*>(column)->source_column;
  return static_cast<const ColumnDefinition*>(column);
}

// Position of the named column (case-insensitive) and its record, or -1.
std::int32_t FindColumn(std::uint8_t kind, const Vector* columns, const char* name, const void** found) {
  if (columns == nullptr || name == nullptr) return -1;
  std::int32_t index = 0;
  for (const VectorNode* node = columns->head; node != nullptr; node = node->next, ++index) {
    if (EqualNoCase(ColumnName(kind, node->data), name)) {
      if (found != nullptr) *found = node->data;
      return index;
    }
  }
  return -1;
}

std::uint8_t TypeOf(std::uint8_t kind, const void* column) {
  const ColumnDefinition* definition = DefinitionOf(kind, column);
  return definition != nullptr ? definition->type : std::uint8_t{kTypeNotSupported};
}

char* CopyString(const char* text) {
  char* copy = nullptr;
  return AllocateAndCopyString(&copy, text) == kAllocationOk ? copy : nullptr;
}

void FreeColumnDefinition(ColumnDefinition* column) {
  if (column == nullptr) return;
  std::free(column->name);
  std::free(column->default_value);
  std::free(column->generator_name);
  std::free(column->description);
  if (column->allowed_values != nullptr) {
    char** values = column->allowed_values->values;
    if (values != nullptr) {
      if (column->allowed_values->range != 0) {
        std::free(values[0]);
        std::free(values[1]);
      } else {
        for (char** value = values; *value != nullptr; ++value) std::free(*value);
      }
      std::free(values);
    }
    std::free(column->allowed_values);
  }
  std::free(column);
}

void FreeViewDefinition(CustomViewDefn* view) {
  if (view == nullptr) return;
  for (VectorNode* node = view->columns.head; node != nullptr; node = node->next) {
    auto* column = static_cast<ViewColumnDefn*>(node->data);
    std::free(column->column_name);
    std::free(column);
  }
  FreeVector(&view->columns);
  if (view->source_table_names != nullptr) {
    for (char** name = view->source_table_names; *name != nullptr; ++name) std::free(*name);
    std::free(view->source_table_names);
  }
  std::free(view);
}

// Rows that an operation still holds across listener callbacks, which may change the table: delete
// the row, other rows or the whole table. A pinned row that leaves its table meanwhile is only
// unlinked and marked released; the holder frees it when it lets go, so its memory (and address) stays
// its own until then and a row added by a callback can never be mistaken for it. Per thread, like the
// calls that pin: the row records themselves are not locked.
struct RowPin {
  int holders = 0;
  bool released = false;  // unlinked from its table; freed when the last holder lets go
  bool deleting = false;  // DeleteRowObject is notifying about it; a nested delete leaves it to that call
  std::int32_t column_count = 0;
};

std::unordered_map<const RowObject*, RowPin>& RowPins() {
  static thread_local std::unordered_map<const RowObject*, RowPin> pins;
  return pins;
}

RowPin* FindPin(const RowObject* row) {
  auto& pins = RowPins();
  const auto found = pins.find(row);
  return found != pins.end() ? &found->second : nullptr;
}

// Holds rows of one table for the life of the object (see RowPin).
class PinnedRows {
 public:
  explicit PinnedRows(std::int32_t column_count) : column_count_(column_count) {}
  PinnedRows(const PinnedRows&) = delete;
  PinnedRows& operator=(const PinnedRows&) = delete;
  ~PinnedRows() {
    for (RowObject* row : rows_) {
      auto& pins = RowPins();
      const auto found = pins.find(row);
      if (--found->second.holders > 0) continue;
      const bool released = found->second.released;
      const std::int32_t column_count = found->second.column_count;
      pins.erase(found);
      if (released) FreeRowObject(row, column_count);
    }
  }
  // false when memory runs out (the row is not held then).
  [[nodiscard]] bool Pin(RowObject* row) {
    try {
      rows_.reserve(rows_.size() + 1);
      RowPin& pin = RowPins()[row];
      if (pin.holders++ == 0) pin.column_count = column_count_;
    } catch (const std::bad_alloc&) {
      return false;
    }
    rows_.push_back(row);
    return true;
  }

 private:
  std::int32_t column_count_;
  std::vector<RowObject*> rows_;
};

// A row that has left its table's list: freed, or released to the operation that holds it.
void DiscardRow(RowObject* row, std::int32_t column_count) {
  if (RowPin* pin = FindPin(row); pin != nullptr) {
    pin->released = true;
    row->next = nullptr;
    return;
  }
  FreeRowObject(row, column_count);
}

bool ContainsRow(const TableData* table, const RowObject* row) {
  for (const RowObject* current = table->first_row; current != nullptr; current = current->next) {
    if (current == row) return true;
  }
  return false;
}

void FreeRows(TableData* table) {
  RowObject* row = table->first_row;
  while (row != nullptr) {
    RowObject* next = row->next;
    DiscardRow(row, table->column_count);
    row = next;
  }
  table->first_row = nullptr;
  table->last_row = nullptr;
  table->row_count = 0;
}

// Frees the table's parts and record; the caller has taken it off the table list.
void DestroyTable(TableData* table) {
  FreeRows(table);
  std::free(table->name);
  FreeViewDefinition(table->view_definition);
  FreeVector(&table->auxiliary);
  std::free(table);
}

template <typename T>
T ReadAs(const char* value) {
  T result;
  std::memcpy(&result, value, sizeof result);
  return result;
}

bool IsSignedIntegerType(std::uint8_t type) {
  return type == kTypeTinyInt || type == kTypeSmallInt || type == kTypeInt || type == kTypeBigInt;
}
bool IsIntegerType(std::uint8_t type) { return type >= kTypeTinyInt && type <= kTypeUnsignedBigInt; }
bool IsFloatType(std::uint8_t type) { return type == kTypeFloat || type == kTypeDouble || type == kTypeReal; }

bool IsDateOrTimeType(std::uint8_t type) { return type == kTypeDate || type == kTypeTime || type == kTypeDateTime; }

// A date-time record: a value of types 16 to 18 with the record's length (the values of type 18, and
// date or time literals converted as date-times). A value is what its length says, whatever its
// column's type: a DATETIME column may hold the 4-byte integer 0 that ends a statement chain, and
// reading that as a record would read past its buffer.
bool HoldsDateTimeRecord(std::uint8_t type, std::int32_t length) {
  return IsDateOrTimeType(type) && length == kQelDateTimeLength;
}

// Integer values are read by their stored length: rows loaded from XML hold every small integer type
// in 4 bytes, criteria literals the type's width.
bool ReadInteger(const char* value, std::int32_t length, std::uint8_t type, std::int64_t& signed_value,
                 std::uint64_t& unsigned_value) {
  // Each branch widens on its own: a conditional of a signed and an unsigned type would be unsigned.
  const bool is_signed = IsSignedIntegerType(type);
  switch (length) {
    case 1:
      signed_value = is_signed ? std::int64_t{ReadAs<std::int8_t>(value)} : std::int64_t{ReadAs<std::uint8_t>(value)};
      break;
    case 2:
      signed_value = is_signed ? std::int64_t{ReadAs<std::int16_t>(value)} : std::int64_t{ReadAs<std::uint16_t>(value)};
      break;
    case 4:
      signed_value = is_signed ? std::int64_t{ReadAs<std::int32_t>(value)} : std::int64_t{ReadAs<std::uint32_t>(value)};
      break;
    case 8:
      unsigned_value = ReadAs<std::uint64_t>(value);
      signed_value = static_cast<std::int64_t>(unsigned_value);
      return true;
    default:
      return false;
  }
  unsigned_value = static_cast<std::uint64_t>(signed_value);
  return true;
}

bool ReadFloat(const char* value, std::int32_t length, double& result) {
  if (length == 4) {
    result = ReadAs<float>(value);
  } else if (length == 8) {
    result = ReadAs<double>(value);
  } else {
    return false;
  }
  return true;
}

// Orders two values of one column: NULL first, then by the type's own order.
int CompareValues(const char* a, std::int32_t a_length, const char* b, std::int32_t b_length, std::uint8_t type) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  if (IsIntegerType(type)) {
    std::int64_t sa = 0, sb = 0;
    std::uint64_t ua = 0, ub = 0;
    if (ReadInteger(a, a_length, type, sa, ua) && ReadInteger(b, b_length, type, sb, ub)) {
      if (IsSignedIntegerType(type)) return (sa > sb) - (sa < sb);
      return (ua > ub) - (ua < ub);
    }
  } else if (IsFloatType(type)) {
    double fa = 0, fb = 0;
    if (ReadFloat(a, a_length, fa) && ReadFloat(b, b_length, fb)) return (fa > fb) - (fa < fb);
  } else if (HoldsDateTimeRecord(type, a_length) != HoldsDateTimeRecord(type, b_length)) {
    return HoldsDateTimeRecord(type, a_length) ? 1 : -1;  // a value that is no record comes first
  } else if (HoldsDateTimeRecord(type, a_length)) {
    const auto* da = reinterpret_cast<const QelDateTime*>(a);
    const auto* db = reinterpret_cast<const QelDateTime*>(b);
    return IsQelDateTimeLater(da, db) - IsQelDateTimeLater(db, da);
  } else if (type == kTypeDate && a_length >= kQelDateLength && b_length >= kQelDateLength) {
    const auto da = ReadAs<QelDate>(a);
    const auto db = ReadAs<QelDate>(b);
    const long ka = da.year * 10000L + da.month * 100L + da.day;
    const long kb = db.year * 10000L + db.month * 100L + db.day;
    return (ka > kb) - (ka < kb);
  } else if (type == kTypeTime && a_length >= kQelTimeLength && b_length >= kQelTimeLength) {
    const auto ta = ReadAs<QelTime>(a);
    const auto tb = ReadAs<QelTime>(b);
    const long ka = ta.hour * 10000L + ta.minute * 100L + ta.second;
    const long kb = tb.hour * 10000L + tb.minute * 100L + tb.second;
    return (ka > kb) - (ka < kb);
  }
  // Text and anything else: byte-wise over the common length, the shorter first.
  const int order = std::memcmp(a, b, static_cast<std::size_t>(std::min(a_length, b_length)));
  if (order != 0) return order;
  return (a_length > b_length) - (a_length < b_length);
}

void AppendValue(std::string& out, const char* value, std::int32_t length, std::uint8_t type) {
  char* text = ColumnValueToString(value, length, type);
  out += text != nullptr ? text : "?";
  std::free(text);
}

// Column names on one line, separated by tabs.
std::string HeaderLine(std::uint8_t kind, const Vector* columns) {
  std::string line;
  if (columns == nullptr) return line;
  for (const VectorNode* node = columns->head; node != nullptr; node = node->next) {
    if (!line.empty()) line += '\t';
    line += ColumnName(kind, node->data);
  }
  return line;
}

std::string RowLine(std::uint8_t kind, const Vector* columns, const RowObject* row, std::int32_t column_count) {
  std::string line;
  std::int32_t index = 0;
  for (const VectorNode* node = columns != nullptr ? columns->head : nullptr; node != nullptr && index < column_count;
       node = node->next, ++index) {
    if (index > 0) line += '\t';
    AppendValue(line, row->values[index], row->lengths[index], TypeOf(kind, node->data));
  }
  return line;
}

char* ToHeapString(const std::string& text) {
  char* copy = nullptr;
  return AllocateAndCopy(&copy, text.data(), static_cast<std::int32_t>(text.size())) == kAllocationOk ? copy : nullptr;
}

}  // namespace

std::uint8_t AllocateAndCopy(char** destination, const void* source, std::int32_t length) {
  if (destination == nullptr || length < 0 || (source == nullptr && length > 0)) {
    return kAllocationFailed;
  }
  auto* buffer = static_cast<char*>(std::calloc(static_cast<std::size_t>(length) + 1, 1));
  if (buffer == nullptr) {
    LogError("Unable to allocate memory\n");
    return kAllocationFailed;
  }
  if (length > 0) std::memcpy(buffer, source, static_cast<std::size_t>(length));
  *destination = buffer;
  return kAllocationOk;
}

std::uint8_t AllocateAndCopyString(char** destination, const char* source) {
  if (destination == nullptr || source == nullptr) return kAllocationFailed;
  const std::size_t length = std::strlen(source);
  auto* buffer = static_cast<char*>(std::calloc(length + 1, 1));
  if (buffer == nullptr) return kAllocationFailed;
  std::memcpy(buffer, source, length);
  *destination = buffer;
  return kAllocationOk;
}

Vector* DataDictionary() { return &g_data_dictionary; }
Vector* TableList() { return &g_table_list; }

int AppendTableDefinition(TableDefinition* definition) {
  if (definition == nullptr) return 0;
  return AddNewElement(&g_data_dictionary, definition);
}

TableDefinition* GetTableDefinition(const char* table_name) {
  if (g_data_dictionary.head == nullptr) return nullptr;
  if (table_name == nullptr) {
    LogError("Table Name is NULL.\n");
    return nullptr;
  }
  for (VectorNode* node = g_data_dictionary.head; node != nullptr; node = node->next) {
    auto* definition = static_cast<TableDefinition*>(node->data);
    if (EqualNoCase(definition->name, table_name)) return definition;
  }
  return nullptr;
}

int CreateTable(const char* table_name) {
  LogTrace("@@@ Inside CreateTable @@@\n");
  TableDefinition* definition = GetTableDefinition(table_name);
  if (definition == nullptr || GetTableDataByName(table_name) != nullptr) return 0;
  auto* table = static_cast<TableData*>(std::calloc(1, sizeof(TableData)));
  if (table == nullptr) return 0;
  if (AllocateAndCopyString(&table->name, table_name) != kAllocationOk) {
    std::free(table);
    return 0;
  }
  table->kind = kTableKindTable;
  table->definition = definition;
  table->column_count = definition->columns.count;
  InitVector(&table->auxiliary, nullptr);
  if (AddNewElement(&g_table_list, table) != 1) {
    std::free(table->name);
    std::free(table);
    return 0;
  }
  return 1;
}

TableData* GetTableDataByName(const char* table_name) {
  LogTrace("@@@ Inside GetTableDataByName @@@\n");
  if (g_table_list.head == nullptr || table_name == nullptr) return nullptr;
  for (VectorNode* node = g_table_list.head; node != nullptr; node = node->next) {
    auto* table = static_cast<TableData*>(node->data);
    if (EqualNoCase(table->name, table_name)) return table;
  }
  return nullptr;
}

RowObject* CreateNewRowObject(char** values, std::int32_t* lengths) {
  LogTrace("@@@ Inside CreateNewRowObject @@@\n");
  auto* row = static_cast<RowObject*>(std::calloc(1, sizeof(RowObject)));
  if (row == nullptr) return nullptr;
  row->values = values;
  row->lengths = lengths;
  row->flags = kRowNew;
  return row;
}

int AddNewRow(const char* table_name, RowObject* row) {
  LogTrace("@@@ Inside AddNewRow @@@\n");
  TableData* table = GetTableDataByName(table_name);
  if (table == nullptr || row == nullptr || row->values == nullptr || row->lengths == nullptr) return 0;
  const Vector* columns = ColumnsOf(table->kind, table->definition, table->view_definition);
  if (columns == nullptr || columns->count == 0) return 0;

  std::int32_t index = 0;
  for (const VectorNode* node = columns->head; node != nullptr && index < table->column_count;
       node = node->next, ++index) {
    // A view's column takes the generator and default of its source column.
    const ColumnDefinition* column = DefinitionOf(table->kind, node->data);
    if (column == nullptr || row->values[index] != nullptr) continue;
    if (column->generator_name != nullptr) {
      const std::int32_t id = GenerateID(table->name, column);
      // -1 is the generator's failure, not an identifier: the value stays NULL (or takes the default).
      if (id != -1 && AllocateAndCopy(&row->values[index], &id, sizeof id) == kAllocationOk) {
        row->lengths[index] = sizeof id;
      }
    }
    if (row->values[index] == nullptr && column->default_value != nullptr &&
        CopyColumnValue(&row->values[index], &row->lengths[index], column->default_value, column->default_length,
                        column->type) != 1) {
      return 0;
    }
  }

  row->next = nullptr;
  if (table->first_row == nullptr) {
    table->first_row = row;
  } else {
    table->last_row->next = row;
  }
  table->last_row = row;
  ++table->row_count;
  SendNotification(row, table->name);
  return 1;
}

ResultData* SelectRows(const char* table_name, const char* criteria) {
  LogTrace("@@@ Inside SelectRows @@@\n");
  TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) return nullptr;

  if (criteria == nullptr) {
    ResultData* result = CreateResultData(0, table->column_count, table);
    if (result == nullptr) return nullptr;
    for (RowObject* row = table->first_row; row != nullptr; row = row->next) {
      if (AddRowToResultData(row, result) != 1) {
        FreeResultData(result);
        return nullptr;
      }
    }
    result->cursor = nullptr;
    return result;
  }

  // The parser keeps its state in static storage: parse, bind and test under its lock.
  AddressLockGuard lock(ParserLockKey());
  CriteriaNode* tree = ParseCriteria(criteria);
  if (tree == nullptr) return nullptr;
  if (table->kind != kTableKindTable || table->definition == nullptr || table->definition->columns.count == 0) {
    FreeCriteriaNode(tree);
    return nullptr;
  }
  BindCriteria(&table->definition->columns, table->column_count, tree);
  ResultData* result = CreateResultData(0, table->column_count, table);
  if (result == nullptr) {
    FreeCriteriaNode(tree);
    return nullptr;
  }
  for (RowObject* row = table->first_row; row != nullptr; row = row->next) {
    if (EvaluateCriteria(row, tree) == 1 && AddRowToResultData(row, result) != 1) {
      LogError("not able to Add row \n");
      FreeResultData(result);
      FreeCriteriaNode(tree);
      return nullptr;
    }
  }
  result->cursor = nullptr;
  FreeCriteriaNode(tree);
  return result;
}

ResultData* CreateResultData(std::int32_t row_count, std::int32_t column_count, TableData* table) {
  LogTrace("@@@ Inside CreateResultData @@@\n");
  if (table == nullptr) return nullptr;
  auto* result = static_cast<ResultData*>(std::calloc(1, sizeof(ResultData)));
  if (result == nullptr) return nullptr;
  result->kind = table->kind;
  result->definition = table->definition;
  result->view_definition = table->view_definition;
  result->row_count = row_count;
  result->column_count = column_count;
  return result;
}

int AddRowToResultData(RowObject* row, ResultData* result) {
  LogTrace("@@@ Inside AddRowToResultData @@@\n");
  if (result == nullptr) return 0;
  auto* node = static_cast<ResultNode*>(std::calloc(1, sizeof(ResultNode)));
  if (node == nullptr) return 0;
  node->row = row;
  if (result->first_node == nullptr) {
    result->first_node = node;
  } else {
    // While a selection is built the cursor is the last node; otherwise find the end.
    ResultNode* last = result->cursor != nullptr ? result->cursor : result->first_node;
    while (last->next != nullptr) last = last->next;
    last->next = node;
  }
  result->cursor = node;
  ++result->row_count;
  return 1;
}

RowObject* GotoNextRowObject(ResultData* result) {
  LogTrace("@@@ Inside GotoNextRowObject @@@\n");
  if (result == nullptr) return nullptr;
  result->cursor = result->cursor == nullptr ? result->first_node : result->cursor->next;
  return result->cursor != nullptr ? result->cursor->row : nullptr;
}

char* GetColumnValueByName(const char* column_name, std::int32_t* length, ResultData* result) {
  LogTrace("\t@@@@@ GetColumnValueByName() @@@@@\n");
  if (result == nullptr || result->cursor == nullptr || result->cursor->row == nullptr) return nullptr;
  const std::int32_t index = FindColumn(
      result->kind, ColumnsOf(result->kind, result->definition, result->view_definition), column_name, nullptr);
  if (index < 0 || index >= result->column_count) return nullptr;
  const RowObject* row = result->cursor->row;
  if (length != nullptr) *length = row->lengths[index];
  return row->values[index];
}

void FreeResultData(ResultData* result) {
  LogTrace("@@@ Inside FreeResultData @@@\n");
  if (result == nullptr) return;
  ResultNode* node = result->first_node;
  while (node != nullptr) {
    ResultNode* next = node->next;
    std::free(node);
    node = next;
  }
  std::free(result);
}

void FreeRowObject(RowObject* row, std::int32_t column_count) {
  LogTrace("@@@ Inside FreeRowObject @@@\n");
  if (row == nullptr) return;
  if (row->values != nullptr) {
    // Date-time values are single blocks as well: free releases them whole.
    for (std::int32_t i = 0; i < column_count; ++i) std::free(row->values[i]);
  }
  std::free(row->values);
  std::free(row->lengths);
  std::free(row);
}

std::uint8_t ColumnTypeFromName(const char* type_name, std::int32_t max_size) {
  if (type_name == nullptr) {
    LogError("Column data type not supported - Error while creating column definition.\n");
    return kTypeNotSupported;
  }
  std::uint8_t type = kTypeNotSupported;
  for (const TypeName& entry : kTypeNames) {
    if (CompareIgnoreAsciiCase(entry.name, type_name) == 0) {
      type = entry.type;
      break;
    }
  }
  if ((type == kTypeSqlChar || type == kTypeChar) && max_size >= 256) type = kTypeText;
  return type;
}

std::uint8_t ColumnTypeWidth(std::uint8_t type) { return type < sizeof kTypeWidths ? kTypeWidths[type] : 0; }

TableDefinition* NewTableDefinition(const char* name) {
  auto* definition = static_cast<TableDefinition*>(std::calloc(1, sizeof(TableDefinition)));
  if (definition == nullptr) return nullptr;
  if (AllocateAndCopyString(&definition->name, name) != kAllocationOk) {
    std::free(definition);
    return nullptr;
  }
  InitVector(&definition->columns, nullptr);
  return definition;
}

ColumnDefinition* AddColumnDefinition(TableDefinition* definition, const char* name, std::uint8_t type,
                                      std::int32_t max_size) {
  if (definition == nullptr) return nullptr;
  auto* column = static_cast<ColumnDefinition*>(std::calloc(1, sizeof(ColumnDefinition)));
  if (column == nullptr) return nullptr;
  column->type = type;
  column->max_size = max_size;
  column->nullable = 1;
  if (AllocateAndCopyString(&column->name, name) != kAllocationOk || AddNewElement(&definition->columns, column) != 1) {
    FreeColumnDefinition(column);
    return nullptr;
  }
  return column;
}

TableDefinition* DefineTable(const char* name, std::initializer_list<ColumnSpec> columns) {
  TableDefinition* definition = NewTableDefinition(name);
  if (definition == nullptr) return nullptr;
  for (const ColumnSpec& column : columns) {
    if (AddColumnDefinition(definition, column.name, column.type, column.max_size) == nullptr) {
      FreeTableDefinition(definition);
      return nullptr;
    }
  }
  if (AppendTableDefinition(definition) != 1) {
    FreeTableDefinition(definition);
    return nullptr;
  }
  return definition;
}

ColumnDefinition* AddColumnDefinitionByTypeName(TableDefinition* definition, const char* name, const char* type_name,
                                                std::int32_t max_size) {
  return AddColumnDefinition(definition, name, ColumnTypeFromName(type_name, max_size), max_size);
}

int SetColumnDefault(ColumnDefinition* column, const void* value, std::int32_t length) {
  if (column == nullptr) return 0;
  char* copy = nullptr;
  std::int32_t copy_length = 0;
  if (CopyColumnValue(&copy, &copy_length, static_cast<const char*>(value), length, column->type) != 1) return 0;
  std::free(column->default_value);
  column->default_value = copy;
  column->default_length = copy_length;
  return 1;
}

int SetColumnGenerator(ColumnDefinition* column, const char* generator_name) {
  if (column == nullptr) return 0;
  char* copy = CopyString(generator_name);
  if (copy == nullptr) return 0;
  std::free(column->generator_name);
  column->generator_name = copy;
  return 1;
}

namespace {

TableConstraints* ConstraintsOf(TableDefinition* definition) {
  if (definition->constraints == nullptr) {
    definition->constraints = static_cast<TableConstraints*>(std::calloc(1, sizeof(TableConstraints)));
  }
  return definition->constraints;
}

void FreePrimaryKey(TableConstraints* constraints) {
  for (std::int32_t i = 0; i < constraints->primary_key_count; ++i) std::free(constraints->primary_key_columns[i]);
  std::free(constraints->primary_key_columns);
  constraints->primary_key_columns = nullptr;
  constraints->primary_key_count = 0;
}

void FreeForeignKey(ForeignKey* key) {
  if (key == nullptr) return;
  std::free(key->column_name);
  std::free(key->referenced_column_name);
  std::free(key->referenced_table_name);
  std::free(key);
}

}  // namespace

int SetPrimaryKey(TableDefinition* definition, const char* const* column_names, std::int32_t count) {
  if (definition == nullptr || count < 0 || (count > 0 && column_names == nullptr)) return 0;
  TableConstraints* constraints = ConstraintsOf(definition);
  if (constraints == nullptr) return 0;
  auto** names = static_cast<char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
  if (names == nullptr) return 0;
  for (std::int32_t i = 0; i < count; ++i) {
    names[i] = CopyString(column_names[i]);
    if (names[i] == nullptr) {
      for (std::int32_t j = 0; j < i; ++j) std::free(names[j]);
      std::free(names);
      return 0;
    }
  }
  FreePrimaryKey(constraints);
  constraints->primary_key_columns = names;
  constraints->primary_key_count = count;
  return 1;
}

int AddForeignKey(TableDefinition* definition, const char* column_name, const char* referenced_column_name,
                  const char* referenced_table_name) {
  if (definition == nullptr) return 0;
  TableConstraints* constraints = ConstraintsOf(definition);
  if (constraints == nullptr) return 0;
  if (constraints->foreign_keys == nullptr) {
    // Like every record of a definition, the list is calloc'ed (FreeTableDefinition frees it).
    constraints->foreign_keys = static_cast<Vector*>(std::calloc(1, sizeof(Vector)));
    if (constraints->foreign_keys == nullptr) return 0;
  }
  auto* key = static_cast<ForeignKey*>(std::calloc(1, sizeof(ForeignKey)));
  if (key == nullptr) return 0;
  key->column_name = CopyString(column_name);
  key->referenced_column_name = CopyString(referenced_column_name);
  key->referenced_table_name = CopyString(referenced_table_name);
  if (key->column_name == nullptr || key->referenced_column_name == nullptr || key->referenced_table_name == nullptr ||
      AddNewElement(constraints->foreign_keys, key) != 1) {
    FreeForeignKey(key);
    return 0;
  }
  return 1;
}

void FreeTableDefinition(TableDefinition* definition) {
  if (definition == nullptr) return;
  for (VectorNode* node = definition->columns.head; node != nullptr; node = node->next) {
    FreeColumnDefinition(static_cast<ColumnDefinition*>(node->data));
  }
  FreeVector(&definition->columns);
  if (TableConstraints* constraints = definition->constraints; constraints != nullptr) {
    FreePrimaryKey(constraints);
    if (constraints->foreign_keys != nullptr) {
      for (VectorNode* node = constraints->foreign_keys->head; node != nullptr; node = node->next) {
        FreeForeignKey(static_cast<ForeignKey*>(node->data));
      }
      FreeVector(constraints->foreign_keys);
      std::free(constraints->foreign_keys);
    }
    std::free(constraints);
  }
  std::free(definition->name);
  std::free(definition->description);
  std::free(definition);
}

ColumnDefinition* FindColumnDefinition(const TableDefinition* definition, const char* column_name) {
  const void* column = nullptr;
  if (definition == nullptr || FindColumn(kTableKindTable, &definition->columns, column_name, &column) < 0) {
    return nullptr;
  }
  return static_cast<ColumnDefinition*>(const_cast<void*>(column));
}

int CopyColumnValue(char** destination, std::int32_t* destination_length, const char* source, std::int32_t length,
                    std::uint8_t type) {
  if (destination == nullptr || destination_length == nullptr) return 0;
  if (source == nullptr) {
    *destination = nullptr;
    *destination_length = 0;
    return 1;
  }
  if (HoldsDateTimeRecord(type, length)) {
    // The record holds pointers to its parts: copy it whole, never just its recorded length.
    QelDateTime* copy = CopyQelDateTime(reinterpret_cast<const QelDateTime*>(source));
    if (copy == nullptr) return 0;
    *destination = reinterpret_cast<char*>(copy);
    *destination_length = length;
    return 1;
  }
  if (AllocateAndCopy(destination, source, length) != kAllocationOk) return 0;
  *destination_length = length;
  return 1;
}

char* ColumnValueToString(const char* value, std::int32_t length, std::uint8_t type) {
  if (value == nullptr) return ToHeapString("NULL");
  char number[64];
  if (IsIntegerType(type) || type == kTypeBoolean) {
    std::int64_t signed_value = 0;
    std::uint64_t unsigned_value = 0;
    if (ReadInteger(value, length, type, signed_value, unsigned_value)) {
      if (IsSignedIntegerType(type) || (type != kTypeUnsignedBigInt && length < 8)) {
        (void)std::snprintf(number, sizeof number, "%" PRId64, signed_value);
      } else {
        (void)std::snprintf(number, sizeof number, "%" PRIu64, unsigned_value);
      }
      return ToHeapString(number);
    }
  } else if (IsFloatType(type)) {
    double real = 0;
    if (ReadFloat(value, length, real)) {
      (void)std::snprintf(number, sizeof number, "%g", real);
      return ToHeapString(number);
    }
  } else if (HoldsDateTimeRecord(type, length)) {
    return QelDateTimeToString(reinterpret_cast<const QelDateTime*>(value));
  } else if (type == kTypeDate && length >= kQelDateLength) {
    const auto date = ReadAs<QelDate>(value);
    return QelDateToString(&date);
  } else if (type == kTypeTime && length >= kQelTimeLength) {
    const auto time = ReadAs<QelTime>(value);
    return QelTimeToString(&time);
  } else if (type != kTypeBlob && !IsDateOrTimeType(type)) {
    return ToHeapString(std::string(value, static_cast<std::size_t>(std::max(length, 0))));
  }
  // Blobs, and numbers, dates and times of an unexpected length: the bytes in hex.
  std::string hex;
  for (std::int32_t i = 0; i < length; ++i) {
    (void)std::snprintf(number, sizeof number, "%02x", static_cast<unsigned char>(value[i]));
    hex += number;
  }
  return ToHeapString(hex);
}

int UpdateRowObject(const char* table_name, RowObject* row, const char* column_name, const void* value,
                    std::int32_t length) {
  LogTrace("@@@ Inside UpdateRowObject @@@\n");
  if (row == nullptr) {
    LogError("\t@@@@@ rowPtr passed as parameter in NULL @@@@@ \n");
    return 0;
  }
  TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) return 0;
  const void* column = nullptr;
  const std::int32_t index =
      FindColumn(table->kind, ColumnsOf(table->kind, table->definition, table->view_definition), column_name, &column);
  if (index < 0 || index >= table->column_count) return 0;
  if (table->kind == kTableKindTable && table->definition->constraints != nullptr) {
    const TableConstraints* constraints = table->definition->constraints;
    for (std::int32_t i = 0; i < constraints->primary_key_count; ++i) {
      if (EqualNoCase(constraints->primary_key_columns[i], column_name)) {
        LogError("@@@ UpdateRowObject Failed as PrimaryKey is being updated @@@\n");
        return 0;
      }
    }
  }
  char* copy = nullptr;
  std::int32_t copy_length = 0;
  if (CopyColumnValue(&copy, &copy_length, static_cast<const char*>(value), length, TypeOf(table->kind, column)) != 1) {
    return 0;
  }
  std::free(row->values[index]);
  row->values[index] = copy;
  row->lengths[index] = copy_length;
  row->flags |= kRowModified;
  SendNotification(row, table->name);
  return 1;
}

int DeleteRowObject(const char* table_name, RowObject* row) {
  LogTrace("@@@ Inside DeleteRowObject @@@\n");
  TableData* table = GetTableDataByName(table_name);
  if (table == nullptr || row == nullptr || !ContainsRow(table, row)) return 0;
  if (const RowPin* pin = FindPin(row); pin != nullptr && pin->deleting) {
    return 1;  // a listener of this very deletion deletes the row again: the outer call finishes it
  }
  // The listeners may change the table (delete this row, its neighbours or the whole table, add
  // rows): the row is held while they run, and its place in the list is found afterwards.
  PinnedRows held(table->column_count);
  if (!held.Pin(row)) return 0;
  FindPin(row)->deleting = true;
  row->flags |= kRowDeleted;
  SendNotification(row, table->name);
  RowPin* pin = FindPin(row);
  pin->deleting = false;
  // Still unreleased, the row is still in its table, which therefore still exists.
  if (pin->released || (row->flags & kRowStored) != 0) return 1;  // stored: the database holds it
  RowObject* previous = nullptr;
  RowObject* current = table->first_row;
  for (; current != nullptr && current != row; current = current->next) previous = current;
  if (current == nullptr) return 1;
  if (previous == nullptr) {
    table->first_row = row->next;
  } else {
    previous->next = row->next;
  }
  if (table->last_row == row) table->last_row = previous;
  --table->row_count;
  DiscardRow(row, table->column_count);
  return 1;
}

int DeleteRowObjectByCriteria(const char* table_name, const char* criteria) {
  LogTrace("@@@ Inside DeleteRowObjectByCriteria @@@\n");
  ResultData* result = SelectRows(table_name, criteria);
  if (result == nullptr) return 0;
  {
    // Listeners of one deletion may delete later rows of the selection or free the table: every
    // selected row is held until the walk is done, and a row that has left the table is passed over.
    PinnedRows held(result->column_count);
    for (ResultNode* node = result->first_node; node != nullptr; node = node->next) {
      if (!held.Pin(node->row)) {
        FreeResultData(result);
        return 0;
      }
    }
    for (RowObject* row = GotoNextRowObject(result); row != nullptr; row = GotoNextRowObject(result)) {
      if (!FindPin(row)->released) DeleteRowObject(table_name, row);
    }
  }
  FreeResultData(result);
  return 1;
}

int DeleteAllTableRowObjects(const char* table_name) {
  LogTrace("@@@ Inside DeleteAllTableRowObjects @@@\n");
  if (table_name == nullptr) {
    LogError("\t tableName NULL \n");
    return 0;
  }
  TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) {
    LogError("\t GetTableDataByName returned NULL \n");
    return 0;
  }
  FreeRows(table);
  return 1;
}

std::uint8_t GetColumnTypeByName(const char* column_name, const ResultData* result) {
  LogTrace("@@@ Inside GetColumnTypeByName @@@\n");
  if (result == nullptr) return kTypeNotSupported;
  const void* column = nullptr;
  if (FindColumn(result->kind, ColumnsOf(result->kind, result->definition, result->view_definition), column_name,
                 &column) < 0) {
    return kTypeNotSupported;
  }
  return TypeOf(result->kind, column);
}

const char* GetColumnNameByIndex(std::int32_t index, const ResultData* result) {
  LogTrace("@@@ Inside GetColumnNameByIndex @@@\n");
  if (result == nullptr || index < 0) return nullptr;
  const Vector* columns = ColumnsOf(result->kind, result->definition, result->view_definition);
  std::int32_t position = 0;
  for (const VectorNode* node = columns != nullptr ? columns->head : nullptr; node != nullptr;
       node = node->next, ++position) {
    if (position == index) return ColumnName(result->kind, node->data);
  }
  return nullptr;
}

void ResetResultDataCursor(ResultData* result) {
  LogTrace("@@@ Inside ResetResultDataCursor @@@\n");
  if (result != nullptr) result->cursor = nullptr;
}

RowObject* SelectRowByRowIdx(ResultData* result, std::int32_t index) {
  LogTrace("@@@ Inside SelectRowByRowIdx @@@\n");
  if (result == nullptr || index < 0) return nullptr;
  ResultNode* node = result->first_node;
  for (std::int32_t i = 0; i < index && node != nullptr; ++i) node = node->next;
  if (node == nullptr) return nullptr;
  result->cursor = node;
  return node->row;
}

int SortResultSet(ResultData* result, const char* column_name, int ascending) {
  LogTrace("@@@ Inside SortResultSet @@@\n");
  if (result == nullptr) return 0;
  const void* column = nullptr;
  const std::int32_t index = FindColumn(
      result->kind, ColumnsOf(result->kind, result->definition, result->view_definition), column_name, &column);
  if (index < 0 || index >= result->column_count) return 0;
  const std::uint8_t type = TypeOf(result->kind, column);
  std::vector<ResultNode*> nodes;
  for (ResultNode* node = result->first_node; node != nullptr; node = node->next) nodes.push_back(node);
  std::stable_sort(nodes.begin(), nodes.end(), [&](const ResultNode* a, const ResultNode* b) {
    const int order = CompareValues(a->row->values[index], a->row->lengths[index], b->row->values[index],
                                    b->row->lengths[index], type);
    return ascending != 0 ? order < 0 : order > 0;
  });
  result->first_node = nullptr;
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    (*it)->next = result->first_node;
    result->first_node = *it;
  }
  result->cursor = nullptr;
  return 1;
}

const char* GetTableNameFromResultData(const ResultData* result) {
  LogTrace("@@@ Inside GetTableNameFromResultData @@@\n");
  if (result == nullptr) return nullptr;
  if (result->kind == kTableKindTable) return result->definition != nullptr ? result->definition->name : nullptr;
  if (result->kind == kTableKindView) return GetTableNameOfView(result->view_definition);
  return nullptr;
}

const char* GetTableNameOfView(const CustomViewDefn* view) {
  LogTrace("@@@ Inside GetTableNameOfView @@@\n");
  if (view == nullptr) return nullptr;
  for (VectorNode* node = g_table_list.head; node != nullptr; node = node->next) {
    const auto* table = static_cast<const TableData*>(node->data);
    if (table->kind == kTableKindView && table->view_definition == view) return table->name;
  }
  return nullptr;
}

void FreeTableData(TableData* table) {
  LogTrace("@@@ Inside FreeTableData @@@\n");
  if (table == nullptr) return;
  DeleteLCDVector(&g_table_list, table);
  DestroyTable(table);
}

namespace {

// The table's or result's printable lines: column names, then each row not marked deleted.
template <typename RowVisitor>
std::vector<std::string> Lines(std::uint8_t kind, const Vector* columns, std::int32_t column_count,
                               RowVisitor&& for_each_row) {
  std::vector<std::string> lines{HeaderLine(kind, columns)};
  for_each_row([&](const RowObject* row) {
    if ((row->flags & kRowDeleted) == 0) lines.push_back(RowLine(kind, columns, row, column_count));
  });
  return lines;
}

std::vector<std::string> TableLines(const TableData* table) {
  return Lines(table->kind, ColumnsOf(table->kind, table->definition, table->view_definition), table->column_count,
               [&](auto&& visit) {
                 for (const RowObject* row = table->first_row; row != nullptr; row = row->next) visit(row);
               });
}

}  // namespace

void PrintTableData(const char* table_name) {
  LogTrace("@@@ Inside PrintTableData @@@\n");
  const TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) return;
  for (const std::string& line : TableLines(table)) LogDebug("%s\n", line.c_str());
}

void PrintResultData(const ResultData* result) {
  LogTrace("@@@ Inside PrintResultData @@@\n");
  if (result == nullptr) return;
  const auto lines = Lines(result->kind, ColumnsOf(result->kind, result->definition, result->view_definition),
                           result->column_count, [&](auto&& visit) {
                             for (const ResultNode* node = result->first_node; node != nullptr; node = node->next) {
                               visit(node->row);
                             }
                           });
  for (const std::string& line : lines) LogDebug("%s\n", line.c_str());
}

char* ToStringTableData(const char* table_name) {
  LogTrace("@@@ Inside ToStringTableData @@@\n");
  const TableData* table = GetTableDataByName(table_name);
  if (table == nullptr) return nullptr;
  std::string text;
  for (const std::string& line : TableLines(table)) {
    text += line;
    text += '\n';
  }
  return ToHeapString(text);
}

char* GetColumnValue(const char* table_name, const char* criteria, const char* column_name, std::int32_t* length) {
  LogTrace("@@@ Inside GetColumnValue @@@\n");
  const char* table_text = table_name != nullptr ? table_name : "(null)";
  const char* criteria_text = criteria != nullptr ? criteria : "(null)";
  ResultData* result = SelectRows(table_name, criteria);
  if (result == nullptr) {
    LogError("Error in executing SelectRows(%s,%s)\n", table_text, criteria_text);
    return nullptr;
  }
  char* copy = nullptr;
  if (GotoNextRowObject(result) == nullptr) {
    LogTrace("No such row available in the %s for %s", table_text, criteria_text);
  } else {
    std::int32_t value_length = 0;
    const char* value = GetColumnValueByName(column_name, &value_length, result);
    if (value == nullptr) {
      LogError("columnValue is NULL for :%s\n", column_name != nullptr ? column_name : "(null)");
    } else if (CopyColumnValue(&copy, &value_length, value, value_length, GetColumnTypeByName(column_name, result)) ==
               1) {
      if (length != nullptr) *length = value_length;
    }
  }
  FreeResultData(result);
  return copy;
}

std::int8_t SortTableByName(const VectorNode* new_node, const VectorNode* existing_node) {
  LogTrace("@@@ Inside SortTableByName @@@\n");
  const int order = std::strcmp(static_cast<const TableData*>(new_node->data)->name,
                                static_cast<const TableData*>(existing_node->data)->name);
  return static_cast<std::int8_t>((order > 0) - (order < 0));
}

void ResetTableStore() {
  for (VectorNode* node = g_table_list.head; node != nullptr; node = node->next) {
    DestroyTable(static_cast<TableData*>(node->data));
  }
  FreeVector(&g_table_list);
  for (VectorNode* node = g_data_dictionary.head; node != nullptr; node = node->next) {
    FreeTableDefinition(static_cast<TableDefinition*>(node->data));
  }
  FreeVector(&g_data_dictionary);
}

}  // namespace vx
