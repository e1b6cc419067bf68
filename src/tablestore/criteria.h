// The criteria language of the table store: parsing a criteria text into a tree of CriteriaNode
// records, binding the tree to a table's columns and testing rows against it.
//
// The parser keeps its state in static storage: one parse at a time. SelectRows serialises parses,
// binding and evaluation with the store's parser lock (ParserLockKey). A tree belongs to the caller of
// ParseCriteria, who frees it with FreeCriteriaNode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tablestore/containers.h"
#include "tablestore/table_data.h"

namespace vx {

enum CriteriaOperator : std::uint8_t {
  kOpLess = 1,
  kOpGreater = 2,
  kOpLessOrEqual = 3,
  kOpGreaterOrEqual = 4,
  kOpEqual = 5,
  kOpNotEqual = 6,
  kOpAnd = 7,
  kOpOr = 8,
};

struct CriteriaNode {
  char* column_name;  // owned; null for AND/OR
  char* literal;      // owned, with its quotes; null for AND/OR
  std::uint8_t op;
  std::int32_t column_index;  // set by BindCriteria: the column's position in the table, whole
  std::uint8_t column_type;   // set by BindCriteria
  CriteriaNode* left;
  CriteriaNode* right;
  CriteriaNode* parent;
};

// The root of the parsed tree, or null (null text, syntax error, invalid character, stack overflow, a
// scanner failure, which is logged).
[[nodiscard]] CriteriaNode* ParseCriteria(const char* criteria);
// Frees both subtrees, both strings and the node. Null is accepted.
void FreeCriteriaNode(CriteriaNode* node);
// The key of the store's parser lock (an address lock).
const void* ParserLockKey();

// Test seam: the allocator of the criteria scanner's own records (its buffer state and buffer
// stack), so that tests can make them fail. Installed for the life of the object, under the
// parser's lock by the one test thread; the default is malloc and realloc.
class ScopedCriteriaScannerAllocator {
 public:
  using Allocate = void* (*)(std::size_t size);
  using Reallocate = void* (*)(void* block, std::size_t size);
  ScopedCriteriaScannerAllocator(Allocate allocate, Reallocate reallocate);
  ~ScopedCriteriaScannerAllocator();
  ScopedCriteriaScannerAllocator(const ScopedCriteriaScannerAllocator&) = delete;
  ScopedCriteriaScannerAllocator& operator=(const ScopedCriteriaScannerAllocator&) = delete;

 private:
  Allocate previous_allocate_;
  Reallocate previous_reallocate_;
};

// Binds column names to positions and types in columns (a Vector of ColumnDefinition), among the
// first column_count positions (the values each row holds); another name stays unbound (type 0) and
// is never satisfied. Always 1.
int BindCriteria(const Vector* columns, std::int32_t column_count, CriteriaNode* tree);
// 1 when the row satisfies the tree, else 0. A null tree is satisfied.
int EvaluateCriteria(const RowObject* row, const CriteriaNode* tree);

}  // namespace vx
