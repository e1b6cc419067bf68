#include "agent/file_utils.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "fake_time.h"
#include "test_files.h"
#include "test_log.h"

namespace vx {
namespace {

// A fake clock standing at the given UTC second (the fake only moves forward).
void SetUnixSeconds(test::FakeTime& clock, std::int64_t unix_seconds) {
  clock.Advance(static_cast<std::uint64_t>(unix_seconds - clock.UnixSeconds()) * 1000);
}

TEST(FileUtilsTest, LastComponents) {
  struct Case {
    const char* path;
    std::optional<std::string> file_name;
    std::optional<std::string> url_file_name;
  };
  const Case cases[] = {
      {"C:\\agent\\logs\\a.log", "a.log", "C:\\agent\\logs\\a.log"},
      {"logs\\\\a.log", "a.log", "logs\\\\a.log"},
      {"http://server:80/vx/resources/host.xml", "http://server:80/vx/resources/host.xml", "host.xml"},
      {"dir\\", "", "dir\\"},
      {"http://server/", "http://server/", ""},
      {"plain", "plain", "plain"},
      {"", "", ""},
      {nullptr, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "(null)");
    EXPECT_EQ(GetLastFileName(c.path), c.file_name);
    EXPECT_EQ(GetLastUrlFileName(c.path), c.url_file_name);
  }
  test::ScopedTestLog log;
  (void)GetLastFileName("a\\b");
  (void)GetLastUrlFileName("x/y");
  EXPECT_TRUE(log.Has("[DEBUG]", "GetLastFileName Function Called with a\\b...!"));
  EXPECT_TRUE(log.Has("[DEBUG]", "GetLastUrlFileName Function Called with x/y...!"));
}

TEST(FileUtilsTest, ReplaceCharAndTwoDigits) {
  EXPECT_EQ(ReplaceChar("a/b//c/", '/', '\\'), "a\\b\\\\c\\");
  EXPECT_EQ(ReplaceChar("abc", 'x', 'y'), "abc");
  EXPECT_EQ(ReplaceChar("", 'x', 'y'), "");

  const std::pair<unsigned, const char*> cases[] = {{0, "00"},   {7, "07"},    {10, "10"},  {99, "99"},
                                                    {126, "26"}, {2026, "26"}, {100, "00"}, {UINT_MAX, "95"}};
  for (const auto& [number, text] : cases) EXPECT_EQ(TwoDigits(number), text) << number;
}

TEST(FileUtilsTest, CalendarBreakdown) {
  struct Case {
    std::int64_t unix_seconds;
    UtcCalendarTime expected;
  };
  const Case cases[] = {
      {0, {1970, 1, 1, 0, 0, 0, 4}},          {-1, {1969, 12, 31, 23, 59, 59, 3}},
      {951782400, {2000, 2, 29, 0, 0, 0, 2}}, {1835438340, {2028, 2, 29, 11, 59, 0, 2}},
      {4102444800, {2100, 1, 1, 0, 0, 0, 5}}, {253402300799, {9999, 12, 31, 23, 59, 59, 5}},
  };
  auto fields = [](const UtcCalendarTime& t) {
    return std::vector<std::int64_t>{t.year, t.month, t.day, t.hour, t.minute, t.second, t.day_of_week};
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fields(UtcCalendarTimeFromUnixSeconds(c.unix_seconds)), fields(c.expected)) << c.unix_seconds;
  }
}

// The texts follow the clock in UTC; this program runs with TZ set to a zone nine hours ahead, so a
// local-time slip would show.
TEST(FileUtilsTest, CalendarTextsAreUtc) {
  struct Case {
    std::int64_t unix_seconds;
    const char* short_date;
    const char* time_24;
    const char* time_12;
    const char* long_date_time;
  };
  const Case cases[] = {
      {1772885109, "26-03-07", "12:05:09", "00:05:09", "Mar 07,2026 00:05PM"},  // just after noon
      {1772841900, "26-03-07", "00:05:00", "00:05:00", "Mar 07,2026 00:05AM"},  // just after midnight
      {1835438340, "28-02-29", "11:59:00", "11:59:00", "Feb 29,2028 11:59AM"},
      {1798761599, "26-12-31", "23:59:59", "11:59:59", "Dec 31,2026 11:59PM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.long_date_time);
    test::FakeTime clock;
    SetUnixSeconds(clock, c.unix_seconds);
    ScopedTimeSourceOverride use_clock(clock);
    EXPECT_EQ(ShortDateText(), c.short_date);
    EXPECT_EQ(TimeText(), c.time_24);
    EXPECT_EQ(TimeText(false), c.time_12);
    EXPECT_EQ(LongDateTimeText(), c.long_date_time);
  }
}

#ifdef _WIN32

std::string Path(const test::TempDirectory& directory, const char* relative) {
  return (directory.path() / relative).string();
}

std::wstring WidePath(const test::TempDirectory& directory, const wchar_t* relative) {
  return (directory.path() / relative).wstring();
}

TEST(FileUtilsTest, CreateFolderCreatesTheDirectoryOfAFile) {
  test::TempDirectory temp;
  test::WriteWholeFile(temp.path() / "blocker", "x");
  struct Case {
    const wchar_t* relative;
    bool succeeds;
    const char* created;      // relative directory that exists afterwards
    const char* not_created;  // relative path that must not exist afterwards
  };
  const Case cases[] = {
      {L"a\\b\\file.txt", true, "a\\b", "a\\b\\file.txt"},
      {L"a\\b\\other.txt", true, "a\\b", "a\\b\\other.txt"},  // the directory exists already
      // The last component occurs earlier in the path: the directory is still the one before it.
      {L"cd\\d", true, "cd", "c"},
      {L"blocker\\x\\f.txt", false, "blocker", "blocker\\x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.created);
    const std::wstring path = WidePath(temp, c.relative);
    EXPECT_EQ(CreateFolder(path.c_str()) == 0, c.succeeds);
    EXPECT_TRUE(std::filesystem::exists(temp.path() / c.created));
    EXPECT_FALSE(std::filesystem::is_directory(temp.path() / c.not_created));
  }
}

TEST(FileUtilsTest, CreateFolderOfDrivesAndNull) {
  for (const wchar_t* path : {L"C:\\vx-no-such-file.txt", L"C:\\", L"C:"}) {
    test::ScopedTestLog log;
    EXPECT_EQ(CreateFolder(path), 0);
    EXPECT_TRUE(log.Has("[INFO]", "CreateFolder : The Drive letter Given.hence it cannot be created "));
    EXPECT_TRUE(log.Has("[DEBUG]", "CreateFolder function returns Error code 0 "));
  }
  test::ScopedTestLog log;
  EXPECT_EQ(CreateFolder(nullptr), 13);
  EXPECT_TRUE(log.Has("[ERROR]", "CreateFolder : The directory to create is NULL . "));
}

TEST(FileUtilsTest, FileExistenceAndSize) {
  test::TempDirectory temp;
  test::WriteWholeFile(temp.path() / "five.txt", "12345");
  test::WriteWholeFile(temp.path() / L"caf\u00E9.txt", "");
  const std::string file = Path(temp, "five.txt");
  const std::string missing = Path(temp, "missing.txt");

  EXPECT_EQ(CheckFileExists(file.c_str()), 0);
  EXPECT_EQ(CheckFileExists(temp.str().c_str()), 0);  // a directory counts
  EXPECT_EQ(FileExists(file.c_str()), 1);
  EXPECT_EQ(CheckFileExists(WidePath(temp, L"caf\u00E9.txt").c_str()), 0);
  EXPECT_EQ(CheckFileExists(static_cast<const wchar_t*>(nullptr)), 13);
  EXPECT_EQ(CheckFileExists(static_cast<const char*>(nullptr)), 2);
  {
    test::ScopedTestLog log;
    EXPECT_EQ(CheckFileExists(missing.c_str()), 2);
    EXPECT_EQ(FileExists(missing.c_str()), 0);
    EXPECT_TRUE(log.Has("[ERROR]", "CheckFileExists -> Invalid File Handle. 2 "));
    EXPECT_TRUE(log.Has("[DEBUG]", "FileName to search -> " + missing + " "));
  }

  std::int64_t size = 99;
  EXPECT_EQ(GetFileSize64(missing.c_str(), &size), 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(GetFileSize64(file.c_str(), nullptr), 0);
  // Sized also while another handle holds the file open without sharing.
  HANDLE holder = ::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize64(file.c_str(), &size), 1);
  EXPECT_EQ(size, 5);
  ::CloseHandle(holder);
}

TEST(FileUtilsTest, AppendLineToFileCreatesMissingDirectoriesAndFile) {
  test::TempDirectory temp;
  const std::string path = Path(temp, "new\\deeper\\access.log");
  EXPECT_EQ(AppendLineToFile(path.c_str(), "first"), 0);
  EXPECT_EQ(AppendLineToFile(path.c_str(), "second"), 0);
  EXPECT_EQ(test::ReadWholeFile(path), "first\r\nsecond\r\n");

  test::WriteWholeFile(temp.path() / "blocker", "x");
  const std::string blocked = Path(temp, "blocker\\access.log");
  EXPECT_NE(AppendLineToFile(blocked.c_str(), "line"), 0);
  EXPECT_EQ(test::ReadWholeFile(temp.path() / "blocker"), "x");
  EXPECT_EQ(AppendLineToFile(nullptr, "line"), 13);
}

TEST(FileUtilsTest, SecondsSince1970) {
  struct Case {
    SYSTEMTIME time;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
      {{2026, 3, 6, 7, 12, 5, 9, 999}, 1772885109},
      {{2038, 1, 2, 19, 3, 14, 8, 0}, 2147483648},
  };
  for (const Case& c : cases) {
    std::int64_t seconds = -1;
    EXPECT_TRUE(SecondsSince1970(c.time, seconds));
    EXPECT_EQ(seconds, c.seconds);
  }
  std::int64_t untouched = 42;
  EXPECT_FALSE(SecondsSince1970(SYSTEMTIME{2026, 13, 0, 1, 0, 0, 0, 0}, untouched));
  EXPECT_EQ(untouched, 42);
}

// The test program runs with TZ=Asia/Tokyo: nine hours ahead of UTC, no daylight saving.
TEST(FileUtilsTest, SecondCountsOfLocalAndCurrentTime) {
  TIME_ZONE_INFORMATION zone{};
  ::GetTimeZoneInformation(&zone);
  ASSERT_EQ(zone.Bias, -540) << "the test environment's zone (TZ=Asia/Tokyo) was not applied";

  test::ScopedTestLog log;
  // 21:05:09 in Tokyo is 12:05:09 UTC.
  EXPECT_EQ(GetTimeInSeconds(SYSTEMTIME{2026, 3, 6, 7, 21, 5, 9, 0}), 1772885109);
  EXPECT_TRUE(log.Has("[DEBUG]", "GetTimeInSeconds : retDate :: 1772885109"));
  EXPECT_TRUE(log.Has("[INFO]", "GetTimeInSeconds : Time in Second : 1772885109"));

  test::FakeTime clock;
  SetUnixSeconds(clock, 1772885109);
  {
    ScopedTimeSourceOverride use_clock(clock);
    EXPECT_EQ(CurrentTimeInSeconds(), 1772885109);
    testing::internal::CaptureStdout();
    const std::wstring millis = CurrentTimeMillisText();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nTime = 1772885109047");
    EXPECT_EQ(millis, L"1772885109047");  // the fake's millisecond is 47
  }
  SetUnixSeconds(clock, 2208988800);  // 2040: past the 32-bit range
  ScopedTimeSourceOverride use_clock(clock);
  EXPECT_EQ(CurrentTimeInSeconds(), INT32_MAX);
}

#endif

}  // namespace
}  // namespace vx
