#include "tablestore/date_time.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/time_source.h"
#include "logging/logger.h"

namespace vx {
namespace {

// A QelDateTime and the room for both of its parts in one allocation.
struct DateTimeBlock {
  QelDateTime record;
  QelDate date;
  QelTime time;
};

// A zeroed block with room for a terminating zero byte after it, like every value buffer.
DateTimeBlock* NewBlock() { return static_cast<DateTimeBlock*>(std::calloc(1, sizeof(DateTimeBlock) + 1)); }

void SetDate(QelDate* date, int year, int month, int day) {
  date->year = static_cast<std::uint16_t>(year);
  date->month = static_cast<std::uint8_t>(month);
  date->day = static_cast<std::uint8_t>(day);
}

void SetTime(QelTime* time, int hour, int minute, int second) {
  time->hour = static_cast<std::uint8_t>(hour);
  time->minute = static_cast<std::uint8_t>(minute);
  time->second = static_cast<std::uint8_t>(second);
}

// A block holding the parts asked for; null after the error line.
QelDateTime* NewDateTime(bool with_date, bool with_time) {
  DateTimeBlock* block = NewBlock();
  if (block == nullptr) {
    return nullptr;
  }
  block->record.date = with_date ? &block->date : nullptr;
  block->record.time = with_time ? &block->time : nullptr;
  return &block->record;
}

char* Format(const char* format, int a, int b, int c) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, format, a, b, c);
  if (length < 0) {
    return nullptr;
  }
  auto* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text, static_cast<std::size_t>(length) + 1);
  }
  return copy;
}

struct SixFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool has_date = false;
  bool has_time = false;
};

// Reads a text with "-" and ":" as a date and a time, with only "-" as a date, with only ":" as a
// time. False when it has neither character. Numbers that cannot be read stay 0.
bool ReadFields(const char* text, SixFields& fields) {
  fields.has_date = std::strchr(text, '-') != nullptr;
  fields.has_time = std::strchr(text, ':') != nullptr;
  if (fields.has_date && fields.has_time) {
    int* const all[] = {&fields.year, &fields.month, &fields.day, &fields.hour, &fields.minute, &fields.second};
    ScanDateTimeNumbers(text, "d-d-d d:d:d", all);
  } else if (fields.has_date) {
    int* const date[] = {&fields.year, &fields.month, &fields.day};
    ScanDateTimeNumbers(text, "d-d-d", date);
  } else if (fields.has_time) {
    int* const time[] = {&fields.hour, &fields.minute, &fields.second};
    ScanDateTimeNumbers(text, "d:d:d", time);
  } else {
    return false;
  }
  return true;
}

QelDateTime* FromFields(const SixFields& fields, bool with_date, bool with_time) {
  QelDateTime* value = NewDateTime(with_date, with_time);
  if (value == nullptr) {
    LogError("QelDateTime creation failed");
    return nullptr;
  }
  if (with_date) {
    SetDate(value->date, fields.year, fields.month, fields.day);
  }
  if (with_time) {
    SetTime(value->time, fields.hour, fields.minute, fields.second);
  }
  return value;
}

// Adds a signed amount to an int field when the sum stays an int.
bool AddToField(int& field, long long amount) {
  const long long sum = static_cast<long long>(field) + amount;
  if (sum < INT_MIN / 2 || sum > INT_MAX / 2) {
    return false;  // beyond any calendar the host can normalise
  }
  field = static_cast<int>(sum);
  return true;
}

QelDateTime* ShiftDateTime(QelDateTime* value, std::uint32_t amount, std::uint8_t unit, int sign) {
  if (value == nullptr || value->date == nullptr || value->time == nullptr) {
    return value;
  }
  std::tm parts{};
  parts.tm_year = value->date->year - 1900;
  parts.tm_mon = value->date->month - 1;
  parts.tm_mday = value->date->day;
  parts.tm_hour = value->time->hour;
  parts.tm_min = value->time->minute;
  parts.tm_sec = value->time->second;
  // Let the host decide whether daylight saving applies to the shifted wall-clock time: equal
  // records then always give equal results, and an hour is never gained or lost.
  parts.tm_isdst = -1;

  long long seconds = 0;
  bool fits = true;
  switch (unit) {
    case kIntervalNanoseconds:
      seconds = amount / 1000000000u;
      break;
    case kIntervalMicroseconds:
      seconds = amount / 1000000u;
      break;
    case kIntervalMilliseconds:
      seconds = amount / 1000u;
      break;
    case kIntervalSeconds:
      seconds = amount;
      break;
    case kIntervalMinutes:
      seconds = amount * 60LL;
      break;
    case kIntervalHours:
      seconds = amount * 3600LL;
      break;
    case kIntervalDays:
      fits = AddToField(parts.tm_mday, sign * static_cast<long long>(amount));
      break;
    case kIntervalWeeks:
      fits = AddToField(parts.tm_mday, sign * 7LL * amount);
      break;
    case kIntervalMonths:
      fits = AddToField(parts.tm_mon, sign * static_cast<long long>(amount));
      break;
    default:
      return value;
  }
  // Whole days go to the day field so that the seconds field cannot overflow.
  if (seconds != 0) {
    fits = AddToField(parts.tm_mday, sign * (seconds / 86400)) && AddToField(parts.tm_sec, sign * (seconds % 86400));
  }
  // mktime ignores the day of the week and sets it on success; -1 alone is no failure, it is the
  // second before the epoch (in a zone at UTC).
  parts.tm_wday = -1;
  const bool normalised = fits && (std::mktime(&parts) != static_cast<std::time_t>(-1) || parts.tm_wday != -1);
  if (!normalised || parts.tm_year + 1900 < 0 || parts.tm_year + 1900 > 65535) {
    return value;  // no calendar date, or a year the record cannot hold
  }
  SetDate(value->date, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  SetTime(value->time, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return value;
}

}  // namespace

void ScanDateTimeNumbers(const char* text, const char* pattern, int* const* fields) {
  const auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  for (; *pattern != '\0'; ++pattern) {
    if (*pattern == ' ') {
      while (is_space(*text)) ++text;
    } else if (*pattern == 'd') {
      while (is_space(*text)) ++text;
      const bool negative = *text == '-';
      if (*text == '-' || *text == '+') ++text;
      if (*text < '0' || *text > '9') return;
      long long value = 0;
      for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= INT_MAX) value = value * 10 + (*text - '0');  // stops growing once out of range
      }
      if (negative) value = -value;
      **fields++ = static_cast<int>(value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : value);
    } else if (*text++ != *pattern) {
      return;
    }
  }
}

QelDate* CreateQelDate(int year, int month, int day) {
  auto* date = static_cast<QelDate*>(std::calloc(1, sizeof(QelDate) + 1));
  if (date == nullptr) {
    LogError("QelDate creation failed");
    return nullptr;
  }
  SetDate(date, year, month, day);
  return date;
}

QelTime* CreateQelTime(int hour, int minute, int second) {
  auto* time = static_cast<QelTime*>(std::calloc(1, sizeof(QelTime) + 1));
  if (time == nullptr) {
    LogError("QelTime creation failed");
    return nullptr;
  }
  SetTime(time, hour, minute, second);
  return time;
}

QelDateTime* CreateQelDateTime(int year, int month, int day, int hour, int minute, int second) {
  QelDateTime* value = NewDateTime(true, true);
  if (value == nullptr) {
    LogError("QelDateTime creation failed");
    return nullptr;
  }
  SetDate(value->date, year, month, day);
  SetTime(value->time, hour, minute, second);
  return value;
}

QelDateTime* CopyQelDateTime(const QelDateTime* source) {
  if (source == nullptr) {
    return nullptr;
  }
  QelDateTime* copy = NewDateTime(source->date != nullptr, source->time != nullptr);
  if (copy == nullptr) {
    LogError("QelDateTime creation failed");
    return nullptr;
  }
  if (source->date != nullptr) {
    *copy->date = *source->date;
  }
  if (source->time != nullptr) {
    *copy->time = *source->time;
  }
  std::memcpy(copy->extra, source->extra, sizeof copy->extra);
  return copy;
}

void FreeQelDateTime(QelDateTime* value) { std::free(value); }

char* QelDateToString(const QelDate* date) {
  return date == nullptr ? nullptr : Format("%04d-%02d-%02d", date->year, date->month, date->day);
}

char* QelTimeToString(const QelTime* time) {
  return time == nullptr ? nullptr : Format("%02d:%02d:%02d", time->hour, time->minute, time->second);
}

char* QelDateTimeToString(const QelDateTime* value) {
  if (value == nullptr) {
    return nullptr;
  }
  if (value->date == nullptr) {
    return QelTimeToString(value->time);
  }
  if (value->time == nullptr) {
    return QelDateToString(value->date);
  }
  char text[48];
  const int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", value->date->year, value->date->month,
                    value->date->day, value->time->hour, value->time->minute, value->time->second);
  auto* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text, static_cast<std::size_t>(length) + 1);
  }
  return copy;
}

QelDateTime* ConvertStringToQelDateTime(const char* text) {
  LogTrace("Inside ConvertStringToQelDateTime \n");
  if (text == nullptr) {
    LogError("datetimeStr NULL \n");
    return nullptr;
  }
  SixFields fields;
  if (!ReadFields(text, fields)) {
    return nullptr;
  }
  return FromFields(fields, true, true);
}

QelDateTime* ConvertStringToQelGenDateTime(const char* text) {
  LogTrace("Inside ConvertStringToQelGenDateTime \n");
  if (text == nullptr) {
    LogError("datetimeStr NULL \n");
    return nullptr;
  }
  SixFields fields;
  if (!ReadFields(text, fields)) {
    LogError("The String is not a datetimeStr \n");
    return nullptr;
  }
  return FromFields(fields, fields.has_date, fields.has_time);
}

QelDateTime* GetCurrentQelDateTime() {
  const LocalTime now = Time().LocalNow();
  QelDateTime* value = NewDateTime(true, true);
  if (value == nullptr) {
    LogError("MEMORY ALLOCATION FAILURE FOR dateTimePtr");
    return nullptr;
  }
  SetDate(value->date, now.year, now.month, now.day);
  SetTime(value->time, now.hour, now.minute, now.second);
  return value;
}

QelDateTime* AddIntervalToQelDateTime(QelDateTime* value, std::uint32_t amount, std::uint8_t unit) {
  return ShiftDateTime(value, amount, unit, 1);
}

QelDateTime* SubtractIntervalFromQelDateTime(QelDateTime* value, std::uint32_t amount, std::uint8_t unit) {
  return ShiftDateTime(value, amount, unit, -1);
}

int IsQelDateTimeLater(const QelDateTime* a, const QelDateTime* b) {
  if (a == nullptr || b == nullptr) {
    return 0;
  }
  const QelDate no_date{};
  const QelTime no_time{};
  const QelDate& date_a = a->date != nullptr ? *a->date : no_date;
  const QelDate& date_b = b->date != nullptr ? *b->date : no_date;
  const QelTime& time_a = a->time != nullptr ? *a->time : no_time;
  const QelTime& time_b = b->time != nullptr ? *b->time : no_time;
  const int fields_a[] = {date_a.year, date_a.month, date_a.day, time_a.hour, time_a.minute, time_a.second};
  const int fields_b[] = {date_b.year, date_b.month, date_b.day, time_b.hour, time_b.minute, time_b.second};
  for (int i = 0; i < 6; ++i) {
    if (fields_a[i] != fields_b[i]) {
      return fields_a[i] > fields_b[i] ? 1 : 0;
    }
  }
  return 0;
}

}  // namespace vx
