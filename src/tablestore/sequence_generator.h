// Identifiers for generator columns, handed out from batches of 300 reserved in the database table
// SeqGenState through the store's connections.
//
// The sequence cache maps a sequence name to its next value and the end of its reserved batch. It
// exists from InitSequenceCache (the store's initialisation) to FreeSequenceCache; without it no
// identifier is generated. GenerateID holds the address lock of the sequence's cache entry while it
// hands out a value or renews the batch, so several threads may draw from one sequence.
#pragma once

#include <cstdint>

#include "tablestore/table_data.h"

namespace vx {

inline constexpr std::int32_t kSequenceBatchSize = 300;
inline constexpr std::int32_t kSequenceCacheBuckets = 50;
// A batch that cannot be renewed is tried this many times, with a pause between tries, before
// GenerateID gives up with -1.
inline constexpr int kBatchRenewalAttempts = 3;
inline constexpr std::uint32_t kBatchRenewalPauseMilliseconds = 200;

struct SequenceState {
  std::int32_t next_value;  // the next value to hand out
  std::int32_t batch_end;   // the last value of the reserved batch (inclusive)
};

// The next identifier of the column's sequence, or -1.
[[nodiscard]] std::int32_t GenerateID(const char* table_name, const ColumnDefinition* column);

// The next value of the sequence "INSTANCE_ID" (whose batches go through the pool's only group), or -1.
[[nodiscard]] std::int32_t GenerateInstanceID();

// Reserves the next batch of the sequence in SeqGenState through the table's connection (a null table
// name: the pool's only group) and stores it in the cache: 1, or 0.
int UpdateSeqGen(const char* table_name, const char* sequence_name);

// Reserves a batch for every generator column of the data dictionary: 1, or 0 when a table definition
// has no columns.
int SequenceGenerator();

// Creates the empty sequence cache (50 buckets): 1, or 0 when memory runs out. 1 when it exists.
[[nodiscard]] int InitSequenceCache();
// Frees the cache and its states.
void FreeSequenceCache();

}  // namespace vx
