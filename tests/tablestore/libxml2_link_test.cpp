// The XML library the table store loads its data with: linked statically into the Windows build
// (built from Debian's source package) and from Debian's package natively.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vx {
namespace {

TEST(Libxml2, ParsesFromMemoryWithoutNetworkAccess) {
  const std::string text = "<Table name=\"Resource\"><Row id=\"7\"/></Table>";
  xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "memory.xml", nullptr, XML_PARSE_NONET);
  ASSERT_NE(document, nullptr);
  const xmlNode* root = xmlDocGetRootElement(document);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "Table");
  xmlChar* name = xmlGetProp(root, reinterpret_cast<const xmlChar*>("name"));
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(name), "Resource");
  xmlFree(name);
  xmlFreeDoc(document);
}

TEST(Libxml2, MalformedDocumentGivesNoTree) {
  const char* text = "<Table><Row></Table>";
  xmlDocPtr document = xmlReadMemory(text, static_cast<int>(std::strlen(text)), "bad.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  EXPECT_EQ(document, nullptr);
  xmlFreeDoc(document);
}

}  // namespace
}  // namespace vx
