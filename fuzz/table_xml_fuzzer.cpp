// libFuzzer target: the XML table loader on any bytes, against a small data dictionary with keys,
// foreign keys, defaults and every column type. Each input starts from empty tables, so nothing
// accumulates from one input to the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tablestore/table_data.h"
#include "tablestore/table_xml.h"

namespace {

// A definition the target needs could not be built: nothing would be fuzzed.
void Require(int result) {
  if (result != 1) std::abort();
}

void DefineTables() {
  vx::TableDefinition* customer = vx::DefineTable("Customer", {{"ID", vx::kTypeInt},
                                                               {"NAME", vx::kTypeChar},
                                                               {"ACTIVE", vx::kTypeBoolean},
                                                               {"RATE", vx::kTypeFloat},
                                                               {"TOTAL", vx::kTypeDouble},
                                                               {"BIG", vx::kTypeBigInt},
                                                               {"SINCE", vx::kTypeDate},
                                                               {"AT", vx::kTypeTime},
                                                               {"STAMP", vx::kTypeDateTime},
                                                               {"DATA", vx::kTypeBlob},
                                                               {"NOTE", vx::kTypeText}});
  Require(vx::SetColumnDefault(vx::FindColumnDefinition(customer, "NOTE"), "none", 4));
  const char* id[] = {"ID"};
  Require(vx::SetPrimaryKey(customer, id, 1));
  vx::TableDefinition* orders =
      vx::DefineTable("Orders", {{"ID", vx::kTypeInt}, {"CUSTOMER_ID", vx::kTypeInt}, {"LABEL", vx::kTypeText}});
  Require(vx::SetPrimaryKey(orders, id, 1));
  Require(vx::AddForeignKey(orders, "CUSTOMER_ID", "ID", "Customer"));
  vx::TableDefinition* item = vx::DefineTable("Item", {{"ORDER_ID", vx::kTypeInt}, {"QTY", vx::kTypeInt}});
  Require(vx::AddForeignKey(item, "ORDER_ID", "ID", "Orders"));
  vx::TableDefinition* note = vx::DefineTable("Note", {{"CUSTOMER_ID", vx::kTypeInt}, {"BODY", vx::kTypeText}});
  Require(vx::AddForeignKey(note, "CUSTOMER_ID", "CUSTOMER_ID", "Orders"));
  // A cycle of foreign keys: references to it follow the chain until its bound.
  vx::TableDefinition* node = vx::DefineTable("Node", {{"ID", vx::kTypeInt}, {"PARENT_ID", vx::kTypeInt}});
  Require(vx::AddForeignKey(node, "PARENT_ID", "ID", "Node"));
  Require(vx::AddForeignKey(node, "ID", "PARENT_ID", "Node"));
  vx::DefineTable("Workflow_Statements", {{"STATEMENT_ID", vx::kTypeInt}, {"NEXT_STATEMENT_ID", vx::kTypeInt}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool defined = (DefineTables(), true);
  (void)defined;
  if (size > 1 << 20) return 0;
  (void)vx::ConstructTableDataFromXmlBuffer(reinterpret_cast<const char*>(data), static_cast<std::int32_t>(size));
  vx::Vector* tables = vx::TableList();
  while (tables->head != nullptr) vx::FreeTableData(static_cast<vx::TableData*>(tables->head->data));
  return 0;
}
