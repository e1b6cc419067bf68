// Rows of the in-memory data store loaded from an XML document: every element below the root whose
// name is the name of a defined table becomes one row of that table, its attributes giving the column
// values by column name (both matched case-insensitively). Elements whose names contain "List" and
// name no table are containers: the elements inside them are still loaded.
//
// Attribute values of the form table:column:value are references: identifier columns receive the
// same generated identifier for the same reference within one load (the IdMap), and key columns
// missing on an element are taken from its ancestors (and foreign keys from one path below it).
//
// Outside input: documents are parsed without network access and with libxml2's default limits
// (depth, text sizes, entity amplification); text that entity references bring into attribute
// values is bounded per load, and a document that exceeds it fails to load. Tables created and rows
// added before a failure stay in the store. Loads run on one thread at a time.
#pragma once

#include <libxml/tree.h>

#include <cstdint>

#include "tablestore/containers.h"

namespace vx {

// Text that entity references may bring into the attribute values of one load, and the number of
// entity references followed for it. Beyond either the load fails.
inline constexpr std::int64_t kMaxEntityTextPerLoad = 4 * 1024 * 1024;
inline constexpr std::int64_t kMaxEntityReferencesPerLoad = 100000;

// The IdMap of a load: reference texts (table:column:value) -> allocated 4-byte identifiers.
inline constexpr std::int32_t kIdMapBuckets = 50;

// 1 when every row below the root was built, 0 otherwise (malformed XML included).
[[nodiscard]] int ConstructTableDataFromXmlBuffer(const char* buffer, std::int32_t length);
[[nodiscard]] int ConstructTableDataFromXmlFile(const char* path);
// Builds rows from the children of node (of the parsed document). The load's IdMap, which the caller
// frees with FreeIdMap, or null on failure.
[[nodiscard]] StringMap* ConstructTableDataFromXmlNode(xmlDoc* document, xmlNode* node);
void FreeIdMap(StringMap* id_map);

// Converts the text for the column type into a new value buffer at *destination (its length at
// *length): 1 on success, also when the type stores nothing (types 11, 12, 13, 20, 21 and unknown
// ones: nothing changes) or the text is null; 0 when memory runs out.
[[nodiscard]] int AllocateAndCopyColumnValue(char** destination, std::int32_t* length, std::uint8_t type,
                                             const char* text);

}  // namespace vx
