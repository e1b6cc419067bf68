// Loads an XML table document (bench/generate_table_xml.py) into the table store, as the agent does
// with documents from the server, and prints the rows of each table. The tables are defined first,
// as the store's initialisation would: Customer and Orders, Orders.CUSTOMER_ID referring to
// Customer.ID. Exit code 0 when the load succeeded, 1 when it failed, 2 on a usage error.
//
// Usage: vxbench_xml_load FILE
#include <cstdio>

#include "tablestore/table_data.h"
#include "tablestore/table_xml.h"

namespace {}  // namespace

int main(int argc, char** argv) {
  // Output through a static buffer: a first printf would otherwise allocate stdout's buffer, and that
  // large request is where glibc consolidates the chunks the freed document left behind, a cost
  // xmllint (which allocates nothing after freeing its tree) never pays either.
  static char output_buffer[BUFSIZ];
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const char* id[] = {"ID"};
  vx::TableDefinition* customer = vx::DefineTable("Customer", {{"ID", vx::kTypeInt},
                                                               {"NAME", vx::kTypeChar},
                                                               {"ACTIVE", vx::kTypeBoolean},
                                                               {"RATE", vx::kTypeFloat},
                                                               {"SINCE", vx::kTypeDate},
                                                               {"STAMP", vx::kTypeDateTime},
                                                               {"NOTE", vx::kTypeText}});
  vx::SetPrimaryKey(customer, id, 1);
  vx::TableDefinition* orders = vx::DefineTable("Orders", {{"ID", vx::kTypeInt},
                                                           {"CUSTOMER_ID", vx::kTypeInt},
                                                           {"QTY", vx::kTypeSmallInt},
                                                           {"AMOUNT", vx::kTypeDouble},
                                                           {"LABEL", vx::kTypeChar},
                                                           {"STATUS", vx::kTypeChar}});
  vx::SetPrimaryKey(orders, id, 1);
  vx::AddForeignKey(orders, "CUSTOMER_ID", "ID", "Customer");

  const int loaded = vx::ConstructTableDataFromXmlFile(argv[1]);
  for (const char* name : {"Customer", "Orders"}) {
    const vx::TableData* table = vx::GetTableDataByName(name);
    std::printf("%s %d\n", name, table != nullptr ? table->row_count : 0);
  }
  // The store lives until the process ends, as in the agent.
  return loaded == 1 ? 0 : 1;
}
