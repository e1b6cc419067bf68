// The agent configuration as vxprereqhandler.exe loads it (Windows): seeded registries, the summary
// block and the other lines of the log, the registry afterwards, and the decision, which the
// configuration never changes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "handler_fixture.h"
#include "test_server_win.h"

namespace vx {
namespace {

using test::HandlerEndToEnd;
using test::kTestAgentRootKey;

constexpr const char* kServerInfo = "Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo";
constexpr const char* kSystemDetails = "Software\\Norvane\\Quorvant\\VXAgent\\SystemDetails";
constexpr const char* kRoot = kTestAgentRootKey;

// One registry value to seed; a null data removes the value from the seed.
struct Seed {
  const char* key;
  const char* name;
  std::optional<std::string> text;             // REG_SZ
  std::optional<DWORD> number = std::nullopt;  // REG_DWORD instead
};

std::vector<Seed> FullConfiguration() {
  return {
      {kServerInfo, "VXServerName", "mgmt.example.test"},
      {kServerInfo, "VXServerInstalledTime", "1700000000"},
      {kServerInfo, "VXServerFlatName", "MGMT"},
      {kServerInfo, "VXServerIPAddress", "192.0.2.10"},
      {kServerInfo, "VXServerSecIPAddress", "192.0.2.11"},
      {kServerInfo, "VXLastAccessName", "mgmt-last.example.test"},
      {kServerInfo, "VXServerPort", "80"},
      {kServerInfo, "VXServerSecurePort", "443"},
      {kServerInfo, "VXServerProtocol", "https"},
      {kRoot, "EnableDistributionServer", "no"},
      {kRoot, "ProxyEnabled", "no"},
      {kRoot, "VXAgentVersion", "7.1.2"},
      {kRoot, "AgentServiceName", "VXAgentService"},
      {kRoot, "MSPName", "Example MSP"},
      {kRoot, "CustomerName", "Example Customer"},
      {kRoot, "CustomerId", "CUST-42"},
      {kRoot, "VXProductCode", "RNHX"},
      {kRoot, "RemoteOfficeName", "Branch One"},
      {kRoot, "RemoteOfficeID", "17"},
      {kRoot, "HTTPRequestTimeout", std::nullopt, 45000u},
      {kRoot, "DataTransferRate_KBps", "2048"},
      {kRoot, "InstallSource", "console"},
      {kRoot, "InstallMode", "2"},
      {kRoot, "EnableDSRoute", "no"},
      {kRoot, "EnableChecksum", "yes"},
      {kSystemDetails, "VXAgentResourceID", "RES-1001"},
  };
}

std::vector<Seed> DistributionServer(const char* enabled) {
  return {
      {kRoot, "EnableDistributionServer", enabled},
      {kServerInfo, "DistributionServerName", "ds.example.test"},
      {kServerInfo, "DistributionServerFlatName", "DSFLAT"},
      {kServerInfo, "DistributionLastAccessName", "ds-last.example.test"},
      {kServerInfo, "DistributionServerPort", "8080"},
      {kServerInfo, "DistributionServerIPAddress", "198.51.100.5"},
      {kServerInfo, "DistributionServerSecIPAddress", "198.51.100.6"},
  };
}

// What the registry should hold afterwards: a text, or nothing.
struct Stored {
  const char* key;
  const char* name;
  std::optional<std::string> text;
};

struct ConfigCase {
  const char* name;
  std::vector<Seed> changes;         // applied over the full configuration
  std::vector<std::string> log;      // messages ("[TAG] text") that must be in the log
  std::vector<std::string> not_log;  // messages that must not
  std::vector<Stored> stored;
};

std::string Summary(const char* format_head, const std::string& value) {
  return "[INFO] " + std::string(format_head) + value + " ";
}

class ConfigEndToEnd : public HandlerEndToEnd {
 protected:
  void Seed(const std::vector<vx::Seed>& base, const std::vector<vx::Seed>& changes) {
    SeedAgent();
    std::vector<vx::Seed> seeds = base;
    for (const vx::Seed& change : changes) {
      std::erase_if(seeds, [&](const vx::Seed& s) {
        return std::string(s.key) == change.key && std::string(s.name) == change.name;
      });
      seeds.push_back(change);
    }
    for (const vx::Seed& seed : seeds) {
      if (seed.number) {
        test::SetDword(seed.key, seed.name, *seed.number);
      } else if (seed.text) {
        test::SetString(seed.key, seed.name, *seed.text);
      }
    }
  }

  std::optional<std::string> StoredText(const char* key, const char* name) {
    const auto value = test::GetValue(key, name);
    if (!value) return std::nullopt;
    return std::string(value->bytes.c_str());
  }

  // Runs the program; the decision must be the unchanged "nothing to do".
  void RunAndCheckDecision() {
    const test::ChildResult result = Run();
    ASSERT_TRUE(result.started);
    output_ = result.output;
    const std::string output = test::Lines(result.output);
    ASSERT_GE(output.size(), std::string(test::kPatchNotInstalled).size());
    EXPECT_EQ(output.substr(output.size() - std::string(test::kPatchNotInstalled).size()), test::kPatchNotInstalled);
    EXPECT_EQ(result.exit_code, 0u);
  }

  std::string output_;
};

TEST_F(ConfigEndToEnd, FullConfigurationLogsTheSummaryBlock) {
  Seed(FullConfiguration(), {});
  RunAndCheckDecision();
  const std::string dir = AgentDir();
  const std::vector<std::string> expected = {
      "[INFO] ****************************************************************** ",
      "[INFO] Quorvant Server Name                -> mgmt.example.test ",
      "[INFO] Quorvant Server Flat Name           -> MGMT ",
      "[INFO] Quorvant Server IPAddress           -> 192.0.2.10 ",
      "[INFO] Quorvant Server Secondary IPAddress -> 192.0.2.11 ",
      "[INFO] Quorvant Last Access Name           -> mgmt-last.example.test ",
      "[INFO] Quorvant Server Port                -> 443 ",
      "[INFO] Quorvant Server Protocol            -> https ",
      "[INFO] Quorvant Agent Version              -> 7.1.2 ",
      "[INFO] Quorvant Agent InstallDir           -> " + dir + " ",
      "",  // namespace: the machine's own
      "",  // data path: built from the namespace
      "[INFO] Quorvant MSP Name\t           -> Example MSP ",
      "[INFO] Quorvant Customer Name\t           -> Example Customer ",
      "[INFO] Quorvant Customer Id\t\t   -> CUST-42 ",
      "[INFO] Quorvant Product Code               -> RNHX ",
      "",  // computer name
      "",  // IP addresses
      "",  // MAC addresses
      "",  // subnet masks
      "[INFO] VX Distribution Server Enabled            -> no ",
      "[INFO] The remote office name is                 -> Branch One ",
      "[INFO] Quorvant Agent HTTP Request Timeout -> 45000 ",
      "",  // domain controller
      "[INFO] The Agent Machine Resource Id is given by -> RES-1001 ",
      "[INFO] Agent Checksum Enabled\t\t               -> 1 ",
      "[INFO] Agent Data Transfer Rate in KBps\t\t   -> 2048 ",
      "[INFO] Agent Installation Source\t\t\t\t   -> console ",
      "[INFO] Agent Installation Mode\t\t\t\t   -> 2 (2-> silent, 5->Manual) ",
      "[INFO] ****************************************************************** ",
  };
  const std::vector<std::string> messages = LogMessages();
  const auto start = std::find(messages.begin(), messages.end(), expected.front());
  ASSERT_NE(start, messages.end());
  ASSERT_GE(messages.end() - start, static_cast<long>(expected.size()));
  const std::vector<std::string> host_prefixes = {
      "[INFO] Quorvant Client Namespace           -> ",
      "[INFO] Quorvant Server Data Path           -> client-data/cust-42/domains/",
      "[INFO] Local Computer Name                       -> ",
      "[INFO] Local Computer IP Address                 -> ",
      "[INFO] Local Computer MAC Address                -> ",
      "[INFO] Local Computer Subnet Mask                -> ",
      "[INFO] Local Computer Domain controller          -> "};
  std::size_t host = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string& line = *(start + static_cast<long>(i));
    if (expected[i].empty()) {
      EXPECT_EQ(line.rfind(host_prefixes[host++], 0), 0u) << line;
    } else {
      EXPECT_EQ(line, expected[i]);
    }
  }
  // Each adapter entry is printed on standard output before the decision and logged as well.
  std::vector<std::string> adapter_lines;
  for (const std::string& message : messages) {
    if (message.rfind("[INFO] ipAddress :", 0) == 0) adapter_lines.push_back(message.substr(18));
  }
  std::vector<std::string> output_lines;
  for (const std::string& line : test::SplitLines(test::Lines(output_))) output_lines.push_back(line);
  ASSERT_FALSE(output_lines.empty());
  output_lines.pop_back();  // the decision
  EXPECT_EQ(output_lines, adapter_lines);
  // Without a distribution server, no second block and no route.
  EXPECT_FALSE(LogHas("[INFO] Remote Office ID                          -> 17 "));
  EXPECT_TRUE(LogHas("[DEBUG] InitializeAgentParameters : Computer is not an imaged one .. "));
}

TEST_F(ConfigEndToEnd, LoadingRules) {
  const std::string zero = "0";
  const std::vector<ConfigCase> cases = {
      {"distribution server enabled in mixed case, its protocol written back",
       DistributionServer("YeS"),
       {Summary("VX Distribution Server  Name      \t\t\t-> ", "ds.example.test"),
        Summary("VX Distribution Server  Port      \t\t\t-> ", "8443"),
        Summary("VX Distribution Server  Protocol  \t\t\t-> ", "https"),
        Summary("Remote Office ID                          -> ", "17")},
       {},
       {{kServerInfo, "DistributionServerProtocol", "https"}}},
      {"distribution server off: nothing of it is read or written",
       {{kRoot, "EnableDistributionServer", "yess"}, {kServerInfo, "DistributionServerName", "ds.example.test"}},
       {Summary("VX Distribution Server Enabled            -> ", "yess")},
       {Summary("VX Distribution Server  Name      \t\t\t-> ", "ds.example.test")},
       {{kServerInfo, "DistributionServerProtocol", std::nullopt}}},
      {"secondary addresses of 2 characters are absent for both servers",
       [] {
         auto seeds = DistributionServer("yes");
         seeds.push_back({kServerInfo, "VXServerSecIPAddress", "ab"});
         seeds.push_back({kServerInfo, "DistributionServerSecIPAddress", "ab"});
         return seeds;
       }(),
       {Summary("Quorvant Server Secondary IPAddress -> ", "(null)"),
        Summary("VX Distribution Server  Sec IPAddress         \t\t-> ", "(null)")},
       {},
       {}},
      {"secondary addresses of 3 characters: the management server's stands, the distribution server's is absent",
       [] {
         auto seeds = DistributionServer("yes");
         seeds.push_back({kServerInfo, "VXServerSecIPAddress", "abc"});
         seeds.push_back({kServerInfo, "DistributionServerSecIPAddress", "abc"});
         return seeds;
       }(),
       {Summary("Quorvant Server Secondary IPAddress -> ", "abc"),
        Summary("VX Distribution Server  Sec IPAddress         \t\t-> ", "(null)")},
       {},
       {}},
      {"secondary addresses of 4 characters stand for both servers",
       [] {
         auto seeds = DistributionServer("yes");
         seeds.push_back({kServerInfo, "VXServerSecIPAddress", "abcd"});
         seeds.push_back({kServerInfo, "DistributionServerSecIPAddress", "abcd"});
         return seeds;
       }(),
       {Summary("Quorvant Server Secondary IPAddress -> ", "abcd"),
        Summary("VX Distribution Server  Sec IPAddress         \t\t-> ", "abcd")},
       {},
       {}},
      {"secure port absent: the plain port plus 363 for a protocol other than http",
       {{kServerInfo, "VXServerSecurePort", std::nullopt}, {kServerInfo, "VXServerPort", "8080"}},
       {Summary("Quorvant Server Port                -> ", "8443")},
       {},
       {}},
      {"a protocol of 3 characters becomes http and the plain port is used",
       {{kServerInfo, "VXServerProtocol", "ftp"}, {kServerInfo, "VXServerPort", "8080"}},
       {Summary("Quorvant Server Protocol            -> ", "http"),
        Summary("Quorvant Server Port                -> ", "8080")},
       {},
       {}},
      {"transfer rate 3072 stands",
       {{kRoot, "DataTransferRate_KBps", "3072"}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "3072")},
       {},
       {{kRoot, "DataTransferRate_KBps", "3072"}}},
      {"transfer rate 3073 becomes 0",
       {{kRoot, "DataTransferRate_KBps", "3073"}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "0")},
       {},
       {{kRoot, "DataTransferRate_KBps", zero}}},
      {"transfer rate -5 is above 3072 as unsigned",
       {{kRoot, "DataTransferRate_KBps", "-5"}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "0")},
       {},
       {{kRoot, "DataTransferRate_KBps", zero}}},
      {"transfer rate without digits is 0 and not rewritten",
       {{kRoot, "DataTransferRate_KBps", "abc"}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "0")},
       {},
       {{kRoot, "DataTransferRate_KBps", "abc"}}},
      {"transfer rate empty is 0 and 0 is written",
       {{kRoot, "DataTransferRate_KBps", ""}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "0")},
       {},
       {{kRoot, "DataTransferRate_KBps", zero}}},
      {"transfer rate absent is 0 and 0 is written",
       {{kRoot, "DataTransferRate_KBps", std::nullopt}},
       {Summary("Agent Data Transfer Rate in KBps\t\t   -> ", "0")},
       {},
       {{kRoot, "DataTransferRate_KBps", zero}}},
      {"route absent: no is written and the route stays off",
       {{kRoot, "EnableDSRoute", std::nullopt}},
       {},
       {Summary("Enable Distribution Server Route                       -> ", "1")},
       {{kRoot, "EnableDSRoute", "no"}}},
      {"route in upper case sends everything to the distribution server",
       [] {
         auto seeds = DistributionServer("yes");
         seeds.push_back({kRoot, "EnableDSRoute", "YES"});
         seeds.push_back({kRoot, "ProxyEnabled", "yes"});
         return seeds;
       }(),
       {Summary("Enable Distribution Server Route                       -> ", "1")},
       {},
       {{kRoot, "EnableDSRoute", "YES"}}},
      {"an empty customer id stops the load before the summary",
       {{kRoot, "CustomerId", ""}},
       {"[ERROR] GetCustomerId: error while retrieving customerid",
        "[ERROR] InitializeAgentDetails : Error while fetching customer Id from registry! ",
        "[ERROR] InitializeAgentParameters : Error while the Agent details ! "},
       {Summary("Quorvant Server Name                -> ", "mgmt.example.test")},
       {}},
      {"an imaged computer is reported after the whole record is logged",
       {{kRoot, "ImagedComputer", std::nullopt, 1u}},
       {Summary("Quorvant Server Name                -> ", "mgmt.example.test"),
        "[INFO] InitializeAgentParameters : Computer is detected as imaged One .. "},
       {"[DEBUG] InitializeAgentParameters : Computer is not an imaged one .. "},
       {}},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.name);
    {
      test::ScopedCleanRegistry clean;
      std::filesystem::remove(ProcessLog());
      Seed(FullConfiguration(), c.changes);
      RunAndCheckDecision();
      for (const std::string& line : c.log) EXPECT_TRUE(LogHas(line)) << line;
      for (const std::string& line : c.not_log) EXPECT_FALSE(LogHas(line)) << line;
      for (const Stored& stored : c.stored) EXPECT_EQ(StoredText(stored.key, stored.name), stored.text) << stored.name;
    }
  }
}

TEST_F(ConfigEndToEnd, DistributionRouteReplacesTheManagementServer) {
  Seed(FullConfiguration(), [] {
    auto seeds = DistributionServer("yes");
    seeds.push_back({kRoot, "EnableDSRoute", "yes"});
    return seeds;
  }());
  RunAndCheckDecision();
  // The route runs after the blocks are logged; the registry keeps the management server's values.
  EXPECT_TRUE(LogHas(Summary("Quorvant Server Name                -> ", "mgmt.example.test")));
  EXPECT_TRUE(LogHas("[INFO] Enable Distribution Server Route                       -> 1 "));
  EXPECT_EQ(StoredText(kServerInfo, "VXServerName"), "mgmt.example.test");
}

TEST_F(ConfigEndToEnd, ProxyPasswordNeverReachesTheLog) {
  // No resource identifier in the registry: the program asks the management server through the
  // proxy, so the password goes through the request set-up as well as the configuration.
  test::TestServerNamespace server("proxy-e2e");
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  server.SetProxyCredentials("proxyuser:secretPass");
  struct ProxyCase {
    const char* name;
    std::optional<std::string> stored;
    const char* error;  // the error line, if any
  };
  const ProxyCase cases[] = {
      {"valid, with surrounding white space", "  c2VjcmV0UGFzcw==\r\n", nullptr},
      {"not valid Base64", "c2VjcmV0UGFzcw",
       "InitializeProxyDetails : The proxy password in the registry is not valid Base64, an empty password is used "},
      {"absent", std::nullopt,
       "InitializeProxyDetails : No proxy password in the registry, an empty password is used "},
  };
  const std::string proxy = "127.0.0.1:" + std::to_string(server.ProxyPort());
  for (const ProxyCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    std::filesystem::remove(ProcessLog());
    const std::size_t requests_before = server.Requests().size();
    Seed(FullConfiguration(), {{kRoot, "ProxyEnabled", "Yes"},
                               {kRoot, "ProxyUserName", "proxyuser"},
                               {kRoot, "ProxyServerName", proxy},
                               {kRoot, "ProxyByPass", "<local>;*.example.test"},
                               {kRoot, "ProxyPassword", c.stored},
                               {kRoot, "CustomerId", "proxy-e2e"},
                               {kSystemDetails, "VXAgentResourceID", std::nullopt},
                               {kServerInfo, "VXServerProtocol", "http"},
                               {kServerInfo, "VXServerPort", std::to_string(server.HttpPort())},
                               {kServerInfo, "VXServerIPAddress", "127.0.0.1"},
                               {kServerInfo, "VXServerSecIPAddress", std::nullopt}});
    RunAndCheckDecision();
    EXPECT_TRUE(LogHas("[INFO] Proxy Server Name -> " + proxy + " "));
    EXPECT_TRUE(LogHas("[INFO] Proxy UserName    -> proxyuser "));
    EXPECT_TRUE(LogHas("[INFO] Proxy ByPass List -> <local>;*.example.test "));
    if (c.error != nullptr) {
      EXPECT_TRUE(LogHas(std::string("[ERROR] ") + c.error));
    }
    const auto requests = server.Requests();
    ASSERT_GT(requests.size(), requests_before);
    EXPECT_EQ(requests.back().listener, "proxy");
    const std::string log = test::ReadWholeFile(ProcessLog());
    EXPECT_EQ(log.find("secretPass"), std::string::npos);
    EXPECT_EQ(log.find("c2VjcmV0UGFzcw"), std::string::npos);
    EXPECT_NE(log.find("Decrypted password is: "), std::string::npos);
  }
}

// Without an identifier in the registry the program asks the management server for this computer's
// document. The table store holds no table definitions, so no document yields an identifier: the
// lookup ends with the logged reason, nothing is stored, and the decision stays the same.
TEST_F(ConfigEndToEnd, ResourceIdentifierLookupAtTheServer) {
  // The customer id names the server namespace: the data path is client-data/<customer id>/domains/...
  test::TestServerNamespace server("rid-e2e");
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD computer_length = sizeof(computer);
  ASSERT_TRUE(::GetComputerNameA(computer, &computer_length));
  std::string lower_computer(computer);
  for (char& c : lower_computer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string document = "domains/sub.example.org/resources/" + lower_computer + ".xml";
  const std::string expected_path = "/client-data/rid-e2e/" + document;

  struct Case {
    const char* name;
    std::optional<std::string> document;  // none: the server has no such file
    std::string logged;
  };
  const Case cases[] = {
      {"an element below the root that is not a list: the load fails",
       "<?xml version=\"1.0\"?>\r\n<Resource><Agentparams PARAM_NAME=\"RESOURCE_ID\" param_Value=\"R-7\"/></Resource>",
       "[ERROR] GetResourceIDFromServer : Error occured (13) while loading resource id buffer to the memory : "},
      {"only list containers: no table, no rows", "<Resource><AgentparamsList/></Resource>",
       "[ERROR] GetResourceIDFromServer :No rows found corresponding to the resource id in the resource id xml ."},
      {"not XML at all", "garbage <<<",
       "[ERROR] GetResourceIDFromServer : Error occured (13) while loading resource id buffer to the memory : "},
      {"no document", std::nullopt,
       "[ERROR] GetResourceIDFromServer : Unable to get the reource id xml from " + expected_path +
           " path and the error code is 404 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    std::filesystem::remove(ProcessLog());
    std::filesystem::remove_all(server.WindowsDirectory() + "\\domains");
    if (c.document) server.WriteFile(document, *c.document);
    const std::size_t requests_before = server.Requests().size();
    Seed(FullConfiguration(), {{kSystemDetails, "VXAgentResourceID", std::nullopt},
                               {kSystemDetails, "LocalDomainName", "Sub.EXAMPLE.org"},
                               {kRoot, "CustomerId", "rid-e2e"},
                               {kServerInfo, "VXServerProtocol", "http"},
                               {kServerInfo, "VXServerPort", std::to_string(server.HttpPort())},
                               {kServerInfo, "VXServerIPAddress", "127.0.0.1"},
                               {kServerInfo, "VXServerSecIPAddress", std::nullopt}});
    RunAndCheckDecision();
    EXPECT_TRUE(
        LogHas("[ERROR] GetResourceID : Unable to get the VX Agent Resource ID from Registry , So trying to "
               "get the same from server ."));
    EXPECT_TRUE(LogHas("[INFO] resourceIdXmlPath: " + expected_path)) << expected_path;
    EXPECT_TRUE(LogHas(c.logged)) << c.logged;
    EXPECT_TRUE(LogHas(Summary("The Agent Machine Resource Id is given by -> ", "(null)")));
    EXPECT_EQ(StoredText(kSystemDetails, "VXAgentResourceID"), std::nullopt);
    // The last access name did not resolve; the address answered and is remembered.
    EXPECT_EQ(StoredText(kServerInfo, "VXLastAccessName"), c.document ? "127.0.0.1" : "mgmt-last.example.test");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), requests_before + 1);
    // The hosted edition's management server serves files through its client-data servlet.
    EXPECT_EQ(requests.back().target, "/clientdatarequest?fileName=" + expected_path);
  }
}

// Wine reports the given Windows version to programs of that file name while the object lives.
class ScopedWineVersion {
 public:
  ScopedWineVersion(const std::string& program, const char* version) : key_("Software\\Wine\\AppDefaults\\" + program) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      ::RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(std::strlen(version) + 1));
      ::RegCloseKey(key);
    }
  }
  ~ScopedWineVersion() { ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
  ScopedWineVersion(const ScopedWineVersion&) = delete;
  ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

 private:
  std::string key_;
};

// The program declares no supported Windows versions, so a later Windows (Wine set to report
// Windows 10 to it) tells it 6.2: the https session counts it as Windows 7 or 8 and enables the
// newer TLS versions.
TEST_F(ConfigEndToEnd, TheProgramIsToldWindows8OnLaterVersions) {
  test::TestServerNamespace server("version-e2e");
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  const ScopedWineVersion windows10("vxprereqhandler.exe", "win10");
  Seed(FullConfiguration(), {{kSystemDetails, "VXAgentResourceID", std::nullopt},
                             {kRoot, "CustomerId", "version-e2e"},
                             {kServerInfo, "VXServerSecurePort", std::to_string(server.HttpsPort())},
                             {kServerInfo, "VXServerIPAddress", "127.0.0.1"},
                             {kServerInfo, "VXServerSecIPAddress", std::nullopt}});
  const test::ChildResult result = RunShipped();
  ASSERT_TRUE(result.started);
  EXPECT_TRUE(LogHas("[DEBUG] isWin7orWin8 : TRUE"));
  EXPECT_TRUE(LogHas("[INFO] SetSecureProtocols : Configuring security protocols "));
}

}  // namespace
}  // namespace vx
