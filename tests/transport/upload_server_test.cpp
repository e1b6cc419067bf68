// Uploads with the real WinHTTP under Wine against the scriptable test server: the bytes and
// headers the server receives, and an answer larger than one read handed back whole.
#include <gtest/gtest.h>

#include "agent/agent_config.h"
#include "test_files.h"
#include "test_log.h"
#include "test_server_win.h"
#include "transport/upload_win.h"

namespace vx {
namespace {

TEST(ServerUpload, TheServerReceivesEveryByteAndTheAnswerArrivesWhole) {
  test::TestServerNamespace server("ServerUpload.TheServerReceivesEveryByte");
  if (!server.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  test::ScopedTestLog log;
  test::TempDirectory directory;
  ResetAgentParameters();
  gv_httpConnectionTimeout = 5000;
  gv_httpRequestTimeout = 5000;
  const std::string target = server.UrlPath("upload");
  const std::wstring path(target.begin(), target.end());
  const std::string answer = test::PatternBytes(700000);  // many reads
  server.WriteFile("answer.bin", answer);
  server.WriteScript(R"({"rules": [{"method": "POST", "body_file": "answer.bin"}]})");
  const char multipart[] = "--b\r\nname\0\x01\xFF\0tail\r\n--b--";
  const std::string multipart_body(multipart, sizeof(multipart) - 1);
  const std::string file = test::PatternBytes(300001);
  const std::string file_path = directory.str(true) + "report.bin";
  test::WriteWholeFile(file_path, file);
  const struct {
    const char* protocol;
    int type;
    const char* data;
    int size;
    std::string body;
    const char* content_type;
  } cases[] = {
      {"http", POST_DATA, "name=value&x=1", 0, "name=value&x=1", nullptr},
      {"https", SEND_DATA, "a=1", 0, "a=1", nullptr},  // to a self-signed certificate
      {"http", POST_MULTIPART, multipart, static_cast<int>(multipart_body.size()), multipart_body,
       "multipart/form-data"},
      {"http", UPLOAD_FILE, file_path.c_str(), 8192, file, "multipart/form-data; filesize=\"300001\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ConnectionParameters parameters;
    parameters.protocol = c.protocol;
    parameters.server = L"127.0.0.1";
    parameters.port = std::string(c.protocol) == "https" ? server.HttpsPort() : server.HttpPort();
    std::string out;
    const int result = c.type == UPLOAD_FILE
                           ? InternetSendRequestByBitRate(parameters, path.c_str(), c.data, &out, c.type, 1, c.size)
                           : InternetSendRequestEx(parameters, path.c_str(), c.data, &out, c.type, 1, c.size);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(out == answer) << "received " << out.size() << " bytes";
    const std::vector<test::RecordedRequest> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    const test::RecordedRequest& request = requests.back();
    EXPECT_EQ(request.listener, c.protocol);
    EXPECT_EQ(request.method, "POST");
    EXPECT_TRUE(request.body == c.body) << "received " << request.body.size() << " bytes";
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(c.body.size()));
    if (c.content_type != nullptr) {
      EXPECT_EQ(request.Header("Content-Type"), c.content_type);
    }
  }
  EXPECT_EQ(server.Requests().size(), 4u);
}

}  // namespace
}  // namespace vx
