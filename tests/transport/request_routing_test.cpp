// Routing against the scripted WinHTTP: which server and address each request reaches, the path on
// the wire, and the last access name in memory and in the registry.
#include "transport/request_routing.h"

#include <gtest/gtest.h>

#include "fake_winhttp_win.h"
#include "transport_test_win.h"

namespace vx {
namespace {

using test::Answer;
using test::FakeWinHttp;

constexpr const char* kServerInfo = "Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo";

std::vector<std::wstring> Servers(const FakeWinHttp& fake) {
  std::vector<std::wstring> servers;
  for (const test::FakeRequest& request : fake.Requests()) servers.push_back(request.server);
  return servers;
}

class Routing : public test::TransportTest {
 protected:
  Routing() {
    gv_vxProductCode = "KORB";
    gv_serverProtocol = "http";
    gv_serverPort = 8080;
    gv_lastAccessName = "last.example";
    gv_serverIPAddress = "10.0.0.1";
    gv_serverSecIPAddress = "10.0.0.2";
    gv_serverName = "mgmt.example";
    gv_serverFlatName = "MGMT";
    gv_dsServerProtocol = "http";
    gv_dsServerPort = 81;
    gv_dsLastAccessName = "ds-last.example";
    gv_dsServerIPAddress = "10.0.1.1";
    gv_proxyEnabled = "Yes";
    gv_proxyServerName = "proxy.example:3128";
    gv_proxyUserName = "proxyuser";
    gv_proxyPassword = "secret";
  }

  FakeWinHttp fake_;
  std::string out_;
};

TEST_F(Routing, FailsOverAndRemembersTheAddressThatAnswered) {
  fake_.connect_errors = {ERROR_WINHTTP_CANNOT_CONNECT};  // the last access name is down
  fake_.Add(Answer(404, "content"));                      // the address answers 404
  fake_.Add(Answer(200, "<doc/>"));                       // the secondary address answers
  EXPECT_EQ(AgentGetData("\\a\\b.xml", &out_, 1), 0);
  EXPECT_EQ(out_, "<doc/>");
  EXPECT_EQ(Servers(fake_), (std::vector<std::wstring>{L"10.0.0.1", L"10.0.0.2"}));
  EXPECT_EQ(fake_.Requests().at(1).object_path, L"/a/b.xml");
  EXPECT_EQ(fake_.Requests().at(1).port, 8080);
  EXPECT_EQ(fake_.Requests().at(1).access_type, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
  EXPECT_EQ(gv_lastAccessName, "10.0.0.2");
  const auto stored = test::GetValue(kServerInfo, "VXLastAccessName");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->bytes, std::string("10.0.0.2", 9));
  EXPECT_TRUE(log_.Has("[INFO]", "AgentSendRequest : Last Access Address is 10.0.0.2 "));
}

TEST_F(Routing, ANotFoundFromTheLastAccessNameEndsTheRequest) {
  fake_.Add(Answer(404, "content"));
  EXPECT_EQ(AgentGetData("/a/b.xml", &out_, 1), 404);
  EXPECT_EQ(Servers(fake_), std::vector<std::wstring>{L"last.example"});
  EXPECT_EQ(gv_lastAccessName, "last.example");
  EXPECT_FALSE(test::GetValue(kServerInfo, "VXLastAccessName").has_value());
}

TEST_F(Routing, TheDistributionServerIsReachedDirectlyAndItsPathIsNotRewritten) {
  gv_dsEnabled = "YES";
  gv_vxProductCode = "RNHX";
  fake_.Add(Answer(200, "content"));
  const std::string destination = (directory_.path() / "file.bin").string();
  EXPECT_EQ(AgentSendRequest("/a/b.bin", destination.c_str(), nullptr, DOWNLOAD_FILE, 1, 0, 0, kWholeDownload), 0);
  ASSERT_EQ(fake_.Requests().size(), 1u);
  EXPECT_EQ(fake_.Requests()[0].server, L"ds-last.example");
  EXPECT_EQ(fake_.Requests()[0].port, 81);
  EXPECT_EQ(fake_.Requests()[0].object_path, L"/a/b.bin");
  EXPECT_EQ(fake_.Requests()[0].access_type, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
  EXPECT_EQ(test::ReadWholeFile(destination), "content");
  EXPECT_TRUE(test::GetValue(kServerInfo, "DistributionLastAccessName").has_value());

  // The same request forced to the management server is rewritten for the hosted edition.
  fake_.Add(Answer(200, "content"));
  EXPECT_EQ(AgentSendRequest("/a/b.bin", destination.c_str(), nullptr, DOWNLOAD_FILE, 1, 1, 0, kWholeDownload), 0);
  EXPECT_EQ(fake_.Requests().at(1).object_path, L"clientdatarequest?fileName=/a/b.bin");
  EXPECT_EQ(fake_.Requests().at(1).server, L"last.example");
}

TEST_F(Routing, PathsTravelAsUtf8) {
  fake_.Add(Answer(200, "content"));
  fake_.Add(Answer(200, "content"));
  EXPECT_EQ(AgentGetData("/docs/caf\xC3\xA9.xml", &out_, 1), 0);
  EXPECT_EQ(AgentGetData("/docs/caf\xE9.xml", &out_, 1), 0);  // not UTF-8: the byte is replaced
  EXPECT_EQ(fake_.Requests().at(0).object_path, L"/docs/caf\u00E9.xml");
  EXPECT_EQ(fake_.Requests().at(1).object_path, L"/docs/caf\uFFFD.xml");
}

TEST_F(Routing, NoAddressOrNoDownloadSendsNothing) {
  EXPECT_EQ(AgentSendRequest("/a", "C:\\x", nullptr, DOWNLOAD_FILE, 1, 1, 0, kNoDownload), 12007);
  gv_lastAccessName = "ab";
  gv_serverIPAddress.reset();
  gv_serverSecIPAddress = "";
  gv_serverName = "xy";
  gv_serverFlatName.reset();
  EXPECT_EQ(AgentGetData("/a", &out_, 1), 12007);
  EXPECT_TRUE(fake_.Requests().empty());
}

}  // namespace
}  // namespace vx
