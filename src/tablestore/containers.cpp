#include "tablestore/containers.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "logging/address_lock.h"
#include "logging/logger.h"

namespace vx {
namespace {

// Unlinks `node` whose predecessor is `previous` (null when it is the head) and frees it. The tail
// moves back to the predecessor when the node was the last one.
void UnlinkAndFree(Vector* vector, VectorNode* previous, VectorNode* node) {
  if (previous == nullptr) {
    vector->head = node->next;
  } else {
    previous->next = node->next;
  }
  if (node->next == nullptr) {
    vector->tail = previous;
  }
  std::free(node);
  --vector->count;
}

// The ordered insertion: a binary search over positions for the place of `node`, then the link.
// Returns 0 when an equal element is already present. The caller holds the vector's lock.
int AddOrdered(Vector* vector, VectorNode* node) {
  std::int32_t low = 0;
  std::int32_t high = vector->count;
  VectorNode* low_node = vector->head;
  VectorNode* upper_node = nullptr;
  while (high - low != 1) {
    const std::int32_t middle = low + (high - low) / 2;
    VectorNode* middle_node = GetNthElement(vector, middle - low, low_node);
    if (middle_node == nullptr) {
      break;  // the count disagrees with the links; insert where the walk ended
    }
    const std::int8_t order = vector->ordering(node, middle_node);
    if (order == 0) {
      return 0;
    }
    if (order < 0) {
      high = middle;
      upper_node = middle_node;
    } else {
      low = middle;
      low_node = middle_node;
    }
  }
  const std::int8_t order = vector->ordering(node, low_node);
  if (order == 0) {
    return 0;
  }
  if (order < 0) {
    // Only the head can be greater than the new element after the search.
    node->next = vector->head;
    vector->head = node;
    return 1;
  }
  // low_node starts at the head, which the caller checked, and only ever takes non-null middle nodes.
  // NOLINTNEXTLINE(clang-analyzer-core.NullDereference)
  VectorNode* successor = upper_node != nullptr ? upper_node : low_node->next;
  if (successor == nullptr || vector->ordering(node, successor) < 0) {
    node->next = successor;
    low_node->next = node;
  } else {
    node->next = successor->next;
    successor->next = node;
  }
  if (node->next == nullptr) {
    vector->tail = node;
  }
  return 1;
}

}  // namespace

Vector* InitVector(Vector* vector, VectorOrdering ordering) {
  LogTrace("\n\t@@@@@ Inside InitVector() @@@@@ \n");
  if (vector == nullptr) {
    return nullptr;
  }
  vector->head = nullptr;
  vector->count = 0;
  vector->tail = nullptr;
  vector->ordering = ordering;
  return vector;
}

Vector* NewVector() {
  auto* vector = new (std::nothrow) Vector{};
  if (vector == nullptr) {
    LogError("MEMORY_ALLOCATION_FAILURE\n");
  }
  return vector;
}

int AddElement(Vector* vector, VectorNode* node) {
  LogTrace("\n\t@@@@@ Inside AddElement() @@@@@ \n");
  if (vector == nullptr || node == nullptr) {
    return 0;
  }
  AddressLockGuard lock(vector);
  node->next = nullptr;
  if (vector->head == nullptr) {
    vector->head = node;
    vector->tail = node;
  } else if (vector->ordering == nullptr) {
    vector->tail->next = node;
    vector->tail = node;
  } else if (AddOrdered(vector, node) == 0) {
    return 0;
  }
  ++vector->count;
  return 1;
}

int AddNewElement(Vector* vector, void* data) {
  auto* node = static_cast<VectorNode*>(std::calloc(1, sizeof(VectorNode)));
  if (node == nullptr) {
    return 0;
  }
  node->data = data;
  if (AddElement(vector, node) == 0) {
    std::free(node);
    return 0;
  }
  return 1;
}

int InsertElementAt(Vector* vector, VectorNode* node, std::int32_t position) {
  LogTrace("\n\t@@@@@ Inside InsertElementAt() @@@@@ \n");
  if (vector == nullptr || node == nullptr) {
    return 0;
  }
  AddressLockGuard lock(vector);
  if (position < 0 || position > vector->count) {
    return 0;
  }
  if (position == 0) {
    node->next = vector->head;
    vector->head = node;
  } else {
    VectorNode* previous = vector->head;
    for (std::int32_t i = 1; i < position; ++i) {
      previous = previous->next;
    }
    node->next = previous->next;
    previous->next = node;
  }
  if (node->next == nullptr) {
    vector->tail = node;
  }
  ++vector->count;
  return 1;
}

VectorNode* ElementAt(Vector* vector, std::int32_t position) {
  LogTrace("\n\t@@@@@ Inside ElementAt() @@@@@ \n");
  if (vector == nullptr) {
    return nullptr;
  }
  AddressLockGuard lock(vector);
  if (vector->head == nullptr || position < 0 || position >= vector->count) {
    return nullptr;
  }
  VectorNode* node = vector->head;
  for (std::int32_t i = 0; i < position && node != nullptr; ++i) {
    node = node->next;
  }
  return node;
}

VectorNode* GetNthElement(Vector* vector, std::int32_t n, VectorNode* start) {
  LogTrace("\n\t@@@@@ Inside GetNthElement() @@@@@ \n");
  if (vector == nullptr || n < 0 || n >= vector->count) {
    return nullptr;
  }
  VectorNode* node = start;
  for (std::int32_t i = 0; i < n && node != nullptr; ++i) {
    node = node->next;
  }
  return node;
}

int DeleteElementAt(Vector* vector, std::int32_t position) {
  LogTrace("\n\t@@@@@ Inside DeleteElementAt() @@@@@ \n");
  if (vector == nullptr) {
    return 0;
  }
  AddressLockGuard lock(vector);
  if (vector->head == nullptr || position < 0 || position >= vector->count) {
    return 0;
  }
  VectorNode* previous = nullptr;
  VectorNode* node = vector->head;
  for (std::int32_t i = 0; i < position && node->next != nullptr; ++i) {
    previous = node;
    node = node->next;
  }
  UnlinkAndFree(vector, previous, node);
  return 1;
}

int DeleteElement(Vector* vector, VectorNode* node) {
  LogTrace("\n\t@@@@@ Inside DeleteElement() @@@@@ \n");
  if (vector == nullptr) {
    return 0;
  }
  AddressLockGuard lock(vector);
  if (vector->head == nullptr) {
    return 0;
  }
  VectorNode* previous = nullptr;
  for (VectorNode* current = vector->head; current != nullptr; previous = current, current = current->next) {
    if (current == node) {
      UnlinkAndFree(vector, previous, current);
      break;
    }
  }
  return 1;
}

int DeleteLCDVector(Vector* vector, const void* data) {
  LogTrace("\n\t@@@@@ Inside DeleteLCDVector() @@@@@ \n");
  if (vector == nullptr) {
    return 0;
  }
  std::int32_t position = -1;
  {
    AddressLockGuard lock(vector);
    std::int32_t index = 0;
    for (VectorNode* node = vector->head; node != nullptr; node = node->next, ++index) {
      if (node->data == data) {
        position = index;
        break;
      }
    }
  }
  return position < 0 ? 0 : DeleteElementAt(vector, position);
}

int MergeVector(Vector* destination, Vector* source) {
  LogTrace("\n\t@@@@@ Inside MergeVector() @@@@@ \n");
  if (destination == nullptr || source == nullptr) {
    return 0;
  }
  if (destination == source) {
    return 1;  // merging a vector into itself leaves it as it is
  }
  for (VectorNode* node = source->head; node != nullptr; node = node->next) {
    auto* copy = static_cast<VectorNode*>(std::calloc(1, sizeof(VectorNode)));
    if (copy == nullptr) {
      return 99;
    }
    copy->data = node->data;
    if (AddElement(destination, copy) == 0) {
      std::free(copy);  // an ordered destination already holds an equal element
    }
  }
  FreeVector(source);
  return 1;
}

Vector* CloneVector(Vector* vector) {
  LogTrace("@@@@ Inside CloneVector @@@@\n");
  if (vector == nullptr) {
    LogError("Cannot clone vector.  Vector is NULL.\n");
    return nullptr;
  }
  Vector* clone = NewVector();
  if (clone == nullptr) {
    return nullptr;
  }
  bool failed = false;
  for (VectorNode* node = vector->head; node != nullptr && !failed; node = node->next) {
    char* copy = nullptr;
    if (node->data != nullptr) {
      const std::size_t size = std::strlen(static_cast<const char*>(node->data)) + 1;
      copy = static_cast<char*>(std::malloc(size));
      if (copy == nullptr) {
        failed = true;
        break;
      }
      std::memcpy(copy, node->data, size);
    }
    if (AddNewElement(clone, copy) == 0) {
      std::free(copy);
      failed = true;
    }
  }
  if (failed) {
    for (VectorNode* node = clone->head; node != nullptr; node = node->next) {
      std::free(node->data);
    }
    FreeVector(clone);
    delete clone;
    return nullptr;
  }
  return clone;
}

void FreeVector(Vector* vector) {
  LogTrace("\n\t@@@@@ Inside FreeVector() @@@@@ \n");
  if (vector == nullptr) {
    return;
  }
  AddressLockGuard lock(vector);
  VectorNode* node = vector->head;
  while (node != nullptr) {
    VectorNode* next = node->next;
    std::free(node);
    node = next;
  }
  vector->head = nullptr;
  vector->tail = nullptr;  // reset at once rather than on the next append
  vector->count = 0;
}

namespace {

std::int32_t BucketOf(const StringMap* map, const char* key) {
  const auto buckets = static_cast<std::uint64_t>(map->bucket_count);
  // (hash * 26 + byte) modulo the bucket count, step by step. Reducing only before the product could
  // pass 64 bits gives the same remainder with far fewer divisions.
  std::uint64_t hash = 0;
  for (const auto* byte = reinterpret_cast<const unsigned char*>(key); *byte != 0; ++byte) {
    if (hash >= (std::uint64_t{1} << 57)) {
      hash %= buckets;
    }
    hash = hash * 26 + *byte;
  }
  return static_cast<std::int32_t>(hash % buckets);
}

char* CopyKey(const char* key) {
  const std::size_t size = std::strlen(key) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) {
    std::memcpy(copy, key, size);
  }
  return copy;
}

// Frees the chained entries and the bucket array, and the keys when they are the map's own.
void FreeBuckets(StringMap* map, bool free_keys) {
  for (std::int32_t i = 0; i < map->bucket_count; ++i) {
    StringMapEntry* head = &map->buckets[i];
    if (free_keys) {
      std::free(head->key);
    }
    StringMapEntry* entry = head->next;
    while (entry != nullptr) {
      StringMapEntry* next = entry->next;
      if (free_keys) {
        std::free(entry->key);
      }
      std::free(entry);
      entry = next;
    }
  }
  std::free(map->buckets);
  map->buckets = nullptr;
  map->bucket_count = 0;
}

bool Usable(const StringMap* map, const char* key) {
  return map != nullptr && map->buckets != nullptr && map->bucket_count > 0 && key != nullptr;
}

}  // namespace

int StringMapInit(StringMap* map, std::int32_t bucket_count) {
  if (map == nullptr || bucket_count < 0) {
    return 0;
  }
  if (bucket_count == 0) {
    bucket_count = 10;
  }
  map->buckets =
      static_cast<StringMapEntry*>(std::calloc(static_cast<std::size_t>(bucket_count), sizeof(StringMapEntry)));
  if (map->buckets == nullptr) {
    map->bucket_count = 0;
    return 0;
  }
  map->bucket_count = bucket_count;
  return 1;
}

int StringMapPut(StringMap* map, const char* key, void* value) {
  if (!Usable(map, key)) {
    return 0;
  }
  StringMapEntry* entry = &map->buckets[BucketOf(map, key)];
  if (entry->key == nullptr) {
    entry->key = CopyKey(key);
    if (entry->key == nullptr) {
      return 0;
    }
    entry->value = value;
    return 1;
  }
  while (true) {
    if (entry->key != nullptr && std::strcmp(entry->key, key) == 0) {
      entry->value = value;  // the old value stays the caller's
      return 1;
    }
    if (entry->next == nullptr) {
      break;
    }
    entry = entry->next;
  }
  auto* added = static_cast<StringMapEntry*>(std::calloc(1, sizeof(StringMapEntry)));
  if (added == nullptr) {
    return 0;
  }
  added->key = CopyKey(key);
  if (added->key == nullptr) {
    std::free(added);
    return 0;
  }
  added->value = value;
  entry->next = added;
  return 1;
}

StringMapEntry* StringMapGetEntry(const StringMap* map, const char* key) {
  if (!Usable(map, key)) {
    return nullptr;
  }
  for (StringMapEntry* entry = &map->buckets[BucketOf(map, key)]; entry != nullptr; entry = entry->next) {
    if (entry->key != nullptr && std::strcmp(entry->key, key) == 0) {
      return entry;
    }
  }
  return nullptr;
}

int StringMapContains(const StringMap* map, const char* key) { return StringMapGetEntry(map, key) != nullptr ? 1 : 0; }

void* StringMapGet(const StringMap* map, const char* key) {
  const StringMapEntry* entry = StringMapGetEntry(map, key);
  return entry != nullptr ? entry->value : nullptr;
}

int StringMapRemove(StringMap* map, const char* key) {
  if (!Usable(map, key)) {
    return 0;
  }
  StringMapEntry* head = &map->buckets[BucketOf(map, key)];
  if (head->key != nullptr && std::strcmp(head->key, key) == 0) {
    std::free(head->key);
    StringMapEntry* next = head->next;
    if (next != nullptr) {
      *head = *next;  // the head entry is part of the bucket array: the successor moves into it
      std::free(next);
    } else {
      head->key = nullptr;
      head->value = nullptr;
    }
    return 1;
  }
  for (StringMapEntry* previous = head; previous->next != nullptr; previous = previous->next) {
    StringMapEntry* entry = previous->next;
    if (std::strcmp(entry->key, key) == 0) {
      previous->next = entry->next;
      std::free(entry->key);
      std::free(entry);
      return 1;
    }
  }
  return 0;
}

std::int32_t StringMapCount(const StringMap* map) {
  if (map == nullptr || map->buckets == nullptr) {
    return 0;
  }
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < map->bucket_count; ++i) {
    for (const StringMapEntry* entry = &map->buckets[i]; entry != nullptr; entry = entry->next) {
      if (entry->key != nullptr) {
        ++count;
      }
    }
  }
  return count;
}

int StringMapResize(StringMap* map, std::int32_t bucket_count) {
  if (map == nullptr || map->buckets == nullptr || bucket_count < 1) {
    return 0;
  }
  StringMap resized{};
  if (StringMapInit(&resized, bucket_count) != 1) {
    return 0;
  }
  // The new buckets borrow the key strings; whichever set of buckets is given up keeps them.
  for (std::int32_t i = 0; i < map->bucket_count; ++i) {
    for (const StringMapEntry* entry = &map->buckets[i]; entry != nullptr; entry = entry->next) {
      if (entry->key == nullptr) {
        continue;
      }
      StringMapEntry* head = &resized.buckets[BucketOf(&resized, entry->key)];
      if (head->key == nullptr) {
        *head = StringMapEntry{entry->key, entry->value, head->next};
        continue;
      }
      auto* added = static_cast<StringMapEntry*>(std::calloc(1, sizeof(StringMapEntry)));
      if (added == nullptr) {
        FreeBuckets(&resized, false);
        return 0;
      }
      *added = StringMapEntry{entry->key, entry->value, head->next};
      head->next = added;
    }
  }
  FreeBuckets(map, false);
  *map = resized;
  return 1;
}

const char** StringMapKeys(const StringMap* map) {
  const std::int32_t count = StringMapCount(map);
  auto** keys = static_cast<const char**>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(char*)));
  if (keys == nullptr || count == 0) {
    return keys;
  }
  std::int32_t index = 0;
  for (std::int32_t i = 0; i < map->bucket_count; ++i) {
    for (const StringMapEntry* entry = &map->buckets[i]; entry != nullptr; entry = entry->next) {
      if (entry->key != nullptr) {
        keys[index++] = entry->key;
      }
    }
  }
  return keys;
}

void StringMapFree(StringMap* map) {
  if (map == nullptr || map->buckets == nullptr) {
    return;
  }
  FreeBuckets(map, true);
}

}  // namespace vx
