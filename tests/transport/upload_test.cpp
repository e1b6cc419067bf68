// Uploads against the scripted WinHTTP: what is posted, the retry policy on one connection, the
// statuses and answers handed back, and the routing of AgentSendRequest to the two operations (a
// success there stores the last access name in the registry, hence a serial program).
#include <gtest/gtest.h>

#include <functional>

#include "fake_winhttp_win.h"
#include "transport/request_routing.h"
#include "transport_test_win.h"

namespace vx {
namespace {

using test::Answer;
using test::Failing;
using test::FakeResponse;
using test::FakeWinHttp;

constexpr const wchar_t* kMultipart = L"Content-Type: multipart/form-data";
constexpr const wchar_t* kKeepAlive = L"Connection: Keep-Alive";
constexpr const wchar_t* kClose = L"Connection: close";

class Upload : public test::TransportTest {
 protected:
  Upload() {
    gv_httpConnectionTimeout = 30000;
    gv_httpRequestTimeout = 60000;
  }

  int Post(const char* body, int type = POST_DATA, int size = 0, unsigned char keep_alive = 1) {
    return InternetSendRequestEx(parameters_, L"/agent/post", body, &answer_, type, keep_alive, size);
  }
  int UploadPath(const char* utf8_path, int chunk_size) {
    return InternetSendRequestByBitRate(parameters_, L"/agent/upload", utf8_path, &answer_, UPLOAD_FILE, 0, chunk_size);
  }
  // The file's name is not ASCII: its path is handed over as UTF-8.
  int PostFile(const std::string& bytes, int chunk_size) {
    test::WriteWholeFile(directory_.path() / L"up\u00E9.bin", bytes);
    return UploadPath((directory_.str(true) + "up\xC3\xA9.bin").c_str(), chunk_size);
  }

  std::string answer_ = "untouched";
};

TEST_F(Upload, TypeSizeAndOptionsDecideWhatIsSent) {
  const char multipart[] = "--b\0\x01\0--";
  const struct {
    const char* body;
    int type;
    int size;
    unsigned char keep_alive;
    DWORD failing_option;  // logged; the post goes on
    std::string sent;
    std::vector<std::wstring> headers;
    DWORD connect_timeout;  // 0: not set
    DWORD receive_timeout;
  } cases[] = {
      {"name=value", POST_DATA, 3, 0, 0, "name=value", {kClose}, 0, 0},
      {"a=1&b=2", SEND_DATA, 0, 1, 0, "a=1&b=2", {kKeepAlive}, 30000, 60000},
      {"a=1", SEND_DATA, 0, 1, WINHTTP_OPTION_RECEIVE_TIMEOUT, "a=1", {kKeepAlive}, 30000, 0},
      {multipart, POST_MULTIPART, 8, 1, 0, std::string(multipart, 8), {kKeepAlive, kMultipart}, 0, 0},
      {multipart, POST_MULTIPART, 0, 0, 0, "--b", {kClose, kMultipart}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    FakeWinHttp fake;
    if (c.failing_option != 0) fake.option_errors[c.failing_option] = ERROR_WINHTTP_INCORRECT_HANDLE_TYPE;
    fake.Add(Answer(200, "ok"));
    answer_.clear();
    EXPECT_EQ(Post(c.body, c.type, c.size, c.keep_alive), 0);
    EXPECT_EQ(answer_, "ok");
    ASSERT_EQ(fake.Requests().size(), 1u);
    const test::FakeRequest& request = fake.Requests()[0];
    EXPECT_EQ(request.added_headers, c.headers);
    const auto option = [&](DWORD number) {
      return request.number_options.count(number) ? request.number_options.at(number) : 0;
    };
    EXPECT_EQ(option(WINHTTP_OPTION_CONNECT_TIMEOUT), c.connect_timeout);
    EXPECT_EQ(option(WINHTTP_OPTION_RECEIVE_TIMEOUT), c.receive_timeout);
    ASSERT_EQ(request.sends.size(), 1u);
    EXPECT_EQ(request.sends[0].data, c.sent);
    EXPECT_EQ(request.sends[0].total_length, c.sent.size());
    if (c.type == POST_MULTIPART) {  // a body that may be binary is logged by its size only
      EXPECT_TRUE(log_.Has("[DEBUG]", "InternetSendRequestEx : Data to Send -> " + std::to_string(c.sent.size()) +
                                          " bytes of multipart data "));
      for (const std::string& message : log_.Messages()) EXPECT_EQ(message.find("--b"), std::string::npos) << message;
    }
  }
}

TEST_F(Upload, NothingToSendIsRefusedWithoutTouchingTheNetwork) {
  const std::string missing = directory_.str(true) + "missing.bin";
  const struct {
    const char* name;
    std::function<int()> run;
  } cases[] = {
      {"no body", [&] { return Post(nullptr); }},
      {"negative multipart size", [&] { return Post("data", POST_MULTIPART, -1); }},
      {"no file path", [&] { return UploadPath(nullptr, 4); }},
      {"missing file", [&] { return UploadPath(missing.c_str(), 4); }},
      {"empty file", [&] { return PostFile("", 4); }},
  };
  for (const auto& c : cases) {
    FakeWinHttp fake;
    EXPECT_EQ(c.run(), 13) << c.name;
    EXPECT_EQ(fake.Sessions(), 0) << c.name;
    EXPECT_EQ(answer_, "untouched") << c.name;
  }
}

TEST_F(Upload, FileIsSentWholeInPiecesAfterOneSend) {
  const struct {
    std::size_t file_size;
    int chunk_size;
    std::vector<std::size_t> pieces;
  } cases[] = {
      {10, 4, {4, 4, 2}},
      {150000, 0, {65536, 65536, 18928}},        // no usable chunk size
      {5000000, 0x7FFFFFFF, {4194304, 805696}},  // pieces never exceed 4 MiB
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file_size);
    FakeWinHttp fake;
    fake.Add(Answer(200, "stored"));
    const std::string bytes = test::PatternBytes(c.file_size);
    EXPECT_EQ(PostFile(bytes, c.chunk_size), 0);
    EXPECT_EQ(answer_, "stored");
    ASSERT_EQ(fake.Requests().size(), 1u);
    ASSERT_EQ(fake.Requests()[0].sends.size(), 1u);
    const test::FakeSend& send = fake.Requests()[0].sends[0];
    EXPECT_EQ(send.headers, L"Content-type: multipart/form-data; filesize=\"" + std::to_wstring(c.file_size) + L"\"");
    EXPECT_EQ(send.data_length, 0u);
    EXPECT_EQ(send.total_length, c.file_size);
    std::vector<std::size_t> pieces;
    for (const std::string& piece : send.writes) pieces.push_back(piece.size());
    EXPECT_EQ(pieces, c.pieces);
    EXPECT_TRUE(send.Body() == bytes);
  }
}

TEST_F(Upload, RetriesStayOnTheConnectionAndResendTheWholeBody) {
  const std::string file = test::PatternBytes(10);
  const struct {
    const char* name;
    bool file_upload;
    std::vector<FakeResponse> responses;
    int result;
    std::vector<std::size_t> sends_per_request;
    std::size_t pauses;
  } cases[] = {
      {"12032 twice", false, {Failing({}, {12032, 12032})}, 0, {3}, 2},
      // Five unanswered attempts end the loop; the status query then fails on the request.
      {"12032 five times", false, {Failing({}, {12032, 12032, 12032, 12032, 12032})}, 12019, {5}, 5},
      {"12015 on send", false, {Failing({12015}), Answer(200, "ok")}, 0, {1, 1}, 0},
      {"12017 on send twice", false, {Failing({12017}), Failing({12017})}, 12017, {1, 1}, 0},
      // After the one reopen, 12152 counts as an attempt on the same handle.
      {"12015, then 12152 on receive", false, {Failing({}, {12015}), Failing({}, {12152})}, 0, {1, 2}, 0},
      {"another send error", false, {Failing({12029})}, 12029, {1}, 0},
      {"another receive error", false, {Failing({}, {12030})}, 12030, {1}, 0},
      {"file after 12032", true, {Failing({}, {12032})}, 0, {2}, 1},
      {"file after 12152, then 12032", true, {Failing({}, {12152}), Failing({}, {12032})}, 0, {1, 2}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWinHttp fake;
    test::FakeTime time;
    ScopedTimeSourceOverride time_override(time);
    for (const FakeResponse& response : c.responses) fake.Add(response);
    answer_ = "untouched";
    EXPECT_EQ(c.file_upload ? PostFile(file, 4) : Post("body", POST_MULTIPART), c.result);
    EXPECT_EQ(fake.Connections(), 1) << "only the request handle is replaced";
    std::vector<std::size_t> sends_per_request;
    for (const test::FakeRequest& request : fake.Requests()) {
      sends_per_request.push_back(request.sends.size());
      // The multipart header goes on each handle once, however often the handle is sent.
      const std::vector<std::wstring> headers =
          c.file_upload ? std::vector<std::wstring>{kKeepAlive} : std::vector<std::wstring>{kKeepAlive, kMultipart};
      EXPECT_EQ(request.added_headers, headers);
      for (const test::FakeSend& send : request.sends) EXPECT_TRUE(send.Body() == (c.file_upload ? file : "body"));
    }
    EXPECT_EQ(sends_per_request, c.sends_per_request);
    EXPECT_EQ(time.Sleeps(), std::vector<std::uint32_t>(c.pauses, 5000));
    EXPECT_EQ(answer_, c.result == 0 ? "ok" : "untouched");
    EXPECT_EQ(fake.OpenHandles(), 0);
  }
}

TEST_F(Upload, StatusAndAnswer) {
  FakeResponse in_pieces = Answer(200, test::PatternBytes(10000));
  in_pieces.chunk = 999;
  FakeResponse unannounced = Answer(200, "text");
  unannounced.headers.clear();
  const struct {
    const char* name;
    FakeResponse response;
    bool want_answer;
    int result;
    std::string answer;
  } cases[] = {
      {"200", Answer(200, "server says"), true, 0, "server says"},
      {"407", Answer(407, "server says"), true, 407, "untouched"},
      {"500", Answer(500, "server says"), true, 500, "untouched"},
      {"longer than one read", in_pieces, true, 0, in_pieces.body},
      {"no Content-Length, answer wanted", unannounced, true, 12150, "untouched"},
      {"no Content-Length, no answer wanted", unannounced, false, 0, "untouched"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWinHttp fake;
    fake.Add(c.response);
    answer_ = "untouched";
    EXPECT_EQ(InternetSendRequestEx(parameters_, L"/p", "x", c.want_answer ? &answer_ : nullptr, POST_DATA, 1, 0),
              c.result);
    EXPECT_TRUE(answer_ == c.answer);
    EXPECT_EQ(fake.OpenHandles(), 0);
  }
}

TEST_F(Upload, AgentSendRequestRoutesEachTypeWithItsDataAndSize) {
  gv_serverProtocol = "http";
  gv_lastAccessName = "last.example";
  const std::string file = directory_.str(true) + "report.bin";
  test::WriteWholeFile(file, "0123456789");
  const char multipart[] = "ab\0cd";
  const struct {
    const char* data;
    int type;
    int size;
    std::string body;
    std::size_t pieces;  // WinHttpWriteData calls after the send
  } cases[] = {
      {"k=v", POST_DATA, 2, "k=v", 0},
      {"k=v", SEND_DATA, 0, "k=v", 0},
      {multipart, POST_MULTIPART, 5, std::string(multipart, 5), 0},
      {file.c_str(), UPLOAD_FILE, 4, "0123456789", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    FakeWinHttp fake;
    fake.Add(Answer(200, "ok"));
    answer_.clear();
    EXPECT_EQ(AgentSendRequest("\\agent\\upload", c.data, &answer_, c.type, 1, 1, c.size, kNoDownload), 0);
    EXPECT_EQ(answer_, "ok");
    ASSERT_EQ(fake.Requests().size(), 1u);
    EXPECT_EQ(fake.Requests()[0].object_path, L"/agent/upload");
    ASSERT_EQ(fake.Requests()[0].sends.size(), 1u);
    EXPECT_TRUE(fake.Requests()[0].sends[0].Body() == c.body);
    EXPECT_EQ(fake.Requests()[0].sends[0].writes.size(), c.pieces);
  }
}

}  // namespace
}  // namespace vx
