// Loading of the agent configuration record against the real (Wine) registry: the values that stop
// the load, the route to the distribution server and the decoded proxy password.
#include "agent/agent_config.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "agent/host_identity.h"
#include "agent/proxy_settings.h"
#include "agent/resource_id.h"
#include "tablestore/table_data.h"
#include "test_log.h"
#include "test_registry_win.h"

namespace vx {
namespace {

constexpr const char* kRoot = test::kTestAgentRootKey;
constexpr const char* kServerInfo = "Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo";

struct Value {
  const char* key;
  const char* name;
  const char* text;
};

const std::vector<Value> kMinimalConfiguration = {
    {kServerInfo, "VXServerName", "mgmt"},
    {kServerInfo, "VXServerPort", "80"},
    {kRoot, "EnableDistributionServer", "yes"},
    {kServerInfo, "DistributionServerName", "ds"},
    {kServerInfo, "DistributionServerPort", "81"},
    {kRoot, "VXAgentVersion", "1"},
    {kRoot, "AgentServiceName", "svc"},
    {kRoot, "MSPName", "msp"},
    {kRoot, "CustomerName", "customer"},
    {kRoot, "CustomerId", "Cust-ID"},
    {kRoot, "VXProductCode", "RNHX"},
    {kRoot, "VXAgentInstallDir", "C:\\agent\\"},
};

class AgentConfig : public ::testing::Test {
 protected:
  void SetUp() override { ResetAgentParameters(); }
  void TearDown() override { ResetAgentParameters(); }

  void SeedWithout(const char* missing) {
    for (const Value& value : kMinimalConfiguration) {
      if (std::string(value.name) != missing) test::SetString(value.key, value.name, value.text);
    }
  }

  test::ScopedCleanRegistry registry_;
  test::ScopedTestLog log_{4};
};

TEST_F(AgentConfig, MissingRequiredValuesStopTheLoad) {
  const struct {
    const char* missing;
    std::vector<std::string> errors;
    std::optional<std::string> product_code;  // what the later step's field holds afterwards
  } cases[] = {
      {"VXServerName",
       {"InitializeServerDetailsFromRegistry : Error while fetching server name from registry! ",
        "InitializeAgentParameters : Error while fetching Server details from registry! "},
       "KORB"},
      {"VXServerPort",
       {"InitializeServerDetailsFromRegistry : Error while fetching server port from registry! ",
        "InitializeAgentParameters : Error while fetching Server details from registry! "},
       "KORB"},
      {"EnableDistributionServer",
       {"InitializeAgentParameters : Error while fetching Master Agent entry from registry! "},
       "KORB"},
      {"DistributionServerName",
       {"InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server name from registry! ",
        "InitializeAgentParameters : Error while fetching DS Server details from registry! "},
       "KORB"},
      {"DistributionServerPort",
       {"InitializeDSServerDetailsFromRegistry : Error while fetching Reporting server port from registry! ",
        "InitializeAgentParameters : Error while fetching DS Server details from registry! "},
       "KORB"},
      {"AgentServiceName",
       {"InitializeAgentDetails : Error while fetching agent service name from registry! ",
        "InitializeAgentParameters : Error while the Agent details ! "},
       "KORB"},
      {"CustomerName", {"InitializeAgentDetails : Error while fetching customer name from registry! "}, "KORB"},
      {"VXProductCode", {"InitializeAgentDetails : Error while fetching product Code from registry! "}, std::nullopt},
      {"VXAgentInstallDir", {"InitializeAgentParameters : Error while the Agent details ! "}, "RNHX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    test::ScopedCleanRegistry clean;
    ResetAgentParameters();
    SeedWithout(c.missing);
    test::ScopedTestLog log(4);
    EXPECT_EQ(InitializeAgentParameters(), 13);
    for (const std::string& error : c.errors) EXPECT_TRUE(log.Has("[ERROR]", error)) << error;
    EXPECT_EQ(gv_vxProductCode, c.product_code);
    EXPECT_FALSE(log.Has("[DEBUG]", "@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ "));
  }
}

TEST_F(AgentConfig, FullLoadSucceedsAndDerivesTheDistributionServer) {
  SeedWithout("");
  EXPECT_EQ(InitializeAgentParameters(), 0);
  EXPECT_EQ(gv_dsServerProtocol, "http");
  EXPECT_EQ(gv_dsServerPort, 81);
  EXPECT_EQ(gv_dsServerSecurePort, 81 + 363);
  EXPECT_EQ(gv_serverPort, 80);
  EXPECT_EQ(gv_installDir, "C:\\agent\\");
  EXPECT_TRUE(gv_localComputerName.has_value());
  EXPECT_TRUE(gv_clientNamespace.has_value());
  std::string name_space = *gv_clientNamespace;
  for (char& c : name_space) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(gv_clientDataPath, "client-data/cust-id/domains/" + name_space);
  // Without an identifier in the registry the server is asked; without a transport that fails.
  EXPECT_FALSE(gv_resourceId.has_value());
}

// Port texts are read like atoi, without overflowing: the largest port stays the largest.
TEST_F(AgentConfig, PortTextsAreClampedToTheIntRange) {
  SeedWithout("");
  test::SetString(kServerInfo, "VXServerPort", " 99999999999");
  test::SetString(kServerInfo, "DistributionServerPort", "-99999999999x");
  EXPECT_EQ(InitializeAgentParameters(), 0);
  EXPECT_EQ(gv_serverHttpPort, INT_MAX);
  EXPECT_EQ(gv_serverSecurePort, INT_MAX);
  EXPECT_EQ(gv_dsServerHttpPort, INT_MIN);
  EXPECT_EQ(gv_dsServerSecurePort, INT_MIN + 363);
}

// The route goes only to a distribution server that is enabled and named. An address the
// distribution server lacks is not taken over from the management server, the secondary one
// included; without a distribution server every management address stays.
TEST_F(AgentConfig, RouteToTheDistributionServer) {
  using Text = std::optional<std::string>;
  struct Case {
    const char* name;
    Text ds_enabled;
    Text ds_name;
    bool routed;
  };
  for (const Case& c : {Case{"enabled, addresses absent", "YES", "ds", true}, Case{"not enabled", "no", "ds", false},
                        Case{"enabled, not named", "yes", std::nullopt, false}}) {
    SCOPED_TRACE(c.name);
    gv_serverName = "mgmt";
    gv_serverFlatName = "MGMT";
    gv_serverIPAddress = "192.0.2.1";
    gv_serverSecIPAddress = "192.0.2.2";
    gv_lastAccessName = "mgmt-last";
    gv_proxyEnabled = "yes";
    gv_dsEnabled = c.ds_enabled;
    gv_dsServerName = c.ds_name;
    gv_dsServerIPAddress.reset();
    gv_dsServerSecIPAddress.reset();
    gv_dsLastAccessName.reset();
    ApplyDSRoute();
    const std::vector<Text> route{gv_serverName,         gv_serverFlatName, gv_serverIPAddress,
                                  gv_serverSecIPAddress, gv_lastAccessName, gv_proxyEnabled};
    const std::vector<Text> expected =
        c.routed ? std::vector<Text>{"ds", "ds", std::nullopt, std::nullopt, std::nullopt, "NO"}
                 : std::vector<Text>{"mgmt", "MGMT", "192.0.2.1", "192.0.2.2", "mgmt-last", "yes"};
    EXPECT_EQ(route, expected);
  }
}

TEST_F(AgentConfig, ProxyPassword) {
  const struct {
    const char* name;
    std::optional<std::string> stored;
    std::string password;
  } cases[] = {
      {"valid", "cGFzcw==", "pass"},
      {"surrounding white space", " \tcGFzcw==\r\n", "pass"},
      {"a zero byte ends the password", "YQBi", "a"},
      {"not Base64", "cGFzcw", ""},
      {"outside the alphabet", "cGF*cw==", ""},
      {"empty", "", ""},
      {"absent", std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    if (c.stored) test::SetString(kRoot, "ProxyPassword", *c.stored);
    gv_proxyPassword = "previous";
    EXPECT_EQ(InitializeProxyDetails(), 0);
    EXPECT_EQ(gv_proxyPassword, c.password);
    // The user name and bypass list are absent here: their reads leave null.
    EXPECT_EQ(gv_proxyUserName, std::nullopt);
    EXPECT_EQ(gv_proxyByPass, std::nullopt);
  }
}

// The host's live calls: Wine's adapters, computer name and workgroup.
// TEMP fills at most 254 bytes of its field, its NUL included; a longer value is left out, not cut.
TEST_F(AgentConfig, TempDirectoryThatDoesNotFitIsLeftOut) {
  char saved[1024] = {};
  const DWORD saved_length = ::GetEnvironmentVariableA("TEMP", saved, sizeof(saved));
  for (const std::size_t length : {std::size_t{253}, std::size_t{254}}) {
    const std::string value(length, 't');
    ASSERT_TRUE(::SetEnvironmentVariableA("TEMP", value.c_str()));
    (void)InitializeAgentParameters();
    EXPECT_EQ(gv_tempDir, length == 253 ? value : std::string()) << length;
  }
  ::SetEnvironmentVariableA("TEMP", saved_length != 0 ? saved : nullptr);
}

TEST_F(AgentConfig, HostIdentityFromTheSystem) {
  OptionalText ips, macs, masks;
  EXPECT_EQ(GetMACandIPAddress(ips, macs, masks), 0);
  ASSERT_TRUE(ips && macs && masks);
  EXPECT_FALSE(macs->empty());  // "--" at least
  EXPECT_EQ(InitializeLocalMachineDetails(), 0);
  ASSERT_TRUE(gv_localComputerName && gv_clientNamespace);
  EXPECT_FALSE(gv_localComputerName->empty());
  if (!gv_clientNamespace->empty()) {
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(gv_clientNamespace->front())));
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(gv_clientNamespace->back())));
  }
  EXPECT_EQ(gv_localIPAddress, ips);
}

TEST_F(AgentConfig, LastAccessNamesAreWrittenToTheRegistry) {
  EXPECT_EQ(SetLastAccessName("mgmt.example.test"), 0);
  EXPECT_EQ(SetDSLastAccessName("ds.example.test"), 0);
  EXPECT_EQ(test::GetValue(kServerInfo, "VXLastAccessName")->bytes, std::string("mgmt.example.test", 18));
  EXPECT_EQ(test::GetValue(kServerInfo, "DistributionLastAccessName")->bytes, std::string("ds.example.test", 16));
}

// An agent whose data dictionary knows "Agentparams" finds its identifier in the server's document,
// stores it and tells its service; a document without it, or a failed request, stores nothing.
TEST_F(AgentConfig, ResourceIdentifierFromTheServersDocument) {
  static std::string served;  // what the stand-in transport answers
  static int answer = 0;
  SetResourceDocumentFetcher([](const char*, std::string* out, unsigned char) {
    if (answer == 0) *out = served;
    return answer;
  });
  const struct {
    const char* name;
    const char* document;
    int answer;
    int expected;
    std::optional<std::string> identifier;
  } cases[] = {
      {"found",
       R"(<Resource><AgentparamsList><Agentparams PARAM_NAME="OTHER" param_Value="x"/>)"
       R"(<Agentparams PARAM_NAME="RESOURCE_ID" param_Value="R-42"/></AgentparamsList></Resource>)",
       0, 0, "R-42"},
      {"no such row", R"(<Resource><Agentparams PARAM_NAME="OTHER" param_Value="x"/></Resource>)", 0, 0, std::nullopt},
      {"request failed", "", 404, 404, std::nullopt},
  };
  gv_clientDataPath = "client-data/c/domains/corp";
  gv_localComputerName = "PC";
  gv_agentServiceName = "VXTestNoSuchService";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    ASSERT_NE(DefineTable("Agentparams", {{"PARAM_NAME", kTypeText}, {"param_Value", kTypeText}}), nullptr);
    served = c.document;
    answer = c.answer;
    OptionalText identifier;
    EXPECT_EQ(GetResourceID(identifier), c.expected);
    EXPECT_EQ(identifier, c.identifier);
    const auto stored = test::GetValue("Software\\Norvane\\Quorvant\\VXAgent\\SystemDetails", "VXAgentResourceID");
    EXPECT_EQ(stored ? std::optional<std::string>(stored->bytes.c_str()) : std::nullopt, c.identifier);
    ResetTableStore();
  }
  EXPECT_TRUE(log_.Has("[INFO]", "GetResourceIDFromServer : The Resource ID from the server is given  by R-42 "));
  EXPECT_TRUE(
      log_.Has("[ERROR]", "GetResourceIDFromServer : No row objects corresponding to the resource id is found "));
  SetResourceDocumentFetcher(nullptr);
}

// The document's path: the namespace replaced in any case, then everything lower-cased by Unicode
// rules; without a domain name the data path is only lower-cased.
TEST(ResourceDocument, PathFromTheDataPathDomainAndComputerName) {
  test::ScopedTestLog log;
  EXPECT_EQ(ResourceDocumentPath("client-data/c-1/domains/corp", std::string("CORP"),
                                 std::string("\xC3\x9C"
                                             "ml.Example"),
                                 "\xC3\x84"
                                 "BC-PC"),
            "/client-data/c-1/domains/\xC3\xBC"
            "ml.example/resources/\xC3\xA4"
            "bc-pc.xml");
  EXPECT_EQ(ResourceDocumentPath("client-data/C-1/domains/Corp", std::string("corp"), std::nullopt, "PC"),
            "/client-data/c-1/domains/corp/resources/pc.xml");
}

}  // namespace
}  // namespace vx
