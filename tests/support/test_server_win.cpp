#include "test_server_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/unique_handle_win.h"
#include "child_process_win.h"
#include "test_files.h"

namespace vx::test {
namespace {

// FILETIME counts 100 ns ticks from 1601-01-01; Unix time counts seconds from 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (LowerAscii(left[i]) != LowerAscii(right[i])) return false;
  }
  return true;
}

// A name that is one directory component and one token of a request target.
std::string SafeName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const bool plain =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!plain) c = '_';
  }
  if (safe.empty() || safe == "." || safe == "..") safe = "_" + safe;
  return safe;
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// The blocks of requests.log:
//   REQUEST <index> <listener> / <METHOD> <target> / <Name>: <value>... / BODY <length> / END
std::vector<RecordedRequest> ParseRequestLog(std::string_view text) {
  enum class Expect { kRequest, kRequestLine, kHeaders };
  std::vector<RecordedRequest> requests;
  Expect expect = Expect::kRequest;
  for (const std::string& line : SplitLines(text)) {
    switch (expect) {
      case Expect::kRequest:
        if (line.rfind("REQUEST ", 0) == 0) {
          RecordedRequest request;
          std::istringstream fields(line.substr(8));
          fields >> request.index >> request.listener;
          requests.push_back(std::move(request));
          expect = Expect::kRequestLine;
        }
        break;
      case Expect::kRequestLine: {
        const std::size_t space = line.find(' ');
        requests.back().method = line.substr(0, space);
        if (space != std::string::npos) requests.back().target = line.substr(space + 1);
        expect = Expect::kHeaders;
        break;
      }
      case Expect::kHeaders: {
        if (line == "END") {
          expect = Expect::kRequest;
          break;
        }
        // Header names contain no space, so "BODY <length>" is never a header line.
        if (line.rfind("BODY ", 0) == 0) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        std::size_t value_start = colon + 1;
        if (value_start < line.size() && line[value_start] == ' ') ++value_start;
        requests.back().headers.emplace_back(line.substr(0, colon), line.substr(value_start));
        break;
      }
    }
  }
  return requests;
}

}  // namespace

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string(info->test_suite_name()) + "." + info->name();
}

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [header_name, value] : headers) {
    if (EqualsIgnoringCase(header_name, name)) return value;
  }
  return std::nullopt;
}

TestServerNamespace::TestServerNamespace(const std::string& name) : name_(SafeName(name)) {
  const char* root = std::getenv("VX_TEST_SERVER_ROOT");
  if (root == nullptr || *root == '\0') return;
  const std::filesystem::path root_directory = WindowsPathOf(root);

  std::istringstream ports(ReadWholeFile(root_directory / "ports.txt"));
  for (std::string line; std::getline(ports, line);) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string listener = line.substr(0, equals);
    const int port = std::atoi(line.c_str() + equals + 1);
    if (listener == "http") http_port_ = port;
    if (listener == "https") https_port_ = port;
    if (listener == "proxy") proxy_port_ = port;
  }
  if (http_port_ <= 0 || https_port_ <= 0 || proxy_port_ <= 0) return;

  const std::filesystem::path directory = root_directory / name_;
  std::error_code error;
  std::filesystem::remove_all(directory, error);
  if (!std::filesystem::create_directories(directory, error)) {
    ADD_FAILURE() << "cannot create the test server namespace " << directory.string() << ": " << error.message();
    return;
  }
  directory_ = directory;
}

TestServerNamespace::~TestServerNamespace() {
  if (directory_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

bool TestServerNamespace::Available() const { return !directory_.empty(); }

std::string TestServerNamespace::UrlPath(const std::string& relative) const {
  const std::size_t start = relative.find_first_not_of('/');
  return "/" + name_ + "/" + (start == std::string::npos ? std::string() : relative.substr(start));
}

std::filesystem::path TestServerNamespace::PathOf(const std::string& relative) const {
  return (directory_ / std::filesystem::path(relative).relative_path()).make_preferred();
}

void TestServerNamespace::WriteFile(const std::string& relative, const std::string& bytes) const {
  if (!Available()) {
    ADD_FAILURE() << "no test server namespace to write " << relative << " to";
    return;
  }
  const std::filesystem::path path = PathOf(relative);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (!WriteBytes(path, bytes)) ADD_FAILURE() << "cannot write " << path.string();
}

void TestServerNamespace::SetLastModified(const std::string& relative, std::int64_t unix_seconds) const {
  if (!Available()) {
    ADD_FAILURE() << "no test server namespace holding " << relative;
    return;
  }
  const std::filesystem::path path = PathOf(relative);
  UniqueHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    ADD_FAILURE() << "cannot open " << path.string() << ": error " << ::GetLastError();
    return;
  }
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>((unix_seconds + kUnixEpochInFileTimeSeconds) * kFileTimeTicksPerSecond);
  FILETIME modified{ticks.LowPart, ticks.HighPart};
  if (!::SetFileTime(file.get(), nullptr, nullptr, &modified)) {
    ADD_FAILURE() << "cannot set the time of " << path.string() << ": error " << ::GetLastError();
  }
}

void TestServerNamespace::WriteAtomically(const std::filesystem::path& path, const std::string& bytes) const {
  if (!Available()) {
    ADD_FAILURE() << "no test server namespace to write " << path.string() << " to";
    return;
  }
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  if (!WriteBytes(temporary, bytes)) {
    ADD_FAILURE() << "cannot write " << temporary.string();
    return;
  }
  // A rename, under Wine as on Windows: the server sees the old file or the new one, never a part.
  if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ADD_FAILURE() << "cannot replace " << path.string() << ": error " << ::GetLastError();
  }
}

void TestServerNamespace::WriteScript(const std::string& json) const {
  WriteAtomically(directory_ / "script.json", json);
}

void TestServerNamespace::SetProxyCredentials(const std::string& user_colon_password) const {
  WriteAtomically(directory_ / "proxy-credentials.txt", user_colon_password + "\n");
}

std::vector<RecordedRequest> TestServerNamespace::Requests() const {
  if (!Available()) return {};
  std::vector<RecordedRequest> requests = ParseRequestLog(ReadWholeFile(directory_ / "requests.log"));
  for (RecordedRequest& request : requests) {
    const std::filesystem::path body = directory_ / ("body-" + std::to_string(request.index) + ".bin");
    std::error_code error;
    if (std::filesystem::exists(body, error)) request.body = ReadWholeFile(body);
  }
  return requests;
}

std::string TestServerNamespace::WindowsDirectory() const { return directory_.string(); }

}  // namespace vx::test
