#include "tablestore/table_xml.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tablestore/date_time.h"
#include "tablestore/sequence_generator.h"
#include "tablestore/store_connections.h"
#include "tablestore/table_data.h"
#include "test_files.h"
#include "test_log.h"
#if defined(VX_HAVE_SQLITE)
#include "tablestore/sqlite_provider.h"
#endif

namespace vx::test {
namespace {

std::string Bytes(const void* bytes, std::size_t size) { return std::string(static_cast<const char*>(bytes), size); }
template <typename T>
std::string BytesOf(T value) {
  return Bytes(&value, sizeof value);
}

TEST(AllocateAndCopyColumnValueTest, ConvertsTextByColumnType) {
  struct Case {
    const char* text;
    std::uint8_t type;
    std::string stored;  // the value's bytes; its length is the stored length
  };
  const Case cases[] = {
      {"42", kTypeTinyInt, BytesOf<std::int32_t>(42)},  // every type 1 to 6 is held in 4 bytes
      {"-7", kTypeUnsignedSmallInt, BytesOf<std::int32_t>(-7)},
      {"+12", kTypeInt, BytesOf<std::int32_t>(12)},
      {"12 ", kTypeInt, BytesOf<std::int32_t>(0)},
      {"9000000000", kTypeBigInt, BytesOf<std::int64_t>(9000000000)},
      {"1.5", kTypeFloat, BytesOf<float>(1.5f)},
      {"-0.25", kTypeReal, BytesOf<float>(-0.25f)},
      {"2.75", kTypeDouble, BytesOf<double>(2.75)},
      {"1e3", kTypeDouble, BytesOf<double>(0)},
      {"12.50", kTypeDecimal, "12.50"},
      {"a:b", kTypeSqlChar, "a:b"},
      {"", kTypeText, ""},
      {"2021-03-04", kTypeDate, BytesOf(QelDate{2021, 3, 4})},
      {"10:30", kTypeTime, Bytes("\x0a\x1e\x00", 3)},
      {"99999999999-1-1", kTypeDate, BytesOf(QelDate{0xffff, 1, 1})},  // out-of-range numbers saturate
      {"FALSE", kTypeBoolean, std::string(1, '\0')},
      {"false", kTypeBoolean, std::string(1, '\0')},
      {"no", kTypeBoolean, "\x01"},
      {"0", kTypeBoolean, "\x01"},
  };
  for (const Case& c : cases) {
    char* value = nullptr;
    std::int32_t length = -1;
    ASSERT_EQ(AllocateAndCopyColumnValue(&value, &length, c.type, c.text), 1) << c.text;
    ASSERT_NE(value, nullptr) << c.text;
    EXPECT_EQ(Bytes(value, static_cast<std::size_t>(length)), c.stored) << c.text << " as type " << int{c.type};
    EXPECT_EQ(value[length], '\0');
    std::free(value);
  }
}

TEST(AllocateAndCopyColumnValueTest, DateTimeNullTextAndTypesThatStoreNothing) {
  char* value = nullptr;
  std::int32_t length = 0;
  ASSERT_EQ(AllocateAndCopyColumnValue(&value, &length, kTypeDateTime, "2021-03-04 05:06:07"), 1);
  EXPECT_EQ(length, kQelDateTimeLength);
  char* text = QelDateTimeToString(reinterpret_cast<QelDateTime*>(value));
  EXPECT_STREQ(text, "2021-03-04 05:06:07");
  std::free(text);

  // Nothing stored: the earlier value stays.
  ScopedTestLog log(4);
  EXPECT_EQ(AllocateAndCopyColumnValue(&value, &length, kTypeInt, nullptr), 1);
  EXPECT_EQ(AllocateAndCopyColumnValue(&value, &length, kTypeNotSupported, "5"), 1);
  EXPECT_EQ(AllocateAndCopyColumnValue(&value, &length, 23, "5"), 1);
  EXPECT_EQ(length, kQelDateTimeLength);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"[TRACE] value parameter in AllocateAndCopyColumnValue is NULL "});
  // A stored value replaces (and frees) the earlier one.
  EXPECT_EQ(AllocateAndCopyColumnValue(&value, &length, kTypeInt, "5"), 1);
  EXPECT_EQ(length, 4);
  std::free(value);
}

// The data dictionary of the loader tests:
//   Customer (ID int, primary key; NAME char; ACTIVE boolean; RATE float; SINCE date; AT time;
//             STAMP date-time; NOTE text with default "none")
//   Orders   (ID int, primary key; CUSTOMER_ID int -> Customer.ID; LABEL text)
//   Item     (ORDER_ID int -> Orders.ID; QTY int)
//   Note     (CUSTOMER_ID int -> Orders.CUSTOMER_ID; BODY text)
//   Node     (ID int, primary key; PARENT_ID int -> Node.ID)
//   Workflow_Statements (STATEMENT_ID int; NEXT_STATEMENT_ID int)
class TableXmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TableDefinition* customer = Define("Customer", {{"ID", kTypeInt},
                                                    {"NAME", kTypeChar},
                                                    {"ACTIVE", kTypeBoolean},
                                                    {"RATE", kTypeFloat},
                                                    {"SINCE", kTypeDate},
                                                    {"AT", kTypeTime},
                                                    {"STAMP", kTypeDateTime},
                                                    {"NOTE", kTypeText}});
    ASSERT_EQ(SetColumnDefault(FindColumnDefinition(customer, "NOTE"), "none", 4), 1);
    const char* id[] = {"ID"};
    ASSERT_EQ(SetPrimaryKey(customer, id, 1), 1);
    TableDefinition* orders = Define("Orders", {{"ID", kTypeInt}, {"CUSTOMER_ID", kTypeInt}, {"LABEL", kTypeText}});
    ASSERT_EQ(SetPrimaryKey(orders, id, 1), 1);
    ASSERT_EQ(AddForeignKey(orders, "CUSTOMER_ID", "ID", "Customer"), 1);
    TableDefinition* item = Define("Item", {{"ORDER_ID", kTypeInt}, {"QTY", kTypeInt}});
    ASSERT_EQ(AddForeignKey(item, "ORDER_ID", "ID", "Orders"), 1);
    TableDefinition* note = Define("Note", {{"CUSTOMER_ID", kTypeInt}, {"BODY", kTypeText}});
    ASSERT_EQ(AddForeignKey(note, "CUSTOMER_ID", "CUSTOMER_ID", "Orders"), 1);
    TableDefinition* node = Define("Node", {{"ID", kTypeInt}, {"PARENT_ID", kTypeInt}});
    ASSERT_EQ(SetPrimaryKey(node, id, 1), 1);
    ASSERT_EQ(AddForeignKey(node, "PARENT_ID", "ID", "Node"), 1);
    TableDefinition* workflow =
        Define("Workflow_Statements", {{"STATEMENT_ID", kTypeInt}, {"NEXT_STATEMENT_ID", kTypeInt}});
    const std::int32_t five = 5;
    ASSERT_EQ(SetColumnDefault(FindColumnDefinition(workflow, "STATEMENT_ID"), &five, 4), 1);
  }
  void TearDown() override {
    FreeSequenceCache();
    ResetStoreConnections();
    ResetTableStore();
  }

  struct Column {
    const char* name;
    std::uint8_t type;
  };
  static TableDefinition* Define(const char* name, std::initializer_list<Column> columns) {
    TableDefinition* definition = NewTableDefinition(name);
    for (const Column& column : columns)
      EXPECT_NE(AddColumnDefinition(definition, column.name, column.type, 64), nullptr);
    EXPECT_EQ(AppendTableDefinition(definition), 1);
    return definition;
  }

  static int Load(const std::string& xml) {
    return ConstructTableDataFromXmlBuffer(xml.data(), static_cast<std::int32_t>(xml.size()));
  }

  // Each row of the table as "value|value|..." in column order (values as ColumnValueToString gives
  // them); empty when the table does not exist.
  static std::vector<std::string> Rows(const char* table_name) {
    std::vector<std::string> rows;
    const TableData* table = GetTableDataByName(table_name);
    if (table == nullptr) return rows;
    for (const RowObject* row = table->first_row; row != nullptr; row = row->next) {
      std::string text;
      std::int32_t index = 0;
      for (const VectorNode* node = table->definition->columns.head; node != nullptr; node = node->next, ++index) {
        const auto* column = static_cast<const ColumnDefinition*>(node->data);
        char* value = ColumnValueToString(row->values[index], row->lengths[index], column->type);
        text += (index > 0 ? "|" : "") + std::string(value);
        std::free(value);
      }
      rows.push_back(text);
    }
    return rows;
  }
};

TEST_F(TableXmlTest, AttributesBecomeTypedColumnValues) {
  ASSERT_EQ(Load(R"(<Data><customer id="3" Name="a:b" ACTIVE="FALSE" rate="1.5" since="2021-03-04" at="10:30"
                              stamp="2021-03-04 05:06:07" note="x:y:v:w"/>
                    <CUSTOMER ID="4" ACTIVE="no" NAME="&lt;&amp;&#65;"/></Data>)"),
            1);
  EXPECT_EQ(Rows("Customer"), (std::vector<std::string>{
                                  "3|a:b|0|1.5|2021-03-04|10:30:00|2021-03-04 05:06:07|v:w",
                                  "4|<&A|1|NULL|NULL|NULL|NULL|none",
                              }));
}

TEST_F(TableXmlTest, ListContainersPassThroughAndOnlyRootLevelFailuresFailTheLoad) {
  struct Case {
    const char* xml;
    int result;
    std::vector<std::string> customers;
    std::vector<std::string> errors;
  };
  const std::string failed_row = "[ERROR] Cannot create and add a new row while constructing tabledata from XML file.";
  const std::string failed_load = "[ERROR] Cannot construct table data from XML buffer.";
  const Case cases[] = {
      {"<Data/>", 1, {}, {}},
      {"<Data>text<!-- comment --></Data>", 1, {}, {}},
      {"<Data><CustomerList><Customer ID='1'/></CustomerList></Data>", 1, {"1"}, {}},
      // "List" is matched with its case: "Customerlist" is no container.
      {"<Data><Customerlist><Customer ID='1'/></Customerlist><Customer ID='2'/></Data>",
       0,
       {},
       {failed_row, failed_load}},
      // A failure inside a container skips the rest of that list only.
      {"<Data><AList><Customer ID='1'/><Bogus/><Customer ID='2'/></AList><Customer ID='3'/></Data>",
       1,
       {"1", "3"},
       {failed_row}},
      // Rows built before a root-level failure stay; later siblings are not loaded.
      {"<Data><Customer ID='1'><Bogus/></Customer><Bogus/><Customer ID='2'/></Data>",
       0,
       {"1"},
       {failed_row, failed_row, failed_load}},
      {"<Data><Customer ID='1'></Data>", 0, {}, {"[ERROR] error: could not parse file file.xml"}},
      {"", 0, {}, {"[ERROR] error: could not parse file file.xml"}},
  };
  for (const Case& c : cases) {
    ScopedTestLog log(2);
    EXPECT_EQ(Load(c.xml), c.result) << c.xml;
    std::vector<std::string> ids;
    for (const std::string& row : Rows("Customer")) ids.push_back(row.substr(0, row.find('|')));
    EXPECT_EQ(ids, c.customers) << c.xml;
    EXPECT_EQ(log.Messages(), c.errors) << c.xml;
    ResetTableStore();
    SetUp();
  }
}

TEST_F(TableXmlTest, KeysComeFromAncestorsAndFromBelow) {
  ASSERT_EQ(Load(R"(<Data>
  <Customer ID="5">
    <Orders ID="9"><Item QTY="2"/></Orders>
    <Orders LABEL="no id: the ancestor's ID is the primary key"><Note BODY="b"/></Orders>
  </Customer>
  <Orders ID="1">
    <Customer ID="44"/>
  </Orders>
  <Orders ID="2"><Customer ID="45"/></Orders>
</Data>)"),
            1);
  EXPECT_EQ(Rows("Orders"), (std::vector<std::string>{
                                "9|5|NULL", "5|5|no id: the ancestor's ID is the primary key",
                                "1|44|NULL",  // the first child element, after white space
                                "2|45|NULL",  // the first child element, without white space
                            }));
  EXPECT_EQ(Rows("Item"), std::vector<std::string>{"9|2"});
  // Note's key is Orders.CUSTOMER_ID, which the enclosing Orders takes from its own ancestor.
  EXPECT_EQ(Rows("Note"), std::vector<std::string>{"5|b"});

  // Nested rows of one table: a key comes from the nearest ancestor with the attribute, and the
  // first element's from below, where the nearest descendant on the path has one.
  ASSERT_EQ(Load("<Data><Node ID='7'><Node><Node><Node ID='3'><Node/></Node></Node></Node></Node></Data>"), 1);
  EXPECT_EQ(Rows("Node"), (std::vector<std::string>{"7|3", "7|7", "7|7", "3|7", "3|3"}));
}

TEST_F(TableXmlTest, KeyListsAreTracedAsTheyAreBuilt) {
  ScopedTestLog log(4);
  ASSERT_EQ(Load("<Data><Orders ID='1' CUSTOMER_ID='2'/></Data>"), 1);
  std::vector<std::string> keys;
  for (const std::string& message : log.Messages()) {
    for (const char* prefix : {"[TRACE] Column Name", "[TRACE] Ref Column", "[TRACE] Tablename", "[TRACE] Primary key",
                               "[TRACE] Foreign key", "[TRACE] ****"}) {
      if (message.rfind(prefix, 0) == 0) keys.push_back(message);
    }
  }
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "[TRACE] Column Name : CUSTOMER_ID",
                      "[TRACE] Ref Column  : ID",
                      "[TRACE] Tablename : Customer",
                      "[TRACE] Primary key : ID",
                      "[TRACE] Foreign key Constraints",
                      "[TRACE] ********************************",
                      "[TRACE] Column Name : CUSTOMER_ID",
                  }));
  EXPECT_EQ(Rows("Orders"), std::vector<std::string>{"1|2|NULL"});
}

TEST_F(TableXmlTest, ReferencesShareIdentifiersWithinOneLoad) {
  ScopedTestLog log(2);
  ASSERT_EQ(Load(R"(<Data>
    <Orders ID="Orders:ID:17" CUSTOMER_ID="Customer:ID:abc"/>
    <Orders ID="Orders:ID:x17" CUSTOMER_ID="Customer:ID:abc"/>
    <Item ORDER_ID="Orders:ID:17" QTY="1"/>
    <Item ORDER_ID="::5" QTY="2"/>
    <Item ORDER_ID="Orders:ID:" QTY="3"/>
    <Workflow_Statements STATEMENT_ID="Workflow_Statements:STATEMENT_ID:3" NEXT_STATEMENT_ID="Workflow_Statements:STATEMENT_ID:0"/>
    <workflow_statements NEXT_STATEMENT_ID="x:y:0"/>
    <Workflow_Statements NEXT_STATEMENT_ID="x:y:00"/>
  </Data>)"),
            1);
  EXPECT_EQ(Rows("Orders"), (std::vector<std::string>{"17|0|NULL", "0|0|NULL"}));
  // A reference without table and column parts leaves the column to its default (none here).
  // One without a value part stores -1 when no sequence gives an identifier.
  EXPECT_EQ(Rows("Item"), (std::vector<std::string>{"17|1", "NULL|2", "-1|3"}));
  // The end-of-chain reference gives 0 (a value part "00" is an ordinary reference, read as 0 too).
  EXPECT_EQ(Rows("Workflow_Statements"), (std::vector<std::string>{"3|0", "5|0", "5|0"}));
  // New references to columns without a sequence look for one along the foreign keys, in vain here.
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[ERROR] No Foreignkey Entries in Definition ",
                                "[ERROR] Unable to get Column details for AutoID generation ",
                                "[ERROR] No constraint Definition ",
                                "[ERROR] No definition found for table x",
                            }));
}

TEST_F(TableXmlTest, FileAndNodeLoadsReportTheirOwnFailures) {
  TempDirectory directory;
  const auto good = directory.path() / "good.xml";
  const auto bad = directory.path() / "bad.xml";
  WriteWholeFile(good, "<Data><Customer ID='1'/></Data>");
  WriteWholeFile(bad, "<Data><Bogus/></Data>");
  ScopedTestLog log(2);
  EXPECT_EQ(ConstructTableDataFromXmlFile(good.string().c_str()), 1);
  EXPECT_EQ(ConstructTableDataFromXmlFile(bad.string().c_str()), 0);
  EXPECT_EQ(ConstructTableDataFromXmlFile((directory.path() / "missing.xml").string().c_str()), 0);

  const std::string xml = "<Data><Item ORDER_ID='Orders:ID:8'/><Bogus/></Data>";
  xmlDoc* document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "node.xml", nullptr, XML_PARSE_NONET);
  ASSERT_NE(document, nullptr);
  xmlNode* root = xmlDocGetRootElement(document);
  StringMap* id_map = ConstructTableDataFromXmlNode(document, root->children);  // the Item: no children
  ASSERT_NE(id_map, nullptr);
  EXPECT_EQ(StringMapCount(id_map), 0);
  FreeIdMap(id_map);
  EXPECT_EQ(ConstructTableDataFromXmlNode(document, root), nullptr);
  xmlFreeDoc(document);

  EXPECT_EQ(Rows("Customer"), std::vector<std::string>{"1|NULL|NULL|NULL|NULL|NULL|NULL|none"});
  EXPECT_EQ(Rows("Item"), std::vector<std::string>{"8|NULL"});
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[ERROR] Cannot create and add a new row while constructing tabledata from XML file.",
                                "[ERROR] Cannot construct table data from XML file.",
                                "[ERROR] error: could not parse file file.xml",
                                "[ERROR] Cannot create and add a new row while constructing tabledata from XML file.",
                                "[ERROR] Cannot construct table data from buffer node.",
                            }));
}

TEST_F(TableXmlTest, NodeLoadHandsBackItsIdMap) {
  std::string xml = "<Data>";
  for (int i = 1; i <= 500; ++i) xml += "<Item ORDER_ID='Orders:ID:" + std::to_string(i) + "'/>";
  xml += "</Data>";
  xmlDoc* document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "node.xml", nullptr, XML_PARSE_NONET);
  ASSERT_NE(document, nullptr);
  StringMap* id_map = ConstructTableDataFromXmlNode(document, xmlDocGetRootElement(document));
  ASSERT_NE(id_map, nullptr);
  EXPECT_EQ(StringMapCount(id_map), 1000);
  EXPECT_GE(id_map->bucket_count, 500);  // the map grew with its keys
  const auto* by_reference = static_cast<const std::int32_t*>(StringMapGet(id_map, "Orders:ID:8"));
  const auto* by_own_key = static_cast<const std::int32_t*>(StringMapGet(id_map, "Item:ORDER_ID:8"));
  ASSERT_NE(by_reference, nullptr);
  ASSERT_NE(by_own_key, nullptr);
  EXPECT_EQ(*by_reference, 8);
  EXPECT_EQ(*by_own_key, 8);
  // The caller's document is the caller's: the load leaves every element in place.
  EXPECT_EQ(xmlChildElementCount(xmlDocGetRootElement(document)), 500u);
  FreeIdMap(id_map);
  xmlFreeDoc(document);
}

TEST_F(TableXmlTest, ParserMessagesStayOutOfTheConsole) {
  ::testing::internal::CaptureStderr();
  const int result = Load("<?xml version='1.0' encoding='ISO-2022-JP'?>\n<Data NAME='\xff\xfe\x80'/>");
  const int malformed = Load("<Data><Customer></Data>");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(malformed, 0);
}

// Documents meant to exhaust the loader: each must fail quickly, without the memory it asks for.
TEST_F(TableXmlTest, HostileDocumentsFailWithoutExhaustingMemory) {
  std::string laughs = "<?xml version='1.0'?><!DOCTYPE Data [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  laughs += "]><Data><Customer ID='1' NAME='&l9;'/></Data>";
  // Quadratic blow-up: one large entity referenced many times stays under libxml2's own checks.
  const std::string quadratic = "<!DOCTYPE Data [<!ENTITY a '" + std::string(40000, 'x') +
                                "'>]><Data><AList><Customer ID='1' NAME='" +
                                [] {
                                  std::string refs;
                                  for (int i = 0; i < 200; ++i) refs += "&a;";
                                  return refs;
                                }() +
                                "'/></AList></Data>";
  std::string deep = "<Data>";
  for (int i = 0; i < 100000; ++i) deep += "<AList>";
  for (int i = 0; i < 100000; ++i) deep += "</AList>";
  deep += "</Data>";
  const std::string external =
      "<!DOCTYPE Data [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><Data><Customer NAME='&e;'/></Data>";

  const std::string* const hostile[] = {&laughs, &quadratic, &deep, &external};
  for (const std::string* xml : hostile) {
    // A document that expands without bound would not return at all: CTest's time-out catches it,
    // so no clock is read here.
    EXPECT_EQ(Load(*xml), 0) << xml->substr(0, 60);
    EXPECT_TRUE(Rows("Customer").empty()) << xml->substr(0, 60);
  }
  // libxml2 itself accepts the quadratic document; the loader's own limit ends it.
  {
    ScopedTestLog log(2);
    EXPECT_EQ(Load(quadratic), 0);
    EXPECT_TRUE(
        log.Has("[ERROR]", "ConstructTableData : entity references in attribute NAME exceed the limits of a load"));
    EXPECT_TRUE(log.Has("[ERROR]", "Cannot construct table data from XML buffer."));
  }
  // Entity text within the limits is substituted.
  ASSERT_EQ(Load("<!DOCTYPE Data [<!ENTITY a 'x'><!ENTITY b '&a;&a;'>]><Data><Customer ID='1' NAME='&b;-&b;'/></Data>"),
            1);
  EXPECT_EQ(Rows("Customer").at(0).substr(0, 8), "1|xx-xx|");
}

#if defined(VX_HAVE_SQLITE)
TEST_F(TableXmlTest, GeneratorColumnsDrawIdentifiersForNewReferences) {
  TempDirectory directory;
  const std::string database = (directory.path() / "ids.db").string();
  ASSERT_EQ(RegisterDatabaseProvider("SQLITE", SqliteProvider()), 1);
  const StoreConnectionParameters parameters{const_cast<char*>("main"), const_cast<char*>("SQLITE"),
                                             const_cast<char*>(database.c_str()), nullptr, nullptr};
  ASSERT_EQ(AddConnectionGroup(parameters, 1), 1);
  ASSERT_EQ(ExecuteUpdate(GetConnectionHandle(nullptr),
                          "create table SeqGenState (SEQNAME text, CURRENTBATCHEND integer);"
                          "insert into SeqGenState values ('ORDER_SEQ', 40);"),
            1);
  ReleaseConnectionHandle(nullptr);
  ASSERT_EQ(SetColumnGenerator(FindColumnDefinition(GetTableDefinition("Orders"), "ID"), "ORDER_SEQ"), 1);
  ASSERT_EQ(InitSequenceCache(), 1);
  ASSERT_EQ(SequenceGenerator(), 1);

  ASSERT_EQ(Load(R"(<Data>
    <Orders ID="Orders:ID:a"/><Orders ID="Orders:ID:b"/><Orders ID="Orders:ID:a"/><Orders/>
    <Item ORDER_ID="Orders:ID:b"/><Item ORDER_ID="Orders:ID:c"/><Item ORDER_ID="Item:ORDER_ID:d"/>
    <Orders ID="Orders:ID:d"/>
  </Data>)"),
            1);
  // Item.ORDER_ID has no sequence: a new reference naming it follows its foreign key to Orders.ID's,
  // and Orders' key for the same value takes the identifier drawn.
  EXPECT_EQ(Rows("Orders"),
            (std::vector<std::string>{"41|NULL|NULL", "42|NULL|NULL", "41|NULL|NULL", "43|NULL|NULL", "45|NULL|NULL"}));
  EXPECT_EQ(Rows("Item"), (std::vector<std::string>{"42|NULL", "44|NULL", "45|NULL"}));
}
#endif

}  // namespace
}  // namespace vx::test
