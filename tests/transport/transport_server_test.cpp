// The transport with the real WinHTTP under Wine against the scriptable test server: downloads to a
// file and into memory, statuses and broken answers, HTTPS with a self-signed certificate, the
// proxy's credentials, and failover to a live address. Outcomes are checked (files, results, what
// the server received), not Wine's error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "transport/request_routing.h"
#include "transport/request_setup_win.h"
#include "transport_test_win.h"

namespace vx {
namespace {

using test::Wide;

// No "DownloadMode" in the clean registry: whole downloads; the rate-limited pacing is recorded, not
// waited for.
class ServerTransport : public test::TransportTest {
 protected:
  ServerTransport() : server_(test::CurrentTestName()) { ConnectTo(server_); }

  void SetUp() override {
    if (!server_.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  }

  int Download(bool rate_limited, int type, const std::string& file = "file.bin") {
    text_.clear();
    const std::wstring path = Wide(server_.UrlPath(file));
    return rate_limited ? InternetGetRequestByBitrate(parameters_, path.c_str(), destination_.c_str(), &text_, type, 1)
                        : InternetGetRequestEx(parameters_, path.c_str(), destination_.c_str(), &text_, type, 1, 1);
  }

  test::TestServerNamespace server_;
};

TEST_F(ServerTransport, DownloadsToAFileAndIntoMemory) {
  const std::string file = test::PatternBytes(300000);
  server_.WriteFile("file.bin", file);
  server_.WriteFile("doc.xml", "<a>\r\n<b/>\r\n</a>\r\n");
  gv_dataTransferRateKBps = 256;  // blocks of 128000 bytes
  for (const bool rate_limited : {false, true}) {
    SCOPED_TRACE(rate_limited ? "rate-limited" : "whole");
    std::filesystem::remove(destination_);
    EXPECT_EQ(Download(rate_limited, DOWNLOAD_FILE), 0);
    EXPECT_EQ(test::ReadWholeFile(destination_), file);
    EXPECT_EQ(Download(rate_limited, GET_DATA, "doc.xml"), 0);
    EXPECT_EQ(text_, "<a>\n<b/>\n</a>\n");
  }
  // The rate-limited download: a HEAD, then the blocks, the last ending at the length itself.
  std::vector<std::string> rate_limited_requests;
  bool rate_limited = false;
  for (const test::RecordedRequest& request : server_.Requests()) {
    if (request.method == "HEAD") rate_limited = true;
    if (rate_limited && request.target.ends_with("file.bin")) {
      rate_limited_requests.push_back(request.method + " " + request.Header("Range").value_or("-"));
    }
  }
  EXPECT_EQ(rate_limited_requests, (std::vector<std::string>{"HEAD -", "GET bytes=0-127999", "GET bytes=128000-255999",
                                                             "GET bytes=256000-300000"}));
  EXPECT_EQ(server_.Requests().front().Header("Accept-Encoding"), "gzip");
  EXPECT_EQ(server_.Requests().front().Header("Connection"), "Keep-Alive");
  // Nothing but the destination is left behind.
  EXPECT_EQ(test::RegularFilesBelow(directory_.path()), 1u);
}

// A server that stops answering costs the request's time-out, not a hang (GET_DATA sets it).
TEST_F(ServerTransport, StallingServerEndsWithinTheTimeout) {
  server_.WriteFile("file.bin", test::PatternBytes(5000));
  gv_httpRequestTimeout = 1000;
  for (const char* rule : {R"({"stall_before_headers": 20})", R"({"stall_after": 1000, "stall_seconds": 20})"}) {
    SCOPED_TRACE(rule);
    server_.WriteScript(std::string(R"({"rules": [)") + rule + "]}");
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_NE(Download(false, GET_DATA), 0);
    EXPECT_LT(::GetTickCount64() - start, 15000u);  // far below the server's stall
    EXPECT_EQ(text_, "");
  }
}

// HTTPS (in any case) to the test server's self-signed certificate. An administrator may pin the
// server certificates to accept, or ask for full validation. A refused certificate fails the request
// before any byte of the answer reaches a file.
TEST_F(ServerTransport, PinnedOrStrictlyValidatedCertificates) {
  const std::filesystem::path fingerprint_file =
      std::filesystem::path(server_.WindowsDirectory()).parent_path() / "cert.sha256";
  const std::string fingerprint = test::ReadWholeFile(fingerprint_file);
  ASSERT_EQ(fingerprint.size(), 64u);
  std::string spelled;  // upper case with colons, after a fingerprint that is not this one
  for (std::size_t i = 0; i < fingerprint.size(); i += 2) {
    spelled += (i ? ":" : "") + fingerprint.substr(i, 2);
  }
  for (char& c : spelled) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string other(64, 'a');
  struct Case {
    const char* name;
    std::optional<std::string> pins;
    bool strict;
    bool accepted;
    int type = DOWNLOAD_FILE;  // or an upload, whose body goes only where the download would go
  };
  const Case cases[] = {
      {"neither pins nor strict validation", std::nullopt, false, true},
      {"pin matches", other + "; " + spelled, false, true},
      {"pin differs", other, false, false},
      {"no valid fingerprint: nothing is accepted", "not a fingerprint", false, false},
      {"strict validation of a self-signed certificate", std::nullopt, true, false},
      {"post, pin matches", spelled, false, true, POST_DATA},
      {"post, pin differs", other, false, false, POST_DATA},
      {"file upload, pin differs", other, false, false, UPLOAD_FILE},
      {"file upload, strict validation", std::nullopt, true, false, UPLOAD_FILE},
  };
  const std::string report = directory_.str(true) + "report.txt";
  test::WriteWholeFile(report, "the report");
  const std::wstring upload_path = Wide(server_.UrlPath("file.bin"));
  server_.WriteFile("file.bin", "over TLS");
  parameters_.protocol = "HTTPS";
  parameters_.port = server_.HttpsPort();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedCleanRegistry clean;
    if (c.pins) test::SetString(test::kTestAgentRootKey, "ServerCertificateSHA256", *c.pins);
    if (c.strict) test::SetDword(test::kTestAgentRootKey, "StrictServerCertificateCheck", 1);
    std::filesystem::remove(destination_);
    const std::size_t requests_before = server_.Requests().size();
    const int result =
        c.type == DOWNLOAD_FILE ? Download(false, DOWNLOAD_FILE)
        : c.type == UPLOAD_FILE
            ? InternetSendRequestByBitRate(parameters_, upload_path.c_str(), report.c_str(), &text_, c.type, 1, 4)
            : InternetSendRequestEx(parameters_, upload_path.c_str(), "the post", &text_, c.type, 1, 0);
    EXPECT_EQ(result == 0, c.accepted) << result;
    EXPECT_EQ(std::filesystem::exists(destination_), c.accepted && c.type == DOWNLOAD_FILE);
    if (c.accepted && c.type == DOWNLOAD_FILE) {
      EXPECT_EQ(test::ReadWholeFile(destination_), "over TLS");
    }
    const auto requests = server_.Requests();
    EXPECT_EQ(requests.size() > requests_before && !requests.back().body.empty(),
              c.accepted && c.type != DOWNLOAD_FILE);
    if (c.accepted) {
      ASSERT_GT(requests.size(), requests_before);
      EXPECT_EQ(requests.back().listener, "https");
    }
    if (c.pins && !c.accepted) {
      EXPECT_EQ(result, kCertificateNotPinned);
      const std::string operation = c.type == DOWNLOAD_FILE ? "GetInternetRequestHandle"
                                    : c.type == UPLOAD_FILE ? "InternetSendRequestByBitRate"
                                                            : "InternetSendRequestEx";
      // The file upload's header line ends without a line break, so the error line may follow it.
      const std::string line = "[ERROR] " + operation + " : The server certificate (SHA-256 " + fingerprint +
                               ") of 127.0.0.1 matches none of the pinned certificates (" + *c.pins + ") ";
      const auto messages = log_.Messages();
      EXPECT_TRUE(std::any_of(messages.begin(), messages.end(),
                              [&](const std::string& message) { return message.find(line) != std::string::npos; }));
    }
  }
}

TEST_F(ServerTransport, ProxyCredentials) {
  server_.WriteFile("file.bin", "through the proxy");
  server_.SetProxyCredentials("agentproxy:s3cret!");
  parameters_.use_proxy = 1;
  parameters_.proxy_server = L"127.0.0.1:" + std::to_wstring(server_.ProxyPort());
  const struct {
    const wchar_t* user;
    const wchar_t* password;
    int expected;
  } cases[] = {{L"agentproxy", L"s3cret!", 0}, {L"agentproxy", L"wrong", 407}, {L"", L"", 407}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "user '" << std::string(c.user, c.user + wcslen(c.user)) << "'");
    parameters_.proxy_user = c.user;
    parameters_.proxy_password = c.password;
    std::filesystem::remove(destination_);
    EXPECT_EQ(Download(false, DOWNLOAD_FILE), c.expected);
    EXPECT_EQ(std::filesystem::exists(destination_), c.expected == 0);
    ASSERT_FALSE(server_.Requests().empty());
    EXPECT_EQ(server_.Requests().back().listener, "proxy");
  }
}

// Failover with the configuration record: an unresolvable name and a refused address come before
// the live one, which becomes the last access name in memory and in the registry.
class ServerRouting : public ServerTransport {};

TEST_F(ServerRouting, FailsOverToTheLiveAddress) {
  server_.WriteFile("doc.xml", "<doc/>");
  gv_vxProductCode = "KORB";
  gv_serverProtocol = "http";
  gv_serverPort = server_.HttpPort();
  gv_lastAccessName = "no-such-host.invalid";
  gv_serverIPAddress = "127.0.0.2";  // loopback, but nothing listens there: refused
  gv_serverSecIPAddress = "127.0.0.1";
  gv_serverName = "not-tried.invalid";
  EXPECT_EQ(AgentGetData(server_.UrlPath("doc.xml").c_str(), &text_, 1), 0);
  EXPECT_EQ(text_, "<doc/>");
  EXPECT_EQ(gv_lastAccessName, "127.0.0.1");
  EXPECT_EQ(test::GetText("Software\\Norvane\\Quorvant\\VXAgent\\ServerInfo", "VXLastAccessName"), "127.0.0.1");
  EXPECT_EQ(server_.Requests().size(), 1u);
}

}  // namespace
}  // namespace vx
