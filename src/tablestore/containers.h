// The table store's two containers: the counted singly linked `Vector` and the chained hash map
// `StringMap`.
//
// A vector never owns the data of its nodes; freeing the nodes (FreeVector) is separate from freeing
// their data. The vector operations that change or walk a vector lock it with the process-wide address
// lock keyed by the vector's address; walking the nodes' next pointers afterwards is the caller's own
// business. A StringMap owns copies of its keys, never its values, and takes no lock.
#pragma once

#include <cstdint>

namespace vx {

struct VectorNode {
  void* data;  // owned by whoever put it there
  VectorNode* next;
};

// Negative when the new node belongs before the existing one, 0 when equal, positive when after.
using VectorOrdering = std::int8_t (*)(const VectorNode* new_node, const VectorNode* existing_node);

struct Vector {
  VectorNode* head;
  std::int32_t count;
  VectorNode* tail;
  VectorOrdering ordering;  // null for an unordered vector
};

Vector* InitVector(Vector* vector, VectorOrdering ordering);
// A new empty unordered vector (free it with FreeVector and delete), or null.
[[nodiscard]] Vector* NewVector();
// 1 added, 0 rejected as equal (ordered vectors only). The node becomes the vector's.
[[nodiscard]] int AddElement(Vector* vector, VectorNode* node);
// Appends a new node holding data: 1, or 0 on allocation failure or rejection.
[[nodiscard]] int AddNewElement(Vector* vector, void* data);
[[nodiscard]] int InsertElementAt(Vector* vector, VectorNode* node, std::int32_t position);
VectorNode* ElementAt(Vector* vector, std::int32_t position);
VectorNode* GetNthElement(Vector* vector, std::int32_t n, VectorNode* start);
int DeleteElementAt(Vector* vector, std::int32_t position);
int DeleteElement(Vector* vector, VectorNode* node);
int DeleteLCDVector(Vector* vector, const void* data);
[[nodiscard]] int MergeVector(Vector* destination, Vector* source);
[[nodiscard]] Vector* CloneVector(Vector* vector);
void FreeVector(Vector* vector);

struct StringMapEntry {
  char* key;  // owned copy; null in an empty bucket head
  void* value;
  StringMapEntry* next;
};

struct StringMap {
  std::int32_t bucket_count;
  StringMapEntry* buckets;  // bucket_count pre-allocated head entries
};

[[nodiscard]] int StringMapInit(StringMap* map, std::int32_t bucket_count);
[[nodiscard]] int StringMapPut(StringMap* map, const char* key, void* value);
int StringMapContains(const StringMap* map, const char* key);
void* StringMapGet(const StringMap* map, const char* key);
StringMapEntry* StringMapGetEntry(const StringMap* map, const char* key);
int StringMapRemove(StringMap* map, const char* key);
std::int32_t StringMapCount(const StringMap* map);
// Moves every entry into a new array of bucket_count buckets: 1, or 0 (no memory, a count below 1)
// with the map unchanged. Entries move, so pointers to them (StringMapGetEntry) are no longer valid.
int StringMapResize(StringMap* map, std::int32_t bucket_count);
// Null-terminated array of the map's own key strings; the caller frees the array only.
[[nodiscard]] const char** StringMapKeys(const StringMap* map);
void StringMapFree(StringMap* map);

}  // namespace vx
