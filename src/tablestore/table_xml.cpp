#include "tablestore/table_xml.h"

#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "logging/logger.h"
#include "tablestore/date_time.h"
#include "tablestore/sequence_generator.h"
#include "tablestore/table_data.h"
#include "tablestore/value_compare.h"

namespace vx {
namespace {

// Network access off; libxml2's default limits stay on (no XML_PARSE_HUGE). Parser messages are not
// printed: a failed parse is reported through the process log.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
// Entity references nest at most this deep inside one attribute value (libxml2's own limit is 40).
constexpr int kMaxEntityDepth = 40;
// Foreign-key chains followed for an identifier are at most this long (a cyclic chain ends here).
constexpr int kMaxForeignKeyChain = 64;
// The IdMap grows to four times its buckets (plus one, keeping the count odd for the base-26 hash)
// when it holds more keys than buckets, up to this many buckets.
constexpr std::int32_t kMaxIdMapBuckets = 1 << 28;

enum class Outcome { kBuilt, kFailed, kAborted };

struct Attribute {
  std::string name;
  std::string value;
};

// A key's value: an attribute's text, shared by every element that inherits it (null: none yet).
using KeyValue = std::shared_ptr<const std::string>;

// Key records name their columns with the table definition's own strings.
struct ForeignKeyRecord {
  const char* referenced_table;
  const char* referenced_column;
  const char* local_column;
  KeyValue value;
};

struct PrimaryKeyRecord {
  const char* column;
  KeyValue value;
};

// One walk's answer for one node: the value that the walk up from the node (or down from it, along
// first child elements) finds for a key. table is the referenced table of a foreign key, null for a
// primary key; the names are the definitions' own strings, so equal pointers mean equal names.
struct WalkKey {
  const xmlNode* node;
  const char* table;
  const char* column;
  bool below;
  bool operator==(const WalkKey&) const = default;
};

struct WalkKeyHash {
  std::size_t operator()(const WalkKey& key) const {
    std::size_t hash = std::hash<const void*>()(key.node);
    for (const void* part : {static_cast<const void*>(key.table), static_cast<const void*>(key.column)}) {
      hash = hash * 1000003u ^ std::hash<const void*>()(part);
    }
    return hash * 2u + (key.below ? 1u : 0u);
  }
};

using ForeignKeyList = std::vector<ForeignKeyRecord>;

const char* Text(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

bool SameName(const char* a, const char* b) { return CompareStringsNoCase(a, b) == 0; }

bool IsElement(const xmlNode* node) { return node != nullptr && node->type == XML_ELEMENT_NODE; }

// The first child that is an element. White space and comments before it do not count, so the path
// below an element is the same however the document is laid out.
const xmlNode* FirstElementChild(const xmlNode* node) {
  const xmlNode* child = node->children;
  while (child != nullptr && !IsElement(child)) child = child->next;
  return child;
}

// The state of one load: the document, its IdMap and what entity references may still bring in.
class Loader {
 public:
  // owns_document: the load's own document, whose finished subtrees it frees as it goes.
  Loader(xmlDoc* document, StringMap* id_map, bool owns_document)
      : document_(document), id_map_(id_map), owns_document_(owns_document) {}

  // Builds rows from the sibling list that starts at first. kFailed when an element of that list
  // failed; failures deeper down only end their own lists. kAborted when the document exceeded the
  // entity limits (the whole load ends).
  Outcome BuildRowsFromList(xmlNode* first);

 private:
  Outcome BuildRow(xmlNode* element);
  // Frees an element whose subtree the walk has finished (only in a document of the load's own).
  void ReleaseFinishedElement(xmlNode* element);
  bool DetermineColumnValue(const TableData& table, const ColumnDefinition& column,
                            const std::vector<Attribute>& attributes, const ForeignKeyList& foreign_keys,
                            const std::vector<PrimaryKeyRecord>& primary_keys, char** value, std::int32_t* length);
  // The identifier of a reference, or none when its table or column part is missing.
  std::optional<std::int32_t> ResolveReference(const TableData& table, const ColumnDefinition& column,
                                               const std::string& reference, const std::string& table_part,
                                               const std::string& column_part, const std::string& value_part);
  void MapIdentifier(const std::string& key, std::int32_t identifier);
  std::optional<std::int32_t> MappedIdentifier(const std::string& key) const;

  ForeignKeyList BuildForeignKeyList(const TableDefinition* definition);
  std::vector<PrimaryKeyRecord> BuildPrimaryKeyList(const TableDefinition* definition);
  // The value of a key from the element at start and its ancestors: the first of them with an
  // attribute named like the column or, for a foreign key, named like its referenced table with a
  // value in its own resolved foreign key of that local column. false when the entity limits were
  // exceeded.
  bool ValueFromAbove(const xmlNode* start, const char* table, const char* column, KeyValue& value);
  // The value of a foreign key from the path that starts at start and goes on through the first
  // child element at every level: the first element named like the referenced table with an
  // attribute named like the column or a value in its own resolved foreign key of that local column.
  bool ValueFromBelow(const xmlNode* start, const char* table, const char* column, KeyValue& value);
  bool Walk(const xmlNode* start, const char* table, const char* column, bool below, KeyValue& value);
  // What the node itself gives for a key on a walk.
  bool OwnValue(const xmlNode* node, const char* table, const char* column, bool below, KeyValue& value);
  // The foreign-key list of the node's table, resolved from the node's ancestors.
  const ForeignKeyList* ResolvedForeignKeysOf(const xmlNode* node);

  bool ReadAttributes(const xmlNode* element, std::vector<Attribute>& attributes);
  // The value of the node's first attribute named so (case-insensitive); false when the entity limits
  // were exceeded.
  bool FindAttributeValue(const xmlNode* node, const char* name, KeyValue& value);
  bool AttributeText(const xmlAttr* attribute, std::string& text);
  bool AppendNodeListText(const xmlNode* list, int depth, std::string& text);

  xmlDoc* document_;
  StringMap* id_map_;
  bool owns_document_;
  std::int64_t id_count_ = 0;  // keys in the IdMap
  std::int64_t entity_text_left_ = kMaxEntityTextPerLoad;
  std::int64_t entity_references_left_ = kMaxEntityReferencesPerLoad;
  bool aborted_ = false;
  // Both last for the whole load, so that every node's list and every walk's answer for a node are
  // worked out once: an element then costs as much as its own attributes and keys, whatever its depth.
  // Answers of the document do not change while it is loaded; node-based maps keep their addresses.
  std::unordered_map<const xmlNode*, ForeignKeyList> resolved_lists_;
  std::unordered_map<WalkKey, KeyValue, WalkKeyHash> walks_;
  std::vector<Attribute> attributes_;  // of the element being built; its strings are reused
};

Outcome Loader::BuildRowsFromList(xmlNode* first) {
  // Depth first, pre-order, with an explicit stack of sibling lists (the tree may be deep when a
  // caller hands in its own document), each with the element whose children it holds.
  struct Level {
    xmlNode* next;
    xmlNode* owner;  // none for the first list
  };
  std::vector<Level> levels{{first, nullptr}};
  // A list is done when it is exhausted or one of its elements failed: so is its owner's subtree.
  auto finish_level = [this, &levels] {
    xmlNode* owner = levels.back().owner;
    levels.pop_back();
    if (owner != nullptr) ReleaseFinishedElement(owner);
  };
  bool outer_failed = false;
  while (!levels.empty()) {
    xmlNode* node = levels.back().next;
    if (node == nullptr) {
      finish_level();
      continue;
    }
    if (IsElement(node)) {
      const Outcome outcome = BuildRow(node);
      if (outcome == Outcome::kAborted) return outcome;
      if (outcome == Outcome::kFailed) {
        LogError("Cannot create and add a new row while constructing tabledata from XML file.\n");
        if (levels.size() == 1) outer_failed = true;
        finish_level();
        continue;
      }
    }
    levels.back().next = node->next;
    // Only an element's children belong to the element tree: an entity reference's children are
    // the entity's declaration, shared by every reference to it.
    if (!IsElement(node)) continue;
    if (node->children != nullptr) {
      levels.push_back({node->children, node});
    } else {
      ReleaseFinishedElement(node);  // a leaf: done
    }
  }
  return outer_failed ? Outcome::kFailed : Outcome::kBuilt;
}

void Loader::ReleaseFinishedElement(xmlNode* element) {
  // Once the walk has left an element's subtree nothing reads it again: later rows look only at
  // their own ancestors (which are this element's ancestors, still in place) and at their own
  // descendants, and the answers kept for its nodes are never asked for again. Rows keep copies of
  // the values. So a load that owns its document gives the subtree's memory back at once, and
  // the rows built after it reuse it instead of adding to the peak.
  if (!owns_document_) return;
  xmlUnlinkNode(element);
  xmlFreeNode(element);
}

Outcome Loader::BuildRow(xmlNode* element) {
  std::vector<Attribute>& attributes = attributes_;
  if (!ReadAttributes(element, attributes)) return Outcome::kAborted;

  const char* name = Text(element->name);
  TableData* table = GetTableDataByName(name);
  if (table == nullptr) {
    (void)CreateTable(name);  // whether it was created, the second look says
    table = GetTableDataByName(name);
  }
  if (table == nullptr) return FindSubString(name, "List") == 1 ? Outcome::kBuilt : Outcome::kFailed;
  const TableDefinition* definition = table->definition;
  if (table->kind != kTableKindTable || definition == nullptr) return Outcome::kFailed;

  ForeignKeyList foreign_keys = BuildForeignKeyList(definition);
  for (ForeignKeyRecord& key : foreign_keys) {
    if (!ValueFromAbove(element->parent, key.referenced_table, key.referenced_column, key.value)) {
      return Outcome::kAborted;
    }
  }
  for (ForeignKeyRecord& key : foreign_keys) {
    if (!key.value &&
        !ValueFromBelow(FirstElementChild(element), key.referenced_table, key.referenced_column, key.value)) {
      return Outcome::kAborted;
    }
  }
  std::vector<PrimaryKeyRecord> primary_keys = BuildPrimaryKeyList(definition);
  for (PrimaryKeyRecord& key : primary_keys) {
    if (!ValueFromAbove(element->parent, nullptr, key.column, key.value)) return Outcome::kAborted;
  }

  const auto count = static_cast<std::size_t>(table->column_count > 0 ? table->column_count : 0);
  auto** values = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
  auto* lengths = static_cast<std::int32_t*>(std::calloc(count + 1, sizeof(std::int32_t)));
  RowObject* row = nullptr;
  bool ok = values != nullptr && lengths != nullptr;
  std::size_t index = 0;
  for (const VectorNode* node = definition->columns.head; ok && node != nullptr && index < count;
       node = node->next, ++index) {
    const auto* column = static_cast<const ColumnDefinition*>(node->data);
    ok = DetermineColumnValue(*table, *column, attributes, foreign_keys, primary_keys, &values[index], &lengths[index]);
  }
  if (ok) {
    row = CreateNewRowObject(values, lengths);
    ok = row != nullptr;
  }
  if (ok && AddNewRow(table->name, row) == 1) return Outcome::kBuilt;
  if (row != nullptr) {
    FreeRowObject(row, static_cast<std::int32_t>(count));
  } else {
    for (std::size_t i = 0; values != nullptr && i < count; ++i) std::free(values[i]);
    std::free(static_cast<void*>(values));
    std::free(lengths);
  }
  return Outcome::kFailed;
}

bool Loader::DetermineColumnValue(const TableData& table, const ColumnDefinition& column,
                                  const std::vector<Attribute>& attributes, const ForeignKeyList& foreign_keys,
                                  const std::vector<PrimaryKeyRecord>& primary_keys, char** value,
                                  std::int32_t* length) {
  bool used = false;
  bool scanned_to_end = true;
  for (const Attribute& attribute : attributes) {
    if (!SameName(attribute.name.c_str(), column.name)) continue;
    const char* text = attribute.value.c_str();
    if (CountSubstring(text, ":") < 2) {
      if (AllocateAndCopyColumnValue(value, length, column.type, text) != 1) return false;
      used = true;
      break;
    }
    // A reference, table:column:value; the value part may itself hold colons.
    const std::size_t first = attribute.value.find(':');
    const std::size_t second = attribute.value.find(':', first + 1);
    const std::string table_part = attribute.value.substr(0, first);
    const std::string column_part = attribute.value.substr(first + 1, second - first - 1);
    const std::string value_part = attribute.value.substr(second + 1);
    if (SameName(table.name, "Workflow_Statements") && SameName(column.name, "NEXT_STATEMENT_ID") &&
        value_part == "0") {
      // The end of a statement chain: 0, but later attributes and the keys may still give the value.
      const std::int32_t zero = 0;
      std::free(*value);
      *value = nullptr;
      if (AllocateAndCopy(value, &zero, sizeof zero) != kAllocationOk) return false;
      *length = sizeof zero;
      continue;
    }
    const std::uint8_t type = column.type;
    if (type == kTypeSqlChar || type == kTypeChar || type == kTypeBlob || type == kTypeText) {
      if (AllocateAndCopyColumnValue(value, length, type, value_part.c_str()) != 1) return false;
    } else if (type == kTypeDate || type == kTypeTime || type == kTypeDateTime) {
      if (AllocateAndCopyColumnValue(value, length, type, text) != 1) return false;
    } else {
      const std::optional<std::int32_t> identifier =
          ResolveReference(table, column, attribute.value, table_part, column_part, value_part);
      if (!identifier) {
        scanned_to_end = false;
        break;
      }
      std::free(*value);
      *value = nullptr;
      if (AllocateAndCopy(value, &*identifier, sizeof(std::int32_t)) != kAllocationOk) return false;
      *length = sizeof(std::int32_t);
    }
    used = true;
    break;
  }
  if (!used && column.default_value != nullptr) {
    std::free(*value);
    *value = nullptr;
    if (CopyColumnValue(value, length, column.default_value, column.default_length, column.type) != 1) return false;
  }
  if (!used && scanned_to_end) {
    for (const ForeignKeyRecord& key : foreign_keys) {
      if (SameName(key.local_column, column.name)) {
        return AllocateAndCopyColumnValue(value, length, column.type, key.value ? key.value->c_str() : nullptr) == 1;
      }
    }
    for (const PrimaryKeyRecord& key : primary_keys) {
      if (SameName(key.column, column.name)) {
        return AllocateAndCopyColumnValue(value, length, column.type, key.value ? key.value->c_str() : nullptr) == 1;
      }
    }
  }
  return true;
}

ColumnDefinition* GetColumnDefnEntry(const char* table_name, const char* column_name) {
  LogTrace("@@@@ Inside GetColumnDefnEntry @@@@\n");
  const TableDefinition* definition = GetTableDefinition(table_name);
  if (definition == nullptr) {
    LogError("No definition found for table %s\n", table_name);
    return nullptr;
  }
  return FindColumnDefinition(definition, column_name);
}

// The foreign key of the table whose local column is the column, or null (with the error lines of a
// table without constraints or without foreign keys).
const ForeignKey* ForeignKeyOfColumn(const char* table_name, const char* column_name) {
  const TableDefinition* definition = GetTableDefinition(table_name);
  if (definition == nullptr) return nullptr;
  if (definition->constraints == nullptr) {
    LogError("No constraint Definition \n");
    return nullptr;
  }
  const Vector* keys = definition->constraints->foreign_keys;
  if (keys == nullptr || keys->count == 0) {
    LogError("No Foreignkey Entries in Definition \n");
    return nullptr;
  }
  for (const VectorNode* node = keys->head; node != nullptr; node = node->next) {
    const auto* key = static_cast<const ForeignKey*>(node->data);
    if (SameName(key->column_name, column_name)) return key;
  }
  return nullptr;
}

std::int32_t GenerateForColumn(const char* table_name, const char* column_name) {
  const ColumnDefinition* column = GetColumnDefnEntry(table_name, column_name);
  return column != nullptr ? GenerateID(table_name, column) : -1;
}

std::string ReferenceKey(const char* table_name, const char* column_name, const std::string& value_part) {
  return FormatText("%s:%s:%s", table_name, column_name, value_part.c_str());
}

std::optional<std::int32_t> Loader::ResolveReference(const TableData& table, const ColumnDefinition& column,
                                                     const std::string& reference, const std::string& table_part,
                                                     const std::string& column_part, const std::string& value_part) {
  const bool has_value_part = !value_part.empty();
  if (const std::optional<std::int32_t> mapped = MappedIdentifier(reference)) {
    if (has_value_part) MapIdentifier(ReferenceKey(table.name, column.name, value_part), *mapped);
    return mapped;
  }
  std::int32_t identifier = -1;
  int chain_length = 0;
  if (column.generator_name != nullptr) {
    identifier = GenerateID(table.name, &column);
  } else {
    if (table_part.empty() || column_part.empty()) {
      LogError("Unable to get Column details for AutoID generation \n");
      return std::nullopt;
    }
    identifier = GenerateForColumn(table_part.c_str(), column_part.c_str());
    std::string chain_table = table_part;
    std::string chain_column = column_part;
    while (identifier == -1 && chain_length < kMaxForeignKeyChain) {
      const ForeignKey* key = ForeignKeyOfColumn(chain_table.c_str(), chain_column.c_str());
      if (key == nullptr) break;
      chain_table = key->referenced_table_name;
      chain_column = key->referenced_column_name;
      ++chain_length;
      identifier = GenerateForColumn(chain_table.c_str(), chain_column.c_str());
    }
  }
  if (identifier == -1) {
    if (has_value_part) identifier = TextToInt32(value_part.c_str());
  } else if (chain_length > 0) {
    // The referenced tables' own keys for this value take the same identifier, unless one of them
    // already has one, which is then used.
    std::string chain_table = table_part;
    std::string chain_column = column_part;
    for (int step = 0; step < chain_length; ++step) {
      const ForeignKey* key = ForeignKeyOfColumn(chain_table.c_str(), chain_column.c_str());
      if (key == nullptr) break;
      chain_table = key->referenced_table_name;
      chain_column = key->referenced_column_name;
      const std::string key_text = ReferenceKey(chain_table.c_str(), chain_column.c_str(), value_part);
      if (const std::optional<std::int32_t> mapped = MappedIdentifier(key_text)) {
        identifier = *mapped;
        break;
      }
      MapIdentifier(key_text, identifier);
    }
  }
  if (has_value_part) MapIdentifier(ReferenceKey(table.name, column.name, value_part), identifier);
  MapIdentifier(reference, identifier);
  return identifier;
}

std::optional<std::int32_t> Loader::MappedIdentifier(const std::string& key) const {
  const void* value = StringMapGet(id_map_, key.c_str());
  if (value == nullptr) return std::nullopt;
  std::int32_t identifier = 0;
  std::memcpy(&identifier, value, sizeof identifier);
  return identifier;
}

void Loader::MapIdentifier(const std::string& key, std::int32_t identifier) {
  if (StringMapEntry* entry = StringMapGetEntry(id_map_, key.c_str())) {
    std::memcpy(entry->value, &identifier, sizeof identifier);  // re-mapped: the key's storage is reused
    return;
  }
  auto* stored = static_cast<std::int32_t*>(std::malloc(sizeof(std::int32_t)));
  if (stored == nullptr) throw std::bad_alloc();
  *stored = identifier;
  if (StringMapPut(id_map_, key.c_str(), stored) != 1) {
    std::free(stored);
    throw std::bad_alloc();
  }
  // The map grows with the load: with a fixed number of buckets every lookup would walk chains that
  // grow with the document, and loading references would take quadratic time. When growing fails for
  // want of memory the map stays as it is, only slower.
  if (++id_count_ > id_map_->bucket_count && id_map_->bucket_count < kMaxIdMapBuckets) {
    (void)StringMapResize(id_map_, id_map_->bucket_count * 4 + 1);
  }
}

ForeignKeyList Loader::BuildForeignKeyList(const TableDefinition* definition) {
  ForeignKeyList list;
  if (definition == nullptr || definition->constraints == nullptr || definition->constraints->foreign_keys == nullptr) {
    return list;
  }
  for (const VectorNode* node = definition->constraints->foreign_keys->head; node != nullptr; node = node->next) {
    const auto* key = static_cast<const ForeignKey*>(node->data);
    LogTrace("Column Name : %s\n", key->column_name);
    LogTrace("Ref Column  : %s\n", key->referenced_column_name);
    LogTrace("Tablename : %s\n", key->referenced_table_name);
    list.push_back({key->referenced_table_name, key->referenced_column_name, key->column_name, nullptr});
  }
  return list;
}

std::vector<PrimaryKeyRecord> Loader::BuildPrimaryKeyList(const TableDefinition* definition) {
  std::vector<PrimaryKeyRecord> list;
  const TableConstraints* constraints = definition->constraints;
  if (constraints == nullptr) return list;
  const Vector* foreign_keys = constraints->foreign_keys;
  const bool has_foreign_keys = foreign_keys != nullptr && foreign_keys->count > 0;
  for (std::int32_t i = 0; i < constraints->primary_key_count; ++i) {
    const char* column = constraints->primary_key_columns[i];
    LogTrace("Primary key : %s\n\n", column);
    bool is_foreign_key = false;
    if (has_foreign_keys) {
      LogTrace("Foreign key Constraints\n");
      LogTrace("********************************\n");
      for (const VectorNode* node = foreign_keys->head; node != nullptr && !is_foreign_key; node = node->next) {
        const auto* key = static_cast<const ForeignKey*>(node->data);
        LogTrace("Column Name : %s\n", key->column_name);
        is_foreign_key = SameName(key->column_name, column);
      }
    }
    if (!is_foreign_key) list.push_back({column, nullptr});
  }
  return list;
}

bool Loader::ValueFromAbove(const xmlNode* start, const char* table, const char* column, KeyValue& value) {
  return Walk(start, table, column, false, value);
}

bool Loader::ValueFromBelow(const xmlNode* start, const char* table, const char* column, KeyValue& value) {
  return Walk(start, table, column, true, value);
}

bool Loader::Walk(const xmlNode* start, const char* table, const char* column, bool below, KeyValue& value) {
  // Nearest first, up to the first node that gives a value or whose answer is known; every node
  // passed on the way has the same answer.
  std::vector<const xmlNode*> passed;
  KeyValue found;
  for (const xmlNode* node = start; IsElement(node); node = below ? FirstElementChild(node) : node->parent) {
    if (const auto known = walks_.find({node, table, column, below}); known != walks_.end()) {
      found = known->second;
      break;
    }
    passed.push_back(node);
    if (!OwnValue(node, table, column, below, found)) return false;
    if (found) break;
  }
  for (const xmlNode* node : passed) walks_.insert_or_assign({node, table, column, below}, found);
  value = std::move(found);
  return true;
}

bool Loader::OwnValue(const xmlNode* node, const char* table, const char* column, bool below, KeyValue& value) {
  const bool holds_table = table != nullptr && SameName(table, Text(node->name));
  if (below && !holds_table) return true;  // below, only elements of the referenced table count
  if (!FindAttributeValue(node, column, value)) return false;
  if (value || !holds_table) return true;
  const ForeignKeyList* node_keys = ResolvedForeignKeysOf(node);
  if (node_keys == nullptr) return false;
  for (const ForeignKeyRecord& node_key : *node_keys) {
    if (SameName(node_key.local_column, column)) {
      value = node_key.value;
      break;
    }
  }
  return true;
}

const ForeignKeyList* Loader::ResolvedForeignKeysOf(const xmlNode* node) {
  if (const auto known = resolved_lists_.find(node); known != resolved_lists_.end()) return &known->second;
  ForeignKeyList keys = BuildForeignKeyList(GetTableDefinition(Text(node->name)));
  for (ForeignKeyRecord& key : keys) {
    if (!ValueFromAbove(node->parent, key.referenced_table, key.referenced_column, key.value)) return nullptr;
  }
  return &resolved_lists_.emplace(node, std::move(keys)).first->second;
}

bool Loader::ReadAttributes(const xmlNode* element, std::vector<Attribute>& attributes) {
  std::size_t count = 0;
  for (const xmlAttr* attribute = element->properties; attribute != nullptr; attribute = attribute->next, ++count) {
    if (count == attributes.size()) attributes.emplace_back();
    attributes[count].name.assign(Text(attribute->name));
    attributes[count].value.clear();
    if (!AttributeText(attribute, attributes[count].value)) return false;
  }
  attributes.resize(count);
  return true;
}

bool Loader::FindAttributeValue(const xmlNode* node, const char* name, KeyValue& value) {
  for (const xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
    if (!SameName(name, Text(attribute->name))) continue;
    std::string text;
    if (!AttributeText(attribute, text)) return false;
    value = std::make_shared<const std::string>(std::move(text));
    return true;
  }
  return true;
}

bool Loader::AttributeText(const xmlAttr* attribute, std::string& text) {
  if (!AppendNodeListText(attribute->children, 0, text)) {
    if (!aborted_) {
      LogError("ConstructTableData : entity references in attribute %s exceed the limits of a load\n",
               Text(attribute->name));
    }
    aborted_ = true;
    return false;
  }
  return true;
}

// The text of an attribute's child nodes with entity references substituted, as
// xmlNodeListGetString(document, list, 1) gives it, built in one pass and bounded per load.
bool Loader::AppendNodeListText(const xmlNode* list, int depth, std::string& text) {
  for (const xmlNode* node = list; node != nullptr; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content == nullptr) continue;
      const std::size_t size = std::strlen(Text(node->content));
      if (depth > 0) {
        entity_text_left_ -= static_cast<std::int64_t>(size);
        if (entity_text_left_ < 0) return false;
      }
      text.append(Text(node->content), size);
    } else if (node->type == XML_ENTITY_REF_NODE) {
      if (--entity_references_left_ < 0 || depth >= kMaxEntityDepth) return false;
      const xmlEntity* entity = xmlGetDocEntity(document_, node->name);
      if (entity != nullptr && !AppendNodeListText(entity->children, depth + 1, text)) return false;
    }
  }
  return true;
}

// Builds the rows of the node's children into a new IdMap; owns_document: the document is the load's
// own, and its finished subtrees are freed on the way. Result: the outcome; *id_map receives the
// map (also after a failure, for the caller to free).
Outcome BuildFromChildren(xmlDoc* document, xmlNode* node, bool owns_document, StringMap** id_map) {
  *id_map = static_cast<StringMap*>(std::calloc(1, sizeof(StringMap)));
  if (*id_map == nullptr) return Outcome::kFailed;
  if (StringMapInit(*id_map, kIdMapBuckets) != 1) {
    std::free(*id_map);
    *id_map = nullptr;
    return Outcome::kFailed;
  }
  if (node == nullptr) return Outcome::kFailed;
  try {
    Loader loader(document, *id_map, owns_document);
    return loader.BuildRowsFromList(node->children);
  } catch (const std::bad_alloc&) {
    LogError("Unable to allocate memory\n");
    return Outcome::kFailed;
  }
}

void IgnoreGenericError(void*, const char*, ...) {}

// libxml2 prints some messages (encoding errors among them) through its generic error function
// whatever the parse options say. While a document is parsed here they are dropped: a console
// program's output is not the place for them, and the failure is reported through the process log.
class QuietGenericErrors {
 public:
  QuietGenericErrors() : previous_(xmlGenericError), previous_context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
  }
  ~QuietGenericErrors() { xmlSetGenericErrorFunc(previous_context_, previous_); }
  QuietGenericErrors(const QuietGenericErrors&) = delete;
  QuietGenericErrors& operator=(const QuietGenericErrors&) = delete;

 private:
  xmlGenericErrorFunc previous_;
  void* previous_context_;
};

// Loads a parsed document (null: the parse failed); frees it.
int LoadDocument(xmlDoc* document, const char* failure_message) {
  if (document == nullptr) {
    LogError("error: could not parse file file.xml\n");
    return 0;
  }
  StringMap* id_map = nullptr;
  const Outcome outcome = BuildFromChildren(document, xmlDocGetRootElement(document), true, &id_map);
  FreeIdMap(id_map);
  xmlFreeDoc(document);
  if (outcome != Outcome::kBuilt) {
    LogError("%s", failure_message);
    return 0;
  }
  xmlCleanupParser();
  return 1;
}

}  // namespace

int ConstructTableDataFromXmlBuffer(const char* buffer, std::int32_t length) {
  xmlDoc* document = nullptr;
  if (buffer != nullptr && length >= 0) {
    QuietGenericErrors quiet;
    document = xmlReadMemory(buffer, length, "file.xml", nullptr, kParseOptions);
  }
  return LoadDocument(document, "Cannot construct table data from XML buffer.\n");
}

int ConstructTableDataFromXmlFile(const char* path) {
  xmlDoc* document = nullptr;
  if (path != nullptr) {
    QuietGenericErrors quiet;
    document = xmlReadFile(path, nullptr, kParseOptions);
  }
  return LoadDocument(document, "Cannot construct table data from XML file.\n");
}

StringMap* ConstructTableDataFromXmlNode(xmlDoc* document, xmlNode* node) {
  StringMap* id_map = nullptr;
  if (BuildFromChildren(document, node, false, &id_map) != Outcome::kBuilt) {
    LogError("Cannot construct table data from buffer node.\n");
    FreeIdMap(id_map);
    return nullptr;
  }
  return id_map;
}

void FreeIdMap(StringMap* id_map) {
  if (id_map == nullptr) return;
  for (std::int32_t i = 0; id_map->buckets != nullptr && i < id_map->bucket_count; ++i) {
    for (StringMapEntry* entry = &id_map->buckets[i]; entry != nullptr; entry = entry->next) std::free(entry->value);
  }
  StringMapFree(id_map);
  std::free(id_map);
}

int AllocateAndCopyColumnValue(char** destination, std::int32_t* length, std::uint8_t type, const char* text) {
  if (text == nullptr) {
    LogTrace("value parameter in AllocateAndCopyColumnValue is NULL \n");
    return 1;
  }
  char* converted = nullptr;
  std::int32_t converted_length = 0;
  auto copy_bytes = [&](const void* bytes, std::int32_t size) {
    converted_length = size;
    return AllocateAndCopy(&converted, bytes, size) == kAllocationOk;
  };
  bool ok = true;
  switch (type) {
    case kTypeTinyInt:
    case kTypeUnsignedTinyInt:
    case kTypeSmallInt:
    case kTypeUnsignedSmallInt:
    case kTypeInt:
    case kTypeUnsignedInt: {
      const std::int32_t value = TextToInt32(text);
      ok = copy_bytes(&value, sizeof value);
      break;
    }
    case kTypeBigInt:
    case kTypeUnsignedBigInt: {
      const std::int64_t value = TextToInt64(text);
      ok = copy_bytes(&value, sizeof value);
      break;
    }
    case kTypeFloat:
    case kTypeReal: {
      // Single precision, as the comparisons read these types.
      const float value = static_cast<float>(TextToDouble(text));
      ok = copy_bytes(&value, sizeof value);
      break;
    }
    case kTypeDouble: {
      const double value = TextToDouble(text);
      ok = copy_bytes(&value, sizeof value);
      break;
    }
    case kTypeDecimal:
    case kTypeNumeric:
    case kTypeSqlChar:
    case kTypeChar:
    case kTypeBlob:
    case kTypeClob:
    case kTypeText:
      ok = copy_bytes(text, static_cast<std::int32_t>(std::strlen(text)));
      break;
    case kTypeDate: {
      int year = 0, month = 0, day = 0;
      int* const fields[] = {&year, &month, &day};
      ScanDateTimeNumbers(text, "d-d-d", fields);
      const QelDate date{static_cast<std::uint16_t>(year), static_cast<std::uint8_t>(month),
                         static_cast<std::uint8_t>(day)};
      ok = copy_bytes(&date, kQelDateLength);
      break;
    }
    case kTypeTime: {
      int hour = 0, minute = 0, second = 0;
      int* const fields[] = {&hour, &minute, &second};
      ScanDateTimeNumbers(text, "d:d:d", fields);
      const QelTime time{static_cast<std::uint8_t>(hour), static_cast<std::uint8_t>(minute),
                         static_cast<std::uint8_t>(second)};
      ok = copy_bytes(&time, kQelTimeLength);
      break;
    }
    case kTypeDateTime: {
      int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
      int* const fields[] = {&year, &month, &day, &hour, &minute, &second};
      ScanDateTimeNumbers(text, "d-d-d d:d:d", fields);
      converted = reinterpret_cast<char*>(CreateQelDateTime(year, month, day, hour, minute, second));
      converted_length = kQelDateTimeLength;
      ok = converted != nullptr;
      break;
    }
    case kTypeBoolean: {
      const char value = SameName(text, "false") ? 0 : 1;
      ok = copy_bytes(&value, 1);
      break;
    }
    default:
      return 1;  // a type that stores nothing
  }
  if (!ok) {
    std::free(converted);
    return 0;
  }
  std::free(*destination);
  *destination = converted;
  *length = converted_length;
  return 1;
}

}  // namespace vx
