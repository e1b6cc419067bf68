// The Windows tests' side of the scriptable test server (tests/server/test_server.py): a private
// directory on the running server, the files and script it serves from there, and the requests it
// recorded. The server runs on Linux; its root (VX_TEST_SERVER_ROOT, set by the CTest fixture) is
// reached through Wine's drive Z:.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vx::test {

// One request as the server recorded it, before answering it.
struct RecordedRequest {
  int index = 0;         // 1, 2, ... in the order the namespace received them
  std::string listener;  // "http", "https" or "proxy"
  std::string method;
  // As received: an absolute http://host:port/... through the proxy when the client sent one.
  std::string target;
  // In received order.
  std::vector<std::pair<std::string, std::string>> headers;
  // Empty when none was sent.
  std::string body;

  // The value of the first header of that name (ASCII case-insensitive), or none.
  [[nodiscard]] std::optional<std::string> Header(std::string_view name) const;
};

// "Suite.Name" of the running test: the namespace name a test's own server namespace takes.
[[nodiscard]] std::string CurrentTestName();

// A private namespace on the running test server: the directory <root>/<name>/, created empty
// when the object is made and removed with it. Requests whose target names it are served from
// that directory and recorded there. Names must be unique among the tests running at the same
// time (pass the test's own name); characters other than letters, digits, '.', '_' and '-' are
// replaced by '_'.
//
// Failures to write files are reported as test failures (ADD_FAILURE), not thrown. One object
// belongs to one test thread.
class TestServerNamespace {
 public:
  explicit TestServerNamespace(const std::string& name);
  ~TestServerNamespace();
  TestServerNamespace(const TestServerNamespace&) = delete;
  TestServerNamespace& operator=(const TestServerNamespace&) = delete;

  // False when no server runs for this test (no VX_TEST_SERVER_ROOT or no ports.txt): the test
  // should GTEST_SKIP() with a reason.
  [[nodiscard]] bool Available() const;
  [[nodiscard]] int HttpPort() const { return http_port_; }
  [[nodiscard]] int HttpsPort() const { return https_port_; }
  [[nodiscard]] int ProxyPort() const { return proxy_port_; }
  [[nodiscard]] const std::string& Name() const { return name_; }

  // "/<name>/<relative>": the target that serves the file <relative> of this namespace.
  [[nodiscard]] std::string UrlPath(const std::string& relative) const;
  // Writes a file of the namespace ('/'-separated relative path), creating its directories.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // Sets the file's modification time, which the server sends as Last-Modified.
  void SetLastModified(const std::string& relative, std::int64_t unix_seconds) const;
  // Replaces the namespace's script.json in one step, so the server never reads half a script.
  void WriteScript(const std::string& json) const;
  // The "user:password" the proxy demands for requests to this namespace (default
  // proxyuser:proxypass). Kept in the namespace rather than for the whole server so that tests
  // running side by side do not change each other's proxy.
  void SetProxyCredentials(const std::string& user_colon_password) const;
  // The requests recorded so far, in order, with their bodies.
  [[nodiscard]] std::vector<RecordedRequest> Requests() const;
  // The namespace directory as a Windows path (Z:\...\<name>).
  [[nodiscard]] std::string WindowsDirectory() const;

 private:
  [[nodiscard]] std::filesystem::path PathOf(const std::string& relative) const;
  void WriteAtomically(const std::filesystem::path& path, const std::string& bytes) const;

  std::string name_;
  std::filesystem::path directory_;  // empty when no server is available
  int http_port_ = 0;
  int https_port_ = 0;
  int proxy_port_ = 0;
};

}  // namespace vx::test
