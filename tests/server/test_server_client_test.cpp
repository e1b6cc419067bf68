// The Windows side of the test server under Wine, with plain Winsock as the client: a namespace's
// files, script and recorded requests as a transport test will use them.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "test_server_win.h"

namespace vx::test {
namespace {

class Socket {
 public:
  Socket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  ~Socket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  [[nodiscard]] SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

class TestServerClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &winsock_)); }
  void TearDown() override { ::WSACleanup(); }

  // Sends the request on a new connection and returns all the server sent until it closed.
  static std::string Exchange(int port, const std::string& request) {
    Socket connection;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    const DWORD timeout_ms = 10000;
    ::setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                 sizeof(timeout_ms));
    if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      return "connect failed: " + std::to_string(::WSAGetLastError());
    }
    if (::send(connection.get(), request.data(), static_cast<int>(request.size()), 0) !=
        static_cast<int>(request.size())) {
      return "send failed: " + std::to_string(::WSAGetLastError());
    }
    std::string response;
    char buffer[4096];
    for (int count; (count = ::recv(connection.get(), buffer, sizeof(buffer), 0)) > 0;) response.append(buffer, count);
    return response;
  }

  static std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

  WSADATA winsock_{};
};

TEST_F(TestServerClient, ServesAWrittenFileAndRecordsTheRequest) {
  TestServerNamespace server("TestServerClient." + TestName());
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  server.WriteFile("sub/a.bin", "hello, server");
  server.SetLastModified("sub/a.bin", 1700000000);

  const std::string target = server.UrlPath("sub/a.bin");
  const std::string response = Exchange(server.HttpPort(), "GET " + target +
                                                               " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                               "X-Vx-Probe: one\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(0u, response.find("HTTP/1.1 200 ")) << response;
  EXPECT_NE(std::string::npos, response.find("\r\nLast-Modified: Tue, 14 Nov 2023 22:13:20 GMT\r\n")) << response;
  EXPECT_TRUE(response.ends_with("\r\n\r\nhello, server")) << response;

  const auto requests = server.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(1, requests[0].index);
  EXPECT_EQ("http", requests[0].listener);
  EXPECT_EQ("GET", requests[0].method);
  EXPECT_EQ("/TestServerClient.ServesAWrittenFileAndRecordsTheRequest/sub/a.bin", requests[0].target);
  EXPECT_EQ("one", requests[0].Header("x-vx-probe"));
  EXPECT_EQ("close", requests[0].Header("Connection"));
  EXPECT_EQ(3u, requests[0].headers.size());
  EXPECT_FALSE(requests[0].Header("Content-Length").has_value());
  EXPECT_TRUE(requests[0].body.empty());
}

TEST_F(TestServerClient, ScriptAnswersPostsAndBodiesAreRecorded) {
  TestServerNamespace server("TestServerClient." + TestName());
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  server.WriteScript(R"({"rules": [{"method": "POST", "count": 1, "status": 201, "body": "stored"}]})");

  struct Case {
    std::string body;
    std::string status_line;
    std::string answer;
  };
  const Case cases[] = {{"first=1", "HTTP/1.1 201 ", "stored"}, {"second=22", "HTTP/1.1 200 ", ""}};
  for (const Case& c : cases) {
    const std::string response = Exchange(
        server.HttpPort(), "POST /upload?file=" + server.UrlPath("log.txt") +
                               " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(c.body.size()) +
                               "\r\nConnection: close\r\n\r\n" + c.body);
    EXPECT_EQ(0u, response.find(c.status_line)) << response;
    EXPECT_TRUE(response.ends_with("\r\n\r\n" + c.answer)) << response;
  }

  const auto requests = server.Requests();
  ASSERT_EQ(2u, requests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(static_cast<int>(i) + 1, requests[i].index);
    EXPECT_EQ("POST", requests[i].method);
    EXPECT_EQ(cases[i].body, requests[i].body);
    EXPECT_EQ(std::to_string(cases[i].body.size()), requests[i].Header("content-length"));
  }
}

}  // namespace
}  // namespace vx::test
