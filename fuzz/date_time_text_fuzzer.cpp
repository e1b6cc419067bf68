// libFuzzer target: any text read as a date-time gives null or a record whose text form reads back
// to the same text, and a copy with the same text; shifting it by any amount and unit, comparing and
// freeing it stay within the record's own block. The first five bytes choose the interval (unit, amount); the rest is
// the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tablestore/date_time.h"
#include "tablestore/table_data.h"

namespace {

std::string TextOf(const vx::QelDateTime* value) {
  char* text = vx::QelDateTimeToString(value);
  std::string result = text != nullptr ? text : "<null>";
  std::free(text);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint8_t unit = data[0] % 11;
  std::uint32_t amount = 0;
  std::memcpy(&amount, data + 1, sizeof amount);
  const std::string text(reinterpret_cast<const char*>(data + 5), size - 5);

  vx::QelDateTime* full = vx::ConvertStringToQelDateTime(text.c_str());
  vx::QelDateTime* general = vx::ConvertStringToQelGenDateTime(text.c_str());
  if ((full == nullptr) != (general == nullptr)) std::abort();
  if (full != nullptr) {
    if (full->date == nullptr || full->time == nullptr) std::abort();
    const std::string printed = TextOf(full);
    vx::QelDateTime* again = vx::ConvertStringToQelDateTime(printed.c_str());
    if (TextOf(again) != printed) std::abort();
    vx::FreeQelDateTime(again);

    vx::QelDateTime* copy = vx::CopyQelDateTime(general);
    if (TextOf(copy) != TextOf(general)) std::abort();
    if (vx::AddIntervalToQelDateTime(copy, amount, unit) != copy) std::abort();
    vx::SubtractIntervalFromQelDateTime(general, amount, unit);
    (void)vx::IsQelDateTimeLater(general, copy);
    vx::FreeQelDateTime(copy);
  }
  vx::FreeQelDateTime(full);
  vx::FreeQelDateTime(general);
  (void)vx::ColumnTypeFromName(text.c_str(), static_cast<std::int32_t>(amount));
  return 0;
}
