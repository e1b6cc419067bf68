#include "logging/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/time_source.h"
#include "fake_time.h"
#include "logging/address_lock.h"
#include "logging/log_format.h"
#include "logging/log_rotation.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

using test::ParsedLogLine;
using test::ParseLogLine;
using test::ScopedTestLog;

void LogOneOfEach() {
  LogInfo("info line\n");
  LogError("error line\n");
  LogDebug("debug line\n");
  LogTrace("trace line\n");
}

TEST(LoggerFormat, LineIsPrefixPiecesThenTextExactly) {
  test::FakeTime fake;
  ScopedTimeSourceOverride time(fake);
  ScopedTestLog log(2);
  LogInfo("value %d and %s\n", 42, "text");
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  const std::string thread = std::to_string(CurrentThreadId());
  EXPECT_EQ(lines[0], "[ 2022-05-19 00:36:29:047 ] [ " + thread + " ] [INFO] Log open time: 2022-05-19 00:36:29:047");
  EXPECT_EQ(lines[1], "[ 2022-05-19 00:36:29:047 ] [ " + thread + " ] [INFO] value 42 and text");
}

TEST(LoggerFormat, TimestampPadsEveryField) {
  test::FakeTime fake;
  fake.SetLocal({2026, 1, 2, 3, 4, 5, 6});
  ScopedTimeSourceOverride time(fake);
  EXPECT_EQ(GetLogTimestamp().value_or(""), "2026-01-02 03:04:05:006");
  fake.SetLocal({2026, 12, 31, 23, 59, 59, 999});
  EXPECT_EQ(GetLogTimestamp().value_or(""), "2026-12-31 23:59:59:999");
}

TEST(LoggerFormat, TextIsWrittenAsGivenWithoutAddedLineEnd) {
  ScopedTestLog log(2);
  LogInfo("first part, ");
  LogInfo("second\n");
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("[INFO] first part, [ "), std::string::npos);
  EXPECT_NE(lines[1].find("[INFO] second"), std::string::npos);
}

// A line is written whole or not at all: one longer than the stream's buffer, and one whose text
// the C library cannot format (a wide character the C locale has no byte for) are each followed by
// a line of their own.
TEST(LoggerFormat, EveryLineIsWholeOrNotWrittenAtAll) {
  ScopedTestLog log(2);
  const std::string long_text(70000, 'z');
  LogInfo("%s|%d\n", long_text.c_str(), 7);
  LogError("after\n");
  LogInfo("%ls|\n", L"\u4e00\U0001F600");
  LogError("after\n");
  const std::vector<std::string> messages = log.Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0], "[INFO] " + long_text + "|7");
  EXPECT_EQ(messages[1], "[ERROR] after");
  EXPECT_EQ(messages.back(), "[ERROR] after");
  if (messages.size() == 4) {
    EXPECT_EQ(messages[2].rfind("[INFO] ", 0), 0u);
    EXPECT_EQ(messages[2].back(), '|');
  }
  EXPECT_LE(messages.size(), 4u);
}

// The logger's own formatter against the C library's snprintf: every format, ours or handed on,
// gives the same text and length, written after the bytes already in the buffer, which grows.
struct SizeArgument {
  std::size_t value;
};
using FormatArgument = std::variant<int, long, long long, unsigned long long, SizeArgument, const char*>;
struct FormatCase {
  const char* format;
  FormatArgument first;
  FormatArgument second = 0;
};

int FormatWithOwnFormatter(std::string& buffer, std::size_t offset, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int length = FormatIntoBuffer(buffer, offset, format, args);
  va_end(args);
  return length;
}

TEST(LoggerFormat, OwnFormatterGivesWhatSnprintfGives) {
  const std::string long_text(70000, 'y');
  std::vector<FormatCase> cases;
  auto add_each = [&cases](std::initializer_list<const char*> formats, std::initializer_list<FormatArgument> values) {
    for (const char* format : formats) {
      for (const FormatArgument& value : values) cases.push_back({format, value});
    }
  };
  add_each({"%d", "%i", "%5d", "%-5d|", "%05d", "%.3d", "%8.3d", "%-8.3d|", "%08.3d", "%.0d", "%-05d|", "%1d", "%u",
            "%10u", "%x", "%08x", "%-6x|", "%.4x", "[%c]", "%3c", "%-3c|"},
           {0, 1, -1, 7, 42, -42, 97, 255, 123456, INT_MIN, INT_MAX});
  add_each({"%ld", "%07ld", "%lu", "%lx", "%-12ld|", "%.10ld", "%lo"}, {0L, -1L, 1234567L, LONG_MIN, LONG_MAX});
  add_each({"%lld", "%llu", "%llx", "%020lld", "%-22lld|", "%.25lld", "%llu"},
           {0LL, -1LL, 9876543210LL, LLONG_MIN, LLONG_MAX});
  add_each({"%llu", "%llx"}, {~0ULL, 1ULL << 63});
  add_each({"%zu", "%zx", "%8zu", "%-8zu|", "%zd"},
           {SizeArgument{0}, SizeArgument{4096}, SizeArgument{SIZE_MAX}});
  add_each({"%s", "%.2s", "%10s", "%-10s|", "%10.3s", "%.0s", "<%s%%>", "%05s"},
           {"", "a", "text", "a text longer than ten", long_text.c_str()});
  add_each({"%s", "%.3s", "%10s"}, {static_cast<const char*>(nullptr)});  // each C library's own text
  // Left to the C library: other flags, lengths and conversions, '*' fields, stray percent signs.
  add_each({"%+d", "% d", "%#x", "%X", "%hd", "%hhd", "%o", "100%", "%5%|", "%y", "%", "%70000d"},
           {0, 42, -42, INT_MIN});
  cases.push_back({"%*d|", 6, 42});
  cases.push_back({"%-*d|", 6, -42});
  cases.push_back({"%.*s|", 3, "abcdef"});
  cases.push_back({"benchmark line %07ld: %s\n", 1234L, "xxxxxxxx"});
  cases.push_back({"%s|%d\n", long_text.c_str(), 7});
  cases.push_back({"%s and %lld%%", "text", LLONG_MIN});
  cases.push_back({"%d%s", -1, "100% done %s %n"});
  cases.push_back({"no conversion at all", 0});

  auto plain = [](auto value) {
    if constexpr (std::is_same_v<decltype(value), SizeArgument>) {
      return value.value;
    } else {
      return value;
    }
  };
  constexpr std::size_t kOffset = 9;
  for (const FormatCase& c : cases) {
    std::visit(
        [&](auto first, auto second) {
          const int expected_length = std::snprintf(nullptr, 0, c.format, plain(first), plain(second));
          std::string expected(expected_length > 0 ? static_cast<std::size_t>(expected_length) + 1 : 1, '\0');
          (void)std::snprintf(expected.data(), expected.size(), c.format, plain(first), plain(second));
          std::string buffer(kOffset, '#');
          const int length = FormatWithOwnFormatter(buffer, kOffset, c.format, plain(first), plain(second));
          ASSERT_EQ(length, expected_length) << c.format;
          if (length < 0) return;
          ASSERT_GE(buffer.size(), kOffset + static_cast<std::size_t>(length)) << c.format;
          EXPECT_EQ(buffer.substr(0, kOffset), std::string(kOffset, '#')) << c.format;
          EXPECT_EQ(buffer.substr(kOffset, static_cast<std::size_t>(length)),
                    expected.substr(0, static_cast<std::size_t>(length)))
              << c.format;
        },
        c.first, c.second);
  }
}

struct LevelCase {
  std::uint32_t level;
  std::vector<std::string> expected;
};

void PrintTo(const LevelCase& c, std::ostream* out) { *out << "level " << c.level; }

class LoggerLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LoggerLevels, WritesTheTagsTheLevelAllows) {
  ScopedTestLog log(GetParam().level);
  LogOneOfEach();
  EXPECT_EQ(log.Messages(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoggerLevels,
    ::testing::Values(LevelCase{0, {}}, LevelCase{1, {"[INFO] info line"}},
                      LevelCase{2, {"[INFO] info line", "[ERROR] error line"}},
                      LevelCase{3, {"[INFO] info line", "[ERROR] error line", "[DEBUG] debug line"}},
                      LevelCase{4, {"[INFO] info line", "[ERROR] error line", "[DEBUG] debug line", "[TRACE] trace line"}},
                      LevelCase{200, {"[INFO] info line", "[ERROR] error line", "[DEBUG] debug line", "[TRACE] trace line"}},
                      // Only the low 8 bits count: 256 is 0 and 260 is 4.
                      LevelCase{256, {}},
                      LevelCase{260, {"[INFO] info line", "[ERROR] error line", "[DEBUG] debug line", "[TRACE] trace line"}}),
    [](const ::testing::TestParamInfo<LevelCase>& info) { return "Level" + std::to_string(info.param.level); });

TEST(LoggerLevels, LevelZeroStillWritesOpenAndCloseLines) {
  ScopedTestLog log(0);
  LogOneOfEach();
  CloseLog();
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("[INFO] Log open time: "), std::string::npos);
  EXPECT_NE(lines[1].find("[INFO] Log close time: "), std::string::npos);
}

TEST(LoggerLifecycle, CallsBeforeStartAndAfterStopWriteNothing) {
  CloseLog();
  ReleaseLog();
  LogOneOfEach();  // no file, no name, no token: dropped without harm
  test::TempDirectory directory;
  ASSERT_TRUE(SetLogDefaults());
  ASSERT_TRUE(ConfigureLog("late.log", directory.str().c_str(), 4));
  LogOneOfEach();  // configured but not open yet
  ASSERT_TRUE(OpenLogAppend());
  LogInfo("while open\n");
  CloseLog();
  LogOneOfEach();  // closed
  ReleaseLog();
  LogOneOfEach();  // released
  const std::vector<std::string> lines = test::LogFileLines(directory.path() / "late.log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("[INFO] while open"), std::string::npos);
}

TEST(LoggerLifecycle, EachRunAppendsBetweenItsOwnOpenAndCloseLines) {
  test::TempDirectory directory;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(SetLogDefaults());
    ASSERT_TRUE(ConfigureLog("runs.log", directory.str().c_str(), 2));
    ASSERT_TRUE(OpenLogAppend());
    LogInfo("run %d\n", run);
    CloseLog();
    ReleaseLog();
  }
  const std::vector<std::string> lines = test::LogFileLines(directory.path() / "runs.log");
  ASSERT_EQ(lines.size(), 6u);
  const char* expected[] = {"Log open time: ", "run 0", "Log close time: ", "Log open time: ", "run 1", "Log close time: "};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ParsedLogLine parsed;
    ASSERT_TRUE(ParseLogLine(lines[i], parsed)) << lines[i];
    EXPECT_EQ(parsed.tag, "[INFO]");
    EXPECT_EQ(parsed.text.rfind(expected[i], 0), 0u) << lines[i];
    if (i % 3 != 1) {
      EXPECT_EQ(parsed.text.substr(parsed.text.find(": ") + 2), parsed.timestamp) << lines[i];
    }
  }
}

TEST(LoggerLifecycle, OpeningTwiceKeepsTheFileAndTracesIt) {
  ScopedTestLog log(4);
  EXPECT_TRUE(OpenLogAppend());
  EXPECT_TRUE(log.Has("[TRACE]", "gv_logFilePtr already Set"));
}

TEST(LoggerLifecycle, SetLogDefaultsOnOpenFileResetsOnlyTheLevel) {
  ScopedTestLog log(1);
  const auto path = CurrentLogPath();
  ASSERT_TRUE(SetLogDefaults());
  EXPECT_EQ(CurrentLogLevel(), 3);
  EXPECT_EQ(CurrentLogPath(), path);
  LogDebug("debug after defaults\n");
  EXPECT_TRUE(log.Has("[DEBUG]", "debug after defaults"));
}

TEST(LoggerLifecycle, OpenCreatesMissingDirectories) {
  test::TempDirectory directory;
  const std::string nested = (directory.path() / "a" / "b" / "logs").string();
  ASSERT_TRUE(SetLogDefaults());
  ASSERT_TRUE(ConfigureLog("nested.log", nested.c_str(), 2));
  ASSERT_TRUE(OpenLogAppend());
  EXPECT_EQ(CurrentLogPath().value_or(""), nested + "/nested.log");
  CloseLog();
  ReleaseLog();
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(nested) / "nested.log"));
}

TEST(LoggerLifecycle, UnopenableFileDropsEveryLine) {
  test::TempDirectory directory;
  test::WriteWholeFile(directory.path() / "file", "not a directory");
  const std::string below_file = (directory.path() / "file").string();
  ASSERT_TRUE(SetLogDefaults());
  ASSERT_TRUE(ConfigureLog("x.log", below_file.c_str(), 4));
  EXPECT_FALSE(OpenLogAppend());
  EXPECT_FALSE(IsLogOpen());
  LogOneOfEach();
  CloseLog();
  ReleaseLog();
}

TEST(LoggerConcurrency, TwoThreadsProduceOnlyWholeLines) {
  ScopedTestLog log(2);
  constexpr int kLinesPerThread = 2000;
  auto writer = [](char name) {
    for (int i = 0; i < kLinesPerThread; ++i) LogInfo("writer %c line %05d %s\n", name, i, "payload-payload-payload");
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  first.join();
  second.join();
  std::set<std::string> seen;
  for (const std::string& message : log.Messages()) {
    ASSERT_EQ(message.size(), std::string("[INFO] writer a line 00000 payload-payload-payload").size()) << message;
    seen.insert(message);
  }
  EXPECT_EQ(seen.size(), 2u * kLinesPerThread);
}

TEST(AddressLock, ResultCodes) {
  int a = 0;
  int b = 0;
  EXPECT_EQ(TryAcquireAddressLock(&a), kAddressLockTaken);
  EXPECT_EQ(TryAcquireAddressLock(&a), kAddressLockBusy);
  EXPECT_EQ(TryAcquireAddressLock(&b), kAddressLockTaken);  // keys are independent
  EXPECT_EQ(ReleaseAddressLock(&a), kAddressLockReleased);
  EXPECT_EQ(ReleaseAddressLock(&a), kAddressLockNotHeld);
  EXPECT_EQ(TryAcquireAddressLock(&a), kAddressLockTaken);
  EXPECT_EQ(ReleaseAddressLock(&a), kAddressLockReleased);
  EXPECT_EQ(ReleaseAddressLock(&b), kAddressLockReleased);
}

TEST(AddressLock, ExcludesOtherThreadsOfTheSameKey) {
  int key = 0;
  long long counter = 0;  // deliberately unsynchronised: only the address lock protects it
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto worker = [&] {
    for (int i = 0; i < 20000; ++i) {
      AddressLockGuard lock(&key);
      if (inside.fetch_add(1) != 0) overlap = true;
      ++counter;
      inside.fetch_sub(1);
    }
  };
  std::thread first(worker);
  std::thread second(worker);
  first.join();
  second.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(counter, 40000);
}

TEST(AddressLock, AKeyHeldByTheWaiterItselfNeverBlocksAnother) {
  // Keys are only addresses: among these, two are found that the lock files under one hint, the
  // waiter holding one of them while it waits for the other.
  static char block[1 << 16];
  const void* held = &block[0];
  const void* wanted = nullptr;
  for (std::size_t offset = 16; offset < sizeof(block) && wanted == nullptr; offset += 16) {
    const auto a = reinterpret_cast<std::uintptr_t>(held);
    const auto b = reinterpret_cast<std::uintptr_t>(&block[offset]);
    if ((((a >> 4) ^ (a >> 12)) & 255) == (((b >> 4) ^ (b >> 12)) & 255)) wanted = &block[offset];
  }
  ASSERT_NE(wanted, nullptr);
  std::atomic<bool> holding{false};
  std::atomic<bool> waiting{false};
  std::thread other([&] {
    AcquireAddressLock(wanted);
    holding = true;
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the waiter poll a while
    ReleaseAddressLock(wanted);
  });
  while (!holding) std::this_thread::yield();
  AcquireAddressLock(held);
  waiting = true;
  AcquireAddressLock(wanted);  // hangs (test time-out) if the waiter's own key kept it waiting
  other.join();
  EXPECT_EQ(ReleaseAddressLock(wanted), kAddressLockReleased);
  EXPECT_EQ(ReleaseAddressLock(held), kAddressLockReleased);
}

TEST(FileHelpers, AppendFormattedToFileWritesPercentSignsFromArgumentsAsTheyAre) {
  test::TempDirectory directory;
  const std::string path = (directory.path() / "records.log").string();
  AppendFormattedToFile(path.c_str(), "%s|%d\n", "100% done %s %n", 7);
  AppendFormattedToFile(path.c_str(), "%s\n", "second");
  // Text-mode files: lines end with CR LF on Windows.
  EXPECT_EQ(test::LogFileLines(path), (std::vector<std::string>{"100% done %s %n|7", "second"}));
  AppendFormattedToFile((directory.path() / "missing" / "x.log").string().c_str(), "%s", "nothing");
  EXPECT_FALSE(std::filesystem::exists(directory.path() / "missing"));
}

TEST(FileHelpers, CreateFileWithHeaderWritesTheHeaderOnlyToANewFile) {
  test::TempDirectory directory;
  const std::string path = (directory.path() / "access.log").string();
  CreateFileWithHeader(path.c_str(), "HEADER\n");
  AppendFormattedToFile(path.c_str(), "%s\n", "row");
  CreateFileWithHeader(path.c_str(), "HEADER\n");
  EXPECT_EQ(test::LogFileLines(path), (std::vector<std::string>{"HEADER", "row"}));
}

TEST(FileHelpers, MakeDirectoryTree) {
  test::TempDirectory directory;
  const std::string nested = (directory.path() / "one" / "two" / "three").string();
  EXPECT_EQ(MakeDirectoryTree(nested), 0);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_EQ(MakeDirectoryTree(nested), 1);
  EXPECT_EQ(MakeDirectoryTree(nested + "/"), 1);
  test::WriteWholeFile(directory.path() / "plain", "x");
  const int below_file = MakeDirectoryTree((directory.path() / "plain" / "sub").string());
  EXPECT_NE(below_file, 0);
  EXPECT_NE(below_file, 1);
}

struct RotatedNameCase {
  const char* name;
  int n;
  const char* expected_base;
  const char* expected_path;
};

TEST(RotationNames, BaseIsTheNameBeforeItsFirstDotLog) {
  const RotatedNameCase cases[] = {
      {"vxprereqhandler.log", 1, "vxprereqhandler", "C:\\logs\\\\vxprereqhandler1.log"},
      {"agent.log.log", 4, "agent", "C:\\logs\\\\agent4.log"},
      {"noextension", 2, "", "C:\\logs\\\\2.log"},
      {"a.logfile", 3, "a", "C:\\logs\\\\a3.log"},
  };
  for (const RotatedNameCase& c : cases) {
    EXPECT_EQ(LogBaseName(c.name), c.expected_base) << c.name;
    EXPECT_EQ(MakeRotatedLogName("C:\\logs\\", c.name, c.n), c.expected_path) << c.name;
  }
}

}  // namespace
}  // namespace vx
