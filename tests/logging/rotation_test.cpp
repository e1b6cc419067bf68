// Log rotation on real files (Windows): size check, copies, shifting, truncation under concurrent
// writers, and the timer chain.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle_win.h"
#include "logging/log_rotation.h"
#include "logging/logger.h"
#include "logging/logging_startup.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

using test::ReadWholeFile;
using test::ScopedTestLog;
using test::TempDirectory;
using test::WriteWholeFile;

constexpr const char* kName = "vxprereqhandler.log";

std::filesystem::path Copy(const TempDirectory& directory, int n) {
  return directory.path() / ("vxprereqhandler" + std::to_string(n) + ".log");
}

bool HasMessageContaining(const ScopedTestLog& log, const std::string& part) {
  for (const std::string& message : log.Messages()) {
    if (message.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(CheckLogSizeReached, RotatesFromExactlyTheLimit) {
  ScopedTestLog log(4);
  TempDirectory directory;
  const std::string path = (directory.path() / kName).string();
  struct Case {
    std::size_t size;
    int expected;
  };
  for (const Case& c : {Case{0, 0}, Case{1999999, 0}, Case{2000000, 1}, Case{2000001, 1}}) {
    WriteWholeFile(path, std::string(c.size, 'x'));
    EXPECT_EQ(CheckLogSizeReached(path, 2000000), c.expected) << c.size;
  }
  EXPECT_TRUE(log.Has("[INFO]", "CheckLogSizeReached : The log file size of " + path + " is given by 2000001 "));
  EXPECT_TRUE(log.Has("[INFO]", "CheckLogSizeReached : The size is greater than the given size ........."));
  EXPECT_TRUE(log.Has("[DEBUG]", "CheckLogSizeReached : The size is less the required size "));
}

TEST(CheckLogSizeReached, MissingFileHasSizeZero) {
  ScopedTestLog log(4);
  TempDirectory directory;
  EXPECT_EQ(CheckLogSizeReached((directory.path() / "missing.log").string(), 0 + 1), 0);
  EXPECT_TRUE(log.Has("[ERROR]", "CheckLogSizeReached : Unable to get the file handle "));
}

TEST(Rotation, FirstRotationCopiesTheLiveLogAndTheNextLineStartsTheEmptiedFile) {
  TempDirectory directory;
  {
    ScopedTestLog log(2, kName);
    (void)log;
  }
  // The live log is the process log itself, written through the logger while it rotates.
  ASSERT_TRUE(SetLogDefaults());
  ASSERT_TRUE(ConfigureLog(kName, directory.str().c_str(), 1));
  ASSERT_TRUE(OpenLogAppend());
  for (int i = 0; i < 20; ++i) LogInfo("before rotation %02d\n", i);
  const std::string before = ReadWholeFile(directory.path() / kName);

  EXPECT_EQ(RotateLoggerForEverRunningProcess(directory.str(), kName, 5, 500), 0);
  LogInfo("after rotation\n");
  CloseLog();
  ReleaseLog();

  const std::string copy = ReadWholeFile(Copy(directory, 1));
  EXPECT_EQ(copy.substr(0, before.size()), before);
  EXPECT_FALSE(std::filesystem::exists(Copy(directory, 2)));
  const std::vector<std::string> live = test::LogFileLines(directory.path() / kName);
  ASSERT_FALSE(live.empty());
  // Nothing of the old content is left in the live file; the copy's report and the next line are.
  for (const std::string& line : live) EXPECT_EQ(line.find("before rotation"), std::string::npos) << line;
  bool copied_line = false;
  bool next_line = false;
  for (const std::string& line : live) {
    copied_line |= line.find("RotateSpecificLogs : File successfully copied from ") != std::string::npos &&
                   line.find("so we are going to truncate the content of the first one ") != std::string::npos;
    next_line |= line.find("[INFO] after rotation") != std::string::npos;
  }
  EXPECT_TRUE(copied_line);
  EXPECT_TRUE(next_line);
}

// Copies shift by their numbers: up to the first missing one, and only with none missing is the
// oldest dropped. A rotation killed after moving copy 1 to 2 leaves a gap that the next one fills.
TEST(Rotation, ShiftsCopiesByTheirNumbersAndDropsTheOldestOnlyWhenAllArePresent) {
  struct Case {
    const char* name;
    std::vector<int> present;
    std::vector<std::string> after;  // copies 1 to 4 afterwards; "" for none
    bool oldest_dropped;
  };
  const Case cases[] = {
      {"all four", {1, 2, 3, 4}, {"live", "copy1", "copy2", "copy3"}, true},
      {"copy 1 missing", {2, 3, 4}, {"live", "copy2", "copy3", "copy4"}, false},
      {"copy 3 missing", {1, 2, 4}, {"live", "copy1", "copy2", "copy4"}, false},
      {"none", {}, {"live", "", "", ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log(2);
    TempDirectory directory;
    WriteWholeFile(directory.path() / kName, "live");
    for (int n : c.present) WriteWholeFile(Copy(directory, n), "copy" + std::to_string(n));

    EXPECT_EQ(RotateLoggerForEverRunningProcess(directory.str(), kName, 5, 4), 0);

    EXPECT_EQ(ReadWholeFile(directory.path() / kName), "");
    for (int n = 1; n <= 4; ++n) {
      const std::string& expected = c.after[static_cast<std::size_t>(n - 1)];
      EXPECT_EQ(std::filesystem::exists(Copy(directory, n)), !expected.empty()) << n;
      if (!expected.empty()) {
        EXPECT_EQ(ReadWholeFile(Copy(directory, n)), expected) << n;
      }
    }
    EXPECT_FALSE(std::filesystem::exists(Copy(directory, 5)));
    const std::string copy4 = directory.str(true) + "\\vxprereqhandler4.log";
    EXPECT_EQ(log.Has("[INFO]", "RotateSpecificLogs : The file " + copy4 + " was successfully deleted..:"),
              c.oldest_dropped);
    if (c.oldest_dropped) {
      // The oldest copy is named as the first source before it is deleted.
      const std::vector<std::string> messages = log.Messages();
      const auto named = std::find(messages.begin(), messages.end(),
                                   "[INFO] RotateSpecificLogs : The tempFileName1 : " + copy4 + " . ");
      const auto deleted = std::find(messages.begin(), messages.end(),
                                     "[INFO] RotateSpecificLogs : The file " + copy4 + " was successfully deleted..:");
      EXPECT_LT(named, deleted);
    }
    EXPECT_FALSE(HasMessageContaining(log, "CopyFile failed"));
    EXPECT_TRUE(
        log.Has("[INFO]", "RotateSpecificLogs : The return Value from FindNumberOfRepeatedFileNames method is : " +
                              std::to_string(c.present.size() + 1) + " "));
  }
}

// Lines "<tag> <n>" of a round or a seeded copy, enough to need several pieces of the copy.
std::string MarkedLines(const std::string& tag, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += tag + " line " + std::to_string(i) + " ..............................\n";
  return text;
}

// Rotations on a messy machine, several in a row: a copy held open by a viewer that shares only
// reading, a read-only copy, a rotation ended in the middle of its copy or before its truncation.
// Each round appends its lines to the live log and rotates. Afterwards every line seeded or
// written is in exactly one file, every file ends with a whole line, and no file but the live log
// and its copies is left.
TEST(Rotation, NeverLosesDuplicatesOrTearsACopyWhenACopyIsBlockedOrTheRotationIsEnded) {
  enum class Blocker { kNone, kHeldOpen, kReadOnly };
  struct Case {
    const char* name;
    std::vector<int> present;
    Blocker blocker;
    int blocked_copy;
    std::optional<RotationStep> first_round_ends_at;
    int stops_at;        // the copy the rotations stop at (a read-only one moves up until it must go)
    int blocked_rounds;  // rotations that stop there
  };
  const Case cases[] = {
      {"copy 1 held open", {1, 2}, Blocker::kHeldOpen, 1, std::nullopt, 1, 3},
      {"copy 2 held open, all present", {1, 2, 3, 4}, Blocker::kHeldOpen, 2, std::nullopt, 2, 3},
      {"copy 3 read-only", {1, 2, 3}, Blocker::kReadOnly, 3, std::nullopt, 4, 2},
      {"ended in the middle of the copy", {1, 2}, Blocker::kNone, 0, RotationStep::kLiveCopyPartlyWritten, 0, 0},
      {"ended before the truncation", {1, 2}, Blocker::kNone, 0, RotationStep::kCopyPlacedLiveNotTruncated, 0, 0},
  };
  constexpr int kRounds = 3;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestLog log(2);
    TempDirectory directory;
    std::multiset<std::string> expected;
    auto add_lines = [&](const std::filesystem::path& path, const std::string& text) {
      WriteWholeFile(path, ReadWholeFile(path) + text);
      for (const std::string& line : test::SplitLines(text)) expected.insert(line);
    };
    for (int n : c.present) add_lines(Copy(directory, n), MarkedLines("copy " + std::to_string(n), 50));
    const std::string blocked = c.blocker == Blocker::kNone ? "" : Copy(directory, c.blocked_copy).string();
    UniqueHandle viewer;
    if (c.blocker == Blocker::kHeldOpen) {
      viewer.reset(::CreateFileA(blocked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(viewer.valid());
    }
    if (c.blocker == Blocker::kReadOnly) {
      ASSERT_TRUE(::SetFileAttributesA(blocked.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    for (int round = 0; round < kRounds; ++round) {
      add_lines(directory.path() / kName, MarkedLines("round " + std::to_string(round), 3000));
      std::optional<ScopedRotationStopForTesting> ended;
      if (round == 0 && c.first_round_ends_at) ended.emplace(*c.first_round_ends_at);
      EXPECT_EQ(RotateLoggerForEverRunningProcess(directory.str(), kName, 5, 1000), 0);
    }
    viewer.reset();
    if (c.blocker == Blocker::kReadOnly) {
      for (int n = 1; n <= 4; ++n) (void)::SetFileAttributesA(Copy(directory, n).string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    std::multiset<std::string> found;
    for (const std::string& file : test::FileNamesIn(directory.path())) {
      if (file == "test.log") continue;
      EXPECT_TRUE(file == kName || (file.size() == 20 && file.rfind("vxprereqhandler", 0) == 0)) << file;
      const std::string content = ReadWholeFile(directory.path() / file);
      EXPECT_TRUE(content.empty() || content.back() == '\n') << file << " ends inside a line";
      for (const std::string& line : test::SplitLines(content)) found.insert(line);
    }
    EXPECT_TRUE(found == expected) << found.size() << " lines found, " << expected.size() << " written";
    int blocked_lines = 0;
    for (const std::string& message : log.Messages()) {
      blocked_lines += message.rfind("[ERROR] RotateSpecificLogs : The rotation stops at ", 0) == 0 &&
                       message.find(directory.str(true) + "\\" + Copy(directory, c.stops_at).filename().string() +
                                    ", which cannot be moved (error code ") != std::string::npos;
    }
    EXPECT_EQ(blocked_lines, c.blocked_rounds);
  }
}

TEST(Rotation, BelowTheLimitNothingMoves) {
  ScopedTestLog log(2);
  TempDirectory directory;
  WriteWholeFile(directory.path() / kName, "abc");
  EXPECT_EQ(RotateLoggerForEverRunningProcess(directory.str(), kName, 5, 4), 0);
  EXPECT_EQ(ReadWholeFile(directory.path() / kName), "abc");
  EXPECT_FALSE(std::filesystem::exists(Copy(directory, 1)));
}

TEST(Rotation, AnotherFileStartingWithTheBaseIsCountedButMovesNothing) {
  ScopedTestLog log(2);
  TempDirectory directory;
  WriteWholeFile(directory.path() / kName, "live");
  WriteWholeFile(directory.path() / "vxprereqhandler.txt", "other");
  EXPECT_EQ(FindNoOfRepeatedFileNames(directory.str(true), "vxprereqhandler"), 2);

  EXPECT_EQ(RotateLoggerForEverRunningProcess(directory.str(), kName, 5, 4), 0);

  EXPECT_FALSE(HasMessageContaining(log, "CopyFile failed"));
  EXPECT_EQ(ReadWholeFile(Copy(directory, 1)), "live");
  EXPECT_FALSE(std::filesystem::exists(Copy(directory, 2)));
  EXPECT_EQ(ReadWholeFile(directory.path() / "vxprereqhandler.txt"), "other");
}

TEST(Rotation, FindNoOfRepeatedFileNamesWithoutMatches) {
  ScopedTestLog log(2);
  TempDirectory directory;
  EXPECT_EQ(FindNoOfRepeatedFileNames(directory.str(true), "nothing"), -1);
  EXPECT_TRUE(log.Has("[ERROR]", "FindNumberOfRepeatedFileNames : Unable to find the files/folder."));
  EXPECT_TRUE(log.Has("[INFO]", "FindNoOfRepeatedFileNames : Going to Free the allocated memory in this method."));
}

TEST(Rotation, ConcurrentWritersLoseNoLineAndTearNone) {
  TempDirectory directory;
  ASSERT_TRUE(SetLogDefaults());
  ASSERT_TRUE(ConfigureLog(kName, directory.str().c_str(), 1));
  ASSERT_TRUE(OpenLogAppend());

  constexpr int kLinesPerWriter = 3000;
  constexpr int kRotations = 25;
  constexpr int kCopies = 60;  // more than the rotations, so no copy is ever deleted
  std::atomic<bool> writing{true};
  auto writer = [](char name) {
    for (int i = 0; i < kLinesPerWriter; ++i) LogInfo("writer %c line %05d ........................\n", name, i);
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  std::thread rotator([&] {
    for (int i = 0; i < kRotations && writing; ++i) {
      (void)RotateLoggerForEverRunningProcess(directory.str(), kName, kCopies, 1);
      std::this_thread::yield();
    }
  });
  first.join();
  second.join();
  writing = false;
  rotator.join();
  CloseLog();
  ReleaseLog();

  std::set<std::string> seen;
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    ++files;
    const std::string content = ReadWholeFile(entry.path());
    ASSERT_TRUE(content.empty() || content.back() == '\n') << entry.path();
    for (const std::string& line : test::LogFileLines(entry.path())) {
      test::ParsedLogLine parsed;
      // The rotation's own reports begin with a line feed: their second half is a line of its own.
      if (line.rfind(" @@@@@@@@@@@@@@@", 0) == 0) continue;
      ASSERT_TRUE(test::ParseLogLine(line, parsed)) << "torn line: " << line;
      if (parsed.text.rfind("writer ", 0) == 0) {
        ASSERT_EQ(parsed.text.size(), std::string("writer a line 00000 ........................").size()) << line;
        EXPECT_TRUE(seen.insert(parsed.text).second) << "line twice: " << line;
      }
    }
  }
  EXPECT_GT(files, 1u);
  EXPECT_EQ(seen.size(), 2u * kLinesPerWriter);
}

TEST(RotationTimer, RotatesFromTheTimerUntilLoggingStops) {
  TempDirectory directory;
  LoggerSettings settings;
  settings.file_name = kName;
  settings.directory = directory.str();
  settings.size_limit = 300;
  settings.timer_period_ms = 20;
  ASSERT_EQ(StartLoggingWithSettings(settings), 0);
  ASSERT_TRUE(IsLogOpen());
  for (int i = 0; i < 10; ++i) LogInfo("filling the log past its limit, line %d\n", i);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(Copy(directory, 1)) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // StopLogging does not wait for a check that is running; the queue signals when it has ended.
  const UniqueHandle callbacks_ended(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(callbacks_ended);
  {
    ScopedTimerQueueDeletedEventForTesting signal(callbacks_ended.get());
    EXPECT_EQ(StopLogging(), 0);
  }
  EXPECT_FALSE(IsLogOpen());
  ASSERT_EQ(::WaitForSingleObject(callbacks_ended.get(), 20000), WAIT_OBJECT_0);
  ASSERT_TRUE(std::filesystem::exists(Copy(directory, 1))) << "the timer never rotated the log";
  const std::string copy = ReadWholeFile(Copy(directory, 1));
  EXPECT_NE(copy.find("filling the log past its limit, line 0"), std::string::npos);

  // After StopLogging no timer runs: nothing changes any more.
  std::vector<std::pair<std::string, std::uintmax_t>> sizes;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    sizes.emplace_back(entry.path().filename().string(), entry.file_size());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::vector<std::pair<std::string, std::uintmax_t>> later;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    later.emplace_back(entry.path().filename().string(), entry.file_size());
  }
  EXPECT_EQ(sizes, later);
}

}  // namespace
}  // namespace vx
