// Loads an XML table document (bench/generate_table_xml.py) into the table store, as the agent does
// with documents from the server, and prints the rows of each table. The tables are defined first,
// as the store's initialisation would: Customer and Orders, Orders.CUSTOMER_ID referring to
// Customer.ID. With --nested the one table is Node, whose PARENT_ID refers to its own ID (the
// self-referencing chains of generate_table_xml.py --nested). Exit code 0 when the load succeeded, 1
// when it failed, 2 on a usage error.
//
// Usage: vxbench_xml_load [--nested] FILE
#include <cstdio>
#include <cstring>

#include "tablestore/table_data.h"
#include "tablestore/table_xml.h"

namespace {}  // namespace

int main(int argc, char** argv) {
  // Output through a static buffer: a first printf would otherwise allocate stdout's buffer, and that
  // large request is where glibc consolidates the chunks the freed document left behind, a cost
  // xmllint (which allocates nothing after freeing its tree) never pays either.
  static char output_buffer[BUFSIZ];
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  const bool nested = argc == 3 && std::strcmp(argv[1], "--nested") == 0;
  if (argc != 2 && !nested) {
    std::fprintf(stderr, "usage: %s [--nested] FILE\n", argv[0]);
    return 2;
  }
  const char* id[] = {"ID"};
  if (nested) {
    vx::TableDefinition* node =
        vx::DefineTable("Node", {{"ID", vx::kTypeInt}, {"PARENT_ID", vx::kTypeInt}, {"NAME", vx::kTypeChar}});
    if (vx::SetPrimaryKey(node, id, 1) != 1 || vx::AddForeignKey(node, "PARENT_ID", "ID", "Node") != 1) return 1;
    const int loaded = vx::ConstructTableDataFromXmlFile(argv[2]);
    const vx::TableData* table = vx::GetTableDataByName("Node");
    std::printf("Node %d\n", table != nullptr ? table->row_count : 0);
    return loaded == 1 ? 0 : 1;
  }
  vx::TableDefinition* customer = vx::DefineTable("Customer", {{"ID", vx::kTypeInt},
                                                               {"NAME", vx::kTypeChar},
                                                               {"ACTIVE", vx::kTypeBoolean},
                                                               {"RATE", vx::kTypeFloat},
                                                               {"SINCE", vx::kTypeDate},
                                                               {"STAMP", vx::kTypeDateTime},
                                                               {"NOTE", vx::kTypeText}});
  if (vx::SetPrimaryKey(customer, id, 1) != 1) return 1;
  vx::TableDefinition* orders = vx::DefineTable("Orders", {{"ID", vx::kTypeInt},
                                                           {"CUSTOMER_ID", vx::kTypeInt},
                                                           {"QTY", vx::kTypeSmallInt},
                                                           {"AMOUNT", vx::kTypeDouble},
                                                           {"LABEL", vx::kTypeChar},
                                                           {"STATUS", vx::kTypeChar}});
  if (vx::SetPrimaryKey(orders, id, 1) != 1 || vx::AddForeignKey(orders, "CUSTOMER_ID", "ID", "Customer") != 1) {
    return 1;
  }

  const int loaded = vx::ConstructTableDataFromXmlFile(argv[1]);
  for (const char* name : {"Customer", "Orders"}) {
    const vx::TableData* table = vx::GetTableDataByName(name);
    std::printf("%s %d\n", name, table != nullptr ? table->row_count : 0);
  }
  // The store lives until the process ends, as in the agent.
  return loaded == 1 ? 0 : 1;
}
