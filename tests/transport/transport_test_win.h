// What the transport tests share: a fixture that starts every test from a clean machine, and the
// download drivers with the invariant that the hostile-server matrix and the torture run check after
// every run of one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

#include "agent/agent_config.h"
#include "fake_time.h"
#include "test_files.h"
#include "test_log.h"
#include "test_registry_win.h"
#include "test_server_win.h"
#include "transport/file_download_win.h"
#include "transport/transport_types.h"
#include "transport/upload_win.h"

namespace vx::test {

inline const std::string kSettingsKey = std::string(kTestAgentRootKey) + "\\Settings";
inline const std::string kMetadataKey = std::string(kTestAgentRootKey) + "\\FileMetaData";

// ASCII text (an object path) as UTF-16.
inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A clean registry, the agent's parameters reset with the private directory as the temporary one,
// the log on a private file and a clock that moves only when the code sleeps. The connection goes
// to http://server.example until a test says otherwise; downloads go to <directory>/out/file.bin.
class TransportTest : public ::testing::Test {
 protected:
  explicit TransportTest(std::uint32_t log_level = 4) : log_(log_level), time_override_(time_) {
    ResetAgentParameters();
    gv_tempDir = directory_.str();
    parameters_.protocol = "http";
    parameters_.server = L"server.example";
    parameters_.port = 80;
  }

  // The test server's HTTP port, with time-outs that end a stalled exchange soon.
  void ConnectTo(const TestServerNamespace& server) {
    gv_httpConnectionTimeout = 5000;
    gv_httpRequestTimeout = 5000;
    parameters_.server = L"127.0.0.1";
    parameters_.port = server.HttpPort();
  }

  ScopedCleanRegistry registry_;  // first made, last gone: the keys are clean around everything
  ScopedTestLog log_;
  TempDirectory directory_;
  FakeTime time_;  // pacing and time-outs through the clock seam, never waited for
  ScopedTimeSourceOverride time_override_;
  ConnectionParameters parameters_;
  std::wstring destination_ = (directory_.path() / "out" / "file.bin").wstring();
  std::string text_;
};

// The ways to download a file, and the post that the torture run takes as well.
enum Driver { kWhole, kRateLimited, kResumable, kRateLimitedResumable, kGetData, kPost };
inline constexpr int kDownloadDrivers = kPost;
inline constexpr const char* kDriverNames[] = {"whole",    "rate-limited", "resumable", "rate-limited resumable",
                                               "GET_DATA", "post"};

// Runs of one driver after another, each on a clean machine, and the invariant of every run.
class DriverRuns : public TransportTest {
 protected:
  using TransportTest::TransportTest;

  // No metadata, settings or files: the driver's "DownloadMode", blocks of rate_kbps KBps.
  void StartRun(Driver driver, std::uint32_t rate_kbps) {
    EXPECT_TRUE(DeleteTree(kTestNorvaneKey, kView32));
    ResetAgentParameters();
    gv_installDir = install_dir_.string() + "\\";
    gv_tempDir = (directory_.path() / "temp").string();
    gv_httpConnectionTimeout = 5000;
    gv_httpRequestTimeout = 5000;
    gv_dataTransferRateKBps = rate_kbps;
    SetDword(kSettingsKey.c_str(), "DownloadMode", driver == kResumable || driver == kRateLimitedResumable ? 1 : 0);
    std::filesystem::remove_all(directory_.path());
    std::filesystem::create_directories(install_dir_);
    std::filesystem::create_directories(directory_.path() / "temp");
  }

  int Run(Driver driver, const std::wstring& path) {
    text_.clear();
    switch (driver) {
      case kWhole:
      case kResumable:
        return InternetGetRequestEx(parameters_, path.c_str(), destination_.c_str(), &text_, DOWNLOAD_FILE, 1, 0);
      case kRateLimited:
      case kRateLimitedResumable:
        return InternetGetRequestByBitrate(parameters_, path.c_str(), destination_.c_str(), &text_, DOWNLOAD_FILE, 1);
      case kGetData:
        return InternetGetRequestEx(parameters_, path.c_str(), destination_.c_str(), &text_, GET_DATA, 1, 0);
      default:
        return InternetSendRequestEx(parameters_, path.c_str(), "the post", &text_, POST_DATA, 1, 0);
    }
  }

  // Result 0 hands over what is_version accepts (the destination's bytes, or the text of GET_DATA),
  // any other result nothing. Every file left beside the destination and the agent's logs is a
  // partial file of the repository, no longer than length, whose record gives its size and whose
  // bytes start one of the versions; every record of a size has its file, and the URL's value
  // (url, also its name) names a record.
  void CheckRun(Driver driver, int result, const std::function<bool(const std::string&)>& is_version,
                std::size_t length, std::initializer_list<const std::string*> versions, const std::string& url) const {
    if (result == 0) {
      EXPECT_TRUE(is_version(driver == kGetData ? text_ : ReadWholeFile(destination_))) << "not the served version";
    } else {
      EXPECT_FALSE(std::filesystem::exists(destination_)) << "a failure handed a destination over";
      EXPECT_TRUE(text_.empty()) << "a failure handed data over";
    }
    const std::filesystem::path repository = install_dir_ / "DownloadRepository";
    for (const std::string& id : SubkeyNames(kMetadataKey.c_str())) {
      if (GetValue((kMetadataKey + "\\" + id).c_str(), "PartialFileSize")) {
        EXPECT_TRUE(std::filesystem::exists(repository / id)) << "record " << id << " is left";
      }
    }
    if (const auto id = GetText(kMetadataKey.c_str(), url.c_str())) {
      EXPECT_TRUE(KeyExists((kMetadataKey + "\\" + *id).c_str())) << "a value without its record";
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_.path())) {
      const std::filesystem::path& file = entry.path();
      if (!entry.is_regular_file() || file == std::filesystem::path(destination_)) continue;
      if (file.parent_path() == install_dir_ / "logs") continue;
      EXPECT_LE(entry.file_size(), length) << file << " passes the announced length";
      const auto recorded = GetDword((kMetadataKey + "\\" + file.filename().string()).c_str(), "PartialFileSize");
      if (file.parent_path() != repository || !recorded) {
        ADD_FAILURE() << file << " is left behind without a record";
        continue;
      }
      const std::string bytes = ReadWholeFile(file);
      EXPECT_EQ(bytes.size(), *recorded) << file << " is not the size its record says";
      bool of_one_version = false;
      for (const std::string* version : versions) of_one_version |= version->compare(0, bytes.size(), bytes) == 0;
      EXPECT_TRUE(of_one_version) << file << " holds bytes of no single version";
    }
  }

  const std::filesystem::path install_dir_ = directory_.path() / "agent";
};

}  // namespace vx::test
