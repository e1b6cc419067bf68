// libFuzzer target: the judgement of a ranged answer, the length its body may have, and the
// certificate pin list, read from what a server or an administrator wrote. The input's first eight
// bytes give the status, the first byte asked for, the file's length and the Content-Length; its
// lines then give Content-Range, Last-Modified, ETags and the pin list. A range is taken only when it
// continues the file's version (its ETag included), its body never passes what was asked for or the
// file's end, a whole file only at its length, and pins of a registry value of any type are
// fingerprints that read back as themselves. The same bytes make a resumable download's record,
// whose partial file only its owner resumes, and only for the recorded version.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/transfer_rules.h"

namespace {

// The next line of text ("" at the end).
std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

// The values of the runs of decimal digits in text (a run too long for 64 bits counts as the largest).
std::vector<std::uint64_t> Numbers(std::string_view text) {
  std::vector<std::uint64_t> numbers;
  bool in_number = false;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      in_number = false;
      continue;
    }
    if (!in_number) numbers.push_back(0);
    in_number = true;
    std::uint64_t& value = numbers.back();
    value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return numbers;
}

// A header value without the blanks around it (they are not part of an ETag).
std::string_view WithoutBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

void CheckRangeAnswer(const vx::RangeResponse& response, std::uint32_t first, std::uint32_t last,
                      const vx::FileVersion& version) {
  const vx::RangeAnswer answer = vx::JudgeRangeAnswer(response, first, version);
  const std::uint64_t body = vx::AnnouncedBodyLength(response, answer, first, last, version);
  if (answer == vx::RangeAnswer::kPart &&
      (first + body > version.length || (last >= first && body > static_cast<std::uint64_t>(last) - first + 1))) {
    std::abort();
  }
  if ((answer == vx::RangeAnswer::kStartOver || answer == vx::RangeAnswer::kFailed) && body != 0) std::abort();
  if ((answer == vx::RangeAnswer::kPart || answer == vx::RangeAnswer::kWholeFile) && !version.etag.empty() &&
      (!response.etag || WithoutBlanks(*response.etag) != WithoutBlanks(version.etag))) {
    std::abort();
  }
  if (answer == vx::RangeAnswer::kPart || answer == vx::RangeAnswer::kWholeFile) {
    // Bytes are kept only from the version they continue.
    if (response.last_modified && !version.last_modified.empty() &&
        !vx::ContainsIgnoringCase(*response.last_modified, version.last_modified)) {
      std::abort();
    }
  }
  if (answer == vx::RangeAnswer::kWholeFile && (response.status != 200 || response.content_length != version.length)) {
    std::abort();
  }
  if (answer == vx::RangeAnswer::kPart) {
    if (response.status != 206 || !response.content_range) std::abort();
    // The range's three numbers: the first byte asked for, a last byte from there on and below the
    // version's length, and that length.
    const std::vector<std::uint64_t> numbers = Numbers(*response.content_range);
    if (numbers.size() != 3 || numbers[0] != first || numbers[1] < numbers[0] || numbers[1] >= numbers[2] ||
        numbers[2] != version.length) {
      std::abort();
    }
  }
}

void CheckPins(std::string_view text) {
  const std::vector<std::string> pins = vx::ParseCertificatePins(text);
  std::string joined;
  for (const std::string& pin : pins) {
    if (pin.size() != 64) std::abort();
    for (const char c : pin) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
    }
    joined += pin + ";";
  }
  if (vx::ParseCertificatePins(joined) != pins) std::abort();
  // A present value of any type turns the check on: no fingerprints always comes with a reason.
  for (const std::uint32_t type : {1u, 2u, 3u, 4u, 7u}) {
    const vx::PinValue value = vx::PinsFromRegistryValue(vx::RegistryValueData{type, std::string(text)});
    if (value.pins.empty() == value.problem.empty()) std::abort();
  }
}

// The resume decision over a record as the registry may hold it: only the owner resumes, only the
// recorded version, only bytes the file holds, and a held id is never taken.
void CheckResumeDecision(const vx::RangeResponse& response, const vx::FileVersion& version, const std::uint8_t* data) {
  vx::PartialFileRecord record;
  record.last_modified = response.last_modified.value_or(std::string());
  record.etag = response.etag.value_or(std::string());
  if ((data[0] & 4) != 0) record.size = static_cast<std::uint32_t>(data[4]) << 8 | data[5];
  if ((data[0] & 8) != 0) record.file_size = static_cast<std::uint64_t>(data[2]) << 8 | data[3];
  record.in_progress = (data[0] & 16) != 0;
  // Around the 90-minute edge, and the extreme a corrupted record may hold.
  constexpr std::int64_t kNow = 1652921589000LL;
  record.last_retry_ms = data[1] == 0x80 ? INT64_MIN : kNow - static_cast<std::int8_t>(data[1]) * 120000LL;
  const vx::IdClaim claim = static_cast<vx::IdClaim>(data[0] >> 6 == 3 ? 2 : data[0] >> 6);
  const vx::ResumeDecision decision = vx::DecideResume(record, version.last_modified, version.etag, claim, kNow);
  if (decision.resume && (decision.owner != vx::PartialFileOwner::kThisDownload || !record.size || !record.file_size ||
                          *record.file_size < *record.size || record.etag != version.etag ||
                          !vx::EqualsIgnoringCase(record.last_modified, version.last_modified) ||
                          (version.etag.empty() && version.last_modified.empty()))) {
    std::abort();
  }
  if (decision.cut_back && (!decision.resume || *record.file_size == *record.size)) std::abort();
  if (claim == vx::IdClaim::kHeldByAnother && decision.owner != vx::PartialFileOwner::kRunningDownload) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  constexpr std::uint32_t kStatuses[] = {200, 206, 416, 500};
  const std::uint32_t first = static_cast<std::uint32_t>(data[1]) * 100u;
  const std::uint32_t length = static_cast<std::uint32_t>(data[2]) << 8 | data[3];
  const std::uint32_t content_length = static_cast<std::uint32_t>(data[4]) << 8 | data[5];
  std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);

  vx::RangeResponse response;
  response.status = kStatuses[data[0] % 4];
  if ((data[6] & 1) != 0) response.content_range = std::string(NextLine(text));
  if ((data[6] & 2) != 0) response.last_modified = std::string(NextLine(text));
  if ((data[6] & 4) != 0) response.content_length = content_length;
  if ((data[6] & 8) != 0) response.etag = std::string(NextLine(text));
  vx::FileVersion version{length, (data[7] & 1) != 0 ? std::string(NextLine(text)) : std::string(), std::string()};
  if ((data[7] & 2) != 0)
    version.etag = response.etag && (data[7] & 4) != 0 ? *response.etag : std::string(NextLine(text));
  CheckRangeAnswer(response, first, first + content_length, version);
  CheckResumeDecision(response, version, data);

  // A well-formed range is taken exactly when it continues the file from the first byte asked for.
  const std::uint32_t last = first + content_length;
  response.status = 206;
  response.last_modified.reset();
  response.etag = version.etag.empty() ? std::nullopt : std::optional<std::string>(version.etag);
  response.content_range = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(length);
  const bool continues = last < length;
  if ((vx::JudgeRangeAnswer(response, first, version) == vx::RangeAnswer::kPart) != continues) std::abort();

  CheckPins(text);
  return 0;
}
