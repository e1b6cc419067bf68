// Uploads with the real WinHTTP under Wine against the scriptable test server: the bytes and
// headers the server receives, and an answer larger than one read handed back whole.
#include <gtest/gtest.h>

#include "transport_test_win.h"

namespace vx {
namespace {

class ServerUpload : public test::TransportTest {
 protected:
  ServerUpload() : server_(test::CurrentTestName()) { ConnectTo(server_); }

  test::TestServerNamespace server_;
};

TEST_F(ServerUpload, TheServerReceivesEveryByteAndTheAnswerArrivesWhole) {
  if (!server_.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
  const std::string target = server_.UrlPath("upload");
  const std::wstring path(target.begin(), target.end());
  const std::string answer = test::PatternBytes(700000);  // many reads
  server_.WriteFile("answer.bin", answer);
  server_.WriteScript(R"({"rules": [{"method": "POST", "body_file": "answer.bin"}]})");
  const char multipart[] = "--b\r\nname\0\x01\xFF\0tail\r\n--b--";
  const std::string multipart_body(multipart, sizeof(multipart) - 1);
  const std::string file = test::PatternBytes(300001);
  const std::string file_path = directory_.str(true) + "report.bin";
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
    parameters_.protocol = c.protocol;
    parameters_.port = std::string(c.protocol) == "https" ? server_.HttpsPort() : server_.HttpPort();
    text_.clear();
    const int result = c.type == UPLOAD_FILE
                           ? InternetSendRequestByBitRate(parameters_, path.c_str(), c.data, &text_, c.type, 1, c.size)
                           : InternetSendRequestEx(parameters_, path.c_str(), c.data, &text_, c.type, 1, c.size);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(text_ == answer) << "received " << text_.size() << " bytes";
    const std::vector<test::RecordedRequest> requests = server_.Requests();
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
  EXPECT_EQ(server_.Requests().size(), 4u);
}

}  // namespace
}  // namespace vx
