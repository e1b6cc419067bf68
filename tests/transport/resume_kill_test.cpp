// Resumable downloads against kills. A helper process (vxtest_resume_child) downloads a paced file
// through InternetGetRequestEx with "DownloadMode" 1 and is terminated at a random moment; the next
// run must continue from what the metadata recorded, and every download that finishes must leave
// the exact file at the destination and no partial file or metadata behind.
//
// The kill moments come from a seeded generator and are printed with the seed as they happen.
// VX_RESUME_KILL_SEED replays a seed; VX_RESUME_KILLS asks for another number of kills (the soak,
// bench/resume-soak.sh, asks for 200). A kill moment is a time, so a replay kills near, not exactly
// at, the same byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "child_process_win.h"
#include "test_files.h"
#include "test_registry_win.h"
#include "test_server_win.h"

namespace vx {
namespace {

constexpr const char* kSettingsKey = "Software\\Norvane\\Quorvant\\VXAgent\\Settings";
constexpr const char* kFileMetaDataKey = "Software\\Norvane\\Quorvant\\VXAgent\\FileMetaData";
// Not a multiple of the save limit: the last append is a short one.
constexpr std::size_t kFileSize = 3 * 1024 * 1024 + 4321;
constexpr DWORD kSaveLimit = 64 * 1024;
// The server paces the body (about 0.5 s for the file) so that a run spends most of its life
// receiving and a kill at a random moment mostly lands in the middle of the download.
constexpr int kServerBytesPerSecond = 6 * 1024 * 1024;
constexpr std::uint32_t kDefaultKills = 24;
constexpr std::uint32_t kDefaultSeed = 20240611;
constexpr std::uint32_t kFileSeed = 7;
constexpr UINT kKilledExitCode = 0xDEAD;
constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kPollDeadlineMs = 20000;

std::uint32_t EnvironmentNumber(const char* name, std::uint32_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return *end == '\0' ? static_cast<std::uint32_t>(value) : fallback;
}

// A line of the test's journal, printed at once so that a hung or crashed run still shows it.
void Journal(const std::string& line) {
  std::printf("[resume kill] %s\n", line.c_str());
  std::fflush(stdout);
}

// Random bytes from a fixed seed: no pattern that a misplaced range could reproduce.
std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// "identical", or how the two differ (the bytes themselves are too many to print).
std::string Difference(const std::string& actual, const std::string& expected) {
  if (actual == expected) return "identical";
  std::size_t first = 0;
  while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) ++first;
  return std::to_string(actual.size()) + " bytes where " + std::to_string(expected.size()) +
         " were expected, first difference at offset " + std::to_string(first);
}

// The first byte a request asked for with "Range: bytes=N-...", or none when it had no such header.
std::optional<std::uint64_t> RangeStart(const test::RecordedRequest& request) {
  const std::optional<std::string> range = request.Header("Range");
  if (!range || range->rfind("bytes=", 0) != 0) return std::nullopt;
  const std::string digits = range->substr(6, range->find('-') - 6);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoull(digits);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return "[" + text + "]";
}

// One run of the helper. A run still going when the object ends is killed, so a failed assertion
// never leaves a download running into the next test.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (process_ && !WaitFor(0)) Kill();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the command line without a console (none is needed, and a console host started for a
  // child killed early can outlive it) and without handing it any handle.
  [[nodiscard]] bool Start(const std::string& command_line) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::vector<char> command(command_line.begin(), command_line.end());
    command.push_back('\0');
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                          &startup, &info)) {
      return false;
    }
    const UniqueHandle thread(info.hThread);
    process_.reset(info.hProcess);
    return true;
  }

  // The exit code when the process ended within timeout_ms.
  std::optional<DWORD> WaitFor(DWORD timeout_ms) {
    if (::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

  // Terminates the process and waits until it is gone (its files and keys are closed then). The exit
  // code: kKilledExitCode, or the run's own when it ended just before.
  DWORD Kill() {
    ::TerminateProcess(process_.get(), kKilledExitCode);
    return WaitFor(INFINITE).value_or(kKilledExitCode);
  }

 private:
  UniqueHandle process_;
};

// What an interrupted download left: the URL's id, the size its metadata records, the size of its
// partial file and whether its in-progress mark is set.
struct PartialState {
  std::optional<std::string> id;
  std::optional<DWORD> recorded_size;
  std::optional<std::uint64_t> file_size;
  bool in_progress = false;

  // Where the next download of the URL starts: at the recorded size when the partial file still
  // holds that many bytes (a longer one is cut back to it), else at 0. A mark left by a killed run
  // does not matter: its owner is gone.
  [[nodiscard]] std::uint64_t ResumeOffset() const {
    return recorded_size && file_size && *file_size >= *recorded_size ? *recorded_size : 0;
  }
  [[nodiscard]] std::string Describe() const {
    auto text = [](const auto& value) { return value ? std::to_string(*value) : std::string("none"); };
    return "id " + id.value_or("none") + ", recorded " + text(recorded_size) + ", partial file " + text(file_size) +
           (in_progress ? ", in progress" : "");
  }
};

class ResumeKill : public ::testing::Test {
 protected:
  ResumeKill()
      : server_(test::CurrentTestName()),
        file_(RandomBytes(kFileSize, kFileSeed)),
        url_(server_.UrlPath("file.bin")),
        destination_(work_.path() / "out" / "file.bin"),
        repository_(install_.path() / "DownloadRepository") {}

  void SetUp() override {
    if (!server_.Available()) GTEST_SKIP() << "no test server: run through CTest (fixture vx_test_server)";
    server_.WriteFile("file.bin", file_);
    ServePaced();
    test::SetDword(kSettingsKey, "DownloadMode", 1);
    test::SetDword(kFileMetaDataKey, "InterSaveByteLimit", kSaveLimit);
  }

  void TearDown() override {
    if (HasFailure()) PrintChildLogTail();
  }

  // The helper's command line for a download of the file to destination.
  [[nodiscard]] std::string CommandLine(const std::filesystem::path& destination) const {
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    return quoted(test::WindowsPathOf(VX_RESUME_CHILD_PROGRAM)) + " " + std::to_string(server_.HttpPort()) + " " +
           quoted(url_) + " " + quoted(destination.string()) + " " + quoted(install_.str()) + " " + quoted(work_.str());
  }

  // The paced file; with replace_with, the file.bin request after the first `after` ones first puts
  // that namespace file in the served file's place, a second newer. Writing the script restarts the
  // rules' counts.
  void ServePaced(const std::string& replace_with = "", int after = 0) {
    const std::string paced =
        R"({"match": "file.bin", "rate_bytes_per_second": )" + std::to_string(kServerBytesPerSecond);
    std::string rules = paced + "}";
    if (!replace_with.empty()) {
      rules = paced + ", \"count\": " + std::to_string(after) + "}, " + paced + R"(, "count": 1, "replace_with": ")" +
              replace_with + "\"}, " + rules;
    }
    server_.WriteScript(R"({"rules": [)" + rules + "]}");
  }

  // The file the server serves now.
  [[nodiscard]] std::string ServedFile() const {
    return test::ReadWholeFile(std::filesystem::path(server_.WindowsDirectory()) / "file.bin");
  }

  [[nodiscard]] std::size_t RequestCount() const { return server_.Requests().size(); }

  // The first range asked for by the requests after the first `skip` ones.
  [[nodiscard]] std::optional<std::uint64_t> FirstRangeAfter(std::size_t skip) const {
    const std::vector<test::RecordedRequest> requests = server_.Requests();
    for (std::size_t i = skip; i < requests.size(); ++i) {
      if (const std::optional<std::uint64_t> start = RangeStart(requests[i])) return start;
    }
    return std::nullopt;
  }

  // Runs the helper to its end; its exit code, or none when it did not start or end in time.
  [[nodiscard]] std::optional<DWORD> RunToEnd(const std::filesystem::path& destination) const {
    ChildProcess child;
    if (!child.Start(CommandLine(destination))) return std::nullopt;
    return child.WaitFor(kRunTimeoutMs);
  }

  [[nodiscard]] PartialState ReadPartialState() const {
    PartialState state;
    state.id = test::GetText(kFileMetaDataKey, url_.c_str());
    if (!state.id || state.id->empty()) return state;
    const std::string subkey = std::string(kFileMetaDataKey) + "\\" + *state.id;
    state.recorded_size = test::GetDword(subkey.c_str(), "PartialFileSize");
    state.in_progress = test::GetDword(subkey.c_str(), "downloadInProgress") == 1u;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(repository_ / *state.id, error);
    if (!error) state.file_size = size;
    return state;
  }

  // Polls until ready() holds while the child still runs; false when the child ended first or the
  // deadline passed.
  static bool WaitWhileRunning(ChildProcess& child, const std::function<bool()>& ready) {
    const ULONGLONG deadline = ::GetTickCount64() + kPollDeadlineMs;
    while (::GetTickCount64() < deadline) {
      if (child.WaitFor(0)) return false;
      if (ready()) return true;
      ::Sleep(1);
    }
    return false;
  }

  // A finished download: the exact file at the destination, and neither the URL's value, nor an id
  // subkey, nor a partial file left.
  void ExpectFinishedAndClean(const std::string& context, const std::string* file = nullptr) const {
    SCOPED_TRACE(context);
    EXPECT_EQ(Difference(test::ReadWholeFile(destination_), file != nullptr ? *file : file_), "identical");
    EXPECT_FALSE(test::GetValue(kFileMetaDataKey, url_.c_str()).has_value());
    EXPECT_EQ(Joined(test::SubkeyNames(kFileMetaDataKey)), "[]");
    EXPECT_EQ(Joined(test::FileNamesIn(repository_)), "[]");
  }

  // The entries of the success access log that name the URL.
  [[nodiscard]] std::size_t SuccessLogEntries() const {
    std::size_t count = 0;
    const std::filesystem::path log = install_.path() / "logs" / "downloadSuccessAccess.log";
    if (!std::filesystem::exists(log)) return 0;
    for (std::string line : test::SplitLines(test::ReadWholeFile(log))) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.ends_with("\t" + url_)) ++count;
    }
    return count;
  }

  void PrintChildLogTail() const {
    const std::filesystem::path log = work_.path() / "resume_child.log";
    if (!std::filesystem::exists(log)) return;
    const std::vector<std::string> lines = test::SplitLines(test::ReadWholeFile(log));
    const std::size_t shown = std::min<std::size_t>(lines.size(), 80);
    std::printf("--- last %zu lines of %s ---\n", shown, log.string().c_str());
    for (std::size_t i = lines.size() - shown; i < lines.size(); ++i) std::printf("%s\n", lines[i].c_str());
    std::fflush(stdout);
  }

  test::ScopedCleanRegistry registry_;  // first made, last gone: the keys are clean around everything
  test::TestServerNamespace server_;
  test::TempDirectory install_;
  test::TempDirectory work_;
  const std::string file_;
  const std::string url_;  // the object path, also the name of the URL's value
  const std::filesystem::path destination_;
  const std::filesystem::path repository_;
};

// Rounds of one to three runs killed at random moments, then a run that must finish. About one round
// in four the server replaces the file by its other version at a random request of the round; the
// finished file must then be the version served at the end, whole. Every run after a kill must
// continue from what the killed one recorded (or start from byte 0 once the file was replaced); a run killed while it
// resumed leaves its in-progress mark behind, which the next run takes over since its owner is gone. A run that ends
// before its kill moment is not a kill; rounds go on until enough kills landed.
TEST_F(ResumeKill, KillsAtRandomMomentsAndResumes) {
  const std::uint32_t seed = EnvironmentNumber("VX_RESUME_KILL_SEED", kDefaultSeed);
  const std::uint32_t wanted_kills = EnvironmentNumber("VX_RESUME_KILLS", kDefaultKills);
  SCOPED_TRACE(testing::Message() << "seed " << seed << " (VX_RESUME_KILL_SEED replays it)");
  const ULONGLONG test_start = ::GetTickCount64();

  // An undisturbed run first: it must succeed, and its length bounds the kill moments.
  const ULONGLONG first_start = ::GetTickCount64();
  ASSERT_EQ(RunToEnd(destination_), std::optional<DWORD>(0));
  const DWORD full_run_ms = static_cast<DWORD>(::GetTickCount64() - first_start);
  ExpectFinishedAndClean("the undisturbed run");
  Journal("seed " + std::to_string(seed) + "; an undisturbed run takes " + std::to_string(full_run_ms) + " ms");

  std::mt19937 generator(seed);
  // Most of a run is its transfer; a moment near its end would often come after the run ended.
  std::uniform_int_distribution<DWORD> kill_moment(0, full_run_ms * 4 / 5);
  std::uniform_int_distribution<int> kills_per_round(1, 3);
  // Now and then a round's server puts the other version of the file in place, at a random
  // request of the round. Its own generator keeps the kill moments of a seed as they were.
  const std::string versions[] = {file_, RandomBytes(kFileSize, kFileSeed + 1)};
  server_.WriteFile("version-0.bin", versions[0]);
  server_.WriteFile("version-1.bin", versions[1]);
  std::mt19937 replacing(seed + 1);
  std::uniform_int_distribution<int> replace_after(0, 5);
  std::uint32_t replaced_rounds = 0;
  std::uint32_t kills = 0;
  std::uint32_t resumptions = 0;
  std::uint32_t successes = 1;
  const std::uint32_t maximum_rounds = 2 * wanted_kills + 10;
  std::uint32_t round = 0;
  while (kills < wanted_kills && round < maximum_rounds && !HasFailure()) {
    ++round;
    std::filesystem::remove(destination_);
    // What the last kill left, and so where the next run must start; none before the first kill.
    std::optional<PartialState> left;
    bool finished = false;
    const int planned = kills_per_round(generator);
    const bool replaces = replacing() % 4 == 0;
    const int replace_at = replace_after(replacing);
    const std::size_t round_start = RequestCount();
    ServePaced(replaces ? (ServedFile() == versions[0] ? "version-1.bin" : "version-0.bin") : "", replace_at);
    // Once the file was replaced, a run may start over from byte 0 instead of resuming.
    const auto replaced = [&] {
      return replaces && RequestCount() - round_start > static_cast<std::size_t>(replace_at);
    };
    for (int attempt = 1; attempt <= planned && !finished; ++attempt) {
      const std::string name = "round " + std::to_string(round) + ", run " + std::to_string(attempt);
      const DWORD moment = kill_moment(generator);
      const std::size_t requests_before = RequestCount();
      ChildProcess child;
      ASSERT_TRUE(child.Start(CommandLine(destination_)));
      std::optional<DWORD> ended = child.WaitFor(moment);
      if (!ended) {
        const DWORD code = child.Kill();
        if (code != kKilledExitCode) ended = code;
      }
      const std::optional<std::uint64_t> range = FirstRangeAfter(requests_before);
      if (left && range && !(replaced() && *range == 0)) {
        EXPECT_EQ(*range, left->ResumeOffset()) << name << " after " << left->Describe();
      }
      if (range && *range > 0) ++resumptions;
      if (ended) {
        Journal(name + ": ended with " + std::to_string(*ended) + " before its kill moment, " + std::to_string(moment) +
                " ms");
        EXPECT_EQ(*ended, 0u) << name;
        finished = *ended == 0;
        successes += finished ? 1 : 0;
        continue;
      }
      ++kills;
      left = ReadPartialState();
      Journal(name + ": killed at " + std::to_string(moment) + " ms; " + left->Describe());
    }
    if (!finished) {
      const std::string name = "round " + std::to_string(round) + ", the run after the kills";
      const std::size_t requests_before = RequestCount();
      const std::optional<DWORD> code = RunToEnd(destination_);
      EXPECT_EQ(code, std::optional<DWORD>(0)) << name;
      successes += code == std::optional<DWORD>(0) ? 1 : 0;
      const std::optional<std::uint64_t> range = FirstRangeAfter(requests_before);
      if (!left || (replaced() && range == std::optional<std::uint64_t>(0))) {
        // No kill landed (the round's run failed by itself, which the check above reported), or the
        // new version starts from byte 0.
      } else if (left->ResumeOffset() == kFileSize) {
        EXPECT_EQ(range, std::nullopt) << name << ": the partial file was complete; nothing more to ask for";
      } else {
        EXPECT_EQ(range, std::optional<std::uint64_t>(left->ResumeOffset())) << name << " after " << left->Describe();
      }
      if (range && *range > 0) ++resumptions;
    }
    // The finished file is the version served at the end of the round, whole.
    const std::string served = ServedFile();
    EXPECT_TRUE(served == versions[0] || served == versions[1]);
    ExpectFinishedAndClean("round " + std::to_string(round), &served);
    if (replaced()) {
      ++replaced_rounds;
      Journal("round " + std::to_string(round) + ": the server replaced the file");
    }
  }

  const double seconds = static_cast<double>(::GetTickCount64() - test_start) / 1000.0;
  char summary[200];
  std::snprintf(summary, sizeof(summary),
                "summary: seed %u rounds %u kills %u resumptions %u replacements %u seconds %.1f", seed, round, kills,
                resumptions, replaced_rounds, seconds);
  Journal(summary);
  EXPECT_GE(kills, wanted_kills) << "too many runs ended before their kill moment";
  EXPECT_GT(resumptions, 0u) << "no run after a kill asked for a range past byte 0";
  // Every successful run wrote its line; a killed run may have written one just before the kill.
  const std::size_t entries = SuccessLogEntries();
  EXPECT_GE(entries, successes);
  EXPECT_LE(entries, successes + kills);
}

// Two runs of one URL side by side: the second finds the first's id in use, downloads on an id of
// its own and records nothing. The first is killed while the second runs; the second still
// delivers the file and leaves the first's partial download alone, and a third run resumes that.
TEST_F(ResumeKill, RunBesideAKilledOneKeepsApartAndTheNextResumes) {
  // Slower, so that the second run starts and gets going while the first still receives.
  server_.WriteScript(R"({"rules": [{"match": "file.bin", "rate_bytes_per_second": 2097152}]})");
  const std::filesystem::path beside = work_.path() / "beside" / "file.bin";

  ChildProcess first;
  ASSERT_TRUE(first.Start(CommandLine(destination_)));
  ASSERT_TRUE(WaitWhileRunning(first, [&] { return ReadPartialState().recorded_size >= 2 * kSaveLimit; }))
      << "the first run recorded no progress while it ran";
  const std::optional<std::string> first_id = ReadPartialState().id;
  ASSERT_TRUE(first_id.has_value());

  ChildProcess second;
  ASSERT_TRUE(second.Start(CommandLine(beside)));
  // The second run's partial file is the repository's other file.
  const auto both_receiving = [&] { return test::FileNamesIn(repository_).size() == 2 && !first.WaitFor(0); };
  ASSERT_TRUE(WaitWhileRunning(second, both_receiving))
      << "the second run wrote no partial file of its own while the first ran; repository "
      << Joined(test::FileNamesIn(repository_));
  ASSERT_EQ(first.Kill(), kKilledExitCode);
  const PartialState left = ReadPartialState();
  Journal("first run killed; " + left.Describe());
  EXPECT_EQ(left.id, first_id);

  EXPECT_EQ(second.WaitFor(kRunTimeoutMs), std::optional<DWORD>(0));
  EXPECT_EQ(Difference(test::ReadWholeFile(beside), file_), "identical");
  // The second run neither recorded its bytes under the first's id nor removed the first's download.
  const PartialState after_second = ReadPartialState();
  EXPECT_EQ(after_second.Describe(), left.Describe());
  EXPECT_EQ(Joined(test::SubkeyNames(kFileMetaDataKey)), "[" + *first_id + "]");
  EXPECT_EQ(Joined(test::FileNamesIn(repository_)), "[" + *first_id + "]");

  const std::size_t requests_before = RequestCount();
  EXPECT_EQ(RunToEnd(destination_), std::optional<DWORD>(0));
  EXPECT_EQ(FirstRangeAfter(requests_before), std::optional<std::uint64_t>(left.ResumeOffset()));
  EXPECT_GT(left.ResumeOffset(), 0u) << left.Describe();
  ExpectFinishedAndClean("the run after the kill");
}

}  // namespace
}  // namespace vx
