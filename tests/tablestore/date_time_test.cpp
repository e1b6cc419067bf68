#include "tablestore/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "fake_time.h"
#include "test_log.h"

namespace vx::test {
namespace {

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
using DateTimePtr = std::unique_ptr<QelDateTime, FreeDeleter>;

// The text form, or "<null>".
std::string Text(const QelDateTime* value) {
  std::unique_ptr<char, FreeDeleter> text(QelDateTimeToString(value));
  return text ? std::string(text.get()) : std::string("<null>");
}

TEST(DateTimeTest, ConvertStringReadsDateTimeDateOnlyOrTimeOnly) {
  struct Case {
    const char* text;
    const char* full;     // ConvertStringToQelDateTime: both parts always
    const char* general;  // ConvertStringToQelGenDateTime: only the parts present
  };
  const Case cases[] = {
      {"2021-03-04 05:06:07", "2021-03-04 05:06:07", "2021-03-04 05:06:07"},
      {"2021-03-04", "2021-03-04 00:00:00", "2021-03-04"},
      {"05:06", "0000-00-00 05:06:00", "05:06:00"},
      {"2021-13-00 25:61:99", "2021-13-00 25:61:99", "2021-13-00 25:61:99"},                 // nothing is validated
      {"70000-1-2", "4464-01-02 00:00:00", "4464-01-02"},                                    // the year keeps 16 bits
      {"99999999999-1-1 0:0:-99999999999", "65535-01-01 00:00:00", "65535-01-01 00:00:00"},  // and saturates
      {"x-y", "0000-00-00 00:00:00", "0000-00-00"},                                          // unread numbers are 0
      {"10:30 2021-01-01", "0010-00-00 00:00:00", "0010-00-00 00:00:00"},                    // read as Y-M-D H:M:S
      {"20210304", "<null>", "<null>"},
      {"", "<null>", "<null>"},
  };
  for (const Case& c : cases) {
    DateTimePtr full(ConvertStringToQelDateTime(c.text));
    DateTimePtr general(ConvertStringToQelGenDateTime(c.text));
    EXPECT_EQ(Text(full.get()), c.full) << c.text;
    EXPECT_EQ(Text(general.get()), c.general) << c.text;
  }
}

TEST(DateTimeTest, ConversionsLogTheirEntryAndErrors) {
  ScopedTestLog log(4);
  EXPECT_EQ(ConvertStringToQelDateTime(nullptr), nullptr);
  EXPECT_EQ(ConvertStringToQelGenDateTime(nullptr), nullptr);
  EXPECT_EQ(ConvertStringToQelGenDateTime("none"), nullptr);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "[TRACE] Inside ConvertStringToQelDateTime ",
                                "[ERROR] datetimeStr NULL ",
                                "[TRACE] Inside ConvertStringToQelGenDateTime ",
                                "[ERROR] datetimeStr NULL ",
                                "[TRACE] Inside ConvertStringToQelGenDateTime ",
                                "[ERROR] The String is not a datetimeStr ",
                            }));
}

TEST(DateTimeTest, TextFormsOfRecordsAndParts) {
  DateTimePtr both(CreateQelDateTime(2021, 3, 4, 5, 6, 7));
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(Text(both.get()), "2021-03-04 05:06:07");
  std::unique_ptr<char, FreeDeleter> date(QelDateToString(both->date));
  std::unique_ptr<char, FreeDeleter> time(QelTimeToString(both->time));
  EXPECT_STREQ(date.get(), "2021-03-04");
  EXPECT_STREQ(time.get(), "05:06:07");
  EXPECT_EQ(QelDateToString(nullptr), nullptr);
  EXPECT_EQ(QelTimeToString(nullptr), nullptr);

  QelDateTime neither{};
  EXPECT_EQ(Text(&neither), "<null>");
  EXPECT_EQ(Text(nullptr), "<null>");
}

TEST(DateTimeTest, CopyIsIndependentOfTheOriginal) {
  DateTimePtr original(CreateQelDateTime(2020, 2, 29, 23, 59, 58));
  DateTimePtr copy(CopyQelDateTime(original.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->date, original->date);
  original->date->day = 1;
  original.reset();
  EXPECT_EQ(Text(copy.get()), "2020-02-29 23:59:58");

  DateTimePtr time_only(ConvertStringToQelGenDateTime("01:02:03"));
  DateTimePtr time_copy(CopyQelDateTime(time_only.get()));
  EXPECT_EQ(time_copy->date, nullptr);
  EXPECT_EQ(Text(time_copy.get()), "01:02:03");
}

TEST(DateTimeTest, IntervalsAreNormalisedLikeTheCalendar) {
  struct Case {
    const char* start;
    std::uint32_t amount;
    std::uint8_t unit;
    bool subtract;
    const char* expected;
  };
  const Case cases[] = {
      {"2021-01-31 12:00:00", 1, kIntervalMonths, false, "2021-03-03 12:00:00"},
      {"2021-03-31 12:00:00", 1, kIntervalMonths, true, "2021-03-03 12:00:00"},
      {"2020-02-28 12:00:00", 1, kIntervalDays, false, "2020-02-29 12:00:00"},
      {"2021-03-01 12:00:00", 1, kIntervalDays, true, "2021-02-28 12:00:00"},
      {"2021-01-01 12:00:00", 2, kIntervalWeeks, false, "2021-01-15 12:00:00"},
      {"2021-12-31 23:59:59", 1, kIntervalSeconds, false, "2022-01-01 00:00:00"},
      {"2021-01-10 12:00:00", 90, kIntervalMinutes, false, "2021-01-10 13:30:00"},
      {"2021-01-10 12:00:00", 25, kIntervalHours, true, "2021-01-09 11:00:00"},
      {"2021-01-10 12:00:00", 200000, kIntervalSeconds, false, "2021-01-12 19:33:20"},
#if defined(_WIN32)
      // The Windows C runtime normalises no time before 1970: the record stays as it was.
      {"1969-12-31 23:59:58", 1, kIntervalSeconds, false, "1969-12-31 23:59:58"},
#else
      {"1969-12-31 23:59:58", 1, kIntervalSeconds, false, "1969-12-31 23:59:59"},  // mktime's -1 in UTC
#endif
      {"2021-01-10 12:00:00", 4000000000u, kIntervalNanoseconds, false, "2021-01-10 12:00:04"},
      {"2021-01-10 12:00:00", 2500000, kIntervalMicroseconds, false, "2021-01-10 12:00:02"},
      {"2021-01-10 12:00:00", 3999, kIntervalMilliseconds, true, "2021-01-10 11:59:57"},
      {"2021-01-10 12:00:00", 999, kIntervalMilliseconds, false, "2021-01-10 12:00:00"},
      {"2021-01-10 12:00:00", 5, 0, false, "2021-01-10 12:00:00"},                        // unknown unit
      {"2021-01-10 12:00:00", 5, 10, false, "2021-01-10 12:00:00"},                       // unknown unit
      {"2021-01-10 12:00:00", 4294967295u, kIntervalDays, false, "2021-01-10 12:00:00"},  // no calendar
      {"65535-12-31 12:00:00", 1, kIntervalDays, false, "65535-12-31 12:00:00"},          // year overflow
  };
  for (const Case& c : cases) {
    DateTimePtr value(ConvertStringToQelDateTime(c.start));
    ASSERT_NE(value, nullptr);
    QelDateTime* result = c.subtract ? SubtractIntervalFromQelDateTime(value.get(), c.amount, c.unit)
                                     : AddIntervalToQelDateTime(value.get(), c.amount, c.unit);
    EXPECT_EQ(result, value.get());
    EXPECT_EQ(Text(value.get()), c.expected) << c.start << " " << c.amount << " unit " << int{c.unit};
  }
  DateTimePtr time_only(ConvertStringToQelGenDateTime("10:00:00"));
  AddIntervalToQelDateTime(time_only.get(), 1, kIntervalHours);
  EXPECT_EQ(Text(time_only.get()), "10:00:00");
  EXPECT_EQ(AddIntervalToQelDateTime(nullptr, 1, kIntervalHours), nullptr);
}

TEST(DateTimeTest, LaterThanDecidesOnTheFirstDifferingField) {
  struct Case {
    const char* a;
    const char* b;
    int later;
  };
  const Case cases[] = {
      {"2021-03-04 05:06:07", "2021-03-04 05:06:07", 0}, {"2022-01-01 00:00:00", "2021-12-31 23:59:59", 1},
      {"2021-12-31 23:59:59", "2022-01-01 00:00:00", 0}, {"2021-04-01 00:00:00", "2021-03-31 23:59:59", 1},
      {"2021-03-05 00:00:00", "2021-03-04 23:59:59", 1}, {"2021-03-04 06:00:00", "2021-03-04 05:59:59", 1},
      {"2021-03-04 05:07:00", "2021-03-04 05:06:59", 1}, {"2021-03-04 05:06:08", "2021-03-04 05:06:07", 1},
      {"2021-03-04 05:06:07", "2021-03-04 05:06:08", 0},
  };
  for (const Case& c : cases) {
    DateTimePtr a(ConvertStringToQelDateTime(c.a));
    DateTimePtr b(ConvertStringToQelDateTime(c.b));
    EXPECT_EQ(IsQelDateTimeLater(a.get(), b.get()), c.later) << c.a << " vs " << c.b;
  }
  DateTimePtr any(ConvertStringToQelDateTime("2021-01-01"));
  EXPECT_EQ(IsQelDateTimeLater(any.get(), nullptr), 0);
  EXPECT_EQ(IsQelDateTimeLater(nullptr, any.get()), 0);
  // An absent date compares as 0000-00-00.
  DateTimePtr time_only(ConvertStringToQelGenDateTime("23:00:00"));
  EXPECT_EQ(IsQelDateTimeLater(any.get(), time_only.get()), 1);
}

TEST(DateTimeTest, CurrentDateTimeIsTheLocalTimeOfTheTimeSource) {
  FakeTime clock;
  clock.SetLocal({2023, 7, 8, 9, 10, 11, 999});
  ScopedTimeSourceOverride override(clock);
  DateTimePtr now(GetCurrentQelDateTime());
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(Text(now.get()), "2023-07-08 09:10:11");
  EXPECT_EQ(now->extra[0] | now->extra[1] | now->extra[2], 0);
}

}  // namespace
}  // namespace vx::test
