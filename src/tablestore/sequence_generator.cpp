#include "tablestore/sequence_generator.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "base/time_source.h"
#include "logging/address_lock.h"
#include "logging/logger.h"
#include "tablestore/containers.h"
#include "tablestore/store_connections.h"
#include "tablestore/value_compare.h"

namespace vx {
namespace {

StringMap g_sequence_cache;  // sequence name -> SequenceState; no buckets until InitSequenceCache
constexpr const char* kInstanceIdKey = "INSTANCE_ID";
// A batch ends below the 32-bit limit: after handing out a batch's last value the next value is one
// past it, and it must not wrap to a negative identifier.
constexpr std::int32_t kLastBatchEnd = std::numeric_limits<std::int32_t>::max() - 1;

const char* OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

// The sequence name as an SQL string literal's content: quotes doubled, so a name never ends the
// literal. Names without quotes are used as they are.
std::string QuoteForSql(const char* text) {
  std::string quoted;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\'') quoted += '\'';
    quoted += *p;
  }
  return quoted;
}

// Decimal text that is an integer and nothing else: an optional sign and at least one digit, within
// 64 bits. "abc", "1000x", "10.5" or "" are no batch end.
bool ReadIntegerText(const char* text, std::int32_t length, std::int64_t* value) {
  std::int32_t i = 0;
  const bool negative = length > 0 && text[0] == '-';
  if (length > 0 && (text[0] == '-' || text[0] == '+')) ++i;
  if (i == length) return false;
  std::int64_t magnitude = 0;
  for (; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (magnitude > (std::numeric_limits<std::int64_t>::max() - (text[i] - '0')) / 10) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  *value = negative ? -magnitude : magnitude;
  return true;
}

// CURRENTBATCHEND as the provider delivered it: an 8-byte or 4-byte integer or decimal integer text.
// Anything else (a real, a blob, NULL, text that is not an integer) is unreadable: read as 0 it would
// start the sequence again at 1 and hand out identifiers a second time.
bool ReadBatchEnd(const QueryResult* result, std::int32_t* batch_end) {
  std::int32_t length = 0;
  const char* value = GetQueryColumnValue(result, "CURRENTBATCHEND", &length);
  if (value == nullptr) return false;
  std::int32_t column = 0;
  while (column < result->column_count && CompareStringsNoCase(result->column_names[column], "CURRENTBATCHEND") != 0) {
    ++column;
  }
  std::int64_t end = 0;
  const std::uint8_t type = result->column_types[column];
  if (type == kTypeBigInt && length == 8) {
    std::memcpy(&end, value, 8);
  } else if (type == kTypeInt && length == 4) {
    std::int32_t narrow = 0;
    std::memcpy(&narrow, value, 4);
    end = narrow;
  } else if (type != kTypeText || !ReadIntegerText(value, length, &end)) {
    return false;
  }
  if (end < std::numeric_limits<std::int32_t>::min() || end > std::numeric_limits<std::int32_t>::max()) return false;
  *batch_end = static_cast<std::int32_t>(end);
  return true;
}

// Stores (next, end) under the sequence name, reusing the state the cache already holds.
bool StoreBatch(const char* sequence_name, std::int32_t next_value, std::int32_t batch_end) {
  if (g_sequence_cache.buckets == nullptr) return false;
  auto* state = static_cast<SequenceState*>(StringMapGet(&g_sequence_cache, sequence_name));
  if (state == nullptr) {
    state = static_cast<SequenceState*>(std::calloc(1, sizeof(SequenceState)));
    if (state == nullptr) return false;
    if (StringMapPut(&g_sequence_cache, sequence_name, state) != 1) {
      std::free(state);
      return false;
    }
  }
  state->next_value = next_value;
  state->batch_end = batch_end;
  return true;
}

// Renews the batch of a used-up sequence: 1 when it was renewed, 0 after the last failed try.
int RenewBatch(const char* table_name, const char* key, int* failures) {
  if (UpdateSeqGen(table_name, key) == 1) return 1;
  if (++*failures >= kBatchRenewalAttempts) {
    LogError("GenerateID : Batch of key %s not renewed after %d attempts\n", key, *failures);
    return 0;
  }
  Time().SleepMilliseconds(kBatchRenewalPauseMilliseconds);
  return 1;
}

}  // namespace

int InitSequenceCache() {
  if (g_sequence_cache.buckets != nullptr) return 1;
  return StringMapInit(&g_sequence_cache, kSequenceCacheBuckets) == 1 ? 1 : 0;
}

void FreeSequenceCache() {
  if (g_sequence_cache.buckets == nullptr) return;
  const char** keys = StringMapKeys(&g_sequence_cache);
  for (std::int32_t i = 0; keys != nullptr && keys[i] != nullptr; ++i) {
    std::free(StringMapGet(&g_sequence_cache, keys[i]));
  }
  std::free(static_cast<void*>(keys));
  StringMapFree(&g_sequence_cache);
  g_sequence_cache = StringMap{};
}

std::int32_t GenerateID(const char* table_name, const ColumnDefinition* column) {
  int failures = 0;
  for (;;) {
    LogTrace("Inside GenerateID \n");
    const char* key = column != nullptr ? column->generator_name : nullptr;
    LogTrace("AutoId Key %s\n", OrNull(key));
    StringMapEntry* entry = nullptr;
    if (key != nullptr && g_sequence_cache.buckets != nullptr) entry = StringMapGetEntry(&g_sequence_cache, key);
    if (entry == nullptr) {
      LogTrace("Cannot generate ID for key %s.\n", OrNull(key));
      return -1;
    }
    AddressLockGuard guard(entry);
    auto* state = static_cast<SequenceState*>(entry->value);
    if (state == nullptr) {
      LogError("No Value for AutoId key %s \n", key);
      return -1;
    }
    if (state->batch_end < state->next_value) {
      if (RenewBatch(table_name, key, &failures) == 0) return -1;
      continue;
    }
    const std::int32_t value = state->next_value++;
    LogTrace("AutoGenerated Value %d \n", value);
    return value;
  }
}

std::int32_t GenerateInstanceID() {
  int failures = 0;
  for (;;) {
    LogTrace("Inside GenerateID \n");
    LogTrace("AutoId Key %s\n", kInstanceIdKey);
    if (g_sequence_cache.buckets == nullptr) {
      // No cache to keep a batch in: reserving one would only use up identifiers in the database.
      LogTrace("Cannot generate ID for key %s.\n", kInstanceIdKey);
      return -1;
    }
    auto* state = static_cast<SequenceState*>(StringMapGet(&g_sequence_cache, kInstanceIdKey));
    if (state == nullptr || state->batch_end < state->next_value) {
      if (RenewBatch(nullptr, kInstanceIdKey, &failures) == 0) return -1;
      continue;
    }
    const std::int32_t value = state->next_value++;
    LogTrace("AutoGenerated Value %d \n", value);
    return value;
  }
}

int UpdateSeqGen(const char* table_name, const char* sequence_name) {
  LogTrace("Inside UpdateSeqGen \n");
  if (sequence_name == nullptr) return 0;
  const std::string quoted_name = QuoteForSql(sequence_name);
  const std::string query = FormatText("select * from SeqGenState where SEQNAME = '%s';", quoted_name.c_str());
  LogTrace("Query %s\n", query.c_str());
  const char* connection_name = GetConnectionName(table_name);
  ConnectionHandle* handle = GetConnectionHandle(connection_name);
  QueryResult* result = ExecuteQuery(handle, query.c_str());
  if (result == nullptr) {
    LogError("Table doesn't Exists for UpdateSeqGen\n");
    ReleaseConnectionHandle(connection_name);
    return 0;
  }
  int renewed = 0;
  if (result->row_count > 0) {
    NextQueryRow(result);
    std::int32_t end = 0;
    if (!ReadBatchEnd(result, &end)) {
      LogError("UpdateSeqGen : CURRENTBATCHEND of %s unreadable\n", sequence_name);
    } else if (end < 0) {
      // The next batch would start at or below 0, and -1 is GenerateID's failure.
      LogError("UpdateSeqGen : CURRENTBATCHEND of %s is %d, below 0\n", sequence_name, end);
    } else if (end > kLastBatchEnd - kSequenceBatchSize) {
      LogError("UpdateSeqGen : sequence %s exhausted, no batch of %d ends below %d\n", sequence_name,
               kSequenceBatchSize, std::numeric_limits<std::int32_t>::max());
    } else {
      const std::string update = FormatText("update SeqGenState set CURRENTBATCHEND = %d where SEQNAME = '%s';",
                                            end + kSequenceBatchSize, quoted_name.c_str());
      LogTrace("Update Query %s\n", update.c_str());
      if (ExecuteUpdate(handle, update.c_str()) == 0) {
        LogError("ExecuteUpdate Failed for update\n");
      } else if (!StoreBatch(sequence_name, end + 1, end + kSequenceBatchSize)) {
        LogError("Memory allocation Failed\n");
      } else {
        renewed = 1;
      }
    }
  } else {
    const std::string insert = FormatText("insert into SeqGenState values ('%s',300);", quoted_name.c_str());
    LogTrace("Insert Query %s\n", insert.c_str());
    if (ExecuteUpdate(handle, insert.c_str()) == 0) {
      LogError("ExecuteUpdate Failed for insert\n");
    } else if (!StoreBatch(sequence_name, 1, kSequenceBatchSize)) {
      LogError("Memory allocation Failed\n");
    } else {
      renewed = 1;
    }
  }
  ReleaseConnectionHandle(connection_name);
  FreeQueryResult(result);
  return renewed;
}

int SequenceGenerator() {
  LogTrace("Inside SequenceGenerator\n");
  Vector* dictionary = DataDictionary();
  for (VectorNode* node = dictionary->head; node != nullptr; node = node->next) {
    const auto* definition = static_cast<const TableDefinition*>(node->data);
    if (definition->columns.count == 0) return 0;
    for (VectorNode* column_node = definition->columns.head; column_node != nullptr; column_node = column_node->next) {
      const auto* column = static_cast<const ColumnDefinition*>(column_node->data);
      if (column->generator_name == nullptr) continue;
      AddressLockGuard guard(&g_sequence_cache);
      UpdateSeqGen(definition->name, column->generator_name);
    }
  }
  return 1;
}

}  // namespace vx
