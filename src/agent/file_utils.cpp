#include "agent/file_utils.h"

#include "base/time_source.h"
#include "logging/logger.h"

namespace vx {
namespace {

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

std::optional<std::string> LastComponent(const char* path, char separator) {
  if (path == nullptr) return std::nullopt;
  const std::string_view text(path);
  const std::size_t last = text.rfind(separator);
  return std::string(last == std::string_view::npos ? text : text.substr(last + 1));
}

std::string FourDigitYear(std::int64_t year) {
  std::string digits = std::to_string(year);
  if (year >= 0 && digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return digits;
}

UtcCalendarTime NowUtc() { return UtcCalendarTimeFromUnixSeconds(Time().UnixSeconds()); }

}  // namespace

std::optional<std::string> GetLastFileName(const char* path) {
  LogDebug("GetLastFileName Function Called with %s...!\n", path != nullptr ? path : "(null)");
  return LastComponent(path, '\\');
}

std::optional<std::string> GetLastUrlFileName(const char* url) {
  LogDebug("GetLastUrlFileName Function Called with %s...!\n", url != nullptr ? url : "(null)");
  return LastComponent(url, '/');
}

std::string ReplaceChar(std::string_view text, char find, char replacement) {
  std::string result(text);
  for (char& c : result) {
    if (c == find) c = replacement;
  }
  return result;
}

std::string TwoDigits(unsigned number) {
  return std::string{static_cast<char>('0' + (number / 10) % 10), static_cast<char>('0' + number % 10)};
}

UtcCalendarTime UtcCalendarTimeFromUnixSeconds(std::int64_t unix_seconds) {
  // Days to civil date in the proleptic Gregorian calendar, counted in 400-year eras that start on
  // 1 March so that the leap day is the last day of a year.
  const std::int64_t days = FloorDivide(unix_seconds, 86400);
  const std::int64_t second_of_day = unix_seconds - days * 86400;
  const std::int64_t shifted = days + 719468;  // days from 0000-03-01 to 1970-01-01
  const std::int64_t era = FloorDivide(shifted, 146097);
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;

  UtcCalendarTime time;
  time.day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  time.month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  time.year = year_of_era + era * 400 + (time.month <= 2 ? 1 : 0);
  time.hour = static_cast<int>(second_of_day / 3600);
  time.minute = static_cast<int>(second_of_day % 3600 / 60);
  time.second = static_cast<int>(second_of_day % 60);
  time.day_of_week = static_cast<int>(days - FloorDivide(days + 4, 7) * 7 + 4);  // 1970-01-01 was a Thursday
  return time;
}

std::string ShortDateText() {
  const UtcCalendarTime now = NowUtc();
  return TwoDigits(static_cast<unsigned>(now.year - FloorDivide(now.year, 100) * 100)) + "-" +
         TwoDigits(static_cast<unsigned>(now.month)) + "-" + TwoDigits(static_cast<unsigned>(now.day));
}

std::string TimeText(bool twenty_four_hour) {
  const UtcCalendarTime now = NowUtc();
  const int hour = twenty_four_hour || now.hour < 12 ? now.hour : now.hour - 12;
  return TwoDigits(static_cast<unsigned>(hour)) + ":" + TwoDigits(static_cast<unsigned>(now.minute)) + ":" +
         TwoDigits(static_cast<unsigned>(now.second));
}

std::string LongDateTimeText() {
  const UtcCalendarTime now = NowUtc();
  const bool morning = now.hour < 12;
  return std::string(kMonthNames[now.month - 1]) + " " + TwoDigits(static_cast<unsigned>(now.day)) + "," +
         FourDigitYear(now.year) + " " + TwoDigits(static_cast<unsigned>(morning ? now.hour : now.hour - 12)) + ":" +
         TwoDigits(static_cast<unsigned>(now.minute)) + (morning ? "AM" : "PM");
}

}  // namespace vx
